// The user's settings on posix: INI files in $XDG_CONFIG_HOME/ulxjm
// (~/.config/ulxjm when unset).
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/fs.h"
#include "platform/settings.h"
#include "platform/text.h"

namespace plat {

namespace {

std::wstring ConfigFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return JoinPath(FromUtf8(xdg), L"ulxjm");
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/') {
        passwd* pw = getpwuid(getuid());
        home = pw && pw->pw_dir ? pw->pw_dir : "/tmp";
    }
    return JoinPath(FromUtf8(home), L".config/ulxjm");
}

}  // namespace

Settings& OsUserSettings() {
    static std::unique_ptr<Settings> settings = MakeIniSettings(ConfigFolder());
    return *settings;
}

}  // namespace plat
