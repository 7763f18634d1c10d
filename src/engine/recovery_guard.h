// Checks that run before recovery or any pass touches a folder somebody may
// have handed us: the store's folders must really be inside it.
#pragma once

#include <string>

#include "engine/pass_journal.h"
#include "engine/pass_log.h"

namespace engine {

// The first of the store root, data folder and parameter folder (current
// and earlier store names) that exists but is not a real folder inside
// `folder` on its volume (a link, junction or mount point, or a file);
// empty when every one is either missing or real. Nothing may be read or
// written in the folder while this is not empty.
std::wstring UnsafeStoreFolder(const std::wstring& folder);

// What the user is told about that folder.
std::wstring UnsafeStoreText(const std::wstring& folder, const std::wstring& offending);

// Whether what is left of a store without its data folder (a store whose
// making or removal stopped half-way) is provably ours, so recovery may
// remove it: the store root holds nothing but the parameter folder and our
// own desktop.ini, the parameter folder nothing but regular files under the
// names of our records, and a kind record says a kind of ours (or the start
// of it: a write cut short). Otherwise the folder is somebody's own that
// merely uses our names: the report says so (damaged) and the log why.
bool CheckLeftoversAreOurs(const std::wstring& folder, RecoveryReport* report, PassLog& log);

// Bounds of the work a journal may ask of recovery, which runs without a
// password on any folder: a path of a record has at most kMaxPathUnits
// characters (UTF-16 units, as on Windows) and kMaxPathParts parts, and
// checking the paths of one journal for links (a look-up per part of each
// leading folder) costs at most kMaxPathLookups. A path beyond them was not
// written by us; a journal beyond them is left alone as damaged.
inline constexpr size_t kMaxPathUnits = 32767;
inline constexpr size_t kMaxPathParts = 512;
inline constexpr uint64_t kMaxPathLookups = 16u << 20;
// Starts counting for one journal (per thread).
void StartJournalBudget();
// Whether `rel`, a path of a record, is within the bounds; charges its
// look-ups to the journal's budget.
bool JournalPathWithinBounds(const std::wstring& rel);
// The journal asked for more work than the budget allows.
bool JournalBudgetExceeded();

}  // namespace engine
