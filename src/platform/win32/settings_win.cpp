// Per-user settings on Windows: the application's registry profile (laid out
// as MFC's profile functions keep it), win.ini and private INI files through
// the profile API, and Explorer's hidden-files values.
#include <vector>

#include "platform/settings.h"
#include "platform/win32/win.h"

namespace plat {
namespace {

constexpr const wchar_t* kProfileKey = L"Software\\ulxjm\\岚栩只读加密";
constexpr const wchar_t* kExplorerAdvanced =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced";

// Reads a profile string through `get(buffer, size)`, growing the buffer
// while the API reports it truncated (it then returns size - 1 or size - 2).
template <typename Get>
std::wstring ReadProfileText(Get get) {
    std::vector<wchar_t> buf(512);
    for (;;) {
        DWORD n = get(buf.data(), static_cast<DWORD>(buf.size()));
        if (n + 2 < buf.size()) return std::wstring(buf.data(), n);
        buf.resize(buf.size() * 4);
    }
}

class RegKey {
  public:
    RegKey() = default;
    ~RegKey() {
        if (h_) RegCloseKey(h_);
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    HKEY* out() { return &h_; }
    HKEY get() const { return h_; }

  private:
    HKEY h_ = nullptr;
};

std::wstring SectionKey(const std::wstring& section) {
    std::wstring path = kProfileKey;
    if (!section.empty()) path += L"\\" + section;
    return path;
}

bool OpenSection(const std::wstring& section, RegKey* key) {
    return RegOpenKeyExW(HKEY_CURRENT_USER, SectionKey(section).c_str(), 0, KEY_READ, key->out()) ==
           ERROR_SUCCESS;
}

bool CreateSection(const std::wstring& section, RegKey* key) {
    return RegCreateKeyExW(HKEY_CURRENT_USER, SectionKey(section).c_str(), 0, nullptr,
                           REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr, key->out(),
                           nullptr) == ERROR_SUCCESS;
}

class WinSettings final : public Settings {
  public:
    int GetProfileInt(const std::wstring& section, const std::wstring& key, int def) override {
        RegKey k;
        if (!OpenSection(section, &k)) return def;
        DWORD type = 0, value = 0, size = sizeof(value);
        if (RegQueryValueExW(k.get(), key.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value),
                             &size) != ERROR_SUCCESS ||
            type != REG_DWORD || size != sizeof(value))
            return def;
        return static_cast<int>(value);
    }

    std::wstring GetProfileString(const std::wstring& section, const std::wstring& key,
                                  const std::wstring& def) override {
        RegKey k;
        if (!OpenSection(section, &k)) return def;
        DWORD type = 0, size = 0;
        if (RegQueryValueExW(k.get(), key.c_str(), nullptr, &type, nullptr, &size) !=
                ERROR_SUCCESS ||
            (type != REG_SZ && type != REG_EXPAND_SZ))
            return def;
        std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
        size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
        if (RegQueryValueExW(k.get(), key.c_str(), nullptr, &type,
                             reinterpret_cast<BYTE*>(value.data()), &size) != ERROR_SUCCESS)
            return def;
        value.resize(size / sizeof(wchar_t));
        // The stored size counts the terminating null (when there is one).
        while (!value.empty() && value.back() == L'\0') value.pop_back();
        return value;
    }

    bool HasProfileValue(const std::wstring& section, const std::wstring& key) override {
        RegKey k;
        if (!OpenSection(section, &k)) return false;
        return RegQueryValueExW(k.get(), key.c_str(), nullptr, nullptr, nullptr, nullptr) ==
               ERROR_SUCCESS;
    }

    bool WriteProfileInt(const std::wstring& section, const std::wstring& key, int value) override {
        RegKey k;
        if (!CreateSection(section, &k)) return false;
        DWORD v = static_cast<DWORD>(value);
        return RegSetValueExW(k.get(), key.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v),
                              sizeof(v)) == ERROR_SUCCESS;
    }

    bool WriteProfileString(const std::wstring& section, const std::wstring& key,
                            const std::wstring& value) override {
        RegKey k;
        if (!CreateSection(section, &k)) return false;
        return RegSetValueExW(
                   k.get(), key.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    }

    int GetWinIniInt(const std::wstring& section, const std::wstring& key, int def) override {
        return static_cast<int>(GetProfileIntW(section.c_str(), key.c_str(), def));
    }

    std::wstring GetWinIniString(const std::wstring& section, const std::wstring& key,
                                 const std::wstring& def) override {
        return ReadProfileText([&](wchar_t* b, DWORD n) {
            return GetProfileStringW(section.c_str(), key.c_str(), def.c_str(), b, n);
        });
    }

    bool WriteWinIniString(const std::wstring& section, const std::wstring& key,
                           const std::wstring& value) override {
        return WriteProfileStringW(section.c_str(), key.c_str(), value.c_str()) != FALSE;
    }

    int GetPrivateInt(const std::wstring& file, const std::wstring& section,
                      const std::wstring& key, int def) override {
        return static_cast<int>(
            GetPrivateProfileIntW(section.c_str(), key.c_str(), def, file.c_str()));
    }

    std::wstring GetPrivateString(const std::wstring& file, const std::wstring& section,
                                  const std::wstring& key, const std::wstring& def) override {
        return ReadProfileText([&](wchar_t* b, DWORD n) {
            return GetPrivateProfileStringW(section.c_str(), key.c_str(), def.c_str(), b, n,
                                            file.c_str());
        });
    }

    bool WritePrivateString(const std::wstring& file, const std::wstring& section,
                            const std::wstring& key, const std::wstring& value) override {
        return WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(),
                                          file.c_str()) != FALSE;
    }

    bool WriteExplorerHiddenPrefs(uint32_t superHidden, uint32_t showSuperHidden) override {
        RegKey k;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, kExplorerAdvanced, 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr, k.out(),
                            nullptr) != ERROR_SUCCESS)
            return false;
        DWORD a = superHidden, b = showSuperHidden;
        bool ok = RegSetValueExW(k.get(), L"SuperHidden", 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&a), sizeof(a)) == ERROR_SUCCESS;
        ok = RegSetValueExW(k.get(), L"ShowSuperHidden", 0, REG_DWORD,
                            reinterpret_cast<const BYTE*>(&b), sizeof(b)) == ERROR_SUCCESS &&
             ok;
        return ok;
    }

    long ReadExplorerValue(const std::wstring& name) override {
        RegKey k;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kExplorerAdvanced, 0, KEY_READ, k.out()) !=
            ERROR_SUCCESS)
            return -1;
        DWORD type = 0, value = 0, size = sizeof(value);
        if (RegQueryValueExW(k.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value),
                             &size) != ERROR_SUCCESS ||
            type != REG_DWORD)
            return -1;
        return static_cast<long>(value);
    }
};

}  // namespace

Settings& OsUserSettings() {
    static WinSettings settings;
    return settings;
}

}  // namespace plat
