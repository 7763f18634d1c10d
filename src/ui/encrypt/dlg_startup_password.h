// The start-up password dialogs: asking for it before the encrypt window,
// setting it when none exists, and changing or cancelling it.
#pragma once

#include "ui/dialog.h"
#include "ui/encrypt/logic/settings_logic.h"

namespace ui {

class CDlgInputRun : public Dialog {
  public:
    explicit CDlgInputRun(HWND owner);
    int m_bPassed = 0;

  protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) override;
};

class CDlgSetRun : public Dialog {
  public:
    explicit CDlgSetRun(HWND owner);
    int m_bSet = 0;

  protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) override;
};

// Only its modify mode is used: change or (with an empty new password)
// cancel the start-up password.
class CDlgModiRun : public Dialog {
  public:
    explicit CDlgModiRun(HWND owner);

  protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) override;
};

// Runs CDlgInputRun; true when the right password was given.
bool CheckStartupPassword(HWND parent);
void SetStartupPassword(HWND parent);
void ModifyStartupPassword(HWND parent);

// Shows a logic step's message and focus; true when the dialog should close.
bool ApplyStep(HWND dlg, const logic::DialogStep& step);

}  // namespace ui
