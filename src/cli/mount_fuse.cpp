// The FUSE side of `ulxjm mount`: libfuse3's path API over store::StoreReader.
// Everything that would change the view is refused with EROFS; the mount
// is read-only as well, so the kernel refuses most of it before asking.
#define FUSE_USE_VERSION 31
#include "cli/mount_fuse.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <fuse.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <vector>

#include "cli/console.h"
#include "crypto/content_cipher.h"
#include "engine/pass_log.h"
#include "platform/posix/native_path.h"
#include "platform/text.h"

namespace cli {

namespace {

constexpr char kFsType[] = "fuse.ulxjm";

struct Context {
    store::StoreReader* reader = nullptr;
    std::wstring logPath;
    std::mutex logMutex;
    std::set<std::wstring> logged;  // each unreadable file named once per mount
    uid_t uid = 0;
    gid_t gid = 0;
};

Context* Ctx() {
    return static_cast<Context*>(fuse_get_context()->private_data);
}

std::wstring Rel(const char* path) {
    while (*path == '/') ++path;
    return plat::posix::WidePath(path);
}

void LogOnce(const std::wstring& storedPath, const std::wstring& reason) {
    Context* c = Ctx();
    std::lock_guard<std::mutex> lock(c->logMutex);
    if (!c->logged.insert(storedPath + reason).second || c->logPath.empty()) return;
    (void)engine::AppendLogLine(c->logPath, storedPath + reason);
}

int ErrnoOf(uint32_t error) {
    switch (error) {
        case plat::kErrFileNotFound:
        case plat::kErrPathNotFound:
            return ENOENT;
        case plat::kErrAccessDenied:
            return EACCES;
        default:
            return EIO;
    }
}

timespec ToTimespec(plat::FileTime t) {
    // FILETIME counts 100 ns from 1601; Unix time from 1970.
    constexpr int64_t kEpochDiff = 116444736000000000LL;
    const int64_t u = int64_t(t) - kEpochDiff;
    timespec ts{};
    ts.tv_sec = time_t(u >= 0 ? u / 10000000 : -((-u + 9999999) / 10000000));
    ts.tv_nsec = long((u - int64_t(ts.tv_sec) * 10000000) * 100);
    return ts;
}

void Fill(const store::ViewEntry& e, struct stat* st) {
    std::memset(st, 0, sizeof *st);
    st->st_mode = e.folder ? (S_IFDIR | 0555) : (S_IFREG | 0444);
    st->st_nlink = e.folder ? 2 : 1;
    st->st_size = off_t(e.folder ? 0 : e.size);
    st->st_blksize = 4096;
    st->st_blocks = (st->st_size + 511) / 512;
    st->st_uid = Ctx()->uid;
    st->st_gid = Ctx()->gid;
    st->st_atim = ToTimespec(e.times.lastAccess ? e.times.lastAccess : e.times.lastWrite);
    st->st_mtim = ToTimespec(e.times.lastWrite);
    st->st_ctim = st->st_mtim;
}

void* OpInit(fuse_conn_info* conn, fuse_config* cfg) {
    // The folder is locked while mounted, so no pass of ours changes it: the
    // kernel may keep what it was told. Only the Windows program under Wine
    // (whose lock we do not see) could change it meanwhile.
    cfg->kernel_cache = 1;
    cfg->entry_timeout = 30;
    cfg->attr_timeout = 30;
    cfg->negative_timeout = 1;
    // Names come with their attributes in every listing: `find` and `ls -l`
    // need no lookup per name.
    conn->want &= ~FUSE_CAP_READDIRPLUS_AUTO;
    return fuse_get_context()->private_data;
}

int OpGetattr(const char* path, struct stat* st, fuse_file_info*) {
    store::ViewEntry e;
    if (!path || !Ctx()->reader->Stat(Rel(path), &e)) return -ENOENT;
    Fill(e, st);
    return 0;
}

int OpReaddir(const char* path, void* buf, fuse_fill_dir_t filler, off_t, fuse_file_info*,
              fuse_readdir_flags) {
    std::vector<store::ViewEntry> entries;
    if (!Ctx()->reader->List(Rel(path), &entries)) return -ErrnoOf(plat::LastError());
    filler(buf, ".", nullptr, 0, fuse_fill_dir_flags(0));
    filler(buf, "..", nullptr, 0, fuse_fill_dir_flags(0));
    for (const auto& e : entries) {
        struct stat st;
        Fill(e, &st);
        const std::string name = plat::posix::NativePath(e.name);
        if (filler(buf, name.c_str(), &st, 0, FUSE_FILL_DIR_PLUS)) break;
    }
    return 0;
}

int OpOpen(const char* path, fuse_file_info* fi) {
    if ((fi->flags & O_ACCMODE) != O_RDONLY || (fi->flags & (O_TRUNC | O_CREAT))) return -EROFS;
    const std::wstring rel = Rel(path);
    std::wstring reason;
    std::unique_ptr<crypto::PlainFile> f = Ctx()->reader->Open(rel, &reason);
    if (!f) {
        if (reason.empty()) return -ErrnoOf(plat::LastError());
        LogOnce(Ctx()->reader->StoredPath(rel), reason);
        return -EIO;
    }
    fi->fh = reinterpret_cast<uint64_t>(f.release());
    fi->keep_cache = 1;
    return 0;
}

int OpRead(const char* path, char* buf, size_t size, off_t offset, fuse_file_info* fi) {
    auto* f = reinterpret_cast<crypto::PlainFile*>(fi->fh);
    if (!f || offset < 0) return -EIO;
    uint32_t done = 0;
    if (!f->Read(uint64_t(offset), buf, uint32_t(std::min<size_t>(size, 1u << 30)), &done)) {
        if (path) LogOnce(Ctx()->reader->StoredPath(Rel(path)), crypto::kReasonRead);
        return -EIO;
    }
    return int(done);
}

int OpRelease(const char*, fuse_file_info* fi) {
    delete reinterpret_cast<crypto::PlainFile*>(fi->fh);
    fi->fh = 0;
    return 0;
}

int OpStatfs(const char*, struct statvfs* st) {
    std::memset(st, 0, sizeof *st);
    st->f_bsize = st->f_frsize = 4096;
    st->f_namemax = 255;
    st->f_flag = ST_RDONLY;
    return 0;
}

// Everything that would change the view.
int RoPath(const char*) {
    return -EROFS;
}
int RoPathMode(const char*, mode_t) {
    return -EROFS;
}
int RoTwo(const char*, const char*) {
    return -EROFS;
}

fuse_operations Operations() {
    fuse_operations ops{};
    ops.init = OpInit;
    ops.getattr = OpGetattr;
    ops.readdir = OpReaddir;
    ops.open = OpOpen;
    ops.read = OpRead;
    ops.release = OpRelease;
    ops.statfs = OpStatfs;
    ops.mkdir = RoPathMode;
    ops.unlink = RoPath;
    ops.rmdir = RoPath;
    ops.symlink = RoTwo;
    ops.link = RoTwo;
    ops.mknod = [](const char*, mode_t, dev_t) { return -EROFS; };
    ops.rename = [](const char*, const char*, unsigned) { return -EROFS; };
    ops.chmod = [](const char*, mode_t, fuse_file_info*) { return -EROFS; };
    ops.chown = [](const char*, uid_t, gid_t, fuse_file_info*) { return -EROFS; };
    ops.truncate = [](const char*, off_t, fuse_file_info*) { return -EROFS; };
    ops.write = [](const char*, const char*, size_t, off_t, fuse_file_info*) { return -EROFS; };
    ops.create = [](const char*, mode_t, fuse_file_info*) { return -EROFS; };
    ops.utimens = [](const char*, const timespec*, fuse_file_info*) { return -EROFS; };
    ops.setxattr = [](const char*, const char*, const char*, size_t, int) { return -EROFS; };
    ops.removexattr = [](const char*, const char*) { return -EROFS; };
    ops.fallocate = [](const char*, int, off_t, off_t, fuse_file_info*) { return -EROFS; };
    return ops;
}

// Commas and backslashes in an option value are escaped for libfuse.
std::string OptionValue(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == ',' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

// libfuse reports on standard error; its words are kept for our message.
class StderrCapture {
  public:
    StderrCapture() {
        fd_ = memfd_create("ulxjm-fuse-errors", MFD_CLOEXEC);
        if (fd_ < 0) return;
        saved_ = dup(2);
        if (saved_ < 0 || dup2(fd_, 2) < 0) Restore();
    }
    ~StderrCapture() { Restore(); }
    // Restores standard error; what was written meanwhile.
    std::string Take() {
        Restore();
        std::string text;
        if (fd_ < 0) return text;
        char buf[1024];
        ssize_t n;
        off_t at = 0;
        while ((n = pread(fd_, buf, sizeof buf, at)) > 0 && text.size() < 4096) {
            text.append(buf, size_t(n));
            at += n;
        }
        close(fd_);
        fd_ = -1;
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
        return text;
    }

  private:
    void Restore() {
        if (saved_ >= 0) {
            dup2(saved_, 2);
            close(saved_);
            saved_ = -1;
        }
    }
    int fd_ = -1;
    int saved_ = -1;
};

std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t k = 0; k < s.size(); ++k) {
        if (s[k] == '\\' && k + 3 < s.size() && std::isdigit(uint8_t(s[k + 1]))) {
            out += char(std::stoi(s.substr(k + 1, 3), nullptr, 8));
            k += 3;
        } else {
            out += s[k];
        }
    }
    return out;
}

}  // namespace

bool MountSupported() {
    return true;
}

std::wstring FuseDeviceProblem() {
    if (access("/dev/fuse", F_OK) != 0)
        return L"这台电脑没有 /dev/fuse，不能挂载。请先加载 fuse 内核模块（modprobe fuse）。";
    if (access("/dev/fuse", R_OK | W_OK) != 0 && access("/usr/bin/fusermount3", X_OK) != 0)
        return L"没有使用 /dev/fuse 的权限，不能挂载。请安装 fuse3 或以有权限的用户运行。";
    return L"";
}

int ServeMount(store::StoreReader& reader, const MountRequest& request) {
    Context ctx;
    ctx.reader = &reader;
    ctx.logPath = request.logPath;
    ctx.uid = getuid();
    ctx.gid = getgid();
    const std::string folder = plat::posix::NativePath(request.folder);
    const std::string point = plat::posix::NativePath(request.mountPoint);
    const std::string options =
        "ro,default_permissions,subtype=ulxjm,fsname=" + OptionValue(folder);
    std::vector<std::string> argv = {"ulxjm", "-o", options};
    std::vector<char*> ptrs;
    for (auto& a : argv) ptrs.push_back(a.data());
    fuse_args args = FUSE_ARGS_INIT(int(ptrs.size()), ptrs.data());
    const fuse_operations ops = Operations();

    StderrCapture capture;
    fuse* f = fuse_new(&args, &ops, sizeof ops, &ctx);
    const bool mounted = f && fuse_mount(f, point.c_str()) == 0;
    const std::string said = capture.Take();
    fuse_opt_free_args(&args);
    if (!mounted) {
        if (f) fuse_destroy(f);
        const std::wstring detail = said.empty() ? L"" : L"（" + plat::FromUtf8(said) + L"）";
        Con().Err(L"ulxjm: 不能挂载到“" + request.mountPoint + L"”" + detail +
                  L"。请确认有权限使用 FUSE（/dev/fuse 和 fusermount3）。\n");
        return 2;
    }
    Con().Err(L"已挂载：“" + request.folder + L"”的内容只读显示在“" + request.mountPoint +
              L"”。用 ulxjm umount " + request.mountPoint + L" 卸载。\n");
    if (fuse_daemonize(request.foreground ? 1 : 0) != 0) {
        fuse_unmount(f);
        fuse_destroy(f);
        return 2;
    }
    fuse_session* se = fuse_get_session(f);
    int code = 0;
    if (fuse_set_signal_handlers(se) != 0) {
        code = 2;
    } else {
        // A loop ended by Ctrl+C or a termination signal reports the
        // signal: that is how a foreground mount is meant to end.
        const int res = fuse_loop_mt(f, 0);
        if (res != 0 && res != SIGINT && res != SIGTERM && res != SIGHUP) code = 1;
        fuse_remove_signal_handlers(se);
    }
    fuse_unmount(f);
    fuse_destroy(f);
    return code;
}

bool FindOurMount(const std::wstring& mountPoint, std::wstring* folder) {
    std::ifstream in("/proc/self/mountinfo");
    const std::string want = plat::posix::NativePath(mountPoint);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::vector<std::string> f;
        std::string w;
        while (fields >> w) f.push_back(w);
        size_t dash = 0;
        while (dash < f.size() && f[dash] != "-") ++dash;
        if (f.size() < 5 || dash + 2 >= f.size()) continue;
        if (Unescape(f[4]) != want || f[dash + 1] != kFsType) continue;
        if (folder) *folder = plat::posix::WidePath(Unescape(f[dash + 2]));
        return true;
    }
    return false;
}

std::wstring Unmount(const std::wstring& mountPoint) {
    const std::string point = plat::posix::NativePath(mountPoint);
    if (umount2(point.c_str(), UMOUNT_NOFOLLOW) == 0) return L"";
    if (errno == EBUSY)
        return L"挂载点正在使用中（有程序打开了其中的文件或正在其中），请关闭后再试。";
    // Users without the right to unmount go through the setuid helper.
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        if (null >= 0) dup2(null, 1);
        execlp("fusermount3", "fusermount3", "-u", "-q", "--", point.c_str(), (char*)nullptr);
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) < 0) return L"不能运行 fusermount3。";
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return L"";
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
        return L"没有卸载的权限，也找不到 fusermount3。";
    return L"fusermount3 没能卸载（挂载点可能正在使用中）。";
}

}  // namespace cli
