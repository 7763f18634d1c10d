#include "ui/controls/xp_button.h"

#include <commctrl.h>

#include <string>

namespace ui::controls {
namespace {

constexpr COLORREF kFace = RGB(243, 243, 243);
constexpr COLORREF kFaceHover = RGB(229, 241, 251);
constexpr COLORREF kFacePressed = RGB(204, 228, 247);
constexpr COLORREF kBorder = RGB(173, 173, 173);
constexpr COLORREF kBorderHover = RGB(0, 120, 215);
constexpr COLORREF kBorderPressed = RGB(0, 84, 153);
constexpr COLORREF kBorderDefault = RGB(0, 90, 170);
constexpr COLORREF kText = RGB(0, 0, 0);
constexpr COLORREF kTextDisabled = RGB(160, 160, 160);

void Frame(HDC dc, RECT r, COLORREF colour, int width) {
    HBRUSH b = CreateSolidBrush(colour);
    for (int i = 0; i < width; ++i) {
        FrameRect(dc, &r, b);
        InflateRect(&r, -1, -1);
    }
    DeleteObject(b);
}

}  // namespace

CXPButton::~CXPButton() {
    Detach();
}

void CXPButton::Detach() {
    if (hwnd_) RemoveWindowSubclass(hwnd_, &CXPButton::ButtonProc, 0);
    if (parent_)
        RemoveWindowSubclass(parent_, &CXPButton::ParentProc, reinterpret_cast<UINT_PTR>(this));
    hwnd_ = nullptr;
    parent_ = nullptr;
    hover_ = false;
}

void CXPButton::Attach(HWND button) {
    Detach();
    if (!button) return;
    hwnd_ = button;
    parent_ = GetParent(button);
    const LONG_PTR style = GetWindowLongPtrW(button, GWL_STYLE);
    default_ = (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
    SetWindowLongPtrW(button, GWL_STYLE, (style & ~LONG_PTR(BS_TYPEMASK)) | BS_OWNERDRAW);
    SetWindowSubclass(button, &CXPButton::ButtonProc, 0, reinterpret_cast<DWORD_PTR>(this));
    // One parent subclass per button (the id tells them apart), so several
    // buttons can share a dialog.
    if (parent_)
        SetWindowSubclass(parent_, &CXPButton::ParentProc, reinterpret_cast<UINT_PTR>(this),
                          reinterpret_cast<DWORD_PTR>(this));
    InvalidateRect(button, nullptr, TRUE);
}

void CXPButton::Draw(const DRAWITEMSTRUCT& di) const {
    HDC dc = di.hDC;
    RECT r = di.rcItem;
    const bool pressed = (di.itemState & ODS_SELECTED) != 0;
    const bool disabled = (di.itemState & ODS_DISABLED) != 0;
    const bool focused = (di.itemState & ODS_FOCUS) != 0;

    COLORREF face = kFace, border = default_ ? kBorderDefault : kBorder;
    if (!disabled && pressed) {
        face = kFacePressed;
        border = kBorderPressed;
    } else if (!disabled && hover_) {
        face = kFaceHover;
        border = kBorderHover;
    }
    HBRUSH fill = CreateSolidBrush(face);
    FillRect(dc, &r, fill);
    DeleteObject(fill);
    Frame(dc, r, border, default_ ? 2 : 1);

    const int n = GetWindowTextLengthW(di.hwndItem);
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(di.hwndItem, text.data(), n + 1)));
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(di.hwndItem, WM_GETFONT, 0, 0));
    HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, disabled ? kTextDisabled : kText);
    RECT tr = r;
    if (pressed) OffsetRect(&tr, 1, 1);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &tr,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    if (old) SelectObject(dc, old);

    if (focused && !(di.itemState & ODS_NOFOCUSRECT)) {
        RECT fr = r;
        InflateRect(&fr, -3, -3);
        DrawFocusRect(dc, &fr);
    }
}

LRESULT CALLBACK CXPButton::ButtonProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                       DWORD_PTR ref) {
    auto* self = reinterpret_cast<CXPButton*>(ref);
    switch (msg) {
        case WM_MOUSEMOVE:
            if (!self->hover_) {
                self->hover_ = true;
                TRACKMOUSEEVENT tme = {sizeof tme, TME_LEAVE, hwnd, 0};
                TrackMouseEvent(&tme);
                InvalidateRect(hwnd, nullptr, FALSE);
            }
            break;
        case WM_MOUSELEAVE:
            self->hover_ = false;
            InvalidateRect(hwnd, nullptr, FALSE);
            break;
        case WM_ERASEBKGND:
            return TRUE;  // the face covers everything
        case WM_LBUTTONDBLCLK:
            // An owner-drawn button turns a quick second click into a double
            // click; a push button counts it as another press.
            return DefSubclassProc(hwnd, WM_LBUTTONDOWN, wp, lp);
        case WM_NCDESTROY:
            RemoveWindowSubclass(hwnd, &CXPButton::ButtonProc, 0);
            self->hwnd_ = nullptr;
            break;
        default:
            break;
    }
    return DefSubclassProc(hwnd, msg, wp, lp);
}

LRESULT CALLBACK CXPButton::ParentProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                       DWORD_PTR ref) {
    auto* self = reinterpret_cast<CXPButton*>(ref);
    if (msg == WM_DRAWITEM) {
        const auto* di = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
        if (di && self->hwnd_ && di->hwndItem == self->hwnd_ && di->CtlType == ODT_BUTTON) {
            self->Draw(*di);
            return TRUE;
        }
    } else if (msg == WM_NCDESTROY) {
        RemoveWindowSubclass(hwnd, &CXPButton::ParentProc, id);
        self->parent_ = nullptr;
    }
    return DefSubclassProc(hwnd, msg, wp, lp);
}

}  // namespace ui::controls
