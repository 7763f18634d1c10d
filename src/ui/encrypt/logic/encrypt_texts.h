// The fixed texts of the encrypt-side windows, in one place so the windows,
// their logic and the tests use the very same strings.
#pragma once

#include <string>

namespace ui::texts {

// `format` with every "%s" replaced by `name`.
inline std::wstring WithName(const wchar_t* format, const std::wstring& name) {
    std::wstring out = format;
    for (size_t at = out.find(L"%s"); at != std::wstring::npos;
         at = out.find(L"%s", at + name.size()))
        out.replace(at, 2, name);
    return out;
}

// Encrypt window.
inline constexpr const wchar_t* kEmptyFolder = L"这是一个空文件夹，不支持对其进行加密。";
// Another run (the window program or the ulxjm command) works on the folder.
inline constexpr const wchar_t* kFolderBusy = L"该文件夹正在被另一个岚栩只读加密处理，请稍后再试。";
inline constexpr const wchar_t* kMappedDrive =
    L"您不能对刚映像解密出来的磁盘进行加密。\r\n\r\n关闭映像出来的磁盘，会重新自动加密。";
inline constexpr const wchar_t* kSystemFolder = L"属于系统文件夹，不能加密。";
inline constexpr const wchar_t* kMayHoldSystemFiles =
    L"加密对象可能包含系统文件，继续操作，可能造成系统不能正常运行。\r\n\r\n您是否继续加密？";
inline constexpr const wchar_t* kSiblingFolder =
    L"加密对象属于岚栩文件夹加密软件所在的文件夹，不能加密。";
inline constexpr const wchar_t* kHiddenFolder =
    L"检测到您要加密的这个文件夹的属性为隐藏。如果加密的话，将自动取消隐藏属性。\r\n\r\n"
    L"您是否继续加密该文件夹？";
inline constexpr const wchar_t* kEmptyPassword = L"密码不能为空";
inline constexpr const wchar_t* kPasswordsDiffer = L"两次输入的密码不一致。";
// Records are kept in the ANSI code page: a character it lacks would be
// stored as "?" and the real password refused afterwards.
inline constexpr const wchar_t* kPasswordNotAnsi =
    L"密码中含有本机不支持的字符（例如表情符号），这样的密码无法保存。请换一个密码。";
// Each content-encrypted file carries the password in its trailer.
inline constexpr const wchar_t* kPasswordTooLongForStrength =
    L"密码太长，较高强度和最高强度加密不支持这么长的密码。请换一个短一些的密码。";
inline constexpr const wchar_t* kAlreadyEncrypted = L"该文件夹已经是加密的，不能再次加密。";
inline constexpr const wchar_t* kDropCount = L"您拖放的文件(夹)的数量大于1，只接受第一个文件(夹).";
inline constexpr const wchar_t* kChooseTitle = L"请选择需要加密的文件夹:";
inline constexpr const wchar_t* kDecryptOtherTitle = L"请选择您要加密的文件夹:";
inline constexpr const wchar_t* kStartFailed = L"加密出错。";

inline constexpr const wchar_t* kStrengthNormal = L"普通强度";
inline constexpr const wchar_t* kStrengthHighest = L"最高强度";
inline constexpr const wchar_t* kStrengthNormalTip =
    L"普通强度\r\n安全性:普通\r\n速度:很快,一般瞬间完成\r\n加密方法:隐藏式加密,不对内容加密\r\n"
    L"提示:按 CTRL+ -> 键切换加密方式";
inline constexpr const wchar_t* kStrengthHighestTip =
    L"最高强度\r\n安全性:最高\r\n速度:快 ,每秒加密30M左右数据\r\n"
    L"加密方法:隐藏后，对文件内容通过国际最领先的加密算法进行加密\r\n"
    L"提示:按 CTRL+ -> 键切换加密方式";

// The maker's support number is not ours to give, so the notices end before it.
// The first-run notice; %s stands for the name of the program placed in
// the folder (see FirstRunNotice).
inline constexpr const wchar_t* kFirstRunNoticeFormat =
    L"加密成功，欢迎您使用岚栩只读加密，加密后U盘/卡,内容在电脑上处于加密状态，在车载系统、唱戏机、"
    L"广场舞机、DVD、智能电视上播放。请您仔细阅读以下帮助信息：\r\n\r\n加密方法：\r\n\r\n"
    L"1、请将软件复制到待加密的磁盘内，运行该软件后即可加密；\r\n"
    L"2、运行本软件，选择“选择磁盘”，就可以加密任意其他的磁盘；\r\n\r\n解密方法：\r\n\r\n"
    L"直接运行加密磁盘下的%s,如果不存在该文件，将%s复制到已经加密的磁盘内，"
    L"运行%s，输入密码即可解密。\r\n\r\n如果您有任何建议或问题，欢迎您向我们指出。";
// The registry profile could not take "First".
inline constexpr const wchar_t* kFirstRunNotSaved = L"无法保存设置，下次启动时会再次显示以上提示。";
inline constexpr const wchar_t* kHelp =
    L"岚栩只读加密始于2006年，更安全、更稳定。\r\n\r\n期待您的宝贵意见或建议。\r\n\r\n加密方法：\r"
    L"\n\r\n"
    L"1、把本软件复制到待加密的文件夹内，运行该软件后即可加密；\r\n"
    L"2、运行本软件，选择“其他文件夹”，就可以加密任意其他的文件夹；\r\n\r\n解密方法：\r\n\r\n"
    L"将该软件复制到已经加密的文件夹内，运行该软件，输入密码即可解密。";
inline constexpr const wchar_t* kAboutVersionLine = L"岚栩只读加密              版本号:3069";
inline constexpr const wchar_t* kAboutText =
    L"岚栩只读加密始于2006年，更安全、更稳定。\r\n\r\n软件只有一个文件，方便操作。可以对硬盘、U盘、"
    L"移动硬盘进行加密，保护您重要的文件。\r\n\r\n关于免责申明，请您访问";

// "更多功能" menu.
inline constexpr const wchar_t* kMenuEncryptOther = L"加密其他";
inline constexpr const wchar_t* kMenuDecryptOther = L"解密其他";
inline constexpr const wchar_t* kMenuOptions = L"选项";
inline constexpr const wchar_t* kMenuHelp = L"帮助";
inline constexpr const wchar_t* kMenuAbout = L"关于...";
inline constexpr const wchar_t* kSettingsSheetTitle = L"岚栩只读加密设置";

// Settings page.
inline constexpr const wchar_t* kSetStartupPassword = L"设置启动密码";
inline constexpr const wchar_t* kModifyStartupPassword = L"修改/取消启动密码";

// Start-up password dialogs.
inline constexpr const wchar_t* kEnterStartupPassword = L"请输入启动密码。";
inline constexpr const wchar_t* kWrongStartupPassword = L"启动密码不正确。";
inline constexpr const wchar_t* kAlreadySet = L"已经设置启动密码，不能再次设置。";
inline constexpr const wchar_t* kRepeatDiffers = L"两次输入的密码不相同，请重新输入。";
inline constexpr const wchar_t* kSetSaved =
    L"启动密码保存成功，请牢记。\r\n\r\n该密码在进入主程序时不需要输入，在使用加密功能时需要输入。"
    L"\r\n\r\n"
    L"如希望取消启动密码，只需要将新密码设置为空即可。";
inline constexpr const wchar_t* kCancelled = L"启动密码已取消。";
inline constexpr const wchar_t* kStartupPasswordNotAnsi =
    L"启动密码中含有本机不支持的字符（例如表情符号），这样的密码无法保存。请换一个启动密码。";
inline constexpr const wchar_t* kSetFailed = L"设置启动密码失败";
inline constexpr const wchar_t* kEnterOldPassword = L"请输入原密码。";
inline constexpr const wchar_t* kWrongOldPassword = L"您输入的原密码不正确，不能修改启动密码。";
inline constexpr const wchar_t* kModifySaved =
    L"启动密码设置成功。\r\n\r\n加密时需要输入该密码。\r\n\r\n如希望取消启动密码，只需将新密码设置"
    L"为空即可。";
inline constexpr const wchar_t* kModifyFailed = L"本次密码修改/取消失败。";
inline constexpr const wchar_t* kModifyTitle = L"修改启动密码";
inline constexpr const wchar_t* kModifyOldLabel = L"原密码：";
inline constexpr const wchar_t* kModifyHint =
    L"同一电脑，岚栩文件夹加密和岚栩只读加密启动密码相同。";

// Readme editor; %s stands for the program's name (see EditorDefaultReadme).
inline constexpr const wchar_t* kEditorDefaultReadmeFormat =
    L"已通过岚栩只读加密过。\r\n\r\n如需使用该内容，请运行该文件夹下的%s输入密码解密";

}  // namespace ui::texts
