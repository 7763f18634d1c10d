#include "crypto/md5.h"

#include <cstring>

namespace crypto {
namespace {

inline uint32_t Rotl(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

inline uint32_t Load32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Per-round shift amounts and sine-derived constants of RFC 1321.
constexpr int kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                            5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                            4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                            6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

}  // namespace

void Md5::Reset() {
    state_[0] = 0x67452301;
    state_[1] = 0xefcdab89;
    state_[2] = 0x98badcfe;
    state_[3] = 0x10325476;
    length_ = 0;
}

void Md5::Block(const uint8_t* p) {
    uint32_t m[16];
    for (int k = 0; k < 16; ++k) m[k] = Load32(p + 4 * k);
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (int k = 0; k < 64; ++k) {
        uint32_t f;
        int g;
        if (k < 16) {
            f = (b & c) | (~b & d);
            g = k;
        } else if (k < 32) {
            f = (d & b) | (~d & c);
            g = (5 * k + 1) & 15;
        } else if (k < 48) {
            f = b ^ c ^ d;
            g = (3 * k + 5) & 15;
        } else {
            f = c ^ (b | ~d);
            g = (7 * k) & 15;
        }
        uint32_t t = d;
        d = c;
        c = b;
        b = b + Rotl(a + f + kSine[k] + m[g], kShift[k]);
        a = t;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

void Md5::Update(const void* data, size_t len) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    size_t have = size_t(length_ & 63);
    length_ += len;
    if (have) {
        size_t take = 64 - have < len ? 64 - have : len;
        std::memcpy(buffer_ + have, p, take);
        p += take;
        len -= take;
        if (have + take < 64) return;
        Block(buffer_);
    }
    for (; len >= 64; p += 64, len -= 64) Block(p);
    if (len) std::memcpy(buffer_, p, len);
}

Md5Digest Md5::Final() {
    uint64_t bits = length_ * 8;
    static const uint8_t kPad[64] = {0x80};
    size_t have = size_t(length_ & 63);
    Update(kPad, have < 56 ? 56 - have : 120 - have);
    uint8_t tail[8];
    for (int k = 0; k < 8; ++k) tail[k] = uint8_t(bits >> (8 * k));
    Update(tail, 8);
    Md5Digest out;
    for (int k = 0; k < 4; ++k)
        for (int n = 0; n < 4; ++n) out[4 * k + n] = uint8_t(state_[k] >> (8 * n));
    std::memset(buffer_, 0, sizeof buffer_);
    return out;
}

Md5Digest Md5Of(const void* data, size_t len) {
    Md5 md5;
    md5.Update(data, len);
    return md5.Final();
}

std::string HexLower(const uint8_t* bytes, size_t len) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * len);
    for (size_t k = 0; k < len; ++k) {
        out += kDigits[bytes[k] >> 4];
        out += kDigits[bytes[k] & 15];
    }
    return out;
}

}  // namespace crypto
