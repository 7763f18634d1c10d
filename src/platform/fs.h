// File system service used by the core. Every call reports failure the way
// the Win32 call it stands for does: a false / invalid return plus an error
// code in LastError() (Win32 numbering on both builds).
//
// The core reaches the file system only through Fs(), so tests can swap in a
// wrapper that fails the N-th operation (see tests/support/faulty_fs.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace plat {

// DOS attribute bits, Win32 values.
enum : uint32_t {
    kAttrReadOnly = 0x1,
    kAttrHidden = 0x2,
    kAttrSystem = 0x4,
    kAttrDirectory = 0x10,
    kAttrArchive = 0x20,
    kAttrNormal = 0x80,
    kAttrReparsePoint = 0x400,  // posix: a symbolic link (never followed)
    kInvalidAttributes = 0xFFFFFFFFu,
};

// Win32 error codes the core looks at. The posix layer maps errno to these.
enum : uint32_t {
    kErrSuccess = 0,
    kErrFileNotFound = 2,
    kErrPathNotFound = 3,
    kErrAccessDenied = 5,
    kErrNotEnoughMemory = 8,
    kErrNotSameDevice = 17,
    kErrWriteProtect = 19,
    kErrSharingViolation = 32,
    kErrHandleEof = 38,
    kErrHandleDiskFull = 39,
    kErrNotSupported = 50,
    kErrFileExists = 80,
    kErrInvalidParameter = 87,
    kErrDiskFull = 112,
    kErrDirNotEmpty = 145,
    kErrAlreadyExists = 183,
    kErrFilenameTooLong = 206,
    kErrDirectory = 267,  // not a directory (RemoveDir of a file)
    kErrCancelled = 1223,
    kErrIoDevice = 1117,
    kErrCantAccessFile = 1920,  // a link where a file was to be opened
};

// 100-nanosecond intervals since 1601-01-01 UTC, as a Win32 FILETIME.
using FileTime = uint64_t;

struct FileTimes {
    FileTime creation = 0;
    FileTime lastAccess = 0;
    FileTime lastWrite = 0;
};

struct DirEntry {
    std::wstring name;  // leaf name, never "." or ".."
    uint32_t attributes = 0;
    uint64_t size = 0;
    FileTimes times;
    bool IsDirectory() const { return (attributes & kAttrDirectory) != 0; }
};

enum class Access { Read, ReadWrite };

enum class Disposition {
    OpenExisting,  // fail when missing
    CreateAlways,  // create or truncate
    CreateNew,     // fail when it exists
    OpenAlways,    // open or create, keep content
};

// An open file. Offsets and sizes are 64-bit; Read/Write report the bytes
// actually moved and return false only on an I/O error.
class File {
  public:
    virtual ~File() = default;
    [[nodiscard]] virtual bool Read(void* buf, uint32_t len, uint32_t* done) = 0;
    [[nodiscard]] virtual bool Write(const void* buf, uint32_t len, uint32_t* done) = 0;
    [[nodiscard]] virtual bool Seek(int64_t offset, int whence /*SEEK_SET/CUR/END*/,
                                    uint64_t* newPos = nullptr) = 0;
    [[nodiscard]] virtual bool Size(uint64_t* size) = 0;
    // Sets the end of file at the current position (SetEndOfFile).
    [[nodiscard]] virtual bool Truncate() = 0;
    [[nodiscard]] virtual bool GetTimes(FileTimes* times) = 0;
    [[nodiscard]] virtual bool SetTimes(const FileTimes& times) = 0;
    [[nodiscard]] virtual bool Flush() = 0;

    // Whole reads and writes; false when fewer bytes moved than asked.
    [[nodiscard]] bool ReadExact(void* buf, uint32_t len);
    [[nodiscard]] bool WriteAll(const void* buf, uint32_t len);
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // Entries of a folder, without "." and "..", in the order the OS gives.
    // A link (to a file, a folder or nothing) is listed as itself, with
    // kAttrReparsePoint; GetAttributes reports it the same way.
    [[nodiscard]] virtual bool ListDir(const std::wstring& dir, std::vector<DirEntry>* out) = 0;
    // kInvalidAttributes when the object does not exist.
    virtual uint32_t GetAttributes(const std::wstring& path) = 0;
    [[nodiscard]] virtual bool SetAttributes(const std::wstring& path, uint32_t attrs) = 0;
    // kErrAlreadyExists when it exists, kErrPathNotFound when the parent is missing.
    [[nodiscard]] virtual bool CreateDir(const std::wstring& path) = 0;
    // Empty folders only (kErrDirNotEmpty).
    [[nodiscard]] virtual bool RemoveDir(const std::wstring& path) = 0;
    // MoveFileW: fails when `to` exists (kErrAlreadyExists, files and
    // folders alike, nothing changes); a folder cannot cross volumes
    // (kErrNotSameDevice), a file can (copied then deleted). A link moves
    // as the link itself.
    [[nodiscard]] virtual bool Move(const std::wstring& from, const std::wstring& to) = 0;
    // CopyFileW: copies content, attributes and last-write time. An existing
    // target gives kErrFileExists with failIfExists, else it is replaced
    // unless it is READONLY or HIDDEN (kErrAccessDenied). A link as source
    // or as existing target gives kErrCantAccessFile: neither is followed.
    [[nodiscard]] virtual bool Copy(const std::wstring& from, const std::wstring& to,
                                    bool failIfExists) = 0;
    // Files only; a READONLY file or a folder gives kErrAccessDenied.
    [[nodiscard]] virtual bool DeleteFile(const std::wstring& path) = 0;
    // A file, never a folder (kErrAccessDenied); CreateNew on an existing
    // file gives kErrFileExists. A link as the last component is never
    // opened nor written through, whatever the disposition: it gives
    // kErrCantAccessFile (CreateNew: kErrFileExists), and nothing is created
    // where a dangling link points. posix refuses FIFOs, sockets and
    // devices too (kErrAccessDenied).
    virtual std::unique_ptr<File> Open(const std::wstring& path, Access access,
                                       Disposition disposition) = 0;
    // GetLongPathNameW: the long form of an existing path, empty when missing.
    virtual std::wstring LongPathName(const std::wstring& path) = 0;

    // Gives the file `to` the permission bits of the file `from`, so a file
    // rewritten whole through a temporary file keeps them (a 0600 file must
    // not come back 0644). Neither path may be a link (kErrCantAccessFile).
    // Windows: true; the new file takes its ACL from its folder.
    [[nodiscard]] virtual bool CopyAccess(const std::wstring& from, const std::wstring& to) = 0;
    // Makes a file readable and writable by its owner only (store records).
    // A link gives kErrCantAccessFile, a folder kErrAccessDenied.
    // Windows: true; the folder's ACL stands.
    [[nodiscard]] virtual bool RestrictToOwner(const std::wstring& path) = 0;
    // Makes every write so far on the volume holding `path` (a file or a
    // folder) durable; a pass calls it once per batch, not per file.
    // Windows needs administrator rights to flush a volume: without them,
    // on a volume that cannot be flushed whole (Wine's) and on a network
    // share, every file and folder this process wrote, created, renamed
    // into or removed from since the last sync is flushed by itself.
    [[nodiscard]] virtual bool SyncVolume(const std::wstring& path) = 0;

    // Convenience over the calls above.
    bool Exists(const std::wstring& path) { return GetAttributes(path) != kInvalidAttributes; }
    bool IsDirectory(const std::wstring& path) {
        uint32_t a = GetAttributes(path);
        return a != kInvalidAttributes && (a & kAttrDirectory);
    }
    bool IsFile(const std::wstring& path) {
        uint32_t a = GetAttributes(path);
        return a != kInvalidAttributes && !(a & kAttrDirectory);
    }
};

// The operating system's file system.
FileSystem& OsFileSystem();

// Where the link `path` leads, every link on the way resolved; `path`
// itself when it is not a link or leads nowhere. For the few files the
// user's own links may rightly stand for (the settings files, the program
// named on the command line); everything else refuses links.
std::wstring FollowLink(const std::wstring& path);

// The file system the core uses: the OS one unless a test installed another.
FileSystem& Fs();

// Installs `fs` as Fs() for its lifetime (tests only; not thread-safe against
// running passes, so install before starting one).
class ScopedFileSystem {
  public:
    explicit ScopedFileSystem(FileSystem& fs);
    ~ScopedFileSystem();
    ScopedFileSystem(const ScopedFileSystem&) = delete;
    ScopedFileSystem& operator=(const ScopedFileSystem&) = delete;

  private:
    FileSystem* previous_;
};

// The whole content of a small regular file, for records and lists a
// hostile volume may carry. False for a missing file, a folder, a symbolic
// link, a pipe or device, a file of more than `maxSize` bytes or a read
// error; it never waits on a pipe and never reads more than maxSize + 1
// bytes. `size`, when given, gets the size the opened file reports (0 when
// it could not be opened), so an oversized file can be told from a missing one.
[[nodiscard]] bool ReadSmallFile(const std::wstring& path, uint64_t maxSize, std::string* out,
                                 uint64_t* size = nullptr);

// Last error of this thread, Win32 numbering.
uint32_t LastError();
void SetLastError(uint32_t code);
// The system's text for an error code (FormatMessageW), without trailing line end.
std::wstring ErrorText(uint32_t code);

// Path helpers. kSep is the path separator of the build ('\\' on Windows).
#ifdef _WIN32
inline constexpr wchar_t kSep = L'\\';
#else
inline constexpr wchar_t kSep = L'/';
#endif
inline constexpr size_t kMaxPath = 260;

// a + kSep + b, without doubling a separator already at the end of a.
std::wstring JoinPath(const std::wstring& a, const std::wstring& b);
// The path with exactly one trailing separator.
std::wstring WithSep(std::wstring path);
// The path with trailing separators removed (a root keeps its own).
std::wstring WithoutSep(std::wstring path);
// Last component (after the last separator).
std::wstring LeafName(const std::wstring& path);
// Everything up to and including the last separator.
std::wstring ParentWithSep(const std::wstring& path);

}  // namespace plat
