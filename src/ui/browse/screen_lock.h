// The screen lock the browse window brings up from its lock button and after
// a long time without input. Runs modally over `owner` until unlocked.
#pragma once

#include "platform/win32/win.h"

namespace ui {

void RunScreenLock(HWND owner);

}  // namespace ui
