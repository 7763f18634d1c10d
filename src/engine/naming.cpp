#include "engine/naming.h"

#include "app/globals.h"
#include "engine/pass_state.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "store/layout.h"

namespace engine {

std::wstring NumberedName(const std::wstring& name, int n, bool isFolder, bool splitAtLastDot) {
    const std::wstring num = L"[" + std::to_wstring(n) + L"]";
    if (isFolder) return name + num;
    size_t dot = splitAtLastDot ? name.rfind(L'.') : name.find(L'.');
    if (dot == std::wstring::npos) return name + num;
    return name.substr(0, dot) + num + L"." + name.substr(dot + 1);
}

std::wstring ResolveCollision(const std::wstring& src, const std::wstring& dst,
                              const NamingRule& rule) {
    plat::FileSystem& fs = plat::Fs();
    const std::wstring suffix = dst.size() > 4 ? kEncryptedSuffix : L"";
    const bool strength = rule.side != NamingSide::Plain;
    bool collision = fs.Exists(dst);
    if (!collision && rule.side == NamingSide::StrengthEncrypt && !suffix.empty())
        collision = fs.Exists(dst + suffix);
    if (!collision) return dst;

    const std::wstring srcFolder = plat::ParentWithSep(src);
    const std::wstring dstFolder = plat::ParentWithSep(dst);
    const std::wstring name = plat::LeafName(dst);
    const bool isFolder = fs.IsDirectory(dst);
    // A bound keeps a file system that reports everything as existing from
    // spinning forever; nobody has a million numbered copies of one name.
    for (int n = 1; n < 1000000; ++n) {
        const std::wstring cand = NumberedName(name, n, isFolder, rule.splitAtLastDot);
        if (fs.Exists(srcFolder + cand) || fs.Exists(dstFolder + cand)) continue;
        // In strength passes the file may carry the suffix later (or already
        // does in the store): the suffixed form must be free as well.
        if (strength && !suffix.empty() && fs.Exists(dstFolder + cand + suffix)) continue;
        return dstFolder + cand;
    }
    return L"";
}

std::wstring ReplaceNoCase(std::wstring text, const std::wstring& from, const std::wstring& to) {
    if (from.empty()) return text;
    size_t pos = 0;
    for (;;) {
        size_t hit = plat::FindNoCase(text.substr(pos), from);
        if (hit == std::wstring::npos) break;
        text.replace(pos + hit, from.size(), to);
        pos += hit + to.size();
    }
    return text;
}

bool IsNetworkPath(const std::wstring& path) {
    return path.size() >= 2 && (path[0] == L'\\' || path[0] == L'/') && path[1] == path[0];
}

std::wstring EnumerationPath(const std::wstring& dir) {
    if (!app::Globals().IsVistaOrLater) return dir;
    const std::wstring sep(1, plat::kSep);
    return ReplaceNoCase(dir, sep + L"ulxjm,NotDelete." + sep, sep + store::kStoreRoot + sep);
}

NamingSide SideOfKind(int kind) {
    switch (kind) {
        case kKindHigherEncrypt:
        case kKindHighestEncrypt:
            return NamingSide::StrengthEncrypt;
        case kKindHigherDecrypt:
        case kKindHighestDecrypt:
            return NamingSide::StrengthDecrypt;
        default:
            return NamingSide::Plain;
    }
}

}  // namespace engine

namespace engine {
bool MakeDirs(const std::wstring& dir) {
    const std::wstring d = plat::WithoutSep(dir);
    if (d.empty() || plat::Fs().IsDirectory(d)) return true;
    const std::wstring parent = plat::WithoutSep(plat::ParentWithSep(d));
    if (!parent.empty() && parent != d && !MakeDirs(parent)) return false;
    return plat::Fs().CreateDir(d) || plat::Fs().IsDirectory(d);
}
}  // namespace engine
