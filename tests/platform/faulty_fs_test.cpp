#include "support/faulty_fs.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/fs.h"
#include "support/test_files.h"

namespace {

using plat::Access;
using plat::Disposition;

// Runs seven mutating operations (reads and listings do not count).
void SevenOps(plat::FileSystem& fs, const std::wstring& dir, std::vector<bool>* results) {
    auto at = [&](const wchar_t* n) { return plat::JoinPath(dir, n); };
    std::vector<plat::DirEntry> entries;
    (void)fs.ListDir(dir, &entries);
    results->push_back(fs.CreateDir(at(L"d")));                                // 1
    auto f = fs.Open(at(L"f"), Access::ReadWrite, Disposition::CreateAlways);  // 2
    results->push_back(f != nullptr);
    uint32_t done = 0;
    results->push_back(f && f->Write("abcdefgh", 8, &done));  // 3
    results->push_back(f && f->Truncate());                   // 4
    f.reset();
    results->push_back(fs.Open(at(L"f"), Access::Read, Disposition::OpenExisting) != nullptr);
    results->push_back(fs.Copy(at(L"f"), at(L"g"), true));  // 5
    results->push_back(fs.Move(at(L"g"), at(L"h")));        // 6
    results->push_back(fs.DeleteFile(at(L"h")));            // 7
}

TEST(FaultyFileSystem, FailsExactlyTheNthMutatingOperation) {
    for (int n = 0; n <= 8; ++n) {
        SCOPED_TRACE(n);
        testsupport::TempFolder tmp;
        testsupport::FaultyFileSystem fs;
        fs.FailAt(n, plat::kErrDiskFull);
        std::vector<bool> results;
        SevenOps(fs, tmp.path(), &results);
        EXPECT_EQ(fs.Count(), n == 2 ? 5 : 7) << "no file, so no Write or Truncate";
        // results[4] is the plain read, which never fails.
        const int opOf[] = {1, 2, 3, 4, 0, 5, 6, 7};
        for (size_t i = 0; i < results.size(); ++i) {
            const bool mustFail = opOf[i] == n && n != 0;
            // Operations after a failure may fail as a consequence; only the
            // ones before it must succeed.
            if (opOf[i] != 0 && (n == 0 || opOf[i] < n)) {
                EXPECT_TRUE(results[i]) << i;
            }
            if (mustFail) {
                EXPECT_FALSE(results[i]) << i;
            }
        }
        EXPECT_EQ(fs.Failures(), (n >= 1 && n <= 7) ? 1 : 0);
        if (n == 1) {
            EXPECT_FALSE(plat::OsFileSystem().Exists(tmp / L"d")) << "nothing done";
        }
    }
}

TEST(FaultyFileSystem, FailedWriteCanLeaveAPrefixLikeAFullDisk) {
    testsupport::TempFolder tmp;
    testsupport::FaultyFileSystem fs;
    fs.FailAt(2, plat::kErrDiskFull, /*sticky=*/true);
    fs.SetPartialWrite(3);
    auto f = fs.Open(tmp / L"f", Access::ReadWrite, Disposition::CreateAlways);
    ASSERT_NE(f, nullptr);
    uint32_t done = 99;
    EXPECT_FALSE(f->Write("abcdef", 6, &done));
    EXPECT_EQ(plat::LastError(), plat::kErrDiskFull);
    EXPECT_EQ(done, 3u);
    EXPECT_FALSE(f->WriteAll("x", 1)) << "a sticky failure stays";
    f.reset();
    EXPECT_EQ(testsupport::ReadFileBytes(tmp / L"f"), "abc");
    EXPECT_EQ(fs.Failures(), 2);
    EXPECT_NE(fs.FailedOp().find("Write"), std::string::npos) << fs.FailedOp();
}

TEST(FaultyFileSystem, CountsAcrossThreads) {
    testsupport::TempFolder tmp;
    testsupport::FaultyFileSystem fs;
    fs.FailAt(150, plat::kErrAccessDenied);
    std::vector<std::thread> threads;
    std::atomic<int> failed{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                std::wstring p = tmp / (std::to_wstring(t) + L"_" + std::to_wstring(i));
                if (!fs.CreateDir(p)) ++failed;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(fs.Count(), 200);
    EXPECT_EQ(failed.load(), 1);
}

TEST(FaultyFileSystem, PermissionChangesCountAndAVolumeSyncDoesNot) {
    testsupport::TempFolder tmp;
    ASSERT_TRUE(testsupport::WriteFileBytes(tmp / L"a", "a"));
    ASSERT_TRUE(testsupport::WriteFileBytes(tmp / L"b", "b"));
    testsupport::FaultyFileSystem fs;
    fs.FailAt(2, plat::kErrAccessDenied);
    EXPECT_TRUE(fs.SyncVolume(tmp / L"a"));
    EXPECT_EQ(fs.Count(), 0);
    EXPECT_TRUE(fs.CopyAccess(tmp / L"a", tmp / L"b"));
    EXPECT_FALSE(fs.RestrictToOwner(tmp / L"a"));
    EXPECT_EQ(plat::LastError(), plat::kErrAccessDenied);
    EXPECT_EQ(fs.Count(), 2);
    EXPECT_NE(fs.FailedOp().find("RestrictToOwner"), std::string::npos) << fs.FailedOp();
}

}  // namespace
