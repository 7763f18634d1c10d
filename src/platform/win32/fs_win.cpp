// The Windows file system: each call is the Win32 call the interface names.
#include <memory>
#include <mutex>
#include <set>

#include "platform/fs.h"
#include "platform/win32/win.h"

namespace plat {
namespace {

FileTime FromFt(const FILETIME& ft) {
    return (static_cast<FileTime>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FILETIME ToFt(FileTime t) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(t & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
    return ft;
}

class Win32File final : public File {
  public:
    explicit Win32File(HANDLE h) : h_(h) {}
    ~Win32File() override { CloseHandle(h_); }
    Win32File(const Win32File&) = delete;
    Win32File& operator=(const Win32File&) = delete;

    bool Read(void* buf, uint32_t len, uint32_t* done) override {
        DWORD n = 0;
        BOOL ok = ReadFile(h_, buf, len, &n, nullptr);
        if (done) *done = n;
        return ok != FALSE;
    }
    bool ReadAt(uint64_t offset, void* buf, uint32_t len, uint32_t* done) override {
        // A synchronous handle moves its position on a read with an offset:
        // put it back, so ReadAt leaves Read's position as it was.
        LARGE_INTEGER zero{}, here{};
        if (!SetFilePointerEx(h_, zero, &here, FILE_CURRENT)) return false;
        OVERLAPPED o{};
        o.Offset = DWORD(offset);
        o.OffsetHigh = DWORD(offset >> 32);
        DWORD n = 0;
        BOOL ok = ReadFile(h_, buf, len, &n, &o);
        const DWORD err = ok ? ERROR_SUCCESS : GetLastError();
        if (done) *done = n;
        (void)SetFilePointerEx(h_, here, nullptr, FILE_BEGIN);
        if (err == ERROR_HANDLE_EOF) return true;
        ::SetLastError(err);
        return ok != FALSE;
    }
    bool Write(const void* buf, uint32_t len, uint32_t* done) override {
        DWORD n = 0;
        BOOL ok = WriteFile(h_, buf, len, &n, nullptr);
        if (done) *done = n;
        return ok != FALSE;
    }
    bool Seek(int64_t offset, int whence, uint64_t* newPos) override {
        DWORD method = whence == 1 ? FILE_CURRENT : whence == 2 ? FILE_END : FILE_BEGIN;
        LARGE_INTEGER dist, pos;
        dist.QuadPart = offset;
        if (!SetFilePointerEx(h_, dist, &pos, method)) return false;
        if (newPos) *newPos = static_cast<uint64_t>(pos.QuadPart);
        return true;
    }
    bool Size(uint64_t* size) override {
        LARGE_INTEGER s;
        if (!GetFileSizeEx(h_, &s)) return false;
        *size = static_cast<uint64_t>(s.QuadPart);
        return true;
    }
    bool Truncate() override { return SetEndOfFile(h_) != FALSE; }
    bool GetTimes(FileTimes* times) override {
        FILETIME c, a, w;
        if (!GetFileTime(h_, &c, &a, &w)) return false;
        times->creation = FromFt(c);
        times->lastAccess = FromFt(a);
        times->lastWrite = FromFt(w);
        return true;
    }
    bool SetTimes(const FileTimes& times) override {
        // A zero time leaves that time unchanged, as a null pointer does.
        FILETIME c = ToFt(times.creation), a = ToFt(times.lastAccess), w = ToFt(times.lastWrite);
        return SetFileTime(h_, times.creation ? &c : nullptr, times.lastAccess ? &a : nullptr,
                           times.lastWrite ? &w : nullptr) != FALSE;
    }
    bool Flush() override { return FlushFileBuffers(h_) != FALSE; }

  private:
    HANDLE h_;
};

// Windows refuses to write over a READONLY file. Wine leaves that to the
// Unix permission bits, which do not stop root; checking first keeps the
// Windows behaviour in both places.
bool IsReadOnlyFile(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_DIRECTORY) ||
        !(a & FILE_ATTRIBUTE_READONLY))
        return false;
    ::SetLastError(ERROR_ACCESS_DENIED);
    return true;
}

// A reparse point (symbolic link, junction, mount point) where a file was
// expected: never opened nor written through.
bool IsReparsePoint(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool FailLink() {
    ::SetLastError(kErrCantAccessFile);
    return false;
}

class Win32FileSystem final : public FileSystem {
    // What was written or changed since the last sync point, for volumes
    // that cannot be flushed whole (a standard user cannot open a volume for
    // writing): those files and folders are flushed one by one instead.
    std::mutex touchedLock_;
    std::set<std::wstring> touched_;

    void Touch(const std::wstring& path, bool withParent = true) {
        std::lock_guard<std::mutex> lock(touchedLock_);
        touched_.insert(path);
        if (withParent) {
            const std::wstring parent = WithoutSep(ParentWithSep(path));
            if (!parent.empty()) touched_.insert(parent);
        }
    }
    void TouchParent(const std::wstring& path) {
        const std::wstring parent = WithoutSep(ParentWithSep(path));
        if (parent.empty()) return;
        std::lock_guard<std::mutex> lock(touchedLock_);
        touched_.insert(parent);
    }
    // FlushFileBuffers on each file and folder touched: their data and
    // their directory entries. Missing ones (moved or removed since) are
    // covered by their folders.
    bool FlushTouched() {
        std::set<std::wstring> paths;
        {
            std::lock_guard<std::mutex> lock(touchedLock_);
            paths.swap(touched_);
        }
        bool ok = true;
        DWORD firstError = ERROR_SUCCESS;
        for (const std::wstring& p : paths) {
            const DWORD a = GetFileAttributesW(p.c_str());
            if (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
            const bool dir = (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
            HANDLE h = CreateFileW(
                p.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                nullptr, OPEN_EXISTING,
                (dir ? FILE_FLAG_BACKUP_SEMANTICS : 0) | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
            if (h == INVALID_HANDLE_VALUE) {
                // A read-only file or a folder we may not open for writing:
                // its folder's flush still carries its entry.
                continue;
            }
            if (!FlushFileBuffers(h)) {
                const DWORD err = GetLastError();
                // Folders on some file systems take no flush of their own.
                if (!(dir && (err == ERROR_ACCESS_DENIED || err == ERROR_INVALID_FUNCTION ||
                              err == ERROR_NOT_SUPPORTED))) {
                    if (ok) firstError = err;
                    ok = false;
                }
            }
            CloseHandle(h);
        }
        ::SetLastError(firstError);
        return ok;
    }

  public:
    bool ListDir(const std::wstring& dir, std::vector<DirEntry>* out) override {
        out->clear();
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW(JoinPath(dir, L"*").c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE) {
            // A drive root has no "." entry: an empty root lists nothing.
            const DWORD err = GetLastError();
            if (err == ERROR_FILE_NOT_FOUND && IsDirectory(dir)) {
                ::SetLastError(ERROR_SUCCESS);
                return true;
            }
            ::SetLastError(err);
            return false;
        }
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            DirEntry e;
            e.name = std::move(name);
            e.attributes = fd.dwFileAttributes;
            e.size = (static_cast<uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
            e.times.creation = FromFt(fd.ftCreationTime);
            e.times.lastAccess = FromFt(fd.ftLastAccessTime);
            e.times.lastWrite = FromFt(fd.ftLastWriteTime);
            out->push_back(std::move(e));
        } while (FindNextFileW(h, &fd));
        DWORD err = GetLastError();
        FindClose(h);
        if (err != ERROR_NO_MORE_FILES) {
            ::SetLastError(err);
            return false;
        }
        ::SetLastError(ERROR_SUCCESS);
        return true;
    }

    uint32_t GetAttributes(const std::wstring& path) override {
        return GetFileAttributesW(path.c_str());
    }

    bool SetAttributes(const std::wstring& path, uint32_t attrs) override {
        attrs &= ~static_cast<uint32_t>(FILE_ATTRIBUTE_DIRECTORY);
        if (attrs == 0) attrs = FILE_ATTRIBUTE_NORMAL;
        Touch(path);
        return SetFileAttributesW(path.c_str(), attrs) != FALSE;
    }

    bool CreateDir(const std::wstring& path) override {
        Touch(path);
        return CreateDirectoryW(path.c_str(), nullptr) != FALSE;
    }
    bool RemoveDir(const std::wstring& path) override {
        TouchParent(path);
        return RemoveDirectoryW(path.c_str()) != FALSE;
    }
    bool Move(const std::wstring& from, const std::wstring& to) override {
        TouchParent(from);
        Touch(to);
        return MoveFileW(from.c_str(), to.c_str()) != FALSE;
    }
    bool Copy(const std::wstring& from, const std::wstring& to, bool failIfExists) override {
        // CopyFileW would copy what a source link leads to and write into
        // what a target link leads to.
        if (IsReparsePoint(from)) return FailLink();
        if (IsReparsePoint(to)) {
            if (failIfExists) {
                ::SetLastError(ERROR_FILE_EXISTS);
                return false;
            }
            return FailLink();
        }
        if (!failIfExists && IsReadOnlyFile(to)) return false;
        Touch(to);
        return CopyFileW(from.c_str(), to.c_str(), failIfExists ? TRUE : FALSE) != FALSE;
    }
    bool DeleteFile(const std::wstring& path) override {
        TouchParent(path);
        return DeleteFileW(path.c_str()) != FALSE;
    }

    std::unique_ptr<File> Open(const std::wstring& path, Access access,
                               Disposition disposition) override {
        DWORD want = access == Access::Read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
        DWORD how = OPEN_EXISTING;
        switch (disposition) {
            case Disposition::OpenExisting:
                how = OPEN_EXISTING;
                break;
            case Disposition::CreateAlways:
                how = CREATE_ALWAYS;
                break;
            case Disposition::CreateNew:
                how = CREATE_NEW;
                break;
            case Disposition::OpenAlways:
                how = OPEN_ALWAYS;
                break;
        }
        // A link is refused before anything is created or truncated; the
        // handle is opened on the reparse point itself and checked again,
        // in case one appeared meanwhile.
        if (IsReparsePoint(path)) {
            ::SetLastError(how == CREATE_NEW ? DWORD(ERROR_FILE_EXISTS)
                                             : DWORD(kErrCantAccessFile));
            return nullptr;
        }
        if (access != Access::Read && IsReadOnlyFile(path)) return nullptr;
        if (access != Access::Read) Touch(path);
        HANDLE h = CreateFileW(path.c_str(), want,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, how,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (h == INVALID_HANDLE_VALUE) return nullptr;
        const DWORD created = GetLastError();  // ERROR_ALREADY_EXISTS or not, as CreateFileW says
        BY_HANDLE_FILE_INFORMATION info;
        if (GetFileInformationByHandle(h, &info) &&
            (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            CloseHandle(h);
            FailLink();
            return nullptr;
        }
        ::SetLastError(created);
        return std::make_unique<Win32File>(h);
    }

    // ACLs come from the folder a file is created in; there are no
    // permission bits to carry over or to narrow.
    bool CopyAccess(const std::wstring&, const std::wstring&) override { return true; }
    bool RestrictToOwner(const std::wstring&) override { return true; }

    bool SyncVolume(const std::wstring& path) override {
        wchar_t root[MAX_PATH + 1];
        if (!GetVolumePathNameW(path.c_str(), root, MAX_PATH)) return false;
        // Only a drive letter names a volume device; on a network share
        // the files themselves are flushed to the server.
        if (!(root[0] && root[1] == L':')) return FlushTouched();
        const std::wstring device = std::wstring(L"\\\\.\\") + root[0] + L":";
        // Opening a volume for writing needs administrator rights, and some
        // volumes (Wine's among them) cannot be flushed as a whole. Then
        // every file and folder touched since the last sync is flushed by
        // itself: the most a standard user can do.
        auto cannotFlushHere = [](DWORD err) {
            return err == ERROR_ACCESS_DENIED || err == ERROR_INVALID_FUNCTION ||
                   err == ERROR_NOT_SUPPORTED;
        };
        HANDLE h =
            CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD err = GetLastError();
            if (cannotFlushHere(err)) return FlushTouched();
            ::SetLastError(err);
            return false;
        }
        BOOL ok = FlushFileBuffers(h);
        DWORD err = GetLastError();
        CloseHandle(h);
        if (!ok) {
            if (cannotFlushHere(err)) return FlushTouched();
            ::SetLastError(err);
            return false;
        }
        {
            std::lock_guard<std::mutex> lock(touchedLock_);
            touched_.clear();
        }
        ::SetLastError(ERROR_SUCCESS);
        return true;
    }

    std::wstring LongPathName(const std::wstring& path) override {
        DWORD n = GetLongPathNameW(path.c_str(), nullptr, 0);
        if (n == 0) return {};
        std::wstring out(n, L'\0');
        n = GetLongPathNameW(path.c_str(), out.data(), n);
        if (n == 0 || n >= out.size()) return {};
        out.resize(n);
        return out;
    }
};

}  // namespace

void KeepAccessTimes() {}

FileSystem& OsFileSystem() {
    static Win32FileSystem fs;
    return fs;
}

std::wstring FollowLink(const std::wstring& path) {
    if (!IsReparsePoint(path)) return path;
    HANDLE h = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return path;
    std::wstring out(MAX_PATH, L'\0');
    DWORD n = GetFinalPathNameByHandleW(h, out.data(), DWORD(out.size()), VOLUME_NAME_DOS);
    if (n >= out.size()) {
        out.resize(n + 1);
        n = GetFinalPathNameByHandleW(h, out.data(), DWORD(out.size()), VOLUME_NAME_DOS);
    }
    CloseHandle(h);
    if (n == 0 || n >= out.size()) return path;
    out.resize(n);
    // "\\?\C:\x" and "\\?\UNC\server\share" back to their usual forms.
    if (out.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + out.substr(8);
    if (out.compare(0, 4, L"\\\\?\\") == 0) return out.substr(4);
    return out;
}

std::unique_ptr<FolderPin> PinFolder(const std::wstring&) {
    return std::make_unique<FolderPin>();
}

InnerFolder CheckInnerFolder(const std::wstring& within, const std::wstring& path) {
    const DWORD a = GetFileAttributesW(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) {
        const DWORD e = GetLastError();
        return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? InnerFolder::Missing
                                                                      : InnerFolder::Other;
    }
    // Links, junctions and volumes mounted in a folder are all reparse
    // points. Volume serials are not compared: Wine names a folder by the
    // drive letter mapped onto it (image use), which is not another volume.
    (void)within;
    if (!(a & FILE_ATTRIBUTE_DIRECTORY) || (a & FILE_ATTRIBUTE_REPARSE_POINT))
        return InnerFolder::Other;
    return InnerFolder::Real;
}

uint32_t LastError() {
    return GetLastError();
}

void SetLastError(uint32_t code) {
    ::SetLastError(code);
}

std::wstring ErrorText(uint32_t code) {
    wchar_t* buf = nullptr;
    DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
    std::wstring text;
    if (n && buf) text.assign(buf, n);
    if (buf) LocalFree(buf);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
        text.pop_back();
    return text;
}

}  // namespace plat
