#include "ui/encrypt/dlg_jiami.h"

#include <shellapi.h>
#include <shlobj.h>

#include "app/globals.h"
#include "app/settings_keys.h"
#include "engine/engine.h"
#include "engine/hide_pass.h"
#include "engine/pass_log.h"
#include "engine/pass_state.h"
#include "engine/strength_pass.h"
#include "platform/env.h"
#include "platform/lock.h"
#include "platform/text.h"
#include "resource.h"
#include "store/layout.h"
#include "ui/decrypt/dlg_list.h"
#include "ui/encrypt/dlg_about.h"
#include "ui/encrypt/dlg_startup_password.h"
#include "ui/encrypt/dlg_zqstatic.h"
#include "ui/encrypt/logic/encrypt_texts.h"
#include "ui/encrypt/prop_set1.h"
#include "ui/encrypt/win_helpers.h"

namespace ui {
namespace {

enum MoreMenuId : UINT {
    kMenuEncryptOther = 40001,
    kMenuDecryptOther,
    kMenuOptions,
    kMenuHelp,
    kMenuAbout,
};

}  // namespace

CDlgJiaMi::CDlgJiaMi(HWND owner) : Dialog(IDD_JIAMI, owner) {}

BOOL CDlgJiaMi::OnInitDialog() {
    app::AppGlobals& g = app::Globals();
    moreLink_.Attach(Item(IDC_JIAMI_MORE));
    chooseLink_.Attach(Item(IDC_JIAMI_CHOOSE));
    DragAcceptFiles(hwnd(), TRUE);

    m_strTarget = logic::InitialTarget(plat::LogicalDrives(), g.TargetFolder,
                                       g.LaunchedWithArguments || g.TargetChosen);
    SetTarget(m_strTarget);

    if (!g.LaunchedWithArguments) g.MailAddress = app::Settings::MailAddress();
    m_strMail = g.MailAddress;
    m_bFirstRun = app::Settings::First();

    CheckRadioButton(hwnd(), IDC_JIAMI_CURRENT_FOLDER, IDC_JIAMI_OTHER_FOLDER,
                     IDC_JIAMI_CURRENT_FOLDER);
    strength_.Attach(Item(IDC_JIAMI_STRENGTH));
    std::vector<std::wstring> names, tips;
    for (int i = 0; i < logic::kStrengthCount; ++i) {
        names.push_back(logic::StrengthAt(i).name);
        tips.push_back(logic::StrengthAt(i).tip);
    }
    strength_.SetItems(names, tips);
    strength_.SetCurSel(0);

    if (g.LaunchedWithArguments) {
        // The caller named folder and password: encrypt at once, unseen.
        m_bAutoRun = true;
        SetItemText(IDC_JIAMI_PASSWORD, g.PresetPassword);
        SetItemText(IDC_JIAMI_CONFIRM, g.PresetPassword);
        plat::Wipe(g.PresetPassword);
        OnEncrypt();
        return TRUE;
    }
    m_bAutoRun = false;
    if (!g.StartupPasswordLine.empty() && !CheckStartupPassword(hwnd())) {
        // Ended before it was ever shown.
        EndDialog(IDCANCEL);
        PostQuitMessage(0);
        return TRUE;
    }
    SetFocus(Item(IDC_JIAMI_PASSWORD));
    return FALSE;
}

void CDlgJiaMi::SetTarget(const std::wstring& target) {
    m_strTarget = target;
    app::Globals().TargetFolder = target;
    SetItemText(IDC_JIAMI_TARGET, target);
}

void CDlgJiaMi::ShowMessages(const std::vector<std::wstring>& messages) {
    for (const auto& m : messages) MessageBoxApp(hwnd(), m);
}

void CDlgJiaMi::OnEncrypt() {
    std::wstring password = ItemText(IDC_JIAMI_PASSWORD);
    std::wstring confirm = ItemText(IDC_JIAMI_CONFIRM);
    WindowPrompts prompts(hwnd(), IDC_JIAMI_PASSWORD);
    const logic::Strength& strength = logic::StrengthAt(strength_.GetCurSel());
    const bool go = logic::RunStartChecks(m_strTarget, password, confirm,
                                          logic::SystemPlaces::Current(WindowsDir()), prompts,
                                          strength.contentPass);
    plat::Wipe(confirm);
    if (!go) {
        plat::Wipe(password);
        // Nobody could correct an unseen window: the refused automatic run ends.
        if (m_bAutoRun) EndDialog(IDCANCEL);
        return;
    }
    const bool started = RunPass(strength, password);
    plat::Wipe(password);
    if (!started) {
        if (m_bAutoRun) EndDialog(IDCANCEL);
        return;
    }
    // A pass that failed, was cancelled or left files unencrypted showed its
    // log; "加密成功" would contradict it.
    bool saved = true;
    if (logic::TakeFirstRun(m_bFirstRun, logic::PassEndedClean(), &saved)) {
        (void)OpenWebPage(logic::FirstRunPageUrl());
        MessageBoxApp(hwnd(), logic::FirstRunNotice(app::Globals().ModulePath));
        if (!saved) MessageBoxApp(hwnd(), texts::kFirstRunNotSaved, MB_ICONEXCLAMATION);
    }
    EndDialog(IDOK);
}

bool CDlgJiaMi::RunPass(const logic::Strength& strength, const std::wstring& password) {
    // One pass per folder: held until the pass objects below are gone.
    uint32_t lockError = 0;
    std::unique_ptr<plat::FolderLock> lock = plat::TryLockFolder(m_strTarget, &lockError);
    if (!lock && lockError == plat::kErrSharingViolation) {
        MessageBoxApp(hwnd(), texts::kFolderBusy, MB_ICONEXCLAMATION);
        return false;
    }
    WinPassUi passUi;
    (void)engine::Recover(m_strTarget, app::Globals().ModulePath, passUi);
    engine::PassState& st = engine::State();
    engine::SetOperationType(engine::kOpEncrypt);
    st.kind = strength.displayKind;
    st.Reset();
    uint32_t error = 0;
    // Both passes start alike. The pass objects outlive their progress
    // window; their destructors wait for a worker the user left running.
    auto runPass = [&](auto& pass, auto& job, auto start) {
        job.root = m_strTarget;
        job.password = password;
        job.mail = m_strMail;
        job.kindText = strength.kindText;
        const bool ok = start(pass, job);
        error = plat::LastError();
        plat::Wipe(job.password);
        if (ok) {
            if (!m_strSecondPassword.empty())
                (void)store::WriteSecondPassword(m_strTarget, m_strSecondPassword);
            CDlgZQStatic progress(hwnd());
            progress.DoModal();
        }
        return ok;
    };
    bool started = false;
    if (strength.contentPass) {
        engine::CCryptAndDe_old pass(passUi);
        engine::StrengthJob job;
        job.jobMode = 0;
        started = runPass(pass, job, [](auto& p, const auto& j) { return p.StartEncryption(j); });
    } else {
        engine::CJiaMiWeiZhuang pass(passUi);
        engine::HideJob job;
        job.mode = 0;
        started = runPass(pass, job, [](auto& p, const auto& j) { return p.StartThread(j); });
    }
    if (!started) {
        // The engine logged the reason; the user gets it with the system's words.
        std::wstring text = L"建立基本目录失败。\r\n\r\n" + m_strTarget;
        if (error) text += L"\r\n\r\n" + engine::ErrorCodeText(error);
        MessageBoxApp(hwnd(), text, MB_ICONEXCLAMATION);
    }
    return started;
}

bool CDlgJiaMi::OnCommand(int id, int code, HWND control) {
    switch (id) {
        case IDC_JIAMI_START:
            OnEncrypt();
            return true;
        case IDC_JIAMI_CANCEL:
            OnCancel();
            return true;
        case IDC_JIAMI_MORE:
            if (code == STN_CLICKED) OnMoreMenu();
            return true;
        case IDC_JIAMI_CHOOSE:
            if (code == STN_CLICKED) OnChooseFolder();
            return true;
        case IDC_JIAMI_DECRYPT_OTHER:
            OnDecryptOther();
            return true;
        case IDC_JIAMI_CURRENT_FOLDER:
            if (code == BN_CLICKED) SetTarget(app::Globals().ModuleFolder);
            return true;
        case IDC_JIAMI_OTHER_FOLDER:
            return true;
        case IDOK:
            // Enter is handled in PreTranslateMessage; the dialog manager's
            // default action must not close the window.
            return true;
        default:
            return Dialog::OnCommand(id, code, control);
    }
}

bool CDlgJiaMi::PreTranslateMessage(MSG* msg) {
    if (msg->message != WM_KEYDOWN) return false;
    if (msg->hwnd != hwnd() && !IsChild(hwnd(), msg->hwnd)) return false;
    HWND focus = GetFocus();
    const int focusId = focus && IsChild(hwnd(), focus) ? GetDlgCtrlID(focus) : 0;
    const bool ctrl = GetKeyState(VK_CONTROL) < 0;
    switch (logic::KeyDown(static_cast<unsigned>(msg->wParam), ctrl, focusId)) {
        case logic::KeyAction::FocusConfirm:
            SetFocus(Item(IDC_JIAMI_CONFIRM));
            return true;
        case logic::KeyAction::Start:
            OnEncrypt();
            return true;
        case logic::KeyAction::NextStrength:
            NextStrength();
            return true;
        case logic::KeyAction::None:
            break;
    }
    return false;
}

void CDlgJiaMi::NextStrength() {
    strength_.SetCurSel(logic::NextStrengthIndex(strength_.GetCurSel()));
    // Put the pointer on the list so its tooltip tells what was chosen.
    RECT r = {};
    GetWindowRect(strength_.hwnd(), &r);
    SetCursorPos(r.right - 28, (r.top + r.bottom) / 2);
}

void CDlgJiaMi::OnChooseFolder() {
    const logic::TargetChoice c = logic::ChooseFolder(BrowseForFolder(hwnd(), texts::kChooseTitle));
    ShowMessages(c.messages);
    if (c.accepted) SetTarget(c.target);
}

void CDlgJiaMi::OnDropFiles(HDROP drop) {
    std::vector<std::wstring> paths;
    const UINT n = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < n; ++i) {
        const UINT len = DragQueryFileW(drop, i, nullptr, 0);
        std::wstring p(static_cast<size_t>(len) + 1, L'\0');
        p.resize(DragQueryFileW(drop, i, p.data(), len + 1));
        paths.push_back(p);
    }
    DragFinish(drop);
    const logic::TargetChoice c = logic::ChooseDropped(paths);
    ShowMessages(c.messages);
    if (c.accepted) SetTarget(c.target);
}

void CDlgJiaMi::OnDecryptOther() {
    // The list starts the program on the folder chosen there; this window
    // then ends with the process.
    if (RunDecryptOtherDialog(hwnd())) EndDialog(IDCANCEL);
}

void CDlgJiaMi::OnMoreMenu() {
    HMENU menu = CreatePopupMenu();
    if (!menu) return;
    AppendMenuW(menu, MF_STRING, kMenuEncryptOther, texts::kMenuEncryptOther);
    AppendMenuW(menu, MF_STRING, kMenuDecryptOther, texts::kMenuDecryptOther);
    AppendMenuW(menu, MF_STRING, kMenuOptions, texts::kMenuOptions);
    AppendMenuW(menu, MF_STRING, kMenuHelp, texts::kMenuHelp);
    AppendMenuW(menu, MF_STRING, kMenuAbout, texts::kMenuAbout);
    RECT r = {};
    GetWindowRect(Item(IDC_JIAMI_MORE), &r);
    const UINT cmd = static_cast<UINT>(
        TrackPopupMenu(menu, TPM_RETURNCMD | TPM_LEFTALIGN | TPM_TOPALIGN | TPM_NONOTIFY, r.left,
                       r.bottom, 0, hwnd(), nullptr));
    DestroyMenu(menu);
    switch (cmd) {
        case kMenuEncryptOther:
            OnChooseFolder();
            break;
        case kMenuDecryptOther:
            OnDecryptOther();
            break;
        case kMenuOptions:
            OnOptions();
            break;
        case kMenuHelp:
            MessageBoxApp(hwnd(), texts::kHelp);
            break;
        case kMenuAbout:
            OnAbout();
            break;
        default:
            break;
    }
}

void CDlgJiaMi::OnOptions() {
    RunSettingsSheet(hwnd());
}

void CDlgJiaMi::OnAbout() {
    CAboutDlg about(hwnd());
    about.DoModal();
}

INT_PTR CDlgJiaMi::OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) {
    if (msg == WM_DROPFILES) {
        *handled = true;
        OnDropFiles(reinterpret_cast<HDROP>(wp));
        return 0;
    }
    if (msg == WM_CTLCOLORSTATIC) {
        HDC dc = reinterpret_cast<HDC>(wp);
        HWND ctl = reinterpret_cast<HWND>(lp);
        INT_PTR r = 0;
        *handled = WhiteBackground(msg, wp, &r);
        (void)(moreLink_.OnCtlColor(dc, ctl) || chooseLink_.OnCtlColor(dc, ctl));
        return r;
    }
    INT_PTR r = 0;
    *handled = WhiteBackground(msg, wp, &r);
    return r;
}

}  // namespace ui
