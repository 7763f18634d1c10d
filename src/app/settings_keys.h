// Every setting of the program with its type and default, in one place.
#pragma once

#include <string>

#include "platform/settings.h"

namespace app {

// Section of the Windows profile (win.ini) the program uses.
inline constexpr const wchar_t* kWinIniSection = L"岚栩只读加密";
// The sibling product's section and key; read only.
inline constexpr const wchar_t* kSiblingSection = L"岚栩加密";
inline constexpr const wchar_t* kSiblingExePathKey = L"exepath";

inline constexpr const wchar_t* kDefaultTip =
    L"岚栩只读加密的文件夹，运行该文件夹下的ulxjm.exe解密";

// Application profile values (registry profile, empty section).
struct ProfileKeys {
    static constexpr const wchar_t* AutoHide = L"AutoHide";    // int, 1
    static constexpr const wchar_t* JiamiFlag = L"JiamiFlag";  // int, 1
    static constexpr const wchar_t* Tips = L"szTips";          // string, kDefaultTip
    static constexpr const wchar_t* ReadMeFlag = L"ReadMe";    // int, 0
    // string, absent. Registry value names ignore case, so the text cannot
    // share the name of the "ReadMe" switch: each would overwrite the other.
    static constexpr const wchar_t* ReadmeText = L"szReadme";
    static constexpr const wchar_t* Filter = L"Filter";        // int, 1
    static constexpr const wchar_t* FilterText = L"szFilter";  // string, empty
    static constexpr const wchar_t* MapDriver = L"MapDriver";  // string, empty
};

// Per-user values that earlier versions kept in kWinIniSection of win.ini.
// They are written to the registry profile (empty section, same names): a
// standard user of current Windows cannot write win.ini. The win.ini value
// is still read while the profile holds none.
struct WinIniKeys {
    static constexpr const wchar_t* MailAddress = L"mailaddr";   // string, empty
    static constexpr const wchar_t* First = L"First";            // int, 1
    static constexpr const wchar_t* DecryptType = L"jiemitype";  // string "0".."3"
    static constexpr const wchar_t* DecryptFirst = L"u2088";     // int, 1
    static constexpr const wchar_t* Error = L"Error";            // string, engine status
};

// Typed access with the defaults.
struct Settings {
    static int AutoHide() { return Profile().GetProfileInt(L"", ProfileKeys::AutoHide, 1); }
    static int JiamiFlag() { return Profile().GetProfileInt(L"", ProfileKeys::JiamiFlag, 1); }
    static std::wstring Tips() {
        return Profile().GetProfileString(L"", ProfileKeys::Tips, kDefaultTip);
    }
    static int ReadMeFlag() { return Profile().GetProfileInt(L"", ProfileKeys::ReadMeFlag, 0); }
    static bool HasReadmeText() { return Profile().HasProfileValue(L"", ProfileKeys::ReadmeText); }
    static std::wstring ReadmeText(const std::wstring& def) {
        return Profile().GetProfileString(L"", ProfileKeys::ReadmeText, def);
    }
    static int Filter() { return Profile().GetProfileInt(L"", ProfileKeys::Filter, 1); }
    static std::wstring FilterText() {
        return Profile().GetProfileString(L"", ProfileKeys::FilterText, L"");
    }
    static std::wstring MapDriver() {
        return Profile().GetProfileString(L"", ProfileKeys::MapDriver, L"");
    }
    static std::wstring MailAddress() {
        std::wstring m = UserString(WinIniKeys::MailAddress, L"");
        if (m.size() > 260) m.resize(260);
        return m;
    }
    static bool SetMailAddress(const std::wstring& m) {
        return Profile().WriteProfileString(L"", WinIniKeys::MailAddress, m);
    }
    static int First() { return UserInt(WinIniKeys::First, 1); }
    static bool SetFirst(int v) { return Profile().WriteProfileInt(L"", WinIniKeys::First, v); }
    static std::wstring DecryptType() { return UserString(WinIniKeys::DecryptType, L""); }
    static bool SetDecryptType(const std::wstring& t) {
        return Profile().WriteProfileString(L"", WinIniKeys::DecryptType, t);
    }
    static int DecryptFirst() { return UserInt(WinIniKeys::DecryptFirst, 1); }
    static bool SetDecryptFirst(int v) {
        return Profile().WriteProfileInt(L"", WinIniKeys::DecryptFirst, v);
    }
    static int ErrorMarker() { return UserInt(WinIniKeys::Error, 0); }
    static bool SetErrorMarker(int v) {
        return Profile().WriteProfileInt(L"", WinIniKeys::Error, v);
    }
    static std::wstring SiblingExePath() {
        return Profile().GetWinIniString(kSiblingSection, kSiblingExePathKey, L"");
    }

    static plat::Settings& Profile() { return plat::UserSettings(); }

    // A per-user value of WinIniKeys: the profile's, else win.ini's.
    static int UserInt(const wchar_t* key, int def) {
        if (Profile().HasProfileValue(L"", key)) return Profile().GetProfileInt(L"", key, def);
        return Profile().GetWinIniInt(kWinIniSection, key, def);
    }
    static std::wstring UserString(const wchar_t* key, const std::wstring& def) {
        if (Profile().HasProfileValue(L"", key)) return Profile().GetProfileString(L"", key, def);
        return Profile().GetWinIniString(kWinIniSection, key, def);
    }
};

}  // namespace app
