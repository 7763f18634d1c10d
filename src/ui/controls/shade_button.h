// CxShadeButton: an owner-drawn push button with a shaded face, an icon
// above its caption and a tooltip. The face lightens while the pointer is
// over it and sinks while pressed. The owning dialog forwards WM_DRAWITEM.
#pragma once

#include <string>

#include "platform/win32/win.h"

namespace ui::controls {

class CxShadeButton {
  public:
    CxShadeButton() = default;
    ~CxShadeButton();
    CxShadeButton(const CxShadeButton&) = delete;
    CxShadeButton& operator=(const CxShadeButton&) = delete;

    // Takes over the button `ctl` (made owner-drawn) with the icon resource
    // `iconId` and the tooltip `tip`.
    void Attach(HWND ctl, int iconId, const std::wstring& tip);
    HWND hwnd() const { return hwnd_; }
    // For the parent's WM_DRAWITEM: true when `item` is this button.
    bool OnDrawItem(const DRAWITEMSTRUCT* item) const;

  private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                 DWORD_PTR self);
    LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);

    HWND hwnd_ = nullptr;
    HWND tip_ = nullptr;
    HICON icon_ = nullptr;
    bool hover_ = false;
    std::wstring tipText_;
};

}  // namespace ui::controls
