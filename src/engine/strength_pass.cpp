#include "engine/strength_pass.h"

#include <algorithm>
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

constexpr const wchar_t* kMsgCrash =
    L"由于上次解密过程中发现异常错误。在本次解密后，如果您发现有些文件的后缀为elxjm。\r\n\r\n"
    L"请您按如下提示进行操作：\r\n"
    L"1、通过岚栩便携的较高强度利用原来的密码将该文件所在的文件夹加密一次，然后再解密就可以了。\r\n"
    L"注意以下几点：1)、必须是岚栩只读加密的较高强度方式；2)、必须是原来的密码。";

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
    return plat::UserSettings().GetWinIniInt(app::kWinIniSection, app::WinIniKeys::Error, 0);
}

void CCryptAndDe_old::WriteCrashMarker(int value) {
    (void)plat::UserSettings().WriteWinIniString(app::kWinIniSection, app::WinIniKeys::Error,
                                                 std::to_wstring(value));
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
    // Files an earlier pass decrypted but could not give back their plain
    // name: rename them now, so that nothing takes them for encrypted.
    failNames_.Load(plat::JoinPath(paramFolder_, store::kRenameFailList));
    CFailNameList left;
    for (const auto& item : failNames_.items) {
        const std::wstring path = plat::JoinPath(dataFolder_, item.path);
        if (!plat::Fs().Exists(path) || crypto::ClassifyName(path) == crypto::kClassPlain) continue;
        if (!crypto::RenameMovingAside(path, crypto::StripSuffix(path))) left.items.push_back(item);
    }
    failNames_ = left;
}

// ---- encryption ------------------------------------------------------------

void CCryptAndDe_old::SealRecords() {
    (void)store::WriteStoreMetadata(ProtectedFolder(), enc_.password, enc_.mail, enc_.kindText);
    sealed_ = crypto::SealPasswordRecord(paramFolder_, enc_.password);
    if (sealed_) return;
    log_.Append(plat::JoinPath(paramFolder_, store::kPasswordRecord) + L",加密失败，原因如下：");
    log_.Append(log_.TakeError());
    State().fileOk = false;
}

bool CCryptAndDe_old::PrepareEncryption(const StrengthJob& job) {
    Wait();
    enc_ = job;
    State().Reset();
    failNames_.Clear();
    sealed_ = false;
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
            if (!store::CreateStoreFolders(job.root)) {
                log_.Append(L"建立基本目录失败。");
                return false;
            }
    }
    paramFolder_ = store::ParamDir(ProtectedFolder());
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

void CCryptAndDe_old::EncryptWalk(const std::wstring& folder, bool count, int* counted) {
    for (const auto& e : SortedEntries(folder)) {
        if (!count && State().cancelRequested) {
            ShowCancelOnce();
            return;
        }
        const std::wstring path = plat::JoinPath(folder, e.name);
        if (e.IsDirectory()) {
            if (!IsSkippedFolderName(e.name)) EncryptWalk(path, count, counted);
        } else if (!IsRunningProgram(path)) {
            if (count)
                ++*counted;
            else
                cipher_->Encrypt(path);
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
        if (op == kOpEncrypt || op == kOpBrowse) {
            HideJob h;
            h.root = enc_.root;
            h.items = enc_.items;
            h.password = enc_.password;
            h.mail = enc_.mail;
            h.kindText = enc_.kindText;
            h.mode = enc_.jobMode;
            h.storeFolder = enc_.storeFolder;
            h.subPath = enc_.subPath;
            (void)hide_.RunInline(h);
        }
        // A new store gets its sealed password record before any file is
        // touched: a pass that is interrupted leaves a store that opens.
        if (op == kOpEncrypt) SealRecords();

        std::vector<std::wstring> targets;
        if (enc_.items.empty()) {
            targets.push_back(dataFolder_);
        } else {
            std::wstring base = dataFolder_;
            if (enc_.jobMode == 2 && !enc_.subPath.empty())
                base = plat::JoinPath(base, enc_.subPath);
            for (const auto& item : enc_.items) targets.push_back(plat::JoinPath(base, item));
        }
        int counted = 0;
        for (const auto& t : targets) {
            if (plat::Fs().IsDirectory(t))
                EncryptWalk(t, true, &counted);
            else if (plat::Fs().Exists(t) && !IsRunningProgram(t))
                ++counted;
        }
        st.total = counted;
        st.handled = 0;
        for (const auto& t : targets) {
            if (st.cancelRequested) {
                ShowCancelOnce();
                break;
            }
            if (plat::Fs().IsDirectory(t))
                EncryptWalk(t, false, nullptr);
            else if (plat::Fs().Exists(t) && !IsRunningProgram(t))
                cipher_->Encrypt(t);
        }
        // What a cancel left plain stays hidden in the store; count it.
        if (st.cancelRequested && st.handled < st.total)
            st.strengthSkipped += st.total - st.handled;

        // Sealed once per pass: sealing again would move the first sealed
        // record aside under a numbered name.
        if (op == kOpEncrypt && !sealed_) SealRecords();
        cipher_.reset();
        if (op == kOpEncrypt)
            (void)failNames_.Save(plat::JoinPath(paramFolder_, store::kRenameFailList));
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
    dataFolder_ =
        job.dataFolder.empty() ? store::DataDir(job.root) : plat::WithoutSep(job.dataFolder);
    paramFolder_ =
        job.paramFolder.empty() ? store::ParamDir(job.root) : plat::WithoutSep(job.paramFolder);
    restore_.SetFolder(job.root, dataFolder_, paramFolder_);
    RepairNames();
    if (dec_.crashMark < 0) dec_.crashMark = ReadCrashMarker();
    {
        std::lock_guard<std::mutex> lock(shownLock_);
        shown_.clear();
    }
    begun_ = 0;
    crashFlag_ = false;
    walkedFolders_.clear();
    troubledFolders_.clear();
}

bool CCryptAndDe_old::StartDecryption(const DecryptJob& job) {
    PrepareDecryption(job);
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

void CCryptAndDe_old::CountDecrypt(const std::wstring& folder, int* counted) {
    const CopyPlan plan = MakeCopyPlan(dec_, dataFolder_);
    for (const auto& e : SortedEntries(folder)) {
        const std::wstring path = plat::JoinPath(folder, e.name);
        if (e.IsDirectory()) {
            if (IsSkippedFolderName(e.name)) continue;
            if (dec_.jobMode == 1 && IsOnPath(path, plan.to)) continue;
            CountDecrypt(path, counted);
        } else if (!IsRunningProgram(path)) {
            ++*counted;
        }
    }
}

bool CCryptAndDe_old::DecryptOne(const std::wstring& path, bool moveOut) {
    PassState& st = State();
    ++begun_;
    WriteCrashMarker(begun_);
    if (dec_.crashMark > 0 && begun_ >= dec_.crashMark) {
        // An earlier run ended abruptly from this file on: leave these files
        // as they are, in the store, and say so.
        crashFlag_ = true;
        ShowMessageOnce(kMsgCrash);
        st.SetCurrentObject(path);
        ++st.seen;
        ++st.strengthSkipped;
        ++st.handled;
        log_.Append(plat::JoinPath(dec_.root, RelativeToData(path)));
        return false;
    }
    if (dec_.jobMode == 1) {
        const CopyPlan plan = MakeCopyPlan(dec_, dataFolder_);
        std::wstring out = MirrorOf(plan, crypto::StripSuffix(path));
        (void)MakeDirs(plat::ParentWithSep(out));
        // Never write over something already at the destination.
        if (plat::Fs().Exists(out)) {
            std::wstring free = ResolveCollision(path, out, NamingRule{NamingSide::Plain, true});
            if (!free.empty()) out = free;
        }
        return cipher_->DecryptToCopy(path, out).ok();
    }
    crypto::DecryptResult r = cipher_->DecryptInPlace(path, true);
    if (!r.ok()) return false;
    if (crypto::ClassifyName(r.path) != crypto::kClassPlain) {
        // Decrypted, but still under its encrypted name: remember it so that
        // the next pass renames it instead of decrypting it twice, and keep
        // it (and its folder) in the store until then.
        const std::wstring error = log_.TakeError();
        failNames_.Add(RelativeToData(r.path), crypto::ClassifyName(r.path));
        ++st.moveFailed;
        log_.Append(L"文件" + r.path + L",解密失败，原因如下：");
        log_.Append(error);
        return false;
    }
    if (!moveOut) return true;
    const std::wstring plain = crypto::StripSuffix(r.path);
    const std::wstring dst = OutsidePath(RelativeToData(plain));
    (void)MakeDirs(plat::ParentWithSep(dst));
    return restore_.MoveBack(r.path, dst, true);
}

bool CCryptAndDe_old::DecryptWalk(const std::wstring& folder, bool top) {
    PassState& st = State();
    const CopyPlan plan = MakeCopyPlan(dec_, dataFolder_);
    if (dec_.jobMode == 1) (void)MakeDirs(MirrorOf(plan, folder + plat::kSep));
    bool listed = true;
    auto entries = SortedEntries(folder, &listed);
    bool allOk = listed;
    for (const auto& e : entries) {
        if (st.cancelRequested) {
            ShowCancelOnce();
            return false;
        }
        const std::wstring path = plat::JoinPath(folder, e.name);
        if (e.IsDirectory()) {
            if (IsSkippedFolderName(e.name)) continue;
            if (dec_.jobMode == 1 && IsOnPath(path, plan.to)) continue;
            const bool ok = DecryptWalk(path, false);
            if (dec_.jobMode == 2) {
                walkedFolders_.push_back(RelativeToData(path));
                if (!ok) troubledFolders_.insert(plat::Fold(RelativeToData(path)));
            }
            allOk = allOk && ok;
        } else if (!IsRunningProgram(path)) {
            allOk = DecryptOne(path, top && dec_.jobMode == 2) && allOk;
        }
    }
    return allOk;
}

void CCryptAndDe_old::DecryptBody() {
    PassState& st = State();
    try {
        crypto::ContentCipher::Options options;
        options.checkTrailerPassword = dec_.checkTrailerPassword;
        options.legacyHash = dec_.legacyHash;
        try {
            cipher_ = MakeCipher(dec_.password, options);
        } catch (const std::bad_alloc&) {
            ui_.ShowMessage(L"分配内存出错，本次解密失败。", MessageIcon::Error);
            st.done = true;
            return;
        }

        if (st.operation == kOpFullDecrypt && dec_.items.empty())
            RemoveEmptyWorkingArea(dataFolder_);
        std::vector<std::wstring> targets;
        std::wstring base = dataFolder_;
        if (!dec_.subPath.empty()) base = plat::WithoutSep(plat::JoinPath(base, dec_.subPath));
        if (dec_.items.empty())
            targets.push_back(base);
        else
            for (const auto& item : dec_.items) targets.push_back(plat::JoinPath(base, item));

        int counted = 0;
        for (const auto& t : targets) {
            if (plat::Fs().IsDirectory(t))
                CountDecrypt(t, &counted);
            else if (plat::Fs().Exists(t))
                ++counted;
        }
        st.total = counted;

        for (const auto& t : targets) {
            if (st.cancelRequested) {
                ShowCancelOnce();
                break;
            }
            if (plat::Fs().IsDirectory(t))
                (void)DecryptWalk(t, true);
            else if (plat::Fs().Exists(t))
                (void)DecryptOne(t, dec_.jobMode == 2);
        }
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
                // A failure deep inside marks every folder above it too.
                const bool troubled = troubledFolders_.count(plat::Fold(rel)) > 0;
                if (troubled) continue;
                const std::wstring src = plat::JoinPath(dataFolder_, rel);
                if (!plat::Fs().IsDirectory(src)) continue;
                const std::wstring dst = OutsidePath(rel);
                (void)MakeDirs(plat::ParentWithSep(dst));
                (void)restore_.MoveBack(src, dst, true);
            }
            // Item folders emptied by the moves go.
            if (!dec_.items.empty())
                for (const auto& t : targets)
                    if (plat::Fs().IsDirectory(t)) (void)plat::Fs().RemoveDir(t);
        }

        const int op = st.operation;
        bool storeRemoved = false;
        if ((op == kOpEncrypt || op == kOpFullDecrypt) && st.moveFailed == 0 &&
            st.strengthSkipped == 0 && !st.cancelRequested)
            storeRemoved = restore_.RemoveStore();
        if (!storeRemoved && plat::Fs().IsDirectory(paramFolder_))
            (void)failNames_.Save(plat::JoinPath(paramFolder_, store::kRenameFailList));
    } catch (...) {
        log_.Append(L"解密出错。");
    }
    cipher_.reset();
    WriteCrashMarker(0);
    st.done = true;
}

}  // namespace engine
