// A folder mapped onto a drive letter: reachable through the letter, known
// again by its letter, gone after release; letters in use are never taken.
// Windows builds run this under Wine, where the mount manager does the work.
#include "platform/drive_map.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/env.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "support/test_files.h"

#ifdef _WIN32
#include "platform/win32/win.h"
#else
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#endif

namespace {

using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

class DriveMapTest : public ::testing::Test {
  protected:
    void SetUp() override {
#ifndef _WIN32
        // A drives folder of this test's own, not the user's.
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        hadRuntime_ = old != nullptr;
        if (old) oldRuntime_ = old;
        ASSERT_EQ(chmod(plat::ToUtf8(runtime_.path()).c_str(), 0700), 0);
        setenv("XDG_RUNTIME_DIR", plat::ToUtf8(plat::WithoutSep(runtime_.path())).c_str(), 1);
#endif
        const std::wstring used = plat::DriveLettersInUse();
        for (wchar_t c = L'Y'; c >= L'D' && drive_.empty(); --c)
            if (used.find(c) == std::wstring::npos) drive_ = std::wstring(1, c) + L":";
        ASSERT_FALSE(drive_.empty()) << "no free drive letter";
    }

    void TearDown() override {
        // A failed assertion must not leave the letter behind.
        if (!drive_.empty()) plat::ReleaseDrive(drive_);
#ifndef _WIN32
        if (hadRuntime_)
            setenv("XDG_RUNTIME_DIR", oldRuntime_.c_str(), 1);
        else
            unsetenv("XDG_RUNTIME_DIR");
#endif
    }

    bool InUse(const std::wstring& drive) {
        return plat::DriveLettersInUse().find(drive[0]) != std::wstring::npos;
    }

    testsupport::TempFolder folder_;
    std::wstring drive_;
#ifndef _WIN32
    testsupport::TempFolder runtime_;
    bool hadRuntime_ = false;
    std::string oldRuntime_;
#endif
};

TEST_F(DriveMapTest, MapsReachesAndReleases) {
    ASSERT_TRUE(WriteFileBytes(folder_ / L"里面.txt", "inside"));
    ASSERT_TRUE(plat::ReserveDrive(drive_)) << plat::LastError();
    ASSERT_TRUE(plat::MapDrive(drive_, folder_.path())) << plat::LastError();
    EXPECT_TRUE(InUse(drive_));

    const std::wstring root = plat::DriveRootPath(drive_);
    ASSERT_FALSE(root.empty());
    EXPECT_EQ(root.back(), plat::kSep);
    EXPECT_EQ(ReadFileBytes(root + L"里面.txt"), "inside");
    ASSERT_TRUE(WriteFileBytes(root + L"new.txt", "through the drive"));
    EXPECT_EQ(ReadFileBytes(folder_ / L"new.txt"), "through the drive");

    const std::wstring mapped = plat::MappedFolderOf(drive_);
    EXPECT_TRUE(plat::EqualsNoCase(mapped, plat::WithoutSep(folder_.path())))
        << plat::ToUtf8(mapped) << " vs " << plat::ToUtf8(folder_.path());
    const std::wstring lower = std::wstring(1, wchar_t(drive_[0] - L'A' + L'a')) + L":\\";
    EXPECT_EQ(plat::MappedFolderOf(lower), mapped);

#ifdef _WIN32
    // The letter is a drive like any other, listed and typed.
    bool listed = false;
    for (const auto& d : plat::LogicalDrives()) listed = listed || d.root == drive_ + L"\\";
    EXPECT_TRUE(listed);
    HANDLE h = CreateFileW((drive_ + L"\\里面.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
#endif

    // Taken now: neither a second map nor a reservation gets it.
    testsupport::TempFolder other;
    EXPECT_FALSE(plat::MapDrive(drive_, other.path()));
    EXPECT_EQ(plat::LastError(), plat::kErrAlreadyExists);
    EXPECT_FALSE(plat::ReserveDrive(drive_));
    EXPECT_EQ(ReadFileBytes(root + L"里面.txt"), "inside");

    plat::ReleaseDrive(drive_);
    EXPECT_FALSE(InUse(drive_));
    EXPECT_EQ(plat::MappedFolderOf(drive_), L"");
    EXPECT_EQ(ReadFileBytes(root + L"里面.txt"), "<missing>");
    EXPECT_EQ(ReadFileBytes(folder_ / L"里面.txt"), "inside");
    plat::ReleaseDrive(drive_);  // nothing left: quiet
    EXPECT_FALSE(InUse(drive_));
}

TEST_F(DriveMapTest, NeverTakesALetterInUseNorBadInput) {
    // Windows: the drive of the temporary folder, a volume and no folder of
    // ours (under Wine the prefix's C: on "../drive_c"), which ReleaseDrive
    // relies on to leave it alone. posix: a file somebody put in the drives
    // folder under a letter.
#ifdef _WIN32
    const std::wstring busy = plat::DriveRootOf(plat::TempDir()).substr(0, 2);
#else
    const std::wstring busy = drive_;
    ASSERT_TRUE(plat::ReserveDrive(drive_));  // creates the drives folder
    const std::wstring planted = plat::WithoutSep(plat::DriveRootPath(drive_));
    ASSERT_TRUE(WriteFileBytes(planted, "not a link"));
#endif
    ASSERT_TRUE(InUse(busy));
    ASSERT_TRUE(WriteFileBytes(folder_ / L"a-file", "x"));
    const struct Case {
        const char* what;
        std::wstring drive, folder;
        uint32_t error;
    } cases[] = {
        {"a letter in use", busy, folder_.path(), plat::kErrAlreadyExists},
        {"no letter", L"", folder_.path(), plat::kErrInvalidParameter},
        {"no colon", L"Y", folder_.path(), plat::kErrInvalidParameter},
        {"a digit", L"1:", folder_.path(), plat::kErrInvalidParameter},
        {"more than a root", drive_ + L"\\x", folder_.path(), plat::kErrInvalidParameter},
        {"a missing folder", drive_, folder_ / L"missing", plat::kErrPathNotFound},
        {"a file", drive_, folder_ / L"a-file", plat::kErrPathNotFound},
        {"no folder", drive_, L"", plat::kErrPathNotFound},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(plat::MapDrive(c.drive, c.folder));
        EXPECT_EQ(plat::LastError(), c.error);
    }
    EXPECT_TRUE(InUse(busy));
    EXPECT_EQ(plat::MappedFolderOf(busy), L"");
#ifndef _WIN32
    plat::ReleaseDrive(drive_);  // leaves what is not a link of ours
    EXPECT_EQ(ReadFileBytes(planted), "not a link");
#else
    EXPECT_FALSE(InUse(drive_));
#endif
}

TEST(DriveLetter, Names) {
    const struct Case {
        std::wstring drive;
        wchar_t letter;
    } cases[] = {
        {L"Y:", L'Y'}, {L"y:", L'Y'}, {L"a:\\", L'A'}, {L"Z:/", L'Z'}, {L"", 0},
        {L"Y", 0},     {L"YY", 0},    {L"1:", 0},      {L"Y:\\x", 0},  {L"\u00e4:", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(plat::DriveLetter(c.drive), c.letter) << plat::ToUtf8(c.drive);
}

#ifndef _WIN32

// Somebody else's links could send our reads and writes anywhere: the drives
// folder counts only while it is ours, not a link, and 0700.
TEST_F(DriveMapTest, DrivesFolderOthersCouldWriteIntoIsNotUsed) {
    const std::string runtime = plat::ToUtf8(plat::WithoutSep(runtime_.path()));
    const std::string drives = runtime + "/ulxjm-drives";
    const std::string letter(1, char(drive_[0]));
    testsupport::TempFolder elsewhere;
    const std::string elsewhere8 = plat::ToUtf8(plat::WithoutSep(elsewhere.path()));
    ASSERT_TRUE(WriteFileBytes(elsewhere / L"secret", "theirs"));

    const struct Case {
        const char* what;
        std::function<bool()> plant;
        bool needsRoot;
    } cases[] = {
        {"open to the group",
         [&] {
             return mkdir(drives.c_str(), 0750) == 0 && chmod(drives.c_str(), 0750) == 0 &&
                    symlink(elsewhere8.c_str(), (drives + "/" + letter).c_str()) == 0;
         },
         false},
        {"a link to a folder of links",
         [&] {
             return symlink(elsewhere8.c_str(), (elsewhere8 + "/" + letter).c_str()) == 0 &&
                    chmod(elsewhere8.c_str(), 0700) == 0 &&
                    symlink(elsewhere8.c_str(), drives.c_str()) == 0;
         },
         false},
        {"another user's folder",
         [&] {
             return mkdir(drives.c_str(), 0700) == 0 &&
                    symlink(elsewhere8.c_str(), (drives + "/" + letter).c_str()) == 0 &&
                    lchown((drives + "/" + letter).c_str(), 12345, 12345) == 0 &&
                    chown(drives.c_str(), 12345, 12345) == 0;
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needsRoot && geteuid() != 0) continue;
        ASSERT_TRUE(testsupport::RemoveTree(plat::FromUtf8(drives)));
        ASSERT_TRUE(c.plant());
        EXPECT_EQ(plat::MappedFolderOf(drive_), L"");
        EXPECT_EQ(plat::DriveRootPath(drive_), L"");
        EXPECT_EQ(plat::DriveLettersInUse(), L"");
        EXPECT_FALSE(plat::ReserveDrive(drive_));
        EXPECT_FALSE(plat::MapDrive(drive_, folder_.path()));
        EXPECT_EQ(plat::LastError(), plat::kErrAccessDenied);
        plat::ReleaseDrive(drive_);
        EXPECT_EQ(ReadFileBytes(elsewhere / L"secret"), "theirs");
        struct stat st;
        EXPECT_EQ(lstat((drives + "/" + letter).c_str(), &st), 0) << "released through it";
    }
}

// A link of another user inside our folder (only root can place one) is
// not taken for a mapping of ours.
TEST_F(DriveMapTest, OthersLinkInOurFolderIsNotOurs) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give a link away";
    ASSERT_TRUE(plat::MapDrive(drive_, folder_.path()));
    const std::string link = plat::ToUtf8(plat::WithoutSep(plat::DriveRootPath(drive_)));
    ASSERT_EQ(lchown(link.c_str(), 12345, 12345), 0);
    EXPECT_EQ(plat::MappedFolderOf(drive_), L"");
    EXPECT_FALSE(plat::MapDrive(drive_, folder_.path()));
}

#endif

}  // namespace
