#include "engine/recovery_guard.h"

#include "platform/fs.h"
#include "platform/text.h"
#include "store/layout.h"

namespace engine {

std::wstring UnsafeStoreFolder(const std::wstring& folder) {
    const std::wstring top = plat::WithoutSep(folder);
    for (const wchar_t* rootName : {store::kStoreRoot, store::kLegacyAlias,
                                    store::kLegacyRootVista, store::kLegacyRootXp}) {
        const std::wstring root = plat::JoinPath(top, rootName);
        const plat::InnerFolder r = plat::CheckInnerFolder(top, root);
        if (r == plat::InnerFolder::Missing) continue;
        // A file under the store root's name is the user's: no store there.
        if (r == plat::InnerFolder::Other) {
            if (plat::Fs().IsFile(root) && !(plat::Fs().GetAttributes(root) & plat::kAttrReparsePoint))
                continue;
            return root;
        }
        for (const wchar_t* sub : {store::kDataFolderName, store::kParamFolderName}) {
            const std::wstring path = plat::JoinPath(root, sub);
            if (plat::CheckInnerFolder(root, path) == plat::InnerFolder::Other) return path;
        }
    }
    return {};
}

std::wstring UnsafeStoreText(const std::wstring& folder, const std::wstring& offending) {
    std::wstring rel = offending;
    const std::wstring base = plat::WithSep(folder);
    if (plat::StartsWithNoCase(rel, base)) rel = rel.substr(base.size());
    return L"文件夹“" + plat::WithoutSep(folder) + L"”中的“" + rel +
           L"”不是该文件夹里真正的文件夹（它是链接、挂载点、文件，或在别的磁盘上），"
           L"可能是别人做过手脚。为安全起见，没有对该文件夹做任何处理。";
}

}  // namespace engine
