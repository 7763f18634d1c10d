// One file's encryption or decryption, planned in full before anything is
// written, so that it can be finished or undone from what it records alone:
// the bytes it replaces, the bytes it writes, and the names before and after.
//
// In-place changes (first block) rewrite the head of the file and add or cut
// the trailer; their rename is the commit point. Whole-file changes write a
// working file beside the source; renaming the working file is the commit
// point, and the source goes afterwards.
//
// The pass journal (engine/pass_journal.h) keeps these records, one batch of
// files at a time, so that a pass killed at any instant is settled by the
// next run without the password.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crypto/rc4.h"
#include "platform/fs.h"

namespace crypto {

enum class ChangeKind : uint8_t {
    EncryptFirstBlock = 1,  // in place, then renamed to the suffixed name
    EncryptWhole = 2,       // into `temp`, which becomes `to`; `from` goes
    DecryptFirstBlock = 3,  // in place, then renamed to the plain name
    DecryptWhole = 4,       // into `temp`, which becomes `to`; `from` goes
    DecryptCopy = 5,        // into `temp`, which becomes `to`; `from` stays
};

struct FileChange {
    ChangeKind kind = ChangeKind::EncryptFirstBlock;
    std::wstring from;  // the file as it is now
    std::wstring to;    // its name once the change is done (may equal from)
    std::wstring temp;  // working file of whole-file and copy changes
    uint64_t oldSize = 0;
    uint64_t newSize = 0;
    // In-place changes: the first bytes before and after; `tail` is the
    // trailer, written at oldSize when encrypting, found at newSize when
    // decrypting.
    std::vector<uint8_t> oldHead, newHead, tail;
    plat::FileTimes times;
    uint32_t attributes = 0;  // of `from` before the change
    // Whole-file and copy changes: MD5 of the first block of the source and
    // of the finished working file. With the sizes (and `tail`, the trailer
    // of whichever side is encrypted) they tell a complete copy from one a
    // pulled drive or a repair tool cut short. Empty in older journals.
    std::vector<uint8_t> sourceDigest, outputDigest;

    // Not journaled: where the pass stands with this file.
    Rc4 rc4;                  // whole-file and copy changes: at the first content byte
    char mode = 0;            // trailer mode of the file being decrypted
    uint64_t cipherEnd = 0;   // copy and whole changes: bytes that pass through RC4
    bool legacy = false;      // a file of the legacy format
    bool unsettled = false;   // a failure could not put the file back
    bool flushed = false;     // its working file was made durable on its own
    bool sourceKept = false;  // renamed into place; the source goes once that is durable
    // In-place changes: the file, opened for writing when it was planned,
    // so the batch opens each file once.
    std::unique_ptr<plat::File> handle;

    bool InPlace() const {
        return kind == ChangeKind::EncryptFirstBlock || kind == ChangeKind::DecryptFirstBlock;
    }
    void Wipe();
};

// How a change was settled.
enum class Settled {
    Done,       // the file is in one journaled state (finished or put back)
    LeftAlone,  // no copy is in a journaled state: every copy was kept as it is
    Failed,     // a step failed (read-only medium...): try again later
};

// Finishes or undoes `change`, whatever point it reached, from the file
// system's state alone. Nothing is removed unless another copy is known to
// be complete (its size, its first block and, on the encrypted side, its
// trailer agree with the record); a file in neither journaled state is left
// alone. An in-place change is completed or put back only when the file is
// exactly in one of its two states (or between them, part-written). Used by
// recovery and by a pass that fails half-way.
[[nodiscard]] Settled Settle(const FileChange& change);
// Settle() == Settled::Done.
[[nodiscard]] bool SettleChange(const FileChange& change);

// First-block digest of what a whole-file or copy change reads or writes.
std::vector<uint8_t> HeadDigest(const uint8_t* head, size_t size);

// Journal form of a change. Parse refuses anything malformed or oversized.
void SerializeChange(const FileChange& change, std::string* out);
[[nodiscard]] bool ParseChange(const uint8_t* data, size_t size, size_t* used, FileChange* out);

}  // namespace crypto
