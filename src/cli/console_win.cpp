// The console on Windows: wide console output when attached to a console,
// UTF-8 bytes when redirected; the console mode for the hidden prompt.
#include <windows.h>
// After windows.h:
#include <shellapi.h>

#include <string>

#include "cli/console.h"
#include "engine/pass_state.h"
#include "platform/text.h"

namespace cli {

namespace {

bool IsConsole(HANDLE h) {
    DWORD mode = 0;
    return h != INVALID_HANDLE_VALUE && h != nullptr && GetConsoleMode(h, &mode);
}

void WriteHandle(DWORD which, const std::wstring& text) {
    HANDLE h = GetStdHandle(which);
    if (h == INVALID_HANDLE_VALUE || h == nullptr) return;
    DWORD done = 0;
    if (IsConsole(h)) {
        (void)WriteConsoleW(h, text.data(), DWORD(text.size()), &done, nullptr);
        return;
    }
    std::string bytes = plat::ToUtf8(text);
    (void)WriteFile(h, bytes.data(), DWORD(bytes.size()), &done, nullptr);
}

// One line from a console in its current mode, without the line end.
bool ReadConsoleLine(HANDLE in, std::wstring* out) {
    out->clear();
    wchar_t c;
    DWORD n = 0;
    bool any = false;
    while (ReadConsoleW(in, &c, 1, &n, nullptr) && n == 1) {
        any = true;
        if (c == L'\n') break;
        out->push_back(c);
    }
    if (!out->empty() && out->back() == L'\r') out->pop_back();
    return any;
}

class WinConsole : public Console {
  public:
    void Out(const std::wstring& text) override { WriteHandle(STD_OUTPUT_HANDLE, text); }
    void Err(const std::wstring& text) override { WriteHandle(STD_ERROR_HANDLE, text); }
    bool StdinIsTerminal() override { return IsConsole(GetStdHandle(STD_INPUT_HANDLE)); }
    bool StderrIsTerminal() override { return IsConsole(GetStdHandle(STD_ERROR_HANDLE)); }
    int Width() override {
        CONSOLE_SCREEN_BUFFER_INFO info{};
        if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) {
            int w = info.srWindow.Right - info.srWindow.Left + 1;
            if (w > 10) return w;
        }
        return 80;
    }

    bool ReadSecret(const std::wstring& prompt, std::wstring* out) override {
        return ReadConsoleText(prompt, out, false);
    }
    bool ReadAnswer(const std::wstring& prompt, std::wstring* out) override {
        return ReadConsoleText(prompt, out, true);
    }

    bool ReadStdinLine(std::wstring* out) override {
        HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
        if (IsConsole(in)) return ReadConsoleLine(in, out);
        // Redirected input is text in the ANSI code page, as other console
        // programs of this system write it.
        std::string line;
        char c;
        DWORD n = 0;
        bool any = false;
        while (ReadFile(in, &c, 1, &n, nullptr) && n == 1) {
            any = true;
            if (c == '\n') break;
            line.push_back(c);
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        *out = plat::FromAnsi(line);
        plat::Wipe(line);
        return any;
    }

  private:
    bool ReadConsoleText(const std::wstring& prompt, std::wstring* out, bool echo) {
        HANDLE in =
            CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        if (in == INVALID_HANDLE_VALUE) return false;
        Err(prompt);
        DWORD old = 0;
        bool restore = false;
        if (!echo && GetConsoleMode(in, &old))
            restore = SetConsoleMode(in, old & ~DWORD(ENABLE_ECHO_INPUT));
        bool ok = ReadConsoleLine(in, out);
        if (restore) {
            (void)SetConsoleMode(in, old);
            Err(L"\n");
        }
        CloseHandle(in);
        return ok;
    }
};

BOOL WINAPI OnCtrl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    if (engine::State().cancelRequested.load()) return FALSE;
    engine::State().cancelRequested.store(true);
    return TRUE;
}

}  // namespace

Console& OsConsole() {
    static WinConsole console;
    return console;
}

std::vector<std::string> Arguments(int, char**) {
    std::vector<std::string> args;
    int n = 0;
    LPWSTR* wargv = CommandLineToArgvW(GetCommandLineW(), &n);
    if (!wargv) return args;
    for (int i = 1; i < n; ++i) args.push_back(plat::ToUtf8(wargv[i]));
    LocalFree(wargv);
    return args;
}

void InstallInterruptHandler() {
    (void)SetConsoleCtrlHandler(OnCtrl, TRUE);
}

}  // namespace cli
