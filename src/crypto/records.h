// The password records of a store's parameter folder and the checks of a
// typed password against them.
//
// Every `paramDir` below is the store's parameter folder (store::ParamDir of
// the protected folder, or the folder found through the legacy alias).
#pragma once

#include <string>

namespace crypto {

// Decrypt-side store kinds.
enum StoreKind : int { kKindNormal = 3, kKindHigher = 4, kKindHighest = 5 };

// Check word at the head of a sealed record, and the legacy sealed records'
// check word without its mode digit and their end marker.
inline constexpr char kSealCheckWord[] = "lanxuyi9";
inline constexpr char kSealTail[] = "tuotuoyan9";
inline constexpr size_t kSealedRecordSize = 18;
inline constexpr char kLegacyCheckWord[] = "lanxuyi";
inline constexpr char kLegacyMarker[] = "anxuyiencry";
inline constexpr size_t kLegacyTrailerSize = 20;

// What the decrypt window shows when a check rejects.
inline constexpr const wchar_t* kMsgStrengthPasswordWrong = L"密码不正确，本次解密失败。";
inline constexpr const wchar_t* kMsgPasswordWrong =
    L"密码不正确。\r\n\r\n如果忘记了密码，可以点找回密码。";
inline constexpr const wchar_t* kMsgSecondaryPasswordUse =
    L"二级密码用途：使用二级密码只能打开文件，不能解密文件。仅支持普通强度。";

// The records as the decrypt side keeps them.
struct StoreRecords {
    std::wstring password;    // "imimff.ulxjm", or the first line of the sealed record
    std::wstring mail;        // "liamff.ulxjm"
    std::wstring reset;       // "imimffreset.ulxjm"
    std::wstring kindLine;    // "typeff.ulxjm"
    std::wstring second;      // "imimtwo.ulxjm"
    int kind = kKindHighest;  // from kindLine, see KindFromLine
    bool legacyHash = false;  // see KindFromLine

    void Wipe();
};

// Maps a kind line (any case) to a decrypt-side kind: "type=0"/"fftype=0"
// -> 3, "type=1"/"fftype=1" -> 4, "type=2"/"fftype=2" -> 5; anything else
// gives `defaultKind`. The untagged "type=1" and "type=2" of older stores
// set *legacyHash, every other line clears it.
int KindFromLine(const std::wstring& line, int defaultKind, bool* legacyHash);

// Migrates earlier record names, then reads every record. The default kind
// is normal for a store reached through the legacy alias, highest otherwise.
StoreRecords ReadStoreRecords(const std::wstring& paramDir, bool legacyStore);

// Normal-store check. A typed reset password becomes the store's password
// (the reset files go, "imimff.ulxjm" is rewritten, `records` updated).
// An empty password line accepts anything.
bool CheckNormalPassword(StoreRecords& records, const std::wstring& paramDir, bool legacyStore,
                         const std::wstring& typed);
// Secondary (open-only) password of a normal store.
bool CheckSecondaryPassword(const StoreRecords& records, const std::wstring& typed);
// Strength-store check against the legacy sealed record when present, else
// the sealed record. A record that cannot be read accepts: every file's own
// trailer check still refuses a wrong password.
bool CheckStrengthPassword(const std::wstring& paramDir, const std::wstring& typed,
                           bool legacyHash);

// Replaces the plain "imimff.ulxjm" by the sealed "imimff.ulxjm.zpwenc0".
// The sealed record is in place under its final name before the plain and
// legacy records are removed, so the store always keeps a password record.
[[nodiscard]] bool SealPasswordRecord(const std::wstring& paramDir, const std::wstring& password);

// The 18 sealed bytes for `password` (also what tests build fixtures from).
std::string SealedRecordBytes(const std::wstring& password);

// Local creation time of the reset record ("imimffreset.ulxjm", else
// "imimffreset.dat") as "%d-%d-%d %d:%d:%d"; empty when there is none.
std::wstring ResetTimeText(const std::wstring& paramDir);
void DeleteResetFiles(const std::wstring& paramDir);

}  // namespace crypto
