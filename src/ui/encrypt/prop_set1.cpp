#include "ui/encrypt/prop_set1.h"

#include "app/globals.h"
#include "resource.h"
#include "ui/encrypt/dlg_edit_readme.h"
#include "ui/encrypt/dlg_startup_password.h"
#include "ui/encrypt/logic/encrypt_texts.h"
#include "ui/encrypt/logic/settings_logic.h"
#include "ui/encrypt/win_helpers.h"

namespace ui {

CPropSet1::CPropSet1() : PropertyPage(IDD_PROPSET1) {}

bool CPropSet1::Checked(int id) const {
    return IsDlgButtonChecked(hwnd(), id) == BST_CHECKED;
}

BOOL CPropSet1::OnInitDialog() {
    loading_ = true;
    const logic::SettingsView v = logic::PropSet1Logic::Load(app::Globals().StartupPasswordLine);
    CheckDlgButton(hwnd(), IDC_SET_FLAG, v.jiamiFlag ? BST_CHECKED : BST_UNCHECKED);
    EnableWindow(Item(IDC_SET_TIPS_LABEL), v.jiamiFlag);
    EnableWindow(Item(IDC_SET_TIPS), v.jiamiFlag);
    CheckDlgButton(hwnd(), IDC_SET_AUTOHIDE, static_cast<UINT>(v.autoHide));
    CheckDlgButton(hwnd(), IDC_SET_README, static_cast<UINT>(v.readMe));
    CheckDlgButton(hwnd(), IDC_SET_FILTER, v.filter ? BST_CHECKED : BST_UNCHECKED);
    EnableWindow(Item(IDC_SET_FILTER_TEXT), v.filter);
    SetDlgItemTextW(hwnd(), IDC_SET_TIPS, v.tips.c_str());
    SetDlgItemTextW(hwnd(), IDC_SET_FILTER_TEXT, v.filterText.c_str());
    SetDlgItemTextW(hwnd(), IDC_SET_PASSWORD, v.passwordButton.c_str());
    EnableWindow(Item(IDC_SET_PASSWORD), TRUE);
    readmeLink_.Attach(Item(IDC_SET_EDIT_README));
    loading_ = false;
    return TRUE;
}

bool CPropSet1::OnCommand(int id, int code, HWND control) {
    using logic::PropSet1Logic;
    if (loading_) return false;
    switch (id) {
        case IDC_SET_FLAG:
            if (code == BN_CLICKED) {
                const bool on = PropSet1Logic::SetJiamiFlag(Checked(IDC_SET_FLAG));
                EnableWindow(Item(IDC_SET_TIPS_LABEL), on);
                EnableWindow(Item(IDC_SET_TIPS), on);
            }
            return true;
        case IDC_SET_TIPS:
            if (code == EN_CHANGE) PropSet1Logic::SetTips(ItemText(IDC_SET_TIPS));
            return true;
        case IDC_SET_README:
            if (code == BN_CLICKED)
                PropSet1Logic::SetReadMe(static_cast<int>(IsDlgButtonChecked(hwnd(), id)));
            return true;
        case IDC_SET_EDIT_README:
            if (code == STN_CLICKED) {
                CDlgEditReadme editor(hwnd());
                editor.DoModal();
            }
            return true;
        case IDC_SET_AUTOHIDE:
            if (code == BN_CLICKED)
                PropSet1Logic::SetAutoHide(static_cast<int>(IsDlgButtonChecked(hwnd(), id)));
            return true;
        case IDC_SET_FILTER:
            if (code == BN_CLICKED)
                EnableWindow(Item(IDC_SET_FILTER_TEXT),
                             PropSet1Logic::SetFilter(Checked(IDC_SET_FILTER)));
            return true;
        case IDC_SET_FILTER_TEXT:
            if (code == EN_CHANGE) PropSet1Logic::SetFilterText(ItemText(IDC_SET_FILTER_TEXT));
            return true;
        case IDC_SET_PASSWORD:
            if (code == BN_CLICKED) OnStartupPassword();
            return true;
        default:
            return false;
    }
}

void CPropSet1::OnStartupPassword() {
    if (logic::PropSet1Logic::OffersSet(app::Globals().StartupPasswordLine))
        SetStartupPassword(hwnd());
    else
        ModifyStartupPassword(hwnd());
}

INT_PTR CPropSet1::OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) {
    INT_PTR r = 0;
    *handled = WhiteBackground(msg, wp, &r);
    if (msg == WM_CTLCOLORSTATIC)
        (void)readmeLink_.OnCtlColor(reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp));
    return r;
}

void RunSettingsSheet(HWND owner) {
    CPropSet1 page;
    (void)controls::RunPropertySheet(owner, texts::kSettingsSheetTitle, {&page});
}

}  // namespace ui
