// The encrypt window: the main window when the program's folder holds no
// encrypted store. It keeps no logic of its own: the checks, keyboard rules
// and target choices live in ui/encrypt/logic, this class reads and writes
// the controls and starts the pass with its progress window.
#pragma once

#include <string>

#include "ui/controls/hyperlink.h"
#include "ui/controls/tip_combo.h"
#include "ui/dialog.h"
#include "ui/encrypt/logic/jiami_logic.h"

namespace ui {

class CDlgJiaMi : public Dialog {
  public:
    explicit CDlgJiaMi(HWND owner = nullptr);

  protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    bool PreTranslateMessage(MSG* msg) override;
    INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) override;

  private:
    void OnEncrypt();
    void OnChooseFolder();
    void OnMoreMenu();
    void OnDecryptOther();
    void OnDropFiles(HDROP drop);
    void OnOptions();
    void OnAbout();
    void SetTarget(const std::wstring& target);
    // Starts the pass of `strength` and runs its progress window; false when
    // the pass could not start (the reason has been shown).
    bool RunPass(const logic::Strength& strength, const std::wstring& password);
    void NextStrength();
    void ShowMessages(const std::vector<std::wstring>& messages);

    std::wstring m_strTarget;
    std::wstring m_strMail;
    std::wstring m_strSecondPassword;
    bool m_bAutoRun = false;
    int m_bFirstRun = 1;
    controls::CHyperLink moreLink_;
    controls::CHyperLink chooseLink_;
    controls::CXTipComboBox strength_;
};

}  // namespace ui
