// CXPButton: a flat push button. It draws its own face (owner-drawn): light
// when idle, tinted while the mouse is over it, darker and shifted while
// pressed, grey text when disabled, a stronger border when it is the
// dialog's default button. Clicks reach the owning dialog as ordinary
// BN_CLICKED commands; the button carries no logic of its own.
#pragma once

#include "platform/win32/win.h"

namespace ui::controls {

class CXPButton {
  public:
    CXPButton() = default;
    ~CXPButton();
    CXPButton(const CXPButton&) = delete;
    CXPButton& operator=(const CXPButton&) = delete;

    // Takes over the push button `button` of a dialog. The dialog need not
    // forward anything: the button watches its parent's WM_DRAWITEM itself.
    void Attach(HWND button);
    HWND hwnd() const { return hwnd_; }
    bool hovering() const { return hover_; }

  private:
    static LRESULT CALLBACK ButtonProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                       DWORD_PTR self);
    static LRESULT CALLBACK ParentProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                       DWORD_PTR self);
    void Draw(const DRAWITEMSTRUCT& di) const;
    void Detach();

    HWND hwnd_ = nullptr;
    HWND parent_ = nullptr;
    bool default_ = false;
    bool hover_ = false;
};

}  // namespace ui::controls
