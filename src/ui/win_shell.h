// The Windows side of start-up: real windows and message boxes.
#pragma once

#include "app/shell.h"

namespace ui {

class WinShell final : public app::Shell {
  public:
    ~WinShell() override;
    bool InitUi() override;
    void ShowMessage(const std::wstring& text) override;
    void RunEncryptWindow() override;
    void RunDecryptWindow() override;
    void StartUpdateCheck() override;
    int ExitCode() const override { return exitCode_; }

  private:
    bool oleStarted_ = false;
    int exitCode_ = 0;
};

}  // namespace ui
