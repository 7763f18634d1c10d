#include "ui/decrypt/logic/lock_logic.h"

#include "ui/encrypt/logic/jiami_logic.h"

namespace ui::logic {

bool UnlockAccepted(const std::wstring& typed, const std::wstring& password) {
    return typed == password;
}

LockKey LockKeyDown(unsigned key) {
    if (key == kKeyReturn) return LockKey::TryUnlock;
    if (key == kKeyEscape) return LockKey::Swallow;
    return LockKey::Normal;
}

}  // namespace ui::logic
