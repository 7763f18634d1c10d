#include "ui/win_shell.h"

#include "platform/win32/win.h"
// After windows.h:
#include <commctrl.h>
#include <ole2.h>

#include "app/globals.h"
#include "ui/decrypt/dlg_jiemi.h"
#include "ui/dialog.h"
#include "ui/encrypt/dlg_jiami.h"
#include "update/auto_upgrade.h"

namespace ui {

WinShell::~WinShell() {
    if (oleStarted_) OleUninitialize();
}

bool WinShell::InitUi() {
    INITCOMMONCONTROLSEX icc = {};
    icc.dwSize = sizeof(icc);
    icc.dwICC = 0xFF;
    InitCommonControlsEx(&icc);
    // Rich edit for the readme editor; its absence only matters there.
    if (!LoadLibraryW(L"Msftedit.dll")) LoadLibraryW(L"Riched20.dll");
    // OLE for drag and drop and the folder browser.
    oleStarted_ = SUCCEEDED(OleInitialize(nullptr));
    return oleStarted_;
}

void WinShell::ShowMessage(const std::wstring& text) {
    MessageBoxApp(nullptr, text);
}

void WinShell::RunEncryptWindow() {
    CDlgJiaMi dlg;
    dlg.DoModal();
}

void WinShell::RunDecryptWindow() {
    INT_PTR result = 0;
    {
        CDlgJieMi dlg;
        result = dlg.DoModal();
    }
    if (result == CDlgJieMi::kIncomplete) exitCode_ = 1;
    if (result == CDlgJieMi::kEncryptOther) RunEncryptWindow();
}

void WinShell::StartUpdateCheck() {
    update::StartUpdateThread(app::Globals().ModulePath);
}

}  // namespace ui
