// Private files on Windows: the temporary folder is the user's own, so the
// care left is not to go through a link someone placed.
#include <algorithm>

#include "platform/env.h"
#include "platform/fs.h"
#include "platform/private_file.h"
#include "platform/win32/win.h"

namespace plat {

namespace {

// The reparse point itself is opened; a handle on one is closed and refused.
HANDLE OpenPrivate(const std::wstring& path, DWORD access, DWORD disposition) {
    HANDLE h = CreateFileW(
        path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return h;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        CloseHandle(h);
        ::SetLastError(kErrCantAccessFile);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

}  // namespace

bool AppendToPrivateFile(const std::wstring& path, const std::string& bytes) {
    HANDLE h = OpenPrivate(path, FILE_APPEND_DATA, OPEN_ALWAYS);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD done = 0;
    BOOL ok = WriteFile(h, bytes.data(), DWORD(bytes.size()), &done, nullptr);
    DWORD err = GetLastError();
    CloseHandle(h);
    if (!ok || done != bytes.size()) {
        ::SetLastError(ok ? ERROR_DISK_FULL : err);
        return false;
    }
    ::SetLastError(ERROR_SUCCESS);
    return true;
}

bool ReadPrivateFile(const std::wstring& path, size_t cap, std::string* out, bool* cut) {
    out->clear();
    if (cut) *cut = false;
    HANDLE h = OpenPrivate(path, GENERIC_READ, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) return false;
    char buf[8192];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(h, buf, sizeof(buf), &n, nullptr)) {
            DWORD err = GetLastError();
            CloseHandle(h);
            ::SetLastError(err);
            return false;
        }
        if (n == 0) break;
        size_t take = std::min(size_t(n), cap - out->size());
        out->append(buf, take);
        if (take < n) {
            if (cut) *cut = true;
            break;
        }
    }
    CloseHandle(h);
    ::SetLastError(ERROR_SUCCESS);
    return true;
}

std::wstring PrivateTempDir() {
    return TempDir();
}

}  // namespace plat
