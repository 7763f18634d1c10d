// The decrypt-other-folder list (dialog 141): opens the program on another
// encrypted folder by starting it again there ("," + folder) and ending this
// instance. The list of encrypted folders is kept empty: nothing records
// which folders were encrypted.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ui/controls/xp_button.h"
#include "ui/dialog.h"

namespace ui {

class CDlgList : public Dialog {
  public:
    explicit CDlgList(HWND owner);
    // True once the program was started on another folder; this process is
    // then on its way out (WM_QUIT is posted).
    bool relaunched() const { return relaunched_; }
    // See RunDecryptOtherDialog.
    std::function<void()> letGo, takeBack;

  protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    LRESULT OnNotify(NMHDR* header) override;
    INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) override;

  private:
    void FillList();
    void OnDecrypt();
    void OnDecryptOther();
    // Starts the program with `arguments`; on success ends this dialog and
    // the process, otherwise says why and stays.
    void Relaunch(const std::wstring& arguments);

    HWND list_ = nullptr;
    controls::CXPButton purge_;
    std::vector<std::wstring> rowFolders_;  // folder of each row
    std::vector<std::wstring> invalidNames_;
    std::vector<int> invalidRows_;
    bool relaunched_ = false;
};

// Runs CDlgList over `owner` (the encrypt or the decrypt window). True when
// the program was started on another folder: the caller should end too.
// `letGo` runs just before the program starts again (the owner gives up its
// folder's lock, which the new instance may need), `takeBack` when it could
// not start.
bool RunDecryptOtherDialog(HWND owner, std::function<void()> letGo = {},
                           std::function<void()> takeBack = {});

}  // namespace ui
