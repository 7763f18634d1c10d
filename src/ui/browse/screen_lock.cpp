#include "ui/browse/screen_lock.h"

namespace ui {

// The lock window itself comes with the decrypt side's lock dialog; until it
// is part of this program the browse window stays as it is.
void RunScreenLock(HWND) {}

}  // namespace ui
