#include "platform/process.h"
#include "platform/win32/win.h"

namespace plat {

uint32_t CurrentProcessId() {
    return GetCurrentProcessId();
}

bool IsProcessRunning(uint32_t pid) {
    if (pid == 0) return false;
    HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!h) return GetLastError() == ERROR_ACCESS_DENIED;
    const bool running = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
    CloseHandle(h);
    return running;
}

std::wstring EnvironmentValue(const std::wstring& name) {
    std::wstring buf(256, L'\0');
    for (;;) {
        DWORD n = GetEnvironmentVariableW(name.c_str(), buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return {};
        if (n < buf.size()) {
            buf.resize(n);
            return buf;
        }
        buf.resize(n);
    }
}

}  // namespace plat
