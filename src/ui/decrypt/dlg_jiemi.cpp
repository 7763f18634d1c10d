#include "ui/decrypt/dlg_jiemi.h"

#include "app/globals.h"
#include "resource.h"

namespace ui {

CDlgJieMi::CDlgJieMi(HWND owner) : Dialog(IDD_JIEMI, owner) {}

BOOL CDlgJieMi::OnInitDialog() {
    SetItemText(IDC_JIEMI_FOLDER, app::Globals().ModuleFolder);
    SetFocus(Item(IDC_JIEMI_PASSWORD));
    return FALSE;
}

bool CDlgJieMi::OnCommand(int id, int code, HWND control) {
    if (id == IDC_JIEMI_CANCEL) {
        OnCancel();
        return true;
    }
    return Dialog::OnCommand(id, code, control);
}

}  // namespace ui
