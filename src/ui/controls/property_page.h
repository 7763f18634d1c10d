// A property page built from a dialog resource, and a modal sheet that holds
// one or more of them. Like ui::Dialog: one procedure keeps `this` and routes
// to virtual handlers, and no exception leaves a handler.
#pragma once

#include <string>
#include <vector>

#include "platform/win32/win.h"
// After windows.h:
#include <commctrl.h>

namespace ui::controls {

class PropertyPage {
  public:
    explicit PropertyPage(int resourceId) : resourceId_(resourceId) {}
    virtual ~PropertyPage() = default;
    PropertyPage(const PropertyPage&) = delete;
    PropertyPage& operator=(const PropertyPage&) = delete;

    HPROPSHEETPAGE Create();
    HWND hwnd() const { return hwnd_; }
    HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
    std::wstring ItemText(int id) const;

  protected:
    virtual BOOL OnInitDialog() { return TRUE; }
    virtual bool OnCommand(int id, int code, HWND control) { return false; }
    virtual INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) { return 0; }

  private:
    static INT_PTR CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    INT_PTR Dispatch(UINT msg, WPARAM wp, LPARAM lp);

    int resourceId_;
    HWND hwnd_ = nullptr;
};

// Runs a modal property sheet titled `title` over `pages`; the sheet's
// result (IDOK / IDCANCEL), or -1 when it could not be shown.
INT_PTR RunPropertySheet(HWND owner, const std::wstring& title,
                         const std::vector<PropertyPage*>& pages);

}  // namespace ui::controls
