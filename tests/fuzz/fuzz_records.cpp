// The records of a store's parameter folder: input = the bytes of one
// record, placed under every record name at once, then checked as the
// legacy record, as the sealed record and as the plain lines.
#include <cstdint>
#include <string>

#include "crypto/records.h"
#include "fuzz_check.h"
#include "mem_fs.h"
#include "platform/fs.h"
#include "store/layout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    fuzzsupport::MemFs fs;
    plat::ScopedFileSystem use(fs);
    const std::wstring param = L"/s/ulxjm/paramff";
    fs.MakeDirs(param);
    for (const wchar_t* name :
         {store::kPasswordRecord, store::kMailRecord, store::kResetRecord, store::kKindRecord,
          store::kSecondPasswordRecord, store::kLegacySealedRecord, store::kSealedRecord})
        fs.Put(plat::JoinPath(param, name), bytes);

    crypto::StoreRecords r = crypto::ReadStoreRecords(param, false);
    // One line each: no line end, never longer than the file.
    for (const std::wstring* line : {&r.password, &r.mail, &r.reset, &r.kindLine, &r.second}) {
        FUZZ_CHECK(line->find(L'\n') == std::wstring::npos);
        FUZZ_CHECK(line->size() <= size);
    }
    FUZZ_CHECK(r.kind >= crypto::kKindNormal && r.kind <= crypto::kKindHighest);

    (void)crypto::CheckStrengthPassword(param, L"pw", false);
    (void)crypto::CheckStrengthPassword(param, L"pw", true);
    FUZZ_CHECK(fs.DeleteFile(plat::JoinPath(param, store::kLegacySealedRecord)));
    const bool sealedAccepts = crypto::CheckStrengthPassword(param, L"pw", false);
    // 19 and 20 bytes are still read, 21 and more refused.
    if (size > 20) FUZZ_CHECK(!sealedAccepts);

    (void)crypto::CheckNormalPassword(r, param, false, L"pw");
    (void)crypto::CheckSecondaryPassword(r, L"pw");
    r.Wipe();
    return 0;
}
