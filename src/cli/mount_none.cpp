// Builds without libfuse3 (and Windows) cannot mount: the commands say so.
#include "cli/mount_fuse.h"

namespace cli {

bool MountSupported() {
    return false;
}

std::wstring FuseDeviceProblem() {
    return L"这个版本的 ulxjm 不能挂载（构建时没有 libfuse3）。";
}

int ServeMount(store::StoreReader&, const MountRequest&) {
    return 2;
}

bool FindOurMount(const std::wstring&, std::wstring*) {
    return false;
}

std::wstring Unmount(const std::wstring&) {
    return FuseDeviceProblem();
}

}  // namespace cli
