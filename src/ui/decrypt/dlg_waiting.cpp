#include "ui/decrypt/dlg_waiting.h"

#include <utility>

#include "resource.h"
#include "ui/decrypt/logic/jiemi_logic.h"
#include "ui/encrypt/win_helpers.h"

namespace ui {
namespace {
constexpr UINT_PTR kTickTimer = 1;
constexpr UINT kTickMs = 250;
}  // namespace

CDlgStatic::CDlgStatic(HWND owner, std::function<bool()> ready)
    : Dialog(IDD_WAITING, owner), ready_(std::move(ready)) {}

BOOL CDlgStatic::OnInitDialog() {
    SetItemText(IDC_WAITING_TEXT, logic::WaitingText(0));
    SetTimer(hwnd(), kTickTimer, kTickMs, nullptr);
    return TRUE;
}

void CDlgStatic::OnTimer(UINT_PTR id) {
    if (id != kTickTimer) return;
    ++m_nTicks;
    SetItemText(IDC_WAITING_TEXT, logic::WaitingText(m_nTicks));
    if (ready_ && ready_()) {
        KillTimer(hwnd(), kTickTimer);
        EndDialog(IDOK);
    }
}

INT_PTR CDlgStatic::OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) {
    INT_PTR r = 0;
    *handled = WhiteBackground(msg, wp, &r);
    return r;
}

}  // namespace ui
