// CXTipComboBox: a drop-down list whose entries carry tooltips. Resting the
// mouse on the closed box shows the selected entry's tip; moving over an
// entry of the open list shows that entry's tip beside the list.
#pragma once

#include <string>
#include <vector>

#include "platform/win32/win.h"

namespace ui::controls {

class CXTipComboBox {
  public:
    CXTipComboBox() = default;
    ~CXTipComboBox();
    CXTipComboBox(const CXTipComboBox&) = delete;
    CXTipComboBox& operator=(const CXTipComboBox&) = delete;

    void Attach(HWND combo);
    // Fills the box: one tip per entry.
    void SetItems(const std::vector<std::wstring>& names, const std::vector<std::wstring>& tips);
    int GetCurSel() const;
    void SetCurSel(int index);
    HWND hwnd() const { return combo_; }

  private:
    static LRESULT CALLBACK ListProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                     DWORD_PTR self);
    static LRESULT CALLBACK ComboProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                      DWORD_PTR self);
    LRESULT OnListMessage(HWND list, UINT msg, WPARAM wp, LPARAM lp);
    void HookList();
    void RefreshBoxTip();
    void ShowListTip(HWND list, int item);
    void HideListTip();
    void Detach();

    HWND combo_ = nullptr;
    HWND list_ = nullptr;
    HWND boxTip_ = nullptr;   // tool on the closed box
    HWND listTip_ = nullptr;  // tracking tool beside the open list
    int shownItem_ = -1;
    std::vector<std::wstring> tips_;
    std::wstring boxText_;
};

}  // namespace ui::controls
