#include "ui/controls/shade_button.h"

#include <commctrl.h>

namespace ui::controls {
namespace {

// Vertical shade between two colours.
void Shade(HDC dc, const RECT& r, COLORREF top, COLORREF bottom) {
    const int h = r.bottom - r.top;
    if (h <= 0) return;
    for (int y = 0; y < h; ++y) {
        auto mix = [&](int a, int b) { return a + (b - a) * y / (h > 1 ? h - 1 : 1); };
        const COLORREF c =
            RGB(mix(GetRValue(top), GetRValue(bottom)), mix(GetGValue(top), GetGValue(bottom)),
                mix(GetBValue(top), GetBValue(bottom)));
        HBRUSH b = CreateSolidBrush(c);
        RECT line = {r.left, r.top + y, r.right, r.top + y + 1};
        FillRect(dc, &line, b);
        DeleteObject(b);
    }
}

}  // namespace

CxShadeButton::~CxShadeButton() {
    if (hwnd_) RemoveWindowSubclass(hwnd_, &CxShadeButton::Proc, 0);
    if (tip_) DestroyWindow(tip_);
    if (icon_) DestroyIcon(icon_);
}

void CxShadeButton::Attach(HWND ctl, int iconId, const std::wstring& tip) {
    hwnd_ = ctl;
    if (!ctl) return;
    SetWindowLongPtrW(ctl, GWL_STYLE,
                      (GetWindowLongPtrW(ctl, GWL_STYLE) & ~LONG_PTR(0xF)) | BS_OWNERDRAW);
    icon_ = static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(iconId), IMAGE_ICON, 16, 16, 0));
    tipText_ = tip;
    tip_ = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, GetParent(ctl), nullptr,
                           GetModuleHandleW(nullptr), nullptr);
    if (tip_) {
        TOOLINFOW ti = {};
        ti.cbSize = sizeof(ti);
        ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        ti.hwnd = GetParent(ctl);
        ti.uId = reinterpret_cast<UINT_PTR>(ctl);
        ti.lpszText = const_cast<wchar_t*>(tipText_.c_str());
        SendMessageW(tip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
        SendMessageW(tip_, TTM_ACTIVATE, TRUE, 0);
    }
    SetWindowSubclass(ctl, &CxShadeButton::Proc, 0, reinterpret_cast<DWORD_PTR>(this));
}

LRESULT CALLBACK CxShadeButton::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                     DWORD_PTR self) {
    return reinterpret_cast<CxShadeButton*>(self)->Handle(msg, wp, lp);
}

LRESULT CxShadeButton::Handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_MOUSEMOVE:
            if (!hover_) {
                hover_ = true;
                TRACKMOUSEEVENT t = {sizeof(t), TME_LEAVE, hwnd_, 0};
                TrackMouseEvent(&t);
                InvalidateRect(hwnd_, nullptr, FALSE);
            }
            break;
        case WM_MOUSELEAVE:
            hover_ = false;
            InvalidateRect(hwnd_, nullptr, FALSE);
            break;
        case WM_ENABLE:
            InvalidateRect(hwnd_, nullptr, FALSE);
            break;
        case WM_NCDESTROY: {
            HWND h = hwnd_;
            RemoveWindowSubclass(h, &CxShadeButton::Proc, 0);
            hwnd_ = nullptr;
            return DefSubclassProc(h, msg, wp, lp);
        }
        default:
            break;
    }
    return DefSubclassProc(hwnd_, msg, wp, lp);
}

bool CxShadeButton::OnDrawItem(const DRAWITEMSTRUCT* item) const {
    if (!hwnd_ || item->hwndItem != hwnd_) return false;
    HDC dc = item->hDC;
    RECT r = item->rcItem;
    const bool pressed = (item->itemState & ODS_SELECTED) != 0;
    const bool disabled = (item->itemState & ODS_DISABLED) != 0;
    const bool lit = hover_ && !disabled;
    COLORREF top = lit ? RGB(255, 255, 255) : RGB(246, 248, 252);
    COLORREF bottom = lit ? RGB(200, 222, 250) : RGB(214, 222, 236);
    if (pressed) std::swap(top, bottom);
    Shade(dc, r, top, bottom);
    HBRUSH frame = CreateSolidBrush(disabled ? RGB(190, 190, 190)
                                    : lit    ? RGB(60, 120, 210)
                                             : RGB(140, 150, 170));
    FrameRect(dc, &r, frame);
    DeleteObject(frame);

    const int shift = pressed ? 1 : 0;
    wchar_t text[64] = {};
    GetWindowTextW(hwnd_, text, 64);
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(hwnd_, WM_GETFONT, 0, 0));
    HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
    SIZE ts = {};
    GetTextExtentPoint32W(dc, text, lstrlenW(text), &ts);
    const int iconSize = 16, gap = 2;
    const int contentH = iconSize + gap + ts.cy;
    const int y0 = r.top + (r.bottom - r.top - contentH) / 2 + shift;
    if (icon_)
        DrawStateW(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(icon_), 0,
                   r.left + (r.right - r.left - iconSize) / 2 + shift, y0, iconSize, iconSize,
                   DST_ICON | (disabled ? DSS_DISABLED : DSS_NORMAL));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, disabled ? GetSysColor(COLOR_GRAYTEXT) : RGB(0, 0, 0));
    RECT tr = {r.left + shift, y0 + iconSize + gap, r.right + shift, r.bottom};
    DrawTextW(dc, text, -1, &tr, DT_CENTER | DT_TOP | DT_SINGLELINE);
    if (old) SelectObject(dc, old);
    if ((item->itemState & ODS_FOCUS) && !pressed) {
        RECT fr = r;
        InflateRect(&fr, -3, -3);
        DrawFocusRect(dc, &fr);
    }
    return true;
}

}  // namespace ui::controls
