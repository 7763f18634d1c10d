// Private files and the private temporary folder on posix.
#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "platform/fs.h"
#include "platform/posix/native_path.h"
#include "platform/private_file.h"

namespace plat {

namespace {

bool Refuse(uint32_t code) {
    SetLastError(code);
    return false;
}

uint32_t OpenError(int e) {
    switch (e) {
        case ENOENT:
            return kErrFileNotFound;
        case ENOTDIR:
            return kErrPathNotFound;
        case ELOOP:
            return kErrCantAccessFile;  // O_NOFOLLOW met a link
        case ENOSPC:
        case EDQUOT:
            return kErrDiskFull;
        case EROFS:
            return kErrWriteProtect;
        default:
            return kErrAccessDenied;  // EACCES, and ENXIO: a FIFO nobody reads
    }
}

// Opens `path` with `flags` plus the no-follow ones and checks that it got
// a regular file of ours with a single name. -1 with LastError() otherwise.
int OpenPrivate(const std::wstring& path, int flags) {
    const std::string p = posix::NativePath(path);
    int fd = open(p.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd < 0) {
        Refuse(OpenError(errno));
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() || st.st_nlink != 1) {
        close(fd);
        Refuse(kErrAccessDenied);
        return -1;
    }
    return fd;
}

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v && v[0] == '/' ? std::string(v) : std::string();
}

// A folder of ours, not a link, that nobody else can write into.
bool IsOursAlone(const std::string& dir, bool exactly0700) {
    struct stat st;
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid())
        return false;
    return exactly0700 ? (st.st_mode & 0777) == 0700 : (st.st_mode & 0022) == 0;
}

// `dir` created 0700 when missing (its parent must exist), then checked.
bool MakeOwnFolder(const std::string& dir, bool exactly0700) {
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
    return IsOursAlone(dir, exactly0700);
}

std::string WithSlash(std::string dir) {
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir == "/" ? dir : dir + "/";
}

}  // namespace

bool AppendToPrivateFile(const std::wstring& path, const std::string& bytes) {
    int fd = OpenPrivate(path, O_WRONLY | O_APPEND | O_CREAT);
    if (fd < 0) return false;
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int e = n < 0 ? errno : ENOSPC;
            close(fd);
            return Refuse(OpenError(e));
        }
        p += n;
        left -= size_t(n);
    }
    close(fd);
    SetLastError(kErrSuccess);
    return true;
}

bool ReadPrivateFile(const std::wstring& path, size_t cap, std::string* out, bool* cut) {
    out->clear();
    if (cut) *cut = false;
    int fd = OpenPrivate(path, O_RDONLY);
    if (fd < 0) return false;
    char buf[8192];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof(buf));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            close(fd);
            return Refuse(kErrIoDevice);
        }
        if (n == 0) break;
        size_t take = std::min(size_t(n), cap - out->size());
        out->append(buf, take);
        if (take < size_t(n)) {
            if (cut) *cut = true;
            break;
        }
    }
    close(fd);
    SetLastError(kErrSuccess);
    return true;
}

std::wstring PrivateTempDir() {
    const std::string runtime = Env("XDG_RUNTIME_DIR");
    if (!runtime.empty() && IsOursAlone(runtime, false)) {
        const std::string dir = WithSlash(runtime) + "ulxjm";
        if (MakeOwnFolder(dir, false)) return posix::WidePath(dir + "/");
    }
    // A shared temporary folder: anyone may have made the name first, so
    // it counts only when it turns out ours alone.
    std::string tmp = Env("TMPDIR");
    if (tmp.empty()) tmp = "/tmp";
    const std::string shared = WithSlash(tmp) + "ulxjm-" + std::to_string(geteuid());
    if (MakeOwnFolder(shared, true)) return posix::WidePath(shared + "/");

    std::string cache = Env("XDG_CACHE_HOME");
    if (cache.empty()) {
        std::string home = Env("HOME");
        if (home.empty()) {
            if (passwd* pw = getpwuid(geteuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/')
                home = pw->pw_dir;
        }
        if (home.empty()) return std::wstring();
        cache = WithSlash(home) + ".cache";
        if (mkdir(cache.c_str(), 0700) != 0 && errno != EEXIST) return std::wstring();
    } else if (mkdir(cache.c_str(), 0700) != 0 && errno != EEXIST) {
        return std::wstring();
    }
    const std::string dir = WithSlash(cache) + "ulxjm";
    if (MakeOwnFolder(dir, false)) return posix::WidePath(dir + "/");
    return std::wstring();
}

}  // namespace plat
