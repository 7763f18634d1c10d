// CDlgTempStatic: the watch window of image use and, in its progress mode,
// the progress window of encrypting the store again. It lives in the
// notification area: the window hides itself as it first paints, and a
// click on the tray icon shows or hides it.
#pragma once

#include "ui/controls/hyperlink.h"
#include "ui/dialog.h"

namespace ui {

class CDlgTempStatic : public Dialog {
  public:
    enum Mode { kWatch = 0, kProgress = 1 };
    CDlgTempStatic(HWND owner, Mode mode, bool imageUse);
    ~CDlgTempStatic() override;

    static constexpr UINT kTrayMessage = WM_USER + 1;
    static constexpr UINT kTrayId = 8;

  protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    void OnTimer(UINT_PTR id) override;
    void OnClose() override;
    void OnCancel() override;
    void OnOK() override {}
    void OnDestroy() override;
    INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) override;

  private:
    void AddTrayIcon();
    void RemoveTrayIcon();
    void HideToTray();

    Mode mode_;
    bool imageUse_;
    bool m_bHiddenInTray = true;
    int m_nNcPaints = 0;
    bool trayAdded_ = false;
    HICON icon_ = nullptr;
    controls::CHyperLink encryptNow_, cancelAuto_, toTray_;
};

}  // namespace ui
