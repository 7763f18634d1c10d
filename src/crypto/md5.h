// MD5 (RFC 1321). Used for the key texts of the content cipher and for the
// legacy RC4-128 key derivation; not for anything that needs collision
// resistance.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace crypto {

using Md5Digest = std::array<uint8_t, 16>;

class Md5 {
  public:
    Md5() { Reset(); }
    void Reset();
    void Update(const void* data, size_t len);
    // Finishes the hash; the object must be Reset before it is used again.
    Md5Digest Final();

  private:
    void Block(const uint8_t* p);

    uint32_t state_[4];
    uint64_t length_ = 0;  // bytes hashed so far
    uint8_t buffer_[64];
};

Md5Digest Md5Of(const void* data, size_t len);
inline Md5Digest Md5Of(const std::string& bytes) {
    return Md5Of(bytes.data(), bytes.size());
}

// Lower-case hexadecimal, two characters per byte.
std::string HexLower(const uint8_t* bytes, size_t len);

}  // namespace crypto
