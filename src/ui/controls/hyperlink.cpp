#include "ui/controls/hyperlink.h"

#include <commctrl.h>

namespace ui::controls {
namespace {

// The classic link cursor lives in the Windows help program; systems without
// it get the stock hand.
HCURSOR LoadLinkCursor() {
    wchar_t dir[MAX_PATH] = {};
    const UINT n = GetWindowsDirectoryW(dir, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
        std::wstring path = std::wstring(dir) + L"\\winhlp32.exe";
        if (HMODULE lib = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
            HCURSOR c = LoadCursorW(lib, MAKEINTRESOURCEW(106));
            HCURSOR copy = c ? static_cast<HCURSOR>(CopyImage(c, IMAGE_CURSOR, 0, 0, 0)) : nullptr;
            FreeLibrary(lib);
            if (copy) return copy;
        }
    }
    return LoadCursorW(nullptr, IDC_HAND);
}

}  // namespace

CHyperLink::~CHyperLink() {
    Detach();
}

void CHyperLink::Detach() {
    if (hwnd_) RemoveWindowSubclass(hwnd_, &CHyperLink::Proc, 0);
    if (tip_) DestroyWindow(tip_);
    if (font_) DeleteObject(font_);
    hwnd_ = nullptr;
    tip_ = nullptr;
    font_ = nullptr;
    // The stock hand is shared; only a copied cursor is ours to free.
    if (cursor_ && cursor_ != LoadCursorW(nullptr, IDC_HAND)) DestroyCursor(cursor_);
    cursor_ = nullptr;
}

void CHyperLink::Attach(HWND ctl, const std::wstring& linkText) {
    Detach();
    if (!ctl) return;
    hwnd_ = ctl;
    text_ = linkText;
    if (text_.empty()) {
        const int n = GetWindowTextLengthW(ctl);
        text_.assign(static_cast<size_t>(n) + 1, L'\0');
        text_.resize(static_cast<size_t>(GetWindowTextW(ctl, text_.data(), n + 1)));
    }
    SetWindowLongPtrW(ctl, GWL_STYLE, GetWindowLongPtrW(ctl, GWL_STYLE) | SS_NOTIFY);

    HFONT base = reinterpret_cast<HFONT>(SendMessageW(ctl, WM_GETFONT, 0, 0));
    LOGFONTW lf = {};
    if (base && GetObjectW(base, sizeof lf, &lf)) {
        lf.lfUnderline = TRUE;
        font_ = CreateFontIndirectW(&lf);
        if (font_) SendMessageW(ctl, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    }
    cursor_ = LoadLinkCursor();

    tip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                           GetParent(ctl), nullptr, GetModuleHandleW(nullptr), nullptr);
    if (tip_) {
        TOOLINFOW ti = {};
        ti.cbSize = sizeof ti;
        ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        ti.hwnd = GetParent(ctl);
        ti.uId = reinterpret_cast<UINT_PTR>(ctl);
        ti.lpszText = text_.data();
        SendMessageW(tip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    }
    SetWindowSubclass(ctl, &CHyperLink::Proc, 0, reinterpret_cast<DWORD_PTR>(this));
}

bool CHyperLink::OnCtlColor(HDC dc, HWND ctl) const {
    if (!hwnd_ || ctl != hwnd_) return false;
    SetTextColor(dc, hover_ ? kHoverColour : kLinkColour);
    return true;
}

LRESULT CALLBACK CHyperLink::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                  DWORD_PTR self) {
    return reinterpret_cast<CHyperLink*>(self)->Handle(msg, wp, lp);
}

LRESULT CHyperLink::Handle(UINT msg, WPARAM wp, LPARAM lp) {
    HWND h = hwnd_;
    switch (msg) {
        case WM_SETCURSOR:
            if (cursor_) {
                SetCursor(cursor_);
                return TRUE;
            }
            break;
        case WM_MOUSEMOVE:
            if (!hover_) {
                hover_ = true;
                TRACKMOUSEEVENT tme = {sizeof tme, TME_LEAVE, h, 0};
                TrackMouseEvent(&tme);
                InvalidateRect(h, nullptr, TRUE);
            }
            break;
        case WM_MOUSELEAVE:
            hover_ = false;
            InvalidateRect(h, nullptr, TRUE);
            break;
        case WM_NCDESTROY: {
            RemoveWindowSubclass(h, &CHyperLink::Proc, 0);
            hwnd_ = nullptr;
            return DefSubclassProc(h, msg, wp, lp);
        }
        default:
            break;
    }
    return DefSubclassProc(h, msg, wp, lp);
}

}  // namespace ui::controls
