// The start after a self-update: the previous program's file goes, the user
// is told once, and what an ended update run left behind is cleared while
// the user's own files stay.
#include <gtest/gtest.h>

#include "ui/driver.h"

namespace uitest {
namespace {

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WriteFile(const std::wstring& path, const char* text) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD done = 0;
    const BOOL ok = ::WriteFile(h, text, DWORD(strlen(text)), &done, nullptr);
    CloseHandle(h);
    return ok && done == strlen(text);
}

class UpgradeWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HaveDisplay()) GTEST_SKIP() << "window tests need a display: run tools/test-ui";
        ASSERT_FALSE(dir_.path().empty());
        // Nothing to fetch: a port where nobody listens answers at once.
        SetEnvironmentVariableW(L"ULXJM_UPDATE_BASE", L"http://127.0.0.1:9/none");
    }
    void TearDown() override {
        program_.Kill();
        SetEnvironmentVariableW(L"ULXJM_UPDATE_BASE", nullptr);
    }

    TempDir dir_;
    Program program_;
};

TEST_F(UpgradeWindowTest, PreviousProgramIsRemovedAndTheUserTold) {
    const std::wstring exe = dir_ / L"ulxjm.exe";
    ASSERT_TRUE(CopyFileW((OwnFolder() + L"ulxjm.exe").c_str(), exe.c_str(), FALSE));
    ASSERT_TRUE(WriteFile(exe + L".old", "the program before the upgrade"));
    // A download cut short by the end of an earlier run (no process has
    // this id), and files of the user's that only look alike.
    const std::wstring leftover = dir_ / L"~ulxjm-upd.2147483632.0.tmp";
    ASSERT_TRUE(WriteFile(leftover, "partial"));
    for (const wchar_t* mine : {L"x.bak", L"~ulxjm-upd.tmp", L"ulxjm.exe.bak"})
        ASSERT_TRUE(WriteFile(dir_ / mine, "the user's"));

    ASSERT_TRUE(program_.Start(exe, L"", dir_.path()));
    HWND box = WaitForMessageBox(program_.pid());
    ASSERT_NE(box, nullptr) << "no upgrade message";
    EXPECT_EQ(MessageBoxText(box), L"岚栩只读加密已经升级到 3069 版本。");
    EXPECT_EQ(WindowText(box), kAppTitle);
    EXPECT_FALSE(Exists(exe + L".old"));
    EXPECT_FALSE(Exists(exe + L".del"));
    Settle(box);
    Screenshot(L"upgrade-message");
    AnswerMessageBox(box, IDOK);

    HWND dlg = WaitForMainDialog(program_.pid());
    ASSERT_NE(dlg, nullptr) << "the encrypt window did not follow the message";
    const DWORD until = GetTickCount() + kWaitMs;
    while (Exists(leftover) && GetTickCount() < until) Sleep(50);
    EXPECT_FALSE(Exists(leftover)) << "the cut download stayed";
    for (const wchar_t* mine : {L"x.bak", L"~ulxjm-upd.tmp", L"ulxjm.exe.bak"})
        EXPECT_TRUE(Exists(dir_ / mine)) << "a file of the user's went";
    EXPECT_TRUE(Exists(exe));

    PostMessageW(dlg, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitForWindowGone(dlg));
    DWORD code = 1234;
    ASSERT_TRUE(program_.WaitForExit(kWaitMs, &code));
    EXPECT_EQ(code, 0u);

    // The next start has nothing to announce.
    Program again;
    ASSERT_TRUE(again.Start(exe, L"", dir_.path()));
    dlg = WaitForMainDialog(again.pid());
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(WaitForMessageBox(again.pid(), dlg, 1500), nullptr);
    PostMessageW(dlg, WM_CLOSE, 0, 0);
    EXPECT_TRUE(again.WaitForExit(kWaitMs, &code));
    again.Kill();
}

}  // namespace
}  // namespace uitest
