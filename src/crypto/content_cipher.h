// The content cipher of strength-encrypted files and their on-disk format.
//
// Current format (name classes 1 and 2), appended to the content:
//   content       plain length bytes; mode 1: the first min(1024, length)
//                 bytes RC4-encrypted, the rest plain; mode 9: all encrypted
//   check block   16  kCheckText under the first 16 keystream bytes (the
//                     content continues the same stream)
//   mode          1   '1' or '9'
//   plain length  18  decimal, zero-padded
//   owner         n1  CSimpleMi-scrambled owner text (ANSI)
//   password      n2  CSimpleMi-scrambled password (ANSI)
//   n1, n2        2+2 decimal, zero-padded
//   maker word    9   "tuotuoyan"
// RC4 is keyed with the digest text of the folder password. The trailer is
// n1 + n2 + 48 bytes long.
//
// Legacy format (class 3, ".elxjm"): content under the legacy RC4-128 key in
// 1000-byte blocks, then 8 bytes "lanxuyi" + mode digit encrypted with the
// first 8 keystream bytes, then 12 bytes ending in "anxuyiencry".
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crypto/cipher_sink.h"
#include "crypto/file_change.h"
#include "crypto/simple_mi.h"
#include "platform/fs.h"

namespace crypto {

inline constexpr const wchar_t* kEncryptedSuffix = L".zpwenc0";
inline constexpr const wchar_t* kLegacySuffix = L".elxjm";
inline constexpr const wchar_t* kTempSuffix = L".tmp";
inline constexpr uint32_t kBlockSize = 1024;
inline constexpr uint32_t kLegacyBlockSize = 1000;
inline constexpr char kCheckText[] = "tuotuoyan_qvbxxx";  // 16 bytes
inline constexpr char kMakerWord[] = "tuotuoyan";         // 9 bytes
inline constexpr char kModeFirstBlock = '1';
inline constexpr char kModeWhole = '9';

// Per-file failure reasons (appended to the path in the pass log).
inline constexpr const wchar_t* kReasonReadOnly = L" 为只读,未强度加密";
inline constexpr const wchar_t* kReasonOpenSource = L" 强度加密失败,打开源错";
inline constexpr const wchar_t* kReasonTempFile = L" 失败,临时文件不能建立";
inline constexpr const wchar_t* kReasonWriteTrailer = L" 写加密信息出错";
inline constexpr const wchar_t* kReasonVerifyOpen = L" 强度加密失败,校验打开错";
inline constexpr const wchar_t* kReasonVerify = L" 强度加密失败,校验错";
inline constexpr const wchar_t* kReasonRestore = L" 失败,恢复文件错";
// The encrypted file could not take its suffixed name, or the source of a
// whole-file encryption could not be removed; the file stays plain.
inline constexpr const wchar_t* kReasonRename = L" 强度加密失败,改名出错";
inline constexpr const wchar_t* kReasonDeleteSource = L" 强度加密失败,删除源文件出错";
inline constexpr const wchar_t* kReasonDecryptReadOnly =
    L" 文件为只读,不能解密,请将只读属性去掉后再解密";
inline constexpr const wchar_t* kReasonDecryptTempFile = L" 强度解密失败,临时文件不能建立";
inline constexpr const wchar_t* kReasonWrongPassword = L" 强度解密失败,强度解密密码错误";
inline constexpr const wchar_t* kReasonTrailerPassword = L" 强度解密失败,强度解密密码错误(6)";
inline constexpr const wchar_t* kReasonRead = L" 强度解密失败,读出错";
inline constexpr const wchar_t* kReasonWrite = L" 强度解密失败,写出错";
inline constexpr const wchar_t* kReasonDecrypt = L" 强度解密失败,解密出错";
inline constexpr const wchar_t* kReasonLegacyCheck = L" 强度解密失败,解密出错18";
// The trailer carries the maker word but does not parse, or its plain
// length does not agree with the file's size: the file is left untouched.
inline constexpr const wchar_t* kReasonTrailerDamaged = L" 强度解密失败,加密信息已损坏";
// A file with an encrypted suffix but no trailer at all: it only loses the
// suffix, and the pass says so.
inline constexpr const wchar_t* kReasonNotOurFormat = L" 非岚栩便携强度加密";

// Messages shown once per pass.
inline constexpr const wchar_t* kMsgCancelled = L"操作已被取消。";
inline constexpr const wchar_t* kMsgLegacyWrongPassword =
    L"强度解密密码不正确，解密在您按确定后会继续进行，并不会再次进行提示。\r\n\r\n"
    L"未经过强度解密后的文件，您可以看到，但是由于没有经过强度解密，所以您看到的是乱码。\r\n"
    L"解决办法就是利用正确的密码对文件所在的文件夹再通过岚栩只读加密的较高强度加密一次，"
    L"然后再解密就可以了。";
inline constexpr const wchar_t* kMsgLegacyUnknownMode = L"解密出错，不能确定解密的强度方式。";

// Name classes: 0 plain, 1 ".lxm?", 2 ".zpwenc?" (current), 3 ".elxjm" (legacy).
enum NameClass : int { kClassPlain = 0, kClassLxm = 1, kClassCurrent = 2, kClassLegacy = 3 };
int ClassifyName(const std::wstring& path);
// path + ".zpwenc0"; a path of 4 characters or less gets no suffix.
std::wstring AddSuffix(const std::wstring& path);
// Removes the class-giving extension (".zpwenc0": 8 characters, ".elxjm": 6);
// a class 0 path comes back unchanged.
std::wstring StripSuffix(const std::wstring& path);
// Files encrypted whole rather than first block only (by extension, any case).
bool IsWholeFileName(const std::wstring& path);

struct Trailer {
    std::array<uint8_t, 16> check{};
    char mode = 0;
    uint64_t plainLength = 0;
    std::wstring owner;     // unscrambled
    std::wstring password;  // unscrambled
    int n1 = 0, n2 = 0;
    std::string maker;    // 9 bytes as found
    uint64_t length = 0;  // n1 + n2 + 48
};

// The text part of the trailer (mode digit to maker word) in the ANSI code
// page, from texts already scrambled. Empty when a scrambled text does not
// fit the two-digit length fields (1..99 bytes).
std::string TrailerText(char mode, uint64_t plainLength, const std::wstring& scrambledOwner,
                        const std::wstring& scrambledPassword);
// True when a file trailer can hold `password` (scrambled, in the ANSI code
// page): a longer one would leave every file of the pass unencrypted.
bool PasswordFitsTrailer(const std::wstring& password);
// Appends check block and text part at the end of `file`.
[[nodiscard]] bool WriteTrailer(plat::File& file, const uint8_t check[16],
                                const std::wstring& owner, const std::wstring& password, char mode,
                                uint64_t plainLength, CSimpleMi& scrambler);
// The trailer at the end of `file`, or nothing when there is none.
std::optional<Trailer> ReadTrailer(plat::File& file);
// The trailer's check block decrypts to kCheckText under `keyText`.
bool VerifyFile(plat::File& file, const std::wstring& keyText);

// Result of one decryption.
struct DecryptResult {
    FileOutcome outcome = FileOutcome::DecryptFailed;
    // Where the file is afterwards (its plain name once the suffix went).
    std::wstring path;
    bool ok() const {
        return outcome == FileOutcome::StrengthDecrypted ||
               outcome == FileOutcome::NotEncryptedFormat;
    }
};

// The per-file operations of one pass. Holds the key for the whole pass and
// re-keys RC4 for every file.
class ContentCipher {
  public:
    struct Options {
        std::wstring ownerText = L"ulxjm";  // trailer owner text, never empty
        // Legacy-hash flag of the store (from its kind line).
        bool legacyHash = false;
    };

    ContentCipher(const std::wstring& password, CipherSink& sink);
    ContentCipher(const std::wstring& password, CipherSink& sink, Options options);
    ~ContentCipher();
    ContentCipher(const ContentCipher&) = delete;
    ContentCipher& operator=(const ContentCipher&) = delete;

    // Encrypts by name: whole-file extensions whole, others first block.
    void Encrypt(const std::wstring& path);
    // In place: the first min(1024, length) bytes, with ".tmp" holding the
    // plain block until the file is verified and renamed.
    void EncryptFirstBlock(const std::wstring& path);
    // Into "path.tmp", which becomes "path.zpwenc0" before the source goes.
    void EncryptWhole(const std::wstring& path);

    // Two-phase form of the operations above, for passes that journal a
    // batch of files before touching any of them. Plan* read the file and
    // work out every byte the change will write; nullptr means the file's
    // processing already ended (reported to the sink, e.g. a failure or a
    // file not in our format). Apply writes the content (in place, or into
    // the working file); on failure it puts the file back and reports.
    // Commit gives the result its final name and reports the outcome; on
    // failure it puts the file back.
    // `known`: the file's attributes as a folder listing gave them, so they
    // need not be asked for again (kInvalidAttributes: ask).
    std::unique_ptr<FileChange> PlanEncrypt(const std::wstring& path);
    std::unique_ptr<FileChange> PlanEncrypt(const std::wstring& path, bool whole,
                                            uint32_t known = plat::kInvalidAttributes);
    std::unique_ptr<FileChange> PlanDecrypt(const std::wstring& path, bool renameToPlain,
                                            DecryptResult* ended,
                                            uint32_t known = plat::kInvalidAttributes);
    std::unique_ptr<FileChange> PlanCopy(const std::wstring& path, const std::wstring& outPath,
                                         DecryptResult* ended);
    [[nodiscard]] bool Apply(FileChange& change);
    // With `keepSource`, a whole-file change whose result takes a new name
    // only renames it into place (change.sourceKept): the source goes in
    // FinishCommit, once the caller made the rename durable. A pulled drive
    // may otherwise keep the source's removal and lose the rename.
    DecryptResult Commit(FileChange& change, bool keepSource = false);
    DecryptResult FinishCommit(FileChange& change);
    // Gives up a planned change before anything was written (the batch's
    // journal could not be written): the file stays as it is.
    DecryptResult Abandon(FileChange& change, const wchar_t* reason);

    // Job modes 0 and 2: decrypt in place; with `renameToPlain` the suffix
    // is stripped afterwards.
    DecryptResult DecryptInPlace(const std::wstring& path, bool renameToPlain);
    // Job mode 1: `path` stays as it is, `outPath` is created with the
    // decrypted content (removed again on failure).
    DecryptResult DecryptToCopy(const std::wstring& path, const std::wstring& outPath);

    // Test hook: the scrambler used for new trailers.
    CSimpleMi& Scrambler() { return scrambler_; }

  private:
    struct Plan;
    enum class Check { Ok, NotInFormat, Failed };
    void Begin(const std::wstring& path);
    // The trailer of `c` (from its oldSize) and its new size; `rc4` is left
    // at the first content byte. False when the password cannot fit it.
    bool BuildTrailer(FileChange& c, char mode, Rc4* rc4);
    // The digests of a whole-file or copy change's first blocks (source as
    // read from `in`, result as it will be written). c.rc4 and c.cipherEnd
    // must be set.
    bool DigestHeads(FileChange& c, plat::File& in);
    // The trailer's check block decrypts to the check text under our key.
    bool Verifies(const Trailer& t) const;
    void Fail(const std::wstring& path, const wchar_t* reason);
    bool MakeWritable(const std::wstring& path, uint32_t attrs);
    Check CheckFile(plat::File& file, const std::wstring& path, int cls, Plan* plan);

    std::wstring password_;
    std::string key_;  // digest text of the password
    CipherSink& sink_;
    Options options_;
    CSimpleMi scrambler_;
    std::vector<uint8_t> buffer_;
};

}  // namespace crypto
