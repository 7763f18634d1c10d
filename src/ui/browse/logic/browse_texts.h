// The fixed texts of the browse window (the window, its folder tree and its
// file list), in one place so the window, its logic and the tests use the
// very same strings.
#pragma once

namespace ui::texts::browse {

// ---- Window

inline constexpr const wchar_t* kTitle = L"浏览解密--岚栩只读加密";
inline constexpr const wchar_t* kOpen = L"打开";
inline constexpr const wchar_t* kCopyTo = L"复制到";
inline constexpr const wchar_t* kMoveTo = L"移动到";
inline constexpr const wchar_t* kMoveIn = L"移入";
inline constexpr const wchar_t* kNew = L"新建";
inline constexpr const wchar_t* kRename = L"重命名";
inline constexpr const wchar_t* kDelete = L"删除";
inline constexpr const wchar_t* kLock = L"锁屏";
inline constexpr const wchar_t* kPathLabel = L"当前路径:";
inline constexpr const wchar_t* kFolderListLabel = L"已加密文件夹(双击可解密)";
inline constexpr const wchar_t* kRefresh = L"刷新";
inline constexpr const wchar_t* kFolderListColumn = L"名称";
inline constexpr const wchar_t* kFolderListPlaceholder =
    L"双击这里，输入启动密码后显示所有加密文件夹";
inline constexpr const wchar_t* kFolderBeingDecrypted = L"该文件夹正在解密中。";

// Button tips, in button order (打开 ... 锁屏).
inline constexpr const wchar_t* kTipOpen = L"解密并打开文件";
inline constexpr const wchar_t* kTipCopyTo = L"解密并复制到指定文件夹";
inline constexpr const wchar_t* kTipMoveTo = L"解密并移动到指定文件夹";
inline constexpr const wchar_t* kTipMoveIn = L"移动并加密文件（夹）到该文件夹";
inline constexpr const wchar_t* kTipNew = L"新建一个文件夹";
inline constexpr const wchar_t* kTipRename = L"重命名";
inline constexpr const wchar_t* kTipDelete = L"删除";
inline constexpr const wchar_t* kTipLock = L"锁住本屏幕，便于短时间离开电脑";

// Totals and selection lines: file count, folder count (and bytes).
inline constexpr const wchar_t* kTotals = L"总计：%d文件，%d文件夹，大小：%llu bytes";
inline constexpr const wchar_t* kSelected = L"已选中：%d文件，%d文件夹";

inline constexpr const wchar_t* kCloseQuestion =
    L"存在已经打开的文件还没有自动加密，是否现在进行自动加密后并退出?\r\n\r\n"
    L"选择是，将自动关闭打开文件的进程后加密，\r\n"
    L"选择否，将不进行自动关闭操作，直接退出，\r\n"
    L"选择取消，将取消退出岚栩只读加密软件";
// After a close: working copies left open or still held by a program stay
// decrypted (their drive letter too, so saving goes on working) until the
// next start over this folder takes them back. Count, then the named lines.
inline constexpr const wchar_t* kCopiesStillHeld =
    L"有 %d 个文件（夹）仍被其他程序占用，暂时不能加密：\r\n\r\n%s\r\n"
    L"可以继续使用并保存它们；下次打开本加密文件夹时，它们会自动加密回去。";
inline constexpr const wchar_t* kStillHeldLine = L"    %s\r\n";
inline constexpr const wchar_t* kStillHeldMore = L"    还有%d 个未列出...\r\n";
// A file no program is associated with: the user picks one, or the copy
// goes back into the store.
inline constexpr const wchar_t* kNoProgram =
    L"没有与“%s”关联的程序，不能直接打开它。\r\n\r\n"
    L"是否选择一个程序来打开它？\r\n选择否，该文件将重新加密。";
inline constexpr const wchar_t* kChooseProgram = L"选择打开该文件的程序";
inline constexpr const wchar_t* kProgramFilter = L"程序(*.exe)\0*.exe\0所有类型文件(*.*)\0*.*\0";
inline constexpr const wchar_t* kProgramFailed = L"不能启动“%s”：\r\n\r\n%s";
inline constexpr const wchar_t* kOpenFailed = L"不能打开“%s”：\r\n\r\n%s\r\n\r\n该文件将重新加密。";

// ---- File list

// Column headers.
inline constexpr const wchar_t* kHeaderName = L"名 称";
inline constexpr const wchar_t* kHeaderType = L"文件类型";
inline constexpr const wchar_t* kHeaderSize = L"文件大小";
inline constexpr const wchar_t* kHeaderDate = L"日 期";
inline constexpr const wchar_t* kHeaderFlag = L"标志";
inline constexpr const wchar_t* kHeaderState = L"状态";
inline constexpr const wchar_t* kFlagEncrypted = L"elxjm";
inline constexpr const wchar_t* kStateDecrypted = L"已解密";
inline constexpr const wchar_t* kTypeFolder = L"文件夹";
inline constexpr const wchar_t* kTypeOther = L"其他文件";
inline constexpr const wchar_t* kTypeSuffix = L" 文件";
inline constexpr const wchar_t* kKB = L"KB";

// Context menu, in menu order.
inline constexpr const wchar_t* kMenuOpen = L"打开";
inline constexpr const wchar_t* kMenuCopyOut = L"解密复制到指定文件夹";
inline constexpr const wchar_t* kMenuMoveOut = L"解密移动到指定文件夹";
inline constexpr const wchar_t* kMenuCut = L"剪切文件到粘贴板";
inline constexpr const wchar_t* kMenuCopy = L"复制文件到粘贴板";
inline constexpr const wchar_t* kMenuPaste = L"从粘贴板复制文件";
inline constexpr const wchar_t* kMenuMoveIn = L"移动文件到该文件夹";
inline constexpr const wchar_t* kMenuNewFolder = L"新建文件夹";
inline constexpr const wchar_t* kMenuRename = L"重命名";
inline constexpr const wchar_t* kMenuDelete = L"删除";

inline constexpr const wchar_t* kNothingToOpen = L"您还没有选择需要打开的文件。";
inline constexpr const wchar_t* kNothingToCopy = L"您还没有选择需要解密后复制的文件。";
inline constexpr const wchar_t* kNothingToMove = L"您还没有选择需要解密后移动的文件。";
inline constexpr const wchar_t* kNothingToRename = L"您还没有选择需要重命名的文件。";
inline constexpr const wchar_t* kNothingToDelete = L"您还没有选择需要删除的文件。";
inline constexpr const wchar_t* kOpenItemsLeft = L"存在 %d 个文件处于打开状态，不能复制和移动。";
inline constexpr const wchar_t* kChooseDestination = L"请选择您的目标文件夹:";
inline constexpr const wchar_t* kMoveInFilter = L"所有类型文件(*.*) |*.*||";
inline constexpr const wchar_t* kMoveInFromStore = L"不能移入加密文件夹自己的存储中的文件。";

// New folders: the first free of "新建文件夹", "新建文件夹 (1)", ...
inline constexpr const wchar_t* kNewFolderName = L"新建文件夹";

inline constexpr const wchar_t* kFileExists = L"该文件已经存在，不能更改为该名字。";
inline constexpr const wchar_t* kFolderExists = L"该文件夹已经存在，不能更改为该名字。";
inline constexpr const wchar_t* kRenameFailed = L"重命名失败。";
// A name the file system cannot hold, or one that would reach outside the
// folder shown.
inline constexpr const wchar_t* kBadName =
    L"文件名不能为“.”或“..”，不能以空格或“.”结尾，也不能包含下列任何字符：\r\n"
    L"\\ / : * ? \" < > |";
// A plain (unencrypted) file named with the encrypted suffix would be taken
// for an encrypted one and its content decrypted into garbage.
inline constexpr const wchar_t* kSuffixReserved =
    L"未加密的文件不能以“%s”结尾命名，否则打开时会被当作加密文件。";
// Its working copy comes back under the old name.
inline constexpr const wchar_t* kRenameWhileOpen =
    L"该文件（夹）正处于打开状态，请关闭后再重命名。";

// Delete question: count, then the first three names, then the rest.
inline constexpr const wchar_t* kDeleteQuestion =
    L"您是否确认删除所选择的 %d 个文件（夹），删除后这些文件（夹）将不复存在。\r\n\r\n"
    L"您选择的文件（夹） 如下：\r\n";
inline constexpr const wchar_t* kDeleteLine = L"%d、%s\r\n";
inline constexpr const wchar_t* kDeleteMore = L"还有%d 个未列出...\r\n";

}  // namespace ui::texts::browse
