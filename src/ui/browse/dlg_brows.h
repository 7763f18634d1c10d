// The browse window: one store as a folder tree and a file list, items
// decrypted into the working area only when opened and taken back when their
// program or folder window ends. Its decisions live in ui/browse/logic; this
// class reads and writes the controls, runs the passes behind the progress
// window, starts programs and watches them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ui/browse/logic/browse_logic.h"
#include "ui/browse/logic/dir_tree.h"
#include "ui/browse/logic/file_list.h"
#include "ui/controls/hyperlink.h"
#include "ui/controls/shade_button.h"
#include "ui/decrypt/logic/jiemi_logic.h"
#include "ui/dialog.h"

namespace ui {

class CDlgLock;

// Runs the browse window over the store of app::Globals() with the accepted
// password in PresetPassword; `openOnly` leaves only opening and locking.
// Returns when the window closed, false when it left copies plain; the
// program ends after it.
bool RunBrowseWindow(HWND owner, bool openOnly);

// What the window asks of Windows for its timer and the copies it takes back.
class WinBrowsePlatform final : public browse::BrowsePlatform {
  public:
    bool IsWindow(browse::Handle window) override;
    std::vector<browse::Handle> FolderWindowsTitled(const std::wstring& title) override;
    uint32_t TickMs() override;
    uint32_t LastInputMs() override;
    uint32_t IdleLockSeconds() override;
    bool InUse(const std::wstring& path) override;
};

class CDlgBrows : public Dialog {
  public:
    // The window's result when copies stayed plain in the working area.
    static constexpr INT_PTR kLeftPlain = 101;
    CDlgBrows(HWND owner, bool readOnly);
    ~CDlgBrows() override;

  protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    void OnTimer(UINT_PTR id) override;
    void OnClose() override;
    void OnOK() override {}
    void OnCancel() override {}
    void OnDestroy() override;
    LRESULT OnNotify(NMHDR* header) override;
    INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) override;
    bool PreTranslateMessage(MSG* msg) override;

  private:
    void SetupList();
    void SetupTree();
    void Layout();
    void ShowRows();
    void ShowTotals();
    void ShowSelection();
    std::vector<int> Selected() const;
    void FillFrom(browse::TreeNode* node);
    void Refresh();
    // Control items mirror a node's children.
    HTREEITEM InsertNode(HTREEITEM parent, browse::TreeNode* node);
    void RebuildChildren(HTREEITEM item, browse::TreeNode* node);
    HTREEITEM FindItem(HTREEITEM from, browse::TreeNode* node);
    void EnterSelectedFolder();

    void OnOpenFirst();
    void OnOpenAll();
    void OpenItems(const browse::OpenPlan& plan);
    bool EnsureDrive();
    void Launch(const std::wstring& rel, bool folder);
    // A file no program is associated with: asks, lets the user choose a
    // program and starts it on `path`. Its process, or null when none started.
    HANDLE OpenWith(const std::wstring& rel, const std::wstring& path);
    void OnDecryptOut(int mode);
    void OnMoveIn();
    void OnNewFolder();
    void OnRename();
    void OnDelete();
    void OnContextMenu();
    void OnLock();
    // Working copies back into the store; held ones wait for the timer.
    void ReturnCopies(const std::vector<std::wstring>& rels);
    bool RunStorePass(const browse::StorePassPlan& plan);
    void RunDecrypt(int jobMode, const engine::DecryptOptions& options);
    std::wstring DriveOrArea() const;

    bool readOnly_;
    bool lockShown_ = false;
    bool passRunning_ = false;
    bool closing_ = false;
    int folderIcon_ = 0, openFolderIcon_ = 0;  // the tree's, in the system list
    browse::StoreAccess access_;
    std::shared_ptr<browse::OpenedItems> opened_;
    std::unique_ptr<browse::FileListModel> list_;
    std::unique_ptr<browse::DirTree> tree_;
    std::unique_ptr<logic::ImageDrive> drive_;
    WinBrowsePlatform platform_;
    std::vector<std::wstring> openFolderNames_;
    std::wstring logPath_;
    HWND listCtl_ = nullptr, treeCtl_ = nullptr;
    HBRUSH white_ = nullptr;
    controls::CxShadeButton buttons_[8];
    controls::CHyperLink refresh_;
    std::unique_ptr<CDlgLock> lock_;
    bool folderListRevealed_ = false;
};

}  // namespace ui
