// How a pass talks to the user. The windows show message boxes, the command
// line prints; tests record. Passes call it from their worker thread, so an
// implementation must be callable from any thread.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace engine {

enum class MessageIcon { Info, Exclamation, Error };

class PassUi {
  public:
    virtual ~PassUi() = default;
    // A modal message titled "岚栩只读加密"; returns when the user has read it.
    virtual void ShowMessage(const std::wstring& text, MessageIcon icon) = 0;
};

// Keeps every message; used by tests and as a quiet default.
class RecordingUi : public PassUi {
  public:
    void ShowMessage(const std::wstring& text, MessageIcon icon) override {
        std::lock_guard<std::mutex> lock(lock_);
        messages_.push_back(text);
    }
    std::vector<std::wstring> Messages() const {
        std::lock_guard<std::mutex> lock(lock_);
        return messages_;
    }
    int Count(const std::wstring& text) const {
        std::lock_guard<std::mutex> lock(lock_);
        int n = 0;
        for (const auto& m : messages_) n += (m == text);
        return n;
    }

  private:
    mutable std::mutex lock_;
    std::vector<std::wstring> messages_;
};

}  // namespace engine
