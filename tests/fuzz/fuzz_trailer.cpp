// The trailer at the end of a strength-encrypted file: input = whole file.
#include <cstdint>
#include <string>

#include "crypto/content_cipher.h"
#include "fuzz_check.h"
#include "mem_fs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::MemFs fs;
    fs.Put(L"/f.zpwenc0", std::string(reinterpret_cast<const char*>(data), size));
    auto file = fs.Open(L"/f.zpwenc0", plat::Access::Read, plat::Disposition::OpenExisting);
    FUZZ_CHECK(file);
    const std::optional<crypto::Trailer> t = crypto::ReadTrailer(*file);
    if (t) {
        // Two two-digit lengths, the first at least 1; the trailer lies inside the file.
        FUZZ_CHECK(t->n1 >= 1 && t->n1 <= 99 && t->n2 >= 0 && t->n2 <= 99);
        FUZZ_CHECK(t->length == uint64_t(t->n1) + uint64_t(t->n2) + 48);
        FUZZ_CHECK(t->length <= size);
        FUZZ_CHECK(t->maker.size() == 9);
        FUZZ_CHECK(t->plainLength <= 999999999999999999ull);
    }
    (void)crypto::VerifyFile(*file, L"pw");
    return 0;
}
