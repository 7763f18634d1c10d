// What the decrypt window decides, without the window: the mode to start
// in, the keyboard rules, the password check by store kind, the working
// copies an earlier browse window left, the drive letter of image use and
// the watch that encrypts the store again once the drive's window closes.
// The window reads its controls, calls these and shows what they return.
#pragma once

#include <cstdint>
#include <string>

#include "crypto/records.h"

namespace ui::logic {

// Decrypt modes, as the profile value "jiemitype" and the operation code.
enum DecryptMode : int { kModeImage = 0, kModeBrowse = 2, kModeFull = 3 };

// Image use for stores marked "type=0" (any case, also "fftype=0"), browse
// otherwise.
int DefaultDecryptMode(const std::wstring& kindLine);

// The mode of this run from the profile: the first run on a machine uses
// image mode once and leaves browse mode for the next run; otherwise the
// remembered mode, anything but 0, 2 and 3 read as browse. Writes "u2088"
// and "jiemitype" on the first run.
int StartDecryptMode(const std::wstring& kindLine);

// Writes "jiemitype"; false when the profile could not be written.
bool RememberDecryptMode(int mode);

// Ctrl+Right: browse -> image -> full -> browse.
int NextDecryptMode(int mode);

enum class JieMiKey { None, Decrypt, CycleMode };
// A key pressed anywhere in the window: Enter decrypts, Ctrl+Right cycles.
JieMiKey DecryptWindowKey(unsigned virtualKey, bool ctrlDown);

// A folder reached over the network by a UNC path (two backslashes in a
// row anywhere) opens in image mode only.
bool IsNetworkFolder(const std::wstring& folder);

// The password check of the decrypt window.
enum class Verdict {
    Accepted,  // the folder's password: go on with `password`
    OpenOnly,  // a normal store's secondary password: restricted browse window
    Wrong,     // refused; show `message`
};
struct Verification {
    Verdict verdict = Verdict::Wrong;
    int kind = crypto::kKindHighest;
    bool legacyHash = false;
    std::wstring password;  // what goes on (the record's for a normal store)
    const wchar_t* message = nullptr;
};
// Reads the records again and checks `typed` by the store's kind: normal
// stores take the folder's password (a typed reset password becomes it)
// or the secondary one; strength stores their sealed record.
Verification VerifyPassword(const std::wstring& paramDir, bool legacyStore,
                            const std::wstring& typed);

// Moves what the browse window's working area ("working\NotDelete\") still
// holds back into the data folder: a folder the store has too is merged
// into it (the copy of "相册\p.jpg" goes back into "相册"), other taken
// names are numbered ("a[1].txt", "folder[1]"); then removes the emptied
// working folders. Entries that do not move stay for the next start.
// Returns how many files and folders moved.
int RecoverWorkingCopies(const std::wstring& dataDir);
// The first free name for `name` in `dir`: the name itself, else
// "%s[%d]" for folders and names without a dot, "%s[%d].%s" otherwise.
std::wstring FreeNameIn(const std::wstring& dir, const std::wstring& name, bool folder);

// ---- drive letters

// The drive table of the machine, so tests can stand in for it.
class DriveTable {
  public:
    virtual ~DriveTable() = default;
    virtual std::wstring LettersInUse() = 0;  // upper-case letters, "CDZ"
    virtual bool Reserve(const std::wstring& drive) = 0;
    virtual bool Map(const std::wstring& drive, const std::wstring& folder) = 0;
    virtual void Release(const std::wstring& drive) = 0;
    // Where files on the drive are reached ("Y:\").
    virtual std::wstring Root(const std::wstring& drive) = 0;
    // The folder the drive is mapped onto, empty when unknown.
    virtual std::wstring MappedFolder(const std::wstring& drive) = 0;
};
// The machine's own table (the platform layer).
DriveTable& OsDriveTable();

// "Z:" down to "A:", the first letter not in `inUse`; empty when none.
std::wstring FreeDriveName(const std::wstring& inUse);
// "MapDriver" with `drive` put in front / with every `drive` struck.
std::wstring MapDriverWith(const std::wstring& text, const std::wstring& drive);
std::wstring MapDriverWithout(const std::wstring& text, const std::wstring& drive);

// The drive image use holds: reserved, mapped, released. Released when it
// goes, whatever happened before.
class ImageDrive {
  public:
    explicit ImageDrive(DriveTable& table) : table_(table) {}
    ~ImageDrive() { Release(); }
    ImageDrive(const ImageDrive&) = delete;
    ImageDrive& operator=(const ImageDrive&) = delete;

    // Picks a free letter, reserves it and records it in "MapDriver".
    // False when every letter is in use or the system refused it.
    bool Reserve();
    // Maps the reserved letter onto `folder`.
    bool Map(const std::wstring& folder);
    // Removes both definitions and strikes the letter from "MapDriver".
    void Release();
    // Lets the drive outlive this object, still recorded in "MapDriver":
    // programs go on saving through it, and the next start releases it.
    void Leave() { name_.clear(); }

    const std::wstring& Name() const { return name_; }  // "Y:", empty when none
    std::wstring Root() const;                          // "Y:\", empty when none
    bool Reachable() const;                             // the root exists now

  private:
    DriveTable& table_;
    std::wstring name_;
};

// Releases the letters of "MapDriver" that a killed or finished run left
// mapped onto a store no run holds any more: its data folder (image use) or
// its working folder (browse window). `folderIsFree` takes the protected
// folder. Strikes from "MapDriver" the letters no longer defined at all.
// Returns how many were released.
int ReleaseStaleDrives(DriveTable& table, bool (*folderIsFree)(const std::wstring& folder));

// ---- the watch after image use

// Titles the drive's Explorer window may carry: the shell's display name
// of the root, the drive name with "\", and "本地磁盘 (Y:)".
struct WatchTitles {
    std::wstring a, b, c;
};
WatchTitles MakeWatchTitles(const std::wstring& shellDisplayName, const std::wstring& drive);

// An Explorer window on the drive under another title: "Label (Y:)" or
// "Y:\" (a labelled drive, or full paths in the title bar).
bool TitleNamesDrive(const std::wstring& title, const std::wstring& drive);

// Timer 8: waits up to six ticks for the window to be found, then until it
// closes or the user asks to encrypt now.
class CloseWatch {
  public:
    enum class Step { Wait, ReEncrypt };
    Step Tick(bool windowFound, bool windowAlive, bool encryptNow);
    int waited() const { return waited_; }

  private:
    int waited_ = 0;
};

// True when the folder holds nothing but the program `modulePath` (hidden
// entries count); such a folder is not encrypted again.
bool FolderHoldsOnlyProgram(const std::wstring& folder, const std::wstring& modulePath);

// The watch window's caption and bar in progress mode.
std::wstring ReEncryptCaption(int total, int handled, int failed, int skipped);
int ReEncryptPercent(int handled, int total);

// The waiting window's text after `quarterSeconds` ticks of 250 ms.
std::wstring WaitingText(int quarterSeconds);

}  // namespace ui::logic
