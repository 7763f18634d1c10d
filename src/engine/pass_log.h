// The pass log "easylog.txt": one line per failure or rename, appended in the
// ANSI code page. The program deletes it at start-up and opens it after a
// pass that had trouble. It lives in a folder only the user can write and
// is only ever appended to or read as a private file (platform/private_file.h):
// nobody else can have it planted as a link to one of the user's files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace engine {

// Appends `line` and a line break to the log at `path` (created when
// missing). Safe to call from several threads. False when it cannot be
// written or is not a private file of the user; passes go on regardless.
bool AppendLogLine(const std::wstring& path, const std::wstring& line);

// The lines of the log at `path` (read as the command prints them, as a
// private file: none when it is not one).
std::vector<std::wstring> LogLinesOf(const std::wstring& path);

// "easylog.txt" in plat::PrivateTempDir(); empty when there is no such folder.
std::wstring DefaultLogPath();

// The log of the current process: app::Globals().LogFilePath, or
// DefaultLogPath() when start-up has not filled it.
std::wstring LogPath();

// "错误代码为：%d,%s" for the calling thread's last platform error.
std::wstring LastErrorText();
std::wstring ErrorCodeText(uint32_t code);

// The log a pass writes into; remembers the last error text it built.
class PassLog {
  public:
    PassLog() : path_(LogPath()) {}
    explicit PassLog(std::wstring path) : path_(std::move(path)) {}

    void Append(const std::wstring& line) const { (void)AppendLogLine(path_, line); }
    // Builds the error text from the last platform error, remembers it.
    const std::wstring& TakeError();
    const std::wstring& LastError() const { return lastError_; }
    const std::wstring& Path() const { return path_; }

  private:
    std::wstring path_;
    std::wstring lastError_;
};

}  // namespace engine
