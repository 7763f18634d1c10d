// Process, folder, drive, time and shell services of Windows.
#include "platform/env.h"
#include "platform/win32/win.h"
// After windows.h:
#include <shellapi.h>
#include <shlobj.h>

namespace plat {
namespace {

std::wstring WithBackslash(std::wstring path) {
    if (!path.empty() && path.back() != L'\\') path += L'\\';
    return path;
}

// Calls `get(buffer, size)` with a growing buffer, as the Win32 calls that
// return the needed size do.
template <typename Get>
std::wstring GrowingCall(Get get) {
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = get(buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return {};
        if (n < buf.size()) {
            buf.resize(n);
            return buf;
        }
        buf.resize(n + 1);
    }
}

}  // namespace

std::wstring ModulePath() {
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return {};
        if (n < buf.size()) {
            buf.resize(n);
            return buf;
        }
        buf.resize(buf.size() * 2);
    }
}

std::wstring CommandLine() {
    return GetCommandLineW();
}

std::wstring CurrentDir() {
    return GrowingCall([](wchar_t* b, DWORD n) { return GetCurrentDirectoryW(n, b); });
}

bool SetCurrentDir(const std::wstring& dir) {
    return SetCurrentDirectoryW(dir.c_str()) != FALSE;
}

std::wstring TempDir() {
    return WithBackslash(GrowingCall([](wchar_t* b, DWORD n) { return GetTempPathW(n, b); }));
}

std::wstring SystemDir() {
    return WithBackslash(GrowingCall(
        [](wchar_t* b, DWORD n) { return static_cast<DWORD>(GetSystemDirectoryW(b, n)); }));
}

std::wstring UserAppDataDir() {
    wchar_t buf[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, buf, CSIDL_APPDATA, FALSE)) return {};
    std::wstring dir = buf;
    while (dir.size() > 3 && dir.back() == L'\\') dir.pop_back();
    return dir;
}

std::vector<DriveInfo> LogicalDrives() {
    std::vector<DriveInfo> drives;
    DWORD n = GetLogicalDriveStringsW(0, nullptr);
    if (n == 0) return drives;
    std::wstring buf(n + 1, L'\0');
    n = GetLogicalDriveStringsW(static_cast<DWORD>(buf.size()), buf.data());
    for (const wchar_t* p = buf.c_str(); *p; p += wcslen(p) + 1) {
        DriveInfo d;
        d.root = p;
        d.type = static_cast<DriveType>(GetDriveTypeW(p));
        if (d.type == DriveType::Removable) {
            // An empty slot fails here; no "insert a disk" box may appear.
            const UINT old = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
            d.hasMedia = GetVolumeInformationW(p, nullptr, 0, nullptr, nullptr, nullptr, nullptr,
                                               0) != FALSE;
            SetErrorMode(old);
        }
        drives.push_back(std::move(d));
    }
    return drives;
}

DriveType GetDriveType(const std::wstring& root) {
    return static_cast<DriveType>(GetDriveTypeW(root.c_str()));
}

std::wstring DriveRootOf(const std::wstring& path) {
    wchar_t buf[MAX_PATH + 1] = {};
    if (GetVolumePathNameW(path.c_str(), buf, MAX_PATH)) return WithBackslash(buf);
    if (path.size() >= 2 && path[1] == L':') return path.substr(0, 2) + L"\\";
    return {};
}

OsVersion GetOsVersion() {
    OsVersion v;
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(&info)) return v;
#pragma GCC diagnostic pop
    v.ok = true;
    v.platformId = info.dwPlatformId;
    v.major = info.dwMajorVersion;
    v.minor = info.dwMinorVersion;
    v.servicePack = info.szCSDVersion;
    return v;
}

bool FileTimeToLocal(FileTime t, LocalTime* out) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(t & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
    SYSTEMTIME utc, local;
    if (!FileTimeToSystemTime(&ft, &utc)) return false;
    // The time zone rules of that date, not of today.
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) return false;
    out->year = local.wYear;
    out->month = local.wMonth;
    out->day = local.wDay;
    out->hour = local.wHour;
    out->minute = local.wMinute;
    out->second = local.wSecond;
    return true;
}

FileTime NowFileTime() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return (static_cast<FileTime>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

uint64_t TickMs() {
    return GetTickCount64();
}

bool ShellOpen(const std::wstring& path) {
    HINSTANCE r = ShellExecuteW(nullptr, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(r) > 32;
}

namespace {
LONG WINAPI EndWithoutReport(EXCEPTION_POINTERS*) {
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}
}  // namespace

void KeepSecretsOutOfDumps() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    // wer.dll is not on every system (nor every Wine): asked for at run time.
    if (HMODULE wer = LoadLibraryW(L"wer.dll")) {
        using Exclude = HRESULT(WINAPI*)(PCWSTR, BOOL);
        auto exclude = reinterpret_cast<Exclude>(
            reinterpret_cast<void*>(GetProcAddress(wer, "WerAddExcludedApplication")));
        wchar_t path[MAX_PATH];
        const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
        if (exclude && n > 0 && n < MAX_PATH) (void)exclude(path, FALSE);
    }
    SetUnhandledExceptionFilter(EndWithoutReport);
}

}  // namespace plat
