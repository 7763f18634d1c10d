// Renaming onto a name that may be taken: the object already holding the
// name is first moved aside under a numbered name, the way the hide pass
// de-duplicates names ("report.final.doc" -> "report[1].final.doc",
// "photos" -> "photos[1]").
#pragma once

#include <string>

namespace crypto {

// The n-th numbered form of a leaf name: folders and dotless names get
// "name[n]", dotted names "base[n].rest" split at the first dot.
std::wstring NumberedName(const std::wstring& name, int n, bool isFolder);

// Moves `from` to `to`. When `to` exists it is first moved to the first
// numbered name that is free in its folder (neither the name nor the name
// with the encrypted suffix exists); *movedAsideTo then receives that path.
// When the final move fails, the object moved aside is put back. `from`
// equal to `to` succeeds without touching anything.
[[nodiscard]] bool RenameMovingAside(const std::wstring& from, const std::wstring& to,
                                     std::wstring* movedAsideTo = nullptr);

}  // namespace crypto
