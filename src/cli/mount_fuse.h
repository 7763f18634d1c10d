// The read-only view of a store shown at a mount point through FUSE (Linux
// with libfuse3 only; elsewhere the calls refuse with a message).
#pragma once

#include <string>

#include "store/store_reader.h"

namespace cli {

// True where this build can mount.
bool MountSupported();

// Empty when the FUSE device can be used, else why not (a message).
std::wstring FuseDeviceProblem();

struct MountRequest {
    std::wstring folder;      // the protected folder (shown as the source)
    std::wstring mountPoint;  // an existing empty folder
    bool foreground = false;
    std::wstring logPath;  // where unreadable files are named with the reason
};

// Mounts `reader` at the mount point and serves it until it is unmounted
// (in the background unless foreground: the command returns once the view
// is in place). Returns the exit code; a failure to mount is printed.
int ServeMount(store::StoreReader& reader, const MountRequest& request);

// The protected folder a mount point of ours shows; false when `mountPoint`
// is not one of our mounts.
bool FindOurMount(const std::wstring& mountPoint, std::wstring* folder);

// Unmounts a mount point of ours; empty on success, else why not.
std::wstring Unmount(const std::wstring& mountPoint);

}  // namespace cli
