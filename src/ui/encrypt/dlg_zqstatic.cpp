#include "ui/encrypt/dlg_zqstatic.h"

#include <commctrl.h>

#include "engine/pass_log.h"
#include "platform/env.h"
#include "resource.h"
#include "ui/encrypt/win_helpers.h"

namespace ui {
namespace {
constexpr UINT_PTR kTimerId = 8;
constexpr UINT kTimerMs = 50;
}  // namespace

CDlgZQStatic::CDlgZQStatic(HWND owner, engine::PassState& state)
    : Dialog(IDD_ZQSTATIC, owner), model_(state) {}

BOOL CDlgZQStatic::OnInitDialog() {
    model_.Open();
    SetWindowTextW(hwnd(), model_.Title().c_str());
    EnableWindow(Item(IDC_ZQ_CLOSE), FALSE);
    if (!model_.ShowsSkippedCount()) ShowWindow(Item(IDC_ZQ_SKIPPED), SW_HIDE);
    if (!model_.CancelEnabled()) EnableWindow(Item(IDC_ZQ_CANCEL), FALSE);
    SendDlgItemMessageW(hwnd(), IDC_ZQ_FILE_BAR, PBM_SETRANGE32, 0, 100);
    SendDlgItemMessageW(hwnd(), IDC_ZQ_TOTAL_BAR, PBM_SETRANGE32, 0, 100);
    // The first tick shows the counters: polling here could consume the
    // end of a pass that finished before the window opened.
    SetItemText(IDC_ZQ_TOTAL, std::to_wstring(engine::State().total.load()));
    SetTimer(hwnd(), kTimerId, kTimerMs, nullptr);
    return TRUE;
}

void CDlgZQStatic::Show(const engine::ProgressView& v) {
    SendDlgItemMessageW(hwnd(), IDC_ZQ_FILE_BAR, PBM_SETPOS, v.filePercent, 0);
    SendDlgItemMessageW(hwnd(), IDC_ZQ_TOTAL_BAR, PBM_SETPOS, v.overallPercent, 0);
    // Only touch texts that changed: a static repainted 20 times a second flickers.
    auto set = [this](int id, const std::wstring& text) {
        if (ItemText(id) != text) SetItemText(id, text);
    };
    set(IDC_ZQ_PERCENT, v.overallText);
    set(IDC_ZQ_TOTAL, std::to_wstring(v.total));
    set(IDC_ZQ_DONE, std::to_wstring(v.handled));
    set(IDC_ZQ_FAILED, std::to_wstring(v.moveFailed));
    set(IDC_ZQ_ELAPSED, v.elapsed);
    set(IDC_ZQ_CURRENT, v.current);
    set(IDC_ZQ_SKIPPED, v.skippedText);
    if (v.closeEnabled && !closeAllowed_) {
        closeAllowed_ = true;
        EnableWindow(Item(IDC_ZQ_CLOSE), TRUE);
    }
}

void CDlgZQStatic::OnTimer(UINT_PTR id) {
    if (id != kTimerId || ended_) return;
    const engine::ProgressView v = model_.Poll();
    Show(v);
    if (v.done) {
        ended_ = true;
        KillTimer(hwnd(), kTimerId);
        EnableWindow(Item(IDC_ZQ_CANCEL), FALSE);
        EnableWindow(Item(IDC_ZQ_CLOSE), TRUE);
        closeAllowed_ = true;
        End(v.end);
    }
}

void CDlgZQStatic::End(engine::EndAction action) {
    switch (action) {
        case engine::EndAction::OpenLogAndClose:
            OpenLog();
            EndDialog(IDOK);
            break;
        case engine::EndAction::CloseWindow:
            EndDialog(IDOK);
            break;
        case engine::EndAction::WaitForUser:
        case engine::EndAction::None:
            SetFocus(Item(IDC_ZQ_CLOSE));
            break;
    }
}

void CDlgZQStatic::OpenLog() {
    const std::wstring log = engine::LogPath();
    if (plat::ShellOpen(log)) return;
    const DWORD error = GetLastError();
    MessageBoxApp(hwnd(), log + L"\r\n\r\n" + engine::ErrorCodeText(error), MB_ICONEXCLAMATION);
}

bool CDlgZQStatic::OnCommand(int id, int code, HWND control) {
    if (id == IDC_ZQ_CANCEL && code == BN_CLICKED) {
        model_.RequestCancel();
        EnableWindow(Item(IDC_ZQ_CLOSE), TRUE);
        closeAllowed_ = true;
        return true;
    }
    if (id == IDC_ZQ_CLOSE && code == BN_CLICKED) {
        EndDialog(IDOK);
        return true;
    }
    return Dialog::OnCommand(id, code, control);
}

void CDlgZQStatic::OnOK() {
    if (closeAllowed_) EndDialog(IDOK);
}

void CDlgZQStatic::OnCancel() {
    if (closeAllowed_) EndDialog(IDCANCEL);
}

INT_PTR CDlgZQStatic::OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) {
    INT_PTR r = 0;
    *handled = WhiteBackground(msg, wp, &r);
    return r;
}

}  // namespace ui
