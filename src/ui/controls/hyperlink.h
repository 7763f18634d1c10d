// CHyperLink: a static text that looks and behaves like a link. Clicks reach
// the owning dialog as an ordinary command of the control's id (SS_NOTIFY);
// the dialog lets the link colour its text from WM_CTLCOLORSTATIC.
#pragma once

#include <string>

#include "platform/win32/win.h"

namespace ui::controls {

class CHyperLink {
  public:
    CHyperLink() = default;
    ~CHyperLink();
    CHyperLink(const CHyperLink&) = delete;
    CHyperLink& operator=(const CHyperLink&) = delete;

    // Takes over the static `ctl`. An empty `linkText` keeps the window text
    // (which is also the tooltip).
    void Attach(HWND ctl, const std::wstring& linkText = L"");
    // For the parent's WM_CTLCOLORSTATIC: true (and the colours set) when
    // `ctl` is this link.
    bool OnCtlColor(HDC dc, HWND ctl) const;
    HWND hwnd() const { return hwnd_; }

    static constexpr COLORREF kLinkColour = RGB(0, 0, 255);
    static constexpr COLORREF kHoverColour = RGB(255, 0, 255);

  private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                 DWORD_PTR self);
    LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
    void Detach();

    HWND hwnd_ = nullptr;
    HWND tip_ = nullptr;
    HFONT font_ = nullptr;
    HCURSOR cursor_ = nullptr;
    bool hover_ = false;
    std::wstring text_;
};

}  // namespace ui::controls
