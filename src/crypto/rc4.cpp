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
    // State in locals so i and j stay in registers; j as a byte, so that its
    // wrap costs nothing on the loop's critical path. Eight steps are
    // unrolled and their keystream gathered into one 64-bit word: no per-byte
    // stores to `out` that the compiler would have to assume alias the S-box.
    uint8_t* s = s_;
    unsigned i = i_;
    uint8_t j = j_;
#define ULX_RC4_STEP(k)                                   \
    {                                                     \
        const unsigned at = (i + 1 + (k)) & 0xFF;         \
        const uint8_t si = s[at];                         \
        j = uint8_t(j + si);                              \
        const uint8_t sj = s[j];                          \
        s[at] = sj;                                       \
        s[j] = si;                                        \
        ks |= uint64_t(s[uint8_t(si + sj)]) << (8 * (k)); \
    }
    size_t n = 0;
    for (; n + 8 <= len; n += 8) {
        uint64_t ks = 0;
        ULX_RC4_STEP(0)
        ULX_RC4_STEP(1)
        ULX_RC4_STEP(2)
        ULX_RC4_STEP(3)
        ULX_RC4_STEP(4)
        ULX_RC4_STEP(5)
        ULX_RC4_STEP(6)
        ULX_RC4_STEP(7)
        i = (i + 8) & 0xFF;
        uint64_t word;
        std::memcpy(&word, in + n, 8);
        word ^= ks;  // little-endian order: byte k of the word is keystream byte k
        std::memcpy(out + n, &word, 8);
    }
    for (; n < len; ++n) {
        uint64_t ks = 0;
        ULX_RC4_STEP(0)
        i = (i + 1) & 0xFF;
        out[n] = uint8_t(in[n] ^ ks);
    }
#undef ULX_RC4_STEP
    i_ = uint8_t(i);
    j_ = j;
}

void Rc4::Skip(uint64_t len) {
    uint8_t* s = s_;
    unsigned i = i_;
    uint8_t j = j_;
    for (uint64_t n = 0; n < len; ++n) {
        i = (i + 1) & 0xFF;
        const uint8_t si = s[i];
        j = uint8_t(j + si);
        s[i] = s[j];
        s[j] = si;
    }
    i_ = uint8_t(i);
    j_ = j;
}

void Rc4::Clear() {
    volatile uint8_t* p = s_;
    for (int n = 0; n < 256; ++n) p[n] = 0;
    i_ = j_ = 0;
}

}  // namespace crypto
