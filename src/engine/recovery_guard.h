// Checks that run before recovery or any pass touches a folder somebody may
// have handed us: the store's folders must really be inside it.
#pragma once

#include <string>

namespace engine {

// The first of the store root, data folder and parameter folder (current
// and earlier store names) that exists but is not a real folder inside
// `folder` on its volume (a link, junction or mount point, or a file);
// empty when every one is either missing or real. Nothing may be read or
// written in the folder while this is not empty.
std::wstring UnsafeStoreFolder(const std::wstring& folder);

// What the user is told about that folder.
std::wstring UnsafeStoreText(const std::wstring& folder, const std::wstring& offending);

}  // namespace engine
