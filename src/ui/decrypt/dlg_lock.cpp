#include "ui/decrypt/dlg_lock.h"

#include "app/globals.h"
#include "platform/text.h"
#include "resource.h"
#include "ui/decrypt/logic/decrypt_texts.h"
#include "ui/decrypt/logic/lock_logic.h"
#include "ui/encrypt/win_helpers.h"

namespace ui {

CDlgLock::CDlgLock(HWND owner) : Dialog(IDD_LOCK, owner) {}

bool CDlgLock::Run() {
    return DoModal() == IDOK;
}

BOOL CDlgLock::OnInitDialog() {
    unlock_.Attach(Item(IDC_LOCK_UNLOCK));
    SetFocus(Item(IDC_LOCK_PASSWORD));
    return FALSE;
}

bool CDlgLock::OnCommand(int id, int code, HWND control) {
    switch (id) {
        case IDC_LOCK_UNLOCK:
        case IDOK:  // the dialog manager's Enter
            TryUnlock();
            return true;
        default:
            return Dialog::OnCommand(id, code, control);
    }
}

bool CDlgLock::PreTranslateMessage(MSG* msg) {
    if (msg->message != WM_KEYDOWN) return false;
    if (msg->hwnd != hwnd() && !IsChild(hwnd(), msg->hwnd)) return false;
    switch (logic::LockKeyDown(static_cast<unsigned>(msg->wParam))) {
        case logic::LockKey::TryUnlock:
            TryUnlock();
            return true;
        case logic::LockKey::Swallow:
            return true;
        case logic::LockKey::Normal:
            break;
    }
    return false;
}

void CDlgLock::TryUnlock() {
    std::wstring typed = ItemText(IDC_LOCK_PASSWORD);
    const bool ok = logic::UnlockAccepted(typed, app::Globals().PresetPassword);
    plat::Wipe(typed);
    if (ok) {
        EndDialog(IDOK);
        return;
    }
    // The typed text stays, so a slip can be corrected.
    MessageBoxApp(hwnd(), texts::kLockWrongPassword, MB_ICONEXCLAMATION);
    SetFocus(Item(IDC_LOCK_PASSWORD));
}

INT_PTR CDlgLock::OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) {
    INT_PTR r = 0;
    *handled = WhiteBackground(msg, wp, &r);
    return r;
}

}  // namespace ui
