#include "ui/decrypt/dlg_tempstatic.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cwchar>

#include "engine/pass_state.h"
#include "resource.h"
#include "ui/decrypt/dlg_jiemi.h"
#include "ui/decrypt/logic/decrypt_texts.h"
#include "ui/decrypt/logic/jiemi_logic.h"
#include "ui/encrypt/win_helpers.h"

namespace ui {
namespace {
constexpr UINT_PTR kPollTimer = 9;
constexpr UINT kPollMs = 68;
}  // namespace

CDlgTempStatic::CDlgTempStatic(HWND owner, Mode mode, bool imageUse)
    : Dialog(IDD_TEMPSTATIC, owner), mode_(mode), imageUse_(imageUse) {}

CDlgTempStatic::~CDlgTempStatic() {
    RemoveTrayIcon();
}

BOOL CDlgTempStatic::OnInitDialog() {
    icon_ = static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    encryptNow_.Attach(Item(IDC_TEMP_ENCRYPT_NOW));
    cancelAuto_.Attach(Item(IDC_TEMP_CANCEL_AUTO));
    toTray_.Attach(Item(IDC_TEMP_TO_TRAY));

    // Bottom right of the primary screen, above the task bar.
    RECT r = {};
    GetWindowRect(hwnd(), &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    SetWindowPos(hwnd(), HWND_TOPMOST, GetSystemMetrics(SM_CXSCREEN) - w,
                 GetSystemMetrics(SM_CYSCREEN) - h - 58, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);

    if (mode_ == kProgress) {
        SetItemText(IDC_TEMP_INFO, L"");
        ShowWindow(Item(IDC_TEMP_ENCRYPT_NOW), SW_HIDE);
        ShowWindow(Item(IDC_TEMP_CANCEL_AUTO), SW_HIDE);
        SendDlgItemMessageW(hwnd(), IDC_TEMP_BAR, PBM_SETRANGE32, 0, 100);
    } else {
        ShowWindow(Item(IDC_TEMP_BAR), SW_HIDE);
        SetWindowTextW(hwnd(), texts::kWatchCaption);
        if (imageUse_) EnableWindow(Item(IDC_TEMP_CANCEL_AUTO), FALSE);
    }
    SetTimer(hwnd(), kPollTimer, kPollMs, nullptr);
    AddTrayIcon();
    return TRUE;
}

void CDlgTempStatic::AddTrayIcon() {
    NOTIFYICONDATAW nid = {};
    nid.cbSize = sizeof(nid);
    nid.hWnd = hwnd();
    nid.uID = kTrayId;
    nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    nid.uCallbackMessage = kTrayMessage;
    nid.hIcon = icon_;
    wcsncpy(nid.szTip, texts::kTrayTip, sizeof(nid.szTip) / sizeof(nid.szTip[0]) - 1);
    // Adding twice fails harmlessly; modify keeps an existing icon current.
    if (Shell_NotifyIconW(NIM_ADD, &nid) || Shell_NotifyIconW(NIM_MODIFY, &nid)) trayAdded_ = true;
}

void CDlgTempStatic::RemoveTrayIcon() {
    if (!trayAdded_ || !hwnd()) return;
    NOTIFYICONDATAW nid = {};
    nid.cbSize = sizeof(nid);
    nid.hWnd = hwnd();
    nid.uID = kTrayId;
    Shell_NotifyIconW(NIM_DELETE, &nid);
    trayAdded_ = false;
}

void CDlgTempStatic::HideToTray() {
    AddTrayIcon();
    ShowWindow(hwnd(), SW_HIDE);
}

bool CDlgTempStatic::OnCommand(int id, int code, HWND control) {
    switch (id) {
        case IDC_TEMP_ENCRYPT_NOW:
            if (code == STN_CLICKED && mode_ == kWatch) {
                Watch().encryptNow = true;
                RemoveTrayIcon();
                EndDialog(IDOK);
            }
            return true;
        case IDC_TEMP_TO_TRAY:
            // Hides without setting the flag: the next tray click only sets it.
            if (code == STN_CLICKED) HideToTray();
            return true;
        case IDC_TEMP_CANCEL_AUTO:
            return true;
        default:
            return Dialog::OnCommand(id, code, control);
    }
}

void CDlgTempStatic::OnClose() {
    HideToTray();
}

void CDlgTempStatic::OnCancel() {
    // Escape must not end the watch: the drive would stay decrypted.
}

void CDlgTempStatic::OnTimer(UINT_PTR id) {
    if (id != kPollTimer) return;
    if (mode_ == kWatch) {
        if (Watch().autoEncryptStarted) {
            KillTimer(hwnd(), kPollTimer);
            RemoveTrayIcon();
            EndDialog(IDOK);
        }
        return;
    }
    const engine::PassState& st = engine::State();
    const std::wstring caption =
        logic::ReEncryptCaption(st.total, st.handled, st.moveFailed, st.strengthSkipped);
    wchar_t now[200] = {};
    GetWindowTextW(hwnd(), now, 200);
    if (caption != now) SetWindowTextW(hwnd(), caption.c_str());
    SendDlgItemMessageW(hwnd(), IDC_TEMP_BAR, PBM_SETPOS,
                        logic::ReEncryptPercent(st.handled, st.total), 0);
    if (st.done) {
        KillTimer(hwnd(), kPollTimer);
        EndDialog(IDOK);
    }
}

void CDlgTempStatic::OnDestroy() {
    KillTimer(hwnd(), kPollTimer);
    RemoveTrayIcon();
    if (icon_) DestroyIcon(icon_);
    icon_ = nullptr;
}

INT_PTR CDlgTempStatic::OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) {
    if (msg == WM_NCPAINT && m_nNcPaints < 2) {
        // The window starts out of sight: only the tray icon shows.
        ++m_nNcPaints;
        ShowWindow(hwnd(), SW_HIDE);
        *handled = false;
        return 0;
    }
    if (msg == kTrayMessage) {
        *handled = true;
        if (LOWORD(lp) == WM_LBUTTONUP) {
            if (m_bHiddenInTray) {
                ShowWindow(hwnd(), SW_SHOW);
                SetForegroundWindow(hwnd());
                m_bHiddenInTray = false;
            } else {
                ShowWindow(hwnd(), SW_HIDE);
                m_bHiddenInTray = true;
            }
        }
        return 0;
    }
    if (msg == WM_CTLCOLORSTATIC) {
        HDC dc = reinterpret_cast<HDC>(wp);
        HWND ctl = reinterpret_cast<HWND>(lp);
        INT_PTR r = 0;
        *handled = WhiteBackground(msg, wp, &r);
        (void)(encryptNow_.OnCtlColor(dc, ctl) || cancelAuto_.OnCtlColor(dc, ctl) ||
               toTray_.OnCtlColor(dc, ctl));
        return r;
    }
    INT_PTR r = 0;
    *handled = WhiteBackground(msg, wp, &r);
    return r;
}

}  // namespace ui
