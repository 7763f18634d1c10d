// Start-up: fills the process-wide record, reads the launch arguments, tidies
// up after an upgrade, applies the hidden-files preference and opens the
// window the folder calls for.
#pragma once

#include <string>
#include <vector>

#include "app/globals.h"
#include "app/shell.h"
#include "platform/env.h"

namespace app {

// Results of ParseLaunchArguments.
enum LaunchForm : int {
    kNoArguments = 0,
    kOpenFolder = 1,     // "," + folder: run as if located there
    kTooOldCaller = 2,   // exactly two commas: refused with the version message
    kEncryptAtOnce = 4,  // folder,password,field3,mail
};

inline constexpr const wchar_t* kOleFailedText = L"OLE 初始化失败。请确保 OLE 库是正确的版本。";
inline constexpr const wchar_t* kFolderBusyText =
    L"该文件夹正在被另一个岚栩只读加密处理，请稍后再试。";
inline constexpr const wchar_t* kRecoveryFailedText =
    L"该文件夹中有上次中断的操作没能恢复。请检查磁盘是否可以写入，然后再运行一次。";
inline constexpr const wchar_t* kNotLatestText =
    L"岚栩只读加密不是最新版本，请更新到最新的版本再加密。";
inline constexpr const wchar_t* kUpgradedFormat = L"岚栩只读加密已经升级到 %d 版本。";
inline constexpr const wchar_t* kStartupPasswordFile = L"mima.dat";

// Splits `commandLine` after the first literal occurrence of g.ModulePath.
int ParseLaunchArguments(AppGlobals& g, const std::wstring& commandLine);
// -1 when unknown, 1 for the NT family, 0 otherwise; sets g.IsVistaOrLater.
int GetOsVersionText(AppGlobals& g, const plat::OsVersion& v, std::wstring* text);
void ResolveStorePaths(AppGlobals& g, const std::wstring& folder);
// Removes the previous executable a self-update left as ModulePath + ".old".
void CleanUpAfterUpgrade(AppGlobals& g, Shell& shell);
bool ApplyHiddenFilesSetting(int autoHide);
void ReadStartupPassword(AppGlobals& g);
// The drive names ("F:") of the profile text "MapDriver" that are still
// defined among `drives`, in their order.
std::wstring KeepDefinedDrives(const std::wstring& mapDriver,
                               const std::vector<plat::DriveInfo>& drives);
// Rewrites "MapDriver" without the drives no longer defined; false when the
// profile could not be written.
bool DropUndefinedMappedDrives(const std::vector<plat::DriveInfo>& drives);
// The per-user data folder ("tuotuoyan" under the application-data folder).
std::wstring ResolveAppDataDir();

// Opens the decrypt window when the folder (or the one named by the
// one-field launch form) holds a store, the encrypt window otherwise.
void SelectRole(AppGlobals& g, Shell& shell);

// The whole start-up; returns the process exit code.
// Settles what an interrupted pass left in the folder the program runs in,
// holding the folder's lock meanwhile. False when another run works on the
// folder, or a store folder is not really inside it (the user was told; the
// program ends).
bool SettleInterruptedPass(AppGlobals& g, Shell& shell);

int InitInstance(Shell& shell);

}  // namespace app
