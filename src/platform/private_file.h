// Files of the running user that nobody else may plant, redirect or read
// through us: the pass log. They do not go through Fs(): they are the
// program's own, not the user's data, and no test swaps them.
//
// The danger is another local user preparing the name first, as a link to
// a file of ours (which would get our lines appended and its content
// printed) or as a file of theirs. So a private file is only ever a
// regular file owned by us with a single name, opened without following a
// link; anything else is refused with kErrAccessDenied (kErrCantAccessFile
// for a link). Windows opens the reparse point itself and refuses it.
#pragma once

#include <cstddef>
#include <string>

namespace plat {

// Appends `bytes` (created 0600 when missing). False with LastError() when
// the file is refused or cannot be written.
bool AppendToPrivateFile(const std::wstring& path, const std::string& bytes);

// The first `cap` bytes of the file into *out; *cut (may be null) tells
// whether there was more. False with LastError() when refused or missing.
bool ReadPrivateFile(const std::wstring& path, size_t cap, std::string* out, bool* cut = nullptr);

// A folder only this user can write, with a trailing separator, created
// when missing; empty when there is none.
// posix: $XDG_RUNTIME_DIR/ulxjm/ when that is ours; else $TMPDIR (or /tmp)
// + "ulxjm-<uid>/" when it is a folder of ours with mode 0700 and not a
// link; else $XDG_CACHE_HOME (or ~/.cache) + "ulxjm/".
// Windows: the temporary folder, which is the user's own already.
std::wstring PrivateTempDir();

}  // namespace plat
