#include "crypto/file_change.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "crypto/md5.h"

namespace crypto {

namespace {

// Journal limits: a record never describes more than a block and a trailer.
constexpr size_t kMaxHead = 1024;
constexpr size_t kMaxTail = 1024;
constexpr size_t kMaxPathUnits = 32768;

void WipeBytes(std::vector<uint8_t>& v) {
    std::fill(v.begin(), v.end(), uint8_t(0));
    v.clear();
}

bool ClearReadOnly(const std::wstring& path, uint32_t* was) {
    plat::FileSystem& fs = plat::Fs();
    uint32_t a = fs.GetAttributes(path);
    *was = a;
    if (a == plat::kInvalidAttributes || !(a & plat::kAttrReadOnly)) return true;
    return fs.SetAttributes(path, a & ~plat::kAttrReadOnly);
}

void PutBackReadOnly(const std::wstring& path, uint32_t attrs) {
    if (attrs != plat::kInvalidAttributes && (attrs & plat::kAttrReadOnly))
        (void)plat::Fs().SetAttributes(path, attrs & ~plat::kAttrDirectory);
}

bool WriteAt(plat::File& f, uint64_t offset, const std::vector<uint8_t>& bytes) {
    return bytes.empty() ||
           (f.Seek(int64_t(offset), SEEK_SET) && f.WriteAll(bytes.data(), uint32_t(bytes.size())));
}

// Gives the file at `path` the head, tail and length of one side of the change.
bool Rewrite(const std::wstring& path, const FileChange& c, bool forward) {
    uint32_t attrs = 0;
    if (!ClearReadOnly(path, &attrs)) return false;
    std::unique_ptr<plat::File> f =
        plat::Fs().Open(path, plat::Access::ReadWrite, plat::Disposition::OpenExisting);
    if (!f) return false;
    const bool encrypting = c.kind == ChangeKind::EncryptFirstBlock;
    bool ok;
    if (forward) {
        ok = WriteAt(*f, 0, c.newHead) && (!encrypting || WriteAt(*f, c.oldSize, c.tail)) &&
             f->Seek(int64_t(c.newSize), SEEK_SET) && f->Truncate();
    } else {
        ok = WriteAt(*f, 0, c.oldHead) && (encrypting || WriteAt(*f, c.newSize, c.tail)) &&
             f->Seek(int64_t(c.oldSize), SEEK_SET) && f->Truncate();
    }
    (void)f->SetTimes(c.times);
    f.reset();
    PutBackReadOnly(path, c.attributes);
    return ok;
}

bool DeleteIfPresent(const std::wstring& path) {
    plat::FileSystem& fs = plat::Fs();
    uint32_t a = fs.GetAttributes(path);
    if (a == plat::kInvalidAttributes) return true;
    if (a & (plat::kAttrDirectory | plat::kAttrReparsePoint)) return false;
    if (a & plat::kAttrReadOnly) (void)fs.SetAttributes(path, a & ~plat::kAttrReadOnly);
    return fs.DeleteFile(path);
}

bool IsPlainFile(const std::wstring& path) {
    uint32_t a = plat::Fs().GetAttributes(path);
    return a != plat::kInvalidAttributes && !(a & (plat::kAttrDirectory | plat::kAttrReparsePoint));
}

}  // namespace

void FileChange::Wipe() {
    handle.reset();
    WipeBytes(oldHead);
    WipeBytes(newHead);
    WipeBytes(tail);
    WipeBytes(sourceDigest);
    WipeBytes(outputDigest);
    rc4.Clear();
}

std::vector<uint8_t> HeadDigest(const uint8_t* head, size_t size) {
    Md5 md5;
    md5.Update(head, size);
    const Md5Digest d = md5.Final();
    return std::vector<uint8_t>(d.begin(), d.end());
}

namespace {

// What a copy on disk is, measured against one change's record.
enum class Copy { Missing, Old, New, Between, Other };

uint64_t SizeOf(const std::wstring& path) {
    std::unique_ptr<plat::File> f =
        plat::Fs().Open(path, plat::Access::Read, plat::Disposition::OpenExisting);
    uint64_t size = 0;
    return f && f->Size(&size) ? size : UINT64_MAX;
}

bool BytesAt(plat::File& f, uint64_t offset, const std::vector<uint8_t>& want) {
    if (want.empty()) return true;
    std::vector<uint8_t> got(want.size());
    const bool same = f.Seek(int64_t(offset), SEEK_SET) &&
                      f.ReadExact(got.data(), uint32_t(got.size())) && got == want;
    WipeBytes(got);
    return same;
}

// An in-place change's file: its old state, its new one, part-written
// between the two (every byte of its head from one side or the other, a
// length between the two sides' and, past the shorter side, the trailer or
// a start of it), or neither.
Copy InPlaceCopy(const std::wstring& path, const FileChange& c) {
    if (!IsPlainFile(path)) return plat::Fs().Exists(path) ? Copy::Other : Copy::Missing;
    std::unique_ptr<plat::File> f =
        plat::Fs().Open(path, plat::Access::Read, plat::Disposition::OpenExisting);
    uint64_t size = 0;
    if (!f || !f->Size(&size)) return Copy::Other;
    const bool enc = c.kind == ChangeKind::EncryptFirstBlock;
    const uint64_t lo = std::min(c.oldSize, c.newSize), hi = std::max(c.oldSize, c.newSize);
    if (size < lo || size > hi) return Copy::Other;
    const size_t n = std::max(c.oldHead.size(), c.newHead.size());
    std::vector<uint8_t> head(size_t(std::min<uint64_t>(n, size)));
    std::vector<uint8_t> tail(size_t(size - lo));
    const bool read =
        (head.empty() ||
         (f->Seek(0, SEEK_SET) && f->ReadExact(head.data(), uint32_t(head.size())))) &&
        (tail.empty() ||
         (f->Seek(int64_t(lo), SEEK_SET) && f->ReadExact(tail.data(), uint32_t(tail.size()))));
    f.reset();
    bool isOld = read && size == c.oldSize, isNew = read && size == c.newSize, mixed = read;
    for (size_t k = 0; k < head.size(); ++k) {
        const bool o = k < c.oldHead.size() && head[k] == c.oldHead[k];
        const bool w = k < c.newHead.size() ? head[k] == c.newHead[k] : o;
        isOld = isOld && (k >= c.oldHead.size() || o);
        isNew = isNew && (k >= c.newHead.size() || w);
        mixed = mixed && (o || w);
    }
    // Past the shorter side lies the trailer, whole or begun.
    const bool trailer = read && tail.size() <= c.tail.size() &&
                         std::equal(tail.begin(), tail.end(), c.tail.begin());
    WipeBytes(head);
    WipeBytes(tail);
    if (!trailer) return Copy::Other;
    if (isOld && (enc || size == hi)) return Copy::Old;
    if (isNew) return Copy::New;
    return mixed ? Copy::Between : Copy::Other;
}

// A whole-file change's copy: the complete source (Old), the complete
// result (New), or something else (a copy cut short, a repair tool's
// leftover, a user's file).
Copy WholeCopy(const std::wstring& path, const FileChange& c, bool source) {
    if (!IsPlainFile(path)) return plat::Fs().Exists(path) ? Copy::Other : Copy::Missing;
    std::unique_ptr<plat::File> f =
        plat::Fs().Open(path, plat::Access::Read, plat::Disposition::OpenExisting);
    uint64_t size = 0;
    if (!f || !f->Size(&size)) return Copy::Other;
    const uint64_t want = source ? c.oldSize : c.newSize;
    if (size != want) return Copy::Other;
    const std::vector<uint8_t>& digest = source ? c.sourceDigest : c.outputDigest;
    if (!digest.empty()) {
        std::vector<uint8_t> head(size_t(std::min<uint64_t>(size, kMaxHead)));
        const bool read = head.empty() || (f->Seek(0, SEEK_SET) &&
                                           f->ReadExact(head.data(), uint32_t(head.size())));
        const bool same = read && HeadDigest(head.data(), head.size()) == digest;
        WipeBytes(head);
        if (!same) return Copy::Other;
    }
    // The encrypted side ends in the trailer the record holds.
    const bool encryptedSide = (c.kind == ChangeKind::EncryptWhole) != source;
    if (encryptedSide && !c.tail.empty() &&
        (size < c.tail.size() || !BytesAt(*f, size - c.tail.size(), c.tail)))
        return Copy::Other;
    return source ? Copy::Old : Copy::New;
}

bool EmptyFile(const std::wstring& path) {
    return IsPlainFile(path) && SizeOf(path) == 0;
}

bool Sync(const std::wstring& path) {
    return plat::Fs().SyncVolume(plat::ParentWithSep(path));
}

Settled Outcome(bool ok) {
    return ok ? Settled::Done : Settled::Failed;
}

Settled SettleInPlace(const FileChange& c) {
    const Copy at = InPlaceCopy(c.from, c);
    if (c.from == c.to) {
        if (at == Copy::Old || at == Copy::New) return Settled::Done;
        if (at == Copy::Between) return Outcome(Rewrite(c.from, c, false));
        return Settled::LeftAlone;
    }
    const Copy renamed = InPlaceCopy(c.to, c);
    if (at == Copy::Missing) {
        // The rename was the commit: finish what it may not have carried
        // (a drive that took the new name before the new bytes).
        if (renamed == Copy::New) return Settled::Done;
        if (renamed == Copy::Old || renamed == Copy::Between)
            return Outcome(Rewrite(c.to, c, true));
        return Settled::LeftAlone;
    }
    if (at == Copy::Old) return Settled::Done;
    if (at == Copy::Between || at == Copy::New) return Outcome(Rewrite(c.from, c, false));
    return Settled::LeftAlone;
}

Settled SettleWhole(const FileChange& c) {
    plat::FileSystem& fs = plat::Fs();
    const Copy source = WholeCopy(c.from, c, true);
    const Copy work = WholeCopy(c.temp, c, false);
    if (c.kind == ChangeKind::DecryptCopy) {
        // The source was never touched: only our copy is in question.
        const Copy out = WholeCopy(c.to, c, false);
        if (out == Copy::Other && !EmptyFile(c.to)) {
            return work == Copy::Missing || DeleteIfPresent(c.temp) ? Settled::LeftAlone
                                                                    : Settled::Failed;
        }
        if (out == Copy::Other && !DeleteIfPresent(c.to)) return Settled::Failed;
        return Outcome(DeleteIfPresent(c.temp));
    }
    if (c.from == c.to) {
        // Same name: the source went before the working file moved in.
        if (source == Copy::Old) return Outcome(DeleteIfPresent(c.temp));
        if (work != Copy::New) return Settled::LeftAlone;
        if (EmptyFile(c.from) && !DeleteIfPresent(c.from)) return Settled::Failed;
        if (fs.Exists(c.from)) return Settled::LeftAlone;
        return Outcome(fs.Move(c.temp, c.to) && Sync(c.to));
    }
    const Copy done = WholeCopy(c.to, c, false);
    if (done == Copy::New) {
        if (!DeleteIfPresent(c.temp)) return Settled::Failed;
        // The source goes only once the result is durable.
        if (source == Copy::Missing) return Settled::Done;
        if (source != Copy::Old && !EmptyFile(c.from)) return Settled::LeftAlone;
        return Outcome(Sync(c.to) && DeleteIfPresent(c.from));
    }
    if (source == Copy::Old) {
        // Put back: the working file and a cut-short result are ours.
        if (!DeleteIfPresent(c.temp)) return Settled::Failed;
        if (done == Copy::Missing) return Settled::Done;
        if (!EmptyFile(c.to)) return Settled::LeftAlone;
        return Outcome(DeleteIfPresent(c.to));
    }
    if (work == Copy::New) {
        // The working file is the one complete copy: it takes the final name.
        if (done != Copy::Missing && !(EmptyFile(c.to) && DeleteIfPresent(c.to)))
            return Settled::LeftAlone;
        if (!fs.Move(c.temp, c.to) || !Sync(c.to)) return Settled::Failed;
        if (source == Copy::Missing) return Settled::Done;
        if (!EmptyFile(c.from)) return Settled::LeftAlone;
        return Outcome(DeleteIfPresent(c.from));
    }
    return Settled::LeftAlone;
}

// Journals written before records carried digests: the old rules, which
// trust the final name.
Settled SettleWithoutDigests(const FileChange& c) {
    plat::FileSystem& fs = plat::Fs();
    if (c.kind == ChangeKind::DecryptCopy) return Outcome(DeleteIfPresent(c.temp));
    if (c.from == c.to) {
        if (IsPlainFile(c.from)) return Outcome(DeleteIfPresent(c.temp));
        return Outcome(!IsPlainFile(c.temp) || fs.Move(c.temp, c.to));
    }
    if (IsPlainFile(c.to) && !fs.Exists(c.temp)) return Outcome(DeleteIfPresent(c.from));
    if (!IsPlainFile(c.from)) return Settled::LeftAlone;
    return Outcome(DeleteIfPresent(c.temp));
}

}  // namespace

Settled Settle(const FileChange& c) {
    if (c.InPlace()) return SettleInPlace(c);
    if (c.sourceDigest.empty() && c.outputDigest.empty()) return SettleWithoutDigests(c);
    return SettleWhole(c);
}

bool SettleChange(const FileChange& c) {
    return Settle(c) == Settled::Done;
}

// ---------------------------------------------------------------- journal form

namespace {

void PutU8(std::string* o, uint8_t v) {
    o->push_back(char(v));
}
void PutU32(std::string* o, uint32_t v) {
    for (int k = 0; k < 4; ++k) o->push_back(char((v >> (8 * k)) & 0xFF));
}
void PutU64(std::string* o, uint64_t v) {
    for (int k = 0; k < 8; ++k) o->push_back(char((v >> (8 * k)) & 0xFF));
}
void PutText(std::string* o, const std::wstring& s) {
    PutU32(o, uint32_t(s.size()));
    for (wchar_t ch : s) {
        uint32_t u = uint32_t(ch);
        PutU32(o, u);
    }
}
void PutBytes(std::string* o, const std::vector<uint8_t>& b) {
    PutU32(o, uint32_t(b.size()));
    o->append(reinterpret_cast<const char*>(b.data()), b.size());
}

struct Reader {
    const uint8_t* p;
    size_t left;
    bool ok = true;
    bool Take(void* out, size_t n) {
        if (!ok || left < n) return ok = false;
        std::memcpy(out, p, n);
        p += n;
        left -= n;
        return true;
    }
    uint8_t U8() {
        uint8_t v = 0;
        Take(&v, 1);
        return v;
    }
    uint32_t U32() {
        uint8_t b[4] = {};
        Take(b, 4);
        return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    }
    uint64_t U64() {
        uint64_t lo = U32();
        uint64_t hi = U32();
        return lo | hi << 32;
    }
    std::wstring Text() {
        uint32_t n = U32();
        if (!ok || n > kMaxPathUnits || size_t(n) * 4 > left) {
            ok = false;
            return {};
        }
        std::wstring s;
        s.reserve(n);
        for (uint32_t k = 0; k < n; ++k) {
            uint32_t u = U32();
            if (u == 0 || u > 0x10FFFF) ok = false;
            s.push_back(wchar_t(u));
        }
        return s;
    }
    std::vector<uint8_t> Bytes(size_t cap) {
        uint32_t n = U32();
        if (!ok || n > cap || n > left) {
            ok = false;
            return {};
        }
        std::vector<uint8_t> v(p, p + n);
        p += n;
        left -= n;
        return v;
    }
};

}  // namespace

void SerializeChange(const FileChange& c, std::string* out) {
    PutU8(out, uint8_t(c.kind));
    PutU32(out, c.attributes);
    PutU64(out, c.times.creation);
    PutU64(out, c.times.lastAccess);
    PutU64(out, c.times.lastWrite);
    PutU64(out, c.oldSize);
    PutU64(out, c.newSize);
    PutText(out, c.from);
    PutText(out, c.to);
    PutText(out, c.temp);
    PutBytes(out, c.oldHead);
    PutBytes(out, c.newHead);
    PutBytes(out, c.tail);
    PutBytes(out, c.sourceDigest);
    PutBytes(out, c.outputDigest);
}

bool ParseChange(const uint8_t* data, size_t size, size_t* used, FileChange* c) {
    Reader r{data, size};
    uint8_t kind = r.U8();
    if (kind < 1 || kind > 5) return false;
    c->kind = ChangeKind(kind);
    c->attributes = r.U32();
    c->times.creation = r.U64();
    c->times.lastAccess = r.U64();
    c->times.lastWrite = r.U64();
    c->oldSize = r.U64();
    c->newSize = r.U64();
    c->from = r.Text();
    c->to = r.Text();
    c->temp = r.Text();
    c->oldHead = r.Bytes(kMaxHead);
    c->newHead = r.Bytes(kMaxHead);
    c->tail = r.Bytes(kMaxTail);
    // Records of older journals end here.
    if (r.ok && r.left > 0) {
        c->sourceDigest = r.Bytes(16);
        c->outputDigest = r.Bytes(16);
        if (r.ok && (c->sourceDigest.size() % 16 || c->outputDigest.size() % 16)) r.ok = false;
    }
    if (!r.ok || c->from.empty() || c->to.empty()) return false;
    // The record must describe a change this program could have made.
    if (c->InPlace()) {
        const bool enc = c->kind == ChangeKind::EncryptFirstBlock;
        const uint64_t small = enc ? c->oldSize : c->newSize;
        const uint64_t big = enc ? c->newSize : c->oldSize;
        if (big < small || big - small != c->tail.size() || c->oldHead.size() > c->oldSize ||
            c->newHead.size() > c->newSize)
            return false;
    } else if (c->temp.empty()) {
        return false;
    }
    *used = size - r.left;
    return true;
}

}  // namespace crypto
