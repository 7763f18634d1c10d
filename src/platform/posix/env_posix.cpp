// Process, folder, drive and time services on posix (Linux).
//
// Drives are mount points: LogicalDrives lists the mounts of real file
// systems from /proc/self/mountinfo, each root with a trailing '/'.
#include <errno.h>
#include <limits.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/env.h"
#include "platform/posix/native_path.h"
#include "platform/text.h"

extern char** environ;

namespace plat {

namespace {

std::string ReadWholeFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::wstring EnvDir(const char* name) {
    const char* v = std::getenv(name);
    if (v && v[0] == '/') return posix::WidePath(v);
    return std::wstring();
}

std::wstring HomeDir() {
    std::wstring home = EnvDir("HOME");
    if (!home.empty()) return home;
    if (passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return posix::WidePath(pw->pw_dir);
    return std::wstring();
}

// mountinfo escapes blanks and a few other bytes as \ooo.
std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size()) {
            int v = 0;
            bool ok = true;
            for (int k = 1; k <= 3; ++k) {
                char c = s[i + k];
                if (c < '0' || c > '7') ok = false;
                v = v * 8 + (c - '0');
            }
            if (ok) {
                out += static_cast<char>(v);
                i += 3;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

struct Mount {
    std::string point;  // without trailing '/' except the root
    std::string fsType;
    std::string devNumbers;  // "major:minor"
};

std::vector<Mount> ReadMounts() {
    std::vector<Mount> mounts;
    std::istringstream in(ReadWholeFile("/proc/self/mountinfo"));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        std::string id, parent, dev, root, point, tok;
        ls >> id >> parent >> dev >> root >> point;
        while (ls >> tok && tok != "-") {
        }
        std::string fsType;
        ls >> fsType;
        if (point.empty() || fsType.empty()) continue;
        mounts.push_back({Unescape(point), fsType, dev});
    }
    return mounts;
}

bool IsPseudoFs(const std::string& t) {
    static const std::set<std::string> kPseudo = {
        "proc",        "sysfs",      "devtmpfs", "devpts",   "tmpfs",     "ramfs",
        "cgroup",      "cgroup2",    "mqueue",   "debugfs",  "tracefs",   "securityfs",
        "pstore",      "bpf",        "configfs", "fusectl",  "hugetlbfs", "autofs",
        "binfmt_misc", "rpc_pipefs", "nsfs",     "efivarfs", "selinuxfs", "fuse.gvfsd-fuse",
        "fuse.portal", "squashfs",   "nfsd"};
    return kPseudo.count(t) != 0;
}

bool IsSystemPlace(const std::string& p) {
    for (const char* prefix : {"/proc", "/sys", "/dev", "/run", "/boot", "/snap"}) {
        size_t n = std::strlen(prefix);
        if (p.compare(0, n, prefix) == 0 && (p.size() == n || p[n] == '/')) return true;
    }
    return false;
}

std::string ReadSmall(const std::string& path) {
    std::string s = ReadWholeFile(path.c_str());
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

DriveType TypeOf(const Mount& m) {
    const std::string& t = m.fsType;
    if (t == "nfs" || t == "nfs4" || t == "cifs" || t == "smb3" || t == "smbfs" ||
        t == "fuse.sshfs" || t == "sshfs" || t == "9p" || t == "afs")
        return DriveType::Remote;
    if (t == "iso9660" || t == "udf") return DriveType::CdRom;
    if (t == "tmpfs" || t == "ramfs") return DriveType::RamDisk;
    // Block device: removable flag of the disk (a partition's disk is its
    // parent in sysfs), or anything attached through USB.
    std::string sys = "/sys/dev/block/" + m.devNumbers;
    char real[PATH_MAX];
    if (realpath(sys.c_str(), real)) {
        std::string dev = real;
        if (dev.find("/usb") != std::string::npos) return DriveType::Removable;
        struct stat st;
        std::string disk =
            stat((dev + "/partition").c_str(), &st) == 0 ? dev.substr(0, dev.rfind('/')) : dev;
        if (ReadSmall(disk + "/removable") == "1") return DriveType::Removable;
    }
    return DriveType::Fixed;
}

std::string AbsoluteNative(const std::wstring& path) {
    std::string p = posix::NativePath(path);
    if (!p.empty() && p[0] == '/') return p;
    return posix::NativePath(WithSep(CurrentDir())) + p;
}

// The mount holding `p` (longest mount point that is a prefix by components).
const Mount* MountOf(const std::vector<Mount>& mounts, const std::string& p) {
    const Mount* best = nullptr;
    for (const auto& m : mounts) {
        const std::string& mp = m.point;
        bool prefix = mp == "/" || (p.compare(0, mp.size(), mp) == 0 &&
                                    (p.size() == mp.size() || p[mp.size()] == '/'));
        // Later mounts over the same point hide earlier ones: prefer them.
        if (prefix && (!best || mp.size() >= best->point.size())) best = &m;
    }
    return best;
}

std::wstring RootText(const std::string& point) {
    return point == "/" ? std::wstring(L"/") : posix::WidePath(point) + L"/";
}

}  // namespace

std::wstring ModulePath() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0) return std::wstring();
    return posix::WidePath(std::string(buf, static_cast<size_t>(n)));
}

// The module path in quotes, as Windows shows a program started from
// Explorer, then the arguments joined by single blanks as the shell passed
// them. They are not quoted again: the launch arguments are split at commas,
// so quotes would end up inside the fields.
std::wstring CommandLine() {
    std::string raw = ReadWholeFile("/proc/self/cmdline");
    std::vector<std::string> args;
    size_t start = 0;
    while (start < raw.size()) {
        size_t end = raw.find('\0', start);
        if (end == std::string::npos) end = raw.size();
        args.push_back(raw.substr(start, end - start));
        start = end + 1;
    }
    std::wstring out = L"\"" + ModulePath() + L"\"";
    for (size_t i = 1; i < args.size(); ++i) out += L" " + posix::WidePath(args[i]);
    return out;
}

std::wstring CurrentDir() {
    char buf[PATH_MAX];
    if (!getcwd(buf, sizeof(buf))) return std::wstring();
    return posix::WidePath(buf);
}

bool SetCurrentDir(const std::wstring& dir) {
    if (chdir(posix::NativePath(dir).c_str()) != 0) {
        SetLastError(errno == ENOENT || errno == ENOTDIR ? kErrPathNotFound
                     : errno == EACCES                   ? kErrAccessDenied
                                                         : kErrInvalidParameter);
        return false;
    }
    return true;
}

std::wstring TempDir() {
    std::wstring t = EnvDir("TMPDIR");
    if (t.empty()) t = L"/tmp";
    return WithSep(t);
}

std::wstring SystemDir() {
    return L"/usr/bin/";
}

std::wstring UserAppDataDir() {
    std::wstring d = EnvDir("XDG_DATA_HOME");
    if (d.empty()) {
        std::wstring home = HomeDir();
        if (home.empty()) return std::wstring();
        d = JoinPath(home, L".local/share");
    }
    return WithoutSep(d);
}

std::vector<DriveInfo> LogicalDrives() {
    std::vector<Mount> mounts = ReadMounts();
    std::vector<DriveInfo> out;
    std::set<std::string> seen;
    for (size_t i = 0; i < mounts.size(); ++i) {
        const Mount& m = mounts[i];
        if (IsPseudoFs(m.fsType) || IsSystemPlace(m.point) || !seen.insert(m.point).second)
            continue;
        struct stat st;
        if (stat(m.point.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            continue;  // bind-mounted files
        // The last mount over a point is the one in effect.
        const Mount* top = &m;
        for (size_t k = i + 1; k < mounts.size(); ++k)
            if (mounts[k].point == m.point) top = &mounts[k];
        out.push_back({RootText(m.point), TypeOf(*top)});
    }
    return out;
}

DriveType GetDriveType(const std::wstring& root) {
    std::string p = posix::NativePath(WithoutSep(root));
    if (p.empty() || p[0] != '/') return DriveType::NoRootDir;
    struct stat st;
    if (stat(p.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return DriveType::NoRootDir;
    std::vector<Mount> mounts = ReadMounts();
    const Mount* m = MountOf(mounts, p);
    // Like GetDriveTypeW, a folder that is not a volume root has no type.
    if (!m || m->point != p) return DriveType::NoRootDir;
    return TypeOf(*m);
}

std::wstring DriveRootOf(const std::wstring& path) {
    std::vector<Mount> mounts = ReadMounts();
    const Mount* m = MountOf(mounts, AbsoluteNative(path));
    return m ? RootText(m->point) : std::wstring(L"/");
}

// Posix reports itself as an NT 6.2 system, as Wine does for a program
// without a compatibility manifest, so both builds take the same paths.
OsVersion GetOsVersion() {
    OsVersion v;
    utsname u;
    if (uname(&u) != 0) return v;
    v.ok = true;
    v.platformId = 2;
    v.major = 6;
    v.minor = 2;
    return v;
}

bool FileTimeToLocal(FileTime t, LocalTime* out) {
    constexpr uint64_t kEpochDiff = 11644473600ULL;
    // Times before 1970 are fine: time_t is signed.
    time_t tt = static_cast<time_t>(static_cast<int64_t>(t / 10000000ULL) -
                                    static_cast<int64_t>(kEpochDiff));
    tm parts;
    if (!localtime_r(&tt, &parts)) return false;
    out->year = parts.tm_year + 1900;
    out->month = parts.tm_mon + 1;
    out->day = parts.tm_mday;
    out->hour = parts.tm_hour;
    out->minute = parts.tm_min;
    out->second = parts.tm_sec;
    return true;
}

FileTime NowFileTime() {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return (static_cast<uint64_t>(ts.tv_sec) + 11644473600ULL) * 10000000ULL +
           static_cast<uint64_t>(ts.tv_nsec) / 100;
}

uint64_t TickMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool ShellOpen(const std::wstring& path) {
    // Only when xdg-open is there; it runs detached so nothing waits on it.
    const char* pathEnv = std::getenv("PATH");
    bool found = false;
    std::istringstream dirs(pathEnv ? pathEnv : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        if (!dir.empty() && access((dir + "/xdg-open").c_str(), X_OK) == 0) found = true;
    }
    if (!found) return false;
    std::string target = posix::NativePath(path);
    const char* argv[] = {"/bin/sh", "-c",           "xdg-open \"$1\" >/dev/null 2>&1 </dev/null &",
                          "sh",      target.c_str(), nullptr};
    pid_t pid;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
        return false;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void KeepSecretsOutOfDumps() {
    (void)prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    const struct rlimit none = {0, 0};
    (void)setrlimit(RLIMIT_CORE, &none);
}

}  // namespace plat
