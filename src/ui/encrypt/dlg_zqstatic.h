// The progress window of a pass: shows the engine's progress model every
// 50 ms, lets the user cancel, and at the end opens the pass log when
// something failed. The pass runs on its own worker; the window only reads.
#pragma once

#include "engine/progress_model.h"
#include "ui/dialog.h"

namespace ui {

class CDlgZQStatic : public Dialog {
  public:
    explicit CDlgZQStatic(HWND owner, engine::PassState& state = engine::State());

  protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    void OnTimer(UINT_PTR id) override;
    // Enter, Esc and the close box only act once closing is allowed: a
    // window gone before its pass would leave the user without the result.
    void OnOK() override;
    void OnCancel() override;
    INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) override;

  private:
    void Show(const engine::ProgressView& v);
    void End(engine::EndAction action);
    void OpenLog();

    engine::ProgressModel model_;
    bool closeAllowed_ = false;
    bool ended_ = false;
};

}  // namespace ui
