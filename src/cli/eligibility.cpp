#include "cli/eligibility.h"

#include <vector>

#include "platform/env.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace cli {

bool IsEmptyFolder(const std::wstring& folder, const std::wstring& selfPath) {
    std::vector<plat::DirEntry> entries;
    if (!plat::Fs().ListDir(folder, &entries)) return true;
    for (const auto& e : entries)
        if (selfPath.empty() || !plat::EqualsNoCase(plat::JoinPath(folder, e.name), selfPath))
            return false;
    return true;
}

bool IsMappedImageDrive(const std::wstring& folder, const std::wstring& mapDriver) {
    // Only drive-letter paths can be on a mapped image drive.
    if (folder.size() < 2 || folder[1] != L':') return false;
    return plat::FindNoCase(mapDriver, folder.substr(0, 2)) != std::wstring::npos;
}

int ClassifyFolder(const std::wstring& folder, const std::wstring& windowsDir,
                   const std::wstring& systemDir, const std::wstring& siblingExePath) {
    const std::wstring target = plat::WithSep(folder);
    const std::wstring windows = plat::WithSep(windowsDir);
    const std::wstring system = plat::WithSep(systemDir);
    const std::wstring systemRoot = plat::WithSep(plat::DriveRootOf(windows));
    // Containment is tested on whole path components: "/usr" must not make
    // "/home/usrdata" a system folder.
    if (!windowsDir.empty()) {
        if (plat::EqualsNoCase(target, systemRoot) || plat::EqualsNoCase(target, windows)) return 0;
        if (plat::FindNoCase(target, windows) != std::wstring::npos) return 2;
    }
    if (!systemDir.empty()) {
        if (plat::EqualsNoCase(target, system)) return 0;
        if (plat::FindNoCase(target, system) != std::wstring::npos) return 2;
    }
    std::wstring sibling = siblingExePath;
    size_t cut = sibling.find_last_of(L"\\/");
    if (cut == std::wstring::npos) return 1;
    sibling = plat::WithSep(sibling.substr(0, cut));
    return plat::EqualsNoCase(sibling, target) ? 3 : 1;
}

std::wstring WindowsDir() {
    const std::wstring system = plat::WithoutSep(plat::SystemDir());
    const std::wstring parent = plat::ParentWithSep(system);
    return parent.empty() ? L"" : plat::WithoutSep(parent);
}

bool NeedsHiddenConfirmation(const std::wstring& folder) {
    if (plat::WithSep(folder) == plat::DriveRootOf(folder) || folder.size() <= 3) return false;
    const uint32_t a = plat::Fs().GetAttributes(folder);
    return a != plat::kInvalidAttributes && (a & plat::kAttrHidden);
}

}  // namespace cli
