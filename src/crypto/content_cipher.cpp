#include "crypto/content_cipher.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "crypto/digest.h"
#include "crypto/move_aside.h"
#include "crypto/rc4.h"
#include "crypto/records.h"
#include "platform/text.h"

namespace crypto {

namespace {

// A file rewritten whole through its ".tmp" keeps the hidden and system
// marks of the file it replaces: the user set them and expects them back.
void KeepMarks(const std::wstring& from, const std::wstring& to) {
    plat::FileSystem& fs = plat::Fs();
    const uint32_t a = fs.GetAttributes(from), b = fs.GetAttributes(to);
    if (a == plat::kInvalidAttributes || b == plat::kInvalidAttributes) return;
    const uint32_t marks = a & (plat::kAttrHidden | plat::kAttrSystem);
    if (marks) (void)fs.SetAttributes(to, b | marks);
}

// Whole-file work moves this much per read; RC4 is a stream cipher, so the
// bytes written do not depend on it.
constexpr uint32_t kChunkSize = 256 * 1024;
constexpr size_t kCheckSize = 16;

const wchar_t* const kWholeFileExtensions[] = {L".txt", L".ini", L".html", L".htm", L".cpp",
                                               L".h",   L".c",   L".php",  L".asp", L".xml"};

bool SeekTo(plat::File& f, uint64_t offset) {
    return f.Seek(int64_t(offset), SEEK_SET);
}

bool ReadAt(plat::File& f, uint64_t offset, void* buf, uint32_t len) {
    return SeekTo(f, offset) && f.ReadExact(buf, len);
}

// Extension after the last dot of the leaf name.
std::wstring Extension(const std::wstring& path) {
    std::wstring leaf = plat::LeafName(path);
    size_t dot = leaf.rfind(L'.');
    return dot == std::wstring::npos ? std::wstring() : leaf.substr(dot + 1);
}

bool ParseDigits(const char* p, size_t len, uint64_t* out) {
    uint64_t v = 0;
    for (size_t k = 0; k < len; ++k) {
        if (p[k] < '0' || p[k] > '9') return false;
        v = v * 10 + uint64_t(p[k] - '0');
    }
    *out = v;
    return true;
}

std::string ZeroPadded(uint64_t value, size_t width) {
    std::string digits = std::to_string(value);
    if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
    return digits;
}

}  // namespace

// ---------------------------------------------------------------- names

int ClassifyName(const std::wstring& path) {
    std::wstring ext = Extension(path);
    if (plat::EqualsNoCase(ext, L"elxjm")) return kClassLegacy;
    if (ext.empty()) return kClassPlain;
    std::wstring stem = ext.substr(0, ext.size() - 1);
    if (plat::EqualsNoCase(stem, L"zpwenc")) return kClassCurrent;
    if (plat::EqualsNoCase(stem, L"lxm")) return kClassLxm;
    return kClassPlain;
}

std::wstring AddSuffix(const std::wstring& path) {
    return path.size() > 4 ? path + kEncryptedSuffix : path;
}

std::wstring StripSuffix(const std::wstring& path) {
    if (ClassifyName(path) == kClassPlain) return path;
    return path.substr(0, path.size() - Extension(path).size() - 1);
}

bool IsWholeFileName(const std::wstring& path) {
    for (const wchar_t* ext : kWholeFileExtensions)
        if (plat::EndsWithNoCase(path, ext)) return true;
    return false;
}

// ---------------------------------------------------------------- trailer

std::string TrailerText(char mode, uint64_t plainLength, const std::wstring& scrambledOwner,
                        const std::wstring& scrambledPassword) {
    std::string owner = plat::ToAnsi(scrambledOwner);
    std::string password = plat::ToAnsi(scrambledPassword);
    // The reader finds the texts through two-digit lengths.
    if (owner.empty() || owner.size() > 99 || password.size() > 99) return {};
    std::string text;
    text += mode;
    text += ZeroPadded(plainLength, 18);
    text += owner;
    text += password;
    text += ZeroPadded(owner.size(), 2);
    text += ZeroPadded(password.size(), 2);
    text += kMakerWord;
    plat::Wipe(password);
    return text;
}

bool WriteTrailer(plat::File& file, const uint8_t check[16], const std::wstring& owner,
                  const std::wstring& password, char mode, uint64_t plainLength,
                  CSimpleMi& scrambler) {
    std::wstring scrambled = scrambler.Scramble(password, false);
    std::string text = TrailerText(mode, plainLength, scrambler.Scramble(owner, false), scrambled);
    plat::Wipe(scrambled);
    bool ok = !text.empty() && file.Seek(0, SEEK_END) && file.WriteAll(check, kCheckSize) &&
              file.Seek(0, SEEK_END) && file.WriteAll(text.data(), uint32_t(text.size()));
    plat::Wipe(text);
    return ok;
}

std::optional<Trailer> ReadTrailer(plat::File& file) {
    uint64_t size = 0;
    if (!file.Size(&size) || size <= 13) return std::nullopt;
    char tail[13];
    if (!ReadAt(file, size - 13, tail, 13)) return std::nullopt;
    uint64_t n1 = 0, n2 = 0;
    if (!ParseDigits(tail, 2, &n1) || !ParseDigits(tail + 2, 2, &n2) || n1 == 0)
        return std::nullopt;
    Trailer t;
    t.n1 = int(n1);
    t.n2 = int(n2);
    t.maker.assign(tail + 4, 9);
    t.length = n1 + n2 + 48;
    if (size < t.length) return std::nullopt;
    std::string raw(size_t(t.length), '\0');
    if (!ReadAt(file, size - t.length, raw.data(), uint32_t(t.length))) return std::nullopt;
    std::memcpy(t.check.data(), raw.data(), kCheckSize);
    t.mode = raw[16];
    if (!ParseDigits(raw.data() + 17, 18, &t.plainLength)) return std::nullopt;
    t.owner = CSimpleMi::Unscramble(plat::FromAnsi(raw.substr(35, size_t(n1))), false);
    t.password =
        CSimpleMi::Unscramble(plat::FromAnsi(raw.substr(35 + size_t(n1), size_t(n2))), false);
    plat::Wipe(raw);
    return t;
}

namespace {
bool CheckBlockMatches(const Trailer& t, Rc4& rc4) {
    uint8_t block[kCheckSize];
    std::memcpy(block, t.check.data(), kCheckSize);
    rc4.Process(block, kCheckSize);
    return std::memcmp(block, kCheckText, kCheckSize) == 0;
}
}  // namespace

bool VerifyFile(plat::File& file, const std::wstring& keyText) {
    std::optional<Trailer> t = ReadTrailer(file);
    if (!t || t->maker != kMakerWord) return false;
    Rc4 rc4;
    InitCurrentRc4(rc4, keyText);
    return CheckBlockMatches(*t, rc4);
}

// ---------------------------------------------------------------- cipher

struct ContentCipher::Plan {
    Rc4 rc4;                   // positioned at the first content byte
    char mode = 0;             // kModeFirstBlock or kModeWhole
    uint32_t blockSize = 0;    // first-block size of the format
    uint64_t contentEnd = 0;   // where the trailer starts
    uint64_t plainLength = 0;  // length of the decrypted file
};

ContentCipher::ContentCipher(const std::wstring& password, CipherSink& sink)
    : ContentCipher(password, sink, Options()) {}

ContentCipher::ContentCipher(const std::wstring& password, CipherSink& sink, Options options)
    : password_(password),
      key_(DigestText(password)),
      sink_(sink),
      options_(std::move(options)),
      buffer_(kChunkSize) {
    if (options_.ownerText.empty()) options_.ownerText = L"ulxjm";
}

ContentCipher::~ContentCipher() {
    plat::Wipe(password_);
    plat::Wipe(key_);
    std::fill(buffer_.begin(), buffer_.end(), 0);
}

void ContentCipher::Begin(const std::wstring& path) {
    sink_.SetCurrentObject(path);
    sink_.OnFileSeen();
}

void ContentCipher::Fail(const std::wstring& path, const wchar_t* reason) {
    sink_.AddFailure(path, reason);
}

bool ContentCipher::MakeWritable(const std::wstring& path) {
    plat::FileSystem& fs = plat::Fs();
    uint32_t attrs = fs.GetAttributes(path);
    if (attrs == plat::kInvalidAttributes || !(attrs & plat::kAttrReadOnly)) return true;
    (void)fs.SetAttributes(path, attrs & ~plat::kAttrReadOnly);
    attrs = fs.GetAttributes(path);
    return attrs == plat::kInvalidAttributes || !(attrs & plat::kAttrReadOnly);
}

void ContentCipher::Encrypt(const std::wstring& path) {
    if (IsWholeFileName(path))
        EncryptWhole(path);
    else
        EncryptFirstBlock(path);
}

void ContentCipher::EncryptFirstBlock(const std::wstring& path) {
    plat::FileSystem& fs = plat::Fs();
    Begin(path);
    const std::wstring tmp = path + kTempSuffix;
    if (!MakeWritable(path)) {
        Fail(path, kReasonReadOnly);
        sink_.OnFileDone(FileOutcome::NotStrengthEncrypted);
        return;
    }
    std::unique_ptr<plat::File> file =
        fs.Open(path, plat::Access::ReadWrite, plat::Disposition::OpenExisting);
    plat::FileTimes times;
    uint64_t length = 0;
    if (!file || !file->GetTimes(&times) || !file->Size(&length)) {
        Fail(path, kReasonOpenSource);
        sink_.OnFileDone(FileOutcome::NotStrengthEncrypted);
        return;
    }
    if (ClassifyName(path) != kClassPlain) {
        sink_.OnFileDone(FileOutcome::AlreadyEncrypted);
        return;
    }
    sink_.SetCurrentLength(length);
    if (sink_.IsCancelled()) {
        sink_.ShowMessageOnce(kMsgCancelled);
        sink_.OnFileDone(FileOutcome::NotStrengthEncrypted);
        return;
    }
    // CreateNew: an existing ".tmp" may be the only copy of a block kept by
    // an earlier failed restore, or a file of the user's.
    std::unique_ptr<plat::File> backup =
        fs.Open(tmp, plat::Access::ReadWrite, plat::Disposition::CreateNew);
    if (!backup) {
        Fail(path, kReasonTempFile);
        sink_.OnFileDone(FileOutcome::NotStrengthEncrypted);
        return;
    }

    Rc4 rc4(key_.data(), key_.size());
    uint8_t check[kCheckSize];
    std::memcpy(check, kCheckText, kCheckSize);
    rc4.Process(check, kCheckSize);

    uint8_t block[kBlockSize];
    uint32_t got = 0;
    const uint32_t want = uint32_t(std::min<uint64_t>(length, kBlockSize));
    if (!SeekTo(*file, 0) || !file->Read(block, want, &got) || got != want) {
        backup.reset();
        (void)fs.DeleteFile(tmp);
        Fail(path, kReasonOpenSource);
        sink_.OnFileDone(FileOutcome::NotStrengthEncrypted);
        return;
    }
    sink_.AddBytesDone(got);
    // The plain block must be safely in ".tmp" before the file is touched.
    bool backed = backup->WriteAll(block, got) && backup->Flush();
    backup.reset();
    if (!backed) {
        (void)fs.DeleteFile(tmp);
        Fail(path, kReasonTempFile);
        sink_.OnFileDone(FileOutcome::NotStrengthEncrypted);
        return;
    }

    bool restore = true;
    rc4.Process(block, got);
    if (!SeekTo(*file, 0) || !file->WriteAll(block, got) ||
        !WriteTrailer(*file, check, options_.ownerText, password_, kModeFirstBlock, length,
                      scrambler_) ||
        !file->Flush()) {
        Fail(path, kReasonWriteTrailer);
    } else {
        (void)file->SetTimes(times);
        file.reset();
        std::unique_ptr<plat::File> reread =
            fs.Open(path, plat::Access::Read, plat::Disposition::OpenExisting);
        if (!reread) {
            Fail(path, kReasonVerifyOpen);
        } else {
            std::optional<Trailer> t = ReadTrailer(*reread);
            bool ok = t && VerifyFile(*reread, password_) && t->mode == kModeFirstBlock &&
                      t->plainLength == length;
            reread.reset();
            if (!ok) {
                Fail(path, kReasonVerify);
            } else if (!RenameMovingAside(path, AddSuffix(path))) {
                Fail(path, kReasonRename);
            } else {
                restore = false;
            }
        }
    }
    std::memset(block, 0, sizeof block);
    file.reset();

    if (!restore) {
        (void)fs.DeleteFile(tmp);
        sink_.OnFileDone(FileOutcome::StrengthEncrypted);
        return;
    }
    // Put the plain block back and cut the trailer off; keep ".tmp" unless
    // that fully worked.
    bool restored = false;
    {
        std::unique_ptr<plat::File> f =
            fs.Open(path, plat::Access::ReadWrite, plat::Disposition::OpenExisting);
        std::unique_ptr<plat::File> b =
            fs.Open(tmp, plat::Access::Read, plat::Disposition::OpenExisting);
        uint8_t plain[kBlockSize];
        restored = f && b && b->ReadExact(plain, got) && SeekTo(*f, 0) && f->WriteAll(plain, got) &&
                   SeekTo(*f, length) && f->Truncate() && f->Flush();
        if (f) (void)f->SetTimes(times);
        std::memset(plain, 0, sizeof plain);
    }
    if (restored)
        (void)fs.DeleteFile(tmp);
    else
        Fail(path, kReasonRestore);
    sink_.OnFileDone(FileOutcome::NotStrengthEncrypted);
}

void ContentCipher::EncryptWhole(const std::wstring& path) {
    plat::FileSystem& fs = plat::Fs();
    Begin(path);
    const std::wstring tmp = path + kTempSuffix;
    if (!MakeWritable(path)) {
        Fail(path, kReasonReadOnly);
        sink_.OnFileDone(FileOutcome::NotStrengthEncrypted);
        return;
    }
    std::unique_ptr<plat::File> file =
        fs.Open(path, plat::Access::ReadWrite, plat::Disposition::OpenExisting);
    if (!file) {
        Fail(path, kReasonOpenSource);
        sink_.OnFileDone(FileOutcome::NotStrengthEncrypted);
        return;
    }
    if (ClassifyName(path) != kClassPlain) {
        sink_.OnFileDone(FileOutcome::AlreadyEncrypted);
        return;
    }
    plat::FileTimes times;
    uint64_t length = 0;
    if (!file->GetTimes(&times) || !file->Size(&length)) {
        Fail(path, kReasonOpenSource);
        sink_.OnFileDone(FileOutcome::NotStrengthEncrypted);
        return;
    }
    sink_.SetCurrentLength(length);

    Rc4 rc4(key_.data(), key_.size());
    uint8_t check[kCheckSize];
    std::memcpy(check, kCheckText, kCheckSize);
    rc4.Process(check, kCheckSize);

    std::unique_ptr<plat::File> out =
        fs.Open(tmp, plat::Access::ReadWrite, plat::Disposition::CreateNew);
    if (!out) {
        Fail(path, kReasonTempFile);
        sink_.OnFileDone(FileOutcome::NotStrengthEncrypted);
        return;
    }
    auto giveUp = [&](const wchar_t* reason) {
        out.reset();
        file.reset();
        (void)fs.DeleteFile(tmp);
        if (reason) Fail(path, reason);
        sink_.OnFileDone(FileOutcome::NotStrengthEncrypted);
    };

    uint64_t done = 0;
    if (!SeekTo(*file, 0)) return giveUp(kReasonOpenSource);
    while (done < length) {
        if (sink_.IsCancelled()) {
            sink_.ShowMessageOnce(kMsgCancelled);
            return giveUp(nullptr);
        }
        uint32_t want = uint32_t(std::min<uint64_t>(length - done, kChunkSize));
        if (!file->ReadExact(buffer_.data(), want)) return giveUp(kReasonOpenSource);
        sink_.AddBytesDone(want);
        rc4.Process(buffer_.data(), want);
        if (!out->WriteAll(buffer_.data(), want)) return giveUp(kReasonWriteTrailer);
        done += want;
    }
    if (!WriteTrailer(*out, check, options_.ownerText, password_, kModeWhole, length, scrambler_) ||
        !out->Flush())
        return giveUp(kReasonWriteTrailer);
    (void)out->SetTimes(times);
    out.reset();
    file.reset();

    std::unique_ptr<plat::File> reread =
        fs.Open(tmp, plat::Access::Read, plat::Disposition::OpenExisting);
    if (!reread) return giveUp(kReasonVerifyOpen);
    std::optional<Trailer> t = ReadTrailer(*reread);
    bool ok =
        t && VerifyFile(*reread, password_) && t->mode == kModeWhole && t->plainLength == length;
    reread.reset();
    if (!ok) return giveUp(kReasonVerify);

    // The encrypted file takes its final name before the source goes, so a
    // failure at any step leaves the plain source in place.
    const std::wstring target = AddSuffix(path);
    KeepMarks(path, tmp);
    if (!RenameMovingAside(tmp, target)) return giveUp(kReasonRename);
    if (!fs.DeleteFile(path)) {
        (void)fs.DeleteFile(target);
        Fail(path, kReasonDeleteSource);
        sink_.OnFileDone(FileOutcome::NotStrengthEncrypted);
        return;
    }
    sink_.OnFileDone(FileOutcome::StrengthEncrypted);
}

// ---------------------------------------------------------------- decryption

ContentCipher::Check ContentCipher::CheckFile(plat::File& file, const std::wstring& path, int cls,
                                              Plan* plan) {
    uint64_t size = 0;
    if (!file.Size(&size)) {
        Fail(path, kReasonRead);
        return Check::Failed;
    }
    if (cls == kClassLegacy) {
        char tail[11];
        if (size < kLegacyTrailerSize || !ReadAt(file, size - 11, tail, 11) ||
            !plat::EqualsNoCase(plat::FromAnsi(std::string(tail, 11)),
                                plat::FromAnsi(kLegacyMarker)))
            return Check::NotInFormat;
        uint8_t word[8];
        if (!ReadAt(file, size - kLegacyTrailerSize, word, 8)) {
            Fail(path, kReasonLegacyCheck);
            return Check::Failed;
        }
        InitLegacyRc4(plan->rc4, password_, options_.legacyHash);
        plan->rc4.Process(word, 8);
        if (std::memcmp(word, kLegacyCheckWord, 7) != 0) {
            Fail(path, kReasonWrongPassword);
            sink_.ShowMessageOnce(kMsgLegacyWrongPassword);
            return Check::Failed;
        }
        if (word[7] != uint8_t(kModeFirstBlock) && word[7] != uint8_t(kModeWhole)) {
            sink_.ShowMessageOnce(kMsgLegacyUnknownMode);
            Fail(path, kReasonDecrypt);
            return Check::Failed;
        }
        plan->mode = char(word[7]);
        plan->blockSize = kLegacyBlockSize;
        plan->contentEnd = plan->plainLength = size - kLegacyTrailerSize;
        return Check::Ok;
    }

    std::optional<Trailer> t = ReadTrailer(file);
    if (!t || t->maker != kMakerWord) return Check::NotInFormat;
    plan->rc4.Init(key_.data(), key_.size());
    if (!CheckBlockMatches(*t, plan->rc4)) {
        Fail(path, kReasonWrongPassword);
        return Check::Failed;
    }
    if (options_.checkTrailerPassword && t->password != plat::FromAnsi(plat::ToAnsi(password_))) {
        Fail(path, kReasonTrailerPassword);
        return Check::Failed;
    }
    // A length beyond the trailer start, or a mode we do not know, would
    // grow or garble the file: refuse and leave it as it is.
    if (t->plainLength > size - t->length ||
        (t->mode != kModeFirstBlock && t->mode != kModeWhole)) {
        Fail(path, kReasonDecrypt);
        return Check::Failed;
    }
    plan->mode = t->mode;
    plan->blockSize = kBlockSize;
    plan->contentEnd = size - t->length;
    plan->plainLength = t->plainLength;
    return Check::Ok;
}

DecryptResult ContentCipher::DecryptInPlace(const std::wstring& path, bool renameToPlain) {
    plat::FileSystem& fs = plat::Fs();
    Begin(path);
    DecryptResult result;
    result.path = path;
    const std::wstring tmp = path + kTempSuffix;
    const int cls = ClassifyName(path);
    auto finish = [&](FileOutcome outcome) {
        result.outcome = outcome;
        sink_.OnFileDone(outcome);
        return result;
    };
    if (!MakeWritable(path)) {
        Fail(path, kReasonDecryptReadOnly);
        return finish(FileOutcome::DecryptFailed);
    }
    std::unique_ptr<plat::File> file =
        fs.Open(path, plat::Access::ReadWrite, plat::Disposition::OpenExisting);
    plat::FileTimes times;
    uint64_t size = 0;
    if (!file || !file->GetTimes(&times) || !file->Size(&size)) {
        Fail(path, kReasonRead);
        return finish(FileOutcome::DecryptFailed);
    }
    sink_.SetCurrentLength(size);
    auto renamePlain = [&] {
        if (!renameToPlain || cls == kClassPlain) return;
        // A decrypted file that keeps its suffix is still whole; the pass
        // cuts the suffix again when it moves the file out.
        std::wstring plain = StripSuffix(path);
        if (RenameMovingAside(path, plain)) result.path = plain;
    };

    // The check comes before the temporary file, so that a file that is not
    // ours never depends on (or touches) a ".tmp" beside it.
    Plan plan;
    Check check = CheckFile(*file, path, cls, &plan);
    if (check != Check::Ok) {
        file.reset();
        if (check == Check::Failed) return finish(FileOutcome::DecryptFailed);
        renamePlain();
        return finish(FileOutcome::NotEncryptedFormat);
    }
    std::unique_ptr<plat::File> backup =
        fs.Open(tmp, plat::Access::ReadWrite, plat::Disposition::CreateNew);
    if (!backup) {
        Fail(path, kReasonDecryptTempFile);
        return finish(FileOutcome::DecryptFailed);
    }
    auto dropTemp = [&] {
        backup.reset();
        file.reset();
        (void)fs.DeleteFile(tmp);
    };
    if (plan.mode == kModeWhole)
        return DecryptWholeInPlace(std::move(file), std::move(backup), path, tmp, times,
                                   renameToPlain, plan, result);

    // First block: keep the encrypted block in ".tmp" and in memory, write
    // the plain block, and only then cut the trailer off.
    uint8_t original[kBlockSize];
    uint8_t block[kBlockSize];
    const uint32_t n = uint32_t(std::min<uint64_t>(size, plan.blockSize));
    if (!ReadAt(*file, 0, original, n)) {
        dropTemp();
        Fail(path, kReasonRead);
        return finish(FileOutcome::DecryptFailed);
    }
    sink_.AddBytesDone(n);
    bool backed = backup->WriteAll(original, n) && backup->Flush();
    backup.reset();
    if (!backed) {
        dropTemp();
        Fail(path, kReasonDecryptTempFile);
        return finish(FileOutcome::DecryptFailed);
    }
    const uint32_t m = uint32_t(std::min<uint64_t>(n, plan.contentEnd));
    std::memcpy(block, original, n);
    plan.rc4.Process(block, m);
    bool ok = SeekTo(*file, 0) && file->WriteAll(block, m) && file->Flush() &&
              SeekTo(*file, plan.plainLength) && file->Truncate();
    std::memset(block, 0, sizeof block);
    if (!ok) {
        Fail(path, kReasonWrite);
        bool restored = SeekTo(*file, 0) && file->WriteAll(original, n) && file->Flush();
        (void)file->SetTimes(times);
        file.reset();
        if (restored)
            (void)fs.DeleteFile(tmp);
        else
            Fail(path, kReasonRestore);  // ".tmp" keeps the encrypted block
        return finish(FileOutcome::DecryptFailed);
    }
    (void)file->SetTimes(times);
    file.reset();
    (void)fs.DeleteFile(tmp);
    renamePlain();
    return finish(FileOutcome::StrengthDecrypted);
}

DecryptResult ContentCipher::DecryptWholeInPlace(std::unique_ptr<plat::File> file,
                                                 std::unique_ptr<plat::File> out,
                                                 const std::wstring& path, const std::wstring& tmp,
                                                 const plat::FileTimes& times, bool renameToPlain,
                                                 Plan& plan, DecryptResult& result) {
    plat::FileSystem& fs = plat::Fs();
    auto fail = [&](const wchar_t* reason, bool deleteTemp) {
        out.reset();
        file.reset();
        if (deleteTemp) (void)fs.DeleteFile(tmp);
        Fail(path, reason);
        result.outcome = FileOutcome::DecryptFailed;
        sink_.OnFileDone(result.outcome);
        return result;
    };
    // The plain content goes to ".tmp"; the source is replaced only once it
    // is complete.
    uint64_t done = 0;
    if (!SeekTo(*file, 0)) return fail(kReasonRead, true);
    while (done < plan.plainLength) {
        uint32_t want = uint32_t(std::min<uint64_t>(plan.plainLength - done, kChunkSize));
        if (!file->ReadExact(buffer_.data(), want)) return fail(kReasonRead, true);
        sink_.AddBytesDone(want);
        plan.rc4.Process(buffer_.data(), want);
        if (!out->WriteAll(buffer_.data(), want)) return fail(kReasonWrite, true);
        done += want;
    }
    if (!out->Flush()) return fail(kReasonWrite, true);
    (void)out->SetTimes(times);
    out.reset();
    file.reset();

    const int cls = ClassifyName(path);
    const std::wstring target = renameToPlain && cls != kClassPlain ? StripSuffix(path) : path;
    KeepMarks(path, tmp);
    if (target != path) {
        if (!RenameMovingAside(tmp, target)) return fail(kReasonWrite, true);
        if (!fs.DeleteFile(path)) {
            (void)fs.DeleteFile(target);
            return fail(kReasonWrite, false);
        }
        result.path = target;
    } else {
        if (!fs.DeleteFile(path)) return fail(kReasonWrite, true);
        // From here ".tmp" holds the only copy: it is kept when the move fails.
        if (!fs.Move(tmp, path)) return fail(kReasonWrite, false);
    }
    result.outcome = FileOutcome::StrengthDecrypted;
    sink_.OnFileDone(result.outcome);
    return result;
}

DecryptResult ContentCipher::DecryptToCopy(const std::wstring& path, const std::wstring& outPath) {
    plat::FileSystem& fs = plat::Fs();
    Begin(path);
    DecryptResult result;
    result.path = outPath;
    auto finish = [&](FileOutcome outcome) {
        result.outcome = outcome;
        sink_.OnFileDone(outcome);
        return result;
    };
    std::unique_ptr<plat::File> in =
        fs.Open(path, plat::Access::Read, plat::Disposition::OpenExisting);
    uint64_t size = 0;
    if (!in || !in->Size(&size)) {
        Fail(path, kReasonRead);
        return finish(FileOutcome::DecryptFailed);
    }
    sink_.SetCurrentLength(size);
    Plan plan;
    Check check = CheckFile(*in, path, ClassifyName(path), &plan);
    if (check == Check::Failed) return finish(FileOutcome::DecryptFailed);

    // Not our format: the copy is the file as it is.
    uint64_t length = size, encryptedEnd = 0;
    if (check == Check::Ok) {
        length = plan.plainLength;
        encryptedEnd =
            plan.mode == kModeWhole ? length : std::min<uint64_t>(length, plan.blockSize);
    }
    std::unique_ptr<plat::File> out =
        fs.Open(outPath, plat::Access::ReadWrite, plat::Disposition::CreateAlways);
    if (!out) {
        Fail(path, kReasonWrite);
        return finish(FileOutcome::DecryptFailed);
    }
    auto fail = [&](const wchar_t* reason) {
        out.reset();
        (void)fs.DeleteFile(outPath);
        Fail(path, reason);
        return finish(FileOutcome::DecryptFailed);
    };
    uint64_t done = 0;
    if (!SeekTo(*in, 0)) return fail(kReasonRead);
    while (done < length) {
        uint32_t want = uint32_t(std::min<uint64_t>(length - done, kChunkSize));
        if (!in->ReadExact(buffer_.data(), want)) return fail(kReasonRead);
        sink_.AddBytesDone(want);
        if (done < encryptedEnd)
            plan.rc4.Process(buffer_.data(), size_t(std::min<uint64_t>(encryptedEnd - done, want)));
        if (!out->WriteAll(buffer_.data(), want)) return fail(kReasonWrite);
        done += want;
    }
    if (!out->Flush()) return fail(kReasonWrite);
    out.reset();
    return finish(check == Check::Ok ? FileOutcome::StrengthDecrypted
                                     : FileOutcome::NotEncryptedFormat);
}

}  // namespace crypto
