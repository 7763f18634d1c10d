// Per-user settings: the application's registry profile, sections of the
// Windows profile (win.ini) and private INI files. On posix all three live in
// INI files under $XDG_CONFIG_HOME/ulxjm/ with the same sections, keys and
// defaults. Reads return the default for a missing key; write failures are
// reported but callers may ignore them.
#pragma once

#include <cstdint>
#include <string>

namespace plat {

class Settings {
public:
    virtual ~Settings() = default;

    // Application profile (HKCU\Software\ulxjm\<title>, values under `section`;
    // the empty section addresses the key itself).
    virtual int GetProfileInt(const std::wstring& section, const std::wstring& key, int def) = 0;
    virtual std::wstring GetProfileString(const std::wstring& section, const std::wstring& key,
                                          const std::wstring& def) = 0;
    // True when the value exists (so an empty stored text is not a default).
    virtual bool HasProfileValue(const std::wstring& section, const std::wstring& key) = 0;
    virtual bool WriteProfileInt(const std::wstring& section, const std::wstring& key,
                                 int value) = 0;
    virtual bool WriteProfileString(const std::wstring& section, const std::wstring& key,
                                    const std::wstring& value) = 0;

    // Windows profile (win.ini) sections.
    virtual int GetWinIniInt(const std::wstring& section, const std::wstring& key, int def) = 0;
    virtual std::wstring GetWinIniString(const std::wstring& section, const std::wstring& key,
                                         const std::wstring& def) = 0;
    virtual bool WriteWinIniString(const std::wstring& section, const std::wstring& key,
                                   const std::wstring& value) = 0;

    // Private INI files (GetPrivateProfile*W).
    virtual int GetPrivateInt(const std::wstring& file, const std::wstring& section,
                              const std::wstring& key, int def) = 0;
    virtual std::wstring GetPrivateString(const std::wstring& file, const std::wstring& section,
                                          const std::wstring& key, const std::wstring& def) = 0;
    virtual bool WritePrivateString(const std::wstring& file, const std::wstring& section,
                                    const std::wstring& key, const std::wstring& value) = 0;

    // Explorer's "SuperHidden"/"ShowSuperHidden" values under
    // HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Advanced.
    // False when the key cannot be opened for writing.
    virtual bool WriteExplorerHiddenPrefs(uint32_t superHidden, uint32_t showSuperHidden) = 0;
    // Reads one of them back (-1 when absent); used by tests and the CLI.
    virtual long ReadExplorerValue(const std::wstring& name) = 0;
};

// The settings of the current user. `appKey`/`appTitle` name the registry
// profile ("ulxjm", "岚栩只读加密"). Returns the store a ScopedSettings
// installed, else OsUserSettings() (both in common.cpp).
Settings& UserSettings();
// The operating system's per-user store, one per platform (registry and
// profile functions on Windows, INI files under $XDG_CONFIG_HOME/ulxjm/ on
// posix). Call UserSettings() instead so tests can swap the store.
Settings& OsUserSettings();

// Installs another settings store for its lifetime (tests).
class ScopedSettings {
public:
    explicit ScopedSettings(Settings& s);
    ~ScopedSettings();
    ScopedSettings(const ScopedSettings&) = delete;
    ScopedSettings& operator=(const ScopedSettings&) = delete;

private:
    Settings* previous_;
};

}  // namespace plat

#include <memory>

namespace plat {
// A settings store kept in INI files (ANSI code page) inside `folder`:
// "profile.ini" for the application profile, "win.ini" for the Windows
// profile sections, "explorer.ini" for the Explorer values. The posix build
// uses it as the user's settings; tests use it on both builds.
std::unique_ptr<Settings> MakeIniSettings(const std::wstring& folder);
}  // namespace plat
