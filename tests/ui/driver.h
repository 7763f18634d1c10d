// Drives the real ulxjm.exe as a person would: starts it in a folder, finds
// its windows by class and title, types into edits, clicks buttons, answers
// message boxes and waits for the process to end. Used by the window tests,
// which run under Wine with an X display (tools/test-ui).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/win32/win.h"

namespace uitest {

inline constexpr const wchar_t* kAppTitle = L"岚栩只读加密";
inline constexpr int kWaitMs = 20000;

// A started program; the handles close with it.
class Program {
  public:
    Program() = default;
    ~Program();
    Program(Program&& other) noexcept;
    Program& operator=(Program&&) = delete;
    Program(const Program&) = delete;

    // Starts `exe` with `args` (the text after the quoted program path) in
    // `workDir`. False when CreateProcessW fails.
    bool Start(const std::wstring& exe, const std::wstring& args, const std::wstring& workDir);
    DWORD pid() const { return pid_; }
    HANDLE handle() const { return process_; }
    // Waits for the end; false on timeout. `code` gets the exit code.
    bool WaitForExit(DWORD timeoutMs, DWORD* code);
    // Ends a program a failed test left running.
    void Kill();

  private:
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
};

// A fresh folder under the temporary folder, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& path() const { return path_; }  // no trailing backslash
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

  private:
    std::wstring path_;
};

// Removes a folder tree, clearing read-only/hidden/system marks first.
void RemoveTree(const std::wstring& path);
// The folder of the running test program, with a trailing backslash.
std::wstring OwnFolder();

// Top-level visible window of `pid` with this class and title; polls until
// `timeoutMs` passes. Null when none appeared.
HWND WaitForWindow(DWORD pid, const wchar_t* cls, const std::wstring& title,
                   DWORD timeoutMs = kWaitMs);
// The program's dialog titled "岚栩只读加密".
HWND WaitForMainDialog(DWORD pid, DWORD timeoutMs = kWaitMs);
// A message box (#32770 with the static 65535) of `pid` other than `except`.
HWND WaitForMessageBox(DWORD pid, HWND except = nullptr, DWORD timeoutMs = kWaitMs);
// True when no window of `pid` titled so exists (any more) within the time.
bool WaitForWindowGone(HWND hwnd, DWORD timeoutMs = kWaitMs);

std::wstring WindowText(HWND hwnd);
std::wstring ItemText(HWND dlg, int id);
bool HasItem(HWND dlg, int id);
bool IsItemVisible(HWND dlg, int id);
void SetItemText(HWND dlg, int id, const std::wstring& text);
// Posted, not sent: the handler may open a modal box and would block us.
void ClickButton(HWND dlg, int id);
std::wstring MessageBoxText(HWND box);
// Clicks the box's button `id` (IDOK, IDYES, IDNO ...).
void AnswerMessageBox(HWND box, int id);
// Waits for the next message box of `pid` other than `except`, answers it
// with `button` and returns its text ("<no message>" when none came).
std::wstring AnswerNextBox(DWORD pid, HWND except, int button = IDOK);

// True when the runner (tools/test-ui) gave the tests a display (ULX_UI=1).
bool HaveDisplay();

// Asks the runner (tools/test-ui) for a screenshot of the whole screen named
// `name`.png. Does nothing when no runner listens (ULX_SHOT_DIR unset).
void Screenshot(const std::wstring& name);

// Lets the program paint: waits until it has handled its queued messages.
void Settle(HWND hwnd, DWORD ms = 300);

// ---- Files and settings as the tests look at them

using Files = std::map<std::wstring, std::string>;
// The whole content of a file; "<missing>" when it cannot be read.
std::string FileBytes(const std::wstring& path);
bool WriteBytes(const std::wstring& path, const std::string& bytes);
// Every file below `dir` by its relative path ("a\b.txt").
Files ReadTree(const std::wstring& dir);

// The program's registry profile.
inline constexpr const wchar_t* kProfileKey = L"Software\\ulxjm\\岚栩只读加密";
std::wstring ProfileString(const wchar_t* name);  // "<absent>" when absent
DWORD ProfileInt(const wchar_t* name, DWORD def = 0xFFFFFFFF);

}  // namespace uitest
