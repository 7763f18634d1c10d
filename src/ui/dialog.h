// A modal dialog built from a dialog resource. One dialog procedure for all
// windows: it keeps `this` in the window (DWLP_USER), routes messages to the
// virtual handlers below and lets no exception out into Windows.
//
// DoModal runs its own message loop (disabling the owner, as DialogBoxParam
// does) so that derived windows can see keys first in PreTranslateMessage.
#pragma once

#include <string>

#include "platform/win32/win.h"

namespace ui {

class Dialog {
  public:
    Dialog(int resourceId, HWND owner);
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Shows the window and returns the code given to EndDialog, or -1 when
    // the window could not be created.
    INT_PTR DoModal();
    // Ends the modal loop with `result` and destroys the window.
    void EndDialog(INT_PTR result);

    HWND hwnd() const { return hwnd_; }
    HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
    std::wstring ItemText(int id) const;
    void SetItemText(int id, const std::wstring& text) const;

  protected:
    // Return FALSE when the focus was set here.
    virtual BOOL OnInitDialog() { return TRUE; }
    // `code` is the notification code, `control` the sender (null for menus
    // and accelerators). Return true when handled.
    virtual bool OnCommand(int id, int code, HWND control);
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    virtual void OnTimer(UINT_PTR id) {}
    // The close box / Alt+F4. The default cancels, as a dialog does.
    virtual void OnClose() { OnCancel(); }
    virtual void OnDestroy() {}
    virtual LRESULT OnNotify(NMHDR* header) { return 0; }
    // Any other message. Set *handled and return the message's result.
    virtual INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) { return 0; }
    // Sees every message of the modal loop first; true swallows it.
    virtual bool PreTranslateMessage(MSG* msg) { return false; }
    // Called with the exception's text when a handler threw; the default
    // shows it and keeps the window running.
    virtual void OnHandlerFailure(const std::wstring& what);

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    INT_PTR Dispatch(UINT msg, WPARAM wp, LPARAM lp);
    bool SafePreTranslate(MSG* msg);
    void SetIcons();

    int resourceId_;
    HWND owner_;
    HWND hwnd_ = nullptr;
    bool running_ = false;
    INT_PTR result_ = -1;
};

// A message box titled "岚栩只读加密". Returns the button pressed.
int MessageBoxApp(HWND owner, const std::wstring& text, UINT flags = MB_OK);

}  // namespace ui
