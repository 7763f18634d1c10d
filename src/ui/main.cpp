// Entry point of ulxjm.exe.
#include "app/startup.h"
#include "platform/env.h"
#include "platform/win32/win.h"
#include "ui/win_shell.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Passwords pass through this process's memory: no crash may write it out.
    plat::KeepSecretsOutOfDumps();
    ui::WinShell shell;
    return app::InitInstance(shell);
}
