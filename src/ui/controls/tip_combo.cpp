#include "ui/controls/tip_combo.h"

#include <commctrl.h>
#include <windowsx.h>

namespace ui::controls {
namespace {

constexpr int kTipWidth = 420;  // wide enough for the longest tip line

HWND MakeTooltip(HWND owner, DWORD style) {
    HWND tip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | style,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner,
                               nullptr, GetModuleHandleW(nullptr), nullptr);
    if (tip) {
        // A maximum width makes the tooltip honour the line breaks of the tips.
        SendMessageW(tip, TTM_SETMAXTIPWIDTH, 0, kTipWidth);
        SendMessageW(tip, TTM_SETDELAYTIME, TTDT_AUTOPOP, 30000);
    }
    return tip;
}

}  // namespace

CXTipComboBox::~CXTipComboBox() {
    Detach();
}

void CXTipComboBox::Detach() {
    if (list_) RemoveWindowSubclass(list_, &CXTipComboBox::ListProc, 0);
    if (combo_) RemoveWindowSubclass(combo_, &CXTipComboBox::ComboProc, 0);
    if (boxTip_) DestroyWindow(boxTip_);
    if (listTip_) DestroyWindow(listTip_);
    combo_ = list_ = boxTip_ = listTip_ = nullptr;
}

void CXTipComboBox::Attach(HWND combo) {
    Detach();
    combo_ = combo;
    if (!combo) return;
    HWND owner = GetParent(combo);
    boxTip_ = MakeTooltip(owner, TTS_ALWAYSTIP | TTS_NOPREFIX);
    listTip_ = MakeTooltip(owner, TTS_ALWAYSTIP | TTS_NOPREFIX);
    if (boxTip_) {
        TOOLINFOW ti = {};
        ti.cbSize = sizeof ti;
        ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        ti.hwnd = owner;
        ti.uId = reinterpret_cast<UINT_PTR>(combo);
        ti.lpszText = const_cast<wchar_t*>(L"");
        SendMessageW(boxTip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    }
    if (listTip_) {
        TOOLINFOW ti = {};
        ti.cbSize = sizeof ti;
        ti.uFlags = TTF_TRACK | TTF_ABSOLUTE;
        ti.hwnd = owner;
        ti.uId = 1;
        ti.lpszText = const_cast<wchar_t*>(L"");
        SendMessageW(listTip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    }
    SetWindowSubclass(combo, &CXTipComboBox::ComboProc, 0, reinterpret_cast<DWORD_PTR>(this));
    HookList();
}

void CXTipComboBox::HookList() {
    COMBOBOXINFO info = {};
    info.cbSize = sizeof info;
    if (GetComboBoxInfo(combo_, &info) && info.hwndList && info.hwndList != list_) {
        list_ = info.hwndList;
        SetWindowSubclass(list_, &CXTipComboBox::ListProc, 0, reinterpret_cast<DWORD_PTR>(this));
    }
}

void CXTipComboBox::SetItems(const std::vector<std::wstring>& names,
                             const std::vector<std::wstring>& tips) {
    tips_ = tips;
    SendMessageW(combo_, CB_RESETCONTENT, 0, 0);
    for (const auto& n : names)
        SendMessageW(combo_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(n.c_str()));
    SendMessageW(combo_, CB_SETITEMHEIGHT, 0, 18);
    RefreshBoxTip();
}

int CXTipComboBox::GetCurSel() const {
    return static_cast<int>(SendMessageW(combo_, CB_GETCURSEL, 0, 0));
}

void CXTipComboBox::SetCurSel(int index) {
    SendMessageW(combo_, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    RefreshBoxTip();
}

void CXTipComboBox::RefreshBoxTip() {
    if (!boxTip_) return;
    const int sel = GetCurSel();
    boxText_ = sel >= 0 && sel < int(tips_.size()) ? tips_[size_t(sel)] : std::wstring();
    TOOLINFOW ti = {};
    ti.cbSize = sizeof ti;
    ti.hwnd = GetParent(combo_);
    ti.uId = reinterpret_cast<UINT_PTR>(combo_);
    ti.lpszText = boxText_.data();
    SendMessageW(boxTip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
}

void CXTipComboBox::ShowListTip(HWND list, int item) {
    if (!listTip_ || item == shownItem_) return;
    if (item < 0 || item >= int(tips_.size())) {
        HideListTip();
        return;
    }
    shownItem_ = item;
    TOOLINFOW ti = {};
    ti.cbSize = sizeof ti;
    ti.hwnd = GetParent(combo_);
    ti.uId = 1;
    ti.lpszText = tips_[size_t(item)].data();
    SendMessageW(listTip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
    RECT r = {};
    SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&r));
    RECT lr = {};
    GetWindowRect(list, &lr);
    SendMessageW(listTip_, TTM_TRACKPOSITION, 0, MAKELPARAM(lr.right + 2, lr.top + r.top));
    SendMessageW(listTip_, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&ti));
}

void CXTipComboBox::HideListTip() {
    if (!listTip_ || shownItem_ < 0) return;
    shownItem_ = -1;
    TOOLINFOW ti = {};
    ti.cbSize = sizeof ti;
    ti.hwnd = GetParent(combo_);
    ti.uId = 1;
    SendMessageW(listTip_, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&ti));
}

LRESULT CALLBACK CXTipComboBox::ComboProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                          DWORD_PTR self) {
    auto* me = reinterpret_cast<CXTipComboBox*>(self);
    const LRESULT r = DefSubclassProc(hwnd, msg, wp, lp);
    switch (msg) {
        case CB_SETCURSEL:
        case WM_KEYUP:
        case WM_LBUTTONUP:
            me->RefreshBoxTip();
            break;
        case CB_SHOWDROPDOWN:
            if (!wp) me->HideListTip();
            break;
        case WM_NCDESTROY:
            RemoveWindowSubclass(hwnd, &CXTipComboBox::ComboProc, 0);
            me->combo_ = nullptr;
            break;
        default:
            break;
    }
    return r;
}

LRESULT CALLBACK CXTipComboBox::ListProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                         DWORD_PTR self) {
    return reinterpret_cast<CXTipComboBox*>(self)->OnListMessage(hwnd, msg, wp, lp);
}

LRESULT CXTipComboBox::OnListMessage(HWND list, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_MOUSEMOVE: {
            const LRESULT hit = SendMessageW(list, LB_ITEMFROMPOINT, 0, lp);
            const bool outside = HIWORD(hit) != 0;
            RECT client = {};
            GetClientRect(list, &client);
            POINT pt = {GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
            // The list captures the mouse while open: leaving its client area
            // (scroll bar excluded) hides the tip.
            client.right -= GetSystemMetrics(SM_CXVSCROLL) + 2;
            if (outside || !PtInRect(&client, pt))
                HideListTip();
            else
                ShowListTip(list, LOWORD(hit));
            break;
        }
        case WM_SHOWWINDOW:
            if (!wp) HideListTip();
            break;
        case WM_NCDESTROY:
            HideListTip();
            RemoveWindowSubclass(list, &CXTipComboBox::ListProc, 0);
            list_ = nullptr;
            break;
        default:
            break;
    }
    return DefSubclassProc(list, msg, wp, lp);
}

}  // namespace ui::controls
