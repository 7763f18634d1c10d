// The settings page, the start-up password dialogs and the readme editor
// without their windows: what each press writes and says.
#include "ui/encrypt/logic/settings_logic.h"

#include <gtest/gtest.h>

#include "app/settings_keys.h"
#include "platform/text.h"
#include "support/faulty_fs.h"
#include "ui/encrypt/logic/encrypt_texts.h"
#include "ui_logic/ui_logic_fixture.h"

namespace {

using namespace ui::logic;
namespace texts = ui::texts;
using app::ProfileKeys;
using testsupport::ReadFileBytes;

class SettingsPageTest : public uilogictest::UiLogicTest {};

TEST_F(SettingsPageTest, DefaultsAndStoredValuesAsShown) {
    SettingsView fresh = PropSet1Logic::Load(L"");
    EXPECT_TRUE(fresh.jiamiFlag);
    EXPECT_EQ(fresh.autoHide, 1);
    EXPECT_EQ(fresh.readMe, 0);
    EXPECT_TRUE(fresh.filter);
    EXPECT_EQ(fresh.tips, app::kDefaultTip);
    EXPECT_EQ(fresh.filterText, L"");
    EXPECT_EQ(fresh.passwordButton, texts::kSetStartupPassword);

    // "JiamiFlag" and "Filter" count as on only for 1; the other two show
    // whatever number is stored.
    ASSERT_TRUE(Settings().WriteProfileInt(L"", ProfileKeys::JiamiFlag, 2));
    ASSERT_TRUE(Settings().WriteProfileInt(L"", ProfileKeys::Filter, 2));
    ASSERT_TRUE(Settings().WriteProfileInt(L"", ProfileKeys::AutoHide, 2));
    ASSERT_TRUE(Settings().WriteProfileInt(L"", ProfileKeys::ReadMeFlag, 2));
    SettingsView odd = PropSet1Logic::Load(L"secret");
    EXPECT_FALSE(odd.jiamiFlag);
    EXPECT_FALSE(odd.filter);
    EXPECT_EQ(odd.autoHide, 2);
    EXPECT_EQ(odd.readMe, 2);
    EXPECT_EQ(odd.passwordButton, texts::kModifyStartupPassword);
}

// Every control writes at once; nothing waits for the sheet's OK.
TEST_F(SettingsPageTest, EachChangeIsWrittenAtOnce) {
    EXPECT_FALSE(PropSet1Logic::SetJiamiFlag(false));
    EXPECT_EQ(Settings().GetProfileInt(L"", ProfileKeys::JiamiFlag, -1), 0);
    EXPECT_TRUE(PropSet1Logic::SetJiamiFlag(true));
    EXPECT_EQ(Settings().GetProfileInt(L"", ProfileKeys::JiamiFlag, -1), 1);

    for (const std::wstring& text : {std::wstring(L"提"), std::wstring(L"提示"), std::wstring()}) {
        PropSet1Logic::SetTips(text);
        EXPECT_TRUE(Settings().HasProfileValue(L"", ProfileKeys::Tips));
        EXPECT_EQ(Settings().GetProfileString(L"", ProfileKeys::Tips, L"<absent>"), text);
    }

    PropSet1Logic::SetReadMe(1);
    EXPECT_EQ(Settings().GetProfileInt(L"", ProfileKeys::ReadMeFlag, -1), 1);
    EXPECT_FALSE(PropSet1Logic::SetFilter(false));
    EXPECT_EQ(Settings().GetProfileInt(L"", ProfileKeys::Filter, -1), 0);
    PropSet1Logic::SetFilterText(L"*.tmp;~");
    EXPECT_EQ(Settings().GetProfileString(L"", ProfileKeys::FilterText, L""), L"*.tmp;~");

    // "AutoHide" also reaches Explorer's preference before the sheet closes.
    PropSet1Logic::SetAutoHide(0);
    EXPECT_EQ(Settings().GetProfileInt(L"", ProfileKeys::AutoHide, -1), 0);
    EXPECT_EQ(Settings().ReadExplorerValue(L"SuperHidden"), 0);
    EXPECT_EQ(Settings().ReadExplorerValue(L"ShowSuperHidden"), 1);
    PropSet1Logic::SetAutoHide(1);
    EXPECT_EQ(Settings().GetProfileInt(L"", ProfileKeys::AutoHide, -1), 1);
    EXPECT_EQ(Settings().ReadExplorerValue(L"SuperHidden"), 1);
    EXPECT_EQ(Settings().ReadExplorerValue(L"ShowSuperHidden"), 0);

    // The readme switch and the readme text live under names that cannot
    // overwrite each other.
    StoreReadmeText(L"文本");
    EXPECT_EQ(Settings().GetProfileInt(L"", ProfileKeys::ReadMeFlag, -1), 1);
    EXPECT_EQ(LoadReadmeText(), L"文本");
}

TEST_F(SettingsPageTest, ReadmeEditorDefaultAndEmptyText) {
    app::Globals().ModulePath = plat::JoinPath(dir_.path(), L"加密工具.exe");
    EXPECT_EQ(LoadReadmeText(),
              L"已通过岚栩只读加密过。\r\n\r\n如需使用该内容，请运行该文件夹下的加密工具."
              L"exe输入密码解密");
    StoreReadmeText(L"");
    EXPECT_TRUE(Settings().HasProfileValue(L"", ProfileKeys::ReadmeText));
    EXPECT_EQ(LoadReadmeText(), L"");  // an empty text is no default
    StoreReadmeText(L"第一行");
    EXPECT_EQ(LoadReadmeText(), L"第一行");
}

class StartupPasswordTest : public uilogictest::UiLogicTest {
  public:
    std::string File() { return ReadFileBytes(StartupPasswordPath()); }
    app::AppGlobals& G() { return app::Globals(); }
};

TEST_F(StartupPasswordTest, PromptAcceptsOnlyTheExactPassword) {
    struct Row {
        std::wstring typed;
        std::wstring message;
        bool passed;
    };
    const Row rows[] = {
        {L"", texts::kEnterStartupPassword, false},
        {L"Secret", texts::kWrongStartupPassword, false},
        {L"secret ", texts::kWrongStartupPassword, false},
        {L"secret", L"", true},
    };
    for (const Row& r : rows) {
        bool passed = true;
        const DialogStep s = InputRunOk(r.typed, L"secret", &passed);
        EXPECT_EQ(s.message, r.message) << plat::ToUtf8(r.typed);
        EXPECT_EQ(passed, r.passed);
        EXPECT_EQ(s.close, r.passed);
    }
}

TEST_F(StartupPasswordTest, SetWritesTheFileAndRefusesASecondSet) {
    bool set = true;
    DialogStep differ = SetRunOk(G(), L"a", L"b", &set);
    EXPECT_FALSE(differ.close);
    EXPECT_EQ(differ.message, texts::kRepeatDiffers);
    EXPECT_FALSE(set);
    EXPECT_EQ(File(), "<missing>");

    // A character the code page lacks would be stored as "?".
    DialogStep emoji = SetRunOk(G(), L"pw\U0001F600", L"pw\U0001F600", &set);
    EXPECT_FALSE(emoji.close);
    EXPECT_EQ(emoji.message, texts::kStartupPasswordNotAnsi);
    EXPECT_FALSE(set);
    EXPECT_EQ(File(), "<missing>");
    EXPECT_EQ(G().StartupPasswordLine, L"");

    DialogStep ok = SetRunOk(G(), L"启动1", L"启动1", &set);
    EXPECT_TRUE(ok.close);
    EXPECT_TRUE(set);
    EXPECT_EQ(ok.message, texts::kSetSaved);
    EXPECT_EQ(G().StartupPasswordLine, L"启动1");
    EXPECT_EQ(File(), plat::ToAnsi(L"启动1"));  // no line end

    DialogStep again = SetRunOk(G(), L"x", L"x", &set);
    EXPECT_TRUE(again.close);
    EXPECT_FALSE(set);
    EXPECT_EQ(again.message, texts::kAlreadySet);
    EXPECT_EQ(G().StartupPasswordLine, L"启动1");
}

TEST_F(StartupPasswordTest, SetWithEmptyFieldsCancels) {
    bool set = true;
    DialogStep s = SetRunOk(G(), L"", L"", &set);
    EXPECT_TRUE(s.close);
    EXPECT_FALSE(set);
    EXPECT_EQ(s.message, texts::kCancelled);
    EXPECT_EQ(File(), "");
}

TEST_F(StartupPasswordTest, ModifyChecksInOrderAndWrites) {
    G().StartupPasswordLine = L"old";
    ASSERT_TRUE(testsupport::WriteFileBytes(StartupPasswordPath(), "old"));
    struct Row {
        std::wstring oldPw, newPw, repeat;
        std::wstring message;
        int focus;
        bool close;
    };
    const Row refused[] = {
        {L"", L"n", L"n", texts::kEnterOldPassword, 1003, false},
        {L"OLD", L"n", L"n", texts::kWrongOldPassword, 0, false},
        {L"old", L"n", L"m", texts::kRepeatDiffers, 1005, false},
        {L"old", L"n\U0001F600", L"n\U0001F600", texts::kStartupPasswordNotAnsi, 1004, false},
    };
    for (const Row& r : refused) {
        const DialogStep s = ModiRunOk(G(), r.oldPw, r.newPw, r.repeat);
        EXPECT_EQ(s.message, r.message);
        EXPECT_EQ(s.focusId, r.focus);
        EXPECT_EQ(s.close, r.close);
        EXPECT_EQ(File(), "old");  // nothing written
        EXPECT_EQ(G().StartupPasswordLine, L"old");
    }
    DialogStep changed = ModiRunOk(G(), L"old", L"new", L"new");
    EXPECT_TRUE(changed.close);
    EXPECT_EQ(changed.message, texts::kModifySaved);
    EXPECT_EQ(File(), "new");
    DialogStep cancelled = ModiRunOk(G(), L"new", L"", L"");
    EXPECT_EQ(cancelled.message, texts::kCancelled);
    EXPECT_EQ(File(), "");
    EXPECT_EQ(G().StartupPasswordLine, L"");
}

// A file that cannot be written leaves no start-up password behind and
// says why in the system's words.
TEST_F(StartupPasswordTest, FailedWriteClearsThePasswordAndGivesTheReason) {
    testsupport::FaultyFileSystem fs;
    fs.FailAt(1, plat::kErrAccessDenied, true);
    plat::ScopedFileSystem scoped(fs);
    bool set = true;
    DialogStep s = SetRunOk(G(), L"pw", L"pw", &set);
    EXPECT_TRUE(s.close);
    EXPECT_FALSE(set);
    EXPECT_EQ(s.message.rfind(texts::kSetFailed, 0), 0u);
    EXPECT_NE(s.message.find(plat::ErrorText(plat::kErrAccessDenied)), std::wstring::npos)
        << plat::ToUtf8(s.message);
    EXPECT_EQ(G().StartupPasswordLine, L"");

    G().StartupPasswordLine = L"pw";
    DialogStep m = ModiRunOk(G(), L"pw", L"new", L"new");
    EXPECT_EQ(m.message.rfind(texts::kModifyFailed, 0), 0u);
    EXPECT_EQ(G().StartupPasswordLine, L"");
}

}  // namespace
