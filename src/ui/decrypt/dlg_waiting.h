// CDlgStatic: the small window shown while a newly mapped drive has not
// appeared yet. It counts the seconds and ends itself once the drive is
// there; closing it gives up the image use.
#pragma once

#include <functional>

#include "ui/dialog.h"

namespace ui {

class CDlgStatic : public Dialog {
  public:
    // `ready` tells whether the drive is reachable now.
    CDlgStatic(HWND owner, std::function<bool()> ready);

  protected:
    BOOL OnInitDialog() override;
    void OnTimer(UINT_PTR id) override;
    INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) override;

  private:
    std::function<bool()> ready_;
    int m_nTicks = 0;
};

}  // namespace ui
