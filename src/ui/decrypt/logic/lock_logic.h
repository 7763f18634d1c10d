// Decisions of the screen lock (CDlgLock): when the typed text unlocks, and
// what Enter and Escape do. No window code here.
#pragma once

#include <string>

namespace ui::logic {

inline constexpr unsigned kKeyEscape = 0x1B;  // VK_ESCAPE

// The typed text unlocks only when it is the folder's password itself:
// whole, exact, letter case included. An empty password (a store opened
// without one) is unlocked by an empty text.
bool UnlockAccepted(const std::wstring& typed, const std::wstring& password);

enum class LockKey {
    Normal,     // the key takes its normal path
    TryUnlock,  // Enter, wherever the focus is
    Swallow,    // Escape: must not end the lock
};
LockKey LockKeyDown(unsigned key);

}  // namespace ui::logic
