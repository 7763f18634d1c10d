#include "cli/console.h"

namespace cli {

Console& OsConsole();

namespace {
Console* g_console = nullptr;
}

Console& Con() {
    return g_console ? *g_console : OsConsole();
}

ScopedConsole::ScopedConsole(Console& c) : previous_(g_console) {
    g_console = &c;
}

ScopedConsole::~ScopedConsole() {
    g_console = previous_;
}

}  // namespace cli
