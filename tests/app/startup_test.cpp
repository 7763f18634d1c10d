#include "app/startup.h"

#include <gtest/gtest.h>

#include "app/settings_keys.h"
#include "platform/fs.h"
#include "platform/settings.h"
#include "platform/text.h"
#include "support/test_files.h"

namespace {

using plat::Fs;
using plat::JoinPath;

class RecordingShell : public app::Shell {
  public:
    bool InitUi() override { return true; }
    void ShowMessage(const std::wstring& text) override { messages.push_back(text); }
    void RunEncryptWindow() override { windows.push_back(L"encrypt"); }
    void RunDecryptWindow() override { windows.push_back(L"decrypt"); }
    std::vector<std::wstring> messages, windows;
};

class StartupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        settings_ = plat::MakeIniSettings(JoinPath(tmp_.path(), L"settings"));
        scoped_ = std::make_unique<plat::ScopedSettings>(*settings_);
        g_.ModulePath = JoinPath(tmp_.path(), L"ulxjm.exe");
        g_.ModuleFolder = plat::WithSep(tmp_.path());
        g_.TargetFolder = g_.ModuleFolder;
    }
    testsupport::TempFolder tmp_;
    std::unique_ptr<plat::Settings> settings_;
    std::unique_ptr<plat::ScopedSettings> scoped_;
    app::AppGlobals g_;
};

TEST_F(StartupTest, LaunchArgumentForms) {
    const std::wstring dir = JoinPath(tmp_.path(), L"目标 a,b");
    ASSERT_TRUE(Fs().CreateDir(dir));
    const std::wstring q = L"\"" + g_.ModulePath + L"\"";
    struct Case {
        std::wstring line;
        int result;
        std::wstring mail, field3, password, target;
        bool launched;
    } cases[] = {
        {q, 0, L"", L"0", L"", g_.ModuleFolder, false},
        {q + L" ", 0, L"", L"0", L"", g_.ModuleFolder, false},
        {L"other.exe ,x", 0, L"", L"0", L"", g_.ModuleFolder, false},
        {q + L" no comma", 0, L"", L"0", L"", g_.ModuleFolder, false},
        {q + L" ,/some folder", 1, L"/some folder", L"0", L"", g_.ModuleFolder, false},
        {q + L" a,b", 1, L"b", L"0", L"", g_.ModuleFolder, false},
        {q + L" a,b,c", 2, L"c", L"b", L"", g_.ModuleFolder, false},
        // Only the last three commas separate fields; the folder is trimmed and
        // must exist, the other fields are kept as they are.
        {q + L"  " + dir + L"  ,pw 1, x, m@x.cn", 4, L" m@x.cn", L" x", L"pw 1", dir, true},
        {q + L" " + JoinPath(dir, L"missing") + L",p,0,m", 4, L"m", L"0", L"p", L"", true},
    };
    for (const Case& c : cases) {
        app::AppGlobals g = g_;
        EXPECT_EQ(app::ParseLaunchArguments(g, c.line), c.result) << plat::ToUtf8(c.line);
        EXPECT_EQ(g.MailAddress, c.mail) << plat::ToUtf8(c.line);
        EXPECT_EQ(g.LaunchField3, c.field3) << plat::ToUtf8(c.line);
        EXPECT_EQ(g.PresetPassword, c.password) << plat::ToUtf8(c.line);
        EXPECT_EQ(g.TargetFolder, c.target) << plat::ToUtf8(c.line);
        EXPECT_EQ(g.LaunchedWithArguments, c.launched) << plat::ToUtf8(c.line);
    }
}

TEST_F(StartupTest, OsVersionTexts) {
    struct Case {
        plat::OsVersion v;
        int result;
        const wchar_t* text;
        bool vista;
    } cases[] = {
        {{false, 2, 10, 0, L""}, -1, L"", false},
        {{true, 0, 3, 1, L""}, 0, L"Microsoft Win32s", false},
        {{true, 1, 4, 0, L" C"}, 0, L"Microsoft Windows 95 OSR2", false},
        {{true, 1, 4, 10, L" A"}, 0, L"Microsoft Windows 98 SE", false},
        {{true, 1, 4, 10, L""}, 0, L"Microsoft Windows 98", false},
        {{true, 1, 4, 90, L""}, 0, L"Microsoft Windows ME", false},
        {{true, 1, 5, 0, L""}, 0, L"Microsoft Windows 9X(Other)", false},
        {{true, 2, 4, 0, L""}, 1, L"Microsoft Windows NT", false},
        {{true, 2, 5, 1, L""}, 1, L"Microsoft Windows XP", false},
        {{true, 2, 5, 7, L""}, 1, L"Microsoft Windows NT(other)", false},
        {{true, 2, 10, 0, L""}, 1, L"Microsoft Visat SP1", true},
        {{true, 7, 1, 0, L""}, 0, L"", false},
    };
    for (const Case& c : cases) {
        app::AppGlobals g;
        std::wstring text = L"junk";
        EXPECT_EQ(app::GetOsVersionText(g, c.v, &text), c.result);
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(g.IsVistaOrLater, c.vista) << plat::ToUtf8(c.text);
    }
}

TEST_F(StartupTest, StoreResolutionFallsBackToTheLegacyAlias) {
    app::ResolveStorePaths(g_, tmp_.path());
    EXPECT_FALSE(g_.LegacyStore);
    EXPECT_EQ(g_.StoreDataDir, g_.ModuleFolder + L"ulxjm" + plat::kSep + L"ffffff");
    EXPECT_EQ(g_.StoreParamDir, g_.ModuleFolder + L"ulxjm" + plat::kSep + L"paramff");

    const std::wstring alias = JoinPath(tmp_.path(), L"岚栩目~1");
    ASSERT_TRUE(Fs().CreateDir(alias));
    ASSERT_TRUE(Fs().CreateDir(JoinPath(alias, L"ffffff")));
    app::ResolveStorePaths(g_, tmp_.path());
    EXPECT_TRUE(g_.LegacyStore);
    EXPECT_EQ(g_.StoreDataDir, JoinPath(alias, L"ffffff"));
    EXPECT_EQ(g_.StoreParamDir, JoinPath(alias, L"paramff"));

    // The current store wins over the alias.
    ASSERT_TRUE(Fs().CreateDir(JoinPath(tmp_.path(), L"ulxjm")));
    ASSERT_TRUE(Fs().CreateDir(JoinPath(JoinPath(tmp_.path(), L"ulxjm"), L"ffffff")));
    app::ResolveStorePaths(g_, tmp_.path());
    EXPECT_FALSE(g_.LegacyStore);
}

TEST_F(StartupTest, RoleFollowsTheStore) {
    RecordingShell shell;
    app::ResolveStorePaths(g_, g_.ModuleFolder);
    app::SelectRole(g_, shell);
    ASSERT_TRUE(Fs().CreateDir(JoinPath(tmp_.path(), L"ulxjm")));
    ASSERT_TRUE(Fs().CreateDir(JoinPath(JoinPath(tmp_.path(), L"ulxjm"), L"ffffff")));
    app::ResolveStorePaths(g_, g_.ModuleFolder);
    app::SelectRole(g_, shell);
    EXPECT_EQ(shell.windows, (std::vector<std::wstring>{L"encrypt", L"decrypt"}));
}

TEST_F(StartupTest, OneFieldFormOpensTheNamedFolder) {
    const std::wstring other = JoinPath(tmp_.path(), L"other");
    ASSERT_TRUE(Fs().CreateDir(other));
    ASSERT_TRUE(Fs().CreateDir(JoinPath(other, L"ulxjm")));
    ASSERT_TRUE(Fs().CreateDir(JoinPath(JoinPath(other, L"ulxjm"), L"ffffff")));
    RecordingShell shell;
    ASSERT_EQ(app::ParseLaunchArguments(g_, L"\"" + g_.ModulePath + L"\" ," + other), 1);
    app::ResolveStorePaths(g_, g_.ModuleFolder);
    app::SelectRole(g_, shell);
    EXPECT_EQ(shell.windows, std::vector<std::wstring>{L"decrypt"});
    EXPECT_EQ(g_.ModuleFolder, plat::WithSep(other));
    EXPECT_EQ(g_.TargetFolder, plat::WithSep(tmp_.path())) << "the target stays the own folder";
}

TEST_F(StartupTest, OneFieldFormOnAFolderWithoutAStoreOffersThatFolder) {
    const std::wstring other = JoinPath(tmp_.path(), L"plain");
    ASSERT_TRUE(Fs().CreateDir(other));
    RecordingShell shell;
    ASSERT_EQ(app::ParseLaunchArguments(g_, L"\"" + g_.ModulePath + L"\" ," + other), 1);
    app::ResolveStorePaths(g_, g_.ModuleFolder);
    app::SelectRole(g_, shell);
    EXPECT_EQ(shell.windows, std::vector<std::wstring>{L"encrypt"});
    EXPECT_EQ(g_.TargetFolder, plat::WithSep(other));
    EXPECT_TRUE(g_.TargetChosen);
    EXPECT_FALSE(g_.LaunchedWithArguments) << "nothing is encrypted unasked";
}

TEST_F(StartupTest, UpgradeLeftoverIsRemovedAndAnnounced) {
    RecordingShell shell;
    app::CleanUpAfterUpgrade(g_, shell);
    EXPECT_TRUE(shell.messages.empty());
    testsupport::WriteFileBytes(g_.ModulePath + L".old", "old program");
    app::CleanUpAfterUpgrade(g_, shell);
    EXPECT_FALSE(Fs().Exists(g_.ModulePath + L".old"));
    EXPECT_EQ(shell.messages, std::vector<std::wstring>{L"岚栩只读加密已经升级到 3069 版本。"});
}

TEST_F(StartupTest, SettingsDefaultsAndRestart) {
    using app::Settings;
    EXPECT_EQ(Settings::AutoHide(), 1);
    EXPECT_EQ(Settings::JiamiFlag(), 1);
    EXPECT_EQ(Settings::ReadMeFlag(), 0);
    EXPECT_EQ(Settings::Filter(), 1);
    EXPECT_EQ(Settings::Tips(), app::kDefaultTip);
    EXPECT_EQ(Settings::FilterText(), L"");
    EXPECT_EQ(Settings::MapDriver(), L"");
    EXPECT_EQ(Settings::MailAddress(), L"");
    EXPECT_EQ(Settings::First(), 1);
    EXPECT_FALSE(Settings::HasReadmeText());

    // A fresh profile hides protected system files at start.
    ASSERT_TRUE(app::ApplyHiddenFilesSetting(Settings::AutoHide()));
    EXPECT_EQ(settings_->ReadExplorerValue(L"SuperHidden"), 1);
    EXPECT_EQ(settings_->ReadExplorerValue(L"ShowSuperHidden"), 0);

    settings_->WriteProfileInt(L"", L"AutoHide", 0);
    settings_->WriteProfileString(L"", L"szTips", L"提示");
    settings_->WriteWinIniString(app::kWinIniSection, L"mailaddr", L"me@x.cn");
    // A restart reads the same values from disk.
    scoped_.reset();
    settings_ = plat::MakeIniSettings(JoinPath(tmp_.path(), L"settings"));
    scoped_ = std::make_unique<plat::ScopedSettings>(*settings_);
    EXPECT_EQ(Settings::AutoHide(), 0);
    EXPECT_EQ(Settings::Tips(), L"提示");
    EXPECT_EQ(Settings::MailAddress(), L"me@x.cn");
    ASSERT_TRUE(app::ApplyHiddenFilesSetting(Settings::AutoHide()));
    EXPECT_EQ(settings_->ReadExplorerValue(L"ShowSuperHidden"), 1);
}

// A run killed while a drive was mapped leaves its letter in "MapDriver";
// at start only letters still defined stay, or that drive is refused for
// encryption for good.
TEST_F(StartupTest, MappedDrivesThatNoLongerExistAreDropped) {
    using plat::DriveType;
    const std::vector<plat::DriveInfo> drives = {
        {L"C:\\", DriveType::Fixed}, {L"G:\\", DriveType::Fixed}, {L"z:\\", DriveType::Remote}};
    const struct {
        std::wstring stored, kept;
    } rows[] = {
        {L"", L""}, {L"F:", L""}, {L"G:F:", L"G:"}, {L"F:g:Z:", L"g:Z:"}, {L"G:", L"G:"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(app::KeepDefinedDrives(r.stored, drives), r.kept) << plat::ToUtf8(r.stored);
        ASSERT_TRUE(settings_->WriteProfileString(L"", L"MapDriver", r.stored));
        EXPECT_TRUE(app::DropUndefinedMappedDrives(drives));
        EXPECT_EQ(app::Settings::MapDriver(), r.kept) << plat::ToUtf8(r.stored);
    }
}

}  // namespace
