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

// Whole-file work moves this much per read; RC4 is a stream cipher, so the
// bytes written do not depend on it.
constexpr uint32_t kChunkSize = 256 * 1024;
constexpr size_t kCheckSize = 16;
constexpr uint64_t kOwnFlushSize = 4u << 20;

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

bool PasswordFitsTrailer(const std::wstring& password) {
    // Every shift scrambles to the same length: one more character.
    std::wstring scrambled = CSimpleMi::ScrambleWithShift(password, false, 1);
    std::string text = TrailerText(kModeWhole, 0, L"x", scrambled);
    const bool fits = !text.empty();
    plat::Wipe(scrambled);
    plat::Wipe(text);
    return fits;
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

bool ContentCipher::MakeWritable(const std::wstring& path, uint32_t attrs) {
    plat::FileSystem& fs = plat::Fs();
    if (attrs == plat::kInvalidAttributes || !(attrs & plat::kAttrReadOnly)) return true;
    (void)fs.SetAttributes(path, attrs & ~plat::kAttrReadOnly);
    attrs = fs.GetAttributes(path);
    return attrs == plat::kInvalidAttributes || !(attrs & plat::kAttrReadOnly);
}

namespace {

// A file rewritten whole through a working file keeps what the user gave
// the one it replaces: hidden, system and read-only marks and permissions.
void KeepMarks(const std::wstring& from, const std::wstring& to, uint32_t original) {
    plat::FileSystem& fs = plat::Fs();
    (void)fs.CopyAccess(from, to);
    const uint32_t b = fs.GetAttributes(to);
    if (original == plat::kInvalidAttributes || b == plat::kInvalidAttributes) return;
    const uint32_t marks = original & (plat::kAttrHidden | plat::kAttrSystem | plat::kAttrReadOnly);
    if (marks && (b & marks) != marks)
        (void)fs.SetAttributes(to, (b | marks) & ~plat::kAttrDirectory);
}

void PutBackReadOnly(const std::wstring& path, uint32_t original) {
    if (original != plat::kInvalidAttributes && (original & plat::kAttrReadOnly)) {
        uint32_t now = plat::Fs().GetAttributes(path);
        if (now != plat::kInvalidAttributes && !(now & plat::kAttrReadOnly))
            (void)plat::Fs().SetAttributes(path,
                                           (now | plat::kAttrReadOnly) & ~plat::kAttrDirectory);
    }
}

// The name a planned change may take: free it first the way the hide pass
// frees names, so the rename that commits the change cannot fail on it.
bool FreeName(const std::wstring& from, const std::wstring& to) {
    if (plat::EqualsNoCase(from, to) || !plat::Fs().Exists(to)) return true;
    std::wstring aside;
    // RenameMovingAside moves `to` aside and then renames; here only the
    // first half is wanted, so move `to` onto itself through a numbered name.
    const std::wstring folder = plat::ParentWithSep(to);
    const std::wstring leaf = plat::LeafName(to);
    const bool isFolder = plat::Fs().IsDirectory(to);
    for (int n = 1; n < 100000; ++n) {
        std::wstring candidate = folder + NumberedName(leaf, n, isFolder);
        if (!plat::Fs().Exists(candidate) && !plat::Fs().Exists(candidate + kEncryptedSuffix)) {
            aside = candidate;
            break;
        }
    }
    return !aside.empty() && plat::Fs().Move(to, aside);
}

}  // namespace

void ContentCipher::Encrypt(const std::wstring& path) {
    std::unique_ptr<FileChange> c = PlanEncrypt(path);
    if (!c) return;
    if (!Apply(*c)) return;
    (void)Commit(*c);
}

void ContentCipher::EncryptFirstBlock(const std::wstring& path) {
    std::unique_ptr<FileChange> c = PlanEncrypt(path, false);
    if (c && Apply(*c)) (void)Commit(*c);
}

void ContentCipher::EncryptWhole(const std::wstring& path) {
    std::unique_ptr<FileChange> c = PlanEncrypt(path, true);
    if (c && Apply(*c)) (void)Commit(*c);
}

DecryptResult ContentCipher::DecryptInPlace(const std::wstring& path, bool renameToPlain) {
    DecryptResult ended;
    std::unique_ptr<FileChange> c = PlanDecrypt(path, renameToPlain, &ended);
    if (!c) return ended;
    if (!Apply(*c)) {
        ended.path = path;
        ended.outcome = FileOutcome::DecryptFailed;
        return ended;
    }
    return Commit(*c);
}

DecryptResult ContentCipher::DecryptToCopy(const std::wstring& path, const std::wstring& outPath) {
    DecryptResult ended;
    std::unique_ptr<FileChange> c = PlanCopy(path, outPath, &ended);
    if (!c) return ended;
    if (!Apply(*c)) {
        ended.path = outPath;
        ended.outcome = FileOutcome::DecryptFailed;
        return ended;
    }
    return Commit(*c);
}

// ---------------------------------------------------------------- planning

std::unique_ptr<FileChange> ContentCipher::PlanEncrypt(const std::wstring& path) {
    return PlanEncrypt(path, IsWholeFileName(path));
}

std::unique_ptr<FileChange> ContentCipher::PlanEncrypt(const std::wstring& path, bool whole,
                                                       uint32_t known) {
    plat::FileSystem& fs = plat::Fs();
    Begin(path);
    auto stayPlain = [&](const wchar_t* reason) -> std::unique_ptr<FileChange> {
        if (reason) Fail(path, reason);
        sink_.OnFileDone(FileOutcome::NotStrengthEncrypted);
        return nullptr;
    };
    if (ClassifyName(path) != kClassPlain) {
        sink_.OnFileDone(FileOutcome::AlreadyEncrypted);
        return nullptr;
    }
    const uint32_t attrs = known != plat::kInvalidAttributes ? known : fs.GetAttributes(path);
    // A link is never opened: it could point anywhere, outside the folder too.
    if (attrs == plat::kInvalidAttributes || (attrs & plat::kAttrReparsePoint))
        return stayPlain(kReasonOpenSource);
    if (sink_.IsCancelled()) {
        sink_.ShowMessageOnce(kMsgCancelled);
        return stayPlain(nullptr);
    }
    if (!MakeWritable(path, attrs)) return stayPlain(kReasonReadOnly);
    auto c = std::make_unique<FileChange>();
    c->kind = whole ? ChangeKind::EncryptWhole : ChangeKind::EncryptFirstBlock;
    c->from = path;
    c->to = AddSuffix(path);
    c->attributes = attrs;
    if (whole) {
        c->temp = path + kTempSuffix;
        // An existing ".tmp" may be the user's: never touch it.
        if (fs.Exists(c->temp)) {
            PutBackReadOnly(path, attrs);
            return stayPlain(kReasonTempFile);
        }
        // Length, times, trailer and the first block's digests go into the
        // journal, so that the next run can tell a complete copy.
        std::unique_ptr<plat::File> in =
            fs.Open(path, plat::Access::Read, plat::Disposition::OpenExisting);
        if (!in || !in->GetTimes(&c->times) || !in->Size(&c->oldSize)) {
            in.reset();
            PutBackReadOnly(path, attrs);
            return stayPlain(kReasonOpenSource);
        }
        if (!BuildTrailer(*c, kModeWhole, &c->rc4)) {
            in.reset();
            PutBackReadOnly(path, attrs);
            return stayPlain(kReasonWriteTrailer);
        }
        c->cipherEnd = c->oldSize;
        if (!DigestHeads(*c, *in)) {
            in.reset();
            PutBackReadOnly(path, attrs);
            return stayPlain(kReasonOpenSource);
        }
    } else {
        std::unique_ptr<plat::File> file =
            fs.Open(path, plat::Access::ReadWrite, plat::Disposition::OpenExisting);
        if (!file || !file->GetTimes(&c->times) || !file->Size(&c->oldSize)) {
            file.reset();
            PutBackReadOnly(path, attrs);
            return stayPlain(kReasonOpenSource);
        }
        sink_.SetCurrentLength(c->oldSize);
        Rc4 rc4;
        if (!BuildTrailer(*c, kModeFirstBlock, &rc4)) {
            file.reset();
            PutBackReadOnly(path, attrs);
            return stayPlain(kReasonWriteTrailer);
        }
        const uint32_t n = uint32_t(std::min<uint64_t>(c->oldSize, kBlockSize));
        c->oldHead.resize(n);
        if (n && !ReadAt(*file, 0, c->oldHead.data(), n)) {
            file.reset();
            PutBackReadOnly(path, attrs);
            return stayPlain(kReasonOpenSource);
        }
        sink_.AddBytesDone(n);
        c->newHead.resize(n);
        rc4.Process(c->oldHead.data(), c->newHead.data(), n);
        c->handle = std::move(file);
    }
    if (!FreeName(path, c->to)) {
        c->handle.reset();
        PutBackReadOnly(path, attrs);
        return stayPlain(kReasonRename);
    }
    return c;
}

bool ContentCipher::DigestHeads(FileChange& c, plat::File& in) {
    const uint32_t n = uint32_t(std::min<uint64_t>(c.oldSize, kBlockSize));
    std::vector<uint8_t> head(n);
    if (n && !ReadAt(in, 0, head.data(), n)) return false;
    c.sourceDigest = HeadDigest(head.data(), head.size());
    Rc4 rc4;
    rc4.CopyFrom(c.rc4);
    rc4.Process(head.data(), size_t(std::min<uint64_t>(c.cipherEnd, n)));
    // What the result starts with: the transformed head, then (a small file
    // encrypted whole) its trailer.
    if (c.kind == ChangeKind::EncryptWhole) head.insert(head.end(), c.tail.begin(), c.tail.end());
    head.resize(size_t(std::min<uint64_t>(c.newSize, std::min<uint64_t>(head.size(), kBlockSize))));
    c.outputDigest = HeadDigest(head.data(), head.size());
    std::fill(head.begin(), head.end(), uint8_t(0));
    return true;
}

bool ContentCipher::BuildTrailer(FileChange& c, char mode, Rc4* rc4) {
    rc4->Init(key_.data(), key_.size());
    uint8_t check[kCheckSize];
    std::memcpy(check, kCheckText, kCheckSize);
    rc4->Process(check, kCheckSize);
    std::wstring scrambled = scrambler_.Scramble(password_, false);
    std::string text =
        TrailerText(mode, c.oldSize, scrambler_.Scramble(options_.ownerText, false), scrambled);
    plat::Wipe(scrambled);
    if (text.empty()) return false;
    c.tail.assign(check, check + kCheckSize);
    c.tail.insert(c.tail.end(), text.begin(), text.end());
    plat::Wipe(text);
    c.newSize = c.oldSize + c.tail.size();
    return true;
}

std::unique_ptr<FileChange> ContentCipher::PlanDecrypt(const std::wstring& path, bool renameToPlain,
                                                       DecryptResult* ended, uint32_t known) {
    plat::FileSystem& fs = plat::Fs();
    Begin(path);
    ended->path = path;
    const int cls = ClassifyName(path);
    auto finish = [&](FileOutcome outcome) -> std::unique_ptr<FileChange> {
        ended->outcome = outcome;
        sink_.OnFileDone(outcome);
        return nullptr;
    };
    const uint32_t attrs = known != plat::kInvalidAttributes ? known : fs.GetAttributes(path);
    if (attrs != plat::kInvalidAttributes && (attrs & plat::kAttrReparsePoint)) {
        // A link stays a link: it was never encrypted, and is not followed.
        return finish(FileOutcome::NotEncryptedFormat);
    }
    if (!MakeWritable(path, attrs)) {
        Fail(path, kReasonDecryptReadOnly);
        return finish(FileOutcome::DecryptFailed);
    }
    std::unique_ptr<plat::File> file =
        fs.Open(path, plat::Access::ReadWrite, plat::Disposition::OpenExisting);
    auto c = std::make_unique<FileChange>();
    c->from = path;
    c->to = renameToPlain && cls != kClassPlain ? StripSuffix(path) : path;
    c->attributes = attrs;
    if (!file || !file->GetTimes(&c->times) || !file->Size(&c->oldSize)) {
        PutBackReadOnly(path, attrs);
        Fail(path, kReasonRead);
        return finish(FileOutcome::DecryptFailed);
    }
    sink_.SetCurrentLength(c->oldSize);

    Plan plan;
    Check check = CheckFile(*file, path, cls, &plan);
    if (check != Check::Ok) {
        file.reset();
        PutBackReadOnly(path, attrs);
        if (check == Check::Failed) return finish(FileOutcome::DecryptFailed);
        // Not in our format: the content stays; the name loses its suffix.
        if (cls != kClassPlain) {
            Fail(path, kReasonNotOurFormat);
            if (c->to != path && RenameMovingAside(path, c->to)) ended->path = c->to;
        }
        return finish(FileOutcome::NotEncryptedFormat);
    }
    c->legacy = cls == kClassLegacy;
    c->mode = plan.mode;
    c->newSize = plan.plainLength;
    if (plan.mode == kModeWhole) {
        c->kind = ChangeKind::DecryptWhole;
        c->temp = path + kTempSuffix;
        c->cipherEnd = plan.plainLength;
        c->rc4.CopyFrom(plan.rc4);
        const uint64_t tailSize = c->oldSize - plan.plainLength;
        c->tail.resize(size_t(std::min<uint64_t>(tailSize, 1024)));
        if (!ReadAt(*file, c->oldSize - c->tail.size(), c->tail.data(), uint32_t(c->tail.size())) ||
            !DigestHeads(*c, *file)) {
            file.reset();
            PutBackReadOnly(path, attrs);
            Fail(path, kReasonRead);
            return finish(FileOutcome::DecryptFailed);
        }
        if (fs.Exists(c->temp)) {
            file.reset();
            PutBackReadOnly(path, attrs);
            Fail(path, kReasonDecryptTempFile);
            return finish(FileOutcome::DecryptFailed);
        }
    } else {
        c->kind = ChangeKind::DecryptFirstBlock;
        const uint32_t n = uint32_t(std::min<uint64_t>(c->oldSize, plan.blockSize));
        c->oldHead.resize(n);
        if (n && !ReadAt(*file, 0, c->oldHead.data(), n)) {
            file.reset();
            PutBackReadOnly(path, attrs);
            Fail(path, kReasonRead);
            return finish(FileOutcome::DecryptFailed);
        }
        sink_.AddBytesDone(n);
        const uint32_t m = uint32_t(std::min<uint64_t>(n, plan.plainLength));
        c->newHead.resize(m);
        plan.rc4.Process(c->oldHead.data(), c->newHead.data(), m);
        const uint64_t tailSize = c->oldSize - plan.plainLength;
        c->tail.resize(size_t(tailSize));
        if (tailSize && !ReadAt(*file, plan.plainLength, c->tail.data(), uint32_t(tailSize))) {
            file.reset();
            PutBackReadOnly(path, attrs);
            Fail(path, kReasonRead);
            return finish(FileOutcome::DecryptFailed);
        }
        c->handle = std::move(file);
    }
    file.reset();
    if (!FreeName(path, c->to)) {
        c->handle.reset();
        PutBackReadOnly(path, attrs);
        Fail(path, kReasonWrite);
        return finish(FileOutcome::DecryptFailed);
    }
    return c;
}

std::unique_ptr<FileChange> ContentCipher::PlanCopy(const std::wstring& path,
                                                    const std::wstring& outPath,
                                                    DecryptResult* ended) {
    plat::FileSystem& fs = plat::Fs();
    Begin(path);
    ended->path = outPath;
    auto finish = [&](FileOutcome outcome) -> std::unique_ptr<FileChange> {
        ended->outcome = outcome;
        sink_.OnFileDone(outcome);
        return nullptr;
    };
    const uint32_t attrs = fs.GetAttributes(path);
    if (attrs == plat::kInvalidAttributes || (attrs & plat::kAttrReparsePoint)) {
        Fail(path, kReasonRead);
        return finish(FileOutcome::DecryptFailed);
    }
    std::unique_ptr<plat::File> in =
        fs.Open(path, plat::Access::Read, plat::Disposition::OpenExisting);
    auto c = std::make_unique<FileChange>();
    c->kind = ChangeKind::DecryptCopy;
    c->from = path;
    c->to = outPath;
    c->temp = outPath + kTempSuffix;
    c->attributes = attrs;
    if (!in || !in->Size(&c->oldSize) || !in->GetTimes(&c->times)) {
        Fail(path, kReasonRead);
        return finish(FileOutcome::DecryptFailed);
    }
    sink_.SetCurrentLength(c->oldSize);
    const int cls = ClassifyName(path);
    Plan plan;
    Check check = CheckFile(*in, path, cls, &plan);
    if (check == Check::Failed) return finish(FileOutcome::DecryptFailed);
    if (check == Check::Ok) {
        c->newSize = plan.plainLength;
        c->mode = plan.mode;
        c->cipherEnd = plan.mode == kModeWhole
                           ? plan.plainLength
                           : std::min<uint64_t>(plan.plainLength, plan.blockSize);
        c->rc4.CopyFrom(plan.rc4);
    } else {
        // Not our format: the copy is the file as it is.
        if (cls != kClassPlain) Fail(path, kReasonNotOurFormat);
        c->newSize = c->oldSize;
        c->cipherEnd = 0;
        c->mode = 0;
    }
    const bool digested = DigestHeads(*c, *in);
    in.reset();
    if (!digested) {
        Fail(path, kReasonRead);
        return finish(FileOutcome::DecryptFailed);
    }
    if (fs.Exists(c->temp) || fs.Exists(outPath)) {
        Fail(path, kReasonWrite);
        return finish(FileOutcome::DecryptFailed);
    }
    return c;
}

// ---------------------------------------------------------------- applying

bool ContentCipher::Verifies(const Trailer& t) const {
    if (t.maker != kMakerWord) return false;
    Rc4 rc4(key_.data(), key_.size());
    return CheckBlockMatches(t, rc4);
}

bool ContentCipher::Apply(FileChange& c) {
    plat::FileSystem& fs = plat::Fs();
    sink_.SetCurrentObject(c.from);
    const bool encrypting =
        c.kind == ChangeKind::EncryptFirstBlock || c.kind == ChangeKind::EncryptWhole;
    bool touched = false;
    auto giveUp = [&](const wchar_t* reason) {
        if (touched && !SettleChange(c)) {
            reason = kReasonRestore;
            c.unsettled = true;
        }
        PutBackReadOnly(c.from, c.attributes);
        if (reason) Fail(c.from, reason);
        sink_.OnFileDone(encrypting ? FileOutcome::NotStrengthEncrypted
                                    : FileOutcome::DecryptFailed);
        return false;
    };

    if (c.InPlace()) {
        std::unique_ptr<plat::File> f =
            c.handle ? std::move(c.handle)
                     : fs.Open(c.from, plat::Access::ReadWrite, plat::Disposition::OpenExisting);
        if (!f) return giveUp(encrypting ? kReasonOpenSource : kReasonRead);
        touched = true;
        bool ok;
        if (encrypting) {
            ok = SeekTo(*f, 0) && f->WriteAll(c.newHead.data(), uint32_t(c.newHead.size())) &&
                 SeekTo(*f, c.oldSize) && f->WriteAll(c.tail.data(), uint32_t(c.tail.size()));
            if (!ok) {
                f.reset();
                return giveUp(kReasonWriteTrailer);
            }
            // The trailer was built and its check block made from our key
            // in memory; reading back what the page cache holds proves
            // nothing more, and would cost four calls per file.
        } else {
            ok = SeekTo(*f, 0) && f->WriteAll(c.newHead.data(), uint32_t(c.newHead.size())) &&
                 SeekTo(*f, c.newSize) && f->Truncate();
            if (!ok) {
                f.reset();
                return giveUp(kReasonWrite);
            }
        }
        (void)f->SetTimes(c.times);
        return true;
    }

    // Whole-file and copy changes stream into the working file.
    std::unique_ptr<plat::File> in =
        fs.Open(c.from, plat::Access::Read, plat::Disposition::OpenExisting);
    if (!in) return giveUp(encrypting ? kReasonOpenSource : kReasonRead);
    if (encrypting) {
        // The source must still be what was planned and journaled.
        uint64_t size = 0;
        if (!in->Size(&size) || size != c.oldSize) {
            in.reset();
            return giveUp(kReasonOpenSource);
        }
        sink_.SetCurrentLength(c.oldSize);
    }
    std::unique_ptr<plat::File> out =
        fs.Open(c.temp, plat::Access::ReadWrite, plat::Disposition::CreateNew);
    if (!out) return giveUp(encrypting ? kReasonTempFile : kReasonDecryptTempFile);
    touched = true;
    const uint64_t length = encrypting ? c.oldSize : c.newSize;
    uint64_t done = 0;
    if (!SeekTo(*in, 0)) {
        out.reset();
        return giveUp(encrypting ? kReasonOpenSource : kReasonRead);
    }
    while (done < length) {
        if (encrypting && sink_.IsCancelled()) {
            sink_.ShowMessageOnce(kMsgCancelled);
            out.reset();
            return giveUp(nullptr);
        }
        const uint32_t want = uint32_t(std::min<uint64_t>(length - done, kChunkSize));
        if (!in->ReadExact(buffer_.data(), want)) {
            out.reset();
            return giveUp(encrypting ? kReasonOpenSource : kReasonRead);
        }
        sink_.AddBytesDone(want);
        if (done < c.cipherEnd)
            c.rc4.Process(buffer_.data(), size_t(std::min<uint64_t>(c.cipherEnd - done, want)));
        if (!out->WriteAll(buffer_.data(), want)) {
            out.reset();
            return giveUp(encrypting ? kReasonWriteTrailer : kReasonWrite);
        }
        done += want;
    }
    if (encrypting) {
        if (!out->Seek(0, SEEK_END) || !out->WriteAll(c.tail.data(), uint32_t(c.tail.size()))) {
            out.reset();
            return giveUp(kReasonWriteTrailer);
        }
        std::optional<Trailer> t = ReadTrailer(*out);
        if (!t || t->mode != kModeWhole || t->plainLength != c.oldSize || !Verifies(*t)) {
            out.reset();
            return giveUp(kReasonVerify);
        }
    }
    (void)out->SetTimes(c.times);
    // A big file is flushed by itself: its data must reach the medium anyway,
    // and a whole-volume sync would also wait for everything else written
    // meanwhile. Small ones wait for their batch's single sync.
    if (length >= kOwnFlushSize) {
        if (!out->Flush()) {
            out.reset();
            return giveUp(encrypting ? kReasonWriteTrailer : kReasonWrite);
        }
        c.flushed = true;
    }
    return true;
}

DecryptResult ContentCipher::Commit(FileChange& c, bool keepSource) {
    plat::FileSystem& fs = plat::Fs();
    DecryptResult r;
    r.path = c.from;
    const bool encrypting =
        c.kind == ChangeKind::EncryptFirstBlock || c.kind == ChangeKind::EncryptWhole;
    auto failed = [&](const wchar_t* reason) {
        // Put the file back the way it was; it stays for the next pass.
        if (!SettleChange(c)) {
            reason = kReasonRestore;
            c.unsettled = true;
        }
        PutBackReadOnly(c.from, c.attributes);
        Fail(c.from, reason);
        r.outcome = encrypting ? FileOutcome::NotStrengthEncrypted : FileOutcome::DecryptFailed;
        sink_.OnFileDone(r.outcome);
        // A change that could not be put back keeps its record for the journal.
        if (!c.unsettled) c.Wipe();
        return r;
    };
    const FileOutcome good =
        encrypting ? FileOutcome::StrengthEncrypted : FileOutcome::StrengthDecrypted;
    if (c.InPlace()) {
        if (c.to != c.from && !fs.Move(c.from, c.to))
            return failed(encrypting ? kReasonRename : kReasonWrite);
        PutBackReadOnly(c.to, c.attributes);
        r.path = c.to;
    } else if (c.kind == ChangeKind::DecryptCopy) {
        if (!fs.Move(c.temp, c.to)) return failed(kReasonWrite);
        r.path = c.to;
    } else {
        KeepMarks(c.from, c.temp, c.attributes);
        if (c.from == c.to) {
            // Same name: the source goes first; from then on the working
            // file is the only copy, and recovery renames it into place.
            uint32_t a = fs.GetAttributes(c.from);
            if (a != plat::kInvalidAttributes && (a & plat::kAttrReadOnly))
                (void)fs.SetAttributes(c.from, a & ~plat::kAttrReadOnly);
            if (!fs.DeleteFile(c.from)) return failed(kReasonWrite);
            if (!fs.Move(c.temp, c.to)) {
                Fail(c.from, kReasonRestore);
                r.outcome = FileOutcome::DecryptFailed;
                sink_.OnFileDone(r.outcome);
                return r;
            }
            r.path = c.to;
            r.outcome = good;
            sink_.OnFileDone(r.outcome);
            c.Wipe();
            return r;
        }
        if (!fs.Move(c.temp, c.to)) return failed(encrypting ? kReasonRename : kReasonWrite);
        r.path = c.to;
        if (keepSource) {
            c.sourceKept = true;
            return r;
        }
        {
            uint32_t a = fs.GetAttributes(c.from);
            if (a != plat::kInvalidAttributes && (a & plat::kAttrReadOnly))
                (void)fs.SetAttributes(c.from, a & ~plat::kAttrReadOnly);
            if (!fs.DeleteFile(c.from)) {
                // Both are whole; keep the source and drop the new file.
                (void)fs.Move(c.to, c.temp);
                return failed(encrypting ? kReasonDeleteSource : kReasonWrite);
            }
        }
    }
    r.outcome =
        c.mode == 0 && c.kind == ChangeKind::DecryptCopy ? FileOutcome::NotEncryptedFormat : good;
    sink_.OnFileDone(r.outcome);
    c.Wipe();
    return r;
}

DecryptResult ContentCipher::FinishCommit(FileChange& c) {
    plat::FileSystem& fs = plat::Fs();
    const bool encrypting = c.kind == ChangeKind::EncryptWhole;
    c.sourceKept = false;
    DecryptResult r;
    r.path = c.to;
    const uint32_t a = fs.GetAttributes(c.from);
    if (a != plat::kInvalidAttributes && (a & plat::kAttrReadOnly))
        (void)fs.SetAttributes(c.from, a & ~plat::kAttrReadOnly);
    if (a != plat::kInvalidAttributes && !fs.DeleteFile(c.from)) {
        // Both are whole; keep the source and drop the new file.
        r.path = c.from;
        if (!fs.Move(c.to, c.temp) || !SettleChange(c)) c.unsettled = true;
        PutBackReadOnly(c.from, c.attributes);
        Fail(c.from,
             c.unsettled ? kReasonRestore : (encrypting ? kReasonDeleteSource : kReasonWrite));
        r.outcome = encrypting ? FileOutcome::NotStrengthEncrypted : FileOutcome::DecryptFailed;
        sink_.OnFileDone(r.outcome);
        if (!c.unsettled) c.Wipe();
        return r;
    }
    r.outcome = encrypting ? FileOutcome::StrengthEncrypted : FileOutcome::StrengthDecrypted;
    sink_.OnFileDone(r.outcome);
    c.Wipe();
    return r;
}

DecryptResult ContentCipher::Abandon(FileChange& c, const wchar_t* reason) {
    const bool encrypting =
        c.kind == ChangeKind::EncryptFirstBlock || c.kind == ChangeKind::EncryptWhole;
    PutBackReadOnly(c.from, c.attributes);
    if (reason) Fail(c.from, reason);
    DecryptResult r;
    r.path = c.from;
    r.outcome = encrypting ? FileOutcome::NotStrengthEncrypted : FileOutcome::DecryptFailed;
    sink_.OnFileDone(r.outcome);
    c.Wipe();
    return r;
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
    if (!t || t->maker != kMakerWord) {
        // The maker word at the end says this was ours: a trailer that does
        // not parse is damaged, not absent, and the file stays as it is.
        char maker[9];
        if (size >= 9 && ReadAt(file, size - 9, maker, 9) &&
            std::memcmp(maker, kMakerWord, 9) == 0) {
            Fail(path, kReasonTrailerDamaged);
            return Check::Failed;
        }
        return Check::NotInFormat;
    }
    plan->rc4.Init(key_.data(), key_.size());
    if (!CheckBlockMatches(*t, plan->rc4)) {
        Fail(path, kReasonWrongPassword);
        return Check::Failed;
    }
    // The check block proved the password. The scrambled copy in the trailer
    // is not compared: its alphabet order is each writer's own, so a file
    // another writer made with the same password would fail for nothing.
    // The plain length must end exactly where the trailer starts: anything
    // else would shorten, grow or garble the file. Refuse and leave it.
    if (t->plainLength != size - t->length) {
        Fail(path, kReasonTrailerDamaged);
        return Check::Failed;
    }
    if (t->mode != kModeFirstBlock && t->mode != kModeWhole) {
        Fail(path, kReasonDecrypt);
        return Check::Failed;
    }
    plan->mode = t->mode;
    plan->blockSize = kBlockSize;
    plan->contentEnd = size - t->length;
    plan->plainLength = t->plainLength;
    return Check::Ok;
}

}  // namespace crypto
