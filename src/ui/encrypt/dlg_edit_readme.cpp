#include "ui/encrypt/dlg_edit_readme.h"

#include <richedit.h>

#include "resource.h"
#include "ui/encrypt/logic/settings_logic.h"
#include "ui/encrypt/win_helpers.h"

namespace ui {

CDlgEditReadme::CDlgEditReadme(HWND owner) : Dialog(IDD_EDIT_README, owner) {
    // The dialog's "RichEdit20W" class comes from this library; loading it
    // again only counts a reference.
    LoadLibraryW(L"Riched20.dll");
}

BOOL CDlgEditReadme::OnInitDialog() {
    HWND edit = Item(IDC_README_TEXT);
    // No length limit beyond the control's own: a readme may be long.
    SendMessageW(edit, EM_EXLIMITTEXT, 0, 1 << 20);
    SetWindowTextW(edit, logic::LoadReadmeText().c_str());
    SetFocus(edit);
    return FALSE;
}

void CDlgEditReadme::OnOK() {
    logic::StoreReadmeText(RichEditText(Item(IDC_README_TEXT)));
    EndDialog(IDOK);
}

}  // namespace ui
