// The pass journal: what a pass is doing to a folder, kept in the store's
// parameter folder ("journalff.ulxjm") so that a pass killed at any instant
// (process ended, stick pulled, disk full) is finished or undone by the next
// run on that folder, without the password.
//
// It holds which pass made a new store (so an interrupted hiding can be
// finished) and, for the batch of files in hand, the full record of each
// file's change (crypto/file_change.h). A batch is written and flushed once,
// then its files are changed, the volume is synced, the batch's renames are
// made, and the journal goes: one flush per batch, not per file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crypto/file_change.h"
#include "engine/pass_log.h"
#include "engine/pass_ui.h"

namespace engine {

inline constexpr const wchar_t* kJournalName = L"journalff.ulxjm";

// What the journal says about the pass as a whole.
enum class JournalPass : uint32_t {
    Files = 0,     // only the batch of files: settle them and it is done
    NewStore = 1,  // a new store of the whole folder is being made
    // The store is made and everything is hidden in it, but its files still
    // wait for their content encryption (which needs the password).
    PendingStrength = 2,
    // A strength store's files were decrypted in place for image use (or are
    // being encrypted again after it): whatever is plain in it waits to be
    // encrypted again (which needs the password).
    ImageOpen = 3,
};

// The journal is kept in two slots, "journalff.ulxjm" and
// "journalff.ulxjm.new". Each write goes into the slot that does not hold
// the latest journal, overwriting it in place (no rename, no removal whose
// freed space a pulled drive could keep while losing the directory change),
// and carries a sequence number and checksums: recovery takes the complete
// slot with the highest number, so a write cut short leaves the previous
// journal in force.
class PassJournal {
  public:
    // `root` is the protected folder; the journal lives in its store (an
    // older store passes its own data and parameter folders).
    explicit PassJournal(std::wstring root, std::wstring dataFolder = L"",
                         std::wstring paramFolder = L"");

    void SetPass(JournalPass pass, int strength);
    JournalPass Pass() const { return pass_; }
    int Strength() const { return strength_; }

    // Writes the journal with the pass record and `batch` (changes outside
    // the store's data folder are not kept: recovery never touches what
    // lies outside it) and makes it durable, together with everything
    // written before it. False: nothing may be changed.
    [[nodiscard]] bool Write(const std::vector<const crypto::FileChange*>& batch);
    // Removes both slots and makes that durable (the pass ended).
    [[nodiscard]] bool Remove();
    std::wstring Path() const;
    std::wstring NextPath() const;

  private:
    std::wstring root_, data_, param_;
    JournalPass pass_ = JournalPass::Files;
    int strength_ = 0;
    bool slotsRead_ = false;
    uint32_t sequence_ = 0;  // of the latest journal written or found
    int latest_ = -1;        // its slot: 0 Path(), 1 NextPath(), -1 none
};

// What recovery found and did.
struct RecoveryReport {
    bool journal = false;  // a journal was there
    bool damaged = false;  // it could not be read; it was left in place
    // It was not ours or not whole (a checksum failed): never applied, kept
    // aside under this name; the folder is usable.
    std::wstring setAside;
    int settled = 0;    // file changes finished or undone
    int unsettled = 0;  // changes that could not be settled (journal kept)
    // Files in neither journaled state (edited since, or cut short by the
    // drive): left exactly as they were, every copy kept.
    int leftAlone = 0;
    bool storeRemoved = false;     // a half-made store was removed
    bool hidingFinished = false;   // an interrupted new store's hiding was finished
    bool pendingStrength = false;  // files still wait for their content encryption
    int pendingStrengthKind = 0;   // 1 higher, 2 highest
    // Of pendingStrength: the plain files are what an image decryption left
    // (the run was killed or the stick pulled while the drive was in use).
    bool imageOpen = false;
    bool ok() const { return !damaged && unsettled == 0; }
};

// Settles whatever an interrupted pass left in `root`'s store. `exePath` is
// the program to place into a folder whose new store's hiding is finished
// (empty: none). Safe to call on any folder; a folder without a journal is
// left alone. The caller holds the folder's lock.
RecoveryReport RecoverFolder(const std::wstring& root, const std::wstring& exePath, PassUi& ui,
                             PassLog& log);

// Makes a new store in `root`: store folders, records (sealed for strength
// 1 and 2) written and durable, then the data folder, which is what makes
// the folder count as encrypted. On failure everything it created is
// removed again, the reason is in the log, and the folder is as it was.
[[nodiscard]] bool CreateNewStore(const std::wstring& root, const std::wstring& password,
                                  const std::wstring& mail, const std::wstring& kindText,
                                  int strength, PassLog& log);

}  // namespace engine
