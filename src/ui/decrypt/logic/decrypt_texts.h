// The fixed texts of the decrypt-side windows (decrypt window, waiting and
// watch windows, decrypt-other-folder list, screen lock), in one place so the
// windows, their logic and the tests use the very same strings.
#pragma once

namespace ui::texts {

// ---- Decrypt window

inline constexpr const wchar_t* kPasswordLabel = L"输入密码：";
inline constexpr const wchar_t* kStatusEnterPassword = L"请输入密码解密。";
inline constexpr const wchar_t* kTipImage =
    L"映像解密是将加密的文件夹映像成一个独立的磁盘，比如Z盘\r\n使用完后会自动加密。按 CTRL + -> "
    L"键可切换";
inline constexpr const wchar_t* kTipBrowse =
    L"浏览解密就是像资源管理器一样快速打开文件。对于解密大文件夹，强烈推荐使用。\r\n使用完后会自动"
    L"加密。按 CTRL + -> 键可切换";
inline constexpr const wchar_t* kTipFull =
    L"完全解密就是解密后不会自动再加密。\r\n要加密的话需要手动执行。按 CTRL + -> 键可切换";
inline constexpr const wchar_t* kNetworkFolder =
    L"该对象为局域网上的文件夹，只能选择 “映像解密”解密方式进行解密。";
inline constexpr const wchar_t* kMenuFailed = L"弹出菜单失败。";
inline constexpr const wchar_t* kEncryptOtherTitle = L"请选择您要加密的文件夹:";
// "该文件夹已经是加密的，不能再次加密。" is the encrypt side's kAlreadyEncrypted.

// Image use and its watch.
inline constexpr const wchar_t* kWaitingTitle = L"映像解密中...";
inline constexpr const wchar_t* kWaitingFormat = L"正在解密中，已经用时 %d 秒......";
inline constexpr const wchar_t* kWatchTitle = L"临时解密/映像解密检测窗口";
inline constexpr const wchar_t* kWatchCaption = L"已解密，关闭文件夹窗口会自动加密";
inline constexpr const wchar_t* kReEncryptFormat = L"加密中,总任务:%d,完成:%d,失败:%d,未强度:%d";
inline constexpr const wchar_t* kLocalDiskFormat = L"本地磁盘 (%s)";
inline constexpr const wchar_t* kTrayTip = L"岚栩只读加密";
inline constexpr const wchar_t* kOnlyProgramLeft =
    L"现在检测到临时解密后的这个文件夹是一个不包含任何文件的文件夹，或者是一个只包含加密软件的文件"
    L"夹，"
    L"这样的文件夹将不再自动被加密。";
inline constexpr const wchar_t* kNoFreeDrive = L"没有空闲的盘符，不能映像解密。";
inline constexpr const wchar_t* kMapFailed = L"映像磁盘失败，文件夹没有解密。";
inline constexpr const wchar_t* kOpenFailedReEncrypted =
    L"映像出来的磁盘无法打开，文件夹已经重新加密。";
inline constexpr const wchar_t* kReEncryptIncomplete =
    L"重新加密没有全部完成，有些文件仍未加密，详见日志。\r\n\r\n下次运行本程序并输入密码时，会再次"
    L"加密"
    L"它们。";
inline constexpr const wchar_t* kImageLeftovers =
    L"上次映像解密没有正常结束，该文件夹中还有没有重新加密的文件。\r\n\r\n输入密码后，会先把它们重"
    L"新"
    L"加密。";
// Plain files in a strength store for another reason: working copies of a
// browse window put back, an encryption that did not end.
inline constexpr const wchar_t* kPlainLeftovers =
    L"该文件夹中还有没有重新加密的文件（上次打开的文件已放回，或上次的操作没有正常结束）。\r\n\r\n"
    L"输入密码后，会先把它们重新加密。";
inline constexpr const wchar_t* kPlainLeftoversStatus =
    L"该文件夹中还有没有重新加密的文件，输入密码后先重新加密。";
inline constexpr const wchar_t* kImageLeftoversStatus =
    L"上次映像解密没有正常结束，输入密码后先重新加密。";

// ---- Decrypt-other-folder list

inline constexpr const wchar_t* kListCaption = L"岚栩只读加密列表";
inline constexpr const wchar_t* kListHeading = L"以下是处于岚栩只读加密状态下的文件夹(双击解密)";
inline constexpr const wchar_t* kListColumnName = L"名称";
inline constexpr const wchar_t* kListColumnKind = L"加密类型";
inline constexpr const wchar_t* kListColumnTime = L"加密时间";
inline constexpr const wchar_t* kListColumnState = L"状态";
inline constexpr const wchar_t* kListDecrypt = L"解密";
inline constexpr const wchar_t* kListDecryptOther = L"解密其他文件夹";
inline constexpr const wchar_t* kListPurge = L"删除无效项目";
inline constexpr const wchar_t* kListNoSelection =
    L"您没选择需要解密的文件夹，请在列表中进行选择。";
inline constexpr const wchar_t* kListChooseTitle = L"请选择您要解密的文件夹:";
// The program could not be started again; the path and the system's reason
// follow it.
inline constexpr const wchar_t* kListRelaunchFailed = L"无法启动程序打开该文件夹：";

// ---- Screen lock

inline constexpr const wchar_t* kLockCaption = L"解锁屏幕";
inline constexpr const wchar_t* kLockDone = L"屏幕已被成功锁定！";
inline constexpr const wchar_t* kLockPrompt = L"如需解锁,请在下面输入解密文件夹的密码：";
inline constexpr const wchar_t* kLockUnlock = L"解锁";
inline constexpr const wchar_t* kLockWrongPassword =
    L"您输入的密码不正确，无法解锁本屏幕。密码就是解密该文件夹的密码。";

}  // namespace ui::texts
