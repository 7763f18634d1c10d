// A folder shown as a drive letter of its own ("Y:"), for opening a store's
// data folder as a drive and removing the letter afterwards.
//
// A drive is named "Y:" (upper or lower case; a trailing separator is
// accepted). Windows defines DOS devices. Under Wine, whose DOS devices list
// a letter without making it reachable, the mount manager defines a real
// drive. posix has no letters: a drive is a symbolic link named after the
// letter in a folder of the user's own (see docs/platform.md).
//
// Calls that fail set LastError(): kErrInvalidParameter for a bad drive name,
// kErrAlreadyExists for a letter in use, kErrPathNotFound for a folder that
// is not an existing folder, kErrAccessDenied for a drives folder that is
// not the user's alone (posix).
#pragma once

#include <string>

namespace plat {

// The upper-case letter `drive` names ("y:", "Y:\\" -> 'Y'), or 0 when it
// names none.
wchar_t DriveLetter(const std::wstring& drive);

// Upper-case letters of the drives in use now ("CDZ"), in order.
std::wstring DriveLettersInUse();

// Keeps `drive` for us until MapDrive or ReleaseDrive. Windows: defines the
// name onto itself, so nobody else takes the letter meanwhile. Under Wine and
// on posix nothing is defined: true when the letter is free.
[[nodiscard]] bool ReserveDrive(const std::wstring& drive);

// Maps `drive` onto `folder`, an existing folder (not a link). Refuses a
// letter in use, unless (Windows) it holds only our reservation.
[[nodiscard]] bool MapDrive(const std::wstring& drive, const std::wstring& folder);

// Removes our mapping and reservation of `drive`; quiet when there is none.
// Only for letters we mapped (this run or a killed one): a folder mapping
// made otherwise (subst, winecfg) is removed too, a real volume never.
void ReleaseDrive(const std::wstring& drive);

// The root through which files on `drive` are reached: "Y:\" on Windows, the
// link with a trailing "/" on posix (empty when the drives folder is not the
// user's alone).
std::wstring DriveRootPath(const std::wstring& drive);

// The folder `drive` is mapped onto now, without a trailing separator; empty
// when it is not mapped onto a folder or not ours to know. Finds letters a
// killed run left behind.
std::wstring MappedFolderOf(const std::wstring& drive);

}  // namespace plat
