// What start-up needs from the user interface. The Windows program implements
// it with real windows; tests and the command line implement it without.
#pragma once

#include <string>

namespace app {

class Shell {
  public:
    virtual ~Shell() = default;
    // Initialises the common controls, rich edit and OLE; false when OLE fails.
    virtual bool InitUi() = 0;
    // A modal message box titled "岚栩只读加密" with an OK button.
    virtual void ShowMessage(const std::wstring& text) = 0;
    // Runs the encrypt / decrypt window modally; returns when it has closed.
    virtual void RunEncryptWindow() = 0;
    virtual void RunDecryptWindow() = 0;
    // Starts the background self-update check; must not block.
    virtual void StartUpdateCheck() {}
    // The process's exit code once the main window has closed: non-zero
    // when its work ended with something left undone.
    virtual int ExitCode() const { return 0; }
};

}  // namespace app
