#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/download.h"
#include "platform/process.h"
#include "platform/text.h"

namespace plat {

uint32_t CurrentProcessId() {
    return static_cast<uint32_t>(getpid());
}

bool IsProcessRunning(uint32_t pid) {
    if (pid == 0 || pid > 0x7FFFFFFFu) return false;
    // EPERM: it exists but belongs to someone else.
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

std::wstring EnvironmentValue(const std::wstring& name) {
    const char* v = std::getenv(ToUtf8(name).c_str());
    return v ? FromUtf8(v) : std::wstring();
}

Downloader* OsDownloader() {
    return nullptr;
}

}  // namespace plat
