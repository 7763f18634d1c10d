#include "ui/controls/property_page.h"

#include <exception>

#include "ui/dialog.h"

namespace ui::controls {

HPROPSHEETPAGE PropertyPage::Create() {
    PROPSHEETPAGEW p = {};
    p.dwSize = sizeof p;
    p.hInstance = GetModuleHandleW(nullptr);
    p.pszTemplate = MAKEINTRESOURCEW(resourceId_);
    p.pfnDlgProc = &PropertyPage::Proc;
    p.lParam = reinterpret_cast<LPARAM>(this);
    return CreatePropertySheetPageW(&p);
}

std::wstring PropertyPage::ItemText(int id) const {
    HWND item = Item(id);
    if (!item) return {};
    const int n = GetWindowTextLengthW(item);
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(item, text.data(), n + 1)));
    return text;
}

INT_PTR CALLBACK PropertyPage::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    PropertyPage* self = nullptr;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<PropertyPage*>(reinterpret_cast<PROPSHEETPAGEW*>(lp)->lParam);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<PropertyPage*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    }
    if (!self) return FALSE;
    try {
        return self->Dispatch(msg, wp, lp);
    } catch (const std::exception&) {
        MessageBoxApp(hwnd, L"内存不足。", MB_ICONERROR);
    } catch (...) {
        MessageBoxApp(hwnd, L"未知错误。", MB_ICONERROR);
    }
    return FALSE;
}

INT_PTR PropertyPage::Dispatch(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_INITDIALOG:
            return OnInitDialog();
        case WM_COMMAND:
            if (OnCommand(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp))) return TRUE;
            break;
        case WM_NCDESTROY:
            SetWindowLongPtrW(hwnd_, DWLP_USER, 0);
            hwnd_ = nullptr;
            return FALSE;
        default:
            break;
    }
    bool handled = false;
    const INT_PTR r = OnMessage(msg, wp, lp, &handled);
    return handled ? r : FALSE;
}

INT_PTR RunPropertySheet(HWND owner, const std::wstring& title,
                         const std::vector<PropertyPage*>& pages) {
    std::vector<HPROPSHEETPAGE> handles;
    for (PropertyPage* p : pages) {
        if (HPROPSHEETPAGE h = p->Create()) handles.push_back(h);
    }
    if (handles.empty()) return -1;
    PROPSHEETHEADERW h = {};
    h.dwSize = sizeof h;
    h.dwFlags = PSH_NOAPPLYNOW | PSH_NOCONTEXTHELP;
    h.hwndParent = owner;
    h.hInstance = GetModuleHandleW(nullptr);
    h.pszCaption = title.c_str();
    h.nPages = static_cast<UINT>(handles.size());
    h.phpage = handles.data();
    return PropertySheetW(&h);
}

}  // namespace ui::controls
