// The encrypt side driven as a person would: type the password twice, press
// 加密, read the messages; then look at what is on disk.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "app/settings_keys.h"
#include "crypto/content_cipher.h"
#include "crypto/records.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "resource.h"
#include "store/layout.h"
#include "ui/driver.h"
#include "ui/encrypt/logic/encrypt_texts.h"
#include "ui/encrypt/logic/jiami_logic.h"
#include "ui/encrypt/logic/settings_logic.h"

namespace uitest {
namespace {

namespace texts = ui::texts;

constexpr DWORD kHiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

DWORD Attrs(const std::wstring& path) {
    return GetFileAttributesW(path.c_str());
}

// Every object below `dir`: relative name -> attributes and size.
void Walk(const std::wstring& dir, const std::wstring& rel,
          std::map<std::wstring, std::pair<DWORD, ULONGLONG>>* out) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring r = rel.empty() ? name : rel + L"\\" + name;
        (*out)[r] = {fd.dwFileAttributes, (ULONGLONG(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow};
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) Walk(dir + L"\\" + name, r, out);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}

std::map<std::wstring, std::pair<DWORD, ULONGLONG>> Tree(const std::wstring& dir) {
    std::map<std::wstring, std::pair<DWORD, ULONGLONG>> t;
    t[L"."] = {Attrs(dir), 0};
    Walk(dir, L"", &t);
    return t;
}

std::vector<std::wstring> TopNames(const std::wstring& dir) {
    std::vector<std::wstring> names;
    for (const auto& [rel, info] : Tree(dir))
        if (rel != L"." && rel.find(L'\\') == std::wstring::npos) names.push_back(rel);
    return names;
}

// A file of `mb` megabytes of varied bytes.
bool WriteBig(const std::wstring& path, int mb) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    std::string block(1 << 20, '\0');
    for (size_t i = 0; i < block.size(); ++i) block[i] = char('a' + i % 26);
    bool ok = true;
    for (int i = 0; i < mb && ok; ++i) {
        DWORD done = 0;
        ok = WriteFile(h, block.data(), DWORD(block.size()), &done, nullptr);
    }
    CloseHandle(h);
    return ok;
}

DWORD ExplorerValue(const wchar_t* name) {
    DWORD v = 0, size = sizeof v;
    if (RegGetValueW(HKEY_CURRENT_USER,
                     L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced", name,
                     RRF_RT_REG_DWORD, nullptr, &v, &size) != ERROR_SUCCESS)
        return 0xFFFFFFFF;
    return v;
}

HWND FocusOf(HWND dlg) {
    GUITHREADINFO gi = {};
    gi.cbSize = sizeof gi;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(dlg, nullptr), &gi)) return nullptr;
    return gi.hwndFocus;
}

void Key(HWND target, UINT vk) {
    PostMessageW(target, WM_KEYDOWN, vk, 1);
    PostMessageW(target, WM_KEYUP, vk, 0xC0000001);
}

struct PageFind {
    int id;
    HWND found;
};
BOOL CALLBACK FindPage(HWND child, LPARAM lp) {
    auto* f = reinterpret_cast<PageFind*>(lp);
    if (GetDlgItem(child, f->id)) {
        f->found = child;
        return FALSE;
    }
    return TRUE;
}

class EncryptWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HaveDisplay()) GTEST_SKIP() << "window tests need a display: run tools/test-ui";
        ASSERT_FALSE(dir_.path().empty());
        // A known profile: defaults everywhere, and no first-run page (it
        // would start a browser).
        RegDeleteTreeW(HKEY_CURRENT_USER, kProfileKey);
        WriteProfileStringW(app::kWinIniSection, app::WinIniKeys::First, L"0");
        WriteProfileStringW(app::kWinIniSection, app::WinIniKeys::MailAddress, nullptr);
        folder_ = dir_ / L"保护";
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
    }
    void TearDown() override {
        program_.Kill();
        if (!extraExe_.empty()) DeleteFileW(extraExe_.c_str());
    }

    void StartIn(const std::wstring& folder, const std::wstring& args = L"",
                 const std::wstring& name = L"ulxjm.exe") {
        const std::wstring exe = folder + L"\\" + name;
        ASSERT_TRUE(CopyFileW((OwnFolder() + L"ulxjm.exe").c_str(), exe.c_str(), FALSE));
        ASSERT_TRUE(program_.Start(exe, args, folder));
    }
    void AddContent() {
        ASSERT_TRUE(WriteBytes(folder_ + L"\\a.txt", "hello"));
        ASSERT_TRUE(CreateDirectoryW((folder_ + L"\\子目录").c_str(), nullptr));
        ASSERT_TRUE(WriteBytes(folder_ + L"\\子目录\\b.bin", std::string(3000, 'b')));
    }
    HWND Main() {
        HWND dlg = WaitForMainDialog(program_.pid());
        EXPECT_NE(dlg, nullptr) << "no encrypt window";
        return dlg;
    }
    // The next message box: its text, answered with `button`.
    std::wstring Answer(HWND except, int button = IDOK) {
        return AnswerNextBox(program_.pid(), except, button);
    }
    // `ms`: how long the pass may take; a loaded machine runs Wine slowly.
    void ExpectEnds(DWORD ms = 60000) {
        DWORD code = 1234;
        const bool ended = program_.WaitForExit(ms, &code);
        if (!ended)
            Screenshot(
                L"stuck-" +
                plat::FromUtf8(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        ASSERT_TRUE(ended) << "the program did not end";
        EXPECT_EQ(code, 0u);
    }
    void Encrypt(HWND dlg, const std::wstring& pw, const std::wstring& confirm) {
        SetItemText(dlg, IDC_JIAMI_PASSWORD, pw);
        SetItemText(dlg, IDC_JIAMI_CONFIRM, confirm);
        ClickButton(dlg, IDC_JIAMI_START);
    }
    // The "更多功能" menu entry `index` (0 加密其他, 1 解密其他, 2 选项, 3 帮助, 4 关于...).
    void MenuEntry(HWND dlg, int index) {
        PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(IDC_JIAMI_MORE, STN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDC_JIAMI_MORE)));
        Sleep(500);
        for (int i = 0; i <= index; ++i) Key(dlg, VK_DOWN);
        Key(dlg, VK_RETURN);
    }

    // The store a normal encryption leaves in folder_.
    void ExpectStoreShell(const std::wstring& kindLine) { ExpectStoreShellWithMail(kindLine, ""); }
    void ExpectStoreShellWithMail(const std::wstring& kindLine, const std::string& mail) {
        EXPECT_EQ(TopNames(folder_),
                  (std::vector<std::wstring>{L"desktop.ini", L"ulxjm", L"ulxjm.exe"}));
        EXPECT_TRUE(Attrs(folder_) & FILE_ATTRIBUTE_SYSTEM);
        const std::wstring root = folder_ + L"\\ulxjm";
        EXPECT_EQ(Attrs(root) & kHiddenSystem, kHiddenSystem);
        EXPECT_EQ(Attrs(folder_ + L"\\desktop.ini") & kHiddenSystem, kHiddenSystem);
        EXPECT_EQ(FileBytes(folder_ + L"\\desktop.ini"),
                  store::FolderDesktopIniBytes(app::kDefaultTip));
        EXPECT_EQ(Attrs(root + L"\\desktop.ini") & kHiddenSystem, kHiddenSystem);
        EXPECT_EQ(FileBytes(root + L"\\desktop.ini"), store::StoreDesktopIniBytes());
        EXPECT_EQ(FileBytes(root + L"\\paramff\\typeff.ulxjm"), plat::ToAnsi(L"ff" + kindLine));
        EXPECT_EQ(FileBytes(root + L"\\paramff\\liamff.ulxjm"), mail.empty() ? "<missing>" : mail);
        EXPECT_EQ(Attrs(folder_ + L"\\readme.txt"), INVALID_FILE_ATTRIBUTES);
    }

    TempDir dir_;
    std::wstring folder_;
    std::wstring extraExe_;
    Program program_;
};

TEST_F(EncryptWindowTest, NormalStrengthMovesEverythingIntoTheStore) {
    AddContent();
    StartIn(folder_);
    HWND dlg = Main();
    ASSERT_TRUE(dlg);
    EXPECT_EQ(ItemText(dlg, IDC_JIAMI_TARGET), folder_ + L"\\");
    EXPECT_EQ(ItemText(dlg, IDC_JIAMI_STRENGTH), texts::kStrengthNormal);
    // The pointer resting on the strength list shows the entry's tip.
    RECT r = {};
    GetWindowRect(GetDlgItem(dlg, IDC_JIAMI_STRENGTH), &r);
    SetCursorPos(r.right - 28, (r.top + r.bottom) / 2);
    Sleep(1500);
    Screenshot(L"encrypt-window-strength-tip");
    Encrypt(dlg, L"密码pw1", L"密码pw1");
    ExpectEnds();

    ExpectStoreShell(L"type=0");
    const std::wstring data = folder_ + L"\\ulxjm\\ffffff";
    EXPECT_EQ(FileBytes(data + L"\\a.txt"), "hello");  // contents untouched
    EXPECT_EQ(FileBytes(data + L"\\子目录\\b.bin"), std::string(3000, 'b'));
    const std::wstring param = folder_ + L"\\ulxjm\\paramff";
    crypto::StoreRecords records = crypto::ReadStoreRecords(param, false);
    EXPECT_EQ(records.kind, crypto::kKindNormal);
    EXPECT_TRUE(crypto::CheckNormalPassword(records, param, false, L"密码pw1"));
    EXPECT_FALSE(crypto::CheckNormalPassword(records, param, false, L"密码PW1"));
}

TEST_F(EncryptWindowTest, HighestStrengthEncryptsTheContentAfterHiding) {
    AddContent();
    ASSERT_TRUE(WriteBig(folder_ + L"\\big.txt", 300));
    // Many small files keep the pass going long enough to be seen.
    ASSERT_TRUE(CreateDirectoryW((folder_ + L"\\many").c_str(), nullptr));
    for (int i = 0; i < 3000; ++i)
        ASSERT_TRUE(WriteBytes(folder_ + L"\\many\\n" + std::to_wstring(i) + L".txt",
                               std::string(2048, char('a' + i % 26))));
    StartIn(folder_);
    HWND dlg = Main();
    ASSERT_TRUE(dlg);
    // Choosing from the list, as a click on its second entry does.
    SendMessageW(GetDlgItem(dlg, IDC_JIAMI_STRENGTH), CB_SETCURSEL, 1, 0);
    EXPECT_EQ(ItemText(dlg, IDC_JIAMI_STRENGTH), texts::kStrengthHighest);
    Encrypt(dlg, L"pw2", L"pw2");
    HWND progress = WaitForWindow(program_.pid(), L"#32770", L"最高强度加密进度--岚栩只读加密");
    ASSERT_NE(progress, nullptr) << "no highest-strength progress window";
    Sleep(300);
    EXPECT_NE(ItemText(progress, IDC_ZQ_TOTAL), L"0");
    Screenshot(L"progress-window-highest");
    EXPECT_TRUE(IsWindow(progress)) << "the pass ended before the screenshot";
    ExpectEnds(240000);

    ExpectStoreShell(L"type=2");
    const std::wstring data = folder_ + L"\\ulxjm\\ffffff";
    const std::wstring param = folder_ + L"\\ulxjm\\paramff";
    EXPECT_TRUE(crypto::CheckStrengthPassword(param, L"pw2", false));
    EXPECT_FALSE(crypto::CheckStrengthPassword(param, L"pw3", false));
    EXPECT_EQ(Attrs(param + L"\\imimff.ulxjm"), INVALID_FILE_ATTRIBUTES) << "record not sealed";
    struct Expect {
        std::wstring name;
        uint64_t plain;
    };
    const Expect files[] = {{L"a.txt", 5}, {L"子目录\\b.bin", 3000}, {L"big.txt", 300u << 20}};
    for (const Expect& e : files) {
        SCOPED_TRACE(plat::ToUtf8(e.name));
        EXPECT_EQ(Attrs(data + L"\\" + e.name), INVALID_FILE_ATTRIBUTES) << "plain copy left";
        auto f = plat::Fs().Open(data + L"\\" + e.name + L".zpwenc0", plat::Access::Read,
                                 plat::Disposition::OpenExisting);
        ASSERT_TRUE(f) << "no encrypted file";
        auto trailer = crypto::ReadTrailer(*f);
        ASSERT_TRUE(trailer.has_value());
        EXPECT_EQ(trailer->plainLength, e.plain);
    }
    EXPECT_NE(Attrs(data + L"\\many\\n2999.txt.zpwenc0"), INVALID_FILE_ATTRIBUTES);
    const std::string head = FileBytes(data + L"\\a.txt.zpwenc0").substr(0, 5);
    EXPECT_NE(head, "hello");
}

// Each refused start shows its message, leaves the window open and the
// folder exactly as it was.
TEST_F(EncryptWindowTest, RefusedStartsChangeNothing) {
    struct Case {
        const char* name;
        bool content;
        std::wstring pw, confirm;
        std::wstring message;
    };
    const Case cases[] = {
        {"empty folder", false, L"p", L"p", texts::kEmptyFolder},
        {"two passwords", true, L"p1", L"p2", texts::kPasswordsDiffer},
        {"empty password", true, L"", L"", texts::kEmptyPassword},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        folder_ = dir_ / plat::FromUtf8(c.name);
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
        if (c.content) AddContent();
        StartIn(folder_);
        HWND dlg = Main();
        ASSERT_TRUE(dlg);
        const auto before = Tree(folder_);
        Encrypt(dlg, c.pw, c.confirm);
        EXPECT_EQ(Answer(dlg), c.message);
        EXPECT_TRUE(IsWindowVisible(dlg));
        EXPECT_EQ(ItemText(dlg, IDC_JIAMI_PASSWORD), c.pw);  // fields kept for correcting
        EXPECT_EQ(Tree(folder_), before);
        PostMessageW(dlg, WM_CLOSE, 0, 0);
        ExpectEnds();
    }
}

// An encrypted folder named by the automatic launch form: its message, no
// second set of records over the first, and the unseen run ends.
TEST_F(EncryptWindowTest, AlreadyEncryptedFolderIsRefused) {
    AddContent();
    ASSERT_TRUE(CreateDirectoryW((folder_ + L"\\ulxjm").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((folder_ + L"\\ulxjm\\ffffff").c_str(), nullptr));
    const auto before = Tree(folder_);
    StartIn(dir_.path(), folder_ + L",p,0,");
    EXPECT_EQ(Answer(nullptr), texts::kAlreadyEncrypted);
    ExpectEnds();
    EXPECT_EQ(Tree(folder_), before);
}

// A win.ini that cannot be written, as a standard user of current Windows
// finds it. (The tests run as root, which a read-only mark does not stop: a
// folder stands in its place.)
class UnwritableWinIni {
  public:
    UnwritableWinIni() {
        wchar_t win[MAX_PATH] = {};
        GetWindowsDirectoryW(win, MAX_PATH);
        path_ = std::wstring(win) + L"\\win.ini";
        moved_ = MoveFileW(path_.c_str(), (path_ + L".ulxtest").c_str()) != FALSE;
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~UnwritableWinIni() {
        RemoveDirectoryW(path_.c_str());
        if (moved_) MoveFileW((path_ + L".ulxtest").c_str(), path_.c_str());
    }

  private:
    std::wstring path_;
    bool moved_ = false;
};

// The first encryption on this computer says how to open the folder, naming
// the program placed there, once; also when win.ini cannot be written.
TEST_F(EncryptWindowTest, FirstEncryptionShowsTheNoticeOnce) {
    WriteProfileStringW(app::kWinIniSection, app::WinIniKeys::First, nullptr);
    UnwritableWinIni unwritable;
    ASSERT_FALSE(WriteProfileStringW(app::kWinIniSection, L"probe", L"1"))
        << "win.ini is still writable";
    AddContent();
    StartIn(folder_, L"", L"U盘加密.exe");
    HWND dlg = Main();
    ASSERT_TRUE(dlg);
    Encrypt(dlg, L"p", L"p");
    const std::wstring notice = Answer(dlg);
    EXPECT_EQ(notice, ui::logic::FirstRunNotice(folder_ + L"\\U盘加密.exe"));
    EXPECT_NE(notice.find(L"直接运行加密磁盘下的U盘加密.exe"), std::wstring::npos);
    ExpectEnds();
    EXPECT_EQ(ProfileInt(app::WinIniKeys::First), 0u);
    EXPECT_TRUE(Attrs(folder_ + L"\\ulxjm\\ffffff\\a.txt") != INVALID_FILE_ATTRIBUTES);

    // The next encryption shows no notice.
    folder_ = dir_ / L"second";
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
    AddContent();
    StartIn(folder_);
    dlg = Main();
    ASSERT_TRUE(dlg);
    Encrypt(dlg, L"p", L"p");
    EXPECT_EQ(WaitForMessageBox(program_.pid(), dlg, 3000), nullptr) << "the notice again";
    ExpectEnds();
}

// A pass that failed shows its log, not "加密成功"; the notice waits for a
// pass that succeeds.
TEST_F(EncryptWindowTest, NoFirstRunNoticeAfterAPassWithFailures) {
    WriteProfileStringW(app::kWinIniSection, app::WinIniKeys::First, nullptr);
    AddContent();
    // A name that makes its path too long to move.
    const std::wstring longName(262 - folder_.size(), L'x');
    ASSERT_TRUE(WriteBytes(folder_ + L"\\" + longName, "stays"));
    StartIn(folder_);
    HWND dlg = Main();
    ASSERT_TRUE(dlg);
    Encrypt(dlg, L"p", L"p");
    // The only box allowed is the one about the long path.
    for (HWND box; (box = WaitForMessageBox(program_.pid(), dlg, 3000)) != nullptr;) {
        const std::wstring text = MessageBoxText(box);
        EXPECT_EQ(text.find(L"加密成功"), std::wstring::npos);
        AnswerMessageBox(box, IDOK);
        EXPECT_TRUE(WaitForWindowGone(box));
    }
    ExpectEnds();
    EXPECT_EQ(ProfileInt(app::WinIniKeys::First, 1), 1u) << "the notice is still owed";
    EXPECT_EQ(FileBytes(folder_ + L"\\" + longName), "stays");
    // The pass log was opened for the user: close the editor showing it.
    for (int i = 0; i < 50; ++i) {
        if (HWND log = FindWindowW(L"Notepad", nullptr)) {
            PostMessageW(log, WM_CLOSE, 0, 0);
            break;
        }
        Sleep(100);
    }
}

// folder,password,field,mail: encrypted at once with only the progress
// window on screen, the mail address stored with the records.
TEST_F(EncryptWindowTest, LaunchFormEncryptsWithoutShowingTheWindow) {
    AddContent();
    StartIn(dir_.path(), folder_ + L",自动pw,0,user@example.com");
    EXPECT_EQ(WaitForMainDialog(program_.pid(), 1500), nullptr) << "the window showed";
    ExpectEnds();
    ExpectStoreShellWithMail(L"type=0", "user@example.com");
    const std::wstring param = folder_ + L"\\ulxjm\\paramff";
    crypto::StoreRecords records = crypto::ReadStoreRecords(param, false);
    EXPECT_TRUE(crypto::CheckNormalPassword(records, param, false, L"自动pw"));
    EXPECT_EQ(FileBytes(folder_ + L"\\ulxjm\\ffffff\\a.txt"), "hello");
    // The program beside the folder stays where it was.
    EXPECT_NE(Attrs(dir_ / L"ulxjm.exe"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(EncryptWindowTest, SystemFolderIsRefusedAndInsideItAsksFirst) {
    wchar_t win[MAX_PATH] = {};
    ASSERT_GT(GetWindowsDirectoryW(win, MAX_PATH), 0u);
    const std::wstring windows = win;
    const auto before = Tree(windows + L"\\temp");
    {
        extraExe_ = windows + L"\\ulxjm.exe";
        StartIn(windows);
        HWND dlg = Main();
        ASSERT_TRUE(dlg);
        Encrypt(dlg, L"p", L"p");
        EXPECT_EQ(Answer(dlg), texts::kSystemFolder);
        EXPECT_EQ(Attrs(windows + L"\\ulxjm"), INVALID_FILE_ATTRIBUTES);
        PostMessageW(dlg, WM_CLOSE, 0, 0);
        ExpectEnds();
    }
    // The system folder itself lies inside the Windows folder, and is refused.
    {
        wchar_t sys[MAX_PATH] = {};
        ASSERT_GT(GetSystemDirectoryW(sys, MAX_PATH), 0u);
        const std::wstring system = sys;
        extraExe_ = system + L"\\ulxjm.exe";
        StartIn(system);
        HWND dlg = Main();
        ASSERT_TRUE(dlg);
        Encrypt(dlg, L"p", L"p");
        EXPECT_EQ(Answer(dlg), texts::kSystemFolder);
        EXPECT_EQ(Attrs(system + L"\\ulxjm"), INVALID_FILE_ATTRIBUTES);
        PostMessageW(dlg, WM_CLOSE, 0, 0);
        ExpectEnds();
        DeleteFileW(extraExe_.c_str());
    }
    // A folder inside the Windows folder: the question, answered No.
    const std::wstring inside = windows + L"\\temp\\ulx-encrypt-test";
    CreateDirectoryW(inside.c_str(), nullptr);
    ASSERT_TRUE(WriteBytes(inside + L"\\x.txt", "x"));
    StartIn(inside);
    HWND dlg = Main();
    ASSERT_TRUE(dlg);
    const auto insideBefore = Tree(inside);
    Encrypt(dlg, L"p", L"p");
    EXPECT_EQ(Answer(dlg, IDNO), texts::kMayHoldSystemFiles);
    EXPECT_EQ(Tree(inside), insideBefore);
    PostMessageW(dlg, WM_CLOSE, 0, 0);
    ExpectEnds();
    RemoveTree(inside);
}

TEST_F(EncryptWindowTest, EnterMovesToTheConfirmationThenStarts) {
    AddContent();
    StartIn(folder_);
    HWND dlg = Main();
    ASSERT_TRUE(dlg);
    Settle(dlg);
    HWND pw = GetDlgItem(dlg, IDC_JIAMI_PASSWORD);
    HWND confirm = GetDlgItem(dlg, IDC_JIAMI_CONFIRM);
    ASSERT_EQ(FocusOf(dlg), pw) << "the window opens in the first password box";
    Key(pw, VK_RETURN);
    Settle(dlg);
    EXPECT_EQ(FocusOf(dlg), confirm);
    EXPECT_TRUE(IsWindowVisible(dlg));
    // Enter in the confirmation box runs the start sequence: empty passwords.
    Key(confirm, VK_RETURN);
    EXPECT_EQ(Answer(dlg), texts::kEmptyPassword);
    EXPECT_EQ(FocusOf(dlg), pw);
    PostMessageW(dlg, WM_CLOSE, 0, 0);
    ExpectEnds();
}

// Ctrl+Right picks the next strength, wrapping, and brings the pointer to
// the list.
TEST_F(EncryptWindowTest, CtrlRightCyclesTheStrength) {
    AddContent();
    StartIn(folder_);
    HWND dlg = Main();
    ASSERT_TRUE(dlg);
    Settle(dlg);
    HWND combo = GetDlgItem(dlg, IDC_JIAMI_STRENGTH);
    auto ctrlRight = [&] {
        INPUT in[4] = {};
        const WORD keys[4] = {VK_CONTROL, VK_RIGHT, VK_RIGHT, VK_CONTROL};
        for (int i = 0; i < 4; ++i) {
            in[i].type = INPUT_KEYBOARD;
            in[i].ki.wVk = keys[i];
            in[i].ki.dwFlags = (i >= 2) ? KEYEVENTF_KEYUP : 0;
        }
        SendInput(4, in, sizeof(INPUT));
        Settle(dlg);
    };
    ctrlRight();
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 1);
    RECT r = {};
    GetWindowRect(combo, &r);
    POINT pt = {};
    GetCursorPos(&pt);
    EXPECT_EQ(pt.x, r.right - 28);
    EXPECT_EQ(pt.y, (r.top + r.bottom) / 2);
    ctrlRight();
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 0);
    PostMessageW(dlg, WM_CLOSE, 0, 0);
    ExpectEnds();
}

// The settings page's button sets the start-up password; the next start asks.
TEST_F(EncryptWindowTest, SettingsPageSetsTheStartupPassword) {
    AddContent();
    StartIn(folder_);
    HWND dlg = Main();
    ASSERT_TRUE(dlg);
    Settle(dlg);
    MenuEntry(dlg, 2);
    HWND sheet = WaitForWindow(program_.pid(), L"#32770", texts::kSettingsSheetTitle);
    ASSERT_NE(sheet, nullptr);
    PageFind find = {IDC_SET_FLAG, nullptr};
    EnumChildWindows(sheet, &FindPage, reinterpret_cast<LPARAM>(&find));
    ASSERT_NE(find.found, nullptr);
    EXPECT_EQ(ItemText(find.found, IDC_SET_PASSWORD), texts::kSetStartupPassword);
    ClickButton(find.found, IDC_SET_PASSWORD);
    HWND set = WaitForWindow(program_.pid(), L"#32770", L"设置岚栩启动密码");
    ASSERT_NE(set, nullptr);
    SetItemText(set, IDC_SETRUN_PASSWORD, L"启动");
    SetItemText(set, IDC_SETRUN_REPEAT, L"启动!");
    ClickButton(set, IDC_SETRUN_OK);
    EXPECT_EQ(Answer(set), texts::kRepeatDiffers);
    EXPECT_EQ(Attrs(folder_ + L"\\mima.dat"), INVALID_FILE_ATTRIBUTES);
    SetItemText(set, IDC_SETRUN_REPEAT, L"启动");
    ClickButton(set, IDC_SETRUN_OK);
    EXPECT_EQ(Answer(set), texts::kSetSaved);
    EXPECT_TRUE(WaitForWindowGone(set));
    EXPECT_EQ(FileBytes(folder_ + L"\\mima.dat"), plat::ToAnsi(L"启动"));
    PostMessageW(sheet, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitForWindowGone(sheet));
    PostMessageW(dlg, WM_CLOSE, 0, 0);
    ExpectEnds();

    StartIn(folder_);
    HWND prompt = WaitForWindow(program_.pid(), L"#32770", L"验证启动密码");
    ASSERT_NE(prompt, nullptr) << "no prompt after setting the password";
    ClickButton(prompt, IDC_INRUN_CANCEL);
    ExpectEnds();
}

TEST_F(EncryptWindowTest, StartupPasswordPromptRefusesAWrongOneAndCancelEnds) {
    AddContent();
    ASSERT_TRUE(WriteBytes(folder_ + L"\\mima.dat", "Start1"));
    StartIn(folder_);
    HWND prompt = WaitForWindow(program_.pid(), L"#32770", L"验证启动密码");
    ASSERT_NE(prompt, nullptr);
    Settle(prompt);
    Screenshot(L"startup-password-prompt");
    for (const std::wstring& wrong : {std::wstring(L"start1"), std::wstring()}) {
        SetItemText(prompt, IDC_INRUN_PASSWORD, wrong);
        ClickButton(prompt, IDC_INRUN_OK);
        EXPECT_EQ(Answer(prompt),
                  wrong.empty() ? texts::kEnterStartupPassword : texts::kWrongStartupPassword);
        EXPECT_TRUE(IsWindowVisible(prompt));
    }
    ClickButton(prompt, IDC_INRUN_CANCEL);
    ExpectEnds();

    // The right one opens the encrypt window.
    StartIn(folder_);
    prompt = WaitForWindow(program_.pid(), L"#32770", L"验证启动密码");
    ASSERT_NE(prompt, nullptr);
    SetItemText(prompt, IDC_INRUN_PASSWORD, L"Start1");
    ClickButton(prompt, IDC_INRUN_OK);
    HWND dlg = Main();
    ASSERT_TRUE(dlg);
    PostMessageW(dlg, WM_CLOSE, 0, 0);
    ExpectEnds();
}

// The start-up password file guards the program beside it: encrypting the
// program's own folder leaves it there, out of the store.
TEST_F(EncryptWindowTest, TheStartupPasswordFileStaysBesideTheProgram) {
    AddContent();
    ASSERT_TRUE(WriteBytes(folder_ + L"\\mima.dat", "Start1"));
    StartIn(folder_);
    HWND prompt = WaitForWindow(program_.pid(), L"#32770", L"验证启动密码");
    ASSERT_NE(prompt, nullptr);
    SetItemText(prompt, IDC_INRUN_PASSWORD, L"Start1");
    ClickButton(prompt, IDC_INRUN_OK);
    HWND dlg = Main();
    ASSERT_TRUE(dlg);
    Encrypt(dlg, L"p", L"p");
    ExpectEnds();
    EXPECT_EQ(FileBytes(folder_ + L"\\mima.dat"), "Start1");
    EXPECT_EQ(Attrs(folder_ + L"\\ulxjm\\ffffff\\mima.dat"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(FileBytes(folder_ + L"\\ulxjm\\ffffff\\a.txt"), "hello");
}

TEST_F(EncryptWindowTest, SettingsPageWritesEachChangeAtOnce) {
    AddContent();
    StartIn(folder_);
    HWND dlg = Main();
    ASSERT_TRUE(dlg);
    Settle(dlg);
    Screenshot(L"encrypt-window");
    MenuEntry(dlg, 2);
    HWND sheet = WaitForWindow(program_.pid(), L"#32770", texts::kSettingsSheetTitle);
    ASSERT_NE(sheet, nullptr) << "no settings sheet";
    PageFind find = {IDC_SET_FLAG, nullptr};
    EnumChildWindows(sheet, &FindPage, reinterpret_cast<LPARAM>(&find));
    HWND page = find.found;
    ASSERT_NE(page, nullptr);
    Settle(sheet);
    Screenshot(L"settings-sheet");

    EXPECT_EQ(SendMessageW(GetDlgItem(page, IDC_SET_FLAG), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(ItemText(page, IDC_SET_TIPS), app::kDefaultTip);
    ClickButton(page, IDC_SET_FLAG);
    Settle(page);
    EXPECT_EQ(ProfileInt(app::ProfileKeys::JiamiFlag), 0u);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, IDC_SET_TIPS)));
    ClickButton(page, IDC_SET_FLAG);
    Settle(page);
    EXPECT_EQ(ProfileInt(app::ProfileKeys::JiamiFlag), 1u);

    SetItemText(page, IDC_SET_TIPS, L"新的提示");
    Settle(page);
    EXPECT_EQ(ProfileString(app::ProfileKeys::Tips), L"新的提示");

    ClickButton(page, IDC_SET_README);
    Settle(page);
    EXPECT_EQ(ProfileInt(app::ProfileKeys::ReadMeFlag), 1u);

    ClickButton(page, IDC_SET_AUTOHIDE);
    Settle(page);
    EXPECT_EQ(ProfileInt(app::ProfileKeys::AutoHide), 0u);
    EXPECT_EQ(ExplorerValue(L"SuperHidden"), 0u);
    EXPECT_EQ(ExplorerValue(L"ShowSuperHidden"), 1u);
    ClickButton(page, IDC_SET_AUTOHIDE);
    Settle(page);
    EXPECT_EQ(ProfileInt(app::ProfileKeys::AutoHide), 1u);
    EXPECT_EQ(ExplorerValue(L"SuperHidden"), 1u);

    // The readme editor: the short default text, then a stored edit with
    // its line break.
    PostMessageW(page, WM_COMMAND, MAKEWPARAM(IDC_SET_EDIT_README, STN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(page, IDC_SET_EDIT_README)));
    HWND editor = WaitForWindow(program_.pid(), L"#32770", L"修改readme文件内容");
    ASSERT_NE(editor, nullptr) << "no readme editor";
    Settle(editor);
    EXPECT_EQ(ItemText(editor, IDC_README_TEXT),
              ui::logic::EditorDefaultReadme(folder_ + L"\\ulxjm.exe"));
    SetItemText(editor, IDC_README_TEXT, L"第一行\r\n第二行");
    ClickButton(editor, IDOK);
    EXPECT_TRUE(WaitForWindowGone(editor));
    EXPECT_EQ(ProfileString(app::ProfileKeys::ReadmeText), L"第一行\r\n第二行");
    EXPECT_EQ(ProfileInt(app::ProfileKeys::ReadMeFlag), 1u);

    // Cancelling the sheet undoes nothing.
    PostMessageW(sheet, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(WaitForWindowGone(sheet));
    EXPECT_EQ(ProfileString(app::ProfileKeys::Tips), L"新的提示");
    EXPECT_EQ(ProfileInt(app::ProfileKeys::ReadMeFlag), 1u);

    // The About box.
    MenuEntry(dlg, 4);
    HWND about = WaitForWindow(program_.pid(), L"#32770", L"关于 岚栩只读加密");
    ASSERT_NE(about, nullptr) << "no About box";
    EXPECT_EQ(ItemText(about, IDC_ABOUT_VERSION), texts::kAboutVersionLine);
    Settle(about);
    Screenshot(L"about-box");
    ClickButton(about, IDOK);
    EXPECT_TRUE(WaitForWindowGone(about));
    PostMessageW(dlg, WM_CLOSE, 0, 0);
    ExpectEnds();
}

}  // namespace
}  // namespace uitest
