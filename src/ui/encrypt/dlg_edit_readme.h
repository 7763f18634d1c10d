// The readme editor: edits the text encryption writes into "readme.txt".
#pragma once

#include "ui/dialog.h"

namespace ui {

class CDlgEditReadme : public Dialog {
  public:
    explicit CDlgEditReadme(HWND owner);

  protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
};

}  // namespace ui
