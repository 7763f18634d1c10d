// The settings page, the start-up password dialogs and the readme editor
// without their windows. Every change is written to the profile at once.
#pragma once

#include <string>

#include "app/globals.h"
#include "ui/encrypt/logic/jiami_logic.h"

namespace ui::logic {

// What the settings page shows when it opens.
struct SettingsView {
    bool jiamiFlag = true;  // 1036; also enables the tip label and edit
    int autoHide = 1;       // 1037, the stored integer as check state
    int readMe = 0;         // 1047
    bool filter = true;     // 1038; also enables the filter edit
    std::wstring tips;
    std::wstring filterText;
    std::wstring passwordButton;  // caption of 1049
};

class PropSet1Logic {
  public:
    static SettingsView Load(const std::wstring& startupPasswordLine);
    // Each returns what the controls it governs should now be (enabled).
    static bool SetJiamiFlag(bool checked);
    static void SetTips(const std::wstring& text);
    static void SetReadMe(int checkState);
    // Writes "AutoHide" and applies it to Explorer's preference at once.
    static void SetAutoHide(int checkState);
    static bool SetFilter(bool checked);
    static void SetFilterText(const std::wstring& text);
    // true: the set dialog; false: the modify dialog.
    static bool OffersSet(const std::wstring& startupPasswordLine) {
        return startupPasswordLine.empty();
    }
};

// One press of a dialog's OK button: what to show and whether to close.
struct DialogStep {
    bool close = false;
    std::wstring message;
    Icon icon = Icon::None;
    int focusId = 0;  // control to focus, 0 for none
};

// "mima.dat" in the working folder.
std::wstring StartupPasswordPath();
// Updates g.StartupPasswordLine, then writes the file; on failure the line
// is cleared and the platform error is in plat::LastError().
[[nodiscard]] bool SaveStartupPassword(app::AppGlobals& g, const std::wstring& password);

// CDlgInputRun's OK; *passed set when the password matched.
DialogStep InputRunOk(const std::wstring& typed, const std::wstring& startupPasswordLine,
                      bool* passed);
// CDlgSetRun's OK; *set when a non-empty password was stored.
DialogStep SetRunOk(app::AppGlobals& g, const std::wstring& password, const std::wstring& repeat,
                    bool* set);
// CDlgModiRun's OK in its modify mode.
DialogStep ModiRunOk(app::AppGlobals& g, const std::wstring& oldPassword,
                     const std::wstring& newPassword, const std::wstring& repeat);

// The readme editor's text: the stored one, or the editor's short default
// when none is stored (an empty stored text stays empty).
std::wstring LoadReadmeText();
// The editor's default, naming the program placed in protected folders.
std::wstring EditorDefaultReadme(const std::wstring& modulePath);
void StoreReadmeText(const std::wstring& text);

}  // namespace ui::logic
