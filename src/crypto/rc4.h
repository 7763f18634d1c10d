// RC4 (ARC4) stream cipher. It is the inner loop of whole-file encryption, so
// Process works on whole buffers with the state in locals.
#pragma once

#include <cstddef>
#include <cstdint>

namespace crypto {

class Rc4 {
  public:
    Rc4() = default;
    Rc4(const void* key, size_t keyLen) { Init(key, keyLen); }
    ~Rc4() { Clear(); }
    Rc4(const Rc4&) = delete;
    Rc4& operator=(const Rc4&) = delete;

    // Key schedule; keyLen up to 256 bytes (0 acts as one zero byte).
    void Init(const void* key, size_t keyLen);
    // XORs the next `len` keystream bytes into `in`, writing `out` (may equal `in`).
    void Process(const uint8_t* in, uint8_t* out, size_t len);
    void Process(uint8_t* buf, size_t len) { Process(buf, buf, len); }
    // Moves the stream `len` bytes on without using them (a read into the
    // middle of a file).
    void Skip(uint64_t len);
    // Takes over another stream's position (a planned file keeps the state
    // its check block left).
    void CopyFrom(const Rc4& other) {
        for (int k = 0; k < 256; ++k) s_[k] = other.s_[k];
        i_ = other.i_;
        j_ = other.j_;
    }
    // Overwrites the state.
    void Clear();

  private:
    uint8_t s_[256] = {};
    uint8_t i_ = 0;
    uint8_t j_ = 0;
};

}  // namespace crypto
