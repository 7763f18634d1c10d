// How the per-file cipher operations (content_cipher.h) report to the pass
// that runs them. The engine implements this over its pass state, failure
// list and pass log; tests implement it with plain members.
//
// Contract for one call of an operation on one file:
//   SetCurrentObject(path); OnFileSeen();
//   then any number of SetCurrentLength / AddBytesDone / AddFailure /
//   ShowMessageOnce; IsCancelled is polled between blocks;
//   finally exactly one OnFileDone(outcome).
// All calls come from the thread that runs the operation.
#pragma once

#include <cstdint>
#include <string>

namespace crypto {

// How the processing of one file ended.
enum class FileOutcome {
    // Content encrypted, trailer written and verified, suffix added.
    StrengthEncrypted,
    // Encryption skipped because the name already carries an encrypted
    // suffix (class 1, 2 or 3). Handled, but neither encrypted nor skipped.
    AlreadyEncrypted,
    // Stayed plain: read-only, cancelled or failed (a failure was recorded
    // with AddFailure before, except for cancellation).
    NotStrengthEncrypted,
    // Decrypted (or copied decrypted) successfully.
    StrengthDecrypted,
    // Not in any encrypted format: left as it was (in a copy job copied
    // unchanged). Counts as strength-decrypted; the status text for it is
    // kNotOurFormatText.
    NotEncryptedFormat,
    // Decryption failed; a failure was recorded with AddFailure.
    DecryptFailed,
};

// Status text of a file that turned out not to be in our encrypted format.
inline constexpr const wchar_t* kNotOurFormatText = L"非岚栩便携强度加密";

class CipherSink {
  public:
    virtual ~CipherSink() = default;

    // The file now being processed (the path as given, with its suffix).
    virtual void SetCurrentObject(const std::wstring& path) = 0;
    // A file was begun (objects seen).
    virtual void OnFileSeen() = 0;
    // The file's processing ended; called exactly once per OnFileSeen.
    // "Handled" is implied by every outcome.
    virtual void OnFileDone(FileOutcome outcome) = 0;

    // A per-file failure: `path` as given to the operation (the sink strips
    // suffixes and the store part for the log), `reason` one of the
    // kReason* texts of content_cipher.h (each starts with a space). Only
    // records: counting happens through OnFileDone.
    virtual void AddFailure(const std::wstring& path, const std::wstring& reason) = 0;

    // Within-file progress: the length of the current file, then the number
    // of content bytes read since the last call.
    virtual void SetCurrentLength(uint64_t length) = 0;
    virtual void AddBytesDone(uint64_t bytes) = 0;

    // The user asked to stop. Polled before every block of whole-file work
    // and before the first block is touched; the file in hand is finished or
    // restored, never left half-done.
    virtual bool IsCancelled() = 0;

    // Shows `text` in a message box unless this exact text was already shown
    // during the current pass (cancel notice, legacy wrong-password notice).
    virtual void ShowMessageOnce(const std::wstring& text) = 0;
};

}  // namespace crypto
