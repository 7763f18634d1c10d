// The state of the running pass, shared by the worker that runs it and the
// window or terminal that shows it. One pass runs at a time in the process.
//
// Every field is safe to read from any thread while the worker writes it:
// counters are atomics, the current-object text sits behind a small lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace engine {

// What the progress display is about: 0 normal, 1 higher, 2 highest on the
// encrypt side; 3, 4, 5 for the same strengths on the decrypt side.
enum DisplayKind : int {
    kKindNormalEncrypt = 0,
    kKindHigherEncrypt = 1,
    kKindHighestEncrypt = 2,
    kKindNormalDecrypt = 3,
    kKindHigherDecrypt = 4,
    kKindHighestDecrypt = 5,
};

// The operation under way: set by the window that starts it, read by passes.
enum OperationKind : int {
    kOpImageDecrypt = 0,
    kOpEncrypt = 1,
    kOpBrowse = 2,
    kOpFullDecrypt = 3,
};

struct PassState {
    // Hide and restore passes.
    std::atomic<int> seen{0};        // objects met
    std::atomic<int> moved{0};       // objects moved
    std::atomic<int> moveFailed{0};  // objects that could not be moved
    std::atomic<int> renamed{0};     // objects that got a new name on their way back
    // All passes.
    std::atomic<int> handled{0};  // objects (files in strength passes) whose processing ended
    std::atomic<int> total{0};    // objects (files) the pass expects to handle
    // Strength passes.
    std::atomic<int> strengthDone{0};     // files encrypted / decrypted
    std::atomic<int> strengthSkipped{0};  // files left as they were (read-only, failed, cancelled)
    // Files with an encrypted suffix but no trailer: they only lost the
    // suffix, and the pass must not call itself a success.
    std::atomic<int> notOurFormat{0};
    // The drive kept no hidden/system mark on the store (the first error, 0
    // when all were set): Windows users will see the store.
    std::atomic<uint32_t> marksError{0};
    std::atomic<uint64_t> bytesDone{0};
    std::atomic<uint64_t> currentLength{0};
    std::atomic<bool> fileOk{true};  // the last file ended well
    // Control.
    std::atomic<bool> cancelRequested{false};  // written by the user interface only
    std::atomic<bool> cancelAnnounced{false};  // "操作已被取消。" was shown in this pass
    std::atomic<bool> done{false};

    // Display kind (DisplayKind) and operation (OperationKind); kept across
    // resets because the starting window sets them before the pass starts.
    std::atomic<int> kind{kKindNormalEncrypt};
    std::atomic<int> operation{kOpEncrypt};

    void SetCurrentObject(const std::wstring& path);
    std::wstring CurrentObject() const;

    // Clears every counter and flag of the previous pass (not kind/operation).
    void Reset();

  private:
    mutable std::mutex currentLock_;
    std::wstring current_;
};

// The one pass state of the process.
PassState& State();

inline int OperationType() {
    return State().operation.load();
}
inline void SetOperationType(int op) {
    State().operation.store(op);
}

}  // namespace engine
