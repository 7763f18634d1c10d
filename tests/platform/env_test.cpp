#include "platform/env.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/text.h"
#include "support/test_files.h"

namespace {

TEST(Env, FoldersOfTheProcess) {
    EXPECT_TRUE(plat::Fs().IsFile(plat::ModulePath())) << plat::ToUtf8(plat::ModulePath());
    const std::wstring tmp = plat::TempDir();
    ASSERT_FALSE(tmp.empty());
    EXPECT_EQ(tmp.back(), plat::kSep);
    EXPECT_TRUE(plat::Fs().IsDirectory(tmp));
    EXPECT_EQ(plat::SystemDir().back(), plat::kSep);
    EXPECT_TRUE(plat::Fs().IsDirectory(plat::SystemDir()));

    const std::wstring before = plat::CurrentDir();
    testsupport::TempFolder folder;
    ASSERT_TRUE(plat::SetCurrentDir(folder.path()));
    EXPECT_EQ(plat::WithSep(plat::CurrentDir()), folder.path());
    ASSERT_TRUE(plat::SetCurrentDir(before));
    EXPECT_FALSE(plat::SetCurrentDir(folder / L"missing"));
}

TEST(Env, CommandLineStartsWithTheQuotedModulePath) {
    const std::wstring line = plat::CommandLine();
    // Windows shows argv[0] as typed; a program started by the shell quotes it.
    EXPECT_NE(line.find(plat::ModulePath()), std::wstring::npos) << plat::ToUtf8(line);
}

TEST(Env, DrivesAndRoots) {
    const std::wstring root = plat::DriveRootOf(plat::TempDir());
    ASSERT_FALSE(root.empty());
    EXPECT_EQ(root.back(), plat::kSep);
    EXPECT_TRUE(plat::StartsWithNoCase(plat::TempDir(), root)) << plat::ToUtf8(root);
    const plat::DriveType type = plat::GetDriveType(root);
    EXPECT_NE(type, plat::DriveType::NoRootDir);
    EXPECT_NE(type, plat::DriveType::Unknown);
    EXPECT_EQ(plat::GetDriveType(plat::JoinPath(plat::TempDir(), L"ulx-no-such-folder\\/")),
              plat::DriveType::NoRootDir);
    const auto drives = plat::LogicalDrives();
    ASSERT_FALSE(drives.empty());
    for (const auto& d : drives) {
        EXPECT_EQ(d.root.back(), plat::kSep);
        EXPECT_NE(d.type, plat::DriveType::NoRootDir) << plat::ToUtf8(d.root);
    }
}

TEST(Env, ClocksAndVersion) {
    plat::LocalTime now;
    ASSERT_TRUE(plat::FileTimeToLocal(plat::NowFileTime(), &now));
    EXPECT_GE(now.year, 2024);
    EXPECT_TRUE(now.month >= 1 && now.month <= 12 && now.day >= 1 && now.day <= 31);
    const uint64_t t0 = plat::TickMs();
    EXPECT_GE(plat::TickMs(), t0);
    const plat::OsVersion v = plat::GetOsVersion();
    ASSERT_TRUE(v.ok);
    EXPECT_EQ(v.platformId, 2u);
    EXPECT_GE(v.major, 6u);
}

#ifndef _WIN32
TEST(Env, PosixFoldersFollowTheEnvironment) {
    const char* saved = std::getenv("XDG_DATA_HOME");
    const std::string keep = saved ? saved : "";
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("XDG_DATA_HOME", "/x/data/", 1);
    EXPECT_EQ(plat::UserAppDataDir(), L"/x/data");
    ::setenv("XDG_DATA_HOME", "relative", 1);  // ignored, as the XDG rules say
    ::setenv("HOME", "/home/u", 1);
    EXPECT_EQ(plat::UserAppDataDir(), L"/home/u/.local/share");
    if (saved)
        ::setenv("XDG_DATA_HOME", keep.c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");
    ::setenv("HOME", home.c_str(), 1);

    const char* tmpdir = std::getenv("TMPDIR");
    const std::string keepTmp = tmpdir ? tmpdir : "";
    ::setenv("TMPDIR", "/var/tmp", 1);
    EXPECT_EQ(plat::TempDir(), L"/var/tmp/");
    if (tmpdir)
        ::setenv("TMPDIR", keepTmp.c_str(), 1);
    else
        ::unsetenv("TMPDIR");

    const std::wstring line = plat::CommandLine();
    EXPECT_EQ(line.rfind(L"\"" + plat::ModulePath() + L"\"", 0), 0u) << plat::ToUtf8(line);
    EXPECT_EQ(plat::DriveRootOf(L"/proc/self"), L"/proc/");
}
#endif

}  // namespace
