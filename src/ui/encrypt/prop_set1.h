// The settings page and the options sheet that holds it. Every control
// writes its profile value the moment it changes.
#pragma once

#include "ui/controls/hyperlink.h"
#include "ui/controls/property_page.h"

namespace ui {

class CPropSet1 : public controls::PropertyPage {
  public:
    CPropSet1();

  protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) override;

  private:
    void OnStartupPassword();
    bool Checked(int id) const;

    controls::CHyperLink readmeLink_;
    bool loading_ = false;  // texts set while loading are no user edits
};

// The modal sheet "岚栩只读加密设置" with CPropSet1.
void RunSettingsSheet(HWND owner);

}  // namespace ui
