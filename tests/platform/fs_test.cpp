#include "platform/fs.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/env.h"
#include "platform/text.h"
#include "support/deadline.h"
#include "support/hostile_files.h"
#include "support/test_files.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/xattr.h>
#endif

namespace {

using plat::Fs;
using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

class FsTest : public ::testing::Test {
  protected:
    std::wstring At(const std::wstring& name) { return tmp_ / name; }
    testsupport::TempFolder tmp_;
};

TEST_F(FsTest, MoveRefusesAnExistingTargetAndKeepsBoth) {
    ASSERT_TRUE(WriteFileBytes(At(L"a"), "A"));
    ASSERT_TRUE(WriteFileBytes(At(L"b"), "B"));
    ASSERT_TRUE(Fs().CreateDir(At(L"d")));
    ASSERT_TRUE(Fs().CreateDir(At(L"e")));

    EXPECT_FALSE(Fs().Move(At(L"a"), At(L"b")));
    EXPECT_EQ(plat::LastError(), plat::kErrAlreadyExists);
    EXPECT_FALSE(Fs().Move(At(L"d"), At(L"e"))) << "even onto an empty folder";
    EXPECT_EQ(plat::LastError(), plat::kErrAlreadyExists);
    EXPECT_FALSE(Fs().Move(At(L"a"), At(L"d")));
    EXPECT_EQ(plat::LastError(), plat::kErrAlreadyExists);
    EXPECT_EQ(ReadFileBytes(At(L"a")), "A");
    EXPECT_EQ(ReadFileBytes(At(L"b")), "B");
    EXPECT_TRUE(Fs().IsDirectory(At(L"e")));

    ASSERT_TRUE(Fs().Move(At(L"a"), At(L"c 岚栩")));
    EXPECT_FALSE(Fs().Exists(At(L"a")));
    EXPECT_EQ(ReadFileBytes(At(L"c 岚栩")), "A");
    ASSERT_TRUE(WriteFileBytes(plat::JoinPath(At(L"d"), L"in"), "x"));
    ASSERT_TRUE(Fs().Move(At(L"d"), plat::JoinPath(At(L"e"), L"d2")));
    EXPECT_EQ(ReadFileBytes(plat::JoinPath(plat::JoinPath(At(L"e"), L"d2"), L"in")), "x");
}

TEST_F(FsTest, MissingObjectsReportFileOrPathNotFound) {
    const std::wstring missingDir = At(L"nodir");
    const std::wstring deep = plat::JoinPath(missingDir, L"f");
    ASSERT_TRUE(WriteFileBytes(At(L"f"), "F"));
    auto check = [](const char* what, bool ok, uint32_t expected) {
        EXPECT_FALSE(ok) << what;
        EXPECT_EQ(plat::LastError(), expected) << what;
    };
    check("GetAttributes file", Fs().GetAttributes(At(L"x")) != plat::kInvalidAttributes,
          plat::kErrFileNotFound);
    check("GetAttributes path", Fs().GetAttributes(deep) != plat::kInvalidAttributes,
          plat::kErrPathNotFound);
    check("Move from missing", Fs().Move(At(L"x"), At(L"y")), plat::kErrFileNotFound);
    check("Move into missing folder", Fs().Move(At(L"f"), deep), plat::kErrPathNotFound);
    check("Open missing",
          Fs().Open(At(L"x"), plat::Access::Read, plat::Disposition::OpenExisting) != nullptr,
          plat::kErrFileNotFound);
    check("Create in missing folder",
          Fs().Open(deep, plat::Access::ReadWrite, plat::Disposition::CreateAlways) != nullptr,
          plat::kErrPathNotFound);
    check("CreateDir in missing folder", Fs().CreateDir(deep), plat::kErrPathNotFound);
    check("DeleteFile missing", Fs().DeleteFile(At(L"x")), plat::kErrFileNotFound);
    check("RemoveDir missing", Fs().RemoveDir(At(L"x")), plat::kErrFileNotFound);
    check("Copy from missing", Fs().Copy(At(L"x"), At(L"y"), false), plat::kErrFileNotFound);
    check("LongPathName missing", !Fs().LongPathName(At(L"x")).empty(), plat::kErrFileNotFound);
    EXPECT_EQ(Fs().LongPathName(At(L"f")), At(L"f"));
}

TEST_F(FsTest, CreateRemoveAndDeleteFollowWin32Rules) {
    ASSERT_TRUE(Fs().CreateDir(At(L"d")));
    EXPECT_FALSE(Fs().CreateDir(At(L"d")));
    EXPECT_EQ(plat::LastError(), plat::kErrAlreadyExists);
    ASSERT_TRUE(WriteFileBytes(plat::JoinPath(At(L"d"), L"f"), "x"));
    EXPECT_FALSE(Fs().RemoveDir(At(L"d")));
    EXPECT_EQ(plat::LastError(), plat::kErrDirNotEmpty);
    EXPECT_FALSE(Fs().DeleteFile(At(L"d"))) << "DeleteFile never removes a folder";
    EXPECT_EQ(plat::LastError(), plat::kErrAccessDenied);
    EXPECT_FALSE(Fs().RemoveDir(plat::JoinPath(At(L"d"), L"f")))
        << "RemoveDir never removes a file";
    EXPECT_TRUE(Fs().IsFile(plat::JoinPath(At(L"d"), L"f")));
    ASSERT_TRUE(Fs().DeleteFile(plat::JoinPath(At(L"d"), L"f")));
    ASSERT_TRUE(Fs().RemoveDir(At(L"d")));
    EXPECT_FALSE(Fs().Exists(At(L"d")));
}

TEST_F(FsTest, HiddenAndSystemRoundTripOnFilesAndFolders) {
    ASSERT_TRUE(WriteFileBytes(At(L"f"), "x"));
    ASSERT_TRUE(Fs().CreateDir(At(L"d")));
    const uint32_t hs = plat::kAttrHidden | plat::kAttrSystem;
    for (const wchar_t* name : {L"f", L"d"}) {
        SCOPED_TRACE(plat::ToUtf8(name));
        const bool dir = name[0] == L'd';
        if (!Fs().SetAttributes(At(name), hs | (dir ? uint32_t{plat::kAttrDirectory} : 0u))) {
            if (plat::LastError() == plat::kErrNotSupported)
                GTEST_SKIP() << "the temporary folder's file system keeps no DOS attributes";
            FAIL() << "SetAttributes failed with " << plat::LastError();
        }
        uint32_t a = Fs().GetAttributes(At(name));
        EXPECT_EQ(a & (hs | plat::kAttrDirectory | plat::kAttrReadOnly),
                  hs | (dir ? plat::kAttrDirectory : 0u));
        std::vector<plat::DirEntry> entries;
        ASSERT_TRUE(Fs().ListDir(tmp_.path(), &entries));
        auto it = std::find_if(entries.begin(), entries.end(),
                               [&](const plat::DirEntry& e) { return e.name == name; });
        ASSERT_NE(it, entries.end());
        EXPECT_EQ(it->attributes & hs, hs) << "the listing reports them too";
#ifndef _WIN32
        // The form Wine and Samba read and write.
        char buf[32] = {};
        ssize_t n = getxattr(plat::ToUtf8(At(name)).c_str(), "user.DOSATTRIB", buf, sizeof(buf));
        EXPECT_EQ(std::string(buf, n > 0 ? n : 0), "0x6");
#endif
        ASSERT_TRUE(Fs().SetAttributes(At(name), plat::kAttrHidden));
        EXPECT_EQ(Fs().GetAttributes(At(name)) & hs, plat::kAttrHidden);
        ASSERT_TRUE(Fs().SetAttributes(At(name), plat::kAttrNormal));
        EXPECT_EQ(Fs().GetAttributes(At(name)) & hs, 0u);
    }
}

TEST_F(FsTest, ReadOnlyFileRefusesWritesAndDeletionUntilCleared) {
    ASSERT_TRUE(WriteFileBytes(At(L"f"), "keep"));
    ASSERT_TRUE(Fs().SetAttributes(At(L"f"), plat::kAttrReadOnly));
    EXPECT_TRUE(Fs().GetAttributes(At(L"f")) & plat::kAttrReadOnly);
#ifndef _WIN32
    // Windows refuses this; Wine leaves it to the Unix permission bits,
    // which do not stop root, so the check holds only natively there.
    EXPECT_EQ(Fs().Open(At(L"f"), plat::Access::ReadWrite, plat::Disposition::OpenExisting),
              nullptr);
    EXPECT_EQ(plat::LastError(), plat::kErrAccessDenied);
#endif
    EXPECT_FALSE(Fs().DeleteFile(At(L"f")));
    EXPECT_EQ(plat::LastError(), plat::kErrAccessDenied);
    EXPECT_NE(Fs().Open(At(L"f"), plat::Access::Read, plat::Disposition::OpenExisting), nullptr);
#ifndef _WIN32
    struct stat st;
    ASSERT_EQ(stat(plat::ToUtf8(At(L"f")).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u) << "READONLY is the absence of write permission";
#endif
    ASSERT_TRUE(Fs().SetAttributes(At(L"f"), plat::kAttrNormal));
    EXPECT_FALSE(Fs().GetAttributes(At(L"f")) & plat::kAttrReadOnly);
    EXPECT_EQ(ReadFileBytes(At(L"f")), "keep");
    EXPECT_TRUE(Fs().DeleteFile(At(L"f")));
}

TEST_F(FsTest, CopyLikeCopyFile) {
    ASSERT_TRUE(WriteFileBytes(At(L"src"), "content"));
    plat::FileTimes t;
    t.lastWrite = 132000000000000000ULL;  // 2019
    t.lastAccess = 132000000100000000ULL;
    {
        auto f = Fs().Open(At(L"src"), plat::Access::ReadWrite, plat::Disposition::OpenExisting);
        ASSERT_NE(f, nullptr);
        ASSERT_TRUE(f->SetTimes(t));
    }
    ASSERT_TRUE(Fs().SetAttributes(At(L"src"), plat::kAttrReadOnly));
    ASSERT_TRUE(Fs().Copy(At(L"src"), At(L"dst"), true));
    EXPECT_EQ(ReadFileBytes(At(L"dst")), "content");
    EXPECT_TRUE(Fs().GetAttributes(At(L"dst")) & plat::kAttrReadOnly);
    std::vector<plat::DirEntry> entries;
    ASSERT_TRUE(Fs().ListDir(tmp_.path(), &entries));
    for (const auto& e : entries) EXPECT_EQ(e.times.lastWrite, t.lastWrite) << plat::ToUtf8(e.name);

    EXPECT_FALSE(Fs().Copy(At(L"src"), At(L"dst"), true));
    EXPECT_EQ(plat::LastError(), plat::kErrFileExists);
#ifndef _WIN32  // as above: Wine run by root writes over READONLY files
    EXPECT_FALSE(Fs().Copy(At(L"src"), At(L"dst"), false)) << "a READONLY target stays";
    EXPECT_EQ(plat::LastError(), plat::kErrAccessDenied);
#endif

    ASSERT_TRUE(WriteFileBytes(At(L"other"), "a longer old content"));
#ifndef _WIN32  // Windows refuses a HIDDEN target too, but Wine overwrites it
    if (Fs().SetAttributes(At(L"other"), plat::kAttrHidden)) {
        EXPECT_FALSE(Fs().Copy(At(L"src"), At(L"other"), false)) << "a HIDDEN target stays";
        EXPECT_EQ(plat::LastError(), plat::kErrAccessDenied);
        ASSERT_TRUE(Fs().SetAttributes(At(L"other"), plat::kAttrNormal));
    }
#endif
    ASSERT_TRUE(Fs().Copy(At(L"src"), At(L"other"), false));
    EXPECT_EQ(ReadFileBytes(At(L"other")), "content");
    ASSERT_TRUE(Fs().ListDir(tmp_.path(), &entries));
    EXPECT_EQ(entries.size(), 3u) << "no temporary file left behind";

    EXPECT_FALSE(Fs().Copy(tmp_.path(), At(L"dircopy"), true)) << "folders are not copied";
    EXPECT_FALSE(Fs().Exists(At(L"dircopy")));
}

TEST_F(FsTest, ListDirReportsEntriesWithoutDots) {
    ASSERT_TRUE(WriteFileBytes(At(L"文件.txt"), "12345"));
    ASSERT_TRUE(Fs().CreateDir(At(L"sub")));
    std::vector<plat::DirEntry> entries;
    ASSERT_TRUE(Fs().ListDir(tmp_.path(), &entries));
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, L"sub");
    EXPECT_TRUE(entries[0].IsDirectory());
    EXPECT_EQ(entries[1].name, L"文件.txt");
    EXPECT_FALSE(entries[1].IsDirectory());
    EXPECT_EQ(entries[1].size, 5u);
    EXPECT_NE(entries[1].times.lastWrite, 0u);
    ASSERT_TRUE(Fs().ListDir(At(L"sub"), &entries));
    EXPECT_TRUE(entries.empty());
    EXPECT_FALSE(Fs().ListDir(At(L"none"), &entries));
    EXPECT_EQ(plat::LastError(), plat::kErrPathNotFound) << "the folder is part of the pattern";
}

TEST_F(FsTest, OpenDispositionsAndFileOperations) {
    using plat::Access;
    using plat::Disposition;
    EXPECT_EQ(Fs().Open(At(L"f"), Access::Read, Disposition::OpenExisting), nullptr);
    {
        auto f = Fs().Open(At(L"f"), Access::ReadWrite, Disposition::CreateNew);
        ASSERT_NE(f, nullptr);
        ASSERT_TRUE(f->WriteAll("0123456789", 10));
        uint64_t pos = 0;
        ASSERT_TRUE(f->Seek(4, SEEK_SET, &pos));
        EXPECT_EQ(pos, 4u);
        ASSERT_TRUE(f->Truncate());
        uint64_t size = 0;
        ASSERT_TRUE(f->Size(&size));
        EXPECT_EQ(size, 4u);
        ASSERT_TRUE(f->Seek(-2, SEEK_END, &pos));
        char buf[8];
        ASSERT_TRUE(f->ReadExact(buf, 2));
        EXPECT_EQ(std::string(buf, 2), "23");
        EXPECT_FALSE(f->ReadExact(buf, 1)) << "nothing left to read";
        ASSERT_TRUE(f->Flush());
    }
    EXPECT_EQ(Fs().Open(At(L"f"), Access::ReadWrite, Disposition::CreateNew), nullptr);
    EXPECT_EQ(plat::LastError(), plat::kErrFileExists);
    { EXPECT_NE(Fs().Open(At(L"f"), Access::ReadWrite, Disposition::OpenAlways), nullptr); }
    EXPECT_EQ(ReadFileBytes(At(L"f")), "0123") << "OpenAlways keeps the content";
    { EXPECT_NE(Fs().Open(At(L"f"), Access::ReadWrite, Disposition::CreateAlways), nullptr); }
    EXPECT_EQ(ReadFileBytes(At(L"f")), "") << "CreateAlways truncates";
    EXPECT_EQ(Fs().Open(tmp_.path(), Access::Read, Disposition::OpenExisting), nullptr)
        << "a folder is not a file";
    EXPECT_EQ(plat::LastError(), plat::kErrAccessDenied);
}

TEST_F(FsTest, FileTimesRoundTripAndZeroLeavesATimeAlone) {
    ASSERT_TRUE(WriteFileBytes(At(L"f"), "x"));
    auto f = Fs().Open(At(L"f"), plat::Access::ReadWrite, plat::Disposition::OpenExisting);
    ASSERT_NE(f, nullptr);
    plat::FileTimes set;
    set.lastWrite = 130000000001234560ULL;  // 2012, with sub-second digits
    set.lastAccess = 131000000000000000ULL;
    ASSERT_TRUE(f->SetTimes(set));
    plat::FileTimes got;
    ASSERT_TRUE(f->GetTimes(&got));
    EXPECT_EQ(got.lastWrite, set.lastWrite);
    EXPECT_EQ(got.lastAccess, set.lastAccess);
    EXPECT_NE(got.creation, 0u);

    plat::FileTimes onlyWrite;
    onlyWrite.lastWrite = 129000000000000000ULL;
    ASSERT_TRUE(f->SetTimes(onlyWrite));
    ASSERT_TRUE(f->GetTimes(&got));
    EXPECT_EQ(got.lastWrite, onlyWrite.lastWrite);
    EXPECT_EQ(got.lastAccess, set.lastAccess);
    f.reset();

    plat::LocalTime lt;
    ASSERT_TRUE(plat::FileTimeToLocal(set.lastWrite, &lt));
    EXPECT_EQ(lt.year, 2012);
    ASSERT_TRUE(plat::FileTimeToLocal(116444736000000000ULL - 864000000000ULL * 400, &lt));
    EXPECT_EQ(lt.year, 1968) << "before 1970 too";
}

TEST_F(FsTest, ReadSmallFileReadsWholeSmallFilesOnly) {
    ASSERT_TRUE(WriteFileBytes(At(L"small"), "line\r\nmore"));
    ASSERT_TRUE(WriteFileBytes(At(L"empty"), ""));
    ASSERT_TRUE(WriteFileBytes(At(L"edge"), std::string(16, 'e')));
    ASSERT_TRUE(WriteFileBytes(At(L"big"), std::string(17, 'b')));
    ASSERT_TRUE(Fs().CreateDir(At(L"dir")));
    struct Case {
        const wchar_t* name;
        bool read;
        std::string bytes;
        uint64_t size;
    } cases[] = {
        {L"small", true, "line\r\nmore", 10},
        {L"empty", true, "", 0},
        {L"edge", true, std::string(16, 'e'), 16},
        {L"big", false, "", 17},
        {L"dir", false, "", 0},
        {L"missing", false, "", 0},
    };
    for (const Case& c : cases) {
        std::string out = "stale";
        uint64_t size = 99;
        EXPECT_EQ(plat::ReadSmallFile(At(c.name), 16, &out, &size), c.read) << plat::ToUtf8(c.name);
        EXPECT_EQ(out, c.bytes) << plat::ToUtf8(c.name);
        EXPECT_EQ(size, c.size) << plat::ToUtf8(c.name);
    }
}

#ifndef _WIN32
// A second volume to move to: /dev/shm is a tmpfs on most systems.
TEST_F(FsTest, MoveAcrossVolumesCopiesFilesButRefusesFolders) {
    struct stat a, b;
    if (stat("/dev/shm", &b) != 0 || stat(plat::ToUtf8(tmp_.path()).c_str(), &a) != 0 ||
        a.st_dev == b.st_dev)
        GTEST_SKIP() << "no second volume beside the temporary folder";
    const std::wstring other = L"/dev/shm/ulxt-move-" + std::to_wstring(plat::TickMs());
    ASSERT_TRUE(Fs().CreateDir(other));
    struct Cleanup {
        std::wstring p;
        ~Cleanup() { testsupport::RemoveTree(p); }
    } cleanup{other};

    ASSERT_TRUE(WriteFileBytes(At(L"f"), "moved content"));
    plat::FileTimes t;
    t.lastWrite = 130000000000000000ULL;
    {
        auto f = Fs().Open(At(L"f"), plat::Access::ReadWrite, plat::Disposition::OpenExisting);
        ASSERT_TRUE(f && f->SetTimes(t));
    }
    const bool hidden = Fs().SetAttributes(At(L"f"), plat::kAttrHidden);
    ASSERT_TRUE(Fs().Move(At(L"f"), plat::JoinPath(other, L"f")));
    EXPECT_FALSE(Fs().Exists(At(L"f")));
    EXPECT_EQ(ReadFileBytes(plat::JoinPath(other, L"f")), "moved content");
    std::vector<plat::DirEntry> entries;
    ASSERT_TRUE(Fs().ListDir(other, &entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].times.lastWrite, t.lastWrite);
    if (hidden) {
        EXPECT_TRUE(entries[0].attributes & plat::kAttrHidden) << "attributes travel along";
    }

    ASSERT_TRUE(WriteFileBytes(At(L"g"), "new"));
    EXPECT_FALSE(Fs().Move(At(L"g"), plat::JoinPath(other, L"f")));
    EXPECT_EQ(plat::LastError(), plat::kErrAlreadyExists);
    EXPECT_EQ(ReadFileBytes(plat::JoinPath(other, L"f")), "moved content");
    EXPECT_EQ(ReadFileBytes(At(L"g")), "new");

    ASSERT_TRUE(Fs().CreateDir(At(L"d")));
    EXPECT_FALSE(Fs().Move(At(L"d"), plat::JoinPath(other, L"d")));
    EXPECT_EQ(plat::LastError(), plat::kErrNotSameDevice);
    EXPECT_TRUE(Fs().IsDirectory(At(L"d")));
    EXPECT_FALSE(Fs().Exists(plat::JoinPath(other, L"d")));
}

TEST_F(FsTest, SymbolicLinksAreNeverFollowed) {
    ASSERT_TRUE(Fs().CreateDir(At(L"real")));
    ASSERT_TRUE(WriteFileBytes(plat::JoinPath(At(L"real"), L"keep"), "k"));
    ASSERT_EQ(symlink(plat::ToUtf8(At(L"real")).c_str(), plat::ToUtf8(At(L"link")).c_str()), 0);
    uint32_t a = Fs().GetAttributes(At(L"link"));
    EXPECT_FALSE(a & plat::kAttrDirectory) << "a link to a folder is not walked into";
    EXPECT_TRUE(a & plat::kAttrReparsePoint);
    ASSERT_TRUE(Fs().Move(At(L"link"), At(L"link2")));
    ASSERT_TRUE(Fs().DeleteFile(At(L"link2")));
    EXPECT_EQ(ReadFileBytes(plat::JoinPath(At(L"real"), L"keep")), "k");
}

TEST_F(FsTest, DosAttribTextFormsFromOtherProgramsAreRead) {
    ASSERT_TRUE(WriteFileBytes(At(L"f"), "x"));
    const std::string p = plat::ToUtf8(At(L"f"));
    struct Case {
        std::string value;
        uint32_t bits;
    } cases[] = {
        {"0x2", plat::kAttrHidden},
        {std::string("0x26\0", 5), plat::kAttrHidden | plat::kAttrSystem},  // with its NUL
        {std::string("\x03\x00\x04\x00\x01", 5), 0},  // a binary blob we do not parse
        {"junk", 0},
    };
    for (const auto& c : cases) {
        if (setxattr(p.c_str(), "user.DOSATTRIB", c.value.data(), c.value.size(), 0) != 0)
            GTEST_SKIP() << "the temporary folder's file system has no user xattrs";
        EXPECT_EQ(Fs().GetAttributes(At(L"f")) & (plat::kAttrHidden | plat::kAttrSystem), c.bits)
            << c.value;
    }
}
TEST_F(FsTest, NamesThatAreNotUtf8StillRoundTrip) {
    // A GBK name written by another system: bytes that are not UTF-8.
    const std::string raw = plat::ToUtf8(tmp_.path()) + "\xE1\xB0\xE8\xF2.txt";
    FILE* f = fopen(raw.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("gbk", f);
    fclose(f);
    std::vector<plat::DirEntry> entries;
    ASSERT_TRUE(Fs().ListDir(tmp_.path(), &entries));
    ASSERT_EQ(entries.size(), 1u);
    const std::wstring name = entries[0].name;
    EXPECT_EQ(ReadFileBytes(At(name)), "gbk");
    ASSERT_TRUE(Fs().Move(At(name), At(L"moved")));
    ASSERT_TRUE(Fs().Move(At(L"moved"), At(name)));
    struct stat st;
    EXPECT_EQ(stat(raw.c_str(), &st), 0) << "the same bytes come back";
}

TEST_F(FsTest, ReadSmallFileRefusesPipesDevicesLinksAndFolders) {
    using testsupport::Hostile;
    ASSERT_TRUE(WriteFileBytes(At(L"target"), "secret"));
    const std::wstring path = At(L"hostile");
    for (Hostile kind : testsupport::kHostileKinds) {
        if (kind == Hostile::Oversized) continue;  // see ReadSmallFileReadsWholeSmallFilesOnly
        ASSERT_TRUE(testsupport::PlaceHostile(kind, path, At(L"target"), 0))
            << testsupport::HostileName(kind);
        std::string out;
        const bool read =
            testsupport::FinishesWithin(std::chrono::seconds(5), "ReadSmallFile",
                                        [&] { return plat::ReadSmallFile(path, 1 << 20, &out); });
        EXPECT_FALSE(read) << testsupport::HostileName(kind);
        EXPECT_EQ(out, "") << testsupport::HostileName(kind);
        ASSERT_TRUE(testsupport::RemoveTree(path));
    }
}
#endif

}  // namespace
