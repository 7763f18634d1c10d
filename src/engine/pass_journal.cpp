#include "engine/pass_journal.h"

#include <cstring>

#include "app/globals.h"
#include "crypto/crc32.h"
#include "crypto/records.h"
#include "engine/fail_name_list.h"
#include "engine/hide_pass.h"
#include "engine/pass_state.h"
#include "engine/restore_pass.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "store/layout.h"

namespace engine {

namespace {

// Journals of earlier versions: header, then records without checksums.
constexpr char kMagicV1[8] = {'U', 'L', 'X', 'J', 'R', 'N', 'L', '1'};
constexpr size_t kHeaderSizeV1 = 8 + 4 + 4 + 4;
// Now: magic, header checksum, then sequence, pass, strength, record count
// and body length; each record is its length, its bytes and their checksum.
constexpr char kMagic[8] = {'U', 'L', 'X', 'J', 'R', 'N', 'L', '2'};
constexpr size_t kHeaderSize = 8 + 4 + 5 * 4;
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
    if (rel.empty()) return {};
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
        rel.sourceDigest = c->sourceDigest;
        rel.outputDigest = c->outputDigest;
        rel.times = c->times;
        rel.attributes = c->attributes;
        std::string one;
        crypto::SerializeChange(rel, &one);
        rel.Wipe();
        PutU32(&records, uint32_t(one.size()));
        records += one;
        PutU32(&records, crypto::Crc32(one.data(), one.size()));
        plat::Wipe(one);
        ++count;
    }
    plat::FileSystem& fs = plat::Fs();
    if (!slotsRead_) {
        // Continue the numbering of whatever journal is in force.
        slotsRead_ = true;
        const std::wstring slots[2] = {Path(), NextPath()};
        for (int k = 0; k < 2; ++k) {
            std::string head;
            uint64_t size = 0;
            if (!plat::ReadSmallFile(slots[k], kMaxJournalSize, &head, &size) ||
                head.size() < kHeaderSize || std::memcmp(head.data(), kMagic, 8) != 0)
                continue;
            const auto* h = reinterpret_cast<const uint8_t*>(head.data());
            if (GetU32(h + 8) != crypto::Crc32(h + 12, kHeaderSize - 12)) continue;
            const uint32_t seq = GetU32(h + 12);
            if (latest_ < 0 || seq > sequence_) {
                sequence_ = seq;
                latest_ = k;
            }
            plat::Wipe(head);
        }
    }
    std::string bytes(kMagic, sizeof kMagic);
    std::string header;
    PutU32(&header, sequence_ + 1);
    PutU32(&header, uint32_t(pass_));
    PutU32(&header, uint32_t(strength_));
    PutU32(&header, count);
    PutU32(&header, uint32_t(records.size()));
    PutU32(&bytes, crypto::Crc32(header.data(), header.size()));
    bytes += header;
    bytes += records;
    plat::Wipe(records);
    // Into the other slot, in place: a longer journal that was there leaves
    // bytes past the body, which the body length tells from ours.
    const int slot = latest_ == 0 ? 1 : 0;
    const std::wstring target = slot == 0 ? Path() : NextPath();
    std::unique_ptr<plat::File> f =
        fs.Open(target, plat::Access::ReadWrite, plat::Disposition::OpenAlways);
    bool ok = f && fs.RestrictToOwner(target) && f->Seek(0, SEEK_SET) &&
              f->WriteAll(bytes.data(), uint32_t(bytes.size()));
    f.reset();
    plat::Wipe(bytes);
    // Durable, with everything before it, before the batch changes anything.
    ok = ok && fs.SyncVolume(param_);
    if (ok) {
        ++sequence_;
        latest_ = slot;
    }
    return ok;
}

std::wstring PassJournal::NextPath() const {
    return Path() + L".new";
}

bool PassJournal::Remove() {
    plat::FileSystem& fs = plat::Fs();
    bool ok = true;
    for (const std::wstring& slot : {NextPath(), Path()})
        if (fs.Exists(slot)) ok = fs.DeleteFile(slot) && ok;
    latest_ = -1;
    return fs.SyncVolume(fs.IsDirectory(param_) ? param_ : root_) && ok;
}

// ---------------------------------------------------------------- recovery

namespace {

// One slot of the journal as read from disk.
struct Slot {
    enum State { Absent, Torn, Foreign, Valid, Unreadable } state = Absent;
    uint32_t sequence = 0;
    JournalPass pass = JournalPass::Files;
    int strength = 0;
    std::vector<std::unique_ptr<crypto::FileChange>> changes;
    int outside = 0;  // records naming paths outside the data folder
};

// Turns a record's store-relative paths into full ones; false when a path
// would leave the data folder.
bool ResolveChange(const std::wstring& data, crypto::FileChange* c) {
    c->from = Resolve(data, c->from);
    c->to = Resolve(data, c->to);
    if (!c->temp.empty()) c->temp = Resolve(data, c->temp);
    return !c->from.empty() && !c->to.empty() && (c->InPlace() || !c->temp.empty());
}

Slot ReadSlot(const std::wstring& path, const std::wstring& data) {
    Slot slot;
    plat::FileSystem& fs = plat::Fs();
    const uint32_t attrs = fs.GetAttributes(path);
    if (attrs == plat::kInvalidAttributes) return slot;
    if (attrs & (plat::kAttrDirectory | plat::kAttrReparsePoint)) {
        slot.state = Slot::Foreign;
        return slot;
    }
    std::string raw;
    uint64_t size = 0;
    if (!plat::ReadSmallFile(path, kMaxJournalSize, &raw, &size)) {
        slot.state = size > kMaxJournalSize ? Slot::Foreign : Slot::Unreadable;
        return slot;
    }
    std::vector<uint8_t> bytes(raw.begin(), raw.end());
    plat::Wipe(raw);
    struct Wiper {
        std::vector<uint8_t>& b;
        ~Wiper() { std::fill(b.begin(), b.end(), uint8_t(0)); }
    } wiper{bytes};
    // Nothing, or zeros where a write was cut short: no batch of it began.
    if (std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; })) {
        slot.state = Slot::Torn;
        return slot;
    }
    if (bytes.size() >= 8 && std::memcmp(bytes.data(), kMagicV1, 8) == 0) {
        // An earlier version's journal: no checksums to go by.
        if (bytes.size() < kHeaderSizeV1) {
            slot.state = Slot::Torn;
            return slot;
        }
        const uint32_t p = GetU32(bytes.data() + 8);
        const uint32_t strength = GetU32(bytes.data() + 12);
        const uint32_t count = GetU32(bytes.data() + 16);
        if (p > 3 || strength > 2 || count > kMaxRecords) {
            slot.state = Slot::Foreign;
            return slot;
        }
        slot.pass = JournalPass(p);
        slot.strength = int(strength);
        size_t at = kHeaderSizeV1;
        for (uint32_t k = 0; k < count; ++k) {
            if (bytes.size() - at < 4) break;
            const uint32_t len = GetU32(bytes.data() + at);
            if (len > bytes.size() - at - 4) break;
            auto c = std::make_unique<crypto::FileChange>();
            size_t used = 0;
            if (!crypto::ParseChange(bytes.data() + at + 4, len, &used, c.get()) || used != len) {
                slot.state = Slot::Foreign;
                return slot;
            }
            at += 4 + len;
            if (ResolveChange(data, c.get()))
                slot.changes.push_back(std::move(c));
            else
                ++slot.outside;
        }
        slot.state = Slot::Valid;
        return slot;
    }
    if (bytes.size() < kHeaderSize) {
        slot.state = std::memcmp(bytes.data(), kMagic, std::min<size_t>(8, bytes.size())) == 0
                         ? Slot::Torn
                         : Slot::Foreign;
        return slot;
    }
    if (std::memcmp(bytes.data(), kMagic, 8) != 0 ||
        GetU32(bytes.data() + 8) != crypto::Crc32(bytes.data() + 12, kHeaderSize - 12)) {
        slot.state = Slot::Foreign;
        return slot;
    }
    slot.sequence = GetU32(bytes.data() + 12);
    const uint32_t p = GetU32(bytes.data() + 16);
    const uint32_t strength = GetU32(bytes.data() + 20);
    const uint32_t count = GetU32(bytes.data() + 24);
    const uint32_t body = GetU32(bytes.data() + 28);
    if (p > 3 || strength > 2 || count > kMaxRecords) {
        slot.state = Slot::Foreign;
        return slot;
    }
    // A body cut short: the write of this journal did not end, so no file
    // of its batch was touched.
    if (body > bytes.size() - kHeaderSize) {
        slot.state = Slot::Torn;
        return slot;
    }
    slot.pass = JournalPass(p);
    slot.strength = int(strength);
    size_t at = kHeaderSize;
    const size_t end = kHeaderSize + body;
    for (uint32_t k = 0; k < count; ++k) {
        if (end - at < 8) {
            slot.state = Slot::Foreign;
            return slot;
        }
        const uint32_t len = GetU32(bytes.data() + at);
        if (len > end - at - 8 ||
            GetU32(bytes.data() + at + 4 + len) != crypto::Crc32(bytes.data() + at + 4, len)) {
            slot.state = Slot::Foreign;
            return slot;
        }
        auto c = std::make_unique<crypto::FileChange>();
        size_t used = 0;
        if (!crypto::ParseChange(bytes.data() + at + 4, len, &used, c.get()) || used != len) {
            slot.state = Slot::Foreign;
            return slot;
        }
        at += 8 + len;
        if (ResolveChange(data, c.get()))
            slot.changes.push_back(std::move(c));
        else
            ++slot.outside;
    }
    if (at != end) {
        slot.state = Slot::Foreign;
        return slot;
    }
    slot.state = Slot::Valid;
    return slot;
}

// Keeps a journal that is not ours to apply out of the way, under a name
// that says so; returns that name (empty when it could not be moved).
std::wstring SetAside(const std::wstring& path) {
    plat::FileSystem& fs = plat::Fs();
    for (int n = 0; n < 100; ++n) {
        const std::wstring to =
            path + L".damaged" + (n ? L"[" + std::to_wstring(n) + L"]" : std::wstring());
        if (fs.Exists(to)) continue;
        return fs.Move(path, to) ? to : std::wstring();
    }
    return {};
}

}  // namespace

RecoveryReport RecoverFolder(const std::wstring& root, const std::wstring& exePath, PassUi& ui,
                             PassLog& log) {
    RecoveryReport report;
    plat::FileSystem& fs = plat::Fs();
    PassJournal journal(root);
    const std::wstring paths[2] = {journal.Path(), journal.NextPath()};
    const std::wstring data = store::DataDir(root);
    Slot slots[2] = {ReadSlot(paths[0], data), ReadSlot(paths[1], data)};
    if (slots[0].state == Slot::Absent && slots[1].state == Slot::Absent) {
        // No journal. Records without a data folder are what a store's
        // removal leaves when it is stopped half-way: finish it.
        const std::wstring storeRoot = plat::JoinPath(root, store::kStoreRoot);
        if (!fs.IsDirectory(store::DataDir(root)) && fs.IsDirectory(storeRoot)) {
            RemoveStoreLeftovers(root, store::ParamDir(root));
            (void)fs.RemoveDir(storeRoot);  // only when nothing else is in it
            report.storeRemoved = !fs.Exists(storeRoot);
            (void)fs.SyncVolume(root);
        }
        return report;
    }
    report.journal = true;
    for (int k = 0; k < 2; ++k) {
        if (slots[k].state != Slot::Unreadable) continue;
        // A read error is not a verdict: leave everything for a later run.
        report.damaged = true;
        log.Append(paths[k] + L",无法读取，上次中断的操作没有恢复。");
        log.Append(log.TakeError());
        return report;
    }
    int use = -1;
    for (int k = 0; k < 2; ++k)
        if (slots[k].state == Slot::Valid && (use < 0 || slots[k].sequence > slots[use].sequence))
            use = k;
    for (int k = 0; k < 2; ++k) {
        if (k == use || slots[k].state == Slot::Absent) continue;
        // The older slot, or a write cut short: nothing of it is in force.
        // A slot that is not ours at all (no journal, damaged, crafted) is
        // kept aside and never applied.
        if (slots[k].state == Slot::Foreign && (use < 0 || slots[k].sequence == 0)) {
            const std::wstring kept = SetAside(paths[k]);
            report.setAside = kept.empty() ? paths[k] : kept;
            log.Append(paths[k] + L",不是完整的操作记录，没有使用" +
                       (kept.empty() ? std::wstring(L"。") : L"，已另存为" + kept + L"。"));
        } else {
            (void)fs.DeleteFile(paths[k]);
        }
    }
    JournalPass pass = JournalPass::Files;
    int strength = 0;
    std::vector<std::unique_ptr<crypto::FileChange>> changes;
    if (use >= 0) {
        pass = slots[use].pass;
        strength = slots[use].strength;
        changes = std::move(slots[use].changes);
        if (slots[use].outside) log.Append(paths[use] + L",含有存储区以外的路径，已忽略。");
    }

    std::vector<const crypto::FileChange*> left;
    for (auto& c : changes) {
        switch (crypto::Settle(*c)) {
            case crypto::Settled::Done:
                ++report.settled;
                break;
            case crypto::Settled::LeftAlone:
                ++report.leftAlone;
                log.Append(c->from + L" 与上次操作的记录不符，已原样保留（包括" +
                           plat::LeafName(c->to) + L"和" +
                           plat::LeafName(c->temp.empty() ? c->from : c->temp) + L"）。");
                break;
            case crypto::Settled::Failed:
                ++report.unsettled;
                left.push_back(c.get());
                log.Append(c->from + L" 失败,恢复文件错");
                break;
        }
    }
    // What was settled is on the medium before the journal says so.
    if (!changes.empty()) (void)fs.SyncVolume(root);

    const bool haveData = fs.IsDirectory(store::DataDir(root));
    if (!haveData) {
        // The store was being made (nothing of the user's moved yet), or
        // being removed: either way only records of ours are left.
        if (report.unsettled == 0) {
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
