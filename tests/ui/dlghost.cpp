// Runs one of the program's dialogs on its own, for window tests of dialogs
// whose owning window does not exist yet. Built from the very sources and
// resources of ulxjm.exe.
//
//   dlghost.exe lock PASSWORD [TIMES]
//     runs the screen lock TIMES times (default 1) with PASSWORD as the
//     folder's password; exit code 0 once every run was unlocked.
#include <cwchar>
#include <string>

#include "app/globals.h"
#include "platform/win32/win.h"
#include "ui/decrypt/dlg_lock.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 2) return 2;
    const std::wstring what = argv[1];
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);

    int code = 2;
    if (what == L"lock") {
        app::Globals().PresetPassword = argc > 2 ? argv[2] : L"";
        const int times = argc > 3 ? static_cast<int>(std::wcstol(argv[3], nullptr, 10)) : 1;
        ui::CDlgLock lock(nullptr);
        code = 0;
        for (int i = 0; i < times && code == 0; ++i)
            if (!lock.Run()) code = 1;
    }
    LocalFree(argv);
    return code;
}
