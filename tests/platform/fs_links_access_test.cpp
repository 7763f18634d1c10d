// The posix file system and the objects a folder may hold besides plain
// files and folders: links, FIFOs, permission bits the core must keep.
#ifndef _WIN32

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/fs.h"
#include "platform/text.h"
#include "support/test_files.h"

namespace {

using plat::Fs;
using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

class FsLinksAccessTest : public ::testing::Test {
  protected:
    std::wstring At(const std::wstring& name) { return tmp_ / name; }
    std::string U8(const std::wstring& name) { return plat::ToUtf8(At(name)); }
    mode_t ModeOf(const std::wstring& name) {
        struct stat st;
        return lstat(U8(name).c_str(), &st) == 0 ? st.st_mode & 07777 : mode_t(-1);
    }
    void Link(const std::wstring& target, const std::wstring& name) {
        ASSERT_EQ(symlink(U8(target).c_str(), U8(name).c_str()), 0);
    }
    void Chmod(const std::wstring& name, mode_t mode) {
        ASSERT_EQ(chmod(U8(name).c_str(), mode), 0);
    }
    testsupport::TempFolder tmp_;
};

// A link to a file, a link to a folder and a dangling link, beside what
// the first two lead to.
class FsLinkKindsTest : public FsLinksAccessTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(WriteFileBytes(At(L"victim"), "victim's"));
        ASSERT_TRUE(Fs().CreateDir(At(L"dir")));
        ASSERT_TRUE(WriteFileBytes(plat::JoinPath(At(L"dir"), L"in"), "in"));
        Link(L"victim", L"to-file");
        Link(L"dir", L"to-dir");
        Link(L"gone", L"dangling");
    }
    std::string Target(const std::wstring& name) {
        char buf[4096];
        ssize_t n = readlink(U8(name).c_str(), buf, sizeof(buf));
        return n < 0 ? "<not a link>" : std::string(buf, size_t(n));
    }
    // Nothing was read, written or created through a link.
    void ExpectUntouched() {
        EXPECT_EQ(ReadFileBytes(At(L"victim")), "victim's");
        EXPECT_EQ(ReadFileBytes(plat::JoinPath(At(L"dir"), L"in")), "in");
        EXPECT_FALSE(Fs().Exists(At(L"gone"))) << "created where a dangling link points";
        for (const wchar_t* link : {L"to-file", L"to-dir", L"dangling"})
            EXPECT_NE(Target(link), "<not a link>") << plat::ToUtf8(link);
    }
    static constexpr const wchar_t* kLinks[] = {L"to-file", L"to-dir", L"dangling"};
};

TEST_F(FsLinkKindsTest, ListedAndReportedAsThemselves) {
    std::vector<plat::DirEntry> entries;
    ASSERT_TRUE(Fs().ListDir(tmp_.path(), &entries));
    for (const wchar_t* link : kLinks) {
        SCOPED_TRACE(plat::ToUtf8(link));
        auto e = std::find_if(entries.begin(), entries.end(),
                              [&](const plat::DirEntry& d) { return d.name == link; });
        ASSERT_NE(e, entries.end());
        EXPECT_EQ(e->attributes & (plat::kAttrReparsePoint | plat::kAttrDirectory),
                  uint32_t(plat::kAttrReparsePoint));
        EXPECT_EQ(e->size, 0u) << "the size of what it leads to is not its own";
        EXPECT_EQ(Fs().GetAttributes(At(link)), e->attributes);
        EXPECT_FALSE(Fs().IsDirectory(At(link)));
    }
}

TEST_F(FsLinkKindsTest, NeverOpenedWhateverTheDisposition) {
    using plat::Access;
    using plat::Disposition;
    const struct {
        Access access;
        Disposition disposition;
        uint32_t error;
    } opens[] = {
        {Access::Read, Disposition::OpenExisting, plat::kErrCantAccessFile},
        {Access::ReadWrite, Disposition::OpenExisting, plat::kErrCantAccessFile},
        {Access::ReadWrite, Disposition::OpenAlways, plat::kErrCantAccessFile},
        {Access::ReadWrite, Disposition::CreateAlways, plat::kErrCantAccessFile},
        {Access::ReadWrite, Disposition::CreateNew, plat::kErrFileExists},
    };
    for (const wchar_t* link : kLinks) {
        for (const auto& o : opens) {
            SCOPED_TRACE(plat::ToUtf8(link) + " disposition " + std::to_string(int(o.disposition)));
            EXPECT_EQ(Fs().Open(At(link), o.access, o.disposition), nullptr);
            EXPECT_EQ(plat::LastError(), o.error);
        }
    }
    ExpectUntouched();

    // A FIFO would hold the open until a writer came.
    ASSERT_EQ(mkfifo(U8(L"fifo").c_str(), 0600), 0);
    EXPECT_EQ(Fs().Open(At(L"fifo"), Access::Read, Disposition::OpenExisting), nullptr);
    EXPECT_EQ(plat::LastError(), plat::kErrAccessDenied);
}

TEST_F(FsLinkKindsTest, CopyNeitherReadsNorWritesThroughALink) {
    ASSERT_TRUE(WriteFileBytes(At(L"new"), "new"));
    for (const wchar_t* link : kLinks) {
        SCOPED_TRACE(plat::ToUtf8(link));
        EXPECT_FALSE(Fs().Copy(At(link), At(L"copy"), false));
        EXPECT_EQ(plat::LastError(), plat::kErrCantAccessFile);
        EXPECT_FALSE(Fs().Exists(At(L"copy")));
        EXPECT_FALSE(Fs().Copy(At(L"new"), At(link), false));
        EXPECT_EQ(plat::LastError(), plat::kErrCantAccessFile);
        EXPECT_FALSE(Fs().Copy(At(L"new"), At(link), true));
        EXPECT_EQ(plat::LastError(), plat::kErrFileExists);
    }
    ExpectUntouched();
}

TEST_F(FsLinkKindsTest, MoveTakesTheLinkItself) {
    for (const wchar_t* link : kLinks) {
        SCOPED_TRACE(plat::ToUtf8(link));
        const std::string target = Target(link);
        const std::wstring moved = std::wstring(link) + L" moved";
        ASSERT_TRUE(Fs().Move(At(link), At(moved)));
        EXPECT_FALSE(Fs().Exists(At(link)));
        EXPECT_EQ(Target(moved), target);
        ASSERT_TRUE(Fs().Move(At(moved), At(link)));
    }
    ExpectUntouched();
}

TEST_F(FsLinksAccessTest, CopyAccessCarriesThePermissionBits) {
    ASSERT_TRUE(WriteFileBytes(At(L"to"), "t"));
    for (mode_t mode : {0600, 0640, 0644, 0755, 0444, 0700}) {
        SCOPED_TRACE(mode);
        ASSERT_TRUE(WriteFileBytes(At(L"from"), "f"));
        Chmod(L"from", mode);
        Chmod(L"to", 0666);
        ASSERT_TRUE(Fs().CopyAccess(At(L"from"), At(L"to")));
        EXPECT_EQ(ModeOf(L"to"), mode);
        Chmod(L"from", 0600);
    }
    EXPECT_EQ(ReadFileBytes(At(L"to")), "t") << "content untouched";
}

TEST_F(FsLinksAccessTest, PermissionChangesNeverGoThroughALink) {
    ASSERT_TRUE(WriteFileBytes(At(L"victim"), "v"));
    Chmod(L"victim", 0644);
    ASSERT_TRUE(WriteFileBytes(At(L"private"), "p"));
    Chmod(L"private", 0600);
    Link(L"victim", L"link");
    Link(L"gone", L"dangling");

    EXPECT_FALSE(Fs().RestrictToOwner(At(L"link")));
    EXPECT_EQ(plat::LastError(), plat::kErrCantAccessFile);
    EXPECT_FALSE(Fs().CopyAccess(At(L"private"), At(L"link")));
    EXPECT_EQ(plat::LastError(), plat::kErrCantAccessFile);
    EXPECT_FALSE(Fs().CopyAccess(At(L"link"), At(L"private"))) << "a link has no bits to give";
    EXPECT_EQ(plat::LastError(), plat::kErrCantAccessFile);
    EXPECT_FALSE(Fs().RestrictToOwner(At(L"dangling")));
    EXPECT_FALSE(Fs().Exists(At(L"gone")));
    EXPECT_EQ(ModeOf(L"victim"), 0644u);
    EXPECT_EQ(ModeOf(L"private"), 0600u);
}

TEST_F(FsLinksAccessTest, RestrictToOwnerLeavesOnlyTheOwner) {
    ASSERT_TRUE(Fs().CreateDir(At(L"dir")));
    Chmod(L"dir", 0755);
    struct Case {
        const wchar_t* name;
        mode_t before;
    } cases[] = {{L"open", 0666}, {L"group", 0640}, {L"exec", 0755}, {L"none", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(plat::ToUtf8(c.name));
        ASSERT_TRUE(WriteFileBytes(At(c.name), "r"));
        Chmod(c.name, c.before);
        EXPECT_TRUE(Fs().RestrictToOwner(At(c.name)));
        EXPECT_EQ(ModeOf(c.name), 0600u);
        EXPECT_EQ(ReadFileBytes(At(c.name)), "r");
    }
    EXPECT_FALSE(Fs().RestrictToOwner(At(L"dir"))) << "a folder would lose its x bits";
    EXPECT_EQ(plat::LastError(), plat::kErrAccessDenied);
    EXPECT_EQ(ModeOf(L"dir"), 0755u);
    EXPECT_FALSE(Fs().RestrictToOwner(At(L"missing")));
    EXPECT_EQ(plat::LastError(), plat::kErrFileNotFound);
}

TEST_F(FsLinksAccessTest, SyncVolumeTakesAnyObjectAndNeverBlocks) {
    ASSERT_TRUE(WriteFileBytes(At(L"file"), "x"));
    ASSERT_TRUE(Fs().CreateDir(At(L"dir")));
    ASSERT_EQ(mkfifo(U8(L"fifo").c_str(), 0600), 0);  // opening it would wait for a writer
    Link(L"gone", L"dangling");
    for (const wchar_t* name : {L"file", L"dir", L"fifo", L"dangling"}) {
        EXPECT_TRUE(Fs().SyncVolume(At(name))) << plat::ToUtf8(name);
    }
    EXPECT_TRUE(Fs().SyncVolume(tmp_.path()));
    EXPECT_FALSE(Fs().SyncVolume(At(L"missing")));
    EXPECT_EQ(plat::LastError(), plat::kErrFileNotFound);
}

}  // namespace

#endif  // !_WIN32
