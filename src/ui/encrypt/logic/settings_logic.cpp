#include "ui/encrypt/logic/settings_logic.h"

#include "app/settings_keys.h"
#include "app/startup.h"
#include "engine/pass_log.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "store/layout.h"
#include "ui/encrypt/logic/encrypt_texts.h"

namespace ui::logic {
namespace {

using app::ProfileKeys;

plat::Settings& Profile() {
    return app::Settings::Profile();
}

// The dialogs' ids of the fields a message points at.
constexpr int kOldPasswordId = 1003;
constexpr int kNewPasswordId = 1004;
constexpr int kRepeatId = 1005;

std::wstring WithSystemReason(const std::wstring& text, uint32_t error) {
    return text + L"\r\n\r\n" + engine::ErrorCodeText(error);
}

}  // namespace

SettingsView PropSet1Logic::Load(const std::wstring& startupPasswordLine) {
    SettingsView v;
    v.jiamiFlag = app::Settings::JiamiFlag() == 1;
    v.autoHide = app::Settings::AutoHide();
    v.readMe = app::Settings::ReadMeFlag();
    v.filter = app::Settings::Filter() == 1;
    v.tips = app::Settings::Tips();
    v.filterText = app::Settings::FilterText();
    v.passwordButton =
        OffersSet(startupPasswordLine) ? texts::kSetStartupPassword : texts::kModifyStartupPassword;
    return v;
}

bool PropSet1Logic::SetJiamiFlag(bool checked) {
    (void)Profile().WriteProfileInt(L"", ProfileKeys::JiamiFlag, checked ? 1 : 0);
    return checked;
}

void PropSet1Logic::SetTips(const std::wstring& text) {
    (void)Profile().WriteProfileString(L"", ProfileKeys::Tips, text);
}

void PropSet1Logic::SetReadMe(int checkState) {
    (void)Profile().WriteProfileInt(L"", ProfileKeys::ReadMeFlag, checkState);
}

void PropSet1Logic::SetAutoHide(int checkState) {
    (void)Profile().WriteProfileInt(L"", ProfileKeys::AutoHide, checkState);
    (void)app::ApplyHiddenFilesSetting(checkState);
}

bool PropSet1Logic::SetFilter(bool checked) {
    (void)Profile().WriteProfileInt(L"", ProfileKeys::Filter, checked ? 1 : 0);
    return checked;
}

void PropSet1Logic::SetFilterText(const std::wstring& text) {
    (void)Profile().WriteProfileString(L"", ProfileKeys::FilterText, text);
}

std::wstring StartupPasswordPath() {
    return plat::JoinPath(plat::CurrentDir(), app::kStartupPasswordFile);
}

bool SaveStartupPassword(app::AppGlobals& g, const std::wstring& password) {
    g.StartupPasswordLine = password;
    if (store::WriteTextFile(StartupPasswordPath(), password)) return true;
    const uint32_t error = plat::LastError();
    g.StartupPasswordLine.clear();
    plat::SetLastError(error);
    return false;
}

DialogStep InputRunOk(const std::wstring& typed, const std::wstring& startupPasswordLine,
                      bool* passed) {
    *passed = false;
    DialogStep s;
    if (typed.empty()) {
        s.message = texts::kEnterStartupPassword;
    } else if (typed != startupPasswordLine) {
        s.message = texts::kWrongStartupPassword;
    } else {
        *passed = true;
        s.close = true;
    }
    return s;
}

DialogStep SetRunOk(app::AppGlobals& g, const std::wstring& password, const std::wstring& repeat,
                    bool* set) {
    *set = false;
    DialogStep s;
    if (!g.StartupPasswordLine.empty()) {
        s.message = texts::kAlreadySet;
        s.close = true;
        return s;
    }
    if (password != repeat) {
        s.message = texts::kRepeatDiffers;
        s.icon = Icon::Exclamation;
        return s;
    }
    // "mima.dat" is ANSI text: a lost character would lock the user out.
    if (!plat::FitsAnsi(password)) {
        s.message = texts::kStartupPasswordNotAnsi;
        s.icon = Icon::Exclamation;
        return s;
    }
    s.close = true;
    if (!SaveStartupPassword(g, password)) {
        s.message = WithSystemReason(texts::kSetFailed, plat::LastError());
        s.icon = Icon::Exclamation;
    } else if (!password.empty()) {
        *set = true;
        s.message = texts::kSetSaved;
    } else {
        s.message = texts::kCancelled;
    }
    return s;
}

DialogStep ModiRunOk(app::AppGlobals& g, const std::wstring& oldPassword,
                     const std::wstring& newPassword, const std::wstring& repeat) {
    DialogStep s;
    if (oldPassword.empty()) {
        s.message = texts::kEnterOldPassword;
        s.icon = Icon::Exclamation;
        s.focusId = kOldPasswordId;
        return s;
    }
    if (oldPassword != g.StartupPasswordLine) {
        s.message = texts::kWrongOldPassword;
        return s;
    }
    if (newPassword != repeat) {
        s.message = texts::kRepeatDiffers;
        s.icon = Icon::Exclamation;
        s.focusId = kRepeatId;
        return s;
    }
    if (!plat::FitsAnsi(newPassword)) {
        s.message = texts::kStartupPasswordNotAnsi;
        s.icon = Icon::Exclamation;
        s.focusId = kNewPasswordId;
        return s;
    }
    s.close = true;
    if (!SaveStartupPassword(g, newPassword)) {
        s.message = WithSystemReason(texts::kModifyFailed, plat::LastError());
        s.icon = Icon::Exclamation;
    } else {
        s.message = newPassword.empty() ? texts::kCancelled : texts::kModifySaved;
    }
    return s;
}

std::wstring EditorDefaultReadme(const std::wstring& modulePath) {
    return texts::WithName(texts::kEditorDefaultReadmeFormat, store::PlacedProgramName(modulePath));
}

std::wstring LoadReadmeText() {
    return app::Settings::HasReadmeText() ? app::Settings::ReadmeText(L"")
                                          : EditorDefaultReadme(app::Globals().ModulePath);
}

void StoreReadmeText(const std::wstring& text) {
    (void)Profile().WriteProfileString(L"", ProfileKeys::ReadmeText, text);
}

}  // namespace ui::logic
