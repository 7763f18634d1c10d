// CRC-32 (IEEE 802.3, the zlib polynomial). Guards records against a write
// cut short or a flipped byte; not against anyone who means harm.
#pragma once

#include <cstddef>
#include <cstdint>

namespace crypto {

uint32_t Crc32(const void* data, size_t size, uint32_t crc = 0);

}  // namespace crypto
