#include "ui/encrypt/dlg_startup_password.h"

#include "app/globals.h"
#include "platform/text.h"
#include "resource.h"
#include "ui/encrypt/logic/encrypt_texts.h"
#include "ui/encrypt/win_helpers.h"

namespace ui {

bool ApplyStep(HWND dlg, const logic::DialogStep& step) {
    if (step.focusId) SetFocus(GetDlgItem(dlg, step.focusId));
    if (!step.message.empty()) MessageBoxApp(dlg, step.message, MB_OK | IconFlags(step.icon));
    return step.close;
}

namespace {
INT_PTR White(UINT msg, WPARAM wp, bool* handled) {
    INT_PTR r = 0;
    *handled = WhiteBackground(msg, wp, &r);
    return r;
}
}  // namespace

// --- CDlgInputRun

CDlgInputRun::CDlgInputRun(HWND owner) : Dialog(IDD_INPUTRUN, owner) {}

BOOL CDlgInputRun::OnInitDialog() {
    SetFocus(Item(IDC_INRUN_PASSWORD));
    return FALSE;
}

bool CDlgInputRun::OnCommand(int id, int code, HWND control) {
    if (id == IDC_INRUN_OK || id == IDOK) {
        std::wstring typed = ItemText(IDC_INRUN_PASSWORD);
        bool passed = false;
        const logic::DialogStep step =
            logic::InputRunOk(typed, app::Globals().StartupPasswordLine, &passed);
        plat::Wipe(typed);
        if (ApplyStep(hwnd(), step)) {
            m_bPassed = passed ? 1 : 0;
            EndDialog(IDOK);
        }
        return true;
    }
    if (id == IDC_INRUN_CANCEL || id == IDCANCEL) {
        m_bPassed = 0;
        EndDialog(IDCANCEL);
        return true;
    }
    return Dialog::OnCommand(id, code, control);
}

INT_PTR CDlgInputRun::OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) {
    return White(msg, wp, handled);
}

// --- CDlgSetRun

CDlgSetRun::CDlgSetRun(HWND owner) : Dialog(IDD_SETRUN, owner) {}

BOOL CDlgSetRun::OnInitDialog() {
    SetFocus(Item(IDC_SETRUN_PASSWORD));
    return FALSE;
}

bool CDlgSetRun::OnCommand(int id, int code, HWND control) {
    if (id == IDC_SETRUN_OK || id == IDOK) {
        std::wstring pw = ItemText(IDC_SETRUN_PASSWORD);
        std::wstring repeat = ItemText(IDC_SETRUN_REPEAT);
        bool set = false;
        const logic::DialogStep step = logic::SetRunOk(app::Globals(), pw, repeat, &set);
        plat::Wipe(pw);
        plat::Wipe(repeat);
        if (set) m_bSet = 1;
        if (ApplyStep(hwnd(), step)) EndDialog(IDOK);
        return true;
    }
    if (id == IDC_SETRUN_CANCEL || id == IDCANCEL) {
        EndDialog(IDCANCEL);
        return true;
    }
    return Dialog::OnCommand(id, code, control);
}

INT_PTR CDlgSetRun::OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) {
    return White(msg, wp, handled);
}

// --- CDlgModiRun

CDlgModiRun::CDlgModiRun(HWND owner) : Dialog(IDD_MODIRUN, owner) {}

BOOL CDlgModiRun::OnInitDialog() {
    SetWindowTextW(hwnd(), texts::kModifyTitle);
    SetItemText(IDC_MODI_OLD_LABEL, texts::kModifyOldLabel);
    SetItemText(IDC_MODI_HINT, texts::kModifyHint);
    SetFocus(Item(IDC_MODI_OLD));
    return FALSE;
}

bool CDlgModiRun::OnCommand(int id, int code, HWND control) {
    if (id == IDC_MODI_OK || id == IDOK) {
        std::wstring oldPw = ItemText(IDC_MODI_OLD);
        std::wstring newPw = ItemText(IDC_MODI_NEW);
        std::wstring repeat = ItemText(IDC_MODI_REPEAT);
        const logic::DialogStep step = logic::ModiRunOk(app::Globals(), oldPw, newPw, repeat);
        plat::Wipe(oldPw);
        plat::Wipe(newPw);
        plat::Wipe(repeat);
        if (ApplyStep(hwnd(), step)) EndDialog(IDOK);
        return true;
    }
    if (id == IDC_MODI_CANCEL || id == IDCANCEL) {
        EndDialog(IDCANCEL);
        return true;
    }
    return Dialog::OnCommand(id, code, control);
}

INT_PTR CDlgModiRun::OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) {
    return White(msg, wp, handled);
}

bool CheckStartupPassword(HWND parent) {
    CDlgInputRun dlg(parent);
    dlg.DoModal();
    return dlg.m_bPassed != 0;
}

void SetStartupPassword(HWND parent) {
    CDlgSetRun dlg(parent);
    dlg.DoModal();
}

void ModifyStartupPassword(HWND parent) {
    CDlgModiRun dlg(parent);
    dlg.DoModal();
}

}  // namespace ui
