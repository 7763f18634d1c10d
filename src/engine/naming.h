// Collision-free names for objects moved into or out of a store, and the
// path rules every pass shares.
#pragma once

#include <string>

namespace engine {

// The suffix content-encrypted files carry.
inline constexpr const wchar_t* kEncryptedSuffix = L".zpwenc0";

// Which pass asks: a plain move, a strength encryption (files will get the
// suffix later) or a pass over a strength store on the decrypt side.
enum class NamingSide { Plain, StrengthEncrypt, StrengthDecrypt };

struct NamingRule {
    NamingSide side = NamingSide::Plain;
    // Dotted names: encryption splits at the first dot (report.final.doc ->
    // report[1].final.doc), restore at the last one (report.final[1].doc).
    bool splitAtLastDot = false;
};

// The destination `dst` if nothing stands there, otherwise the first free
// numbered variant "name[n]" / "base[n].rest" that neither the source's
// folder nor the destination's folder holds. Empty when no free name exists.
std::wstring ResolveCollision(const std::wstring& src, const std::wstring& dst,
                              const NamingRule& rule);

// The candidate name for number n (exposed for tests).
std::wstring NumberedName(const std::wstring& name, int n, bool isFolder, bool splitAtLastDot);

// Paths of 260 characters or more are refused, as on the systems the store
// must stay readable on.
inline bool IsTooLong(const std::wstring& path) {
    return path.size() >= 260;
}

// Replaces every occurrence of `from` (any letter case) by `to`.
std::wstring ReplaceNoCase(std::wstring text, const std::wstring& from, const std::wstring& to);

// True for a path of the form "\\server\share...".
bool IsNetworkPath(const std::wstring& path);

// A folder path as it is enumerated: on newer systems the store root of the
// oldest versions is reached under the current root name.
std::wstring EnumerationPath(const std::wstring& dir);

// Display kind helpers.
NamingSide SideOfKind(int kind);

}  // namespace engine

namespace engine {
// Creates `dir` and every missing folder above it; true when it exists after.
bool MakeDirs(const std::wstring& dir);
}  // namespace engine
