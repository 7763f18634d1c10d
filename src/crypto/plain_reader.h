// Reads the plain content of a store file at any offset without writing
// anything: the check of its format and password that a decryption makes,
// then the bytes a decryption would give, decrypted on the way.
//
// Whole-file RC4 has no random access, so an open file keeps keystream
// checkpoints (the cipher state every kCheckpointStep bytes of content, made
// as the stream first passes them) and the state where its last read ended:
// a read at X starts from the nearest of those below X.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "crypto/rc4.h"
#include "platform/fs.h"

namespace crypto {

inline constexpr uint64_t kCheckpointStep = 1u << 20;

// The two keys of a store's files, scheduled once from its password: the
// current formats' (digest text) and the legacy one's.
class FileKeys {
  public:
    FileKeys(const std::wstring& password, bool legacyHash);
    const Rc4& Current() const { return current_; }
    const Rc4& Legacy() const { return legacy_; }

  private:
    Rc4 current_, legacy_;
};

// What a file looks like to a reader. `reason` (a kReason* text) is set
// when the file cannot be decrypted: a wrong password for it, a damaged
// trailer, a read error.
struct PlainInfo {
    uint64_t size = 0;       // plain length
    bool decrypted = false;  // false: shown as it is (plain, or not our format)
    std::wstring reason;
    bool ok() const { return reason.empty(); }
};

class PlainFile {
  public:
    // Opens `path` for reading. With `keys`, a name of an encrypted class is
    // read in its format (a file without our trailer as it is, like a
    // decryption leaves it); without, every file is read as it is. Null when
    // the file cannot be opened (plat::LastError) or fails its check
    // (info->reason).
    static std::unique_ptr<PlainFile> Open(const std::wstring& path, const FileKeys* keys,
                                           PlainInfo* info);
    // The plain size and check of `path` without keeping it open.
    static bool Probe(const std::wstring& path, const FileKeys* keys, PlainInfo* info);

    ~PlainFile();
    uint64_t Size() const { return size_; }
    // Up to `len` plain bytes at `offset`; fewer only at the end. False on a
    // read error (plat::LastError). Safe from several threads.
    [[nodiscard]] bool Read(uint64_t offset, void* buf, uint32_t len, uint32_t* done);

    // Test hooks: checkpoints made so far, keystream bytes generated.
    size_t Checkpoints() const { return checkpoints_.size(); }
    uint64_t StreamBytes() const { return streamBytes_; }

  private:
    PlainFile() = default;
    // Moves the cursor to content offset `to` (>= cursorAt_), XORing `buf`
    // (the bytes from cursorAt_ on) when given, recording checkpoints.
    void Advance(uint64_t to, uint8_t* buf);

    std::unique_ptr<plat::File> file_;
    uint64_t size_ = 0;
    uint64_t cipherEnd_ = 0;  // content bytes [0, cipherEnd_) are under the keystream
    std::mutex mutex_;
    Rc4 cursor_;
    uint64_t cursorAt_ = 0;
    std::vector<std::unique_ptr<Rc4>> checkpoints_;  // [k]: state at content k * step
    uint64_t streamBytes_ = 0;
};

}  // namespace crypto
