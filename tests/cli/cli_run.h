// Runs the built ulxjm program as a process for the end-to-end tests of
// hostile folders: settings, temporary files and cache of its own, no
// controlling terminal, bounded in time.
#pragma once
#ifndef _WIN32

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/fs.h"
#include "platform/text.h"
#include "support/test_files.h"

namespace clitest {

inline std::string N(const std::wstring& w) {
    return plat::ToUtf8(w);
}

struct Result {
    int code = -1;
    std::string out;
    std::string err;
    int signal = 0;       // the signal that ended it, else 0
    bool core = false;    // the kernel reported a core dump
};

// Path -> marks, size and content of everything below `dir` (links by target).
using Tree = std::map<std::wstring, std::string>;
inline void Snap(const std::wstring& dir, const std::wstring& rel, Tree* t) {
    std::vector<plat::DirEntry> entries;
    if (!plat::OsFileSystem().ListDir(dir, &entries)) return;
    for (const auto& e : entries) {
        const std::wstring r = rel.empty() ? e.name : rel + L"/" + e.name;
        const std::wstring p = plat::JoinPath(dir, e.name);
        if (e.attributes & plat::kAttrReparsePoint) {
            char target[4096] = {};
            (void)readlink(N(p).c_str(), target, sizeof target - 1);
            (*t)[r] = std::string("link:") + target;
        } else if (e.IsDirectory()) {
            (*t)[r + L"/"] = "dir";
            Snap(p, r, t);
        } else {
            // Short contents as they are, long ones by size and hash, so a
            // failure stays readable.
            const std::string bytes = testsupport::ReadFileBytes(p);
            (*t)[r] = bytes.size() <= 64 ? bytes
                                         : std::to_string(bytes.size()) + " bytes, hash " +
                                               std::to_string(std::hash<std::string>{}(bytes));
        }
    }
}
inline Tree Snapshot(const std::wstring& dir) {
    Tree t;
    Snap(dir, L"", &t);
    return t;
}

class Runner {
  public:
    Runner() {
        for (const wchar_t* d : {L"tmp", L"config", L"cache", L"run"})
            EXPECT_TRUE(plat::OsFileSystem().CreateDir(tmp_ / d));
    }
    const testsupport::TempFolder& tmp() const { return tmp_; }

    // Starts the program; its standard input is a pipe whose write end is
    // returned in *stdinFd (or the `input` text when stdinFd is null).
    // `prepare` runs in the child before exec.
    // `wrapper` (e.g. strace and its options) runs the program.
    pid_t Start(const std::vector<std::string>& args, const std::string& input, int* stdinFd,
                const std::function<void()>& prepare = {},
                const std::vector<std::string>& wrapper = {}) {
        const std::string out = N(tmp_ / L"stdout"), err = N(tmp_ / L"stderr");
        const std::string in = N(tmp_ / L"stdin");
        if (!stdinFd) EXPECT_TRUE(testsupport::WriteFileBytes(plat::FromUtf8(in), input));
        int fds[2] = {-1, -1};
        if (stdinFd) EXPECT_EQ(pipe(fds), 0);
        const std::string tmpDir = N(tmp_ / L"tmp"), config = N(tmp_ / L"config"),
                          cache = N(tmp_ / L"cache"), program = ULXJM_CLI_PATH;
        pid_t pid = fork();
        if (pid == 0) {
            setsid();
            int fi = stdinFd ? fds[0] : open(in.c_str(), O_RDONLY);
            if (stdinFd) close(fds[1]);
            int fo = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int fe = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(fi, 0);
            dup2(fo, 1);
            dup2(fe, 2);
            setenv("TMPDIR", tmpDir.c_str(), 1);
            setenv("XDG_CONFIG_HOME", config.c_str(), 1);
            setenv("XDG_CACHE_HOME", cache.c_str(), 1);
            unsetenv("XDG_RUNTIME_DIR");
            if (prepare) prepare();
            std::vector<char*> argv;
            for (const auto& a : wrapper) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(const_cast<char*>(program.c_str()));
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            if (wrapper.empty())
                execv(program.c_str(), argv.data());
            else
                execvp(argv[0], argv.data());
            _exit(127);
        }
        if (stdinFd) {
            close(fds[0]);
            *stdinFd = fds[1];
        }
        return pid;
    }

    // Waits for `pid` (killed after `seconds`) and collects its output.
    Result Wait(pid_t pid, int seconds = 30) {
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        bool hung = false;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                hung = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_FALSE(hung) << "the command did not finish within " << seconds << " s";
        Result r;
        r.code = hung ? -2 : WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        r.core = WIFSIGNALED(status) && WCOREDUMP(status);
        (void)testsupport::ReadFileBytes(tmp_ / L"stdout", &r.out);
        (void)testsupport::ReadFileBytes(tmp_ / L"stderr", &r.err);
        return r;
    }

    Result Run(const std::vector<std::string>& args, const std::string& input = "") {
        return Wait(Start(args, input, nullptr));
    }

  private:
    testsupport::TempFolder tmp_;
};

}  // namespace clitest

#endif  // _WIN32
