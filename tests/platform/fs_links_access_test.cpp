// The posix file system and the objects a folder may hold besides plain
// files and folders: links, FIFOs, permission bits the core must keep.
#ifndef _WIN32

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
