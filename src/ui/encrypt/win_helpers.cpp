#include "ui/encrypt/win_helpers.h"

#include <richedit.h>
#include <shellapi.h>
#include <shlobj.h>

#include <vector>

#include "app/globals.h"
#include "ui/dialog.h"

namespace ui {

bool WhiteBackground(UINT msg, WPARAM wp, INT_PTR* result) {
    switch (msg) {
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN: {
            HDC dc = reinterpret_cast<HDC>(wp);
            SetBkColor(dc, RGB(255, 255, 255));
            *result = reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
            return true;
        }
        default:
            return false;
    }
}

UINT IconFlags(logic::Icon icon) {
    switch (icon) {
        case logic::Icon::Exclamation:
            return MB_ICONEXCLAMATION;
        case logic::Icon::Question:
            return MB_ICONQUESTION;
        case logic::Icon::Info:
            return MB_ICONINFORMATION;
        case logic::Icon::None:
            break;
    }
    return 0;
}

void WindowPrompts::Message(const std::wstring& text, logic::Icon icon) {
    MessageBoxApp(owner_, text, MB_OK | IconFlags(icon));
}

bool WindowPrompts::AskYesNo(const std::wstring& text) {
    return MessageBoxApp(owner_, text, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void WindowPrompts::FocusPassword() {
    SetFocus(GetDlgItem(owner_, passwordId_));
}

void WinPassUi::ShowMessage(const std::wstring& text, engine::MessageIcon icon) {
    UINT flags = MB_OK | MB_SETFOREGROUND | MB_TOPMOST;
    if (icon == engine::MessageIcon::Exclamation) flags |= MB_ICONEXCLAMATION;
    if (icon == engine::MessageIcon::Error) flags |= MB_ICONERROR;
    // A worker thread owns no window: the box stands on its own.
    MessageBoxW(nullptr, text.c_str(), app::kAppTitle, flags);
}

namespace {

std::wstring RegDefault(HKEY root, const std::wstring& sub) {
    wchar_t buf[MAX_PATH + 1] = {};
    DWORD size = sizeof(buf) - sizeof(wchar_t);
    if (RegGetValueW(root, sub.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, buf, &size) !=
        ERROR_SUCCESS)
        return {};
    return buf;
}

}  // namespace

bool OpenWebPage(const std::wstring& url) {
    HINSTANCE r = ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    if (reinterpret_cast<INT_PTR>(r) > 32) return true;
    const std::wstring progId = RegDefault(HKEY_CLASSES_ROOT, L".htm");
    if (progId.empty()) return false;
    std::wstring command = RegDefault(HKEY_CLASSES_ROOT, progId + L"\\shell\\open\\command");
    if (command.empty()) return false;
    size_t cut = command.find(L"\"%1\"");
    if (cut == std::wstring::npos) cut = command.find(L"%1");
    if (cut != std::wstring::npos) command.resize(cut);
    command += L" " + url;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION pi = {};
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

std::wstring WindowsDir() {
    wchar_t buf[MAX_PATH] = {};
    const UINT n = GetWindowsDirectoryW(buf, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    std::wstring dir(buf, n);
    while (dir.size() > 3 && dir.back() == L'\\') dir.pop_back();
    return dir;
}

std::wstring RichEditText(HWND edit) {
    GETTEXTLENGTHEX len = {GTL_USECRLF | GTL_NUMCHARS, 1200};
    const LRESULT n = SendMessageW(edit, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&len), 0);
    if (n <= 0) return {};
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    GETTEXTEX get = {};
    get.cb = static_cast<DWORD>((text.size()) * sizeof(wchar_t));
    get.flags = GT_USECRLF;
    get.codepage = 1200;
    const LRESULT got = SendMessageW(edit, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&get),
                                     reinterpret_cast<LPARAM>(text.data()));
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

std::wstring BrowseForFolder(HWND owner, const wchar_t* title) {
    BROWSEINFOW bi = {};
    bi.hwndOwner = owner;
    bi.lpszTitle = title;
    bi.ulFlags = BIF_RETURNONLYFSDIRS;
    PIDLIST_ABSOLUTE pidl = SHBrowseForFolderW(&bi);
    if (!pidl) return {};
    wchar_t path[MAX_PATH] = {};
    const bool ok = SHGetPathFromIDListW(pidl, path);
    CoTaskMemFree(pidl);
    return ok ? std::wstring(path) : std::wstring();
}

}  // namespace ui
