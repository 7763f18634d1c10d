// The screen lock (dialog 154): a small modal dialog over the browse window
// that ends only when the folder's password (app::Globals().PresetPassword)
// is typed. It covers nothing else on the screen. The owner keeps one object
// and runs it as often as it locks.
#pragma once

#include "ui/controls/xp_button.h"
#include "ui/dialog.h"

namespace ui {

class CDlgLock : public Dialog {
  public:
    explicit CDlgLock(HWND owner);
    // Shows the lock and returns once the password was typed (true), or when
    // the program is ending or the window could not be made (false).
    bool Run();

  protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    bool PreTranslateMessage(MSG* msg) override;
    INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) override;
    // Only the password ends the lock.
    void OnCancel() override {}
    void OnClose() override {}

  private:
    void TryUnlock();

    controls::CXPButton unlock_;
};

}  // namespace ui
