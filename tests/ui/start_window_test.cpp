// The program opens the window its folder calls for, shows it readably and
// ends when the user closes it.
#include <gtest/gtest.h>

#include "resource.h"
#include "ui/driver.h"

namespace uitest {
namespace {

class StartWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HaveDisplay()) GTEST_SKIP() << "window tests need a display: run tools/test-ui";
        ASSERT_FALSE(dir_.path().empty());
    }
    void TearDown() override { program_.Kill(); }

    // Copies the program into the test folder (or `sub` below it) and starts
    // it there, as a user who copied it onto a drive would.
    void StartIn(const std::wstring& folder) {
        const std::wstring exe = folder + L"\\ulxjm.exe";
        ASSERT_TRUE(CopyFileW((OwnFolder() + L"ulxjm.exe").c_str(), exe.c_str(), FALSE))
            << "ulxjm.exe belongs beside the test program";
        ASSERT_TRUE(program_.Start(exe, L"", folder));
    }

    void ExpectEndsWithCode0() {
        DWORD code = 1234;
        ASSERT_TRUE(program_.WaitForExit(kWaitMs, &code)) << "the program did not end";
        EXPECT_EQ(code, 0u);
    }

    TempDir dir_;
    Program program_;
};

TEST_F(StartWindowTest, PlainFolderOpensTheEncryptWindowAndCloseEndsTheProgram) {
    StartIn(dir_.path());
    HWND dlg = WaitForMainDialog(program_.pid());
    ASSERT_NE(dlg, nullptr) << "no window titled "
                            << "岚栩只读加密";
    // The confirmation edit exists only in the encrypt window.
    EXPECT_TRUE(IsItemVisible(dlg, IDC_JIAMI_CONFIRM));
    EXPECT_TRUE(IsItemVisible(dlg, IDC_JIAMI_START));
    EXPECT_FALSE(HasItem(dlg, IDC_JIEMI_MODE_BROWSE));
    EXPECT_EQ(ItemText(dlg, IDC_JIAMI_TARGET), dir_.path() + L"\\");
    EXPECT_EQ(ItemText(dlg, IDC_JIAMI_START), L"加密");
    Settle(dlg);
    Screenshot(L"encrypt-window");

    // The close box, as a person would.
    PostMessageW(dlg, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitForWindowGone(dlg));
    ExpectEndsWithCode0();
}

TEST_F(StartWindowTest, FolderHoldingAStoreOpensTheDecryptWindowAndCancelEndsTheProgram) {
    ASSERT_TRUE(CreateDirectoryW((dir_ / L"ulxjm").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((dir_ / L"ulxjm\\ffffff").c_str(), nullptr));
    StartIn(dir_.path());
    HWND dlg = WaitForMainDialog(program_.pid());
    ASSERT_NE(dlg, nullptr);
    // The decrypt-mode radios exist only in the decrypt window.
    EXPECT_TRUE(IsItemVisible(dlg, IDC_JIEMI_MODE_BROWSE));
    EXPECT_TRUE(IsItemVisible(dlg, IDC_JIEMI_MODE_IMAGE));
    EXPECT_TRUE(IsItemVisible(dlg, IDC_JIEMI_MODE_FULL));
    EXPECT_FALSE(HasItem(dlg, IDC_JIAMI_CONFIRM));
    EXPECT_EQ(ItemText(dlg, IDC_JIEMI_FOLDER), dir_.path() + L"\\");
    EXPECT_EQ(ItemText(dlg, IDC_JIEMI_START), L"解密");
    Settle(dlg);
    Screenshot(L"decrypt-window");

    ClickButton(dlg, IDC_JIEMI_CANCEL);
    EXPECT_TRUE(WaitForWindowGone(dlg));
    ExpectEndsWithCode0();
}

}  // namespace
}  // namespace uitest
