#include "crypto/move_aside.h"

#include "crypto/content_cipher.h"
#include "platform/fs.h"

namespace crypto {

std::wstring NumberedName(const std::wstring& name, int n, bool isFolder) {
    std::wstring tag = L"[" + std::to_wstring(n) + L"]";
    size_t dot = name.find(L'.');
    if (isFolder || dot == std::wstring::npos) return name + tag;
    return name.substr(0, dot) + tag + name.substr(dot);
}

bool RenameMovingAside(const std::wstring& from, const std::wstring& to,
                       std::wstring* movedAsideTo) {
    if (movedAsideTo) movedAsideTo->clear();
    if (from == to) return true;
    plat::FileSystem& fs = plat::Fs();
    std::wstring aside;
    uint32_t attrs = fs.GetAttributes(to);
    if (attrs != plat::kInvalidAttributes) {
        const std::wstring folder = plat::ParentWithSep(to);
        const std::wstring leaf = plat::LeafName(to);
        const bool isFolder = (attrs & plat::kAttrDirectory) != 0;
        for (int n = 1; n < 100000; ++n) {
            std::wstring candidate = folder + NumberedName(leaf, n, isFolder);
            if (!fs.Exists(candidate) && !fs.Exists(candidate + kEncryptedSuffix)) {
                aside = candidate;
                break;
            }
        }
        if (aside.empty() || !fs.Move(to, aside)) return false;
    }
    if (!fs.Move(from, to)) {
        if (!aside.empty()) (void)fs.Move(aside, to);
        return false;
    }
    if (movedAsideTo) *movedAsideTo = aside;
    return true;
}

}  // namespace crypto
