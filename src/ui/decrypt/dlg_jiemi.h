// The decrypt window: the main window when the program's folder holds an
// encrypted store.
#pragma once

#include "ui/dialog.h"

namespace ui {

class CDlgJieMi : public Dialog {
  public:
    explicit CDlgJieMi(HWND owner = nullptr);

  protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
};

}  // namespace ui
