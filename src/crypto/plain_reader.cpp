#include "crypto/plain_reader.h"

#include <algorithm>
#include <cstring>

#include "crypto/content_cipher.h"
#include "crypto/digest.h"
#include "crypto/records.h"
#include "platform/text.h"

namespace crypto {

namespace {

constexpr size_t kCheckSize = 16;
// n1 and n2 have two digits: no trailer is longer.
constexpr uint64_t kMaxTrailer = 99 + 99 + 48;

bool ReadAtExact(plat::File& f, uint64_t offset, void* buf, uint32_t len) {
    auto* p = static_cast<uint8_t*>(buf);
    uint32_t got = 0;
    while (got < len) {
        uint32_t n = 0;
        if (!f.ReadAt(offset + got, p + got, len - got, &n)) return false;
        if (n == 0) {
            plat::SetLastError(plat::kErrHandleEof);
            return false;
        }
        got += n;
    }
    return true;
}

bool Digits(const uint8_t* p, size_t len, uint64_t* out) {
    uint64_t v = 0;
    for (size_t k = 0; k < len; ++k) {
        if (p[k] < '0' || p[k] > '9') return false;
        v = v * 10 + uint64_t(p[k] - '0');
    }
    *out = v;
    return true;
}

// The state a file's check leaves: where its content's keystream starts.
struct Checked {
    uint64_t size = 0;
    uint64_t cipherEnd = 0;
    bool decrypted = false;
};

// The format check a decryption makes, in its order and with its reasons,
// reading only the file's end. `rc4` is left at the first content byte.
std::wstring Check(plat::File& f, int cls, const FileKeys& keys, Rc4* rc4, Checked* out) {
    uint64_t size = 0;
    if (!f.Size(&size)) return kReasonRead;
    out->size = size;
    if (cls == kClassLegacy) {
        uint8_t tail[kLegacyTrailerSize];
        if (size < kLegacyTrailerSize) return L"";
        if (!ReadAtExact(f, size - kLegacyTrailerSize, tail, kLegacyTrailerSize))
            return kReasonLegacyCheck;
        if (!plat::EqualsNoCase(plat::FromAnsi(std::string(reinterpret_cast<char*>(tail) + 9, 11)),
                                plat::FromAnsi(kLegacyMarker)))
            return L"";
        rc4->CopyFrom(keys.Legacy());
        rc4->Process(tail, 8);
        if (std::memcmp(tail, kLegacyCheckWord, 7) != 0) return kReasonWrongPassword;
        if (tail[7] != uint8_t(kModeFirstBlock) && tail[7] != uint8_t(kModeWhole))
            return kReasonDecrypt;
        out->size = size - kLegacyTrailerSize;
        out->cipherEnd = tail[7] == uint8_t(kModeWhole)
                             ? out->size
                             : std::min<uint64_t>(out->size, kLegacyBlockSize);
        out->decrypted = true;
        return L"";
    }
    const uint32_t n = uint32_t(std::min<uint64_t>(size, kMaxTrailer));
    uint8_t tail[kMaxTrailer];
    if (n && !ReadAtExact(f, size - n, tail, n)) return kReasonRead;
    const bool makerAtEnd = n >= 9 && std::memcmp(tail + n - 9, kMakerWord, 9) == 0;
    uint64_t n1 = 0, n2 = 0, plainLength = 0;
    const uint8_t* t = nullptr;
    uint64_t length = 0;
    if (size > 13 && Digits(tail + n - 13, 2, &n1) && Digits(tail + n - 11, 2, &n2) && n1 > 0) {
        length = n1 + n2 + 48;
        if (size >= length) {
            t = tail + n - length;
            if (!Digits(t + 17, 18, &plainLength)) t = nullptr;
        }
    }
    if (!t || !makerAtEnd) {
        // The maker word says it was ours: damaged, not absent.
        return makerAtEnd ? kReasonTrailerDamaged : L"";
    }
    rc4->CopyFrom(keys.Current());
    uint8_t check[kCheckSize];
    rc4->Process(t, check, kCheckSize);
    if (std::memcmp(check, kCheckText, kCheckSize) != 0) return kReasonWrongPassword;
    if (plainLength != size - length) return kReasonTrailerDamaged;
    const char mode = char(t[16]);
    if (mode != kModeFirstBlock && mode != kModeWhole) return kReasonDecrypt;
    out->size = plainLength;
    out->cipherEnd = mode == kModeWhole ? plainLength : std::min<uint64_t>(plainLength, kBlockSize);
    out->decrypted = true;
    return L"";
}

}  // namespace

FileKeys::FileKeys(const std::wstring& password, bool legacyHash) {
    InitCurrentRc4(current_, password);
    InitLegacyRc4(legacy_, password, legacyHash);
}

std::unique_ptr<PlainFile> PlainFile::Open(const std::wstring& path, const FileKeys* keys,
                                           PlainInfo* info) {
    *info = PlainInfo();
    std::unique_ptr<plat::File> f =
        plat::Fs().Open(path, plat::Access::Read, plat::Disposition::OpenExisting);
    if (!f) {
        info->reason = kReasonRead;
        return nullptr;
    }
    std::unique_ptr<PlainFile> p(new PlainFile());
    const int cls = keys ? ClassifyName(path) : kClassPlain;
    Checked c;
    if (cls == kClassPlain) {
        if (!f->Size(&c.size)) {
            info->reason = kReasonRead;
            return nullptr;
        }
    } else {
        info->reason = Check(*f, cls, *keys, &p->cursor_, &c);
        if (!info->ok()) return nullptr;
    }
    info->size = c.size;
    info->decrypted = c.decrypted;
    p->file_ = std::move(f);
    p->size_ = c.size;
    p->cipherEnd_ = c.decrypted ? c.cipherEnd : 0;
    if (p->cipherEnd_) {
        p->checkpoints_.push_back(std::make_unique<Rc4>());
        p->checkpoints_.back()->CopyFrom(p->cursor_);
    }
    return p;
}

bool PlainFile::Probe(const std::wstring& path, const FileKeys* keys, PlainInfo* info) {
    return Open(path, keys, info) != nullptr;
}

PlainFile::~PlainFile() = default;

void PlainFile::Advance(uint64_t to, uint8_t* buf) {
    while (cursorAt_ < to) {
        const uint64_t boundary = (cursorAt_ / kCheckpointStep + 1) * kCheckpointStep;
        const uint64_t chunk = std::min(to, boundary) - cursorAt_;
        if (buf) {
            cursor_.Process(buf, size_t(chunk));
            buf += chunk;
        } else {
            cursor_.Skip(chunk);
        }
        streamBytes_ += chunk;
        cursorAt_ += chunk;
        if (cursorAt_ % kCheckpointStep == 0 && cursorAt_ < cipherEnd_ &&
            cursorAt_ / kCheckpointStep == checkpoints_.size()) {
            checkpoints_.push_back(std::make_unique<Rc4>());
            checkpoints_.back()->CopyFrom(cursor_);
        }
    }
}

bool PlainFile::Read(uint64_t offset, void* buf, uint32_t len, uint32_t* done) {
    *done = 0;
    if (offset >= size_ || len == 0) return true;
    const uint32_t n = uint32_t(std::min<uint64_t>(len, size_ - offset));
    if (!ReadAtExact(*file_, offset, buf, n)) return false;
    if (offset < cipherEnd_) {
        const uint64_t end = std::min<uint64_t>(offset + n, cipherEnd_);
        std::lock_guard<std::mutex> lock(mutex_);
        // Start from the cursor when it is below the offset and no
        // checkpoint lies between them, else from the last checkpoint below.
        const uint64_t k = std::min<uint64_t>(offset / kCheckpointStep, checkpoints_.size() - 1);
        if (cursorAt_ > offset || cursorAt_ < k * kCheckpointStep) {
            cursor_.CopyFrom(*checkpoints_[size_t(k)]);
            cursorAt_ = k * kCheckpointStep;
        }
        Advance(offset, nullptr);
        Advance(end, static_cast<uint8_t*>(buf));
    }
    *done = n;
    return true;
}

}  // namespace crypto
