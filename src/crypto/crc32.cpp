#include "crypto/crc32.h"

#include <array>

namespace crypto {

namespace {

std::array<uint32_t, 256> MakeTable() {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[n] = c;
    }
    return t;
}

}  // namespace

uint32_t Crc32(const void* data, size_t size, uint32_t crc) {
    static const std::array<uint32_t, 256> table = MakeTable();
    const auto* p = static_cast<const uint8_t*>(data);
    crc = ~crc;
    for (size_t k = 0; k < size; ++k) crc = table[(crc ^ p[k]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

}  // namespace crypto
