// The decisions of the decrypt-other-folder list and of the screen lock.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/decrypt/logic/decrypt_texts.h"
#include "ui/decrypt/logic/list_logic.h"
#include "ui/decrypt/logic/lock_logic.h"
#include "ui/encrypt/logic/jiami_logic.h"

namespace {

using namespace ui::logic;

TEST(ScreenLockTest, OnlyTheExactWholePasswordUnlocks) {
    struct Case {
        const wchar_t* typed;
        const wchar_t* password;
        bool unlocks;
    };
    const Case cases[] = {
        {L"Secret1", L"Secret1", true},
        {L"secret1", L"Secret1", false},  // letter case counts
        {L"SECRET1", L"Secret1", false},
        {L"Secret", L"Secret1", false},    // a prefix is not the password
        {L"Secret12", L"Secret1", false},  // nor is a longer text
        {L"Secret1 ", L"Secret1", false},  // nor trailing blanks
        {L" Secret1", L"Secret1", false},
        {L"", L"Secret1", false},
        {L"", L"", true},  // a store opened without a password
        {L" ", L"", false},
        {L"密码ａ", L"密码ａ", true},
        {L"密码a", L"密码ａ", false},  // full-width and ASCII differ
    };
    for (const Case& c : cases)
        EXPECT_EQ(UnlockAccepted(c.typed, c.password), c.unlocks)
            << "typed \"" << testing::PrintToString(std::wstring(c.typed)) << "\"";
}

TEST(ScreenLockTest, EnterTriesToUnlockEscapeIsSwallowed) {
    struct Case {
        unsigned key;
        LockKey action;
    };
    const Case cases[] = {
        {0x0D, LockKey::TryUnlock},  // Enter
        {0x1B, LockKey::Swallow},    // Escape
        {0x09, LockKey::Normal},     // Tab still moves the focus
        {0x41, LockKey::Normal},     // letters reach the edit
        {0x20, LockKey::Normal},
    };
    for (const Case& c : cases) EXPECT_EQ(LockKeyDown(c.key), c.action) << "key " << c.key;
}

TEST(DecryptOtherListTest, DecryptNeedsASelectedRowWithAFolder) {
    const std::vector<std::wstring> none;
    const std::vector<std::wstring> rows = {L"E:\\照片", L"", L"F:\\data"};
    struct Case {
        int selected;
        const std::vector<std::wstring>* rows;
        const wchar_t* arguments;  // null: the selection message
    };
    const Case cases[] = {
        {-1, &none, nullptr},  // the list as shown: empty, nothing selected
        {0, &none, nullptr},   // a stale index must not reach past the rows
        {-1, &rows, nullptr},     {3, &rows, nullptr},
        {1, &rows, nullptr},  // a row without a folder
        {0, &rows, L",E:\\照片"}, {2, &rows, L",F:\\data"},
    };
    for (const Case& c : cases) {
        const ListDecryptStep step = DecryptSelected(c.selected, *c.rows);
        EXPECT_EQ(step.relaunch, c.arguments != nullptr) << "row " << c.selected;
        if (c.arguments) EXPECT_EQ(step.arguments, c.arguments);
    }
}

TEST(DecryptOtherListTest, ChosenFolderRelaunchesInTheOneFieldForm) {
    EXPECT_EQ(RelaunchForChosen(L""), L"");  // cancelled: stay
    EXPECT_EQ(RelaunchForChosen(L"D:\\保护\\子目录"), L",D:\\保护\\子目录");
    EXPECT_EQ(RelaunchForChosen(L"E:\\"), L",E:\\");
    // The very form the encrypt window and start-up agree on.
    EXPECT_EQ(RelaunchForChosen(L"E:\\x"), RelaunchArguments(L"E:\\x"));
}

TEST(DecryptOtherListTest, FailedRelaunchNamesTheProgramAndTheReason) {
    const std::wstring text =
        RelaunchFailedMessage(L"E:\\保护\\ulxjm.exe", L"系统找不到指定的文件。");
    EXPECT_EQ(text.rfind(ui::texts::kListRelaunchFailed, 0), 0u);
    EXPECT_NE(text.find(L"\r\nE:\\保护\\ulxjm.exe\r\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"系统找不到指定的文件。"), std::wstring::npos);
    EXPECT_EQ(RelaunchFailedMessage(L"E:\\a.exe", L"").find(L"a.exe\r\n"), std::wstring::npos);
}

}  // namespace
