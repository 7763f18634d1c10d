// One pass per folder at a time, across the processes of this machine.
//
// posix: flock(2) on the folder itself, so no file is created in the user's
// folder and the lock goes with its process, however it ends. Two locks on
// one folder conflict inside one process too (each holds its own open
// file description).
// Windows: a named mutex "Global\ulxjm-folder-<hash>", <hash> the 16 hex
// digits of the FNV-1a 64 hash of the folder's upper-cased long path (UTF-16
// code units, low byte first). A mutex its holder left by dying counts as
// free. A process-wide set of held folders makes a second lock in the same
// process fail as well (a mutex lets its own thread in again).
//
// The two kinds do not see each other: the Windows program under Wine and
// the native command do not exclude one another.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace plat {

// Held while it lives; released when destroyed, from any thread.
class FolderLock {
  public:
    virtual ~FolderLock() = default;
};

// Takes the lock of `folder` (an existing folder) without waiting. Null when
// it cannot: *error (may be null) is then kErrSharingViolation when someone
// holds it, else why the folder could not be opened.
std::unique_ptr<FolderLock> TryLockFolder(const std::wstring& folder, uint32_t* error);

}  // namespace plat
