#include "ui/decrypt/dlg_list.h"

#include <shellapi.h>
#include <shlobj.h>

#include "app/globals.h"
#include "engine/pass_log.h"
#include "resource.h"
#include "ui/decrypt/logic/decrypt_texts.h"
#include "ui/decrypt/logic/list_logic.h"
#include "ui/encrypt/win_helpers.h"

namespace ui {
namespace {}  // namespace

CDlgList::CDlgList(HWND owner) : Dialog(IDD_LIST, owner) {}

BOOL CDlgList::OnInitDialog() {
    list_ = Item(IDC_LIST_FOLDERS);
    purge_.Attach(Item(IDC_LIST_PURGE));
    ListView_SetExtendedListViewStyle(
        list_, LVS_EX_GRIDLINES | LVS_EX_SUBITEMIMAGES | LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP);
    int index = 0;
    for (const logic::ListColumn& c : logic::ListColumns()) {
        LVCOLUMNW col = {};
        col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        col.pszText = const_cast<wchar_t*>(c.title);
        col.cx = c.width;
        col.iSubItem = index;
        ListView_InsertColumn(list_, index, &col);
        ++index;
    }
    rowFolders_.clear();
    FillList();
    return TRUE;
}

void CDlgList::FillList() {
    ListView_DeleteAllItems(list_);
    invalidNames_.clear();
    invalidRows_.clear();
    for (size_t i = 0; i < rowFolders_.size(); ++i) {
        LVITEMW item = {};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(i);
        item.pszText = rowFolders_[i].data();
        ListView_InsertItem(list_, &item);
    }
    ShowWindow(purge_.hwnd(), logic::ShowPurgeButton(invalidRows_.size()) ? SW_SHOW : SW_HIDE);
}

bool CDlgList::OnCommand(int id, int code, HWND control) {
    switch (id) {
        case IDC_LIST_DECRYPT:
            OnDecrypt();
            return true;
        case IDC_LIST_DECRYPT_OTHER:
            OnDecryptOther();
            return true;
        case IDC_LIST_PURGE:
            return true;  // only shown for invalid rows, which never exist
        default:
            return Dialog::OnCommand(id, code, control);
    }
}

LRESULT CDlgList::OnNotify(NMHDR* header) {
    if (header->idFrom == IDC_LIST_FOLDERS && header->code == NM_DBLCLK) OnDecrypt();
    return 0;
}

void CDlgList::OnDecrypt() {
    const int selected = ListView_GetNextItem(list_, -1, LVNI_SELECTED);
    const logic::ListDecryptStep step = logic::DecryptSelected(selected, rowFolders_);
    if (!step.relaunch) {
        MessageBoxApp(hwnd(), texts::kListNoSelection, MB_ICONEXCLAMATION);
        return;
    }
    Relaunch(step.arguments);
}

void CDlgList::OnDecryptOther() {
    const std::wstring arguments =
        logic::RelaunchForChosen(BrowseForFolder(hwnd(), texts::kListChooseTitle));
    if (arguments.empty()) return;
    Relaunch(arguments);
}

void CDlgList::Relaunch(const std::wstring& arguments) {
    const std::wstring& program = app::Globals().ModulePath;
    // The new instance may open this very folder: it must find it free.
    if (letGo) letGo();
    HINSTANCE r =
        ShellExecuteW(nullptr, nullptr, program.c_str(), arguments.c_str(), nullptr, SW_SHOW);
    const INT_PTR code = reinterpret_cast<INT_PTR>(r);
    if (code <= 32) {
        // The shell's small codes below 32 are the system's error numbers.
        DWORD error = GetLastError();
        if (error == 0) error = static_cast<DWORD>(code);
        if (takeBack) takeBack();
        MessageBoxApp(hwnd(), logic::RelaunchFailedMessage(program, engine::ErrorCodeText(error)),
                      MB_ICONEXCLAMATION);
        return;
    }
    // The new instance takes over: this dialog, its owner and the process end.
    relaunched_ = true;
    EndDialog(IDCANCEL);
    PostQuitMessage(0);
}

INT_PTR CDlgList::OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) {
    INT_PTR r = 0;
    *handled = WhiteBackground(msg, wp, &r);
    return r;
}

bool RunDecryptOtherDialog(HWND owner, std::function<void()> letGo,
                           std::function<void()> takeBack) {
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&icc);
    CDlgList dlg(owner);
    dlg.letGo = std::move(letGo);
    dlg.takeBack = std::move(takeBack);
    dlg.DoModal();
    return dlg.relaunched();
}

}  // namespace ui
