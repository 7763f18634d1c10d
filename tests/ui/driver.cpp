#include "ui/driver.h"

#include <atomic>
#include <string>

namespace uitest {
namespace {

struct FindArgs {
    DWORD pid;
    const wchar_t* cls;
    const std::wstring* title;
    HWND except;
    bool wantMessageBox;
    HWND found;
};

std::wstring ClassName(HWND hwnd) {
    wchar_t buf[256] = {};
    GetClassNameW(hwnd, buf, 256);
    return buf;
}

BOOL CALLBACK FindProc(HWND hwnd, LPARAM lp) {
    auto* a = reinterpret_cast<FindArgs*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != a->pid || hwnd == a->except || !IsWindowVisible(hwnd)) return TRUE;
    if (ClassName(hwnd) != a->cls) return TRUE;
    if (a->title && WindowText(hwnd) != *a->title) return TRUE;
    if (a->wantMessageBox && !GetDlgItem(hwnd, 0xFFFF)) return TRUE;
    a->found = hwnd;
    return FALSE;
}

HWND Poll(FindArgs args, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        args.found = nullptr;
        EnumWindows(&FindProc, reinterpret_cast<LPARAM>(&args));
        if (args.found) return args.found;
        if (GetTickCount64() >= end) return nullptr;
        Sleep(50);
    }
}

std::wstring EnvVar(const wchar_t* name) {
    wchar_t buf[1024] = {};
    DWORD n = GetEnvironmentVariableW(name, buf, 1024);
    return n && n < 1024 ? std::wstring(buf, n) : std::wstring();
}

}  // namespace

Program::~Program() {
    if (process_) CloseHandle(process_);
}

Program::Program(Program&& other) noexcept : process_(other.process_), pid_(other.pid_) {
    other.process_ = nullptr;
    other.pid_ = 0;
}

bool Program::Start(const std::wstring& exe, const std::wstring& args,
                    const std::wstring& workDir) {
    std::wstring cmd = L"\"" + exe + L"\"";
    if (!args.empty()) cmd += L" " + args;
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        workDir.empty() ? nullptr : workDir.c_str(), &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    pid_ = pi.dwProcessId;
    return true;
}

bool Program::WaitForExit(DWORD timeoutMs, DWORD* code) {
    if (!process_ || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return false;
    if (code) GetExitCodeProcess(process_, code);
    return true;
}

void Program::Kill() {
    if (process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 5000);
    }
}

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    wchar_t tmp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, tmp);
    std::wstring base = tmp;
    if (!base.empty() && base.back() != L'\\') base += L'\\';
    for (int attempt = 0; attempt < 100; ++attempt) {
        path_ = base + L"ulxui-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(++counter);
        if (CreateDirectoryW(path_.c_str(), nullptr)) return;
    }
    path_.clear();
}

TempDir::~TempDir() {
    if (!path_.empty()) RemoveTree(path_);
}

void RemoveTree(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return;
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(a & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(path.c_str());
        return;
    }
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = fd.cFileName;
            if (name != L"." && name != L"..") RemoveTree(path + L"\\" + name);
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(path.c_str());
}

std::wstring OwnFolder() {
    wchar_t buf[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, buf, MAX_PATH);
    std::wstring p = buf;
    return p.substr(0, p.rfind(L'\\') + 1);
}

HWND WaitForWindow(DWORD pid, const wchar_t* cls, const std::wstring& title, DWORD timeoutMs) {
    return Poll(FindArgs{pid, cls, &title, nullptr, false, nullptr}, timeoutMs);
}

HWND WaitForMainDialog(DWORD pid, DWORD timeoutMs) {
    // FindWindowW as a person's tool would, then make sure it is this
    // program's window and not a leftover of another test.
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        for (HWND h = FindWindowExW(nullptr, nullptr, L"#32770", kAppTitle); h;
             h = FindWindowExW(nullptr, h, L"#32770", kAppTitle)) {
            DWORD owner = 0;
            GetWindowThreadProcessId(h, &owner);
            if (owner == pid && IsWindowVisible(h) && !GetDlgItem(h, 0xFFFF)) return h;
        }
        if (GetTickCount64() >= end) return nullptr;
        Sleep(50);
    }
}

HWND WaitForMessageBox(DWORD pid, HWND except, DWORD timeoutMs) {
    return Poll(FindArgs{pid, L"#32770", nullptr, except, true, nullptr}, timeoutMs);
}

bool WaitForWindowGone(HWND hwnd, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (IsWindow(hwnd)) {
        if (GetTickCount64() >= end) return false;
        Sleep(50);
    }
    return true;
}

std::wstring WindowText(HWND hwnd) {
    // WM_GETTEXT reaches into the other process; GetWindowTextW would not
    // for its controls.
    LRESULT n = SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    n = SendMessageW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(n));
    return text;
}

std::wstring ItemText(HWND dlg, int id) {
    HWND item = GetDlgItem(dlg, id);
    return item ? WindowText(item) : std::wstring();
}

bool HasItem(HWND dlg, int id) {
    return GetDlgItem(dlg, id) != nullptr;
}

bool IsItemVisible(HWND dlg, int id) {
    HWND item = GetDlgItem(dlg, id);
    return item && IsWindowVisible(item);
}

void SetItemText(HWND dlg, int id, const std::wstring& text) {
    HWND item = GetDlgItem(dlg, id);
    if (item) SendMessageW(item, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void ClickButton(HWND dlg, int id) {
    HWND item = GetDlgItem(dlg, id);
    if (item) PostMessageW(item, BM_CLICK, 0, 0);
}

std::wstring MessageBoxText(HWND box) {
    return ItemText(box, 0xFFFF);
}

void AnswerMessageBox(HWND box, int id) {
    ClickButton(box, id);
}

void Settle(HWND hwnd, DWORD ms) {
    // A sent message returns once the program's thread has got that far.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
    Sleep(ms);
}

void Screenshot(const std::wstring& name) {
    std::wstring dir = EnvVar(L"ULX_SHOT_DIR");
    if (dir.empty()) return;
    // The runner passes a Unix path; Wine shows the Unix root as Z:.
    if (dir[0] == L'/') {
        for (auto& c : dir)
            if (c == L'/') c = L'\\';
        dir = L"Z:" + dir;
    }
    const std::wstring req = dir + L"\\" + name + L".req";
    const std::wstring done = dir + L"\\" + name + L".done";
    DeleteFileW(done.c_str());
    HANDLE h = CreateFileW(req.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    CloseHandle(h);
    const ULONGLONG end = GetTickCount64() + 15000;
    while (GetFileAttributesW(done.c_str()) == INVALID_FILE_ATTRIBUTES && GetTickCount64() < end)
        Sleep(50);
    DeleteFileW(done.c_str());
}

std::string FileBytes(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    std::string bytes;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got) bytes.append(buf, got);
    CloseHandle(h);
    return bytes;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD done = 0;
    const bool ok =
        WriteFile(h, bytes.data(), DWORD(bytes.size()), &done, nullptr) && done == bytes.size();
    CloseHandle(h);
    return ok;
}

namespace {
void ReadTreeInto(const std::wstring& dir, const std::wstring& rel, Files* out) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring r = rel.empty() ? name : rel + L"\\" + name;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ReadTreeInto(dir + L"\\" + name, r, out);
        else
            (*out)[r] = FileBytes(dir + L"\\" + name);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}
}  // namespace

Files ReadTree(const std::wstring& dir) {
    Files f;
    ReadTreeInto(dir, L"", &f);
    return f;
}

std::wstring ProfileString(const wchar_t* name) {
    wchar_t buf[1024] = {};
    DWORD size = sizeof buf - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CURRENT_USER, kProfileKey, name, RRF_RT_REG_SZ, nullptr, buf, &size) !=
        ERROR_SUCCESS)
        return L"<absent>";
    return buf;
}

DWORD ProfileInt(const wchar_t* name, DWORD def) {
    DWORD v = 0, size = sizeof v;
    if (RegGetValueW(HKEY_CURRENT_USER, kProfileKey, name, RRF_RT_REG_DWORD, nullptr, &v, &size) !=
        ERROR_SUCCESS)
        return def;
    return v;
}

std::wstring AnswerNextBox(DWORD pid, HWND except, int button) {
    HWND box = WaitForMessageBox(pid, except);
    if (!box) return L"<no message>";
    const std::wstring text = MessageBoxText(box);
    AnswerMessageBox(box, button);
    if (!WaitForWindowGone(box)) return text + L" <stayed>";
    return text;
}

bool HaveDisplay() {
    wchar_t flag[8] = {};
    return GetEnvironmentVariableW(L"ULX_UI", flag, 8) != 0 && flag[0] == L'1';
}

}  // namespace uitest
