#include "ui/encrypt/dlg_about.h"

#include "resource.h"
#include "ui/encrypt/logic/encrypt_texts.h"
#include "ui/encrypt/logic/jiami_logic.h"
#include "ui/encrypt/win_helpers.h"

namespace ui {

CAboutDlg::CAboutDlg(HWND owner) : Dialog(IDD_ABOUTBOX, owner) {}

BOOL CAboutDlg::OnInitDialog() {
    SetItemText(IDC_ABOUT_VERSION, texts::kAboutVersionLine);
    // The maker's phone and chat numbers are not ours to print: the
    // description ends with the disclaimer address.
    SetItemText(IDC_ABOUT_TEXT, std::wstring(texts::kAboutText) + logic::DisclaimerUrl());
    return TRUE;
}

INT_PTR CAboutDlg::OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) {
    INT_PTR r = 0;
    *handled = WhiteBackground(msg, wp, &r);
    return r;
}

}  // namespace ui
