#include "engine/pass_log.h"

#include <cstdio>
#include <mutex>

#include "app/globals.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace engine {

namespace {
std::mutex& LogLock() {
    static std::mutex lock;
    return lock;
}
}  // namespace

bool AppendLogLine(const std::wstring& path, const std::wstring& line) {
    if (path.empty()) return false;
    // The log is written by whoever meets trouble, possibly from two threads
    // (a pass and a watcher): serialise whole lines.
    std::lock_guard<std::mutex> lock(LogLock());
    auto file = plat::Fs().Open(path, plat::Access::ReadWrite, plat::Disposition::OpenAlways);
    if (!file) return false;
    std::string bytes = plat::ToAnsi(line);
    bytes += "\r\n";
    return file->Seek(0, SEEK_END) && file->WriteAll(bytes.data(), uint32_t(bytes.size()));
}

std::vector<std::wstring> LogLinesOf(const std::wstring& path) {
    std::vector<std::wstring> lines;
    auto file = plat::Fs().Open(path, plat::Access::Read, plat::Disposition::OpenExisting);
    uint64_t size = 0;
    // The log is ours and short; anything larger is not read whole.
    if (!file || !file->Size(&size) || size > (1u << 20)) return lines;
    std::string bytes(size_t(size), '\0');
    if (size && !file->ReadExact(bytes.data(), uint32_t(size))) return lines;
    size_t at = 0;
    while (at < bytes.size()) {
        size_t end = bytes.find('\n', at);
        if (end == std::string::npos) end = bytes.size();
        std::string line = bytes.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(plat::FromAnsi(line));
        at = end + 1;
    }
    return lines;
}

std::wstring LogPath() {
    const std::wstring& p = app::Globals().LogFilePath;
    if (!p.empty()) return p;
    return plat::TempDir() + app::kLogFileName;
}

std::wstring ErrorCodeText(uint32_t code) {
    return L"错误代码为：" + std::to_wstring(code) + L"," + plat::ErrorText(code);
}

std::wstring LastErrorText() {
    return ErrorCodeText(plat::LastError());
}

const std::wstring& PassLog::TakeError() {
    lastError_ = LastErrorText();
    return lastError_;
}

}  // namespace engine
