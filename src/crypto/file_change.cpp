#include "crypto/file_change.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

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
    rc4.Clear();
}

bool SettleChange(const FileChange& c) {
    if (c.InPlace()) {
        if (c.from != c.to && IsPlainFile(c.to) && !plat::Fs().Exists(c.from))
            return Rewrite(c.to, c, true);  // renamed: the change was complete
        if (!IsPlainFile(c.from)) return !plat::Fs().Exists(c.from);
        if (c.from == c.to) {
            // No rename to tell: a file that already has the new length and
            // head is done, anything else goes back.
            std::unique_ptr<plat::File> f =
                plat::Fs().Open(c.from, plat::Access::Read, plat::Disposition::OpenExisting);
            uint64_t size = 0;
            std::vector<uint8_t> head(c.newHead.size());
            bool done = f && f->Size(&size) && size == c.newSize &&
                        (head.empty() || (f->Seek(0, SEEK_SET) &&
                                          f->ReadExact(head.data(), uint32_t(head.size())))) &&
                        head == c.newHead;
            f.reset();
            WipeBytes(head);
            if (done) return true;
        }
        return Rewrite(c.from, c, false);
    }
    plat::FileSystem& fs = plat::Fs();
    if (c.kind == ChangeKind::DecryptCopy) return DeleteIfPresent(c.temp);
    // Whole-file: the working file is renamed only once it is complete and
    // durable, so a final name that exists next to the source means done.
    if (c.from == c.to) {
        // Same name: the source is deleted before the working file moves in.
        if (IsPlainFile(c.from)) return DeleteIfPresent(c.temp);
        return !IsPlainFile(c.temp) || fs.Move(c.temp, c.to);
    }
    if (IsPlainFile(c.to) && !fs.Exists(c.temp)) return DeleteIfPresent(c.from);
    return DeleteIfPresent(c.temp);
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
