// Folder locks on posix: flock on the folder's own descriptor.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/fs.h"
#include "platform/lock.h"
#include "platform/posix/native_path.h"

namespace plat {

namespace {

class PosixFolderLock final : public FolderLock {
  public:
    explicit PosixFolderLock(int fd) : fd_(fd) {}
    ~PosixFolderLock() override { close(fd_); }  // closing the last descriptor unlocks
    PosixFolderLock(const PosixFolderLock&) = delete;
    PosixFolderLock& operator=(const PosixFolderLock&) = delete;

  private:
    int fd_;
};

uint32_t OpenError(int e) {
    switch (e) {
        case ENOENT:
            return kErrPathNotFound;
        case ENOTDIR:
            return kErrDirectory;
        case EACCES:
        case EPERM:
            return kErrAccessDenied;
        case EMFILE:
        case ENFILE:
            return 4;  // ERROR_TOO_MANY_OPEN_FILES
        default:
            return 31;  // ERROR_GEN_FAILURE
    }
}

}  // namespace

std::unique_ptr<FolderLock> TryLockFolder(const std::wstring& folder, uint32_t* error) {
    uint32_t ignored = 0;
    if (!error) error = &ignored;
    // A link to a folder locks the folder it leads to: the lock sits on the
    // folder itself, whatever path reached it.
    const std::string p = posix::NativePath(folder);
    int fd = open(p.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        *error = OpenError(errno);
        return nullptr;
    }
    int r;
    do r = flock(fd, LOCK_EX | LOCK_NB);
    while (r != 0 && errno == EINTR);
    if (r != 0) {
        // NFS turns flock into a record lock, which a folder cannot take.
        *error = errno == EWOULDBLOCK ? kErrSharingViolation : kErrNotSupported;
        close(fd);
        return nullptr;
    }
    *error = kErrSuccess;
    return std::make_unique<PosixFolderLock>(fd);
}

}  // namespace plat
