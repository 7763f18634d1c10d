// Working files a pass writes outside the protected folder (decrypted copies
// going to a destination: "name.tmp" until complete). The pass journal only
// covers the store, so these are listed, before they are created, in a file
// of the user's own (plat::PrivateTempDir(), one list per protected folder):
// a run killed in the middle leaves the list, and the next run on that
// folder, holding its lock, removes exactly what is listed. A list inside
// the store would not do: a folder received from somebody else could list
// any file of ours.
#pragma once

#include <string>
#include <vector>

#include "crypto/file_change.h"
#include "engine/pass_log.h"

namespace engine {

// The list of `folder` (empty when there is no private folder).
std::wstring CopyTempListPath(const std::wstring& folder);

// Adds the working files of the copies in `changes` that lie outside `dataFolder` to the
// list of `folder`. False when they could not be listed: they must not be
// created then.
[[nodiscard]] bool ListCopyTemps(const std::wstring& folder, const std::wstring& dataFolder,
                                 const std::vector<const crypto::FileChange*>& changes);

// Deletes the listed working files that are still there (regular files,
// never links or folders), then the list. Returns how many went; a file
// that cannot go is logged and keeps the list.
int RemoveCopyTemps(const std::wstring& folder, PassLog& log);

}  // namespace engine
