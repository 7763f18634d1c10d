// The decrypt-other-folder list, reached through the encrypt window of the
// real program, and the screen lock, run by dlghost.exe from the program's
// own sources: driven as a person would.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <functional>
#include <string>
#include <vector>

#include "resource.h"
#include "platform/text.h"
#include "ui/decrypt/logic/decrypt_texts.h"
#include "ui/encrypt/logic/encrypt_texts.h"
#include "ui/driver.h"

namespace uitest {
namespace {

namespace texts = ui::texts;

void Key(HWND target, UINT vk) {
    PostMessageW(target, WM_KEYDOWN, vk, 1);
    PostMessageW(target, WM_KEYUP, vk, 0xC0000001);
}

bool HasChildOfClass(HWND parent, const wchar_t* cls) {
    struct Find {
        const wchar_t* cls;
        bool found;
    } f{cls, false};
    EnumChildWindows(
        parent,
        [](HWND child, LPARAM lp) -> BOOL {
            auto* f = reinterpret_cast<Find*>(lp);
            wchar_t name[64] = {};
            GetClassNameW(child, name, 64);
            if (lstrcmpiW(name, f->cls) == 0) f->found = true;
            return !f->found;
        },
        reinterpret_cast<LPARAM>(&f));
    return f.found;
}

// Whether a control of `dlg` shows exactly `text` (the resource script has
// its own copy of the dialogs' texts).
bool ShowsText(HWND dlg, const std::wstring& text) {
    for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (WindowText(c) == text) return true;
    return false;
}

// The folder browser of `pid`: a dialog holding a tree.
HWND WaitForFolderBrowser(DWORD pid) {
    const ULONGLONG end = GetTickCount64() + kWaitMs;
    for (;;) {
        for (HWND h = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); h;
             h = FindWindowExW(nullptr, h, L"#32770", nullptr)) {
            DWORD owner = 0;
            GetWindowThreadProcessId(h, &owner);
            if (owner == pid && IsWindowVisible(h) && HasChildOfClass(h, L"SysTreeView32"))
                return h;
        }
        if (GetTickCount64() >= end) return nullptr;
        Sleep(50);
    }
}

// Controls of the shell's folder browser (the same ids on Windows and Wine).
constexpr int kBrowserTree = 0x3741;
constexpr int kBrowserTitle = 0x3742;

HTREEITEM SelectedTreeItem(HWND browser) {
    return reinterpret_cast<HTREEITEM>(
        SendMessageW(GetDlgItem(browser, kBrowserTree), TVM_GETNEXTITEM, TVGN_CARET, 0));
}

// Lists every folder from `path` up to its drive. The folder browser finds
// a path by comparing the shell's item ids, which carry the last access
// time; on Linux the first listing after a change moves that time, so a
// folder the tree lists for the first time would no longer match.
void ListAncestors(std::wstring path) {
    while (path.size() > 3) {
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE) {
            while (FindNextFileW(h, &fd)) {
            }
            FindClose(h);
        }
        path.resize(path.find_last_of(L'\\'));
    }
}

// Points the folder browser at `folder`, where clicking through its tree
// would end (BFFM_SETSELECTION, which reads the path in the browser's own
// address space, so it is written there first). A dialog answers such a
// message through DWLP_MSGRESULT, so the moving selection is what tells.
bool SelectInFolderBrowser(HWND browser, const std::wstring& folder) {
    ListAncestors(folder);
    DWORD pid = 0;
    GetWindowThreadProcessId(browser, &pid);
    HANDLE p = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, pid);
    if (!p) return false;
    const HTREEITEM before = SelectedTreeItem(browser);
    const size_t bytes = (folder.size() + 1) * sizeof(wchar_t);
    void* remote = VirtualAllocEx(p, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (remote && WriteProcessMemory(p, remote, folder.c_str(), bytes, nullptr))
        SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(remote));
    if (remote) VirtualFreeEx(p, remote, 0, MEM_RELEASE);
    CloseHandle(p);
    const HTREEITEM after = SelectedTreeItem(browser);
    return after && after != before;
}

// A main window ("岚栩只读加密") of another instance than `notPid`.
HWND WaitForOtherInstance(DWORD notPid, DWORD* pid) {
    const ULONGLONG end = GetTickCount64() + kWaitMs;
    for (;;) {
        for (HWND h = FindWindowExW(nullptr, nullptr, L"#32770", kAppTitle); h;
             h = FindWindowExW(nullptr, h, L"#32770", kAppTitle)) {
            DWORD owner = 0;
            GetWindowThreadProcessId(h, &owner);
            if (owner != notPid && owner != GetCurrentProcessId() && IsWindowVisible(h) &&
                !GetDlgItem(h, 0xFFFF)) {
                *pid = owner;
                return h;
            }
        }
        if (GetTickCount64() >= end) return nullptr;
        Sleep(50);
    }
}

class DecryptOtherListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HaveDisplay()) GTEST_SKIP() << "window tests need a display: run tools/test-ui";
        ASSERT_FALSE(dir_.path().empty());
        exe_ = dir_ / L"ulxjm.exe";
        ASSERT_TRUE(CopyFileW((OwnFolder() + L"ulxjm.exe").c_str(), exe_.c_str(), FALSE));
        ASSERT_TRUE(program_.Start(exe_, L"", dir_.path()));
        main_ = WaitForMainDialog(program_.pid());
        ASSERT_NE(main_, nullptr) << "no encrypt window";
        ASSERT_TRUE(HasItem(main_, IDC_JIAMI_CONFIRM));
        // "更多功能", second entry "解密其他".
        PostMessageW(main_, WM_COMMAND, MAKEWPARAM(IDC_JIAMI_MORE, STN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(main_, IDC_JIAMI_MORE)));
        Sleep(500);
        Key(main_, VK_DOWN);
        Key(main_, VK_DOWN);
        Key(main_, VK_RETURN);
        list_ = WaitForWindow(program_.pid(), L"#32770", texts::kListCaption);
        ASSERT_NE(list_, nullptr) << "no list dialog";
    }
    void TearDown() override {
        program_.Kill();
        for (HANDLE h : others_) {
            TerminateProcess(h, 1);
            WaitForSingleObject(h, 5000);
            CloseHandle(h);
        }
    }
    // The next message box of the program: its text, answered with OK.
    std::wstring Answer() { return AnswerNextBox(program_.pid(), list_); }
    // 解密其他文件夹, and `folder` chosen in the folder browser.
    void ChooseOther(DWORD pid, const std::wstring& folder) {
        ClickButton(list_, IDC_LIST_DECRYPT_OTHER);
        HWND browser = WaitForFolderBrowser(pid);
        ASSERT_NE(browser, nullptr) << "no folder browser";
        EXPECT_EQ(ItemText(browser, kBrowserTitle), texts::kListChooseTitle);
        Settle(browser);
        ASSERT_TRUE(SelectInFolderBrowser(browser, folder))
            << "not selected: " << testing::PrintToString(folder);
        ClickButton(browser, IDOK);
    }

    TempDir dir_;
    std::wstring exe_;
    Program program_;
    HWND main_ = nullptr;
    HWND list_ = nullptr;
    std::vector<HANDLE> others_;
};

TEST_F(DecryptOtherListTest, EmptyListAsksForASelection) {
    HWND view = GetDlgItem(list_, IDC_LIST_FOLDERS);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(SendMessageW(view, LVM_GETITEMCOUNT, 0, 0), 0);
    HWND header = reinterpret_cast<HWND>(SendMessageW(view, LVM_GETHEADER, 0, 0));
    EXPECT_EQ(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0), 4);
    EXPECT_EQ(ItemText(list_, IDC_LIST_DECRYPT), texts::kListDecrypt);
    EXPECT_EQ(ItemText(list_, IDC_LIST_DECRYPT_OTHER), texts::kListDecryptOther);
    EXPECT_TRUE(ShowsText(list_, texts::kListHeading));
    EXPECT_EQ(ItemText(list_, IDC_LIST_PURGE), texts::kListPurge);
    EXPECT_FALSE(IsItemVisible(list_, IDC_LIST_PURGE));
    Settle(list_);
    Screenshot(L"decrypt-other-list");

    // The button, Enter (the default button) and a double-click on the list.
    const std::function<void()> ways[] = {
        [&] { ClickButton(list_, IDC_LIST_DECRYPT); },
        [&] { Key(view, VK_RETURN); },
        [&] { PostMessageW(view, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(40, 40)); },
    };
    for (const auto& act : ways) {
        act();
        EXPECT_EQ(Answer(), texts::kListNoSelection);
        EXPECT_TRUE(IsWindowVisible(list_));
    }

    // Leaving the list goes back to the encrypt window.
    ClickButton(list_, IDCANCEL);
    PostMessageW(list_, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitForWindowGone(list_));
    EXPECT_TRUE(IsWindowVisible(main_));
    EXPECT_TRUE(IsWindowEnabled(main_));
}

TEST_F(DecryptOtherListTest, ChosenFolderOpensInANewInstanceAndThisOneEnds) {
    struct Case {
        const wchar_t* name;
        bool store;
    } const cases[] = {{L"有存储", true}, {L"无存储", false}};
    Program second;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.store ? "with a store" : "without a store");
        const std::wstring folder = dir_ / c.name;
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        if (c.store) {
            ASSERT_TRUE(CreateDirectoryW((folder + L"\\ulxjm").c_str(), nullptr));
            ASSERT_TRUE(CreateDirectoryW((folder + L"\\ulxjm\\ffffff").c_str(), nullptr));
        }
        Program& program = c.store ? program_ : second;
        if (!c.store) {
            // A fresh program; this time through the encrypt window's hidden
            // button, the menu entry's twin.
            ASSERT_TRUE(second.Start(exe_, L"", dir_.path()));
            main_ = WaitForMainDialog(second.pid());
            ASSERT_NE(main_, nullptr);
            ClickButton(main_, IDC_JIAMI_DECRYPT_OTHER);
            list_ = WaitForWindow(second.pid(), L"#32770", texts::kListCaption);
            ASSERT_NE(list_, nullptr);
        }
        ChooseOther(program.pid(), folder);

        DWORD code = 1234;
        ASSERT_TRUE(program.WaitForExit(kWaitMs, &code)) << "the first instance did not end";
        EXPECT_EQ(code, 0u);
        DWORD pid = 0;
        HWND other = WaitForOtherInstance(program.pid(), &pid);
        ASSERT_NE(other, nullptr) << "no new instance";
        if (HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid))
            others_.push_back(h);
        if (c.store) {
            EXPECT_TRUE(HasItem(other, IDC_JIEMI_MODE_BROWSE)) << "not the decrypt window";
            EXPECT_EQ(ItemText(other, IDC_JIEMI_FOLDER), folder + L"\\");
        } else {
            // It offers the chosen folder, not the program's own.
            EXPECT_TRUE(HasItem(other, IDC_JIAMI_CONFIRM)) << "not the encrypt window";
            EXPECT_EQ(ItemText(other, IDC_JIAMI_TARGET), folder + L"\\");
        }
        Settle(other);
        Screenshot(c.store ? L"relaunched-decrypt" : L"relaunched-encrypt");
        PostMessageW(other, WM_CLOSE, 0, 0);
        EXPECT_TRUE(WaitForWindowGone(other));
    }
    second.Kill();
}

TEST_F(DecryptOtherListTest, ProgramThatCannotStartAgainIsReportedAndTheListStays) {
    // The program file is gone from where it was started.
    const std::wstring moved = dir_ / L"moved.exe";
    ASSERT_TRUE(MoveFileW(exe_.c_str(), moved.c_str()));
    ASSERT_TRUE(CreateDirectoryW((dir_ / L"其他").c_str(), nullptr));
    ChooseOther(program_.pid(), dir_ / L"其他");
    const std::wstring text = Answer();
    EXPECT_EQ(text.rfind(texts::kListRelaunchFailed, 0), 0u) << text;
    EXPECT_NE(text.find(exe_), std::wstring::npos) << text;
    EXPECT_TRUE(IsWindowVisible(list_));
    DWORD code = 0;
    EXPECT_FALSE(program_.WaitForExit(300, &code)) << "the program ended";
}

// The decrypt window's "更多功能": 解密其他 (the list, and a folder chosen
// there opens in a new instance, this very folder too: the first instance
// lets go of it) and 加密其他 (a folder without a store goes to the encrypt
// window; one with a store is refused).
class DecryptMoreMenuTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HaveDisplay()) GTEST_SKIP() << "window tests need a display: run tools/test-ui";
        ASSERT_FALSE(dir_.path().empty());
        folder_ = dir_ / L"有存储";
        MakeStoreFolder(folder_);
        exe_ = folder_ + L"\\ulxjm.exe";
        ASSERT_TRUE(CopyFileW((OwnFolder() + L"ulxjm.exe").c_str(), exe_.c_str(), FALSE));
        ASSERT_TRUE(program_.Start(exe_, L"", folder_));
        main_ = WaitForMainDialog(program_.pid());
        ASSERT_NE(main_, nullptr);
        ASSERT_TRUE(HasItem(main_, IDC_JIEMI_MODE_BROWSE)) << "not the decrypt window";
    }
    void TearDown() override {
        program_.Kill();
        for (HANDLE h : others_) {
            TerminateProcess(h, 1);
            WaitForSingleObject(h, 5000);
            CloseHandle(h);
        }
    }
    static void MakeStoreFolder(const std::wstring& folder) {
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW((folder + L"\\ulxjm").c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW((folder + L"\\ulxjm\\ffffff").c_str(), nullptr));
    }
    // Picks entry `downs` (1 or 2) of the menu the link opens.
    void ChooseMenuEntry(int downs) {
        PostMessageW(main_, WM_COMMAND, MAKEWPARAM(IDC_JIEMI_MORE, STN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(main_, IDC_JIEMI_MORE)));
        HWND menu = nullptr;
        for (const ULONGLONG end = GetTickCount64() + kWaitMs; GetTickCount64() < end; Sleep(50)) {
            menu = FindWindowW(L"#32768", nullptr);
            if (menu && IsWindowVisible(menu)) break;
            menu = nullptr;
        }
        ASSERT_NE(menu, nullptr) << "no menu";
        Settle(main_);
        Screenshot(L"decrypt-more-menu");
        for (int i = 0; i < downs; ++i) Key(main_, VK_DOWN);
        Key(main_, VK_RETURN);
    }
    void ChooseInBrowser(const std::wstring& folder) {
        HWND browser = WaitForFolderBrowser(program_.pid());
        ASSERT_NE(browser, nullptr) << "no folder browser";
        Settle(browser);
        ASSERT_TRUE(SelectInFolderBrowser(browser, folder)) << testing::PrintToString(folder);
        ClickButton(browser, IDOK);
    }

    TempDir dir_;
    std::wstring folder_, exe_;
    Program program_;
    HWND main_ = nullptr;
    std::vector<HANDLE> others_;
};

TEST_F(DecryptMoreMenuTest, DecryptOtherOnTheSameFolderOpensItInTheNewInstance) {
    ChooseMenuEntry(1);
    HWND list = WaitForWindow(program_.pid(), L"#32770", texts::kListCaption);
    ASSERT_NE(list, nullptr) << "no list dialog";
    ClickButton(list, IDC_LIST_DECRYPT_OTHER);
    ChooseInBrowser(folder_);
    DWORD code = 1234;
    ASSERT_TRUE(program_.WaitForExit(kWaitMs, &code)) << "the first instance did not end";
    EXPECT_EQ(code, 0u);
    DWORD pid = 0;
    HWND other = WaitForOtherInstance(program_.pid(), &pid);
    if (HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid)) others_.push_back(h);
    // A busy folder would have shown its message and ended the new instance.
    HWND busy = WaitForMessageBox(pid, nullptr, 300);
    EXPECT_EQ(busy, nullptr) << plat::ToUtf8(busy ? MessageBoxText(busy) : L"");
    ASSERT_NE(other, nullptr) << "no new instance";
    EXPECT_TRUE(HasItem(other, IDC_JIEMI_MODE_BROWSE)) << "not the decrypt window";
    EXPECT_EQ(ItemText(other, IDC_JIEMI_FOLDER), folder_ + L"\\");
    PostMessageW(other, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitForWindowGone(other));
}

TEST_F(DecryptMoreMenuTest, EncryptOtherTakesAPlainFolderAndRefusesAStore) {
    const std::wstring stored = dir_ / L"另一个存储";
    MakeStoreFolder(stored);
    ChooseMenuEntry(2);
    ChooseInBrowser(stored);
    EXPECT_EQ(AnswerNextBox(program_.pid(), main_), texts::kAlreadyEncrypted);
    EXPECT_TRUE(IsWindowVisible(main_)) << "a refused folder keeps the decrypt window";

    const std::wstring plain = dir_ / L"普通";
    ASSERT_TRUE(CreateDirectoryW(plain.c_str(), nullptr));
    ChooseMenuEntry(2);
    ChooseInBrowser(plain);
    // The same process goes on with the encrypt window on the chosen folder.
    HWND encrypt = nullptr;
    const ULONGLONG end = GetTickCount64() + kWaitMs;
    while (!(encrypt = WaitForMainDialog(program_.pid(), 200)) ||
           !HasItem(encrypt, IDC_JIAMI_CONFIRM)) {
        if (GetTickCount64() >= end) break;
    }
    ASSERT_TRUE(encrypt && HasItem(encrypt, IDC_JIAMI_CONFIRM)) << "no encrypt window";
    EXPECT_EQ(ItemText(encrypt, IDC_JIAMI_TARGET), plain + L"\\");
    EXPECT_FALSE(IsWindow(main_)) << "the decrypt window stayed";
    Settle(encrypt);
    Screenshot(L"decrypt-encrypt-other");
    PostMessageW(encrypt, WM_CLOSE, 0, 0);
    DWORD code = 1234;
    ASSERT_TRUE(program_.WaitForExit(kWaitMs, &code));
}

// dlghost.exe runs the lock with a known password.
class ScreenLockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HaveDisplay()) GTEST_SKIP() << "window tests need a display: run tools/test-ui";
    }
    void TearDown() override { host_.Kill(); }
    HWND Start(const std::wstring& args) {
        const std::wstring exe = OwnFolder() + L"dlghost.exe";
        EXPECT_TRUE(host_.Start(exe, args, dir_.path()));
        HWND lock = WaitForWindow(host_.pid(), L"#32770", texts::kLockCaption);
        EXPECT_NE(lock, nullptr) << "no lock";
        return lock;
    }
    void ExpectUnlocked(HWND lock) {
        EXPECT_TRUE(WaitForWindowGone(lock));
        DWORD code = 1234;
        ASSERT_TRUE(host_.WaitForExit(kWaitMs, &code)) << "still locked";
        EXPECT_EQ(code, 0u);
    }

    TempDir dir_;
    Program host_;
};

TEST_F(ScreenLockTest, OnlyTheExactPasswordUnlocksAndEscapeDoesNothing) {
    HWND lock = Start(L"lock Secret9");
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(GetWindowLongW(lock, GWL_STYLE) & WS_SYSMENU, 0) << "has a close box";
    EXPECT_EQ(ItemText(lock, IDC_LOCK_UNLOCK), texts::kLockUnlock);
    EXPECT_TRUE(ShowsText(lock, texts::kLockDone));
    EXPECT_TRUE(ShowsText(lock, texts::kLockPrompt));
    Settle(lock);
    Screenshot(L"screen-lock");

    const wchar_t* refused[] = {L"wrong", L"secret9", L"SECRET9", L"Secret9 ", L""};
    for (const wchar_t* typed : refused) {
        SetItemText(lock, IDC_LOCK_PASSWORD, typed);
        ClickButton(lock, IDC_LOCK_UNLOCK);
        HWND box = WaitForMessageBox(host_.pid(), lock);
        ASSERT_NE(box, nullptr) << "no message for \""
                                << testing::PrintToString(std::wstring(typed));
        EXPECT_EQ(MessageBoxText(box), texts::kLockWrongPassword);
        AnswerMessageBox(box, IDOK);
        EXPECT_TRUE(WaitForWindowGone(box));
        EXPECT_TRUE(IsWindowVisible(lock));
        EXPECT_EQ(ItemText(lock, IDC_LOCK_PASSWORD), typed) << "the typed text was lost";
    }

    HWND edit = GetDlgItem(lock, IDC_LOCK_PASSWORD);
    Key(edit, VK_ESCAPE);
    Key(lock, VK_ESCAPE);
    Settle(lock, 500);
    EXPECT_TRUE(IsWindowVisible(lock)) << "Escape ended the lock";
    EXPECT_EQ(WaitForMessageBox(host_.pid(), lock, 300), nullptr);

    SetItemText(lock, IDC_LOCK_PASSWORD, L"Secret9");
    Key(edit, VK_RETURN);
    ExpectUnlocked(lock);
}

TEST_F(ScreenLockTest, RunsAgainAndAnEmptyPasswordTakesAnEmptyText) {
    // A store opened without a password leaves an empty one to compare with.
    HWND lock = Start(L"lock \"\" 2");
    ASSERT_NE(lock, nullptr);
    ClickButton(lock, IDC_LOCK_UNLOCK);
    EXPECT_TRUE(WaitForWindowGone(lock));
    HWND again = WaitForWindow(host_.pid(), L"#32770", texts::kLockCaption);
    ASSERT_NE(again, nullptr) << "the second lock did not show";
    // The pointer over the button lights its face up; leaving puts it back.
    RECT r = {};
    GetWindowRect(GetDlgItem(again, IDC_LOCK_UNLOCK), &r);
    const POINT inside = {r.left + 5, r.top + 5};  // face, not border or caption
    auto face = [&] {
        HDC screen = GetDC(nullptr);
        const COLORREF c = GetPixel(screen, inside.x, inside.y);
        ReleaseDC(nullptr, screen);
        return c;
    };
    // Wine notices the pointer leaving on a timer of its own: give it time.
    auto faceBecomes = [&](auto wanted) {
        const ULONGLONG end = GetTickCount64() + 3000;
        COLORREF c = face();
        while (!wanted(c) && GetTickCount64() < end) {
            Sleep(100);
            c = face();
        }
        return c;
    };
    SetCursorPos(r.left - 40, r.bottom + 40);
    Settle(again, 500);
    const COLORREF idle = face();
    SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    const COLORREF hover = faceBecomes([&](COLORREF c) { return c != idle; });
    Screenshot(L"screen-lock-hover");
    EXPECT_NE(hover, idle) << "no hover face";
    SetCursorPos(r.left - 40, r.bottom + 40);
    EXPECT_EQ(faceBecomes([&](COLORREF c) { return c == idle; }), idle) << "the hover face stayed";
    Key(GetDlgItem(again, IDC_LOCK_PASSWORD), VK_RETURN);
    ExpectUnlocked(again);
}

}  // namespace
}  // namespace uitest
