#include "ui/browse/dlg_brows.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>

#include <thread>

#include "app/globals.h"
#include "crypto/records.h"
#include "engine/pass_log.h"
#include "engine/pass_state.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/text.h"
#include "resource.h"
#include "ui/browse/logic/browse_texts.h"
#include "ui/decrypt/dlg_lock.h"
#include "ui/encrypt/dlg_zqstatic.h"
#include "ui/encrypt/win_helpers.h"

namespace ui {
namespace {

namespace bt = texts::browse;
using browse::Handle;

// A watcher saw a program end: the copies it left are waiting to go back.
constexpr UINT kMsgCopiesWaiting = WM_APP + 7;

struct ButtonDef {
    int id, icon;
    const wchar_t* tip;
};
// In layout order.
constexpr ButtonDef kButtons[8] = {
    {IDC_BROWS_OPEN, IDI_BROWSE_OPEN, bt::kTipOpen},
    {IDC_BROWS_COPYTO, IDI_BROWSE_COPYTO, bt::kTipCopyTo},
    {IDC_BROWS_MOVETO, IDI_BROWSE_MOVETO, bt::kTipMoveTo},
    {IDC_BROWS_MOVEIN, IDI_BROWSE_MOVEIN, bt::kTipMoveIn},
    {IDC_BROWS_NEW, IDI_BROWSE_NEW, bt::kTipNew},
    {IDC_BROWS_RENAME, IDI_BROWSE_RENAME, bt::kTipRename},
    {IDC_BROWS_DELETE, IDI_BROWSE_DELETE, bt::kTipDelete},
    {IDC_BROWS_LOCK, IDI_BROWSE_LOCK, bt::kTipLock},
};

browse::Size SizeOf(HWND ctl) {
    RECT r = {};
    GetWindowRect(ctl, &r);
    return {r.right - r.left, r.bottom - r.top};
}

void Place(HWND ctl, const browse::Rect& r) {
    SetWindowPos(ctl, nullptr, r.x, r.y, r.w, r.h, SWP_NOZORDER | SWP_NOACTIVATE);
}

std::wstring ShellTypeName(const std::wstring& name, bool folder) {
    SHFILEINFOW info = {};
    const std::wstring probe = folder ? app::Globals().SystemDir : name;
    if (SHGetFileInfoW(probe.c_str(), folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL,
                       &info, sizeof(info), SHGFI_TYPENAME | SHGFI_USEFILEATTRIBUTES))
        return info.szTypeName;
    return {};
}

int SmallIconIndex(const std::wstring& name, bool folder) {
    SHFILEINFOW info = {};
    SHGetFileInfoW(name.c_str(), folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL, &info,
                   sizeof(info), SHGFI_SYSICONINDEX | SHGFI_SMALLICON | SHGFI_USEFILEATTRIBUTES);
    return info.iIcon;
}

// A file some program holds: opening it without sharing fails.
bool FileHeld(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION || GetLastError() == ERROR_LOCK_VIOLATION;
}

bool TreeHeld(const std::wstring& dir) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool held = false;
    do {
        const std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = dir + L"\\" + name;
        held = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? TreeHeld(path) : FileHeld(path);
    } while (!held && FindNextFileW(h, &fd));
    FindClose(h);
    return held;
}

// One per opened file: waits for its program, then hands the copy back to
// the window through the waiting list (the window runs the pass).
void Watch(std::shared_ptr<browse::OpenedItems> opened, std::wstring rel, HANDLE process,
           HWND window) {
    Sleep(1888);
    WaitForSingleObject(process, INFINITE);
    if (opened->FileProgramEnded(rel, reinterpret_cast<Handle>(process))) {
        opened->AddWaiting(rel);
        PostMessageW(window, kMsgCopiesWaiting, 0, 0);
    }
    if (!opened->Closing()) CloseHandle(process);
}

}  // namespace

// ---- platform

bool WinBrowsePlatform::IsWindow(Handle window) {
    return ::IsWindow(reinterpret_cast<HWND>(window)) != FALSE;
}
std::vector<Handle> WinBrowsePlatform::FolderWindowsTitled(const std::wstring& title) {
    std::vector<Handle> out;
    for (HWND h = FindWindowExW(nullptr, nullptr, nullptr, title.c_str()); h;
         h = FindWindowExW(nullptr, h, nullptr, title.c_str())) {
        wchar_t cls[32] = {};
        GetClassNameW(h, cls, 32);
        // Explorer's folder windows (ExplorerWClass under Wine).
        if (IsWindowVisible(h) && (!wcscmp(cls, L"CabinetWClass") || !wcscmp(cls, L"ExplorerWClass")))
            out.push_back(reinterpret_cast<Handle>(h));
    }
    return out;
}
uint32_t WinBrowsePlatform::TickMs() {
    return GetTickCount();
}
uint32_t WinBrowsePlatform::LastInputMs() {
    LASTINPUTINFO li = {sizeof(li), 0};
    return GetLastInputInfo(&li) ? li.dwTime : GetTickCount();
}
uint32_t WinBrowsePlatform::IdleLockSeconds() {
    // Tests shorten the wait (ULXJM_TEST_IDLE_LOCK_S, 1 to 188); it is never longer.
    const std::wstring text = plat::EnvironmentValue(L"ULXJM_TEST_IDLE_LOCK_S");
    const long v = text.empty() ? 0 : std::wcstol(text.c_str(), nullptr, 10);
    return v >= 1 && v < long(browse::kIdleLockSeconds) ? uint32_t(v) : browse::kIdleLockSeconds;
}
bool WinBrowsePlatform::InUse(const std::wstring& path) {
    const std::wstring p = plat::WithoutSep(path);
    const DWORD attrs = GetFileAttributesW(p.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) return false;
    return (attrs & FILE_ATTRIBUTE_DIRECTORY) ? TreeHeld(p) : FileHeld(p);
}

// ---- window

bool RunBrowseWindow(HWND owner, bool openOnly) {
    CDlgBrows dlg(owner, openOnly);
    return dlg.DoModal() != CDlgBrows::kLeftPlain;
}

CDlgBrows::CDlgBrows(HWND owner, bool readOnly)
    : Dialog(IDD_BROWS, owner),
      readOnly_(readOnly),
      opened_(std::make_shared<browse::OpenedItems>()) {}

CDlgBrows::~CDlgBrows() {
    if (white_) DeleteObject(white_);
}

BOOL CDlgBrows::OnInitDialog() {
    app::AppGlobals& g = app::Globals();
    white_ = CreateSolidBrush(RGB(255, 255, 255));
    crypto::StoreRecords records = crypto::ReadStoreRecords(g.StoreParamDir, g.LegacyStore);
    access_.kind = records.kind;
    // A normal store's passes take its own record, also when the secondary
    // password opened the window.
    access_.password = records.kind == crypto::kKindNormal ? records.password : g.PresetPassword;
    records.Wipe();
    access_.folder = plat::WithoutSep(g.ModuleFolder);
    access_.dataDir = g.StoreDataDir;
    access_.mail = g.MailAddress;

    listCtl_ = Item(IDC_BROWS_LIST);
    treeCtl_ = Item(IDC_BROWS_TREE);
    list_ = std::make_unique<browse::FileListModel>(browse::StorePlaces::Of(g.StoreDataDir),
                                                    *opened_, &ShellTypeName);
    SetupList();
    tree_ = std::make_unique<browse::DirTree>(browse::WorkingCopyRoot(g.StoreDataDir));
    SetupTree();
    SetTimer(hwnd(), browse::kTimerId, browse::kTimerPeriodMs, nullptr);

    for (int i = 0; i < 8; ++i)
        buttons_[i].Attach(Item(kButtons[i].id), kButtons[i].icon, kButtons[i].tip);
    if (readOnly_)
        for (int id : {IDC_BROWS_COPYTO, IDC_BROWS_MOVETO, IDC_BROWS_MOVEIN, IDC_BROWS_NEW,
                       IDC_BROWS_RENAME, IDC_BROWS_DELETE})
            EnableWindow(Item(id), FALSE);
    refresh_.Attach(Item(IDC_BROWS_REFRESH));

    HWND folders = Item(IDC_BROWS_FOLDER_LIST);
    LVCOLUMNW col = {};
    col.mask = LVCF_TEXT | LVCF_WIDTH;
    col.cx = 188;
    col.pszText = const_cast<wchar_t*>(bt::kFolderListColumn);
    ListView_InsertColumn(folders, 0, &col);
    if (!g.StartupPasswordLine.empty()) {
        LVITEMW it = {};
        it.mask = LVIF_TEXT;
        it.pszText = const_cast<wchar_t*>(bt::kFolderListPlaceholder);
        ListView_InsertItem(folders, &it);
    } else {
        folderListRevealed_ = true;
    }

    logPath_ = browse::OpenFolderLogPath();
    openFolderNames_ = browse::ReadOpenFolderLog(logPath_);
    browse::AddOpenFolder(openFolderNames_, g.ModuleFolder);
    browse::WriteOpenFolderLog(logPath_, openFolderNames_);

    ShowWindow(hwnd(), SW_SHOWMAXIMIZED);
    Layout();
    return TRUE;
}

void CDlgBrows::SetupList() {
    ListView_SetExtendedListViewStyle(listCtl_, LVS_EX_FULLROWSELECT);
    SHFILEINFOW info = {};
    auto small = reinterpret_cast<HIMAGELIST>(
        SHGetFileInfoW(L"c:\\", 0, &info, sizeof(info), SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
    auto large = reinterpret_cast<HIMAGELIST>(
        SHGetFileInfoW(L"c:\\", 0, &info, sizeof(info), SHGFI_SYSICONINDEX | SHGFI_ICON));
    if (small && large) {
        ListView_SetImageList(listCtl_, small, LVSIL_SMALL);
        ListView_SetImageList(listCtl_, large, LVSIL_NORMAL);
    }
    for (int c = 0; c < browse::kColumnCount; ++c) {
        const browse::ColumnInfo& ci = browse::Column(c);
        LVCOLUMNW col = {};
        col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        col.fmt = ci.align == browse::ColumnInfo::Right    ? LVCFMT_RIGHT
                  : ci.align == browse::ColumnInfo::Centre ? LVCFMT_CENTER
                                                           : LVCFMT_LEFT;
        col.cx = ci.width;
        col.pszText = const_cast<wchar_t*>(ci.header);
        ListView_InsertColumn(listCtl_, c, &col);
    }
    list_->Fill(app::Globals().StoreDataDir);
    ShowRows();
}

void CDlgBrows::SetupTree() {
    app::AppGlobals& g = app::Globals();
    // Folder icons, closed and open, from the system's small image list.
    SHFILEINFOW info = {};
    auto icons = reinterpret_cast<HIMAGELIST>(
        SHGetFileInfoW(L"C:\\", 0, &info, sizeof(info), SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
    if (icons) {
        TreeView_SetImageList(treeCtl_, icons, TVSIL_NORMAL);
        const std::wstring dir = g.SystemDir.empty() ? L"C:\\Windows" : g.SystemDir;
        SHFILEINFOW closed = {}, open = {};
        if (SHGetFileInfoW(dir.c_str(), FILE_ATTRIBUTE_DIRECTORY, &closed, sizeof(closed),
                           SHGFI_SYSICONINDEX | SHGFI_SMALLICON))
            folderIcon_ = closed.iIcon;
        if (SHGetFileInfoW(dir.c_str(), FILE_ATTRIBUTE_DIRECTORY, &open, sizeof(open),
                           SHGFI_SYSICONINDEX | SHGFI_SMALLICON | SHGFI_OPENICON))
            openFolderIcon_ = open.iIcon;
    }
    tree_->ShowStore(g.StoreDataDir, g.FoundDataRel);
    TreeView_DeleteAllItems(treeCtl_);
    browse::TreeNode* root = tree_->Root();
    if (!root) return;
    HTREEITEM item = InsertNode(TVI_ROOT, root);
    RebuildChildren(item, root);
    TreeView_Expand(treeCtl_, item, TVE_EXPAND);
    TreeView_SelectItem(treeCtl_, item);
}

HTREEITEM CDlgBrows::InsertNode(HTREEITEM parent, browse::TreeNode* node) {
    TVINSERTSTRUCTW ins = {};
    ins.hParent = parent;
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_CHILDREN | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
    ins.item.iImage = folderIcon_;
    ins.item.iSelectedImage = openFolderIcon_;
    ins.item.pszText = const_cast<wchar_t*>(node->label.c_str());
    ins.item.lParam = reinterpret_cast<LPARAM>(node);
    ins.item.cChildren = node->children.empty() ? 0 : 1;
    return TreeView_InsertItem(treeCtl_, &ins);
}

void CDlgBrows::RebuildChildren(HTREEITEM item, browse::TreeNode* node) {
    for (HTREEITEM c = TreeView_GetChild(treeCtl_, item); c;) {
        HTREEITEM next = TreeView_GetNextSibling(treeCtl_, c);
        TreeView_DeleteItem(treeCtl_, c);
        c = next;
    }
    TVITEMW tv = {};
    tv.mask = TVIF_CHILDREN | TVIF_HANDLE;
    tv.hItem = item;
    tv.cChildren = node->children.empty() ? 0 : 1;
    TreeView_SetItem(treeCtl_, &tv);
    if (node->HasPlaceholder()) return;  // read when expanded
    for (auto& child : node->children)
        if (!child->placeholder) InsertNode(item, child.get());
}

HTREEITEM CDlgBrows::FindItem(HTREEITEM from, browse::TreeNode* node) {
    for (HTREEITEM c = from; c; c = TreeView_GetNextSibling(treeCtl_, c)) {
        TVITEMW tv = {};
        tv.mask = TVIF_PARAM | TVIF_HANDLE;
        tv.hItem = c;
        if (TreeView_GetItem(treeCtl_, &tv) &&
            reinterpret_cast<browse::TreeNode*>(tv.lParam) == node)
            return c;
        if (HTREEITEM found = FindItem(TreeView_GetChild(treeCtl_, c), node)) return found;
    }
    return nullptr;
}

void CDlgBrows::FillFrom(browse::TreeNode* node) {
    if (!node) return;
    tree_->Select(node);
    list_->Fill(tree_->GetItemPath(*node));
    ShowRows();
}

void CDlgBrows::Refresh() {
    list_->Refresh();
    ShowRows();
    browse::TreeNode* sel = tree_->Selected();
    if (!sel) return;
    HTREEITEM item = FindItem(TreeView_GetRoot(treeCtl_), sel);
    if (!item) return;
    const bool wasExpanded = sel->expanded;
    tree_->ReloadChildren(*sel);
    RebuildChildren(item, sel);
    if (wasExpanded) TreeView_Expand(treeCtl_, item, TVE_EXPAND);
}

void CDlgBrows::ShowRows() {
    SendMessageW(listCtl_, WM_SETREDRAW, FALSE, 0);
    ListView_DeleteAllItems(listCtl_);
    const auto& rows = list_->Rows();
    for (size_t i = 0; i < rows.size(); ++i) {
        const browse::ListRow& r = rows[i];
        LVITEMW it = {};
        it.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
        it.iItem = static_cast<int>(i);
        it.pszText = const_cast<wchar_t*>(r.name.c_str());
        it.iImage = SmallIconIndex(r.name, r.folder);
        it.lParam = static_cast<LPARAM>(i);
        const int at = ListView_InsertItem(listCtl_, &it);
        const std::wstring* cols[] = {&r.type, &r.size, &r.date, &r.flag, &r.state};
        for (int c = 0; c < 5; ++c)
            if (!cols[c]->empty())
                ListView_SetItemText(listCtl_, at, c + 1, const_cast<wchar_t*>(cols[c]->c_str()));
    }
    SendMessageW(listCtl_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(listCtl_, nullptr, TRUE);
    SetItemText(IDC_BROWS_PATH, app::Globals().ModuleFolder + list_->RelativePath());
    ShowTotals();
    ShowSelection();
}

void CDlgBrows::ShowTotals() {
    SetItemText(IDC_BROWS_TOTALS, browse::TotalsText(list_->GetTotals()));
    Layout();
}

void CDlgBrows::ShowSelection() {
    SetItemText(IDC_BROWS_SELECTION,
                browse::SelectionText(browse::CountSelection(list_->Rows(), Selected())));
}

std::vector<int> CDlgBrows::Selected() const {
    std::vector<int> out;
    for (int i = ListView_GetNextItem(listCtl_, -1, LVNI_SELECTED); i >= 0;
         i = ListView_GetNextItem(listCtl_, i, LVNI_SELECTED))
        out.push_back(i);
    return out;
}

void CDlgBrows::Layout() {
    if (!listCtl_) return;
    RECT client = {};
    GetClientRect(hwnd(), &client);
    // Texts take the width they need.
    auto textSize = [this](int id) {
        HWND ctl = Item(id);
        HDC dc = GetDC(ctl);
        HGDIOBJ old =
            SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(ctl, WM_GETFONT, 0, 0)));
        const std::wstring t = ItemText(id);
        SIZE s = {};
        GetTextExtentPoint32W(dc, t.c_str(), static_cast<int>(t.size()), &s);
        SelectObject(dc, old);
        ReleaseDC(ctl, dc);
        return browse::Size{s.cx + 4, s.cy + 2};
    };
    browse::LayoutInput in;
    in.clientW = client.right;
    in.clientH = client.bottom;
    in.button = SizeOf(Item(IDC_BROWS_OPEN));
    in.pathLabel = textSize(IDC_BROWS_PATH_LABEL);
    in.folderLabel = textSize(IDC_BROWS_FOLDER_LABEL);
    in.refreshLink = textSize(IDC_BROWS_REFRESH);
    in.totalsText = textSize(IDC_BROWS_TOTALS);
    in.selectionText = textSize(IDC_BROWS_SELECTION);
    const browse::Layout l = browse::ComputeLayout(in);
    for (int i = 0; i < 8; ++i) Place(Item(kButtons[i].id), l.buttons[i]);
    Place(Item(IDC_BROWS_PATH_LABEL), l.pathLabel);
    Place(Item(IDC_BROWS_PATH), l.pathBox);
    Place(treeCtl_, l.tree);
    Place(Item(IDC_BROWS_FOLDER_LABEL), l.folderLabel);
    Place(Item(IDC_BROWS_REFRESH), l.refreshLink);
    Place(Item(IDC_BROWS_FOLDER_LIST), l.folderList);
    Place(Item(IDC_BROWS_TOTALS), l.totals);
    Place(Item(IDC_BROWS_SELECTION), l.selection);
    Place(listCtl_, l.fileList);
    InvalidateRect(hwnd(), nullptr, TRUE);
}

bool CDlgBrows::PreTranslateMessage(MSG* msg) {
    // Neither Enter nor Esc closes the window; the label editor keeps them.
    if (msg->message != WM_KEYDOWN || (msg->wParam != VK_RETURN && msg->wParam != VK_ESCAPE))
        return false;
    HWND edit = ListView_GetEditControl(listCtl_);
    if (edit && msg->hwnd == edit) return false;
    return msg->hwnd == hwnd() || IsChild(hwnd(), msg->hwnd);
}

bool CDlgBrows::OnCommand(int id, int code, HWND control) {
    if (lockShown_) return true;
    switch (id) {
        case IDC_BROWS_OPEN:
            OnOpenFirst();
            return true;
        case ID_BROWSE_OPEN:
            OnOpenAll();
            return true;
        case IDC_BROWS_COPYTO:
        case ID_BROWSE_COPY_OUT:
            if (!readOnly_) OnDecryptOut(1);
            return true;
        case IDC_BROWS_MOVETO:
        case ID_BROWSE_MOVE_OUT:
            if (!readOnly_) OnDecryptOut(2);
            return true;
        case IDC_BROWS_MOVEIN:
        case ID_BROWSE_MOVE_IN:
            if (!readOnly_) OnMoveIn();
            return true;
        case IDC_BROWS_NEW:
        case ID_BROWSE_NEW_FOLDER:
            if (!readOnly_) OnNewFolder();
            return true;
        case IDC_BROWS_RENAME:
        case ID_BROWSE_RENAME:
            if (!readOnly_) OnRename();
            return true;
        case IDC_BROWS_DELETE:
        case ID_BROWSE_DELETE:
            if (!readOnly_) OnDelete();
            return true;
        case IDC_BROWS_LOCK:
            OnLock();
            return true;
        case IDC_BROWS_REFRESH:
            if (code == STN_CLICKED && folderListRevealed_)
                ListView_DeleteAllItems(Item(IDC_BROWS_FOLDER_LIST));
            return true;
        case IDOK:
        case IDCANCEL:
            return true;
        default:
            return Dialog::OnCommand(id, code, control);
    }
}

LRESULT CDlgBrows::OnNotify(NMHDR* h) {
    if (h->hwndFrom == treeCtl_) {
        switch (h->code) {
            case TVN_ITEMEXPANDINGW: {
                auto* nm = reinterpret_cast<NMTREEVIEWW*>(h);
                auto* node = reinterpret_cast<browse::TreeNode*>(nm->itemNew.lParam);
                if (node && nm->action == TVE_EXPAND && !node->expanded) {
                    tree_->Expand(*node);
                    RebuildChildren(nm->itemNew.hItem, node);
                }
                return FALSE;
            }
            case TVN_ITEMEXPANDEDW: {
                auto* nm = reinterpret_cast<NMTREEVIEWW*>(h);
                auto* node = reinterpret_cast<browse::TreeNode*>(nm->itemNew.lParam);
                if (node && nm->action == TVE_COLLAPSE && node->parent) {
                    tree_->Collapse(*node);
                    // The selection may have been below: it moved up with the control's.
                    RebuildChildren(nm->itemNew.hItem, node);
                }
                return 0;
            }
            case TVN_SELCHANGEDW: {
                auto* nm = reinterpret_cast<NMTREEVIEWW*>(h);
                FillFrom(reinterpret_cast<browse::TreeNode*>(nm->itemNew.lParam));
                return 0;
            }
            default:
                return 0;
        }
    }
    if (h->hwndFrom == listCtl_) {
        switch (h->code) {
            case LVN_COLUMNCLICK:
                list_->ClickColumn(reinterpret_cast<NMLISTVIEW*>(h)->iSubItem);
                ShowRows();
                return 0;
            case LVN_ITEMCHANGED:
                ShowSelection();
                return 0;
            case NM_DBLCLK:
                OnOpenFirst();
                return 0;
            case NM_RCLICK:
                OnContextMenu();
                return 0;
            case LVN_BEGINLABELEDITW:
                return readOnly_ ? TRUE : FALSE;
            case LVN_ENDLABELEDITW: {
                auto* nm = reinterpret_cast<NMLVDISPINFOW*>(h);
                const int row = nm->item.iItem;
                if (!nm->item.pszText || row < 0 || row >= static_cast<int>(list_->Rows().size()))
                    return FALSE;
                const browse::RenameResult r =
                    browse::RenameRow(list_->Rows()[row], nm->item.pszText, list_->CurrentPath(),
                                      list_->RelativePath(), *opened_);
                if (!r.message.empty()) MessageBoxApp(hwnd(), r.message, MB_ICONEXCLAMATION);
                if (r.accepted)
                    PostMessageW(hwnd(), browse::kMsgBrowseNotify, browse::kNotifyRefresh, 0);
                return r.accepted ? TRUE : FALSE;
            }
            default:
                return 0;
        }
    }
    return 0;
}

void CDlgBrows::EnterSelectedFolder() {
    const std::vector<int> sel = Selected();
    if (sel.empty()) return;
    const browse::ListRow& row = list_->Rows()[sel.front()];
    if (!row.folder) return;
    browse::TreeNode* parent = tree_->Selected();
    HTREEITEM parentItem = parent ? FindItem(TreeView_GetRoot(treeCtl_), parent) : nullptr;
    browse::TreeNode* child = tree_->SelectChildByName(row.name);
    if (!child || !parentItem) return;
    RebuildChildren(parentItem, parent);
    TreeView_Expand(treeCtl_, parentItem, TVE_EXPAND);
    HTREEITEM item = FindItem(TreeView_GetChild(treeCtl_, parentItem), child);
    if (item) TreeView_SelectItem(treeCtl_, item);  // TVN_SELCHANGED fills the list
}

// ---- commands

void CDlgBrows::OnOpenFirst() {
    const std::vector<int> sel = Selected();
    if (sel.empty()) {
        MessageBoxApp(hwnd(), bt::kNothingToOpen);
        return;
    }
    const browse::OpenPlan plan =
        browse::PlanOpenFirst(list_->Rows(), sel, list_->RelativePath(), *opened_);
    if (list_->Rows()[sel.front()].folder) {
        EnterSelectedFolder();
        return;
    }
    OpenItems(plan);
}

void CDlgBrows::OnOpenAll() {
    const std::vector<int> sel = Selected();
    if (sel.empty()) {
        MessageBoxApp(hwnd(), bt::kNothingToOpen);
        return;
    }
    OpenItems(browse::PlanOpen(list_->Rows(), sel, list_->RelativePath(), *opened_));
}

std::wstring CDlgBrows::DriveOrArea() const {
    // Without a drive the working area is reached where it lies.
    if (drive_ && drive_->Reachable()) return drive_->Name();
    return plat::WithSep(access_.dataDir) + L"working";
}

bool CDlgBrows::EnsureDrive() {
    const std::wstring area = plat::WithSep(access_.dataDir) + L"working";
    CreateDirectoryW(area.c_str(), nullptr);
    CreateDirectoryW(plat::WithoutSep(browse::WorkingCopyRoot(access_.dataDir)).c_str(), nullptr);
    if (drive_) return true;
    auto drive = std::make_unique<logic::ImageDrive>(logic::OsDriveTable());
    if (!drive->Reserve() || !drive->Map(area)) return false;
    for (int i = 0; i < 50 && !drive->Reachable(); ++i) Sleep(100);
    if (!drive->Reachable()) return false;
    drive_ = std::move(drive);
    return true;
}

void CDlgBrows::OpenItems(const browse::OpenPlan& plan) {
    if (plan.toDecrypt.empty() && plan.launches.empty()) return;
    DeleteFileW(app::Globals().LogFilePath.c_str());
    (void)EnsureDrive();
    if (!plan.toDecrypt.empty())
        RunDecrypt(2, browse::PlanDecrypt(plan.toDecrypt, browse::WorkingCopyRoot(access_.dataDir),
                                          list_->RelativePath()));
    for (const auto& l : plan.launches) {
        const std::wstring path = browse::DrivePath(DriveOrArea(), l.rel);
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
        Launch(l.rel, l.folder);
    }
    Refresh();
}

void CDlgBrows::Launch(const std::wstring& rel, bool folder) {
    const std::wstring path = browse::DrivePath(DriveOrArea(), rel);
    if (folder) {
        opened_->AddFolder(rel, browse::FolderWindowsShown(platform_, rel, DriveOrArea()));
        ShellExecuteW(nullptr, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        return;
    }
    SHELLEXECUTEINFOW sei = {};
    sei.cbSize = sizeof(sei);
    sei.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    sei.hwnd = hwnd();
    sei.lpVerb = L"open";
    sei.lpFile = path.c_str();
    sei.nShow = SW_SHOW;
    if (!ShellExecuteExW(&sei)) {
        const DWORD error = GetLastError();
        // Wine sets its own error code here; the shell's answer is the same.
        if (reinterpret_cast<INT_PTR>(sei.hInstApp) == SE_ERR_NOASSOC ||
            error == ERROR_NO_ASSOCIATION) {
            sei.hProcess = OpenWith(rel, path);
        } else {
            MessageBoxApp(hwnd(),
                          browse::FormatText(bt::kOpenFailed,
                                             {plat::LeafName(rel), engine::ErrorCodeText(error)}),
                          MB_ICONEXCLAMATION);
        }
        if (!sei.hProcess) {
            // The user was told: the copy goes back.
            opened_->AddWaiting(rel);
            return;
        }
    } else if (!sei.hProcess) {
        // A program already running took the document: nothing to watch,
        // the copy goes back once nothing holds it.
        opened_->AddWaiting(rel);
        return;
    }
    opened_->AddFile(rel, reinterpret_cast<Handle>(sei.hProcess));
    std::thread(Watch, opened_, rel, sei.hProcess, hwnd()).detach();
    // Programs start one after another.
    Sleep(500);
}

HANDLE CDlgBrows::OpenWith(const std::wstring& rel, const std::wstring& path) {
    if (MessageBoxApp(hwnd(), browse::NoProgramText(rel), MB_YESNO | MB_ICONQUESTION) != IDYES)
        return nullptr;
    // Started here rather than through the shell's "open with", so the
    // window watches the very program that holds the copy.
    for (;;) {
        std::vector<wchar_t> buf(MAX_PATH * 4, L'\0');
        OPENFILENAMEW ofn = {};
        ofn.lStructSize = sizeof(ofn);
        ofn.hwndOwner = hwnd();
        ofn.lpstrFilter = bt::kProgramFilter;
        ofn.lpstrFile = buf.data();
        ofn.nMaxFile = static_cast<DWORD>(buf.size());
        ofn.lpstrTitle = bt::kChooseProgram;
        ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_NOCHANGEDIR;
        if (!GetOpenFileNameW(&ofn)) return nullptr;
        const std::wstring program = buf.data();
        std::wstring line = browse::ProgramCommandLine(program, path);
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi = {};
        if (CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                           nullptr, &si, &pi)) {
            CloseHandle(pi.hThread);
            return pi.hProcess;
        }
        MessageBoxApp(hwnd(),
                      browse::FormatText(bt::kProgramFailed,
                                         {program, engine::ErrorCodeText(GetLastError())}),
                      MB_ICONEXCLAMATION);
    }
}

void CDlgBrows::OnDecryptOut(int mode) {
    const std::vector<int> sel = Selected();
    if (sel.empty()) {
        MessageBoxApp(hwnd(), mode == 1 ? bt::kNothingToCopy : bt::kNothingToMove);
        return;
    }
    const std::wstring dest = BrowseForFolder(hwnd(), bt::kChooseDestination);
    if (dest.empty()) return;
    DeleteFileW(app::Globals().LogFilePath.c_str());
    const browse::OutPlan plan =
        browse::PlanDecryptOut(list_->Rows(), sel, list_->RelativePath(), *opened_);
    if (!plan.items.empty())
        RunDecrypt(mode, browse::PlanDecrypt(plan.items, dest, list_->RelativePath()));
    if (plan.openCount > 0) MessageBoxApp(hwnd(), plan.OpenMessage());
    if (mode == 2) Refresh();
}

void CDlgBrows::OnMoveIn() {
    std::vector<wchar_t> buf(65536, L'\0');
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = hwnd();
    ofn.lpstrFilter = L"所有类型文件(*.*) \0*.*\0";
    ofn.lpstrFile = buf.data();
    ofn.nMaxFile = static_cast<DWORD>(buf.size());
    ofn.Flags = OFN_ALLOWMULTISELECT | OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING |
                OFN_FILEMUSTEXIST;
    if (!GetOpenFileNameW(&ofn)) return;
    // One path, or a folder followed by names.
    std::vector<std::wstring> parts;
    for (const wchar_t* p = buf.data(); *p; p += wcslen(p) + 1) parts.push_back(p);
    std::vector<std::wstring> paths;
    if (parts.size() == 1)
        paths = parts;
    else
        for (size_t i = 1; i < parts.size(); ++i)
            paths.push_back(plat::WithSep(parts[0]) + parts[i]);
    const browse::MoveInNames names = browse::SplitChosenFiles(paths);
    if (names.names.empty()) return;
    DeleteFileW(app::Globals().LogFilePath.c_str());
    const browse::StorePassPlan plan =
        browse::PlanMoveIn(access_, names.sourceFolder, names.names, list_->RelativePath());
    if (!plan.refusal.empty()) {
        MessageBoxApp(hwnd(), plan.refusal, MB_ICONEXCLAMATION);
        return;
    }
    if (plan.valid) RunStorePass(plan);
    Refresh();
}

void CDlgBrows::OnNewFolder() {
    const std::wstring path = browse::NewFolderPath(list_->CurrentPath());
    CreateDirectoryW(path.c_str(), nullptr);
    Refresh();
}

void CDlgBrows::OnRename() {
    const std::vector<int> sel = Selected();
    if (sel.empty()) {
        MessageBoxApp(hwnd(), bt::kNothingToRename);
        return;
    }
    SetFocus(listCtl_);
    ListView_EditLabel(listCtl_, sel.front());
}

void CDlgBrows::OnDelete() {
    const std::vector<int> sel = Selected();
    if (sel.empty()) {
        MessageBoxApp(hwnd(), bt::kNothingToDelete);
        return;
    }
    const browse::DeletePlan plan = browse::PlanDelete(list_->Rows(), sel, list_->CurrentPath());
    if (MessageBoxApp(hwnd(), plan.question, MB_YESNO | MB_ICONQUESTION) != IDYES) return;
    DeleteFileW(app::Globals().LogFilePath.c_str());
    browse::DeletePaths(plan.paths);
    Refresh();
}

void CDlgBrows::OnContextMenu() {
    HMENU bar = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_BROWSE_MENU));
    HMENU menu = bar ? GetSubMenu(bar, 0) : nullptr;
    if (!menu) {
        if (bar) DestroyMenu(bar);
        return;
    }
    const bool any = !Selected().empty();
    for (int cmd : {ID_BROWSE_OPEN, ID_BROWSE_COPY_OUT, ID_BROWSE_MOVE_OUT, ID_BROWSE_CUT,
                    ID_BROWSE_COPY, ID_BROWSE_PASTE, ID_BROWSE_MOVE_IN, ID_BROWSE_NEW_FOLDER,
                    ID_BROWSE_RENAME, ID_BROWSE_DELETE})
        EnableMenuItem(menu, cmd,
                       MF_BYCOMMAND | (browse::MenuEnabled(static_cast<browse::MenuCommand>(cmd),
                                                           any, readOnly_)
                                           ? MF_ENABLED
                                           : MF_GRAYED));
    POINT pt = {};
    GetCursorPos(&pt);
    SetForegroundWindow(hwnd());
    const UINT cmd = static_cast<UINT>(
        TrackPopupMenu(menu, TPM_RIGHTBUTTON | TPM_RETURNCMD, pt.x, pt.y, 0, hwnd(), nullptr));
    DestroyMenu(bar);
    if (cmd) OnCommand(static_cast<int>(cmd), 0, nullptr);
}

void CDlgBrows::OnLock() {
    if (lockShown_) return;
    const int ids[] = {IDC_BROWS_TREE, IDC_BROWS_LIST, IDC_BROWS_FOLDER_LIST};
    for (int id : ids) EnableWindow(Item(id), FALSE);
    lockShown_ = true;
    if (!lock_) lock_ = std::make_unique<CDlgLock>(hwnd());
    (void)lock_->Run();
    lockShown_ = false;
    for (int id : ids) EnableWindow(Item(id), TRUE);
}

// ---- passes

void CDlgBrows::RunDecrypt(int jobMode, const engine::DecryptOptions& options) {
    passRunning_ = true;
    engine::State().Reset();
    const std::wstring folder = access_.folder;
    const std::wstring password = access_.password;
    std::thread worker([&] {
        WinPassUi ui;
        try {
            (void)engine::DecryptStore(folder, password, jobMode, ui, options);
        } catch (...) {
        }
        engine::State().done = true;
    });
    {
        CDlgZQStatic progress(hwnd());
        progress.DoModal();
    }
    worker.join();
    passRunning_ = false;
}

bool CDlgBrows::RunStorePass(const browse::StorePassPlan& plan) {
    passRunning_ = true;
    engine::PassState& st = engine::State();
    st.Reset();
    st.kind = plan.engineKind;
    st.operation = engine::kOpBrowse;
    WinPassUi ui;
    bool started = false;
    if (plan.contentPass) {
        engine::CCryptAndDe_old pass(ui);
        started = pass.StartEncryption(plan.strength);
        if (started) {
            CDlgZQStatic progress(hwnd());
            progress.DoModal();
        }
    } else {
        engine::CJiaMiWeiZhuang pass(ui);
        started = pass.StartThread(plan.hide);
        if (started) {
            CDlgZQStatic progress(hwnd());
            progress.DoModal();
        }
    }
    passRunning_ = false;
    return started && st.moveFailed == 0 && st.strengthSkipped == 0 && !st.cancelRequested;
}

void CDlgBrows::ReturnCopies(const std::vector<std::wstring>& rels) {
    if (rels.empty()) return;
    if (passRunning_ || closing_) {
        for (const auto& r : rels) opened_->AddWaiting(r);
        return;
    }
    const browse::StorePassPlan plan = browse::PlanReturn(access_, rels, platform_);
    for (const auto& r : plan.stillHeld) opened_->AddWaiting(r);
    if (!plan.valid) return;
    RunStorePass(plan);
    Refresh();
}

// ---- timer, lock, close

void CDlgBrows::OnTimer(UINT_PTR id) {
    if (id != browse::kTimerId || closing_) return;
    const browse::TimerResult r =
        browse::TimerTick(*opened_, platform_, drive_ ? drive_->Name() : DriveOrArea(), lockShown_);
    ReturnCopies(r.toReturn);
    if (r.lock) PostMessageW(hwnd(), browse::kMsgBrowseLock, 0, 0);
}

void CDlgBrows::OnClose() {
    if (passRunning_ || closing_) return;
    browse::CloseAnswer answer = browse::CloseAnswer::No;
    if (browse::CloseNeedsQuestion(*opened_)) {
        const int r = MessageBoxApp(hwnd(), bt::kCloseQuestion, MB_YESNOCANCEL | MB_ICONQUESTION);
        answer = r == IDYES  ? browse::CloseAnswer::Yes
                 : r == IDNO ? browse::CloseAnswer::No
                             : browse::CloseAnswer::Cancel;
    }
    const browse::ClosePlan plan = browse::PlanClose(*opened_, answer);
    if (plan.stay) return;
    closing_ = true;
    KillTimer(hwnd(), browse::kTimerId);
    for (Handle w : plan.windowsToClose)
        if (::IsWindow(reinterpret_cast<HWND>(w)))
            SendMessageTimeoutW(reinterpret_cast<HWND>(w), WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 2000,
                                nullptr);
    for (Handle p : plan.processesToEnd) TerminateProcess(reinterpret_cast<HANDLE>(p), 1);
    // Ended programs let go of their files a moment later.
    for (Handle p : plan.processesToEnd) WaitForSingleObject(reinterpret_cast<HANDLE>(p), 3000);
    Sleep(88);
    browse::StorePassPlan back;
    bool passComplete = true;
    if (!plan.toReturn.empty()) {
        back = browse::PlanReturn(access_, plan.toReturn, platform_);
        if (back.valid) passComplete = RunStorePass(back);
    }
    const browse::CloseOutcome outcome = browse::OutcomeOfClose(plan, &back, passComplete);
    std::vector<std::wstring> leftPlain = plan.leftOpen;
    leftPlain.insert(leftPlain.end(), back.stillHeld.begin(), back.stillHeld.end());
    if (!leftPlain.empty())
        MessageBoxApp(hwnd(), browse::StillHeldText(leftPlain), MB_ICONEXCLAMATION);
    // Programs still holding copies go on saving through the drive; the
    // next start releases it and takes the copies back.
    if (drive_ && outcome.KeepDrive()) drive_->Leave();
    drive_.reset();
    browse::RemoveEmptyFolders(plat::WithSep(access_.dataDir) + L"working");
    openFolderNames_ = browse::ReadOpenFolderLog(logPath_);
    browse::RemoveOpenFolder(openFolderNames_, app::Globals().ModuleFolder);
    browse::WriteOpenFolderLog(logPath_, openFolderNames_);
    EndDialog(outcome.ExitCode() == 0 ? IDOK : kLeftPlain);
}

void CDlgBrows::OnDestroy() {
    KillTimer(hwnd(), browse::kTimerId);
    drive_.reset();
}

INT_PTR CDlgBrows::OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) {
    switch (msg) {
        case WM_SIZE:
            *handled = true;
            Layout();
            return 0;
        case WM_DRAWITEM: {
            const auto* di = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
            for (auto& b : buttons_)
                if (b.OnDrawItem(di)) {
                    *handled = true;
                    return TRUE;
                }
            return 0;
        }
        case kMsgCopiesWaiting:
            *handled = true;
            if (!closing_) ReturnCopies(opened_->TakeWaiting());
            return 0;
        case browse::kMsgBrowseLock:
            *handled = true;
            OnLock();
            return 0;
        case browse::kMsgBrowseNotify:
            *handled = true;
            switch (static_cast<int>(wp)) {
                case browse::kNotifyEnterFolder:
                    EnterSelectedFolder();
                    break;
                case browse::kNotifyRefresh:
                    Refresh();
                    break;
                case browse::kNotifyPathChanged:
                    SetItemText(IDC_BROWS_PATH,
                                app::Globals().ModuleFolder + list_->RelativePath());
                    break;
                case browse::kNotifyTotals:
                    ShowTotals();
                    break;
                case browse::kNotifySelection:
                    ShowSelection();
                    break;
                default:
                    break;
            }
            return 0;
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLOREDIT: {
            // White everywhere; text in lists and scroll bars on a light grey.
            *handled = true;
            SetBkColor(reinterpret_cast<HDC>(wp),
                       msg == WM_CTLCOLOREDIT ? RGB(255, 255, 255) : RGB(233, 233, 220));
            return reinterpret_cast<INT_PTR>(white_);
        }
        case WM_CTLCOLORSTATIC: {
            INT_PTR r = 0;
            *handled = WhiteBackground(msg, wp, &r);
            (void)refresh_.OnCtlColor(reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp));
            return r;
        }
        default: {
            INT_PTR r = 0;
            *handled = WhiteBackground(msg, wp, &r);
            return r;
        }
    }
}

}  // namespace ui
