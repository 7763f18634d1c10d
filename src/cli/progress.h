// Runs one engine pass on a worker thread while the command shows its
// progress: a bar on standard error when it is a terminal, plain lines
// otherwise; then the summary with the counts and, when something failed,
// the pass log.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/pass_ui.h"

namespace cli {

// Messages of a pass go to standard error, titled like the window's boxes.
class ConsoleUi : public engine::PassUi {
  public:
    void ShowMessage(const std::wstring& text, engine::MessageIcon icon) override;
};

struct PassCounts {
    int total = 0;
    int handled = 0;
    int moved = 0;
    int moveFailed = 0;
    int renamed = 0;
    int strengthDone = 0;
    int strengthSkipped = 0;
    int notOurFormat = 0;  // suffixed files without a trailer: they only lost the suffix
    bool cancelled = false;
    bool storeVisible = false;  // the drive could not hide the store
    int Failures() const { return moveFailed + strengthSkipped + notOurFormat; }
};

// Resets the pass state, sets the display kind and operation, runs `body`
// (the synchronous pass) on a worker and draws the progress until it
// returns. `title` names the job in the plain lines.
PassCounts RunPass(int displayKind, int operation, const std::function<void()>& body);

// The lines of the pass log (none when there is none, or when it is not a
// private file of the user), its first 256 KiB at most.
std::vector<std::wstring> LogLines();

// Prints the summary; returns 0 when nothing failed, 1 otherwise. `verb` is
// what was done ("加密", "取出", ...); a non-empty `strengthVerb` ("加密" or
// "解密") adds the strength counters.
int PrintSummary(const PassCounts& c, const std::wstring& verb,
                 const std::wstring& strengthVerb = L"");

// A line of text for the bar's current-object slot: store parts removed,
// the middle shortened with "..." to fit `width` cells.
std::wstring FitPath(const std::wstring& path, int width);

}  // namespace cli
