#include "engine/engine.h"

#include "crypto/records.h"
#include "engine/copy_temps.h"
#include "engine/hide_pass.h"
#include "engine/pass_state.h"
#include "engine/recovery_guard.h"
#include "engine/restore_pass.h"
#include "engine/strength_pass.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "store/layout.h"

namespace engine {

namespace {

PassSummary Summarise(bool started) {
    const PassState& st = State();
    PassSummary s;
    s.started = started;
    s.total = st.total;
    s.handled = st.handled;
    s.moved = st.moved;
    s.moveFailed = st.moveFailed;
    s.strengthDone = st.strengthDone;
    s.strengthSkipped = st.strengthSkipped;
    s.renamed = st.renamed;
    s.notOurFormat = st.notOurFormat;
    s.storeVisible = st.marksError != 0;
    s.cancelled = st.cancelRequested;
    return s;
}

// A strength store refused the password: nothing started.
PassSummary RefuseStrengthPassword(PassUi& ui) {
    ui.ShowMessage(crypto::kMsgStrengthPasswordWrong, MessageIcon::Error);
    State().done = true;
    return Summarise(false);
}

const wchar_t* KindText(int strength) {
    return strength == 1   ? store::kKindHigher
           : strength == 2 ? store::kKindHighest
                           : store::kKindNormal;
}

}  // namespace

PassSummary EncryptFolder(const std::wstring& folder, const std::wstring& password,
                          const std::wstring& mail, int strength, PassUi& ui) {
    // Below the folder nothing is reached through a link, even one put
    // there while the pass runs.
    const auto pin = plat::PinFolder(folder);
    PassState& st = State();
    st.Reset();
    st.kind = strength == 1   ? kKindHigherEncrypt
              : strength == 2 ? kKindHighestEncrypt
                              : kKindNormalEncrypt;
    st.operation = kOpEncrypt;
    bool started;
    if (strength == 1 || strength == 2) {
        CCryptAndDe_old pass(ui);
        StrengthJob job;
        job.root = folder;
        job.password = password;
        job.mail = mail;
        job.kindText = KindText(strength);
        job.jobMode = 0;
        started = pass.RunEncryption(job);
        plat::Wipe(job.password);
    } else {
        CJiaMiWeiZhuang pass(ui);
        HideJob job;
        job.root = folder;
        job.password = password;
        job.mail = mail;
        job.kindText = KindText(0);
        job.mode = 0;
        started = pass.Run(job);
        plat::Wipe(job.password);
    }
    return Summarise(started);
}

PassSummary RestoreFolder(const std::wstring& folder, const std::wstring& password, PassUi& ui) {
    const auto pin = plat::PinFolder(folder);
    PassState& st = State();
    st.Reset();
    st.kind = kKindNormalDecrypt;
    st.operation = kOpFullDecrypt;
    const std::wstring param = store::ParamDir(folder);
    crypto::StoreRecords records = crypto::ReadStoreRecords(param, false);
    const bool accepted = crypto::CheckNormalPassword(records, param, false, password);
    records.Wipe();
    if (!accepted) {
        ui.ShowMessage(L"输入的密码不正确。", MessageIcon::Error);
        st.done = true;
        return Summarise(false);
    }
    RestorePass pass(ui);
    pass.SetFolder(folder);
    pass.Run();
    return Summarise(true);
}

PassSummary DecryptStore(const std::wstring& folder, const std::wstring& password, int jobMode,
                         PassUi& ui, const DecryptOptions& options) {
    const auto pin = plat::PinFolder(folder);
    PassState& st = State();
    st.Reset();
    const std::wstring param = store::ParamDir(folder);
    crypto::StoreRecords records = crypto::ReadStoreRecords(param, false);
    const bool legacyHash = records.legacyHash;
    st.kind = records.kind == crypto::kKindHigher ? kKindHigherDecrypt : kKindHighestDecrypt;
    // A normal store has no sealed record: its own check takes an empty or
    // missing password record as no password at all.
    const bool accepted = records.kind == crypto::kKindNormal
                              ? crypto::CheckNormalPassword(records, param, false, password)
                              : crypto::CheckStrengthPassword(param, password, legacyHash);
    records.Wipe();
    int op = options.operation;
    if (op < 0)
        op = jobMode == 0 ? kOpImageDecrypt
             : jobMode == 2 && options.items.empty() && options.destination.empty() &&
                     options.subPath.empty()
                 ? kOpFullDecrypt
                 : kOpBrowse;
    st.operation = op;
    if (!accepted) return RefuseStrengthPassword(ui);
    CCryptAndDe_old pass(ui);
    DecryptJob job;
    job.root = folder;
    job.items = options.items;
    job.password = password;
    job.destination = options.destination;
    job.jobMode = jobMode;
    job.subPath = options.subPath;
    job.legacyHash = legacyHash;
    (void)pass.RunDecryption(job);
    plat::Wipe(job.password);
    return Summarise(true);
}

PassSummary DecryptFolder(const std::wstring& folder, const std::wstring& password, PassUi& ui) {
    crypto::StoreRecords records = crypto::ReadStoreRecords(store::ParamDir(folder), false);
    const int kind = records.kind;
    records.Wipe();
    if (kind == crypto::kKindNormal) return RestoreFolder(folder, password, ui);
    return DecryptStore(folder, password, 2, ui);
}

RecoveryReport Recover(const std::wstring& folder, const std::wstring& exePath, PassUi& ui) {
    PassLog log;
    RecoveryReport report;
    report.unsafeFolder = UnsafeStoreFolder(folder);
    if (!report.unsafeFolder.empty()) {
        log.Append(UnsafeStoreText(folder, report.unsafeFolder));
        return report;
    }
    const auto pin = plat::PinFolder(folder);
    report = RecoverFolder(folder, exePath, ui, log);
    // Working files a killed copy left outside the folder.
    report.settled += RemoveCopyTemps(folder, log);
    return report;
}

namespace {

// Content encryption of what is plain in an existing strength store, with
// the store's own kind. `resume`: an encryption interrupted after its store
// was made; otherwise the store after image use.
PassSummary EncryptStoreAgain(const std::wstring& folder, const std::wstring& password, bool resume,
                              PassUi& ui) {
    const auto pin = plat::PinFolder(folder);
    PassState& st = State();
    st.Reset();
    const std::wstring param = store::ParamDir(folder);
    crypto::StoreRecords records = crypto::ReadStoreRecords(param, false);
    const int kind = records.kind;
    const bool legacyHash = records.legacyHash;
    records.Wipe();
    st.kind = kind == crypto::kKindHigher ? kKindHigherEncrypt : kKindHighestEncrypt;
    st.operation = resume ? kOpEncrypt : kOpImageDecrypt;
    if (kind == crypto::kKindNormal || !crypto::CheckStrengthPassword(param, password, legacyHash))
        return RefuseStrengthPassword(ui);
    CCryptAndDe_old pass(ui);
    StrengthJob job = ReEncryptJob(folder, password, kind);
    job.resume = resume;
    const bool started = pass.RunEncryption(job);
    plat::Wipe(job.password);
    return Summarise(started);
}

}  // namespace

PassSummary ResumeEncryption(const std::wstring& folder, const std::wstring& password, PassUi& ui) {
    return EncryptStoreAgain(folder, password, true, ui);
}

StrengthJob ReEncryptJob(const std::wstring& folder, const std::wstring& password, int kind) {
    StrengthJob job;
    job.root = folder;
    job.password = password;
    crypto::StoreRecords records = crypto::ReadStoreRecords(store::ParamDir(folder), false);
    job.mail = records.mail;
    records.Wipe();
    job.kindText = KindText(kind == crypto::kKindHigher ? 1 : 2);
    job.jobMode = 0;
    return job;
}

PassSummary ReEncryptAfterImage(const std::wstring& folder, const std::wstring& password,
                                PassUi& ui) {
    return EncryptStoreAgain(folder, password, false, ui);
}

}  // namespace engine
