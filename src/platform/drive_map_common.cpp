// Drive names, the same on every build.
#include "platform/drive_map.h"

namespace plat {

wchar_t DriveLetter(const std::wstring& drive) {
    if (drive.size() < 2 || drive.size() > 3 || drive[1] != L':') return 0;
    if (drive.size() == 3 && drive[2] != L'\\' && drive[2] != L'/') return 0;
    const wchar_t c = drive[0];
    if (c >= L'a' && c <= L'z') return wchar_t(c - L'a' + L'A');
    return (c >= L'A' && c <= L'Z') ? c : 0;
}

}  // namespace plat
