#include "engine/pass_log.h"

#include <cstdio>
#include <mutex>

#include "app/globals.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/private_file.h"
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
    std::string bytes = plat::ToAnsi(line);
    bytes += "\r\n";
    return plat::AppendToPrivateFile(path, bytes);
}

std::wstring DefaultLogPath() {
    const std::wstring dir = plat::PrivateTempDir();
    return dir.empty() ? std::wstring() : dir + app::kLogFileName;
}

std::vector<std::wstring> LogLinesOf(const std::wstring& path) {
    std::vector<std::wstring> lines;
    // Only our own log, never a file someone placed under its name; it is
    // short, so its first MiB is all of it that matters.
    std::string bytes;
    bool cut = false;
    if (!plat::ReadPrivateFile(path, 1u << 20, &bytes, &cut)) return lines;
    if (cut) bytes.erase(bytes.rfind('\n') + 1);
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
    return DefaultLogPath();
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
