// Drive letters on Windows: DOS device definitions (DefineDosDeviceW), a
// reservation of the name onto itself first, then the folder on top.
//
// Wine lists such a definition but reaches nothing through it. There the
// mount manager defines a real drive instead (the way winecfg does), chosen
// at run time: only Wine's kernel32 exports wine_get_unix_file_name.
#include <cstring>
#include <string>
#include <vector>

#include "platform/drive_map.h"
#include "platform/fs.h"
#include "platform/win32/win.h"
// After windows.h (CTL_CODE, left out of the lean windows.h):
#include <winioctl.h>

namespace plat {

namespace {

// Wine's exports (kernel32), allocated on the process heap.
using UnixNameFn = char*(CDECL*)(const WCHAR*);
using DosNameFn = WCHAR*(CDECL*)(const char*);

struct WineCalls {
    UnixNameFn unixName = nullptr;
    DosNameFn dosName = nullptr;
};

const WineCalls& Wine() {
    static const WineCalls calls = [] {
        WineCalls c;
        if (HMODULE k = GetModuleHandleW(L"kernel32.dll")) {
            c.unixName = reinterpret_cast<UnixNameFn>(
                reinterpret_cast<void*>(GetProcAddress(k, "wine_get_unix_file_name")));
            c.dosName = reinterpret_cast<DosNameFn>(
                reinterpret_cast<void*>(GetProcAddress(k, "wine_get_dos_file_name")));
        }
        return c;
    }();
    return calls;
}

bool UnderWine() {
    return Wine().unixName != nullptr;
}

// The mount manager's request for one drive letter (Wine's layout), followed
// by the NUL-terminated Unix strings the offsets point at.
struct UnixDrive {
    ULONG size;
    ULONG type;
    ULONG fsType;
    DWORD serial;
    ULONGLONG unixDev;
    WCHAR letter;
    USHORT mountPointOffset;
    USHORT deviceOffset;
    USHORT labelOffset;
};

constexpr DWORD kDefineUnixDrive =
    CTL_CODE('m', 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
constexpr DWORD kQueryUnixDrive = CTL_CODE('m', 33, METHOD_BUFFERED, FILE_READ_ACCESS);

HANDLE OpenMountManager() {
    return CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

// Defines `letter` onto the Unix folder `unixPath` (type DRIVE_FIXED), or
// removes it (DRIVE_NO_ROOT_DIR, no path).
bool DefineUnixDrive(wchar_t letter, UINT type, const std::string& unixPath) {
    std::string buf(sizeof(UnixDrive) + unixPath.size() + 1, '\0');
    UnixDrive head = {};
    head.size = static_cast<ULONG>(buf.size());
    head.type = type;
    head.letter = letter;
    if (!unixPath.empty()) {
        head.mountPointOffset = sizeof(UnixDrive);
        buf.replace(sizeof(UnixDrive), unixPath.size(), unixPath);
    }
    memcpy(&buf[0], &head, sizeof(head));
    HANDLE mm = OpenMountManager();
    if (mm == INVALID_HANDLE_VALUE) return false;
    DWORD done = 0;
    const BOOL ok = DeviceIoControl(mm, kDefineUnixDrive, &buf[0], static_cast<DWORD>(buf.size()),
                                    nullptr, 0, &done, nullptr);
    const DWORD err = GetLastError();
    CloseHandle(mm);
    ::SetLastError(ok ? ERROR_SUCCESS : err);
    return ok != FALSE;
}

// The Unix folder the mount manager has `letter` on, empty when none.
struct UnixDriveInfo {
    bool found = false;
    UINT type = DRIVE_UNKNOWN;
    std::string mountPoint;
};

UnixDriveInfo QueryUnixDrive(wchar_t letter) {
    UnixDriveInfo info;
    HANDLE mm = OpenMountManager();
    if (mm == INVALID_HANDLE_VALUE) return info;
    std::string buf(sizeof(UnixDrive) + 4096, '\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        UnixDrive head = {};
        head.size = sizeof(head);
        head.letter = letter;
        memcpy(&buf[0], &head, sizeof(head));
        DWORD done = 0;
        const BOOL ok = DeviceIoControl(mm, kQueryUnixDrive, &buf[0], sizeof(head), &buf[0],
                                        static_cast<DWORD>(buf.size()), &done, nullptr);
        if (!ok && GetLastError() == ERROR_MORE_DATA && attempt == 0) {
            memcpy(&head, buf.data(), sizeof(head));
            if (head.size <= buf.size() || head.size > (1u << 20)) break;
            buf.assign(head.size, '\0');
            continue;
        }
        if (ok && done >= sizeof(head)) {
            memcpy(&head, buf.data(), sizeof(head));
            info.found = true;
            info.type = head.type;
            if (head.mountPointOffset >= sizeof(head) && head.mountPointOffset < done)
                info.mountPoint = std::string(buf.c_str() + head.mountPointOffset);
        }
        break;
    }
    CloseHandle(mm);
    return info;
}

// Folder names Wine gives for a Unix path, as `dosName` allocates them.
std::wstring DosNameOf(const std::string& unixPath) {
    if (!Wine().dosName) return std::wstring();
    WCHAR* name = Wine().dosName(unixPath.c_str());
    if (!name) return std::wstring();
    std::wstring out = name;
    HeapFree(GetProcessHeap(), 0, name);
    return out;
}

std::wstring DeviceName(wchar_t letter) {
    return std::wstring(1, letter) + L":";
}

// The definitions of `letter`, newest first (QueryDosDeviceW's list).
std::vector<std::wstring> DosDefinitions(wchar_t letter) {
    std::vector<std::wstring> out;
    std::wstring buf(1024, L'\0');
    for (;;) {
        const DWORD n =
            QueryDosDeviceW(DeviceName(letter).c_str(), &buf[0], static_cast<DWORD>(buf.size()));
        if (n == 0) {
            if (GetLastError() == ERROR_INSUFFICIENT_BUFFER && buf.size() < 65536) {
                buf.resize(buf.size() * 2);
                continue;
            }
            return out;
        }
        for (const wchar_t* p = buf.c_str(); p < buf.c_str() + n && *p; p += wcslen(p) + 1)
            out.emplace_back(p);
        return out;
    }
}

// "\??\Y:", the reservation ReserveDrive makes.
std::wstring ReservationTarget(wchar_t letter) {
    return L"\\??\\" + DeviceName(letter);
}

// The folder of a definition made onto a folder ("\??\C:\x" -> "C:\x",
// "\??\UNC\srv\share" -> "\\srv\share"), empty for anything else (a
// volume device, our reservation).
std::wstring FolderOfDefinition(const std::wstring& target) {
    if (target.compare(0, 4, L"\\??\\") != 0) return std::wstring();
    const std::wstring rest = target.substr(4);
    if (rest.size() >= 3 && rest[1] == L':' && rest[2] == L'\\') return rest;
    if (rest.compare(0, 4, L"UNC\\") == 0 && rest.size() > 4) return L"\\\\" + rest.substr(4);
    return std::wstring();
}

bool InUse(wchar_t letter) {
    return (GetLogicalDrives() & (1u << (letter - L'A'))) != 0 || !DosDefinitions(letter).empty();
}

bool Fail(DWORD code) {
    ::SetLastError(code);
    return false;
}

// An existing folder, not a link, as a full path without trailing separator.
std::wstring FullFolderPath(const std::wstring& folder) {
    if (folder.empty()) return std::wstring();
    const DWORD need = GetFullPathNameW(folder.c_str(), 0, nullptr, nullptr);
    if (need == 0) return std::wstring();
    std::wstring full(need, L'\0');
    const DWORD n = GetFullPathNameW(folder.c_str(), need, &full[0], nullptr);
    if (n == 0 || n >= need) return std::wstring();
    full.resize(n);
    const DWORD attrs = GetFileAttributesW(full.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTRIBUTE_DIRECTORY) ||
        (attrs & FILE_ATTRIBUTE_REPARSE_POINT))
        return std::wstring();
    return WithoutSep(full);
}

}  // namespace

std::wstring DriveLettersInUse() {
    std::wstring letters;
    const DWORD mask = GetLogicalDrives();
    for (int i = 0; i < 26; ++i)
        if (mask & (1u << i)) letters += wchar_t(L'A' + i);
    return letters;
}

bool ReserveDrive(const std::wstring& drive) {
    const wchar_t letter = DriveLetter(drive);
    if (!letter) return Fail(ERROR_INVALID_PARAMETER);
    if (InUse(letter)) return Fail(ERROR_ALREADY_EXISTS);
    if (UnderWine()) {
        ::SetLastError(ERROR_SUCCESS);
        return true;
    }
    return DefineDosDeviceW(0, DeviceName(letter).c_str(), DeviceName(letter).c_str()) != FALSE;
}

bool MapDrive(const std::wstring& drive, const std::wstring& folder) {
    const wchar_t letter = DriveLetter(drive);
    if (!letter) return Fail(ERROR_INVALID_PARAMETER);
    const std::wstring full = FullFolderPath(folder);
    if (full.empty()) return Fail(ERROR_PATH_NOT_FOUND);

    if (UnderWine()) {
        // The mount manager replaces a drive without a word.
        if (InUse(letter)) return Fail(ERROR_ALREADY_EXISTS);
        char* unixName = Wine().unixName(full.c_str());
        if (!unixName) return Fail(ERROR_PATH_NOT_FOUND);
        const std::string unixPath = unixName;
        HeapFree(GetProcessHeap(), 0, unixName);
        return DefineUnixDrive(letter, DRIVE_FIXED, unixPath);
    }

    // Free, or holding only our reservation.
    const std::vector<std::wstring> defs = DosDefinitions(letter);
    const bool reservedByUs = !defs.empty() && defs.front() == ReservationTarget(letter);
    if (!reservedByUs && InUse(letter)) return Fail(ERROR_ALREADY_EXISTS);
    return DefineDosDeviceW(0, DeviceName(letter).c_str(), full.c_str()) != FALSE;
}

void ReleaseDrive(const std::wstring& drive) {
    const wchar_t letter = DriveLetter(drive);
    if (!letter) return;
    const DWORD saved = GetLastError();
    if (UnderWine()) {
        // Any folder drive, even one whose folder is gone; never the Unix
        // root nor the prefix's own drive_c.
        const UnixDriveInfo info = QueryUnixDrive(letter);
        const std::string& path = info.mountPoint;
        const bool prefixDrive =
            path.size() >= 8 && path.compare(path.size() - 8, 8, "/drive_c") == 0;
        if (info.found && info.type == DRIVE_FIXED && path.size() > 1 && path[0] == '/' &&
            !prefixDrive)
            (void)DefineUnixDrive(letter, DRIVE_NO_ROOT_DIR, "");
        ::SetLastError(saved);
        return;
    }
    // Newest first: our folder on top of our reservation. Each is removed
    // by its exact target, so a volume's own definition is never touched.
    for (int i = 0; i < 4; ++i) {
        const std::vector<std::wstring> defs = DosDefinitions(letter);
        if (defs.empty()) break;
        const std::wstring& top = defs.front();
        if (top != ReservationTarget(letter) && FolderOfDefinition(top).empty()) break;
        if (!DefineDosDeviceW(
                DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE | DDD_RAW_TARGET_PATH,
                DeviceName(letter).c_str(), top.c_str()))
            break;
    }
    ::SetLastError(saved);
}

std::wstring DriveRootPath(const std::wstring& drive) {
    const wchar_t letter = DriveLetter(drive);
    return letter ? DeviceName(letter) + L"\\" : std::wstring();
}

std::wstring MappedFolderOf(const std::wstring& drive) {
    const wchar_t letter = DriveLetter(drive);
    if (!letter) return std::wstring();
    if (UnderWine()) {
        const UnixDriveInfo info = QueryUnixDrive(letter);
        // Only a fixed drive on a folder below the Unix root, as MapDrive
        // makes them; Wine's own "/" (Z:) is none.
        const std::string& path = info.mountPoint;
        if (!info.found || info.type != DRIVE_FIXED || path.size() < 2 || path[0] != '/')
            return std::wstring();
        // Asked for the folder itself, Wine would answer with this very
        // drive; its parent is reached through another one.
        std::string parent = path;
        while (parent.size() > 1 && parent.back() == '/') parent.pop_back();
        const size_t slash = parent.rfind('/');
        const std::string leaf = parent.substr(slash + 1);
        parent.resize(slash == 0 ? 1 : slash);
        const std::wstring dosParent = DosNameOf(parent);
        if (dosParent.empty() || leaf.empty()) return std::wstring();
        const int n =
            MultiByteToWideChar(CP_UTF8, 0, leaf.data(), static_cast<int>(leaf.size()), nullptr, 0);
        std::wstring wideLeaf(static_cast<size_t>(n), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, leaf.data(), static_cast<int>(leaf.size()), &wideLeaf[0],
                            n);
        return JoinPath(dosParent, wideLeaf);
    }
    const std::vector<std::wstring> defs = DosDefinitions(letter);
    if (defs.empty()) return std::wstring();
    return WithoutSep(FolderOfDefinition(defs.front()));
}

}  // namespace plat
