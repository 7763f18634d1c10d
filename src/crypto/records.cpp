#include "crypto/records.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "crypto/digest.h"
#include "crypto/move_aside.h"
#include "crypto/rc4.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "store/layout.h"

namespace crypto {
namespace {

std::wstring In(const std::wstring& paramDir, const wchar_t* name) {
    return plat::JoinPath(paramDir, name);
}

}  // namespace

void StoreRecords::Wipe() {
    plat::Wipe(password);
    plat::Wipe(reset);
    plat::Wipe(second);
}

int KindFromLine(const std::wstring& line, int defaultKind, bool* legacyHash) {
    *legacyHash = plat::EqualsNoCase(line, L"type=1") || plat::EqualsNoCase(line, L"type=2");
    for (int k = 0; k < 3; ++k) {
        std::wstring text = L"type=" + std::to_wstring(k);
        if (plat::EqualsNoCase(line, text) || plat::EqualsNoCase(line, L"ff" + text))
            return kKindNormal + k;
    }
    return defaultKind;
}

StoreRecords ReadStoreRecords(const std::wstring& paramDir, bool legacyStore) {
    store::MigrateMetadataNames(paramDir);
    StoreRecords r;
    r.password = store::ReadFirstLine(In(paramDir, store::kPasswordRecord));
    r.mail = store::ReadFirstLine(In(paramDir, store::kMailRecord));
    r.reset = store::ReadFirstLine(In(paramDir, store::kResetRecord));
    r.kindLine = store::ReadFirstLine(In(paramDir, store::kKindRecord));
    r.second = store::ReadFirstLine(In(paramDir, store::kSecondPasswordRecord));
    const std::wstring sealed = In(paramDir, store::kSealedRecord);
    if (plat::Fs().Exists(sealed)) r.password = store::ReadFirstLine(sealed);
    r.kind = KindFromLine(r.kindLine, legacyStore ? kKindNormal : kKindHighest, &r.legacyHash);
    return r;
}

bool CheckNormalPassword(StoreRecords& records, const std::wstring& paramDir, bool legacyStore,
                         const std::wstring& typed) {
    if (records.password.empty()) {
        records.Wipe();
        records = ReadStoreRecords(paramDir, legacyStore);
    }
    if (typed == records.password) return true;
    if (!records.password.empty() && !records.reset.empty() && typed == records.reset) {
        DeleteResetFiles(paramDir);
        (void)store::WriteTextFile(In(paramDir, store::kPasswordRecord), typed);
        plat::Wipe(records.password);
        records.password = typed;
        plat::Wipe(records.reset);
        return true;
    }
    return records.password.empty();
}

bool CheckSecondaryPassword(const StoreRecords& records, const std::wstring& typed) {
    return !records.second.empty() && typed == records.second;
}

bool CheckStrengthPassword(const std::wstring& paramDir, const std::wstring& typed,
                           bool legacyHash) {
    plat::FileSystem& fs = plat::Fs();
    const std::wstring legacy = In(paramDir, store::kLegacySealedRecord);
    if (fs.Exists(legacy)) {
        std::string bytes;
        if (!plat::ReadSmallFile(legacy, store::kMaxRecordSize, &bytes)) return true;
        const size_t size = bytes.size();
        if (size >= kLegacyTrailerSize &&
            plat::EqualsNoCase(plat::FromAnsi(bytes.substr(size - 11)),
                               plat::FromAnsi(kLegacyMarker))) {
            std::string word = bytes.substr(size - kLegacyTrailerSize, 8);
            plat::Wipe(bytes);
            Rc4 rc4;
            InitLegacyRc4(rc4, typed, legacyHash);
            rc4.Process(reinterpret_cast<uint8_t*>(word.data()), word.size());
            return plat::FromAnsi(word).compare(0, 8, plat::FromAnsi(kSealCheckWord)) == 0;
        }
        plat::Wipe(bytes);
        // An older store that kept its password as plain text under this name.
        std::wstring line = store::ReadFirstLine(legacy);
        bool ok = line == typed;
        plat::Wipe(line);
        return ok;
    }
    const std::wstring sealed = In(paramDir, store::kSealedRecord);
    if (fs.Exists(sealed)) {
        std::string bytes;
        uint64_t size = 0;
        const bool read = plat::ReadSmallFile(sealed, store::kMaxRecordSize, &bytes, &size);
        if (size > 20) return false;
        if (!read) return true;
        Rc4 rc4;
        InitCurrentRc4(rc4, typed);
        rc4.Process(reinterpret_cast<uint8_t*>(bytes.data()), bytes.size());
        bool ok = bytes.size() >= 8 && std::memcmp(bytes.data(), kSealCheckWord, 8) == 0;
        plat::Wipe(bytes);
        return ok;
    }
    // Sealing never happened (it failed, or the pass was stopped before):
    // the plain record is the store's password, and must still open it.
    const std::wstring plain = In(paramDir, store::kPasswordRecord);
    if (fs.IsFile(plain)) {
        std::wstring line = store::ReadFirstLine(plain);
        bool ok = !line.empty() && line == typed;
        plat::Wipe(line);
        return ok;
    }
    return false;
}

std::string SealedRecordBytes(const std::wstring& password) {
    std::string bytes = std::string(kSealCheckWord) + kSealTail;
    Rc4 rc4;
    InitCurrentRc4(rc4, password);
    rc4.Process(reinterpret_cast<uint8_t*>(bytes.data()), bytes.size());
    return bytes;
}

bool SealPasswordRecord(const std::wstring& paramDir, const std::wstring& password) {
    plat::FileSystem& fs = plat::Fs();
    const std::wstring plain = In(paramDir, store::kPasswordRecord);
    const std::wstring tmp = plain + L".tmp";
    const std::wstring sealed = In(paramDir, store::kSealedRecord);
    uint32_t attrs = fs.GetAttributes(plain);
    if (attrs != plat::kInvalidAttributes && (attrs & plat::kAttrReadOnly)) return false;
    if (!fs.Open(plain, plat::Access::Read, plat::Disposition::OpenExisting)) return false;

    std::string bytes = SealedRecordBytes(password);
    bool written = false;
    {
        std::unique_ptr<plat::File> out =
            fs.Open(tmp, plat::Access::ReadWrite, plat::Disposition::CreateAlways);
        written = out && fs.RestrictToOwner(tmp) &&
                  out->WriteAll(bytes.data(), uint32_t(bytes.size())) && out->Flush();
    }
    plat::Wipe(bytes);
    if (!written) {
        (void)fs.DeleteFile(tmp);
        return false;
    }
    // The sealed record takes its final name first; only then do the plain
    // and legacy records go, so the store is never left without one.
    if (!RenameMovingAside(tmp, sealed)) {
        (void)fs.DeleteFile(tmp);
        return false;
    }
    (void)fs.DeleteFile(plain);
    // A legacy record left behind would still be the one checked.
    if (fs.Exists(In(paramDir, store::kLegacySealedRecord)) &&
        !fs.DeleteFile(In(paramDir, store::kLegacySealedRecord)))
        return false;
    return true;
}

std::wstring ResetTimeText(const std::wstring& paramDir) {
    std::wstring path = In(paramDir, store::kResetRecord);
    if (!plat::Fs().Exists(path)) path = In(paramDir, store::kOldResetRecord);
    std::unique_ptr<plat::File> f =
        plat::Fs().Open(path, plat::Access::Read, plat::Disposition::OpenExisting);
    plat::FileTimes times;
    plat::LocalTime t;
    if (!f || !f->GetTimes(&times) || !plat::FileTimeToLocal(times.creation, &t)) return {};
    auto n = [](int v) { return std::to_wstring(v); };
    return n(t.year) + L"-" + n(t.month) + L"-" + n(t.day) + L" " + n(t.hour) + L":" + n(t.minute) +
           L":" + n(t.second);
}

void DeleteResetFiles(const std::wstring& paramDir) {
    (void)plat::Fs().DeleteFile(In(paramDir, store::kOldResetRecord));
    (void)plat::Fs().DeleteFile(In(paramDir, store::kResetRecord));
}

}  // namespace crypto
