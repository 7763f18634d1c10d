// Process, folders, drives, time and shell services of the operating system.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/fs.h"

namespace plat {

// Full path of the running executable (GetModuleFileNameW).
std::wstring ModulePath();
// The whole command line as the OS hands it over (GetCommandLineW).
std::wstring CommandLine();
std::wstring CurrentDir();
[[nodiscard]] bool SetCurrentDir(const std::wstring& dir);
// Temporary-files folder, with a trailing separator (GetTempPathW).
std::wstring TempDir();
// Windows system folder with a trailing separator; on posix "/usr/bin/".
std::wstring SystemDir();
// Per-user application-data folder without a trailing separator
// (CSIDL_APPDATA; on posix $XDG_DATA_HOME or ~/.local/share). Empty on failure.
std::wstring UserAppDataDir();

// Drive types, Win32 values.
enum class DriveType : uint32_t {
    Unknown = 0,
    NoRootDir = 1,
    Removable = 2,
    Fixed = 3,
    Remote = 4,
    CdRom = 5,
    RamDisk = 6,
};

struct DriveInfo {
    std::wstring root;  // "E:\" on Windows, a mount point with trailing '/' on posix
    DriveType type = DriveType::Unknown;
    bool hasMedia = true;  // false for a removable drive without a medium (empty card slot)
};

// Logical drives in the OS order (GetLogicalDriveStringsW + GetDriveTypeW).
std::vector<DriveInfo> LogicalDrives();
DriveType GetDriveType(const std::wstring& root);
// Root of the drive (volume) holding `path`, with trailing separator.
std::wstring DriveRootOf(const std::wstring& path);

// Windows version as GetVersionExW reports it.
struct OsVersion {
    bool ok = false;
    uint32_t platformId = 0;  // 2 = NT family
    uint32_t major = 0;
    uint32_t minor = 0;
    std::wstring servicePack;
};
OsVersion GetOsVersion();

// Local broken-down time.
struct LocalTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
[[nodiscard]] bool FileTimeToLocal(FileTime t, LocalTime* out);
FileTime NowFileTime();
// Milliseconds from a monotonic clock.
uint64_t TickMs();

// Keeps the process's memory (typed passwords, keys) out of crash dumps,
// for the rest of its life; called first thing in main. posix: not
// dumpable (PR_SET_DUMPABLE 0) and a core size limit of 0. Windows: no
// error boxes, the program excluded from Windows Error Reporting for this
// user (WerAddExcludedApplication, which needs no administrator rights),
// and a crash ends the process at once instead of reaching the reporter.
void KeepSecretsOutOfDumps();

// Opens a file or folder with its associated program ("open" verb).
bool ShellOpen(const std::wstring& path);

}  // namespace plat
