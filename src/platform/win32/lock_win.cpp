// Folder locks on Windows: a named mutex per folder.
//
// A mutex belongs to the thread that took it, and only that thread can
// release it. Passes may end on another thread than the one that started
// them, so each lock keeps a small thread of its own that takes the mutex,
// waits for the release and lets it go.
#include <cstdio>
#include <mutex>
#include <set>
#include <thread>

#include "platform/fs.h"
#include "platform/lock.h"
#include "platform/win32/win.h"

namespace plat {

namespace {

// The name every process derives from the same folder, however it was
// spelled: long form, upper case, no trailing separator.
std::wstring LockKey(const std::wstring& folder) {
    std::wstring path = folder;
    DWORD n = GetFullPathNameW(folder.c_str(), 0, nullptr, nullptr);
    if (n) {
        std::wstring full(n, L'\0');
        n = GetFullPathNameW(folder.c_str(), n, full.data(), nullptr);
        if (n && n < full.size()) path.assign(full.data(), n);
    }
    std::wstring longName = OsFileSystem().LongPathName(path);
    if (!longName.empty()) path = longName;
    path = WithoutSep(path);
    if (!path.empty()) CharUpperBuffW(path.data(), static_cast<DWORD>(path.size()));
    uint64_t h = 1469598103934665603ULL;  // FNV-1a 64
    for (wchar_t c : path) {
        for (unsigned byte : {unsigned(c) & 0xFF, (unsigned(c) >> 8) & 0xFF}) {
            h ^= byte;
            h *= 1099511628211ULL;
        }
    }
    wchar_t hex[17];
    std::swprintf(hex, 17, L"%016llx", static_cast<unsigned long long>(h));
    return hex;
}

std::mutex& HeldLock() {
    static std::mutex m;
    return m;
}
std::set<std::wstring>& Held() {
    static std::set<std::wstring> held;
    return held;
}

class Win32FolderLock final : public FolderLock {
  public:
    Win32FolderLock(std::wstring key, HANDLE release, std::thread holder)
        : key_(std::move(key)), release_(release), holder_(std::move(holder)) {}
    ~Win32FolderLock() override {
        SetEvent(release_);
        holder_.join();
        CloseHandle(release_);
        std::lock_guard<std::mutex> g(HeldLock());
        Held().erase(key_);
    }
    Win32FolderLock(const Win32FolderLock&) = delete;
    Win32FolderLock& operator=(const Win32FolderLock&) = delete;

  private:
    std::wstring key_;
    HANDLE release_;
    std::thread holder_;
};

}  // namespace

std::unique_ptr<FolderLock> TryLockFolder(const std::wstring& folder, uint32_t* error) {
    uint32_t ignored = 0;
    if (!error) error = &ignored;
    DWORD a = GetFileAttributesW(folder.c_str());
    if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) {
        *error = a == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_DIRECTORY;
        return nullptr;
    }
    const std::wstring key = LockKey(folder);
    {
        std::lock_guard<std::mutex> g(HeldLock());
        if (!Held().insert(key).second) {
            *error = kErrSharingViolation;
            return nullptr;
        }
    }
    auto unregister = [&key] {
        std::lock_guard<std::mutex> g(HeldLock());
        Held().erase(key);
    };
    HANDLE taken = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!taken || !release) {
        *error = GetLastError();
        if (taken) CloseHandle(taken);
        if (release) CloseHandle(release);
        unregister();
        return nullptr;
    }
    const std::wstring name = L"Global\\ulxjm-folder-" + key;
    DWORD result = ERROR_SUCCESS;  // set by the holder before `taken`
    std::thread holder([&name, &result, taken, release] {
        HANDLE m = CreateMutexW(nullptr, FALSE, name.c_str());
        if (!m) {
            // Another user's mutex may refuse us access: it is held all the same.
            result = GetLastError() == ERROR_ACCESS_DENIED ? DWORD(kErrSharingViolation)
                                                           : GetLastError();
            SetEvent(taken);
            return;
        }
        DWORD w = WaitForSingleObject(m, 0);
        // WAIT_ABANDONED: the holder died with it; it is ours now.
        const bool owned = w == WAIT_OBJECT_0 || w == WAIT_ABANDONED;
        result = owned               ? ERROR_SUCCESS
                 : w == WAIT_TIMEOUT ? DWORD(kErrSharingViolation)
                                     : GetLastError();
        SetEvent(taken);
        if (owned) {
            WaitForSingleObject(release, INFINITE);
            ReleaseMutex(m);
        }
        CloseHandle(m);
    });
    WaitForSingleObject(taken, INFINITE);
    CloseHandle(taken);
    if (result != ERROR_SUCCESS) {
        holder.join();
        CloseHandle(release);
        unregister();
        *error = result;
        return nullptr;
    }
    *error = kErrSuccess;
    return std::make_unique<Win32FolderLock>(key, release, std::move(holder));
}

}  // namespace plat
