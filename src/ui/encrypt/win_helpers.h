// Small pieces the encrypt-side windows share: white backgrounds, message
// boxes for the logic's prompts, the pass messages of worker threads, and
// opening web pages.
#pragma once

#include <string>

#include "engine/pass_ui.h"
#include "platform/win32/win.h"
#include "ui/encrypt/logic/jiami_logic.h"

namespace ui {

// WM_CTLCOLORDLG / WM_CTLCOLORSTATIC / WM_CTLCOLORBTN: white background,
// black text. True (and *result set) when `msg` was one of them.
bool WhiteBackground(UINT msg, WPARAM wp, INT_PTR* result);

UINT IconFlags(logic::Icon icon);

// The start sequence's prompts as message boxes over `owner`.
class WindowPrompts final : public logic::StartPrompts {
  public:
    WindowPrompts(HWND owner, int passwordId) : owner_(owner), passwordId_(passwordId) {}
    void Message(const std::wstring& text, logic::Icon icon) override;
    bool AskYesNo(const std::wstring& text) override;
    void FocusPassword() override;

  private:
    HWND owner_;
    int passwordId_;
};

// Messages of a pass, shown from its worker thread in a box of their own.
class WinPassUi final : public engine::PassUi {
  public:
    void ShowMessage(const std::wstring& text, engine::MessageIcon icon) override;
};

// Opens `url` in the default browser; when the shell cannot, starts the
// program registered for ".htm" pages with the address. False when neither
// worked.
bool OpenWebPage(const std::wstring& url);

// The folder browser, file-system folders only; empty when cancelled.
std::wstring BrowseForFolder(HWND owner, const wchar_t* title);

// The Windows folder (GetWindowsDirectoryW), without a trailing separator.
std::wstring WindowsDir();

// Text of a rich edit or other control, with "\r\n" line ends.
std::wstring RichEditText(HWND edit);

}  // namespace ui
