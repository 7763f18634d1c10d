#include "app/startup.h"

#include "app/settings_keys.h"
#include "engine/engine.h"
#include "engine/pass_log.h"
#include "engine/recovery_guard.h"
#include "platform/fs.h"
#include "platform/lock.h"
#include "platform/text.h"
#include "store/layout.h"

namespace app {

AppGlobals& Globals() {
    static AppGlobals g;
    return g;
}

namespace {

std::wstring FormatInt(const wchar_t* format, int value) {
    std::wstring out(format);
    size_t at = out.find(L"%d");
    if (at != std::wstring::npos) out.replace(at, 2, std::to_wstring(value));
    return out;
}

// Splits at the last comma: `tail` gets what follows it, `text` keeps what
// precedes it. False when there is no comma.
bool SplitLastComma(std::wstring& text, std::wstring& tail) {
    size_t at = text.rfind(L',');
    if (at == std::wstring::npos) return false;
    tail = text.substr(at + 1);
    text.resize(at);
    return true;
}

}  // namespace

int ParseLaunchArguments(AppGlobals& g, const std::wstring& commandLine) {
    if (g.ModulePath.empty()) return kNoArguments;
    size_t at = commandLine.find(g.ModulePath);
    if (at == std::wstring::npos) return kNoArguments;
    size_t start = at + g.ModulePath.size() + 1;  // and the closing quote
    if (start >= commandLine.size()) return kNoArguments;
    std::wstring rest = commandLine.substr(start);

    std::wstring field;
    if (!SplitLastComma(rest, field)) return kNoArguments;
    g.MailAddress = field;
    if (rest.find(L',') == std::wstring::npos) return kOpenFolder;
    SplitLastComma(rest, field);
    g.LaunchField3 = field;
    if (rest.find(L',') == std::wstring::npos) return kTooOldCaller;
    SplitLastComma(rest, field);
    g.PresetPassword = field;

    std::wstring folder = plat::Trim(rest);
    std::wstring longForm = plat::Fs().LongPathName(folder);
    if (longForm.size() >= plat::kMaxPath) longForm.clear();
    g.TargetFolder = longForm;
    g.LaunchedWithArguments = true;
    return kEncryptAtOnce;
}

int GetOsVersionText(AppGlobals& g, const plat::OsVersion& v, std::wstring* text) {
    text->clear();
    if (!v.ok) return -1;
    const wchar_t sp1 = v.servicePack.size() > 1 ? v.servicePack[1] : L'\0';
    switch (v.platformId) {
        case 0:
            *text = L"Microsoft Win32s";
            break;
        case 1:
            if (v.major == 4 && v.minor == 0)
                *text = sp1 == L'C' ? L"Microsoft Windows 95 OSR2" : L"Microsoft Windows 95";
            else if (v.major == 4 && v.minor == 10)
                *text = sp1 == L'A' ? L"Microsoft Windows 98 SE" : L"Microsoft Windows 98";
            else if (v.major == 4 && v.minor == 90)
                *text = L"Microsoft Windows ME";
            else
                *text = L"Microsoft Windows 9X(Other)";
            break;
        case 2:
            if (v.major <= 4) {
                *text = L"Microsoft Windows NT";
            } else if (v.major == 5) {
                static const wchar_t* const kFive[] = {
                    L"Microsoft Windows 2000", L"Microsoft Windows XP", L"Microsoft Windows 2003"};
                *text = v.minor <= 2 ? kFive[v.minor] : L"Microsoft Windows NT(other)";
            } else {
                *text = L"Microsoft Visat SP1";
                g.IsVistaOrLater = true;
            }
            break;
        default:
            break;
    }
    return v.platformId == 2 ? 1 : 0;
}

void ResolveStorePaths(AppGlobals& g, const std::wstring& folder) {
    g.FoundDataRel = store::DataRel();
    g.FoundParamRel = store::ParamRel();
    const std::wstring base = plat::WithSep(folder);
    g.StoreDataDir = base + g.FoundDataRel;
    g.StoreParamDir = base + g.FoundParamRel;
    g.LegacyStore = false;
    if (!plat::Fs().IsDirectory(g.StoreDataDir)) {
        const std::wstring alias = base + store::kLegacyAlias + plat::kSep;
        if (plat::Fs().IsDirectory(alias + store::kDataFolderName)) {
            g.StoreDataDir = alias + store::kDataFolderName;
            g.StoreParamDir = alias + store::kParamFolderName;
            g.LegacyStore = true;
        }
    }
}

void CleanUpAfterUpgrade(AppGlobals& g, Shell& shell) {
    const std::wstring old = g.ModulePath + L".old";
    if (!plat::Fs().Exists(old)) return;
    if (!plat::Fs().DeleteFile(old)) {
        // Still in use: put aside. A ".del" an earlier start left would stop the move.
        const std::wstring del = g.ModulePath + L".del";
        (void)plat::Fs().DeleteFile(del);
        (void)plat::Fs().Move(old, del);
    }
    shell.ShowMessage(FormatInt(kUpgradedFormat, kVersion));
}

bool ApplyHiddenFilesSetting(int autoHide) {
    return autoHide ? plat::UserSettings().WriteExplorerHiddenPrefs(1, 0)
                    : plat::UserSettings().WriteExplorerHiddenPrefs(0, 1);
}

void ReadStartupPassword(AppGlobals& g) {
    g.StartupPasswordLine =
        store::ReadFirstLine(plat::JoinPath(plat::CurrentDir(), kStartupPasswordFile));
}

std::wstring KeepDefinedDrives(const std::wstring& mapDriver,
                               const std::vector<plat::DriveInfo>& drives) {
    std::wstring kept;
    for (size_t i = 0; i + 1 < mapDriver.size(); ++i) {
        if (mapDriver[i + 1] != L':') continue;
        const std::wstring name = mapDriver.substr(i, 2);
        for (const auto& d : drives) {
            if (plat::StartsWithNoCase(d.root, name)) {
                kept += name;
                break;
            }
        }
        ++i;
    }
    return kept;
}

bool DropUndefinedMappedDrives(const std::vector<plat::DriveInfo>& drives) {
    const std::wstring text = Settings::MapDriver();
    const std::wstring kept = KeepDefinedDrives(text, drives);
    if (kept == text) return true;
    return Settings::Profile().WriteProfileString(L"", ProfileKeys::MapDriver, kept);
}

std::wstring ResolveAppDataDir() {
    std::wstring base = plat::UserAppDataDir();
    if (!base.empty()) {
        std::wstring dir = plat::WithSep(base) + L"tuotuoyan" + plat::kSep;
        if (plat::Fs().IsDirectory(dir) || plat::Fs().CreateDir(dir)) return dir;
    }
#ifdef _WIN32
    return L"c:\\";
#else
    return plat::TempDir();
#endif
}

void SelectRole(AppGlobals& g, Shell& shell) {
    if (!g.MailAddress.empty() && g.PresetPassword.empty()) {
        // One-field form: open as if the program were in that folder.
        g.MailAddress = plat::WithSep(g.MailAddress);
        g.ModuleFolder = g.MailAddress;
        ResolveStorePaths(g, g.ModuleFolder);
    }
    if (plat::Fs().IsDirectory(g.StoreDataDir)) {
        shell.RunDecryptWindow();
        return;
    }
    if (!g.MailAddress.empty() && g.PresetPassword.empty()) {
        // A folder without a store chosen to be opened: the encrypt window
        // offers that folder, never the program's own.
        g.TargetFolder = g.ModuleFolder;
        g.TargetChosen = true;
    }
    shell.RunEncryptWindow();
}

namespace {
// Messages of a recovery, shown through the start-up shell.
class ShellPassUi : public engine::PassUi {
  public:
    explicit ShellPassUi(Shell& shell) : shell_(shell) {}
    void ShowMessage(const std::wstring& text, engine::MessageIcon) override {
        shell_.ShowMessage(text);
    }

  private:
    Shell& shell_;
};
}  // namespace

bool SettleInterruptedPass(AppGlobals& g, Shell& shell) {
    const std::wstring folder = plat::WithoutSep(g.TargetFolder);
    if (folder.empty()) return true;
    const std::wstring unsafe = engine::UnsafeStoreFolder(folder);
    if (!unsafe.empty()) {
        shell.ShowMessage(engine::UnsafeStoreText(folder, unsafe));
        return false;
    }
    if (!plat::Fs().IsDirectory(store::ParamDir(folder))) return true;
    uint32_t error = 0;
    std::unique_ptr<plat::FolderLock> lock = plat::TryLockFolder(folder, &error);
    if (!lock && error == plat::kErrSharingViolation) {
        shell.ShowMessage(kFolderBusyText);
        return false;
    }
    ShellPassUi ui(shell);
    const engine::RecoveryReport r = engine::Recover(folder, g.ModulePath, ui);
    if (!r.ok()) shell.ShowMessage(kRecoveryFailedText);
    return true;
}

int InitInstance(Shell& shell) {
    if (!shell.InitUi()) {
        shell.ShowMessage(kOleFailedText);
        return 1;
    }
    AppGlobals& g = Globals();
    g.LegacyStore = false;
    g.LaunchField3 = L"0";
    g.ModulePath = plat::ModulePath();
    g.ModuleFolder = plat::ParentWithSep(g.ModulePath);
    g.TargetFolder = g.ModuleFolder;
    // In a folder only this user can write (on Windows the temporary folder).
    g.LogFilePath = engine::DefaultLogPath();
    if (!g.LogFilePath.empty()) (void)plat::Fs().DeleteFile(g.LogFilePath);
    g.SystemDir = plat::WithSep(plat::SystemDir());

    shell.StartUpdateCheck();

    const int form = ParseLaunchArguments(g, plat::CommandLine());
    if (form == kTooOldCaller) {
        shell.ShowMessage(kNotLatestText);
        return 0;
    }
    std::wstring osText;
    (void)GetOsVersionText(g, plat::GetOsVersion(), &osText);
    g.AppDataDir = ResolveAppDataDir();

    ResolveStorePaths(g, g.ModuleFolder);
    g.EncryptedSuffix = L".zpwenc0";
    g.StoreDataRel = store::DataRel();
    g.StoreParamRel = store::ParamRel();

    CleanUpAfterUpgrade(g, shell);
    if (!SettleInterruptedPass(g, shell)) return 0;
    (void)ApplyHiddenFilesSetting(Settings::AutoHide());
    // A run killed while a drive was mapped left its letter behind; that
    // drive would be refused for encryption for good.
    (void)DropUndefinedMappedDrives(plat::LogicalDrives());
    ReadStartupPassword(g);

    SelectRole(g, shell);
    return shell.ExitCode();
}

}  // namespace app
