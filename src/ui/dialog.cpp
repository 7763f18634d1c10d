#include "ui/dialog.h"

#include <exception>
#include <new>

#include "app/globals.h"
#include "platform/text.h"
#include "resource.h"

namespace ui {

Dialog::Dialog(int resourceId, HWND owner) : resourceId_(resourceId), owner_(owner) {}

Dialog::~Dialog() {
    if (hwnd_) {
        SetWindowLongPtrW(hwnd_, DWLP_USER, 0);
        DestroyWindow(hwnd_);
    }
}

INT_PTR Dialog::DoModal() {
    result_ = -1;
    running_ = true;  // EndDialog during WM_INITDIALOG clears it
    HWND owner = owner_;
    // Like DialogBoxParam: the owner is the top-level window of the one given.
    while (owner && (GetWindowLongW(owner, GWL_STYLE) & WS_CHILD)) owner = GetParent(owner);
    hwnd_ = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resourceId_), owner,
                               &Dialog::DialogProc, reinterpret_cast<LPARAM>(this));
    if (!hwnd_) {
        running_ = false;
        return -1;
    }

    const bool disableOwner = owner && IsWindowEnabled(owner);
    if (disableOwner) EnableWindow(owner, FALSE);
    if (running_) ShowWindow(hwnd_, SW_SHOW);

    MSG msg;
    while (running_) {
        BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            // WM_QUIT ends every modal loop; pass it on to the outer one.
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (got == -1) break;
        if (SafePreTranslate(&msg)) continue;
        if (hwnd_ && IsDialogMessageW(hwnd_, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    running_ = false;

    if (disableOwner) EnableWindow(owner, TRUE);
    if (hwnd_) {
        // Give the activation back before the window goes, so the owner
        // does not fall behind other programs.
        if (owner && GetActiveWindow() == hwnd_) SetActiveWindow(owner);
        HWND h = hwnd_;
        DestroyWindow(h);
        hwnd_ = nullptr;
    }
    return result_;
}

void Dialog::EndDialog(INT_PTR result) {
    result_ = result;
    running_ = false;
    // Wake the loop in case this runs outside a message (a timer of another
    // thread's making, or WM_INITDIALOG).
    if (hwnd_) PostMessageW(hwnd_, WM_NULL, 0, 0);
}

std::wstring Dialog::ItemText(int id) const {
    HWND item = Item(id);
    if (!item) return {};
    int n = GetWindowTextLengthW(item);
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    n = GetWindowTextW(item, text.data(), n + 1);
    text.resize(static_cast<size_t>(n > 0 ? n : 0));
    return text;
}

void Dialog::SetItemText(int id, const std::wstring& text) const {
    SetDlgItemTextW(hwnd_, id, text.c_str());
}

bool Dialog::OnCommand(int id, int code, HWND control) {
    if (id == IDOK) {
        OnOK();
        return true;
    }
    if (id == IDCANCEL) {
        OnCancel();
        return true;
    }
    return false;
}

void Dialog::OnHandlerFailure(const std::wstring& what) {
    MessageBoxApp(hwnd_, what, MB_ICONERROR);
}

bool Dialog::SafePreTranslate(MSG* msg) {
    try {
        return PreTranslateMessage(msg);
    } catch (const std::bad_alloc&) {
        OnHandlerFailure(L"内存不足。");
    } catch (const std::exception& e) {
        OnHandlerFailure(plat::FromUtf8(e.what()));
    } catch (...) {
        OnHandlerFailure(L"未知错误。");
    }
    return false;
}

INT_PTR CALLBACK Dialog::DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    Dialog* self = nullptr;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lp);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, DWLP_USER, lp);
    } else {
        self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    }
    if (!self) return FALSE;
    // No exception may unwind through the window manager's frames.
    try {
        return self->Dispatch(msg, wp, lp);
    } catch (const std::bad_alloc&) {
        self->OnHandlerFailure(L"内存不足。");
    } catch (const std::exception& e) {
        self->OnHandlerFailure(plat::FromUtf8(e.what()));
    } catch (...) {
        self->OnHandlerFailure(L"未知错误。");
    }
    return FALSE;
}

INT_PTR Dialog::Dispatch(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_INITDIALOG: {
            SetIcons();
            return OnInitDialog();
        }
        case WM_COMMAND:
            if (OnCommand(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp))) return TRUE;
            break;
        case WM_NOTIFY: {
            LRESULT r = OnNotify(reinterpret_cast<NMHDR*>(lp));
            SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, r);
            return TRUE;
        }
        case WM_TIMER:
            OnTimer(static_cast<UINT_PTR>(wp));
            return TRUE;
        case WM_CLOSE:
            OnClose();
            return TRUE;
        case WM_DESTROY:
            OnDestroy();
            break;
        case WM_NCDESTROY:
            SetWindowLongPtrW(hwnd_, DWLP_USER, 0);
            hwnd_ = nullptr;
            running_ = false;
            return FALSE;
        default:
            break;
    }
    bool handled = false;
    INT_PTR r = OnMessage(msg, wp, lp, &handled);
    return handled ? r : FALSE;
}

void Dialog::SetIcons() {
    HINSTANCE inst = GetModuleHandleW(nullptr);
    const int sizes[2][2] = {{GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON)},
                             {GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON)}};
    const WPARAM which[2] = {ICON_BIG, ICON_SMALL};
    for (int i = 0; i < 2; ++i) {
        HANDLE icon = LoadImageW(inst, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, sizes[i][0],
                                 sizes[i][1], LR_SHARED);
        if (icon) SendMessageW(hwnd_, WM_SETICON, which[i], reinterpret_cast<LPARAM>(icon));
    }
}

int MessageBoxApp(HWND owner, const std::wstring& text, UINT flags) {
    return MessageBoxW(owner, text.c_str(), app::kAppTitle, flags);
}

}  // namespace ui
