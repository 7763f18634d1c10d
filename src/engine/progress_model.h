// What the progress window (or a terminal progress bar) shows about the
// running pass. A plain class: call Open() once, then Poll() on every timer
// tick (50 ms in the window) and draw the returned view.
#pragma once

#include <cstdint>
#include <string>

#include "engine/pass_state.h"

namespace engine {

// What the display should do once the pass has ended.
enum class EndAction {
    None,            // still running
    WaitForUser,     // ended: enable "关闭", let the user close
    CloseWindow,     // ended well in an encryption: close at once
    OpenLogAndClose  // something failed or was renamed: open the pass log, close
};

struct ProgressView {
    int filePercent = 0;     // within the current file, 0-100
    int overallPercent = 0;  // handled / total, 0-100 (100 when total is 0)
    int total = 0;
    int handled = 0;
    int moveFailed = 0;
    int strengthSkipped = 0;
    std::wstring overallText;  // "%d%%"
    std::wstring elapsed;      // "hh:mm:ss"
    std::wstring current;      // current object, shortened
    std::wstring skippedText;  // "未强度加密:%d" / "未强度解密:%d"
    bool done = false;
    bool cancelRequested = false;
    bool closeEnabled = false;
    EndAction end = EndAction::None;
};

class ProgressModel {
  public:
    explicit ProgressModel(PassState& state = State()) : state_(state) {}

    // Title by display kind, e.g. "快速加密进度--岚栩只读加密".
    static std::wstring TitleForKind(int kind);
    std::wstring Title() const { return TitleForKind(state_.kind); }
    // Normal-strength passes have no strength-skipped count to show.
    bool ShowsSkippedCount() const;
    // Passes on the decrypt side cannot be cancelled.
    bool CancelEnabled() const { return state_.kind <= kKindHighestEncrypt; }

    // Window opened: objects seen back to 0, tick counter to 0.
    void Open();
    // One timer tick; the end action is reported once, on the first poll
    // that sees the done flag.
    ProgressView Poll(int ticks = 1);
    // Cancel button.
    void RequestCancel() { state_.cancelRequested = true; }

    int Ticks() const { return ticks_; }

    // "hh:mm:ss" for a number of 50 ms ticks.
    static std::wstring ElapsedText(int64_t ticks);
    // The current-object text as shown: data-folder parts removed, then
    // shortened to about 40 characters around the last component.
    static std::wstring DisplayPath(const std::wstring& path);
    static std::wstring Shorten(const std::wstring& text);

  private:
    PassState& state_;
    int64_t ticks_ = 0;
    bool ended_ = false;
};

}  // namespace engine
