// The fixed texts of the decrypt-side windows (decrypt window, waiting and
// watch windows, decrypt-other-folder list, screen lock), in one place so the
// windows, their logic and the tests use the very same strings.
#pragma once

namespace ui::texts {

// ---- Decrypt window

// ---- Decrypt-other-folder list

// ---- Screen lock

}  // namespace ui::texts
