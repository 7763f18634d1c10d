#include "ui/decrypt/dlg_jiemi.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <thread>

#include "app/globals.h"
#include "crypto/records.h"
#include "engine/pass_state.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "resource.h"
#include "store/layout.h"
#include "ui/browse/dlg_brows.h"
#include "ui/decrypt/dlg_list.h"
#include "ui/decrypt/dlg_tempstatic.h"
#include "ui/decrypt/dlg_waiting.h"
#include "ui/decrypt/logic/decrypt_texts.h"
#include "ui/encrypt/dlg_zqstatic.h"
#include "ui/encrypt/logic/encrypt_texts.h"
#include "ui/encrypt/win_helpers.h"

namespace ui {
namespace {

constexpr UINT_PTR kTimerWait = 1;    // the mapped drive has not appeared yet
constexpr UINT_PTR kTimerSearch = 6;  // looking for the drive's window
constexpr UINT_PTR kTimerClose = 8;   // watching the drive's window
constexpr UINT kWaitMs = 288, kSearchMs = 888, kCloseMs = 1888;
constexpr UINT kShowLeftovers = WM_APP + 1;

int RadioOf(int mode) {
    switch (mode) {
        case logic::kModeImage:
            return IDC_JIEMI_MODE_IMAGE;
        case logic::kModeFull:
            return IDC_JIEMI_MODE_FULL;
        default:
            return IDC_JIEMI_MODE_BROWSE;
    }
}

bool FolderIsFree(const std::wstring& folder) {
    return plat::TryLockFolder(folder, nullptr) != nullptr;
}

// The shown top-level window titled exactly `title`: a window the shell
// keeps hidden under the same title (while it ends, or before it shows) is
// not the one the user works in.
HWND FindShownWindow(const std::wstring& title) {
    for (HWND h = FindWindowExW(nullptr, nullptr, nullptr, title.c_str()); h;
         h = FindWindowExW(nullptr, h, nullptr, title.c_str()))
        if (IsWindowVisible(h)) return h;
    return nullptr;
}

// The drive's window is in use while it is there and shown.
bool WindowInUse(HWND w) {
    return w && IsWindow(w) && IsWindowVisible(w);
}

std::wstring ProtectedFolder() {
    return plat::WithoutSep(app::Globals().ModuleFolder);
}

}  // namespace

ImageWatch& Watch() {
    static ImageWatch w;
    return w;
}

CDlgJieMi::CDlgJieMi(HWND owner) : Dialog(IDD_JIEMI, owner) {}

CDlgJieMi::~CDlgJieMi() {
    drive_.reset();
    if (white_) DeleteObject(white_);
}

BOOL CDlgJieMi::OnInitDialog() {
    app::AppGlobals& g = app::Globals();
    moreLink_.Attach(Item(IDC_JIEMI_MORE));

    // Letters a killed image use left behind, before this run holds its folder.
    (void)logic::ReleaseStaleDrives(logic::OsDriveTable(), &FolderIsFree);

    // One run per folder while this window lives: image use keeps the store
    // decrypted until the drive's window closes.
    uint32_t lockError = 0;
    lock_ = plat::TryLockFolder(ProtectedFolder(), &lockError);
    if (!lock_ && lockError == plat::kErrSharingViolation) {
        MessageBoxApp(hwnd(), texts::kFolderBusy, MB_ICONEXCLAMATION);
        EndDialog(IDCANCEL);
        return TRUE;
    }
    WinPassUi passUi;
    const engine::RecoveryReport report = engine::Recover(ProtectedFolder(), g.ModulePath, passUi);
    leftovers_ = report.pendingStrength;
    leftoversOfImage_ = report.imageOpen;
    leftoverKind_ = report.pendingStrengthKind == 1 ? crypto::kKindHigher : crypto::kKindHighest;

    tip_ = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd(), nullptr,
                           GetModuleHandleW(nullptr), nullptr);
    if (tip_) {
        SendMessageW(tip_, TTM_SETMAXTIPWIDTH, 0, 268);
        auto addTip = [this](int id, const wchar_t* text) {
            TOOLINFOW ti = {};
            ti.cbSize = sizeof(ti);
            ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
            ti.hwnd = hwnd();
            ti.uId = reinterpret_cast<UINT_PTR>(Item(id));
            ti.lpszText = const_cast<wchar_t*>(text);
            SendMessageW(tip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
        };
        addTip(IDC_JIEMI_MODE_IMAGE, texts::kTipImage);
        addTip(IDC_JIEMI_MODE_BROWSE, texts::kTipBrowse);
        addTip(IDC_JIEMI_MODE_FULL, texts::kTipFull);
        SendMessageW(tip_, TTM_ACTIVATE, TRUE, 0);
    }

    crypto::StoreRecords records = crypto::ReadStoreRecords(g.StoreParamDir, g.LegacyStore);
    m_nOperation = logic::StartDecryptMode(records.kindLine);
    const int storeKind = records.kind;
    records.Wipe();
    m_nCrashMark = engine::CCryptAndDe_old::ReadCrashMarker();
    SetMode(m_nOperation, false);
    SetItemText(IDC_JIEMI_FOLDER, g.ModuleFolder);

    if (logic::RecoverWorkingCopies(g.StoreDataDir) > 0 && storeKind != crypto::kKindNormal &&
        report.ok()) {
        // Working copies are plain: back in a strength store they wait for
        // the password like what an image use left.
        engine::PassJournal journal(ProtectedFolder());
        journal.SetPass(engine::JournalPass::PendingStrength,
                        storeKind == crypto::kKindHigher ? 1 : 2);
        if (journal.Write({})) {
            leftovers_ = true;
            leftoverKind_ = storeKind;
        }
    }

    SetItemText(IDC_JIEMI_PASSWORD_LABEL, texts::kPasswordLabel);
    SetItemText(IDC_JIEMI_STATUS, !leftovers_         ? texts::kStatusEnterPassword
                                  : leftoversOfImage_ ? texts::kImageLeftoversStatus
                                                      : texts::kPlainLeftoversStatus);
    SendDlgItemMessageW(hwnd(), IDC_JIEMI_PASSWORD, EM_SETPASSWORDCHAR, L'*', 0);
    SetFocus(Item(IDC_JIEMI_PASSWORD));
    if (leftovers_) PostMessageW(hwnd(), kShowLeftovers, 0, 0);
    return FALSE;
}

void CDlgJieMi::ShowLeftoversNotice() {
    MessageBoxApp(hwnd(), leftoversOfImage_ ? texts::kImageLeftovers : texts::kPlainLeftovers,
                  MB_ICONEXCLAMATION);
}

void CDlgJieMi::SetMode(int mode, bool remember) {
    m_nOperation = mode;
    engine::SetOperationType(mode);
    CheckRadioButton(hwnd(), IDC_JIEMI_MODE_IMAGE, IDC_JIEMI_MODE_BROWSE, RadioOf(mode));
    if (remember) (void)logic::RememberDecryptMode(mode);
}

void CDlgJieMi::CycleMode() {
    const int mode = logic::NextDecryptMode(m_nOperation);
    SetMode(mode, true);
    // The pointer goes onto the radio so its tip tells what was chosen.
    RECT r = {};
    GetWindowRect(Item(RadioOf(mode)), &r);
    SetCursorPos(r.left + 18, r.top + 8);
}

bool CDlgJieMi::PreTranslateMessage(MSG* msg) {
    if (msg->message != WM_KEYDOWN) return false;
    if (msg->hwnd != hwnd() && !IsChild(hwnd(), msg->hwnd)) return false;
    switch (
        logic::DecryptWindowKey(static_cast<unsigned>(msg->wParam), GetKeyState(VK_CONTROL) < 0)) {
        case logic::JieMiKey::Decrypt:
            OnDecrypt();
            return true;
        case logic::JieMiKey::CycleMode:
            CycleMode();
            return true;
        case logic::JieMiKey::None:
            break;
    }
    return false;
}

bool CDlgJieMi::OnCommand(int id, int code, HWND control) {
    switch (id) {
        case IDC_JIEMI_START:
            OnDecrypt();
            return true;
        case IDC_JIEMI_CANCEL:
            OnCancel();
            return true;
        case IDC_JIEMI_MODE_IMAGE:
        case IDC_JIEMI_MODE_BROWSE:
        case IDC_JIEMI_MODE_FULL:
            if (code == BN_CLICKED)
                SetMode(id == IDC_JIEMI_MODE_IMAGE  ? logic::kModeImage
                        : id == IDC_JIEMI_MODE_FULL ? logic::kModeFull
                                                    : logic::kModeBrowse,
                        true);
            return true;
        case IDC_JIEMI_MORE:
            if (code == STN_CLICKED) OnMoreMenu();
            return true;
        case IDOK:
            return true;  // Enter is handled in PreTranslateMessage
        default:
            return Dialog::OnCommand(id, code, control);
    }
}

void CDlgJieMi::OnDecrypt() {
    m_strPassword = ItemText(IDC_JIEMI_PASSWORD);
    if (logic::IsNetworkFolder(app::Globals().ModuleFolder) && m_nOperation != logic::kModeImage) {
        MessageBoxApp(hwnd(), texts::kNetworkFolder, MB_ICONEXCLAMATION);
        return;
    }
    const bool opened = VerifyAndOpen();
    if (!opened) return;
    // Read after the check: the secondary password always browses.
    const int mode = m_nOperation;
    if (mode == logic::kModeFull) {
        EndDialog(passComplete_ ? IDOK : kIncomplete);
        return;
    }
    if (mode != logic::kModeImage) return;
    Watch().encryptNow = false;
    Watch().autoEncryptStarted = false;
    {
        CDlgTempStatic watch(hwnd(), CDlgTempStatic::kWatch, true);
        watch.DoModal();
    }
    FinishImageUse();
}

bool CDlgJieMi::VerifyAndOpen() {
    app::AppGlobals& g = app::Globals();
    logic::Verification v = logic::VerifyPassword(g.StoreParamDir, g.LegacyStore, m_strPassword);
    if (v.verdict == logic::Verdict::Wrong) {
        MessageBoxApp(hwnd(), v.message, MB_ICONEXCLAMATION);
        return false;
    }
    const bool openOnly = v.verdict == logic::Verdict::OpenOnly;
    // The open-only window's lock takes the password that opened it.
    g.PresetPassword = openOnly ? m_strPassword : v.password;
    plat::Wipe(v.password);
    if (leftovers_ && v.kind != crypto::kKindNormal) {
        // What an earlier image use left plain is encrypted before anything else.
        if (!ReEncrypt(v.kind, true)) {
            MessageBoxApp(hwnd(), texts::kReEncryptIncomplete, MB_ICONEXCLAMATION);
            return false;
        }
        leftovers_ = false;
        SetItemText(IDC_JIEMI_STATUS, texts::kStatusEnterPassword);
    }
    // The secondary password opens the browse window in its open-only form.
    if (openOnly) m_nOperation = logic::kModeBrowse;
    switch (m_nOperation) {
        case logic::kModeImage:
            return RunImage(v);
        case logic::kModeFull:
            return RunFull(v);
        default:
            // The program ends with the browse window.
            ShowWindow(hwnd(), SW_HIDE);
            // Copies left plain: made safe only in part.
            EndDialog(RunBrowseWindow(hwnd(), openOnly) ? IDOK : kIncomplete);
            return true;
    }
}

engine::PassSummary CDlgJieMi::RunPass(const std::function<engine::PassSummary()>& pass,
                                       bool watchProgress) {
    engine::State().Reset();
    engine::PassSummary summary;
    std::thread worker([&] {
        try {
            summary = pass();
        } catch (...) {
        }
        engine::State().done = true;
    });
    if (watchProgress) {
        CDlgTempStatic progress(hwnd(), CDlgTempStatic::kProgress, true);
        progress.DoModal();
    } else {
        CDlgZQStatic progress(hwnd());
        progress.DoModal();
    }
    worker.join();
    return summary;
}

bool CDlgJieMi::ReEncrypt(int kind, bool progressWatch) {
    const std::wstring folder = ProtectedFolder();
    const std::wstring password = app::Globals().PresetPassword;
    engine::State().kind =
        kind == crypto::kKindHigher ? engine::kKindHigherEncrypt : engine::kKindHighestEncrypt;
    engine::SetOperationType(engine::kOpImageDecrypt);
    WinPassUi ui;
    const engine::PassSummary s =
        RunPass([&] { return engine::ReEncryptAfterImage(folder, password, ui); }, progressWatch);
    return s.ok();
}

bool CDlgJieMi::RunImage(const logic::Verification& v) {
    app::AppGlobals& g = app::Globals();
    drive_ = std::make_unique<logic::ImageDrive>(logic::OsDriveTable());
    if (!drive_->Reserve()) {
        drive_.reset();
        MessageBoxApp(hwnd(), texts::kNoFreeDrive, MB_ICONEXCLAMATION);
        return false;
    }
    if (!drive_->Map(g.StoreDataDir)) {
        drive_.reset();
        MessageBoxApp(hwnd(), texts::kMapFailed, MB_ICONEXCLAMATION);
        return false;
    }
    // The drive must be there before anything is decrypted: a store left
    // plain with no drive to reach it would help nobody.
    if (!drive_->Reachable()) {
        SetTimer(hwnd(), kTimerWait, kWaitMs, nullptr);
        CDlgStatic waiting(hwnd(), [this] { return drive_ && drive_->Reachable(); });
        const INT_PTR r = waiting.DoModal();
        KillTimer(hwnd(), kTimerWait);
        if (r != IDOK) {
            drive_.reset();
            return false;
        }
    }
    kind_ = v.kind;
    if (kind_ != crypto::kKindNormal) {
        const std::wstring folder = ProtectedFolder();
        const std::wstring password = g.PresetPassword;
        engine::State().kind =
            kind_ == crypto::kKindHigher ? engine::kKindHigherDecrypt : engine::kKindHighestDecrypt;
        engine::SetOperationType(engine::kOpImageDecrypt);
        WinPassUi ui;
        const engine::PassSummary s =
            RunPass([&] { return engine::DecryptStore(folder, password, 0, ui); }, false);
        if (!s.started) {
            drive_.reset();
            // A pass that broke off may have left files plain: they are
            // encrypted first once the password is given again.
            WinPassUi recoverUi;
            const engine::RecoveryReport r =
                engine::Recover(ProtectedFolder(), g.ModulePath, recoverUi);
            leftovers_ = r.pendingStrength;
            leftoversOfImage_ = r.imageOpen;
            return false;
        }
    }
    ShowWindow(hwnd(), SW_HIDE);
    const std::wstring root = drive_->Root();
    SHFILEINFOW info = {};
    Watch().title.clear();
    if (SHGetFileInfoW(root.c_str(), 0, &info, sizeof(info), SHGFI_DISPLAYNAME))
        Watch().title = info.szDisplayName;
    Watch().window = nullptr;
    m_bWindowFound = false;
    closeWatch_ = logic::CloseWatch();
    SetTimer(hwnd(), kTimerSearch, kSearchMs, nullptr);
    const auto opened = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", root.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (opened <= 32 || !drive_->Reachable()) {
        // Nobody can use the drive: the folder is made safe again at once.
        KillTimer(hwnd(), kTimerSearch);
        drive_.reset();
        if (kind_ != crypto::kKindNormal) (void)ReEncrypt(kind_, true);
        ShowWindow(hwnd(), SW_SHOW);
        MessageBoxApp(hwnd(), texts::kOpenFailedReEncrypted, MB_ICONEXCLAMATION);
        return false;
    }
    SetTimer(hwnd(), kTimerClose, kCloseMs, nullptr);
    return true;
}

bool CDlgJieMi::FindWatchedWindow() {
    if (!drive_) return false;
    const logic::WatchTitles t = logic::MakeWatchTitles(Watch().title, drive_->Name());
    HWND w = t.a.empty() ? nullptr : FindShownWindow(t.a);
    if (!w) w = FindShownWindow(t.b);
    if (!w && !t.c.empty()) w = FindShownWindow(t.c);
    if (!w) {
        // A labelled drive, or a title the shell words otherwise.
        struct Search {
            std::wstring drive;
            HWND found;
        } search{drive_->Name(), nullptr};
        EnumWindows(
            [](HWND h, LPARAM lp) -> BOOL {
                auto* s = reinterpret_cast<Search*>(lp);
                wchar_t cls[32] = {}, title[260] = {};
                GetClassNameW(h, cls, 32);
                if (wcscmp(cls, L"CabinetWClass") && wcscmp(cls, L"ExplorerWClass")) return TRUE;
                GetWindowTextW(h, title, 260);
                if (!IsWindowVisible(h) || !logic::TitleNamesDrive(title, s->drive)) return TRUE;
                s->found = h;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&search));
        w = search.found;
    }
    Watch().window = w;
    return w != nullptr;
}

void CDlgJieMi::OnTimer(UINT_PTR id) {
    switch (id) {
        case kTimerWait:
            // The waiting window ends itself once the drive is there.
            if (drive_ && drive_->Reachable()) KillTimer(hwnd(), kTimerWait);
            break;
        case kTimerSearch:
            // Found counts at once: a window closed soon after it showed
            // must not leave the folder open for the six-tick wait.
            if (!WindowInUse(Watch().window)) (void)FindWatchedWindow();
            if (WindowInUse(Watch().window)) {
                m_bWindowFound = true;
                KillTimer(hwnd(), kTimerSearch);
            }
            break;
        case kTimerClose: {
            const bool alive = WindowInUse(Watch().window);
            if (closeWatch_.Tick(m_bWindowFound, alive, Watch().encryptNow) ==
                logic::CloseWatch::Step::Wait)
                break;
            Watch().autoEncryptStarted = true;
            KillTimer(hwnd(), kTimerClose);
            KillTimer(hwnd(), kTimerSearch);
            break;
        }
        default:
            break;
    }
}

void CDlgJieMi::FinishImageUse() {
    app::AppGlobals& g = app::Globals();
    Watch().autoEncryptStarted = true;
    KillTimer(hwnd(), kTimerClose);
    KillTimer(hwnd(), kTimerSearch);
    if (logic::FolderHoldsOnlyProgram(g.ModuleFolder, g.ModulePath)) {
        drive_.reset();
        MessageBoxApp(hwnd(), texts::kOnlyProgramLeft);
        EndDialog(IDOK);
        return;
    }
    drive_.reset();
    if (kind_ != crypto::kKindNormal && !ReEncrypt(kind_, true)) {
        MessageBoxApp(hwnd(), texts::kReEncryptIncomplete, MB_ICONEXCLAMATION);
        EndDialog(kIncomplete);
        return;
    }
    EndDialog(IDOK);
}

bool CDlgJieMi::RunFull(const logic::Verification& v) {
    const std::wstring folder = ProtectedFolder();
    const std::wstring password = app::Globals().PresetPassword;
    engine::State().kind = v.kind == crypto::kKindNormal   ? engine::kKindNormalDecrypt
                           : v.kind == crypto::kKindHigher ? engine::kKindHigherDecrypt
                                                           : engine::kKindHighestDecrypt;
    engine::SetOperationType(engine::kOpFullDecrypt);
    WinPassUi ui;
    const engine::PassSummary s =
        RunPass([&] { return engine::DecryptFolder(folder, password, ui); }, false);
    passComplete_ = s.ok();
    return s.started;
}

void CDlgJieMi::OnMoreMenu() {
    SetForegroundWindow(hwnd());
    HMENU bar = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MORE_MENU));
    HMENU menu = bar ? GetSubMenu(bar, 0) : nullptr;
    if (!menu) {
        if (bar) DestroyMenu(bar);
        MessageBoxApp(hwnd(), texts::kMenuFailed, MB_ICONEXCLAMATION);
        return;
    }
    POINT pt = {};
    GetCursorPos(&pt);
    const UINT cmd = static_cast<UINT>(TrackPopupMenu(
        menu, TPM_RIGHTBUTTON | TPM_BOTTOMALIGN | TPM_RETURNCMD, pt.x, pt.y, 0, hwnd(), nullptr));
    DestroyMenu(bar);
    switch (cmd) {
        case ID_MORE_DECRYPT_OTHER:
            // The new instance takes over; this one ends, its drive released.
            // It gets this folder's lock first, or the new instance would
            // find the folder busy when it opens the same one.
            if (RunDecryptOtherDialog(
                    hwnd(), [this] { lock_.reset(); },
                    [this] {
                        uint32_t error = 0;
                        lock_ = plat::TryLockFolder(ProtectedFolder(), &error);
                    }))
                EndDialog(IDCANCEL);
            break;
        case ID_MORE_ENCRYPT_OTHER:
            OnEncryptOther();
            break;
        default:
            break;
    }
}

void CDlgJieMi::OnEncryptOther() {
    const std::wstring folder = BrowseForFolder(hwnd(), texts::kEncryptOtherTitle);
    if (folder.empty()) return;
    if (store::IsEncryptedFolder(plat::WithoutSep(folder))) {
        MessageBoxApp(hwnd(), texts::kAlreadyEncrypted, MB_ICONEXCLAMATION);
        return;
    }
    app::AppGlobals& g = app::Globals();
    g.TargetFolder = plat::WithSep(folder);
    g.TargetChosen = true;
    EndDialog(kEncryptOther);
}

void CDlgJieMi::OnDestroy() {
    KillTimer(hwnd(), kTimerWait);
    KillTimer(hwnd(), kTimerSearch);
    KillTimer(hwnd(), kTimerClose);
    // Whatever happened, the drive goes with the window.
    drive_.reset();
}

INT_PTR CDlgJieMi::OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) {
    if (msg == kShowLeftovers) {
        *handled = true;
        ShowLeftoversNotice();
        return 0;
    }
    if (msg == WM_CTLCOLORSTATIC) {
        HDC dc = reinterpret_cast<HDC>(wp);
        HWND ctl = reinterpret_cast<HWND>(lp);
        INT_PTR r = 0;
        *handled = WhiteBackground(msg, wp, &r);
        (void)moreLink_.OnCtlColor(dc, ctl);
        return r;
    }
    INT_PTR r = 0;
    *handled = WhiteBackground(msg, wp, &r);
    return r;
}

}  // namespace ui
