#include "crypto/rc4.h"

#include <bit>
#include <cstring>

static_assert(std::endian::native == std::endian::little,
              "Rc4::Process packs the keystream little-endian");

namespace crypto {

void Rc4::Init(const void* key, size_t keyLen) {
    // An empty key (the digest text of an empty password) schedules like a
    // single zero byte instead of dividing by zero.
    static const uint8_t kZero = 0;
    const uint8_t* k = keyLen ? static_cast<const uint8_t*>(key) : &kZero;
    if (keyLen == 0) keyLen = 1;
    for (int n = 0; n < 256; ++n) s_[n] = uint8_t(n);
    uint8_t j = 0;
    size_t at = 0;
    for (int n = 0; n < 256; ++n) {
        uint8_t t = s_[n];
        j = uint8_t(j + t + k[at]);
        s_[n] = s_[j];
        s_[j] = t;
        if (++at == keyLen) at = 0;
    }
    i_ = 0;
    j_ = 0;
}

void Rc4::Process(const uint8_t* in, uint8_t* out, size_t len) {
    // State in locals so i and j stay in registers. Eight steps are unrolled
    // by hand and their keystream gathered into one 64-bit word: that keeps
    // the loop free of per-byte stores to `out` that the compiler would have
    // to assume alias the S-box.
    uint8_t* s = s_;
    unsigned i = i_;
    unsigned j = j_;
#define ULX_RC4_STEP(shift)                             \
    {                                                   \
        i = (i + 1) & 0xFF;                             \
        unsigned si = s[i];                             \
        j = (j + si) & 0xFF;                            \
        unsigned sj = s[j];                             \
        s[i] = uint8_t(sj);                             \
        s[j] = uint8_t(si);                             \
        ks |= uint64_t(s[(si + sj) & 0xFF]) << (shift); \
    }
    size_t n = 0;
    for (; n + 8 <= len; n += 8) {
        uint64_t ks = 0;
        ULX_RC4_STEP(0)
        ULX_RC4_STEP(8)
        ULX_RC4_STEP(16)
        ULX_RC4_STEP(24)
        ULX_RC4_STEP(32)
        ULX_RC4_STEP(40)
        ULX_RC4_STEP(48)
        ULX_RC4_STEP(56)
        uint64_t word;
        std::memcpy(&word, in + n, 8);
        word ^= ks;  // little-endian order: byte u of the word is keystream byte u
        std::memcpy(out + n, &word, 8);
    }
    for (; n < len; ++n) {
        uint64_t ks = 0;
        ULX_RC4_STEP(0)
        out[n] = uint8_t(in[n] ^ ks);
    }
#undef ULX_RC4_STEP
    i_ = uint8_t(i);
    j_ = uint8_t(j);
}

void Rc4::Clear() {
    volatile uint8_t* p = s_;
    for (int n = 0; n < 256; ++n) p[n] = 0;
    i_ = j_ = 0;
}

}  // namespace crypto
