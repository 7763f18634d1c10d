// <windows.h> for the Win32 platform layer and the user interface, without
// the macros that would rename the platform layer's own functions
// (plat::GetDriveType, plat::FileSystem::DeleteFile, plat::Settings::
// GetProfileInt ...) in the files that include both.
#pragma once

#include <windows.h>
// After windows.h: the shell (HDROP, ShellExecuteW) and the common controls,
// which the lean windows.h leaves out.
#include <commctrl.h>
#include <shellapi.h>

#undef DeleteFile
#undef GetDriveType
#undef GetProfileInt
#undef GetProfileString
#undef WriteProfileString
#undef CopyFile
#undef MoveFile
#undef CreateDirectory
#undef GetObject
