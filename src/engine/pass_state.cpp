#include "engine/pass_state.h"

namespace engine {

void PassState::SetCurrentObject(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(currentLock_);
    current_ = path;
}

std::wstring PassState::CurrentObject() const {
    std::lock_guard<std::mutex> lock(currentLock_);
    return current_;
}

void PassState::Reset() {
    seen = 0;
    moved = 0;
    moveFailed = 0;
    renamed = 0;
    handled = 0;
    total = 0;
    strengthDone = 0;
    strengthSkipped = 0;
    notOurFormat = 0;
    marksError = 0;
    bytesDone = 0;
    currentLength = 0;
    fileOk = true;
    cancelRequested = false;
    cancelAnnounced = false;
    done = false;
    SetCurrentObject(L"");
}

PassState& State() {
    static PassState state;
    return state;
}

}  // namespace engine
