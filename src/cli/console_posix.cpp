// The console on posix: UTF-8 streams, termios for the hidden prompt.
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "cli/console.h"
#include "engine/pass_state.h"
#include "platform/text.h"

namespace cli {

namespace {

void WriteFd(int fd, const std::wstring& text) {
    std::string bytes = plat::ToUtf8(text);
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = write(fd, p, left);
        if (n <= 0) return;
        p += n;
        left -= size_t(n);
    }
}

// Reads one line byte by byte so nothing beyond the line is consumed.
bool ReadLineFd(int fd, std::string* line) {
    line->clear();
    char c;
    bool any = false;
    for (;;) {
        ssize_t n = read(fd, &c, 1);
        if (n <= 0) break;
        any = true;
        if (c == '\n') break;
        line->push_back(c);
    }
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return any;
}

class PosixConsole : public Console {
  public:
    void Out(const std::wstring& text) override { WriteFd(1, text); }
    void Err(const std::wstring& text) override { WriteFd(2, text); }
    bool StdinIsTerminal() override { return isatty(0) == 1; }
    bool StderrIsTerminal() override { return isatty(2) == 1; }
    int Width() override {
        winsize ws{};
        if (ioctl(2, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 10) return ws.ws_col;
        return 80;
    }

    bool ReadSecret(const std::wstring& prompt, std::wstring* out) override {
        return ReadTty(prompt, out, false);
    }
    bool ReadAnswer(const std::wstring& prompt, std::wstring* out) override {
        return ReadTty(prompt, out, true);
    }

    bool ReadStdinLine(std::wstring* out) override {
        std::string line;
        bool ok = ReadLineFd(0, &line);
        *out = plat::FromUtf8(line);
        plat::Wipe(line);
        return ok;
    }

  private:
    bool ReadTty(const std::wstring& prompt, std::wstring* out, bool echo) {
        int fd = open("/dev/tty", O_RDWR | O_CLOEXEC);
        if (fd < 0) return false;
        WriteFd(fd, prompt);
        termios old{};
        bool restore = false;
        if (!echo && tcgetattr(fd, &old) == 0) {
            termios quiet = old;
            quiet.c_lflag &= ~tcflag_t(ECHO);
            quiet.c_lflag |= ECHONL;
            restore = tcsetattr(fd, TCSAFLUSH, &quiet) == 0;
        }
        std::string line;
        bool ok = ReadLineFd(fd, &line);
        if (restore) (void)tcsetattr(fd, TCSAFLUSH, &old);
        close(fd);
        *out = plat::FromUtf8(line);
        plat::Wipe(line);
        return ok;
    }
};

void OnInterrupt(int) {
    // A second Ctrl+C ends the process the ordinary way.
    if (engine::State().cancelRequested.load()) {
        signal(SIGINT, SIG_DFL);
        raise(SIGINT);
        return;
    }
    engine::State().cancelRequested.store(true);
}

}  // namespace

Console& OsConsole() {
    static PosixConsole console;
    return console;
}

std::vector<std::string> Arguments(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return args;
}

void InstallInterruptHandler() {
    // The handler must not be the first to touch the pass state.
    (void)engine::State();
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    (void)sigaction(SIGINT, &sa, nullptr);
}

}  // namespace cli
