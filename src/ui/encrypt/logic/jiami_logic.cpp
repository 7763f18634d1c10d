#include "ui/encrypt/logic/jiami_logic.h"

#include "app/globals.h"
#include "app/settings_keys.h"
#include "crypto/content_cipher.h"
#include "engine/pass_log.h"
#include "engine/pass_state.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "store/layout.h"
#include "ui/encrypt/logic/encrypt_texts.h"

namespace ui::logic {
namespace {

bool SameFolder(const std::wstring& a, const std::wstring& b) {
    return plat::EqualsNoCase(plat::WithSep(a), plat::WithSep(b));
}

bool Inside(const std::wstring& target, const std::wstring& folder) {
    return plat::FindNoCase(plat::WithSep(target), plat::WithSep(folder)) != std::wstring::npos;
}

// The root of the drive holding the Windows folder ("C:\").
std::wstring SystemDriveRoot(const std::wstring& windowsDir) {
    if (windowsDir.size() >= 3 && windowsDir[1] == L':') return windowsDir.substr(0, 3);
    return plat::DriveRootOf(windowsDir);
}

// A failure the user must see with the system's own words.
std::wstring FailureText(const std::wstring& path, uint32_t error) {
    return path + L"\r\n\r\n" + engine::ErrorCodeText(error);
}

constexpr int kPasswordId = 1003;

const Strength kStrengths[kStrengthCount] = {
    {texts::kStrengthNormal, texts::kStrengthNormalTip, L"type=0", 0, false},
    {texts::kStrengthHighest, texts::kStrengthHighestTip, L"type=2", 2, true},
};

}  // namespace

SystemPlaces SystemPlaces::Current(const std::wstring& windowsDir) {
    SystemPlaces p;
    p.windowsDir = windowsDir;
    p.systemDir = plat::SystemDir();
    p.modulePath = app::Globals().ModulePath;
    p.mapDriver = app::Settings::MapDriver();
    p.siblingExePath = app::Settings::SiblingExePath();
    return p;
}

Emptiness CheckEmpty(const std::wstring& target, const std::wstring& modulePath, uint32_t* error) {
    *error = 0;
    const uint32_t attrs =
        target.empty() ? plat::kInvalidAttributes : plat::Fs().GetAttributes(target);
    if (attrs == plat::kInvalidAttributes) {
        *error = target.empty() ? plat::kErrPathNotFound : plat::LastError();
        if (*error == 0) *error = plat::kErrPathNotFound;
        return Emptiness::Unreadable;
    }
    // A dropped file is no folder to protect.
    if (!(attrs & plat::kAttrDirectory)) return Emptiness::Empty;
    std::vector<plat::DirEntry> entries;
    if (!plat::Fs().ListDir(target, &entries)) {
        *error = plat::LastError();
        return Emptiness::Unreadable;
    }
    for (const auto& e : entries) {
        if (!store::IsNeverMoved(target, e.name, modulePath)) return Emptiness::HasContent;
    }
    return Emptiness::Empty;
}

bool IsMappedImageDrive(const std::wstring& target, const std::wstring& mapDriver) {
    if (target.size() < 2 || mapDriver.empty()) return false;
    return plat::FindNoCase(mapDriver, target.substr(0, 2)) != std::wstring::npos;
}

FolderClass ClassifyFolder(const std::wstring& target, const SystemPlaces& places) {
    const std::wstring& win = places.windowsDir;
    const std::wstring& sys = places.systemDir;
    // The places themselves first: the system folder lies inside the Windows
    // folder, and must be refused, not asked about.
    if (!win.empty() && (SameFolder(target, SystemDriveRoot(win)) || SameFolder(target, win)))
        return FolderClass::System;
    if (!sys.empty() && SameFolder(target, sys)) return FolderClass::System;
    if ((!win.empty() && Inside(target, win)) || (!sys.empty() && Inside(target, sys)))
        return FolderClass::HoldsSystemFiles;
    if (!places.siblingExePath.empty()) {
        const std::wstring siblingFolder = plat::ParentWithSep(places.siblingExePath);
        if (!siblingFolder.empty() && SameFolder(target, siblingFolder))
            return FolderClass::SiblingProduct;
    }
    return FolderClass::Eligible;
}

const Strength& StrengthAt(int index) {
    if (index < 0 || index >= kStrengthCount) index = 0;
    return kStrengths[index];
}

bool CheckFolder(const std::wstring& target, const SystemPlaces& places, StartPrompts& prompts,
                 bool* unhide) {
    *unhide = false;
    app::AppGlobals& g = app::Globals();
    g.StoreDataRel = store::DataRel();
    g.StoreParamRel = store::ParamRel();

    uint32_t error = 0;
    switch (CheckEmpty(target, places.modulePath, &error)) {
        case Emptiness::Empty:
            prompts.Message(texts::kEmptyFolder, Icon::None);
            return false;
        case Emptiness::Unreadable:
            prompts.Message(FailureText(target, error), Icon::Exclamation);
            return false;
        case Emptiness::HasContent:
            break;
    }
    // A second encryption would overwrite the store's records with the new
    // password and leave content the old one protects.
    if (store::IsEncryptedFolder(target, true)) {
        prompts.Message(texts::kAlreadyEncrypted, Icon::None);
        return false;
    }
    if (IsMappedImageDrive(target, places.mapDriver)) {
        prompts.Message(texts::kMappedDrive, Icon::None);
        return false;
    }
    switch (ClassifyFolder(target, places)) {
        case FolderClass::System:
            prompts.Message(texts::kSystemFolder, Icon::None);
            return false;
        case FolderClass::HoldsSystemFiles:
            if (!prompts.AskYesNo(texts::kMayHoldSystemFiles)) return false;
            break;
        case FolderClass::SiblingProduct:
            prompts.Message(texts::kSiblingFolder, Icon::None);
            return false;
        case FolderClass::Eligible:
            break;
    }
    // Drive roots never ask.
    if (target.size() > 3 && plat::WithSep(target) != plat::DriveRootOf(target)) {
        const uint32_t attrs = plat::Fs().GetAttributes(target);
        if (attrs != plat::kInvalidAttributes && (attrs & plat::kAttrHidden)) {
            if (!prompts.AskYesNo(texts::kHiddenFolder)) return false;
            *unhide = true;
        }
    }
    return true;
}

bool CheckPasswords(const std::wstring& password, const std::wstring& confirm, bool contentPass,
                    StartPrompts& prompts) {
    if (password.empty()) {
        prompts.FocusPassword();
        prompts.Message(texts::kEmptyPassword, Icon::Exclamation);
        return false;
    }
    if (password != confirm) {
        prompts.Message(texts::kPasswordsDiffer, Icon::Exclamation);
        return false;
    }
    if (!plat::FitsAnsi(password)) {
        prompts.FocusPassword();
        prompts.Message(texts::kPasswordNotAnsi, Icon::Exclamation);
        return false;
    }
    if (contentPass && !crypto::PasswordFitsTrailer(password)) {
        prompts.FocusPassword();
        prompts.Message(texts::kPasswordTooLongForStrength, Icon::Exclamation);
        return false;
    }
    return true;
}

bool Unhide(const std::wstring& target, StartPrompts& prompts) {
    const uint32_t attrs = plat::Fs().GetAttributes(target);
    if (attrs == plat::kInvalidAttributes || !(attrs & plat::kAttrHidden)) return true;
    const uint32_t keep = attrs & ~(plat::kAttrHidden | plat::kAttrDirectory);
    if (!plat::Fs().SetAttributes(target, keep ? keep : plat::kAttrNormal)) {
        prompts.Message(FailureText(target, plat::LastError()), Icon::Exclamation);
        return false;
    }
    return true;
}

bool RunStartChecks(const std::wstring& target, const std::wstring& password,
                    const std::wstring& confirm, const SystemPlaces& places, StartPrompts& prompts,
                    bool contentPass) {
    bool unhide = false;
    if (!CheckFolder(target, places, prompts, &unhide)) return false;
    if (!CheckPasswords(password, confirm, contentPass, prompts)) return false;
    return !unhide || Unhide(target, prompts);
}

KeyAction KeyDown(unsigned key, bool ctrlDown, int focusId) {
    if (key == kKeyReturn)
        return focusId == kPasswordId ? KeyAction::FocusConfirm : KeyAction::Start;
    if (key == kKeyRight && ctrlDown) return KeyAction::NextStrength;
    return KeyAction::None;
}

int NextStrengthIndex(int current, int count) {
    if (count <= 0) return 0;
    const int next = current + 1;
    return next >= count || next < 0 ? 0 : next;
}

std::wstring InitialTarget(const std::vector<plat::DriveInfo>& drives,
                           const std::wstring& targetFolder, bool launchedWithArguments) {
    if (launchedWithArguments) return targetFolder;
    for (const auto& d : drives) {
        // An empty card-reader slot is no place to encrypt.
        if ((d.type == plat::DriveType::Removable && d.hasMedia) ||
            d.type == plat::DriveType::Remote)
            return d.root;
    }
    return targetFolder;
}

TargetChoice ChooseDropped(const std::vector<std::wstring>& paths) {
    TargetChoice c;
    if (paths.empty()) return c;
    if (paths.size() > 1) c.messages.push_back(texts::kDropCount);
    std::wstring first = paths.front();
    if (first.size() > 512) first.resize(512);
    if (store::IsEncryptedFolder(first, true)) {
        c.messages.push_back(texts::kAlreadyEncrypted);
        return c;
    }
    c.accepted = true;
    c.target = first;
    return c;
}

TargetChoice ChooseFolder(const std::wstring& path) {
    TargetChoice c;
    if (path.empty()) return c;
    if (store::IsEncryptedFolder(path, true)) {
        c.messages.push_back(texts::kAlreadyEncrypted);
        return c;
    }
    c.accepted = true;
    c.target = path;
    return c;
}

std::wstring RelaunchArguments(const std::wstring& folder) {
    return L"," + folder;
}

bool PassEndedClean() {
    const engine::PassState& st = engine::State();
    return st.done && st.moveFailed == 0 && st.strengthSkipped == 0 && st.notOurFormat == 0 &&
           !st.cancelRequested && st.fileOk;
}

bool TakeFirstRun(int firstRunFlag, bool passClean, bool* saved) {
    *saved = true;
    if (firstRunFlag == 0 || !passClean) return false;
    *saved = app::Settings::SetFirst(0);
    return true;
}

std::wstring FirstRunNotice(const std::wstring& modulePath) {
    return texts::WithName(texts::kFirstRunNoticeFormat, store::PlacedProgramName(modulePath));
}

std::wstring FirstRunPageUrl() {
    return std::wstring(L"http://") + app::kWebHost + L"/rlxjm/first.php?ver=" +
           std::to_wstring(app::kVersion);
}

std::wstring DisclaimerUrl() {
    return std::wstring(L"http://") + app::kWebHost + L"/rlxjm/disclaimer.htm";
}

}  // namespace ui::logic
