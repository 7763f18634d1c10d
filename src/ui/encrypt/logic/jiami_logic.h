// What the encrypt window decides, without the window: the starting target,
// the start sequence with its checks in order, the keyboard rules, dropped
// and chosen folders, the strength list and the first-run bookkeeping. The
// window reads its controls, calls these and shows what they return.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/env.h"

namespace ui::logic {

enum class Icon { None, Exclamation, Question, Info };

// The window side of the start sequence: message boxes and focus.
class StartPrompts {
  public:
    virtual ~StartPrompts() = default;
    virtual void Message(const std::wstring& text, Icon icon) = 0;
    // A Yes/No question; true for Yes.
    virtual bool AskYesNo(const std::wstring& text) = 0;
    // Puts the focus into the first password box.
    virtual void FocusPassword() = 0;
};

// What the checks compare the target with.
struct SystemPlaces {
    std::wstring windowsDir;      // the Windows folder
    std::wstring systemDir;       // the system folder
    std::wstring modulePath;      // the running program, never counted as content
    std::wstring mapDriver;       // profile "MapDriver": drives image decryption mapped
    std::wstring siblingExePath;  // win.ini "岚栩加密" / "exepath"

    // The places of this computer and the current settings.
    static SystemPlaces Current(const std::wstring& windowsDir);
};

// ClassifyFolder results.
enum class FolderClass : int {
    System = 0,            // the system drive root, the Windows or the system folder
    Eligible = 1,          //
    HoldsSystemFiles = 2,  // inside the Windows or the system folder
    SiblingProduct = 3,    // the sibling product's own folder
};

enum class Emptiness { HasContent, Empty, Unreadable };

// Lists `target`; what an encryption never moves (reserved names, the
// running program, its start-up password file) is no content. A file (not
// a folder) counts as empty; a missing or unreadable folder gives
// Unreadable with the platform error in *error.
Emptiness CheckEmpty(const std::wstring& target, const std::wstring& modulePath, uint32_t* error);
bool IsMappedImageDrive(const std::wstring& target, const std::wstring& mapDriver);
FolderClass ClassifyFolder(const std::wstring& target, const SystemPlaces& places);

// The strength entries of the list, in list order.
struct Strength {
    const wchar_t* name;
    const wchar_t* tip;
    const wchar_t* kindText;  // what the store records as its kind
    int displayKind;          // the progress window's kind
    bool contentPass;         // the strength encryption pass runs after the hide pass
};
inline constexpr int kStrengthCount = 2;
const Strength& StrengthAt(int index);

// The checks of the folder, in order: empty, already encrypted, mapped
// image drive, system folder (refused or asked), the sibling product's
// folder, hidden (asked; *unhide set when the answer was Yes). Shows the
// first failing check's message; true when the folder may be encrypted.
// Changes nothing on disk.
[[nodiscard]] bool CheckFolder(const std::wstring& target, const SystemPlaces& places,
                               StartPrompts& prompts, bool* unhide);
// The checks of the password: not empty, confirmed, held by the ANSI code
// page the records use and, for a strength with a content pass, by the
// file trailer.
[[nodiscard]] bool CheckPasswords(const std::wstring& password, const std::wstring& confirm,
                                  bool contentPass, StartPrompts& prompts);
// Clears the HIDDEN mark of a target the user agreed to unhide.
[[nodiscard]] bool Unhide(const std::wstring& target, StartPrompts& prompts);

// The start sequence: CheckFolder, CheckPasswords, then the unhiding; true
// when the pass may start. A hidden target is only unhidden once every
// check has passed, so a refused start changes nothing.
[[nodiscard]] bool RunStartChecks(const std::wstring& target, const std::wstring& password,
                                  const std::wstring& confirm, const SystemPlaces& places,
                                  StartPrompts& prompts, bool contentPass = false);

// Keyboard rules of the window (key-down messages only).
enum class KeyAction { None, FocusConfirm, Start, NextStrength };
inline constexpr unsigned kKeyReturn = 0x0D;  // VK_RETURN
inline constexpr unsigned kKeyRight = 0x27;   // VK_RIGHT
KeyAction KeyDown(unsigned key, bool ctrlDown, int focusId);
int NextStrengthIndex(int current, int count = kStrengthCount);

// The folder the window opens on: the first removable (with a medium in it)
// or network drive when there is one, else `targetFolder`. A folder named by the launch arguments
// is kept whatever drives are present.
std::wstring InitialTarget(const std::vector<plat::DriveInfo>& drives,
                           const std::wstring& targetFolder, bool launchedWithArguments);

// A folder the user dropped or picked: the new target, or the messages that
// explain why the target stays.
struct TargetChoice {
    bool accepted = false;
    std::wstring target;
    std::vector<std::wstring> messages;
};
TargetChoice ChooseDropped(const std::vector<std::wstring>& paths);
TargetChoice ChooseFolder(const std::wstring& path);

// The argument text that relaunches the program on another folder.
std::wstring RelaunchArguments(const std::wstring& folder);

// Whether a pass ended with nothing failed, skipped or cancelled.
bool PassEndedClean();
// First run: true (and "First" written as "0") when this start is the first
// and its pass ended clean; *saved tells whether "0" could be written.
bool TakeFirstRun(int firstRunFlag, bool passClean, bool* saved);
// The first-run notice, naming the program placed in the folder.
std::wstring FirstRunNotice(const std::wstring& modulePath);
std::wstring FirstRunPageUrl();
std::wstring DisclaimerUrl();

}  // namespace ui::logic
