#include "engine/pass_journal.h"

#include <cstring>

#include "app/globals.h"
#include "crypto/records.h"
#include "engine/fail_name_list.h"
#include "engine/hide_pass.h"
#include "engine/pass_state.h"
#include "engine/recovery_guard.h"
#include "engine/restore_pass.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "store/layout.h"

namespace engine {

namespace {

constexpr char kMagic[8] = {'U', 'L', 'X', 'J', 'R', 'N', 'L', '1'};
constexpr size_t kHeaderSize = 8 + 4 + 4 + 4;
// A journal holds one batch; anything far larger was not written by us.
constexpr uint64_t kMaxJournalSize = 64ull << 20;
constexpr uint32_t kMaxRecords = 100000;

void PutU32(std::string* o, uint32_t v) {
    for (int k = 0; k < 4; ++k) o->push_back(char((v >> (8 * k)) & 0xFF));
}

uint32_t GetU32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// `path` relative to `base` (with its separator), or empty when outside.
std::wstring Below(const std::wstring& path, const std::wstring& base) {
    const std::wstring b = plat::WithSep(base);
    if (path.size() <= b.size() || !plat::StartsWithNoCase(path, b)) return {};
    return path.substr(b.size());
}

bool NoLinkOnTheWay(const std::wstring& root, const std::wstring& rel) {
    std::wstring at = plat::WithoutSep(root);
    size_t start = 0;
    for (;;) {
        size_t end = rel.find_first_of(L"\\/", start);
        if (end == std::wstring::npos) return true;  // the last part is the file itself
        at = plat::JoinPath(at, rel.substr(start, end - start));
        const uint32_t a = plat::Fs().GetAttributes(at);
        if (a != plat::kInvalidAttributes && (a & plat::kAttrReparsePoint)) return false;
        start = end + 1;
    }
}

std::wstring Resolve(const std::wstring& root, const std::wstring& rel) {
    if (rel.empty() || !JournalPathWithinBounds(rel)) return {};
    // The rule of the rename-failure list: no root, drive or parent parts;
    // and no link on the way, so a crafted journal cannot reach outside.
    if (!CFailNameList::UsablePath(rel) || rel.find(L':') != std::wstring::npos ||
        !NoLinkOnTheWay(root, rel))
        return {};
    std::wstring native = rel;
    for (auto& ch : native)
        if (ch == L'\\' || ch == L'/') ch = plat::kSep;
    return plat::JoinPath(root, native);
}

}  // namespace

PassJournal::PassJournal(std::wstring root, std::wstring dataFolder, std::wstring paramFolder)
    : root_(std::move(root)), data_(std::move(dataFolder)), param_(std::move(paramFolder)) {
    if (data_.empty()) data_ = store::DataDir(root_);
    if (param_.empty()) param_ = store::ParamDir(root_);
}

void PassJournal::SetPass(JournalPass pass, int strength) {
    pass_ = pass;
    strength_ = strength;
}

std::wstring PassJournal::Path() const {
    return plat::JoinPath(param_, kJournalName);
}

bool PassJournal::Write(const std::vector<const crypto::FileChange*>& batch) {
    const std::wstring& data = data_;
    std::string bytes(kMagic, sizeof kMagic);
    PutU32(&bytes, uint32_t(pass_));
    PutU32(&bytes, uint32_t(strength_));
    std::string records;
    uint32_t count = 0;
    for (const crypto::FileChange* c : batch) {
        crypto::FileChange rel;
        rel.kind = c->kind;
        rel.from = Below(c->from, data);
        rel.to = Below(c->to, data);
        rel.temp = c->temp.empty() ? std::wstring() : Below(c->temp, data);
        if (rel.from.empty() || rel.to.empty() || (!c->temp.empty() && rel.temp.empty()))
            continue;  // outside the store: recovery would not touch it anyway
        rel.oldSize = c->oldSize;
        rel.newSize = c->newSize;
        rel.oldHead = c->oldHead;
        rel.newHead = c->newHead;
        rel.tail = c->tail;
        rel.times = c->times;
        rel.attributes = c->attributes;
        std::string one;
        crypto::SerializeChange(rel, &one);
        rel.Wipe();
        PutU32(&records, uint32_t(one.size()));
        records += one;
        plat::Wipe(one);
        ++count;
    }
    PutU32(&bytes, count);
    bytes += records;
    plat::Wipe(records);
    plat::FileSystem& fs = plat::Fs();
    // A journal in place is replaced whole: the new one is written and
    // flushed beside it first, so a stop at any instant leaves one complete
    // journal (recovery takes the new one only once the old one is gone).
    const bool replace = fs.Exists(Path());
    const std::wstring target = replace ? NextPath() : Path();
    std::unique_ptr<plat::File> f =
        fs.Open(target, plat::Access::ReadWrite, plat::Disposition::CreateAlways);
    bool ok = f && fs.RestrictToOwner(target) &&
              f->WriteAll(bytes.data(), uint32_t(bytes.size())) && f->Flush();
    f.reset();
    plat::Wipe(bytes);
    if (ok && replace) ok = fs.DeleteFile(Path()) && fs.Move(target, Path());
    return ok;
}

std::wstring PassJournal::NextPath() const {
    return Path() + L".new";
}

bool PassJournal::Remove() {
    plat::FileSystem& fs = plat::Fs();
    if (fs.Exists(NextPath())) (void)fs.DeleteFile(NextPath());
    return !fs.Exists(Path()) || fs.DeleteFile(Path());
}

// ---------------------------------------------------------------- recovery

RecoveryReport RecoverFolder(const std::wstring& root, const std::wstring& exePath, PassUi& ui,
                             PassLog& log) {
    RecoveryReport report;
    plat::FileSystem& fs = plat::Fs();
    StartJournalBudget();
    PassJournal journal(root);
    const std::wstring path = journal.Path();
    const std::wstring next = journal.NextPath();
    const uint32_t nextAttrs = fs.GetAttributes(next);
    if (nextAttrs != plat::kInvalidAttributes &&
        !(nextAttrs & (plat::kAttrDirectory | plat::kAttrReparsePoint))) {
        // A replacement stopped half-way: while the old journal is there the
        // new one may be incomplete and its batch untouched; once the old
        // one is gone the new one was complete.
        if (fs.Exists(path))
            (void)fs.DeleteFile(next);
        else
            (void)fs.Move(next, path);
    }
    const uint32_t attrs = fs.GetAttributes(path);
    if (attrs == plat::kInvalidAttributes) {
        // No journal. Records without a data folder are what a store's
        // removal leaves when it is stopped half-way: finish it.
        const std::wstring storeRoot = plat::JoinPath(root, store::kStoreRoot);
        if (!fs.IsDirectory(store::DataDir(root)) && fs.IsDirectory(storeRoot)) {
            if (!CheckLeftoversAreOurs(root, &report, log)) return report;
            RemoveStoreLeftovers(root, store::ParamDir(root));
            (void)fs.RemoveDir(storeRoot);  // only when nothing else is in it
            report.storeRemoved = !fs.Exists(storeRoot);
        }
        return report;
    }
    report.journal = true;
    auto damaged = [&]() {
        report.damaged = true;
        log.Append(path + L",无法读取，上次中断的操作没有恢复。");
        return report;
    };
    if (attrs & (plat::kAttrDirectory | plat::kAttrReparsePoint)) return damaged();
    std::unique_ptr<plat::File> f =
        fs.Open(path, plat::Access::Read, plat::Disposition::OpenExisting);
    uint64_t size = 0;
    if (!f || !f->Size(&size) || size > kMaxJournalSize) return damaged();
    std::vector<uint8_t> bytes(size_t(size), 0);
    if (size && !f->ReadExact(bytes.data(), uint32_t(size))) return damaged();
    f.reset();

    JournalPass pass = JournalPass::Files;
    int strength = 0;
    std::vector<std::unique_ptr<crypto::FileChange>> changes;
    if (size < kHeaderSize) {
        // Stopped while the journal itself was being written: no file of
        // that batch was touched yet.
    } else if (std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
        return damaged();
    } else {
        const uint32_t p = GetU32(bytes.data() + 8);
        strength = int(GetU32(bytes.data() + 12));
        const uint32_t count = GetU32(bytes.data() + 16);
        if (p > 3 || strength < 0 || strength > 2 || count > kMaxRecords) return damaged();
        pass = JournalPass(p);
        size_t at = kHeaderSize;
        const std::wstring data = store::DataDir(root);
        for (uint32_t k = 0; k < count; ++k) {
            // A record cut short was being written when the pass stopped:
            // its file was not touched yet, nor were those after it.
            if (bytes.size() - at < 4) break;
            const uint32_t len = GetU32(bytes.data() + at);
            if (len > bytes.size() - at - 4) break;
            auto c = std::make_unique<crypto::FileChange>();
            size_t used = 0;
            if (!crypto::ParseChange(bytes.data() + at + 4, len, &used, c.get()) || used != len)
                return damaged();
            at += 4 + len;
            c->from = Resolve(data, c->from);
            c->to = Resolve(data, c->to);
            if (!c->temp.empty()) c->temp = Resolve(data, c->temp);
            if (c->from.empty() || c->to.empty() ||
                (c->kind != crypto::ChangeKind::EncryptFirstBlock &&
                 c->kind != crypto::ChangeKind::DecryptFirstBlock && c->temp.empty())) {
                log.Append(path + L",含有存储区以外的路径，已忽略。");
                continue;
            }
            changes.push_back(std::move(c));
        }
    }
    std::fill(bytes.begin(), bytes.end(), uint8_t(0));
    if (JournalBudgetExceeded()) return damaged();

    std::vector<const crypto::FileChange*> left;
    for (auto& c : changes) {
        if (crypto::SettleChange(*c)) {
            ++report.settled;
        } else {
            ++report.unsettled;
            left.push_back(c.get());
            log.Append(c->from + L" 失败,恢复文件错");
        }
    }

    const bool haveData = fs.IsDirectory(store::DataDir(root));
    if (!haveData) {
        // The store was being made (nothing of the user's moved yet), or
        // being removed: either way only records of ours are left.
        if (report.unsettled == 0 && CheckLeftoversAreOurs(root, &report, log)) {
            RemoveStoreLeftovers(root, store::ParamDir(root));
            (void)fs.RemoveDir(plat::JoinPath(root, store::kStoreRoot));
            report.storeRemoved = true;
        }
        return report;
    }
    if (pass == JournalPass::NewStore) {
        // Finish hiding what the interrupted pass had not moved yet; the
        // records are in place, so no password is needed.
        CJiaMiWeiZhuang hide(ui, log);
        HideJob job;
        job.root = root;
        job.mode = 0;
        job.storeReady = true;
        job.exePath = exePath;
        PassState& st = State();
        const int keepKind = st.kind, keepOp = st.operation;
        (void)hide.Run(job);
        st.kind = keepKind;
        st.operation = keepOp;
        report.hidingFinished = true;
        if (strength > 0) pass = JournalPass::PendingStrength;
    }
    if ((pass == JournalPass::PendingStrength || pass == JournalPass::ImageOpen) && haveData) {
        report.pendingStrength = true;
        report.imageOpen = pass == JournalPass::ImageOpen;
        report.pendingStrengthKind = strength;
        journal.SetPass(pass, strength);
        if (!journal.Write(left)) report.unsettled += 1;
        return report;
    }
    if (!left.empty()) {
        journal.SetPass(JournalPass::Files, 0);
        (void)journal.Write(left);
        return report;
    }
    if (!journal.Remove()) ++report.unsettled;
    return report;
}

// ---------------------------------------------------------------- new store

bool CreateNewStore(const std::wstring& root, const std::wstring& password,
                    const std::wstring& mail, const std::wstring& kindText, int strength,
                    PassLog& log) {
    plat::FileSystem& fs = plat::Fs();
    const std::wstring storeRoot = plat::JoinPath(root, store::kStoreRoot);
    const std::wstring param = store::ParamDir(root);
    const std::wstring data = store::DataDir(root);
    if (root.empty() || fs.Exists(data)) {
        log.Append(L"建立基本目录失败。");
        return false;
    }
    const bool hadStoreRoot = fs.IsDirectory(storeRoot);
    const bool hadParam = fs.IsDirectory(param);
    auto undo = [&](const std::wstring& line) {
        const uint32_t code = plat::LastError();
        log.Append(line);
        if (code != 0) log.Append(ErrorCodeText(code));
        store::DeleteStoreMetadata(param);
        (void)fs.DeleteFile(plat::JoinPath(param, store::kPasswordRecord) + L".tmp");
        (void)fs.DeleteFile(plat::JoinPath(param, kJournalName));
        if (!hadParam) (void)fs.RemoveDir(param);
        if (!hadStoreRoot) (void)fs.RemoveDir(storeRoot);
        return false;
    };
    if ((!hadStoreRoot && !fs.CreateDir(storeRoot)) || (!hadParam && !fs.CreateDir(param)))
        return undo(L"建立基本目录失败。");
    const uint32_t a = fs.GetAttributes(storeRoot);
    if (a != plat::kInvalidAttributes)
        (void)fs.SetAttributes(storeRoot, a | plat::kAttrHidden | plat::kAttrSystem);

    PassJournal journal(root);
    journal.SetPass(JournalPass::NewStore, strength);
    if (!journal.Write({})) return undo(L"建立基本目录失败。");
    if (!store::WriteStoreMetadata(root, password, mail, kindText))
        return undo(plat::JoinPath(param, store::kPasswordRecord) + L",写密码记录失败，原因如下：");
    if (strength > 0 && !crypto::SealPasswordRecord(param, password))
        return undo(plat::JoinPath(param, store::kPasswordRecord) + L",加密失败，原因如下：");
    // The records must be on the medium before the folder counts as encrypted.
    if (!fs.SyncVolume(param)) return undo(L"建立基本目录失败。");
    if (!fs.CreateDir(data)) return undo(L"建立基本目录失败。");
    return true;
}

}  // namespace engine
