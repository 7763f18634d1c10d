// Entry point of ulxjm.exe.
#include "app/startup.h"
#include "platform/win32/win.h"
#include "ui/win_shell.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    ui::WinShell shell;
    return app::InitInstance(shell);
}
