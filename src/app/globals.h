// Process-wide paths and flags filled at start-up.
#pragma once

#include <string>

namespace app {

inline constexpr int kVersion = 3069;
inline constexpr const wchar_t* kAppTitle = L"岚栩只读加密";
inline constexpr const wchar_t* kRegistryKey = L"ulxjm";
inline constexpr const wchar_t* kLogFileName = L"easylog.txt";
// Host of the program's web pages (first-run page, updates, readme text).
// A placeholder until the release names the real one.
inline constexpr const wchar_t* kWebHost = L"www.ulxjm.example";

struct AppGlobals {
    bool LegacyStore = false;
    std::wstring LaunchField3 = L"0";
    std::wstring ModulePath;
    std::wstring ModuleFolder;  // with trailing separator
    std::wstring TargetFolder;
    std::wstring LogFilePath;
    std::wstring SystemDir;
    bool LaunchedWithArguments = false;
    // The user chose TargetFolder (another folder opened from a list, or
    // "加密其他"): the encrypt window offers it, whatever drives there are.
    bool TargetChosen = false;
    std::wstring PresetPassword;
    std::wstring MailAddress;
    bool IsVistaOrLater = false;
    std::wstring AppDataDir;
    std::wstring EncryptedSuffix = L".zpwenc0";
    std::wstring StoreDataRel, StoreParamRel;
    std::wstring FoundDataRel, FoundParamRel;
    std::wstring StoreDataDir, StoreParamDir;  // no trailing separator
    std::wstring StartupPasswordLine;
};

// The one record of the process. Start-up fills it on the main thread before
// any pass starts; passes only read it.
AppGlobals& Globals();

}  // namespace app
