// The encrypt window's checks of a folder before a protection starts, as
// plain functions the command runs in the window's order.
#pragma once

#include <string>

namespace cli {

inline constexpr const wchar_t* kMsgEmptyFolder = L"这是一个空文件夹，不支持对其进行加密。";
inline constexpr const wchar_t* kMsgMappedDrive =
    L"您不能对刚映像解密出来的磁盘进行加密。\r\n\r\n关闭映像出来的磁盘，会重新自动加密。";
inline constexpr const wchar_t* kMsgSystemFolder = L"属于系统文件夹，不能加密。";
inline constexpr const wchar_t* kAskSystemFiles =
    L"加密对象可能包含系统文件，继续操作，可能造成系统不能正常运行。\r\n\r\n您是否继续加密？";
inline constexpr const wchar_t* kMsgSiblingFolder =
    L"加密对象属于岚栩文件夹加密软件所在的文件夹，不能加密。";
inline constexpr const wchar_t* kAskHiddenFolder =
    L"检测到您要加密的这个文件夹的属性为隐藏。如果加密的话，将自动取消隐藏属性。\r\n\r\n"
    L"您是否继续加密该文件夹？";
inline constexpr const wchar_t* kMsgAlreadyEncrypted = L"该文件夹已经是加密的，不能再次加密。";
inline constexpr const wchar_t* kMsgEmptyPassword = L"密码不能为空";
inline constexpr const wchar_t* kMsgPasswordsDiffer = L"两次输入的密码不一致。";

// No entry besides "." / ".." and the program itself (`selfPath`, compared
// ignoring case; the copy of ulxjm.exe the folder would carry).
bool IsEmptyFolder(const std::wstring& folder, const std::wstring& selfPath);

// The folder lies on a drive that image decryption mapped ("MapDriver").
bool IsMappedImageDrive(const std::wstring& folder, const std::wstring& mapDriver);

// 0 system folder (refuse), 1 ordinary, 2 inside a system folder (ask),
// 3 the sibling product's folder (refuse). `windowsDir`/`systemDir` with or
// without trailing separator; `siblingExePath` the sibling's program path.
int ClassifyFolder(const std::wstring& folder, const std::wstring& windowsDir,
                   const std::wstring& systemDir, const std::wstring& siblingExePath);

// The folder the system calls its own: the parent of the system folder
// ("C:\Windows" beside "C:\Windows\system32"; "/usr" on posix).
std::wstring WindowsDir();

// Hidden folders ask before encryption; drive roots never do.
bool NeedsHiddenConfirmation(const std::wstring& folder);

}  // namespace cli
