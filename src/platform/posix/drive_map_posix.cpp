// Drive letters on posix: a symbolic link named after the letter ("Y")
// leading to the mapped folder, in a folder that must be the user's alone
// ($XDG_RUNTIME_DIR/ulxjm-drives, else /tmp/ulxjm-drives-<uid>, 0700). A
// folder anyone else could write into might hold links of theirs, which
// would send our reads and writes elsewhere: such a folder is not used.
#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/drive_map.h"
#include "platform/fs.h"
#include "platform/posix/native_path.h"

namespace plat {

namespace {

// A folder of ours, not a link, with mode 0700 exactly.
bool IsOwnPrivateFolder(const std::string& dir) {
    struct stat st;
    return lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
           (st.st_mode & 07777) == 0700;
}

// The drives folder when it is ours alone, created when `create`; empty
// with LastError() otherwise.
std::string DrivesFolder(bool create) {
    std::string dir;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st;
    if (runtime && runtime[0] == '/' && lstat(runtime, &st) == 0 && S_ISDIR(st.st_mode) &&
        st.st_uid == geteuid() && (st.st_mode & 0022) == 0) {
        dir = std::string(runtime) + "/ulxjm-drives";
    } else {
        dir = "/tmp/ulxjm-drives-" + std::to_string(geteuid());
    }
    if (create) {
        if (mkdir(dir.c_str(), 0700) == 0) {
            (void)chmod(dir.c_str(), 0700);  // whatever the umask took away
        } else if (errno != EEXIST) {
            SetLastError(kErrAccessDenied);
            return std::string();
        }
    }
    if (!IsOwnPrivateFolder(dir)) {
        SetLastError(errno == ENOENT && !create ? kErrPathNotFound : kErrAccessDenied);
        return std::string();
    }
    return dir;
}

std::string LinkName(const std::string& folder, wchar_t letter) {
    return folder + "/" + char(letter);
}

bool Fail(uint32_t code) {
    SetLastError(code);
    return false;
}

}  // namespace

std::wstring DriveLettersInUse() {
    std::wstring letters;
    const std::string folder = DrivesFolder(false);
    if (folder.empty()) return letters;
    bool seen[26] = {};
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d)) {
            const char c = e->d_name[0];
            if (c >= 'A' && c <= 'Z' && e->d_name[1] == 0) seen[c - 'A'] = true;
        }
        closedir(d);
    }
    for (int i = 0; i < 26; ++i)
        if (seen[i]) letters += wchar_t(L'A' + i);
    return letters;
}

bool ReserveDrive(const std::wstring& drive) {
    const wchar_t letter = DriveLetter(drive);
    if (!letter) return Fail(kErrInvalidParameter);
    const std::string folder = DrivesFolder(true);
    if (folder.empty()) return false;
    struct stat st;
    if (lstat(LinkName(folder, letter).c_str(), &st) == 0) return Fail(kErrAlreadyExists);
    SetLastError(kErrSuccess);
    return true;
}

bool MapDrive(const std::wstring& drive, const std::wstring& folder) {
    const wchar_t letter = DriveLetter(drive);
    if (!letter) return Fail(kErrInvalidParameter);
    std::string target = posix::NativePath(folder);
    while (target.size() > 1 && target.back() == '/') target.pop_back();
    struct stat st;
    if (target.empty() || target[0] != '/' || lstat(target.c_str(), &st) != 0 ||
        !S_ISDIR(st.st_mode))
        return Fail(kErrPathNotFound);
    const std::string drives = DrivesFolder(true);
    if (drives.empty()) return false;
    // symlink() never replaces: a letter in use stays as it is.
    if (symlink(target.c_str(), LinkName(drives, letter).c_str()) != 0)
        return Fail(errno == EEXIST ? kErrAlreadyExists : kErrAccessDenied);
    SetLastError(kErrSuccess);
    return true;
}

void ReleaseDrive(const std::wstring& drive) {
    const wchar_t letter = DriveLetter(drive);
    if (!letter) return;
    const std::string drives = DrivesFolder(false);
    if (drives.empty()) return;
    const std::string link = LinkName(drives, letter);
    struct stat st;
    if (lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) (void)unlink(link.c_str());
}

std::wstring DriveRootPath(const std::wstring& drive) {
    const wchar_t letter = DriveLetter(drive);
    if (!letter) return std::wstring();
    const std::string drives = DrivesFolder(true);
    if (drives.empty()) return std::wstring();
    return posix::WidePath(LinkName(drives, letter) + "/");
}

std::wstring MappedFolderOf(const std::wstring& drive) {
    const wchar_t letter = DriveLetter(drive);
    if (!letter) return std::wstring();
    const std::string drives = DrivesFolder(false);
    if (drives.empty()) return std::wstring();
    const std::string link = LinkName(drives, letter);
    struct stat st;
    if (lstat(link.c_str(), &st) != 0 || !S_ISLNK(st.st_mode) || st.st_uid != geteuid())
        return std::wstring();
    char buf[PATH_MAX + 1];
    const ssize_t n = readlink(link.c_str(), buf, PATH_MAX);
    if (n <= 0 || buf[0] != '/') return std::wstring();
    return WithoutSep(posix::WidePath(std::string(buf, size_t(n))));
}

}  // namespace plat
