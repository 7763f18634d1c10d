#include "engine/strength_pass.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "app/globals.h"
#include "app/settings_keys.h"
#include "crypto/content_cipher.h"
#include "crypto/move_aside.h"
#include "crypto/records.h"
#include "engine/naming.h"
#include "engine/pass_state.h"
#include "platform/fs.h"
#include "platform/settings.h"
#include "platform/text.h"
#include "store/layout.h"

namespace engine {

namespace {

bool IsSkippedFolderName(const std::wstring& name) {
    return plat::EqualsNoCase(name, L"ulxjm,NotDelete.") ||
           plat::EqualsNoCase(name, store::kStoreRoot) || plat::EqualsNoCase(name, L"recycler88");
}

bool IsRunningProgram(const std::wstring& path) {
    const std::wstring& self = app::Globals().ModulePath;
    return !self.empty() && plat::EqualsNoCase(path, self);
}

// Entries in a stable order: the crash marker counts files, and a run after
// a crash must count them in the order the crashed run did.
std::vector<plat::DirEntry> SortedEntries(const std::wstring& dir, bool* ok = nullptr) {
    std::vector<plat::DirEntry> entries;
    bool listed = plat::Fs().ListDir(EnumerationPath(dir), &entries);
    if (ok) *ok = listed;
    std::sort(entries.begin(), entries.end(), [](const plat::DirEntry& a, const plat::DirEntry& b) {
        return plat::Fold(crypto::StripSuffix(a.name)) < plat::Fold(crypto::StripSuffix(b.name));
    });
    return entries;
}

bool IsOnPath(const std::wstring& folder, const std::wstring& target) {
    const std::wstring f = plat::WithSep(folder), t = plat::WithSep(target);
    return plat::StartsWithNoCase(t, f) || plat::StartsWithNoCase(f, t);
}

}  // namespace

CCryptAndDe_old::CCryptAndDe_old(PassUi& ui, PassLog log)
    : ui_(ui), log_(log), hide_(ui, log), restore_(ui, log) {}

CCryptAndDe_old::~CCryptAndDe_old() {
    Wait();
    plat::Wipe(enc_.password);
    plat::Wipe(dec_.password);
}

void CCryptAndDe_old::Wait() {
    if (worker_.joinable()) worker_.join();
}

std::vector<std::wstring> CCryptAndDe_old::MoveFailures() const {
    std::vector<std::wstring> all = hide_.Failures();
    for (const auto& f : restore_.Failures()) all.push_back(f);
    return all;
}

int CCryptAndDe_old::ReadCrashMarker() {
    return app::Settings::ErrorMarker();
}

// ---- CipherSink ----------------------------------------------------------

void CCryptAndDe_old::SetCurrentObject(const std::wstring& path) {
    State().SetCurrentObject(path);
}

void CCryptAndDe_old::OnFileSeen() {
    ++State().seen;
}

void CCryptAndDe_old::OnFileDone(crypto::FileOutcome outcome) {
    PassState& st = State();
    using crypto::FileOutcome;
    switch (outcome) {
        case FileOutcome::StrengthEncrypted:
        case FileOutcome::StrengthDecrypted:
        case FileOutcome::NotEncryptedFormat:
            ++st.strengthDone;
            st.fileOk = true;
            break;
        case FileOutcome::AlreadyEncrypted:
            st.fileOk = true;
            break;
        case FileOutcome::NotStrengthEncrypted:
        case FileOutcome::DecryptFailed:
            ++st.strengthSkipped;
            st.fileOk = false;
            break;
    }
    ++st.handled;
}

void CCryptAndDe_old::SetCurrentLength(uint64_t length) {
    State().bytesDone = 0;
    State().currentLength = length;
}

void CCryptAndDe_old::AddBytesDone(uint64_t bytes) {
    State().bytesDone += bytes;
}

bool CCryptAndDe_old::IsCancelled() {
    return State().cancelRequested;
}

void CCryptAndDe_old::ShowMessageOnce(const std::wstring& text) {
    {
        std::lock_guard<std::mutex> lock(shownLock_);
        if (!shown_.insert(text).second) return;
    }
    if (text == crypto::kMsgCancelled) State().cancelAnnounced = true;
    ui_.ShowMessage(text, MessageIcon::Info);
}

void CCryptAndDe_old::ShowCancelOnce() {
    ShowMessageOnce(crypto::kMsgCancelled);
}

void CCryptAndDe_old::AddFailure(const std::wstring& path, const std::wstring& reason) {
    if (reason == crypto::kReasonNotOurFormat) ++State().notOurFormat;
    std::wstring shown = path;
    for (const wchar_t* suffix : {crypto::kEncryptedSuffix, crypto::kLegacySuffix})
        if (plat::EndsWithNoCase(shown, suffix)) shown.resize(shown.size() - std::wcslen(suffix));
    const app::AppGlobals& g = app::Globals();
    for (const std::wstring& rel :
         {g.StoreDataRel.empty() ? store::DataRel() : g.StoreDataRel, g.FoundDataRel}) {
        if (rel.empty()) continue;
        shown = ReplaceNoCase(shown, plat::WithSep(rel), L"");
    }
    log_.Append(shown + reason);
}

// ---- helpers ---------------------------------------------------------------

std::unique_ptr<crypto::ContentCipher> CCryptAndDe_old::MakeCipher(
    const std::wstring& password, const crypto::ContentCipher::Options& options) {
    return std::make_unique<crypto::ContentCipher>(
        password, static_cast<crypto::CipherSink&>(*this), options);
}

std::wstring CCryptAndDe_old::ProtectedFolder() const {
    if (enc_.jobMode == 0) return enc_.root;
    if (!enc_.storeFolder.empty()) return enc_.storeFolder;
    const std::wstring marker = plat::kSep + store::DataRel();
    size_t at = plat::FindNoCase(dataFolder_, marker);
    return at == std::wstring::npos ? enc_.root : dataFolder_.substr(0, at);
}

std::wstring CCryptAndDe_old::RelativeToData(const std::wstring& path) const {
    const std::wstring base = plat::WithSep(dataFolder_);
    return plat::StartsWithNoCase(path, base) ? path.substr(base.size()) : plat::LeafName(path);
}

std::wstring CCryptAndDe_old::OutsidePath(const std::wstring& rel) const {
    return plat::JoinPath(dec_.destination.empty() ? dec_.root : dec_.destination, rel);
}

void CCryptAndDe_old::RepairNames() {
    // Files an earlier version decrypted but could not give back their
    // plain name. Only a file that really holds no trailer any more loses
    // its suffix: a stale list must never make an encrypted file look plain.
    const std::wstring listPath = plat::JoinPath(paramFolder_, store::kRenameFailList);
    if (!plat::Fs().Exists(listPath)) return;
    std::vector<CFailNameStruct> outside;
    failNames_.Load(listPath, &outside);
    for (const auto& item : outside)
        log_.Append(listPath + L"," + item.path + L" 不在存储区内，已忽略。");
    CFailNameList left;
    for (const auto& item : failNames_.items) {
        const std::wstring path = plat::JoinPath(dataFolder_, item.path);
        const uint32_t a = plat::Fs().GetAttributes(path);
        if (a == plat::kInvalidAttributes ||
            (a & (plat::kAttrDirectory | plat::kAttrReparsePoint)) ||
            crypto::ClassifyName(path) == crypto::kClassPlain)
            continue;
        bool encrypted = true;
        if (std::unique_ptr<plat::File> f =
                plat::Fs().Open(path, plat::Access::Read, plat::Disposition::OpenExisting)) {
            uint64_t size = 0;
            char maker[9] = {};
            encrypted = !f->Size(&size) ||
                        (size >= 9 && f->Seek(int64_t(size - 9), SEEK_SET) &&
                         f->ReadExact(maker, 9) && std::memcmp(maker, crypto::kMakerWord, 9) == 0);
        }
        if (encrypted) continue;  // it is what its name says: nothing to repair
        if (!crypto::RenameMovingAside(path, crypto::StripSuffix(path))) left.items.push_back(item);
    }
    failNames_ = left;
    // The list on disk says what is still to repair, whatever the job.
    if (failNames_.items.empty())
        (void)plat::Fs().DeleteFile(listPath);
    else
        (void)failNames_.Save(listPath);
}

// ---- batches -------------------------------------------------------------

namespace {
// A batch is flushed once: enough files to make that cheap, few enough to
// keep the journal small.
constexpr size_t kBatchFiles = 256;
constexpr size_t kBatchJournalBytes = 2u << 20;
// Journal bytes of one first-block file: two heads and a trailer.
constexpr size_t kJournalPerFile = 2 * crypto::kBlockSize + 256;
}  // namespace

void CCryptAndDe_old::Queue(Pending p) {
    queue_.push_back(std::move(p));
    queuedJournalBytes_ += kJournalPerFile;
    if (queue_.size() >= kBatchFiles || queuedJournalBytes_ >= kBatchJournalBytes) RunBatch();
}

void CCryptAndDe_old::MarkTroubled(const std::wstring& path) {
    // Every folder above a file that did not end well stays in the store.
    std::wstring rel = RelativeToData(path);
    for (;;) {
        const size_t cut = rel.rfind(plat::kSep);
        if (cut == std::wstring::npos) break;
        rel.resize(cut);
        troubledFolders_.insert(plat::Fold(rel));
    }
}

void CCryptAndDe_old::ListFailed(const std::wstring& folder) {
    // What a folder holds is unknown when it cannot be listed: it counts as
    // one object that failed.
    PassState& st = State();
    log_.Append(folder + L",无法读取文件夹内容，原因如下：");
    log_.Append(log_.TakeError());
    ++listFailures_;
    MarkTroubled(plat::JoinPath(folder, L"x"));
    (void)st;
}

void CCryptAndDe_old::RunBatch() {
    std::vector<Pending> batch;
    batch.swap(queue_);
    queuedJournalBytes_ = 0;
    if (batch.empty()) return;
    plat::FileSystem& fs = plat::Fs();

    // 1. Plan every file: read what will be replaced, work out what will
    // be written. Nothing changes yet.
    std::vector<std::unique_ptr<crypto::FileChange>> changes(batch.size());
    std::vector<const crypto::FileChange*> planned;
    for (size_t k = 0; k < batch.size(); ++k) {
        const Pending& p = batch[k];
        crypto::DecryptResult ended;
        switch (p.op) {
            case Pending::Encrypt:
                changes[k] = cipher_->PlanEncrypt(p.path, crypto::IsWholeFileName(p.path), p.attrs);
                break;
            case Pending::DecryptInPlace:
                changes[k] = cipher_->PlanDecrypt(p.path, true, &ended, p.attrs);
                break;
            case Pending::DecryptCopy:
                changes[k] = cipher_->PlanCopy(p.path, p.out, &ended);
                break;
        }
        if (changes[k])
            planned.push_back(changes[k].get());
        else if (p.op != Pending::Encrypt)
            Finished(p, ended);
    }
    if (planned.empty()) return;

    // 2. The journal of the batch, durable (with everything before it)
    // before any file is touched.
    std::vector<const crypto::FileChange*> journaled = planned;
    for (const auto& c : carried_) journaled.push_back(c.get());
    if (!journal_->Write(journaled)) {
        const std::wstring error = log_.TakeError();
        log_.Append(journal_->Path() + L",写入失败，原因如下：");
        log_.Append(error);
        for (size_t k = 0; k < batch.size(); ++k) {
            if (!changes[k]) continue;
            const bool enc = batch[k].op == Pending::Encrypt;
            crypto::DecryptResult r = cipher_->Abandon(
                *changes[k], enc ? crypto::kReasonTempFile : crypto::kReasonDecryptTempFile);
            if (!enc) Finished(batch[k], r);
        }
        return;
    }

    // 3. Contents: in place, or into working files.
    std::vector<bool> applied(batch.size(), false);
    for (size_t k = 0; k < batch.size(); ++k) {
        if (!changes[k]) continue;
        // A cancel stops an encryption between files: the rest stay plain.
        if (batch[k].op == Pending::Encrypt && State().cancelRequested) {
            ShowCancelOnce();
            (void)cipher_->Abandon(*changes[k], nullptr);
            continue;
        }
        applied[k] = cipher_->Apply(*changes[k]);
        if (!applied[k] && batch[k].op != Pending::Encrypt) {
            crypto::DecryptResult r;
            r.path = batch[k].path;
            r.outcome = crypto::FileOutcome::DecryptFailed;
            Finished(batch[k], r);
        }
    }

    // 4. Everything written is on the medium before any name changes: a
    // drive may otherwise keep a new name and lose the bytes behind it.
    bool needSync = false;
    for (size_t k = 0; k < batch.size(); ++k)
        needSync = needSync || (applied[k] && !changes[k]->flushed);
    if (needSync) (void)fs.SyncVolume(dataFolder_);

    // 5. Names: each rename completes one file. A source that a whole-file
    // change replaces stays until its replacement's name is durable.
    std::vector<crypto::DecryptResult> results(batch.size());
    bool renamed = false, sourcesLeft = false;
    for (size_t k = 0; k < batch.size(); ++k) {
        if (!applied[k]) continue;
        results[k] = cipher_->Commit(*changes[k], true);
        renamed = true;
        sourcesLeft = sourcesLeft || changes[k]->sourceKept;
    }
    if (renamed) (void)fs.SyncVolume(dataFolder_);
    // 6. The sources go, and that is durable too before the journal moves on.
    for (size_t k = 0; k < batch.size(); ++k)
        if (applied[k] && changes[k]->sourceKept) results[k] = cipher_->FinishCommit(*changes[k]);
    if (sourcesLeft) (void)fs.SyncVolume(dataFolder_);

    for (size_t k = 0; k < batch.size(); ++k) {
        if (changes[k] && changes[k]->unsettled) carried_.push_back(std::move(changes[k]));
        if (applied[k] && batch[k].op != Pending::Encrypt) Finished(batch[k], results[k]);
    }
}

void CCryptAndDe_old::Finished(const Pending& p, const crypto::DecryptResult& r) {
    if (!r.ok()) {
        MarkTroubled(p.path);
        return;
    }
    if (p.op == Pending::DecryptCopy || !p.moveOut) return;
    if (crypto::ClassifyName(r.path) != crypto::kClassPlain) {
        // Decrypted (or not ours) but still under an encrypted name: it
        // stays in the store, which keeps its records for the next run.
        ++State().moveFailed;
        log_.Append(L"文件" + r.path + L",解密失败，原因如下：");
        log_.Append(log_.TakeError());
        MarkTroubled(p.path);
        return;
    }
    const std::wstring dst = OutsidePath(RelativeToData(r.path));
    (void)MakeDirs(plat::ParentWithSep(dst));
    if (!restore_.MoveBack(r.path, dst, true)) MarkTroubled(p.path);
}

// ---- encryption ------------------------------------------------------------

bool CCryptAndDe_old::PrepareEncryption(const StrengthJob& job) {
    Wait();
    enc_ = job;
    existingStore_ = false;
    const int strength = plat::EqualsNoCase(job.kindText, store::kKindHighest) ? 2 : 1;
    strength_ = strength;
    State().Reset();
    failNames_.Clear();
    queue_.clear();
    carried_.clear();
    {
        std::lock_guard<std::mutex> lock(shownLock_);
        shown_.clear();
    }
    switch (job.jobMode) {
        case 1:
            dataFolder_ = plat::WithoutSep(
                ReplaceNoCase(plat::WithSep(job.root),
                              std::wstring(store::kWorkingFolderName) + plat::kSep +
                                  store::kNotDeleteFolderName + plat::kSep,
                              L""));
            break;
        case 2:
            dataFolder_ = store::DataDir(job.storeFolder);
            break;
        default:
            dataFolder_ = store::DataDir(job.root);
            // A whole store encrypted again (after image use) keeps its records.
            existingStore_ = job.resume || store::IsEncryptedFolder(job.root, false);
            if (!existingStore_ &&
                !CreateNewStore(job.root, job.password, job.mail, job.kindText, strength, log_))
                return false;
    }
    paramFolder_ = store::ParamDir(ProtectedFolder());
    journal_ = std::make_unique<PassJournal>(ProtectedFolder(), dataFolder_, paramFolder_);
    if (job.jobMode == 0 && (job.resume || !existingStore_))
        journal_->SetPass(job.resume ? JournalPass::PendingStrength : JournalPass::NewStore,
                          strength);
    else if (job.jobMode == 0)
        // A whole store encrypted again after image use: until every file is
        // encrypted, the next run must know that plain files wait in it.
        journal_->SetPass(JournalPass::ImageOpen, strength);
    RepairNames();
    return true;
}

bool CCryptAndDe_old::StartEncryption(const StrengthJob& job) {
    if (!PrepareEncryption(job)) return false;
    try {
        worker_ = std::thread([this] { EncryptBody(); });
    } catch (...) {
        ui_.ShowMessage(L"加密出错。", MessageIcon::Error);
        return false;
    }
    return true;
}

bool CCryptAndDe_old::RunEncryption(const StrengthJob& job) {
    if (!PrepareEncryption(job)) {
        State().done = true;
        return false;
    }
    EncryptBody();
    return true;
}

void CCryptAndDe_old::CollectEncrypt(const std::wstring& folder, std::vector<Pending>* out) {
    bool listed = true;
    auto entries = SortedEntries(folder, &listed);
    if (!listed) return ListFailed(folder);
    for (const auto& e : entries) {
        const std::wstring path = plat::JoinPath(folder, e.name);
        if (e.IsDirectory() && !(e.attributes & plat::kAttrReparsePoint)) {
            if (!IsSkippedFolderName(e.name)) CollectEncrypt(path, out);
        } else if (!IsRunningProgram(path)) {
            out->push_back(Pending{Pending::Encrypt, path, false, {}, e.attributes});
        }
    }
}

void CCryptAndDe_old::EncryptBody() {
    PassState& st = State();
    try {
        try {
            cipher_ = MakeCipher(enc_.password, crypto::ContentCipher::Options());
        } catch (const std::bad_alloc&) {
            ui_.ShowMessage(
                L"分配内存出错，本次加密失败。\r\n\r\n但是所有的文件已经采用快速方式进行了加密。",
                MessageIcon::Error);
            st.done = true;
            return;
        }
        const int op = st.operation;
        std::vector<std::wstring> targets;
        if (enc_.jobMode != 0 && journal_->Pass() != JournalPass::ImageOpen) {
            // Files coming into a strength store are plain until their
            // batch is done: the store says so, durably, before the first
            // one moves in.
            journal_->SetPass(JournalPass::PendingStrength, strength_);
            if (!journal_->Write({})) {
                log_.Append(journal_->Path() + L",写入失败，原因如下：");
                log_.Append(log_.TakeError());
                st.strengthSkipped += int(enc_.items.size());
                cipher_.reset();
                st.done = true;
                return;
            }
        }
        if ((op == kOpEncrypt || op == kOpBrowse) && !enc_.resume) {
            HideJob h;
            h.root = enc_.root;
            h.items = enc_.items;
            h.password = enc_.password;
            h.mail = enc_.mail;
            h.kindText = enc_.kindText;
            h.mode = enc_.jobMode;
            h.storeFolder = enc_.storeFolder;
            h.subPath = enc_.subPath;
            h.storeReady = true;
            (void)hide_.RunInline(h);
            plat::Wipe(h.password);
            // Objects go on under the name the hide pass gave them.
            if (!enc_.items.empty()) targets = hide_.Destinations();
        }
        if (enc_.items.empty()) {
            targets.assign(1, dataFolder_);
        } else if (targets.empty() && (enc_.resume || (op != kOpEncrypt && op != kOpBrowse))) {
            std::wstring base = dataFolder_;
            if (enc_.jobMode == 2 && !enc_.subPath.empty())
                base = plat::JoinPath(base, enc_.subPath);
            for (const auto& item : enc_.items) targets.push_back(plat::JoinPath(base, item));
        }

        // One walk finds the files; the same list is then worked through.
        std::vector<Pending> files;
        listFailures_ = 0;
        for (const auto& t : targets) {
            const uint32_t a = plat::Fs().GetAttributes(t);
            if (a == plat::kInvalidAttributes || IsRunningProgram(t)) continue;
            if ((a & plat::kAttrDirectory) && !(a & plat::kAttrReparsePoint))
                CollectEncrypt(t, &files);
            else
                files.push_back(Pending{Pending::Encrypt, t, false, {}, a});
        }
        st.total = int(files.size()) + listFailures_;
        st.handled = listFailures_;
        st.seen += listFailures_;
        st.strengthSkipped += listFailures_;
        for (auto& f : files) {
            if (st.cancelRequested) {
                ShowCancelOnce();
                break;
            }
            Queue(std::move(f));
        }
        RunBatch();
        // What a cancel left plain stays hidden in the store; count it.
        if (st.cancelRequested && st.handled < st.total)
            st.strengthSkipped += st.total - st.handled;
        cipher_.reset();
        // The pass is over. A store that still holds plain files it was to
        // encrypt (cancelled, or files that failed) stays marked, so that
        // `status` says so and the next encryption finishes them; what could
        // not be settled stays for the next run.
        std::vector<const crypto::FileChange*> left;
        for (const auto& c : carried_) left.push_back(c.get());
        const bool plainLeft = st.strengthSkipped > 0 || st.cancelRequested;
        if (plainLeft && journal_->Pass() != JournalPass::ImageOpen)
            journal_->SetPass(JournalPass::PendingStrength, strength_);
        if (plainLeft || !left.empty())
            (void)journal_->Write(left);
        else
            (void)journal_->Remove();
    } catch (...) {
        log_.Append(L"加密出错。");
        st.fileOk = false;
    }
    cipher_.reset();
    st.done = true;
}

// ---- decryption ------------------------------------------------------------

void CCryptAndDe_old::PrepareDecryption(const DecryptJob& job) {
    Wait();
    dec_ = job;
    State().Reset();
    queue_.clear();
    carried_.clear();
    dataFolder_ =
        job.dataFolder.empty() ? store::DataDir(job.root) : plat::WithoutSep(job.dataFolder);
    paramFolder_ =
        job.paramFolder.empty() ? store::ParamDir(job.root) : plat::WithoutSep(job.paramFolder);
    restore_.SetFolder(job.root, dataFolder_, paramFolder_);
    journal_ = std::make_unique<PassJournal>(job.root, dataFolder_, paramFolder_);
    RepairNames();
    {
        std::lock_guard<std::mutex> lock(shownLock_);
        shown_.clear();
    }
    walkedFolders_.clear();
    troubledFolders_.clear();
    imageOpenMarked_ = false;
}

bool CCryptAndDe_old::MarkImageOpen() {
    if (dec_.jobMode != 0) return true;
    // Image use decrypts the store in place. Before the first file turns
    // plain the store says so, durably: a run killed while the drive is in
    // use leaves a store the next run encrypts again.
    crypto::StoreRecords rec = crypto::ReadStoreRecords(paramFolder_, false);
    journal_->SetPass(JournalPass::ImageOpen, rec.kind == crypto::kKindHigher ? 1 : 2);
    rec.Wipe();
    if (!journal_->Write({})) {
        log_.Append(journal_->Path() + L",写入失败，原因如下：");
        log_.Append(log_.TakeError());
        return false;
    }
    imageOpenMarked_ = true;
    return true;
}

bool CCryptAndDe_old::StartDecryption(const DecryptJob& job) {
    PrepareDecryption(job);
    if (!MarkImageOpen()) {
        ui_.ShowMessage(L"解密出错。", MessageIcon::Error);
        return false;
    }
    try {
        worker_ = std::thread([this] { DecryptBody(); });
    } catch (...) {
        ui_.ShowMessage(L"解密出错。", MessageIcon::Error);
        return false;
    }
    return true;
}

bool CCryptAndDe_old::RunDecryption(const DecryptJob& job) {
    PrepareDecryption(job);
    if (!MarkImageOpen()) {
        State().done = true;
        return false;
    }
    DecryptBody();
    return true;
}

namespace {
// Where copies of a copy-out job go, and the store folder they mirror.
struct CopyPlan {
    std::wstring from;  // data folder + sub-path
    std::wstring to;    // destination (default: the working area + sub-path)
};
CopyPlan MakeCopyPlan(const DecryptJob& job, const std::wstring& data) {
    CopyPlan p;
    p.from = job.subPath.empty() ? data : plat::WithoutSep(plat::JoinPath(data, job.subPath));
    p.to = !job.destination.empty()
               ? plat::WithoutSep(job.destination)
               : plat::WithoutSep(job.subPath.empty()
                                      ? store::WorkingDir(job.root)
                                      : plat::JoinPath(store::WorkingDir(job.root), job.subPath));
    return p;
}
std::wstring MirrorOf(const CopyPlan& p, const std::wstring& path) {
    const std::wstring base = plat::WithSep(p.from);
    if (!plat::StartsWithNoCase(path, base)) return plat::JoinPath(p.to, plat::LeafName(path));
    return plat::JoinPath(p.to, path.substr(base.size()));
}
}  // namespace

void CCryptAndDe_old::QueueDecrypt(const std::wstring& path, bool moveOut, uint32_t attrs) {
    if (dec_.jobMode == 1) {
        const CopyPlan plan = MakeCopyPlan(dec_, dataFolder_);
        std::wstring out = MirrorOf(plan, crypto::StripSuffix(path));
        (void)MakeDirs(plat::ParentWithSep(out));
        // Never write over something already at the destination, nor over a
        // name an earlier copy of this batch is about to take.
        bool taken = plat::Fs().Exists(out);
        for (const auto& q : queue_) taken = taken || plat::EqualsNoCase(q.out, out);
        if (taken) {
            std::wstring free = ResolveCollision(path, out, NamingRule{NamingSide::Plain, true});
            for (int n = 1; !free.empty() && n < 1000; ++n) {
                bool queued = false;
                for (const auto& q : queue_) queued = queued || plat::EqualsNoCase(q.out, free);
                if (!queued) break;
                free = plat::ParentWithSep(out) +
                       crypto::NumberedName(plat::LeafName(out), n + 1, false);
            }
            if (!free.empty()) out = free;
        }
        Queue(Pending{Pending::DecryptCopy, path, false, out, attrs});
        return;
    }
    Queue(Pending{Pending::DecryptInPlace, path, moveOut, {}, attrs});
}

void CCryptAndDe_old::CollectDecrypt(const std::wstring& folder, bool top,
                                     std::vector<Pending>* out) {
    const CopyPlan plan = MakeCopyPlan(dec_, dataFolder_);
    if (dec_.jobMode == 1) (void)MakeDirs(MirrorOf(plan, folder + plat::kSep));
    bool listed = true;
    auto entries = SortedEntries(folder, &listed);
    if (!listed) return ListFailed(folder);
    for (const auto& e : entries) {
        const std::wstring path = plat::JoinPath(folder, e.name);
        if (e.IsDirectory() && !(e.attributes & plat::kAttrReparsePoint)) {
            if (IsSkippedFolderName(e.name)) continue;
            if (dec_.jobMode == 1 && IsOnPath(path, plan.to)) continue;
            CollectDecrypt(path, false, out);
            if (dec_.jobMode == 2) walkedFolders_.push_back(RelativeToData(path));
        } else if (!IsRunningProgram(path)) {
            out->push_back(
                Pending{Pending::DecryptInPlace, path, top && dec_.jobMode == 2, {}, e.attributes});
        }
    }
}

void CCryptAndDe_old::DecryptBody() {
    PassState& st = State();
    try {
        crypto::ContentCipher::Options options;
        options.legacyHash = dec_.legacyHash;
        try {
            cipher_ = MakeCipher(dec_.password, options);
        } catch (const std::bad_alloc&) {
            ui_.ShowMessage(L"分配内存出错，本次解密失败。", MessageIcon::Error);
            st.done = true;
            return;
        }

        if (st.operation == kOpFullDecrypt && dec_.items.empty()) {
            RemoveEmptyWorkingArea(dataFolder_);
            restore_.RemoveDecorations();
        }
        std::vector<std::wstring> targets;
        std::wstring base = dataFolder_;
        if (!dec_.subPath.empty()) base = plat::WithoutSep(plat::JoinPath(base, dec_.subPath));
        if (dec_.items.empty())
            targets.push_back(base);
        else
            for (const auto& item : dec_.items) targets.push_back(plat::JoinPath(base, item));

        auto isFolder = [](const std::wstring& t) {
            const uint32_t a = plat::Fs().GetAttributes(t);
            return a != plat::kInvalidAttributes && (a & plat::kAttrDirectory) &&
                   !(a & plat::kAttrReparsePoint);
        };
        std::vector<Pending> files;
        listFailures_ = 0;
        for (const auto& t : targets) {
            const uint32_t a = plat::Fs().GetAttributes(t);
            if (a == plat::kInvalidAttributes) continue;
            if ((a & plat::kAttrDirectory) && !(a & plat::kAttrReparsePoint))
                CollectDecrypt(t, true, &files);
            else
                files.push_back(Pending{Pending::DecryptInPlace, t, dec_.jobMode == 2, {}, a});
        }
        st.total = int(files.size()) + listFailures_;
        st.handled = listFailures_;
        st.seen += listFailures_;
        st.strengthSkipped += listFailures_;
        for (const auto& f : files) QueueDecrypt(f.path, f.moveOut, f.attrs);
        RunBatch();
        cipher_.reset();

        if (dec_.jobMode == 2) {
            // Folders go back whole, deepest remembered last-found first; one
            // inside another remembered folder travels with it, and a folder
            // holding a file that did not decrypt stays in the store.
            std::set<std::wstring> remembered;
            for (const auto& rel : walkedFolders_) remembered.insert(plat::Fold(rel));
            for (auto it = walkedFolders_.rbegin(); it != walkedFolders_.rend(); ++it) {
                const std::wstring& rel = *it;
                const std::wstring parent = plat::WithoutSep(plat::ParentWithSep(rel));
                if (!parent.empty() && parent != rel && remembered.count(plat::Fold(parent)))
                    continue;
                if (troubledFolders_.count(plat::Fold(rel))) continue;
                const std::wstring src = plat::JoinPath(dataFolder_, rel);
                if (!isFolder(src)) continue;
                const std::wstring dst = OutsidePath(rel);
                (void)MakeDirs(plat::ParentWithSep(dst));
                (void)restore_.MoveBack(src, dst, true);
            }
            // Item folders emptied by the moves go, once the moves are durable.
            if (!dec_.items.empty()) (void)plat::Fs().SyncVolume(dec_.root);
            if (!dec_.items.empty())
                for (const auto& t : targets)
                    if (isFolder(t)) (void)plat::Fs().RemoveDir(t);
        }

        // What moved out is on the medium before the store can go.
        (void)plat::Fs().SyncVolume(dec_.root);
        const int op = st.operation;
        if ((op == kOpEncrypt || op == kOpFullDecrypt) && st.moveFailed == 0 &&
            st.strengthSkipped == 0 && !st.cancelRequested && carried_.empty()) {
            (void)journal_->Remove();
            (void)restore_.RemoveStore();
        }
        std::vector<const crypto::FileChange*> left;
        for (const auto& c : carried_) left.push_back(c.get());
        if (imageOpenMarked_ || !left.empty()) {
            // The store stays marked until encrypted again; what could not
            // be settled stays for the next run.
            if (plat::Fs().IsDirectory(paramFolder_)) (void)journal_->Write(left);
        } else if (plat::Fs().IsDirectory(paramFolder_)) {
            (void)journal_->Remove();
        }
        (void)plat::Fs().SyncVolume(dec_.root);
    } catch (...) {
        log_.Append(L"解密出错。");
    }
    cipher_.reset();
    st.done = true;
}

}  // namespace engine
