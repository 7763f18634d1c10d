// Portable parts of the platform layer: path helpers, the swappable file
// system and settings, whole-buffer file I/O. text_common.cpp and
// ini_settings.cpp are portable too.
//
// Each platform directory supplies the rest: OsFileSystem, LastError,
// SetLastError, ErrorText (fs.h); OsUserSettings (settings.h); ToAnsi,
// FromAnsi, AnsiCodePage (text.h); everything in env.h.
#include <algorithm>
#include <atomic>

#include "platform/fs.h"
#include "platform/settings.h"

namespace plat {

namespace {

// '/' separates on Windows too; on posix '\\' is an ordinary name character.
bool IsSep(wchar_t c) {
    return c == kSep || c == L'/';
}

// Length of the root that must keep its separator: "/" on posix, "C:\" or
// "\\server\share\" style prefixes on Windows.
size_t RootLength(const std::wstring& p) {
#ifdef _WIN32
    if (p.size() >= 3 && p[1] == L':' && IsSep(p[2])) return 3;
    if (p.size() >= 2 && IsSep(p[0]) && IsSep(p[1])) return 2;
    if (!p.empty() && IsSep(p[0])) return 1;
    return 0;
#else
    return (!p.empty() && IsSep(p[0])) ? 1 : 0;
#endif
}

std::atomic<FileSystem*> g_fs{nullptr};
std::atomic<Settings*> g_settings{nullptr};

}  // namespace

std::wstring JoinPath(const std::wstring& a, const std::wstring& b) {
    if (a.empty()) return b;
    size_t skip = 0;
    while (skip < b.size() && IsSep(b[skip])) ++skip;
    std::wstring out = a;
    if (!IsSep(out.back())) out += kSep;
    out.append(b, skip, std::wstring::npos);
    return out;
}

std::wstring WithSep(std::wstring path) {
    if (path.empty()) return path;
    path = WithoutSep(std::move(path));
    if (!IsSep(path.back())) path += kSep;
    return path;
}

std::wstring WithoutSep(std::wstring path) {
    size_t root = RootLength(path);
    while (path.size() > root && IsSep(path.back())) path.pop_back();
    return path;
}

std::wstring LeafName(const std::wstring& path) {
    for (size_t i = path.size(); i > 0; --i) {
        if (IsSep(path[i - 1])) return path.substr(i);
    }
    return path;
}

std::wstring ParentWithSep(const std::wstring& path) {
    for (size_t i = path.size(); i > 0; --i) {
        if (IsSep(path[i - 1])) return path.substr(0, i);
    }
    return std::wstring();
}

FileSystem& Fs() {
    FileSystem* fs = g_fs.load(std::memory_order_acquire);
    return fs ? *fs : OsFileSystem();
}

ScopedFileSystem::ScopedFileSystem(FileSystem& fs)
    : previous_(g_fs.exchange(&fs, std::memory_order_acq_rel)) {}

ScopedFileSystem::~ScopedFileSystem() {
    g_fs.store(previous_, std::memory_order_release);
}

bool File::ReadExact(void* buf, uint32_t len) {
    auto* p = static_cast<unsigned char*>(buf);
    uint32_t total = 0;
    while (total < len) {
        uint32_t done = 0;
        if (!Read(p + total, len - total, &done)) return false;
        if (done == 0) {
            SetLastError(kErrHandleEof);
            return false;
        }
        total += done;
    }
    return true;
}

bool File::WriteAll(const void* buf, uint32_t len) {
    auto* p = static_cast<const unsigned char*>(buf);
    uint32_t total = 0;
    while (total < len) {
        uint32_t done = 0;
        if (!Write(p + total, len - total, &done)) return false;
        if (done == 0) {
            SetLastError(kErrDiskFull);
            return false;
        }
        total += done;
    }
    return true;
}

bool ReadSmallFile(const std::wstring& path, uint64_t maxSize, std::string* out, uint64_t* size) {
    out->clear();
    if (size) *size = 0;
    maxSize = std::min<uint64_t>(maxSize, uint64_t(1) << 30);  // "small" keeps maxSize + 1 sane
    FileSystem& fs = Fs();
    const uint32_t attrs = fs.GetAttributes(path);
    if (attrs == kInvalidAttributes) return false;
    if (attrs & (kAttrDirectory | kAttrReparsePoint)) {
        SetLastError(kErrAccessDenied);
        return false;
    }
    // The OS layer refuses pipes and devices when it opens them.
    std::unique_ptr<File> f = fs.Open(path, Access::Read, Disposition::OpenExisting);
    uint64_t reported = 0;
    if (!f || !f->Size(&reported)) return false;
    if (size) *size = reported;
    if (reported > maxSize) {
        SetLastError(kErrAccessDenied);
        return false;
    }
    // The reported size only sizes the buffer: a file that grows meanwhile
    // still stops one byte past the limit.
    std::string bytes(size_t(reported) + 1, '\0');
    size_t total = 0;
    for (;;) {
        if (total == bytes.size()) {
            if (total > maxSize) {
                SetLastError(kErrAccessDenied);
                return false;
            }
            bytes.resize(size_t(std::min<uint64_t>(maxSize + 1, uint64_t(total) * 2 + 4096)));
        }
        uint32_t done = 0;
        const uint32_t want = uint32_t(std::min<size_t>(bytes.size() - total, 1u << 20));
        if (!f->Read(bytes.data() + total, want, &done)) return false;
        if (done == 0) break;
        total += done;
    }
    bytes.resize(total);
    *out = std::move(bytes);
    return true;
}

Settings& UserSettings() {
    Settings* s = g_settings.load(std::memory_order_acquire);
    return s ? *s : OsUserSettings();
}

ScopedSettings::ScopedSettings(Settings& s)
    : previous_(g_settings.exchange(&s, std::memory_order_acq_rel)) {}

ScopedSettings::~ScopedSettings() {
    g_settings.store(previous_, std::memory_order_release);
}

}  // namespace plat
