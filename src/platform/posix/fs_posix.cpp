// The OS file system on posix, behaving like the Win32 calls it stands for:
// Win32 error codes, DOS attributes, MoveFileW/CopyFileW rules.
//
// DOS attributes: READONLY is "no write permission bit", on files only
// (a folder's READONLY does not protect it on Windows and Wine drops it).
// HIDDEN and SYSTEM live in the "user.DOSATTRIB" extended attribute (as the
// text Wine writes, "0x6", or in Samba's binary form, see dos_attrib.h), in
// the FAT attribute byte on vfat mounts (and exFAT ones whose driver has the
// FAT ioctls) and in the NTFS attribute word on NTFS mounts. Regular files always
// report ARCHIVE, as Wine does. Symbolic links are reported as reparse
// points without DIRECTORY and are never followed when listing or moving.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/fs.h"
#include "platform/posix/dos_attrib.h"
#include "platform/posix/native_path.h"
#include "platform/text.h"

namespace plat {

namespace {

thread_local uint32_t t_lastError = 0;

constexpr char kDosAttrib[] = "user.DOSATTRIB";
constexpr uint32_t kXattrBits = kAttrHidden | kAttrSystem;
constexpr uint64_t kEpochDiffSeconds = 11644473600ULL;  // 1601 -> 1970
constexpr uint64_t kTicksPerSecond = 10000000ULL;

std::string U8(const std::wstring& path) {
    return posix::NativePath(path);
}

bool IsDirPath(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ParentOf(std::string p) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    size_t slash = p.rfind('/');
    if (slash == std::string::npos) return std::string();
    if (slash == 0) return "/";
    return p.substr(0, slash);
}

// ERROR_FILE_NOT_FOUND when only the last component is missing,
// ERROR_PATH_NOT_FOUND when a folder on the way is.
uint32_t MissingError(const std::string& path) {
    std::string parent = ParentOf(path);
    if (parent.empty() || IsDirPath(parent)) return kErrFileNotFound;
    return kErrPathNotFound;
}

uint32_t MapErrno(int e, const std::string& path) {
    switch (e) {
        case 0:
            return kErrSuccess;
        case ENOENT:
            return MissingError(path);
        case ENOTDIR:
            return kErrPathNotFound;
        case EACCES:
        case EPERM:
        case EISDIR:
            return kErrAccessDenied;
        case EEXIST:
            return kErrAlreadyExists;
        case EXDEV:
            return kErrNotSameDevice;
        case ENOSPC:
        case EDQUOT:
            return kErrDiskFull;
        case ENOTEMPTY:
            return kErrDirNotEmpty;
        case ENAMETOOLONG:
            return kErrFilenameTooLong;
        case EROFS:
            return kErrWriteProtect;
        case EIO:
            return kErrIoDevice;
        case ENOMEM:
            return kErrNotEnoughMemory;
        case EBUSY:
        case ETXTBSY:
            return kErrSharingViolation;
        case EINVAL:
            return kErrInvalidParameter;
        case ENOTSUP:
            return kErrNotSupported;
        case EMFILE:
        case ENFILE:
            return 4;  // ERROR_TOO_MANY_OPEN_FILES
        case ELOOP:
            return 1921;  // ERROR_CANT_RESOLVE_FILENAME
        default:
            return 31;  // ERROR_GEN_FAILURE
    }
}

bool Fail(uint32_t code) {
    t_lastError = code;
    return false;
}

bool FailErrno(const std::string& path) {
    return Fail(MapErrno(errno, path));
}

// After an O_NOFOLLOW open: ELOOP is the link at the end of the path.
bool FailOpenNoFollow(const std::string& path) {
    return errno == ELOOP ? Fail(kErrCantAccessFile) : FailErrno(path);
}

FileTime ToFileTime(int64_t sec, int64_t nsec) {
    int64_t s = sec + static_cast<int64_t>(kEpochDiffSeconds);
    if (s < 0) return 0;
    return static_cast<uint64_t>(s) * kTicksPerSecond + static_cast<uint64_t>(nsec) / 100;
}

timespec ToTimespec(FileTime t) {
    if (t == 0) return timespec{0, UTIME_OMIT};  // zero leaves the time unchanged, as in Win32
    timespec ts;
    ts.tv_sec = static_cast<time_t>(static_cast<int64_t>(t / kTicksPerSecond) -
                                    static_cast<int64_t>(kEpochDiffSeconds));
    ts.tv_nsec = static_cast<long>((t % kTicksPerSecond) * 100);
    return ts;
}

struct Info {
    mode_t mode = 0;
    uint64_t size = 0;
    dev_t dev = 0;
    ino_t ino = 0;
    FileTimes times;
};

void FromStatx(const struct statx& sx, Info* out) {
    out->mode = sx.stx_mode;
    out->size = sx.stx_size;
    out->dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    out->ino = sx.stx_ino;
    out->times.lastAccess = ToFileTime(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
    out->times.lastWrite = ToFileTime(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
    // Linux cannot set a birth time; where the file system keeps none,
    // the last write time stands in for it.
    out->times.creation = (sx.stx_mask & STATX_BTIME)
                              ? ToFileTime(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec)
                              : out->times.lastWrite;
}

void FromStat(const struct stat& st, Info* out) {
    out->mode = st.st_mode;
    out->size = static_cast<uint64_t>(st.st_size);
    out->dev = st.st_dev;
    out->ino = st.st_ino;
    out->times.lastAccess = ToFileTime(st.st_atim.tv_sec, st.st_atim.tv_nsec);
    out->times.lastWrite = ToFileTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    out->times.creation = out->times.lastWrite;
}

// statx where the kernel has it (birth time), plain stat otherwise.
bool StatAt(int dirfd, const char* path, int flags, Info* out) {
    struct statx sx;
    if (statx(dirfd, path, flags, STATX_BASIC_STATS | STATX_BTIME, &sx) == 0) {
        FromStatx(sx, out);
        return true;
    }
    if (errno != ENOSYS && errno != EPERM) return false;
    struct stat st;
    if (fstatat(dirfd, path, &st, flags) != 0) return false;
    FromStat(st, out);
    return true;
}

bool LStat(const std::string& p, Info* out) {
    return StatAt(AT_FDCWD, p.c_str(), AT_SYMLINK_NOFOLLOW, out);
}
bool FStat(int fd, Info* out) {
    return StatAt(fd, "", AT_EMPTY_PATH, out);
}

using posix::DosStore;
constexpr char kNtfsAttrib[] = "system.ntfs_attrib";

// A fact about the file system of a device, asked once per device: a pass
// over thousands of files asks for each file's marks. `ask` returns the fact
// and whether it is one to keep (a failed question is asked again). Each
// `Fact` tag keeps its own table.
template <typename Fact, typename T, typename Ask>
T OncePerDevice(dev_t dev, Ask ask) {
    static std::mutex lock;
    static std::map<dev_t, T> known;
    if (dev != 0) {
        std::lock_guard<std::mutex> hold(lock);
        auto it = known.find(dev);
        if (it != known.end()) return it->second;
    }
    bool keep = false;
    const T fact = ask(&keep);
    if (dev != 0 && keep) {
        std::lock_guard<std::mutex> hold(lock);
        known[dev] = fact;
    }
    return fact;
}

// The type of the file system holding `p`; -1 when it cannot be told.
long FsTypeOf(const std::string& p, dev_t dev) {
    struct FsType {};
    return OncePerDevice<FsType, long>(dev, [&](bool* keep) {
        struct statfs sf;
        *keep = statfs(p.c_str(), &sf) == 0;
        return *keep ? long(sf.f_type) : -1L;
    });
}

// Whether the driver of `p`'s file system answers the FAT attribute ioctls.
bool FatIoctlsOn(const std::string& p, dev_t dev) {
    struct FatIoctls {};
    return OncePerDevice<FatIoctls, bool>(
        dev, [&](bool* keep) { return posix::AnswersFatAttributeIoctl(p, keep); });
}

DosStore StoreOf(const std::string& p, dev_t dev = 0) {
    const long type = FsTypeOf(p, dev);
    if (type == -1) return DosStore::Xattr;
    return posix::ChooseDosStore(
        type, [&] { return FatIoctlsOn(p, dev); },
        [&] {
            uint32_t v;
            return lgetxattr(p.c_str(), kNtfsAttrib, &v, sizeof(v)) == sizeof(v);
        });
}

// The raw "user.DOSATTRIB" value through `fd` when given, else by path; false
// when there is none or it is too long to be one.
bool ReadDosAttribValue(const std::string& p, int fd, std::string* out) {
    out->assign(256, '\0');
    auto get = [&](void* buf, size_t size) {
        return fd >= 0 ? fgetxattr(fd, kDosAttrib, buf, size)
                       : lgetxattr(p.c_str(), kDosAttrib, buf, size);
    };
    ssize_t n = get(out->data(), out->size());
    if (n < 0 && errno == ERANGE) {
        const ssize_t size = get(nullptr, 0);
        if (size < 0 || size_t(size) > posix::kDosAttribMaxSize) return false;
        out->assign(size_t(size), '\0');
        n = get(out->data(), out->size());
    }
    if (n <= 0) return false;
    out->resize(size_t(n));
    return true;
}

// Hidden/system bits kept outside the mode: FAT attribute byte or xattr.
uint32_t ReadDosBits(const std::string& p, const Info& info) {
    if (S_ISLNK(info.mode) || !(S_ISREG(info.mode) || S_ISDIR(info.mode))) return 0;
    switch (StoreOf(p, info.dev)) {
        case DosStore::Fat: {
            int fd = open(p.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0) return 0;
            uint32_t fat = 0;
            int r = ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, &fat);
            close(fd);
            return r == 0 ? (fat & kXattrBits) : 0;
        }
        case DosStore::Ntfs: {
            uint32_t v = 0;  // little-endian on disk and here
            return lgetxattr(p.c_str(), kNtfsAttrib, &v, sizeof(v)) == sizeof(v) ? (v & kXattrBits)
                                                                                 : 0;
        }
        case DosStore::Xattr:
            break;
    }
    std::string value;
    if (!ReadDosAttribValue(p, -1, &value)) return 0;
    return posix::ParseDosAttrib(value).attributes & kXattrBits;
}

uint32_t AttributesOf(const std::string& p, const Info& info) {
    uint32_t a = 0;
    if (S_ISDIR(info.mode)) {
        a |= kAttrDirectory;
    } else if (S_ISLNK(info.mode)) {
        a |= kAttrReparsePoint;
    } else {
        a |= kAttrArchive;
        if ((info.mode & 0222) == 0) a |= kAttrReadOnly;
    }
    return a | ReadDosBits(p, info);
}

bool IsReadOnlyFile(const Info& info) {
    return S_ISREG(info.mode) && (info.mode & 0222) == 0;
}

// Writes the hidden/system bits. `fd` may be -1 (path only).
bool WriteDosBits(const std::string& p, int fd, uint32_t bits) {
    bits &= kXattrBits;
    const DosStore store = StoreOf(p);
    if (store == DosStore::Ntfs) {
        uint32_t v = 0;
        if (lgetxattr(p.c_str(), kNtfsAttrib, &v, sizeof(v)) != sizeof(v)) return FailErrno(p);
        v = (v & ~kXattrBits) | bits;
        int r = fd >= 0 ? fsetxattr(fd, kNtfsAttrib, &v, sizeof(v), 0)
                        : lsetxattr(p.c_str(), kNtfsAttrib, &v, sizeof(v), 0);
        return r == 0 || FailErrno(p);
    }
    if (store == DosStore::Fat) {
        int own = fd < 0 ? open(p.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC) : -1;
        int use = fd < 0 ? own : fd;
        if (use < 0) return FailErrno(p);
        uint32_t fat = 0;
        bool ok = ioctl(use, FAT_IOCTL_GET_ATTRIBUTES, &fat) == 0;
        if (ok) {
            fat = (fat & ~kXattrBits) | bits;
            ok = ioctl(use, FAT_IOCTL_SET_ATTRIBUTES, &fat) == 0;
        }
        int err = errno;
        if (own >= 0) close(own);
        if (!ok) return Fail(MapErrno(err, p));
        return true;
    }
    int r;
    std::string value;
    if (ReadDosAttribValue(p, fd, &value) &&
        posix::ParseDosAttrib(value).form == posix::DosAttrib::Form::Binary) {
        // Samba's form: only its attribute word changes; its creation time stays.
        const uint32_t word = posix::ParseDosAttrib(value).attributes;
        value = posix::WithDosAttributes(value, (word & ~kXattrBits) | bits);
        r = fd >= 0 ? fsetxattr(fd, kDosAttrib, value.data(), value.size(), 0)
                    : lsetxattr(p.c_str(), kDosAttrib, value.data(), value.size(), 0);
    } else if (bits == 0) {
        r = fd >= 0 ? fremovexattr(fd, kDosAttrib) : lremovexattr(p.c_str(), kDosAttrib);
        if (r != 0 && (errno == ENODATA || errno == ENOTSUP)) r = 0;
    } else {
        char text[16];
        int len = std::snprintf(text, sizeof(text), "0x%x", bits);
        r = fd >= 0 ? fsetxattr(fd, kDosAttrib, text, len, 0)
                    : lsetxattr(p.c_str(), kDosAttrib, text, len, 0);
    }
    if (r != 0) {
        // No xattrs on this file system: hiding cannot be honoured, say so.
        if (errno == ENOTSUP) return Fail(kErrNotSupported);
        return FailErrno(p);
    }
    return true;
}

std::atomic<bool> g_keepAccessTimes{false};

// opendir, with O_NOATIME when access times are to be kept and permitted.
DIR* OpenDirForReading(const std::string& p) {
    if (g_keepAccessTimes.load(std::memory_order_relaxed)) {
        int fd = open(p.c_str(), O_RDONLY | O_DIRECTORY | O_NOATIME | O_CLOEXEC);
        if (fd >= 0) {
            if (DIR* d = fdopendir(fd)) return d;
            close(fd);
            return nullptr;
        }
        if (errno != EPERM) return nullptr;
    }
    return opendir(p.c_str());
}

class PosixFile final : public File {
  public:
    PosixFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~PosixFile() override { close(fd_); }

    bool Read(void* buf, uint32_t len, uint32_t* done) override {
        *done = 0;
        ssize_t n;
        do n = read(fd_, buf, len);
        while (n < 0 && errno == EINTR);
        if (n < 0) return FailErrno(path_);
        *done = static_cast<uint32_t>(n);
        return true;
    }

    bool ReadAt(uint64_t offset, void* buf, uint32_t len, uint32_t* done) override {
        *done = 0;
        ssize_t n;
        do n = pread(fd_, buf, len, static_cast<off_t>(offset));
        while (n < 0 && errno == EINTR);
        if (n < 0) return FailErrno(path_);
        *done = static_cast<uint32_t>(n);
        return true;
    }

    bool Write(const void* buf, uint32_t len, uint32_t* done) override {
        *done = 0;
        auto* p = static_cast<const char*>(buf);
        // A disk file takes all or fails, as WriteFile does: loop over short
        // writes and report a full disk after whatever part went in.
        while (*done < len) {
            ssize_t n = write(fd_, p + *done, len - *done);
            if (n < 0) {
                if (errno == EINTR) continue;
                return FailErrno(path_);
            }
            if (n == 0) return Fail(kErrDiskFull);
            *done += static_cast<uint32_t>(n);
        }
        return true;
    }

    bool Seek(int64_t offset, int whence, uint64_t* newPos) override {
        off_t r = lseek(fd_, offset, whence);
        if (r < 0)
            return Fail(errno == EINVAL ? 131 /*ERROR_NEGATIVE_SEEK*/ : MapErrno(errno, path_));
        if (newPos) *newPos = static_cast<uint64_t>(r);
        return true;
    }

    bool Size(uint64_t* size) override {
        struct stat st;
        if (fstat(fd_, &st) != 0) return FailErrno(path_);
        *size = static_cast<uint64_t>(st.st_size);
        return true;
    }

    bool Truncate() override {
        off_t pos = lseek(fd_, 0, SEEK_CUR);
        if (pos < 0 || ftruncate(fd_, pos) != 0) return FailErrno(path_);
        return true;
    }

    bool GetTimes(FileTimes* times) override {
        Info info;
        if (!FStat(fd_, &info)) return FailErrno(path_);
        *times = info.times;
        return true;
    }

    bool SetTimes(const FileTimes& times) override {
        timespec ts[2] = {ToTimespec(times.lastAccess), ToTimespec(times.lastWrite)};
        if (futimens(fd_, ts) != 0) return FailErrno(path_);
        return true;
    }

    bool Flush() override {
        if (fsync(fd_) != 0 && errno != EINVAL) return FailErrno(path_);
        return true;
    }

  private:
    int fd_;
    std::string path_;
};

bool WriteFully(int fd, const char* p, size_t len) {
    while (len > 0) {
        ssize_t n = write(fd, p, len);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        p += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

// A name beside `to` for writing a replacement before it takes its place.
std::string TempNameBeside(const std::string& to) {
    static std::atomic<unsigned> counter{0};
    std::string dir = ParentOf(to);
    std::string prefix = dir.empty() ? std::string() : (dir == "/" ? "/" : dir + "/");
    return prefix + ".ulx-copy-" + std::to_string(getpid()) + "-" + std::to_string(++counter) +
           ".tmp";
}

// CopyFileW: content, permission bits (READONLY), hidden/system bits and
// times. An existing target is only replaced once the copy is complete, so
// a failure never leaves a half-written file under its name. `durable`
// syncs the copy (a cross-volume move deletes the source right after).
bool CopyImpl(const std::string& from, const std::string& to, bool failIfExists, bool durable) {
    int in = open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (in < 0) return FailOpenNoFollow(from);
    Info src;
    if (!FStat(in, &src)) {
        close(in);
        return FailErrno(from);
    }
    if (!S_ISREG(src.mode)) {
        close(in);
        return Fail(kErrAccessDenied);
    }
    Info dst;
    bool exists = LStat(to, &dst);
    if (exists) {
        if (failIfExists) {
            close(in);
            return Fail(kErrFileExists);
        }
        if (S_ISLNK(dst.mode)) {
            close(in);
            return Fail(kErrCantAccessFile);
        }
        uint32_t attrs = AttributesOf(to, dst);
        // CopyFileW refuses to overwrite folders and READONLY or HIDDEN files.
        if (S_ISDIR(dst.mode) || (attrs & (kAttrReadOnly | kAttrHidden))) {
            close(in);
            return Fail(kErrAccessDenied);
        }
        if (dst.dev == src.dev && dst.ino == src.ino) {
            close(in);
            return Fail(kErrSharingViolation);
        }
    } else if (errno != ENOENT) {
        int e = errno;
        close(in);
        return Fail(MapErrno(e, to));
    }
    const std::string out = exists ? TempNameBeside(to) : to;
    int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        int e = errno;
        close(in);
        return Fail(e == EEXIST ? kErrFileExists : MapErrno(e, out));
    }
    uint32_t srcBits = ReadDosBits(from, src);
    bool ok = true;
    int err = 0;
    std::string buf(256 * 1024, '\0');
    for (;;) {
        ssize_t n = read(in, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || (n > 0 && !WriteFully(fd, buf.data(), static_cast<size_t>(n)))) {
            ok = false;
            err = errno;
            break;
        }
        if (n == 0) break;
    }
    if (ok && srcBits) {
        // Best effort, like a copy to a volume without attribute support.
        uint32_t saved = t_lastError;
        (void)WriteDosBits(out, fd, srcBits);
        t_lastError = saved;
    }
    if (ok) {
        timespec ts[2] = {ToTimespec(src.times.lastAccess), ToTimespec(src.times.lastWrite)};
        if (futimens(fd, ts) != 0 || fchmod(fd, src.mode & 07777) != 0) ok = false, err = errno;
    }
    if (ok && durable && fsync(fd) != 0 && errno != EINVAL) ok = false, err = errno;
    if (close(fd) != 0 && ok) ok = false, err = errno;
    close(in);
    if (ok && exists && rename(out.c_str(), to.c_str()) != 0) ok = false, err = errno;
    if (!ok) {
        unlink(out.c_str());
        return Fail(MapErrno(err, to));
    }
    return true;
}

// rename(2) that refuses an existing target.
bool RenameNoReplace(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
    // File system without RENAME_NOREPLACE: check, then rename (racy but rare).
    struct stat st;
    if (lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return rename(from.c_str(), to.c_str()) == 0;
}

// Sets the permission bits of a regular file without following a link:
// fchmodat(AT_SYMLINK_NOFOLLOW) is not supported on Linux, so the file is
// opened first. Without read permission an O_PATH descriptor does, changed
// through its /proc name (which names the open file, not a path to it).
bool ChmodRegularFile(const std::string& p, mode_t mode) {
    int fd = open(p.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    bool byPath = false;
    if (fd < 0 && errno == EACCES) {
        fd = open(p.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        byPath = true;
    }
    if (fd < 0) return FailOpenNoFollow(p);
    struct stat st;
    int r = fstat(fd, &st);
    if (r == 0 && S_ISLNK(st.st_mode)) {
        close(fd);
        return Fail(kErrCantAccessFile);
    }
    if (r == 0 && !S_ISREG(st.st_mode)) {
        close(fd);
        return Fail(kErrAccessDenied);
    }
    if (r == 0) {
        r = byPath ? chmod(("/proc/self/fd/" + std::to_string(fd)).c_str(), mode)
                   : fchmod(fd, mode);
    }
    int e = errno;
    close(fd);
    return r == 0 || Fail(MapErrno(e, p));
}

// ---------------------------------------------------------------- pinned folders

struct PinEntry {
    std::string prefix;  // the folder, without a trailing '/'
    int fd;
    const void* owner;
};
std::mutex g_pinLock;
std::vector<PinEntry> g_pins;
std::atomic<int> g_pinCount{0};

bool ProcFdUsable() {
    static const bool ok = access("/proc/self/fd", X_OK) == 0;
    return ok;
}

std::string ProcPath(int fd, const std::string& leaf = {}) {
    return "/proc/self/fd/" + std::to_string(fd) + (leaf.empty() ? "" : "/" + leaf);
}

// A path as the OS calls below take it. Below a pinned folder it becomes
// "/proc/self/fd/N/leaf": N is the leaf's folder, reached part by part from
// the pinned folder's descriptor without following a link, and held open
// while this object lives. Anywhere else it stays as it is.
class Pinned {
  public:
    explicit Pinned(std::string p) : path(std::move(p)) {
        if (g_pinCount.load() != 0 && ProcFdUsable()) Resolve();
    }
    ~Pinned() {
        if (fd_ >= 0) close(fd_);
    }
    Pinned(const Pinned&) = delete;
    Pinned& operator=(const Pinned&) = delete;

    // True (with the error set) when the path leads through a link.
    bool Refused() const {
        if (error == 0) return false;
        Fail(error);
        return true;
    }
    bool pinned() const { return fd_ >= 0; }

    std::string path;
    uint32_t error = 0;

  private:
    void Resolve() {
        std::string rest;
        int dir = -1;
        {
            std::lock_guard<std::mutex> hold(g_pinLock);
            const PinEntry* best = nullptr;
            for (const PinEntry& e : g_pins)
                if (path.size() > e.prefix.size() + 1 &&
                    path.compare(0, e.prefix.size(), e.prefix) == 0 &&
                    path[e.prefix.size()] == '/' &&
                    (!best || e.prefix.size() > best->prefix.size()))
                    best = &e;
            if (!best) return;
            rest = path.substr(best->prefix.size() + 1);
            dir = fcntl(best->fd, F_DUPFD_CLOEXEC, 0);
        }
        if (dir < 0) {
            error = MapErrno(errno, path);
            return;
        }
        std::vector<std::string> parts;
        for (size_t at = 0; at <= rest.size();) {
            size_t end = rest.find('/', at);
            if (end == std::string::npos) end = rest.size();
            std::string part = rest.substr(at, end - at);
            at = end + 1;
            if (part.empty() || part == ".") continue;
            if (part == "..") {
                // Never back out of the pinned folder.
                close(dir);
                error = kErrPathNotFound;
                return;
            }
            parts.push_back(std::move(part));
        }
        if (parts.empty()) {  // the pinned folder itself
            close(dir);
            return;
        }
        for (size_t k = 0; k + 1 < parts.size(); ++k) {
            int next = openat(dir, parts[k].c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (next < 0) {
                struct stat st;
                error = fstatat(dir, parts[k].c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                                S_ISLNK(st.st_mode)
                            ? kErrCantAccessFile
                            : kErrPathNotFound;
                close(dir);
                return;
            }
            close(dir);
            dir = next;
        }
        fd_ = dir;
        path = ProcPath(dir, parts.back());
    }

    int fd_ = -1;
};

class PosixPin final : public FolderPin {
  public:
    explicit PosixPin(const std::string& folder) {
        std::string prefix = folder;
        while (prefix.size() > 1 && prefix.back() == '/') prefix.pop_back();
        const int fd = open(prefix.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return;
        std::lock_guard<std::mutex> hold(g_pinLock);
        g_pins.push_back(PinEntry{prefix, fd, this});
        g_pinCount.fetch_add(1);
    }
    ~PosixPin() override {
        std::lock_guard<std::mutex> hold(g_pinLock);
        for (auto it = g_pins.begin(); it != g_pins.end(); ++it) {
            if (it->owner != this) continue;
            close(it->fd);
            g_pins.erase(it);
            g_pinCount.fetch_sub(1);
            break;
        }
    }
};

class OsFs final : public FileSystem {
  public:
    bool ListDir(const std::wstring& dir, std::vector<DirEntry>* out) override {
        out->clear();
        Pinned pin(U8(dir));
        if (pin.Refused()) return false;
        const std::string& p = pin.path;
        DIR* d = nullptr;
        if (pin.pinned()) {
            // The folder itself is not followed either, and its entries are
            // looked at through the descriptor that was listed.
            int fd = open(p.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0 && errno == ELOOP) return Fail(kErrCantAccessFile);
            if (fd >= 0 && !(d = fdopendir(fd))) close(fd);
        } else {
            d = OpenDirForReading(p);
        }
        if (!d) {
            // FindFirstFileW("dir\\*") sees the folder as a path component:
            // a missing one is ERROR_PATH_NOT_FOUND, a file ERROR_DIRECTORY.
            if (errno == ENOENT) return Fail(kErrPathNotFound);
            Info info;
            if (errno == ENOTDIR && LStat(p, &info) && !S_ISDIR(info.mode))
                return Fail(kErrDirectory);
            return FailErrno(p);
        }
        std::string base = pin.pinned()                   ? ProcPath(dirfd(d)) + "/"
                           : p.empty() || p.back() == '/' ? p
                                                          : p + "/";
        while (dirent* e = readdir(d)) {
            if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
            std::string full = base + e->d_name;
            Info info;
            if (!LStat(full, &info)) continue;  // vanished meanwhile
            DirEntry entry;
            entry.name = posix::WidePath(e->d_name);
            entry.attributes = AttributesOf(full, info);
            entry.size = S_ISREG(info.mode) ? info.size : 0;
            entry.times = info.times;
            out->push_back(std::move(entry));
        }
        closedir(d);
        t_lastError = kErrSuccess;
        return true;
    }

    uint32_t GetAttributes(const std::wstring& path) override {
        Pinned pin(U8(path));
        if (pin.Refused()) return kInvalidAttributes;
        const std::string& p = pin.path;
        Info info;
        if (p.empty()) {
            Fail(kErrPathNotFound);
            return kInvalidAttributes;
        }
        if (!LStat(p, &info)) {
            FailErrno(p);
            return kInvalidAttributes;
        }
        return AttributesOf(p, info);
    }

    bool SetAttributes(const std::wstring& path, uint32_t attrs) override {
        Pinned pin(U8(path));
        if (pin.Refused()) return false;
        const std::string& p = pin.path;
        Info info;
        if (!LStat(p, &info)) return FailErrno(p);
        uint32_t want = attrs & kXattrBits;
        uint32_t have = ReadDosBits(p, info);
        if (S_ISLNK(info.mode)) return want ? Fail(kErrNotSupported) : true;
        mode_t mode = info.mode & 07777;
        mode_t target = mode;
        if (S_ISREG(info.mode)) {
            if (attrs & kAttrReadOnly)
                target = mode & ~0222;
            else if ((mode & 0222) == 0)
                target = mode | S_IWUSR;
        }
        mode_t current = mode;
        if (want != have) {
            // user.* xattrs need write permission, so lift READONLY first.
            if (S_ISREG(info.mode) && (mode & S_IWUSR) == 0) {
                if (chmod(p.c_str(), mode | S_IWUSR) != 0) return FailErrno(p);
                current = mode | S_IWUSR;
            }
            if (!WriteDosBits(p, -1, want)) {
                uint32_t e = t_lastError;
                if (current != mode) (void)chmod(p.c_str(), mode);
                return Fail(e);
            }
        }
        if (target != current && chmod(p.c_str(), target) != 0) return FailErrno(p);
        return true;
    }

    bool CreateDir(const std::wstring& path) override {
        Pinned pin(U8(path));
        if (pin.Refused()) return false;
        const std::string& p = pin.path;
        if (mkdir(p.c_str(), 0777) != 0) {
            if (errno == ENOENT) return Fail(kErrPathNotFound);
            return FailErrno(p);
        }
        return true;
    }

    bool RemoveDir(const std::wstring& path) override {
        Pinned pin(U8(path));
        if (pin.Refused()) return false;
        const std::string& p = pin.path;
        if (rmdir(p.c_str()) != 0) {
            if (errno == EEXIST || errno == ENOTEMPTY) return Fail(kErrDirNotEmpty);
            if (errno == ENOTDIR) {
                Info info;
                if (LStat(p, &info) && !S_ISDIR(info.mode)) return Fail(kErrDirectory);
            }
            return FailErrno(p);
        }
        return true;
    }

    bool Move(const std::wstring& from, const std::wstring& to) override {
        Pinned pf(U8(from)), pt(U8(to));
        if (pf.Refused() || pt.Refused()) return false;
        const std::string &f = pf.path, &t = pt.path;
        Info info;
        if (!LStat(f, &info)) return FailErrno(f);
        if (RenameNoReplace(f, t)) return true;
        if (errno == EEXIST || errno == ENOTEMPTY) return Fail(kErrAlreadyExists);
        if (errno != EXDEV) return Fail(errno == ENOENT ? kErrPathNotFound : MapErrno(errno, t));
        if (S_ISDIR(info.mode)) return Fail(kErrNotSameDevice);
        // A file crosses volumes as copy + delete; if the source cannot go,
        // the copy goes instead so the file exists exactly once.
        if (S_ISLNK(info.mode)) {
            std::string target(4096, '\0');
            ssize_t n = readlink(f.c_str(), target.data(), target.size() - 1);
            if (n < 0) return FailErrno(f);
            target.resize(static_cast<size_t>(n));
            if (symlink(target.c_str(), t.c_str()) != 0) {
                return Fail(errno == EEXIST ? kErrAlreadyExists : MapErrno(errno, t));
            }
        } else if (!CopyImpl(f, t, true, true)) {
            if (t_lastError == kErrFileExists) t_lastError = kErrAlreadyExists;
            return false;
        }
        if (unlink(f.c_str()) != 0) {
            int e = errno;
            unlink(t.c_str());
            return Fail(MapErrno(e, f));
        }
        return true;
    }

    bool Copy(const std::wstring& from, const std::wstring& to, bool failIfExists) override {
        Pinned pf(U8(from)), pt(U8(to));
        if (pf.Refused() || pt.Refused()) return false;
        return CopyImpl(pf.path, pt.path, failIfExists, false);
    }

    bool DeleteFile(const std::wstring& path) override {
        Pinned pin(U8(path));
        if (pin.Refused()) return false;
        const std::string& p = pin.path;
        Info info;
        if (!LStat(p, &info)) return FailErrno(p);
        // DeleteFileW refuses folders and READONLY files.
        if (S_ISDIR(info.mode) || IsReadOnlyFile(info)) return Fail(kErrAccessDenied);
        if (unlink(p.c_str()) != 0) return FailErrno(p);
        return true;
    }

    std::unique_ptr<File> Open(const std::wstring& path, Access access,
                               Disposition disposition) override {
        Pinned pin(U8(path));
        if (pin.Refused()) return nullptr;
        const std::string& p = pin.path;
        int flags = O_CLOEXEC | (access == Access::ReadWrite ? O_RDWR : O_RDONLY);
        switch (disposition) {
            case Disposition::OpenExisting:
                break;
            case Disposition::CreateAlways:
                flags |= O_CREAT | O_TRUNC;
                break;
            case Disposition::CreateNew:
                flags |= O_CREAT | O_EXCL;
                break;
            case Disposition::OpenAlways:
                flags |= O_CREAT;
                break;
        }
        // A link is never opened: whoever placed it could otherwise have a
        // file of ours read, written or created where it points. FIFOs and
        // devices are refused as well; opening one could wait forever.
        struct stat st;
        if (lstat(p.c_str(), &st) == 0) {
            if (disposition == Disposition::CreateNew) {
                Fail(kErrFileExists);
                return nullptr;
            }
            if (S_ISLNK(st.st_mode)) {
                Fail(kErrCantAccessFile);
                return nullptr;
            }
            // Writing to a READONLY file or opening a folder is refused on
            // Windows even for an administrator.
            bool writes = access == Access::ReadWrite || disposition == Disposition::CreateAlways;
            if (!S_ISREG(st.st_mode) || (writes && (st.st_mode & 0222) == 0)) {
                Fail(kErrAccessDenied);
                return nullptr;
            }
        }
        // The checks above may be overtaken: O_NOFOLLOW and O_NONBLOCK keep
        // the open itself safe, fstat checks what it got.
        int fd = -1;
        if (access == Access::Read && disposition == Disposition::OpenExisting &&
            g_keepAccessTimes.load(std::memory_order_relaxed)) {
            fd = open(p.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_NOATIME);
            // Only the owner (or a holder of CAP_FOWNER) may ask for it.
            if (fd < 0 && errno != EPERM) {
                FailOpenNoFollow(p);
                return nullptr;
            }
        }
        if (fd < 0) fd = open(p.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                Fail(kErrFileExists);
            else
                FailOpenNoFollow(p);
            return nullptr;
        }
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            close(fd);
            Fail(kErrAccessDenied);
            return nullptr;
        }
        // Reads and writes of a regular file ignore O_NONBLOCK, so it stays
        // set: clearing it would cost two calls per file of a pass.
        t_lastError = kErrSuccess;
        return std::make_unique<PosixFile>(fd, U8(path));
    }

    bool CopyAccess(const std::wstring& from, const std::wstring& to) override {
        Pinned pf(U8(from)), pt(U8(to));
        if (pf.Refused() || pt.Refused()) return false;
        const std::string& f = pf.path;
        struct stat st;
        if (lstat(f.c_str(), &st) != 0) return FailErrno(f);
        if (S_ISLNK(st.st_mode)) return Fail(kErrCantAccessFile);
        return ChmodRegularFile(pt.path, st.st_mode & 07777);
    }

    bool RestrictToOwner(const std::wstring& path) override {
        Pinned pin(U8(path));
        if (pin.Refused()) return false;
        return ChmodRegularFile(pin.path, S_IRUSR | S_IWUSR);
    }

    bool SyncVolume(const std::wstring& path) override {
        // A folder is opened itself, anything else through its folder:
        // that never blocks on a FIFO nor follows a link.
        Pinned pin(U8(path));
        if (pin.Refused()) return false;
        std::string p = pin.path;
        struct stat st;
        if (lstat(p.c_str(), &st) != 0) return FailErrno(p);
        if (!S_ISDIR(st.st_mode)) p = ParentOf(p);
        if (p.empty()) p = ".";
        int fd = open(p.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return FailErrno(p);
        int r = syncfs(fd);
        int e = errno;
        close(fd);
        return r == 0 || Fail(MapErrno(e, p));
    }

    std::wstring LongPathName(const std::wstring& path) override {
        // Linux has no short names: an existing path is already long.
        std::string p = U8(path);
        Info info;
        if (p.empty()) {
            Fail(kErrInvalidParameter);
            return std::wstring();
        }
        if (!LStat(p, &info)) {
            FailErrno(p);
            return std::wstring();
        }
        return path;
    }
};

}  // namespace

uint32_t LastError() {
    return t_lastError;
}
void SetLastError(uint32_t code) {
    t_lastError = code;
}

void KeepAccessTimes() {
    g_keepAccessTimes = true;
}

FileSystem& OsFileSystem() {
    static OsFs fs;
    return fs;
}

std::wstring FollowLink(const std::wstring& path) {
    const std::string p = U8(path);
    struct stat st;
    if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char* real = realpath(p.c_str(), nullptr);
    if (!real) return path;
    std::wstring out = posix::WidePath(real);
    std::free(real);
    return out;
}

std::unique_ptr<FolderPin> PinFolder(const std::wstring& folder) {
    return std::make_unique<PosixPin>(U8(folder));
}

InnerFolder CheckInnerFolder(const std::wstring& within, const std::wstring& path) {
    const std::string w = U8(within), p = U8(path);
    struct statx in, at;
    const unsigned mask = STATX_TYPE | STATX_MNT_ID;
    // The folder itself may be reached through the user's own link.
    if (statx(AT_FDCWD, w.c_str(), 0, mask, &in) != 0) return InnerFolder::Other;
    if (statx(AT_FDCWD, p.c_str(), AT_SYMLINK_NOFOLLOW, mask, &at) != 0)
        return errno == ENOENT ? InnerFolder::Missing : InnerFolder::Other;
    if (!S_ISDIR(at.stx_mode) || at.stx_dev_major != in.stx_dev_major ||
        at.stx_dev_minor != in.stx_dev_minor)
        return InnerFolder::Other;
    // A bind mount of the same file system keeps the device: its mount id differs.
    if ((in.stx_mask & STATX_MNT_ID) && (at.stx_mask & STATX_MNT_ID) &&
        in.stx_mnt_id != at.stx_mnt_id)
        return InnerFolder::Other;
    return InnerFolder::Real;
}

std::wstring ErrorText(uint32_t code) {
    // The texts a Chinese Windows gives for the codes this layer produces.
    switch (code) {
        case 0:
            return L"操作成功完成。";
        case 2:
            return L"系统找不到指定的文件。";
        case 3:
            return L"系统找不到指定的路径。";
        case 4:
            return L"系统无法打开文件。";
        case 5:
            return L"拒绝访问。";
        case 8:
            return L"存储空间不足，无法处理此命令。";
        case 17:
            return L"系统无法将文件移到不同的磁盘驱动器。";
        case 19:
            return L"介质受写入保护。";
        case 31:
            return L"连到系统上的设备没有发挥作用。";
        case 32:
            return L"另一个程序正在使用此文件，进程无法访问。";
        case 38:
            return L"已到文件结尾。";
        case 39:
            return L"磁盘已满。";
        case 50:
            return L"不支持该请求。";
        case 80:
            return L"文件存在。";
        case 87:
            return L"参数错误。";
        case 112:
            return L"磁盘空间不足。";
        case 131:
            return L"试图将文件指针移至文件开头之前。";
        case 145:
            return L"目录不是空的。";
        case 183:
            return L"当文件已存在时，无法创建该文件。";
        case 206:
            return L"文件名或扩展名太长。";
        case 267:
            return L"目录名称无效。";
        case 1117:
            return L"由于 I/O 设备错误，无法运行此项请求。";
        case 1223:
            return L"操作已被用户取消。";
        case 1920:
            return L"系统无法访问此文件。";
        case 1921:
            return L"无法解析文件名。";
        default:
            return L"错误 " + std::to_wstring(code) + L"。";
    }
}

}  // namespace plat
