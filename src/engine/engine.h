// The engine's entry points for the command line and the windows. Each call
// runs one whole pass on the calling thread: run it on a worker thread and
// poll a ProgressModel (progress_model.h) from the display thread meanwhile.
// One pass at a time per process.
#pragma once

#include <string>
#include <vector>

#include "engine/pass_journal.h"
#include "engine/pass_ui.h"
#include "engine/strength_pass.h"

namespace engine {

// What a pass did, read from the pass state when it ended.
struct PassSummary {
    bool started = false;  // false: refused before touching anything (message shown)
    int total = 0;
    int handled = 0;
    int moved = 0;
    int moveFailed = 0;
    int strengthDone = 0;
    int strengthSkipped = 0;
    int renamed = 0;
    int notOurFormat = 0;  // suffixed files without a trailer (they only lost the suffix)
    bool cancelled = false;
    bool storeVisible = false;  // the store could not be hidden (a drive without DOS marks)
    // Everything done, nothing failed or was left out.
    bool ok() const {
        return started && moveFailed == 0 && strengthSkipped == 0 && notOurFormat == 0 &&
               !cancelled && !storeVisible;
    }
};

// Encrypts `folder` (its whole content) with strength 0 (normal: hide
// only), 1 (higher) or 2 (highest). The caller has checked that the folder
// may be encrypted (not already encrypted, not a system folder...).
PassSummary EncryptFolder(const std::wstring& folder, const std::wstring& password,
                          const std::wstring& mail, int strength, PassUi& ui);

// Restores a normal-strength store into `folder` and removes the store.
// Refuses ("输入的密码不正确。") a password the store does not accept.
PassSummary RestoreFolder(const std::wstring& folder, const std::wstring& password, PassUi& ui);

// Options of a strength decryption beyond the whole-store default.
struct DecryptOptions {
    std::vector<std::wstring> items;  // relative to the store position subPath; empty: all
    std::wstring destination;         // job 1: copies go here; job 2: objects go here
    std::wstring subPath;             // position inside the store
    int operation = -1;  // -1: image for job 0, full for a whole-store job 2, else browse
};

// Decrypts a strength store of `folder`: job mode 0 in place inside the store
// (image decryption), 1 into copies, 2 in place and out of the store (a full
// decryption also removes the store). Refuses ("密码不正确，本次解密失败。")
// a password the store does not accept.
PassSummary DecryptStore(const std::wstring& folder, const std::wstring& password, int jobMode,
                         PassUi& ui, const DecryptOptions& options = {});

// Full decryption whatever the store's strength: restore for a normal store,
// strength decryption in job mode 2 otherwise.
PassSummary DecryptFolder(const std::wstring& folder, const std::wstring& password, PassUi& ui);

// Settles what an interrupted pass left in `folder` (pass_journal.h): the
// first thing every run on a folder does, holding the folder's lock. Needs
// no password. `exePath`: the program a finished new store receives. A
// folder whose store folders are not really inside it is left alone
// (RecoveryReport::unsafeFolder).
RecoveryReport Recover(const std::wstring& folder, const std::wstring& exePath, PassUi& ui);

// Finishes an encryption interrupted after its store was made (the report
// of Recover says pendingStrength): the store's plain files get their
// content encryption. Refuses ("密码不正确，本次解密失败。") a password the
// store does not accept.
PassSummary ResumeEncryption(const std::wstring& folder, const std::wstring& password, PassUi& ui);

// Encrypts a strength store again after image use: every plain file of its
// data folder gets its content encryption, with the store's own kind. The
// store stays marked (RecoveryReport::imageOpen) until nothing is left plain.
// Refuses ("密码不正确，本次解密失败。") a password the store does not accept.
PassSummary ReEncryptAfterImage(const std::wstring& folder, const std::wstring& password,
                                PassUi& ui);

// The job that encrypts `folder`'s whole strength store again; `kind` is the
// store's decrypt-side kind (4 or 5).
StrengthJob ReEncryptJob(const std::wstring& folder, const std::wstring& password, int kind);

}  // namespace engine
