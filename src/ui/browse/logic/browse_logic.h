// The browse window's own decisions, without the window: where its controls
// go when it is sized, what its 2888 ms timer does (folder windows closed,
// folder windows found, copies left waiting, the idle lock), what closing
// does with open items, how working copies go back into the store and how
// chosen files move in, the open-folder log and the working area's empty
// folders.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "crypto/records.h"
#include "engine/engine.h"
#include "engine/hide_pass.h"
#include "engine/strength_pass.h"
#include "ui/browse/logic/opened_items.h"

namespace ui::browse {

// ---- Messages the file list sends the window

inline constexpr unsigned kMsgBrowseNotify = 0x0400 + 100;  // WM_USER + 100
inline constexpr unsigned kMsgBrowseLock = 0x0400 + 101;    // WM_USER + 101
// wParam of kMsgBrowseNotify.
enum BrowseNotify : int {
    kNotifyEnterFolder = 1,  // enter the first selected row if it is a folder
    kNotifyRefresh = 2,      // refill the list, reload the tree's current item
    kNotifyPathChanged = 3,  // path box = protected folder + browse relative path
    kNotifyTotals = 4,       // totals line (TotalsText)
    kNotifySelection = 5,    // selection line (SelectionText)
};

// ---- Layout (client pixels)

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
    bool operator==(const Rect& o) const { return x == o.x && y == o.y && w == o.w && h == o.h; }
};
struct Size {
    int w = 0, h = 0;
};

// Control sizes the layout keeps.
struct LayoutInput {
    int clientW = 0, clientH = 0;
    Size button;         // button 1067; every button takes its size
    Size pathLabel;      // 1066 (its width; height is fixed)
    Size folderLabel;    // 1076
    Size refreshLink;    // 1075
    Size totalsText;     // 1023
    Size selectionText;  // 1074
};

struct Layout {
    Rect buttons[8];  // 1067, 1068, 1069, 1072, 1073, 1070, 1058, 1061
    Rect pathLabel, pathBox, tree, folderLabel, refreshLink, folderList, totals, selection,
        fileList;
};
// Negative sizes of a window made very small come out as 0.
Layout ComputeLayout(const LayoutInput& in);

// ---- What the window asks the system

// No input for this long locks the window.
inline constexpr uint32_t kIdleLockSeconds = 188;

class BrowsePlatform {
  public:
    virtual ~BrowsePlatform() = default;
    virtual bool IsWindow(Handle window) = 0;
    // The shown folder windows (the shell's Explorer windows) titled exactly
    // `title`; other programs' windows of that title are not among them.
    virtual std::vector<Handle> FolderWindowsTitled(const std::wstring& title) = 0;
    // Milliseconds since start (GetTickCount) and of the last input, both
    // wrapping at 2^32.
    virtual uint32_t TickMs() = 0;
    virtual uint32_t LastInputMs() = 0;
    // Seconds without input before the window locks itself.
    virtual uint32_t IdleLockSeconds() { return kIdleLockSeconds; }
    // True while some program holds the file, or a file below the folder,
    // at `path` open, so that moving it back would pull it away from under
    // that program (Windows: a share-exclusive open fails).
    virtual bool InUse(const std::wstring& path) = 0;
};

// The working copy of `rel` through the mapped drive: drive + "<sep>NotDelete<sep>" + rel.
std::wstring DrivePath(const std::wstring& drive, const std::wstring& rel);
// Titles an opened folder's Explorer window may carry: the folder's name,
// then its drive path.
std::vector<std::wstring> FolderWindowTitles(const std::wstring& rel, const std::wstring& drive);
// The folder windows shown under those titles now: taken before a folder
// opens, so that none of them is ever taken for its window.
std::vector<Handle> FolderWindowsShown(BrowsePlatform& platform, const std::wstring& rel,
                                       const std::wstring& drive);

// No input for 188 seconds or more (wrap-safe), and the lock not already up.
bool IdleLockDue(uint32_t nowMs, uint32_t lastInputMs, bool lockShown,
                 uint32_t idleSeconds = kIdleLockSeconds);
inline constexpr int kTimerId = 18;
inline constexpr uint32_t kTimerPeriodMs = 2888;

// One timer tick: closed folder windows settled, awaiting windows looked
// for, copies left waiting offered again, and whether to lock.
struct TimerResult {
    std::vector<std::wstring> toReturn;  // relative paths to take back now
    bool lock = false;
};
TimerResult TimerTick(OpenedItems& opened, BrowsePlatform& platform, const std::wstring& drive,
                      bool lockShown);

// ---- Taking working copies back, and moving files in

// Store kinds as the decrypt window knows them.
inline constexpr int kStoreNormal = crypto::kKindNormal;
inline constexpr int kStoreHigher = crypto::kKindHigher;
inline constexpr int kStoreHighest = crypto::kKindHighest;

struct StoreAccess {
    int kind = kStoreNormal;
    std::wstring folder;    // the protected folder
    std::wstring dataDir;   // its data folder
    std::wstring password;  // the accepted password
    std::wstring mail;
};

// The pass that puts items into the store with its strength: the hide pass
// for a normal store, the content-encryption pass for the others.
struct StorePassPlan {
    bool valid = false;        // a known store kind and something to do
    bool contentPass = false;  // run `strength`, else `hide`
    int engineKind = 0;        // engine strength selector 0, 1, 2
    engine::HideJob hide;
    engine::StrengthJob strength;
    // Working copies a program still holds: left out, to be tried again
    // (OpenedItems::AddWaiting) or, at close, left for the next start.
    std::vector<std::wstring> stillHeld;
    std::wstring refusal;  // shown when not empty
};

// Working copies `rel` back to their places in the store. Copies that no
// longer exist are dropped; those `platform.InUse` reports are held back.
StorePassPlan PlanReturn(const StoreAccess& store, const std::vector<std::wstring>& rels,
                         BrowsePlatform& platform);
// Files chosen in `sourceFolder` into the folder shown (`browseRel`). Files
// from inside the protected folder's store are refused (`valid` false,
// `refusal` says why).
StorePassPlan PlanMoveIn(const StoreAccess& store, const std::wstring& sourceFolder,
                         const std::vector<std::wstring>& names, const std::wstring& browseRel);
// Decryption of stored names of the folder shown (`browseRel`): open
// (job mode 2 into WorkingCopyRoot), copy-to (1) and move-to (2) into a
// chosen folder. The window runs engine::DecryptStore(store folder,
// password, jobMode, ui, options).
engine::DecryptOptions PlanDecrypt(const std::vector<std::wstring>& storedNames,
                                   const std::wstring& destination, const std::wstring& browseRel);
// The working-copy root of a store's data folder.
std::wstring WorkingCopyRoot(const std::wstring& dataDir);

// ---- Closing

enum class CloseAnswer { Yes, No, Cancel };

// Whether the close question has to be asked at all.
bool CloseNeedsQuestion(const OpenedItems& opened);

struct ClosePlan {
    bool stay = false;                   // Cancel: the window stays open
    std::vector<Handle> windowsToClose;  // Yes: folder windows to end
    std::vector<Handle> processesToEnd;  // Yes: programs to end
    std::vector<std::wstring> toReturn;  // plan with PlanReturn after they ended
    // No: opened items left with the programs and windows that have them.
    std::vector<std::wstring> leftOpen;
};
// Yes ends the folder windows and programs and takes everything back. No
// leaves the programs running and their copies where they are: the user
// chose to go on with them, and the next start puts them back. Copies whose
// programs have ended (waiting ones outside anything still open) go back. Both stop
// the watchers and the timer from taking anything back on their own.
// `answer` is ignored when nothing is open.
ClosePlan PlanClose(OpenedItems& opened, CloseAnswer answer);
// The text shown when copies stayed decrypted because a program held them,
// naming the first few.
std::wstring StillHeldText(const std::vector<std::wstring>& rels);

// Opening a file no program is associated with: the question naming it, and
// the command line that starts the program the user chose on it (both
// quoted, so spaces in either path survive).
std::wstring NoProgramText(const std::wstring& rel);
std::wstring ProgramCommandLine(const std::wstring& program, const std::wstring& file);

// What closing left behind: copies still plain in the working area (left
// open with No, or held by a program), and whether the pass that took the
// others back finished.
struct CloseOutcome {
    size_t leftPlain = 0;
    bool returnComplete = true;
    // The drive letter stays while a program may still save through it;
    // the next start releases it and takes back what is left.
    bool KeepDrive() const { return leftPlain > 0; }
    // The program's exit code: 1 when the folder was made safe only in part.
    int ExitCode() const { return leftPlain > 0 || !returnComplete ? 1 : 0; }
};
CloseOutcome OutcomeOfClose(const ClosePlan& plan, const StorePassPlan* back, bool passComplete);

// Removes the empty folders below `workingArea` (data folder + "working"),
// deepest first, the area itself last; folders still holding files stay.
void RemoveEmptyFolders(const std::wstring& workingArea);

// ---- Open-folder log: the protected folders that have a browse window open.

inline constexpr const wchar_t* kOpenFolderLogName = L"ulxjmlog.dat";
std::wstring OpenFolderLogPath();  // in the temporary-files folder
std::vector<std::wstring> ReadOpenFolderLog(const std::wstring& logPath);
void WriteOpenFolderLog(const std::wstring& logPath, const std::vector<std::wstring>& names);
// Start: the folder is added unless it is listed (ignoring case).
void AddOpenFolder(std::vector<std::wstring>& names, const std::wstring& moduleFolder);
// Close: its first occurrence is removed.
void RemoveOpenFolder(std::vector<std::wstring>& names, const std::wstring& moduleFolder);

}  // namespace ui::browse
