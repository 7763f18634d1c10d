// The About box: program icon, banner, version and description.
#pragma once

#include "ui/controls/hyperlink.h"
#include "ui/dialog.h"

namespace ui {

class CAboutDlg : public Dialog {
  public:
    explicit CAboutDlg(HWND owner);

  protected:
    BOOL OnInitDialog() override;
    INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) override;
};

}  // namespace ui
