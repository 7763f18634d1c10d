// The browse window driven as a person would: open a store in browse mode,
// open a file in its program and a folder in Explorer, close them and find
// the store as it was; make, rename and delete folders; close the window
// with things still open; the open-only form of the secondary password.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "engine/engine.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "resource.h"
#include "store/layout.h"
#include "ui/browse/logic/browse_logic.h"
#include "ui/browse/logic/browse_texts.h"
#include "ui/decrypt/logic/decrypt_texts.h"
#include "ui/driver.h"

// After <windows.h>, which the driver brings.
#include <commctrl.h>
#include <shlobj.h>

namespace uitest {
namespace {

namespace bt = ui::texts::browse;

constexpr const wchar_t* kPassword = L"开门pw1";
constexpr const wchar_t* kSecond = L"只看pw2";

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

template <class Pred>
bool WaitUntil(Pred pred, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!pred()) {
        if (GetTickCount64() >= end) return false;
        Sleep(100);
    }
    return true;
}

// The list view of another process: its texts and selection, through a
// buffer in that process.
class RemoteList {
  public:
    explicit RemoteList(HWND list) : list_(list) {
        DWORD pid = 0;
        GetWindowThreadProcessId(list, &pid);
        process_ =
            OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
        if (process_)
            mem_ = static_cast<char*>(
                VirtualAllocEx(process_, nullptr, kSize, MEM_COMMIT, PAGE_READWRITE));
    }
    ~RemoteList() {
        if (mem_) VirtualFreeEx(process_, mem_, 0, MEM_RELEASE);
        if (process_) CloseHandle(process_);
    }
    RemoteList(const RemoteList&) = delete;
    RemoteList& operator=(const RemoteList&) = delete;

    int Count() const { return int(SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0)); }
    std::wstring Text(int row, int column) const {
        LVITEMW it = {};
        it.iSubItem = column;
        it.pszText = reinterpret_cast<wchar_t*>(mem_ + 256);
        it.cchTextMax = 1000;
        WriteProcessMemory(process_, mem_, &it, sizeof it, nullptr);
        SendMessageW(list_, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(mem_));
        wchar_t buf[1000] = {};
        ReadProcessMemory(process_, mem_ + 256, buf, sizeof buf - sizeof(wchar_t), nullptr);
        return buf;
    }
    int Find(const std::wstring& name) const {
        for (int i = 0; i < Count(); ++i)
            if (Text(i, 0) == name) return i;
        return -1;
    }
    // The row of `name` alone selected; false when it is not listed.
    bool Select(const std::wstring& name) const {
        const int row = Find(name);
        SetState(-1, 0);
        if (row < 0) return false;
        SetState(row, LVIS_SELECTED | LVIS_FOCUSED);
        return true;
    }

  private:
    void SetState(int row, UINT state) const {
        LVITEMW it = {};
        it.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        it.state = state;
        WriteProcessMemory(process_, mem_, &it, sizeof it, nullptr);
        SendMessageW(list_, LVM_SETITEMSTATE, WPARAM(row), reinterpret_cast<LPARAM>(mem_));
    }
    static constexpr SIZE_T kSize = 8192;
    HWND list_;
    HANDLE process_ = nullptr;
    char* mem_ = nullptr;
};

// A text placed in another process, for messages that take a pointer.
class RemoteText {
  public:
    RemoteText(HWND window, const std::wstring& text) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, pid);
        const SIZE_T size = (text.size() + 1) * sizeof(wchar_t);
        if (process_) mem_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
        if (mem_) WriteProcessMemory(process_, mem_, text.c_str(), size, nullptr);
    }
    ~RemoteText() {
        if (mem_) VirtualFreeEx(process_, mem_, 0, MEM_RELEASE);
        if (process_) CloseHandle(process_);
    }
    RemoteText(const RemoteText&) = delete;
    RemoteText& operator=(const RemoteText&) = delete;
    LPARAM get() const { return reinterpret_cast<LPARAM>(mem_); }

  private:
    HANDLE process_ = nullptr;
    void* mem_ = nullptr;
};

class QuietUi : public engine::PassUi {
  public:
    void ShowMessage(const std::wstring& text, engine::MessageIcon) override {
        ADD_FAILURE() << plat::ToUtf8(text);
    }
};

// A visible top-level window of `pid` with this class and title prefix.
HWND FindOf(DWORD pid, const wchar_t* cls, const std::wstring& title = L"") {
    struct Args {
        DWORD pid;
        const wchar_t* cls;
        const std::wstring* title;
        HWND found;
    } a{pid, cls, &title, nullptr};
    EnumWindows(
        [](HWND h, LPARAM lp) -> BOOL {
            auto* a = reinterpret_cast<Args*>(lp);
            DWORD owner = 0;
            GetWindowThreadProcessId(h, &owner);
            wchar_t cls[64] = {};
            GetClassNameW(h, cls, 64);
            if ((a->pid == 0 || owner == a->pid) && IsWindowVisible(h) &&
                std::wstring(cls) == a->cls && WindowText(h).rfind(*a->title, 0) == 0) {
                a->found = h;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&a));
    return a.found;
}

class BrowseWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HaveDisplay()) GTEST_SKIP() << "window tests need a display: run tools/test-ui";
        ASSERT_FALSE(dir_.path().empty());
        RegDeleteTreeW(HKEY_CURRENT_USER, kProfileKey);
        const DWORD zero = 0;
        RegSetKeyValueW(HKEY_CURRENT_USER, kProfileKey, L"u2088", REG_DWORD, &zero, sizeof zero);
        // Text files open in notepad, and nothing asks when they do not.
        const wchar_t* txt = L"txtfile";
        const wchar_t* cmd = L"notepad \"%1\"";
        RegSetKeyValueW(HKEY_CLASSES_ROOT, L".txt", nullptr, REG_SZ, txt,
                        DWORD((wcslen(txt) + 1) * 2));
        RegSetKeyValueW(HKEY_CLASSES_ROOT, L"txtfile\\shell\\open\\command", nullptr, REG_SZ, cmd,
                        DWORD((wcslen(cmd) + 1) * 2));
        folder_ = dir_ / L"保护";
        originals_ = {
            {L"a.txt", "hello from the store\r\n"},
            {L"相册\\2024\\海边.jpg", std::string(5000, 's')},
            {L"相册\\说明.txt", "album"},
            {L"文档\\计划\\第一季度\\目标.doc", std::string(1500, 'd')},
        };
        WriteOriginals();
    }
    void TearDown() override {
        program_.Kill();
        for (HWND w; (w = FindOf(0, L"Notepad")) != nullptr;) {
            PostMessageW(w, WM_CLOSE, 0, 0);
            WaitForWindowGone(w, 3000);
        }
        if (HWND e = FindWindowW(L"ExplorerWClass", nullptr)) PostMessageW(e, WM_CLOSE, 0, 0);
    }

    void WriteOriginals() {
        RemoveTree(folder_);
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
        for (const auto& [rel, bytes] : originals_) {
            for (size_t p = rel.find(L'\\'); p != std::wstring::npos; p = rel.find(L'\\', p + 1))
                CreateDirectoryW((folder_ + L"\\" + rel.substr(0, p)).c_str(), nullptr);
            ASSERT_TRUE(WriteBytes(folder_ + L"\\" + rel, bytes));
        }
    }
    void MakeStore(int strength) {
        QuietUi ui;
        ASSERT_TRUE(engine::EncryptFolder(folder_, kPassword, L"", strength, ui).ok());
        strength_ = strength;
    }
    std::wstring Data() const { return store::DataDir(folder_); }
    std::wstring Working(const std::wstring& rel) const {
        return Data() + L"\\working\\NotDelete\\" + rel;
    }
    // Where a file of the top level is kept in the store.
    std::wstring Stored(const std::wstring& rel) const {
        return Data() + L"\\" + rel + (strength_ ? L".zpwenc0" : L"");
    }

    // Starts the program and opens the browse window with `password`.
    HWND OpenBrowse(const wchar_t* password = kPassword) {
        const std::wstring exe = folder_ + L"\\ulxjm.exe";
        EXPECT_TRUE(CopyFileW((OwnFolder() + L"ulxjm.exe").c_str(), exe.c_str(), FALSE));
        EXPECT_TRUE(program_.Start(exe, L"", folder_));
        HWND dlg = WaitForMainDialog(program_.pid());
        EXPECT_TRUE(dlg) << "no decrypt window";
        if (!dlg) return nullptr;
        ClickButton(dlg, IDC_JIEMI_MODE_BROWSE);
        Settle(dlg);
        SetItemText(dlg, IDC_JIEMI_PASSWORD, password);
        ClickButton(dlg, IDC_JIEMI_START);
        HWND browse = WaitForWindow(program_.pid(), L"#32770", bt::kTitle);
        EXPECT_TRUE(browse) << "no browse window";
        if (browse) Settle(browse, 500);
        return browse;
    }
    // The progress window of a pass: waits for its end and closes it.
    void CloseProgress(HWND browse) {
        HWND p = nullptr;
        ASSERT_TRUE(WaitUntil(
            [&] {
                p = FindOf(program_.pid(), L"#32770");
                return p && p != browse && GetDlgItem(p, IDC_ZQ_CLOSE) &&
                       IsWindowEnabled(GetDlgItem(p, IDC_ZQ_CLOSE));
            },
            60000))
            << "no finished progress window";
        ClickButton(p, IDC_ZQ_CLOSE);
        ASSERT_TRUE(WaitForWindowGone(p));
        Settle(browse);
    }
    // A dialog of the program other than `browse` holding control `id`.
    HWND OtherDialog(HWND browse, int id) {
        HWND d = nullptr;
        WaitUntil(
            [&] {
                d = FindOf(program_.pid(), L"#32770");
                return d && d != browse && GetDlgItem(d, id);
            },
            20000);
        return d && d != browse && GetDlgItem(d, id) ? d : nullptr;
    }
    HWND Notepad() {
        HWND n = nullptr;
        WaitUntil([&] { return (n = FindOf(0, L"Notepad")) != nullptr; }, 20000);
        return n;
    }
    std::wstring Answer(HWND except, int button) {
        return AnswerNextBox(program_.pid(), except, button);
    }
    void ExpectEnds(DWORD want = 0) {
        DWORD code = 1234;
        ASSERT_TRUE(program_.WaitForExit(60000, &code)) << "the program did not end";
        EXPECT_EQ(code, want) << "exit code";
    }
    // Nothing left in the working area, and the store decrypts to the originals.
    void ExpectStoreAsBefore() {
        EXPECT_FALSE(Exists(Data() + L"\\working")) << "the working area stays";
        QuietUi ui;
        ASSERT_TRUE(engine::DecryptFolder(folder_, kPassword, ui).ok());
        Files back = ReadTree(folder_);
        back.erase(L"ulxjm.exe");
        back.erase(L"desktop.ini");
        EXPECT_EQ(originals_, back);
    }
    // Opens `name` of the list shown with the 打开 button; its copy appears.
    void OpenFile(HWND browse, const std::wstring& name) {
        RemoteList list(GetDlgItem(browse, IDC_BROWS_LIST));
        ASSERT_TRUE(list.Select(name)) << plat::ToUtf8(name) << " is not listed";
        ClickButton(browse, IDC_BROWS_OPEN);
        CloseProgress(browse);
    }

    TempDir dir_;
    std::wstring folder_;
    Files originals_;
    Program program_;
    int strength_ = 0;
};

// The heart of the window: a file opened from the store is decrypted into the
// working area, its program edits nothing, and when the program ends the file
// goes back encrypted; a folder goes back when its Explorer window closes.
TEST_F(BrowseWindowTest, OpenedFileAndFolderGoBackWhenTheirWindowsClose) {
    for (int strength : {0, 2}) {
        SCOPED_TRACE(strength == 0 ? "normal store" : "highest store");
        if (strength == 2) WriteOriginals();
        MakeStore(strength);
        const Files storeBefore = ReadTree(Data());
        HWND browse = OpenBrowse();
        ASSERT_TRUE(browse);
        EXPECT_TRUE(IsZoomed(browse)) << "the window opens maximised";
        RemoteList list(GetDlgItem(browse, IDC_BROWS_LIST));
        const int row = list.Find(L"a.txt");
        ASSERT_GE(row, 0);
        EXPECT_EQ(strength ? bt::kFlagEncrypted : L"", list.Text(row, 4));
        EXPECT_EQ(L"", list.Text(row, 5));
        EXPECT_EQ(L"文档", list.Text(0, 0)) << "folders first, by name";
        if (strength == 2) Screenshot(L"browse-window-maximised");

        OpenFile(browse, L"a.txt");
        HWND notepad = Notepad();
        ASSERT_TRUE(notepad) << "notepad did not start";
        EXPECT_EQ(originals_[L"a.txt"], FileBytes(Working(L"a.txt")));
        EXPECT_FALSE(Exists(Stored(L"a.txt"))) << "the opened file left the store";
        const int open = list.Find(L"a.txt");
        ASSERT_GE(open, 0);
        EXPECT_EQ(bt::kStateDecrypted, list.Text(open, 5));

        // Another program still holds the copy when notepad ends: it stays
        // out, and goes back on a later tick once let go.
        HANDLE held = CreateFileW(Working(L"a.txt").c_str(), GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        PostMessageW(notepad, WM_CLOSE, 0, 0);
        ASSERT_TRUE(WaitForWindowGone(notepad));
        Sleep(5000);
        EXPECT_TRUE(Exists(Working(L"a.txt"))) << "a held copy was taken away";
        EXPECT_FALSE(Exists(Stored(L"a.txt")));
        CloseHandle(held);
        CloseProgress(browse);
        EXPECT_TRUE(WaitUntil([&] { return Exists(Stored(L"a.txt")); }, 10000));
        EXPECT_FALSE(Exists(Working(L"a.txt")));
        EXPECT_EQ(L"", list.Text(list.Find(L"a.txt"), 5));

        // A folder opens in Explorer and comes back once its window closes.
        ASSERT_TRUE(list.Select(L"相册"));
        PostMessageW(browse, WM_COMMAND, ID_BROWSE_OPEN, 0);
        CloseProgress(browse);
        HWND explorer = nullptr;
        ASSERT_TRUE(WaitUntil(
            [&] { return (explorer = FindOf(0, L"ExplorerWClass", L"相册")) != nullptr; }, 30000))
            << "no explorer window on the folder";
        EXPECT_EQ(originals_[L"相册\\2024\\海边.jpg"], FileBytes(Working(L"相册\\2024\\海边.jpg")));
        // One tick finds the window; then it is closed.
        Sleep(3500);
        PostMessageW(explorer, WM_CLOSE, 0, 0);
        ASSERT_TRUE(WaitForWindowGone(explorer));
        CloseProgress(browse);
        EXPECT_FALSE(Exists(Working(L"相册")));

        PostMessageW(browse, WM_CLOSE, 0, 0);  // nothing open: no question
        ExpectEnds();
        EXPECT_EQ(storeBefore.size(), ReadTree(Data()).size());
        ExpectStoreAsBefore();
    }
}

// Into nested folders through the list; there a new folder, rename in
// place, delete after its question.
TEST_F(BrowseWindowTest, NestedFolderNewRenameAndDelete) {
    MakeStore(2);
    HWND browse = OpenBrowse();
    ASSERT_TRUE(browse);
    RemoteList list(GetDlgItem(browse, IDC_BROWS_LIST));
    for (const wchar_t* name : {L"文档", L"计划"}) {
        ASSERT_TRUE(list.Select(name));
        ClickButton(browse, IDC_BROWS_OPEN);  // a folder is entered, not opened
        ASSERT_TRUE(WaitUntil([&] { return list.Find(name) < 0; }, 5000)) << "not entered";
    }
    EXPECT_EQ(folder_ + L"\\文档\\计划\\", ItemText(browse, IDC_BROWS_PATH));
    EXPECT_EQ(1, list.Count());
    EXPECT_EQ(L"第一季度", list.Text(0, 0));
    Screenshot(L"browse-nested-folders");
    const std::wstring here = Data() + L"\\文档\\计划\\";

    ClickButton(browse, IDC_BROWS_NEW);
    ASSERT_TRUE(WaitUntil([&] { return list.Find(bt::kNewFolderName) >= 0; }, 5000));
    EXPECT_TRUE(Exists(here + bt::kNewFolderName));

    auto rename = [&](const std::wstring& from, const std::wstring& to) {
        ASSERT_TRUE(list.Select(from));
        ClickButton(browse, IDC_BROWS_RENAME);
        HWND edit = nullptr;
        ASSERT_TRUE(WaitUntil(
            [&] {
                edit = reinterpret_cast<HWND>(
                    SendMessageW(GetDlgItem(browse, IDC_BROWS_LIST), LVM_GETEDITCONTROL, 0, 0));
                return edit != nullptr;
            },
            5000));
        SetWindowTextW(edit, to.c_str());
        PostMessageW(edit, WM_KEYDOWN, VK_RETURN, 1);
    };
    rename(bt::kNewFolderName, L"旅行");
    ASSERT_TRUE(WaitUntil([&] { return Exists(here + L"旅行"); }, 5000));
    EXPECT_FALSE(Exists(here + bt::kNewFolderName));
    ASSERT_TRUE(WaitUntil([&] { return list.Find(L"旅行") >= 0; }, 5000));
    // A name the file system cannot hold is refused with its message.
    rename(L"第一季度", L"a<b");
    EXPECT_EQ(bt::kBadName, Answer(browse, IDOK));
    EXPECT_TRUE(Exists(here + L"第一季度"));

    ASSERT_TRUE(list.Select(L"旅行"));
    ClickButton(browse, IDC_BROWS_DELETE);
    HWND box = WaitForMessageBox(program_.pid(), browse);
    ASSERT_TRUE(box);
    EXPECT_NE(std::wstring::npos, MessageBoxText(box).find(L"1、旅行"));
    Screenshot(L"browse-delete-question");
    AnswerMessageBox(box, IDNO);
    ASSERT_TRUE(WaitForWindowGone(box));
    EXPECT_TRUE(Exists(here + L"旅行"));
    ClickButton(browse, IDC_BROWS_DELETE);
    Answer(browse, IDYES);
    EXPECT_TRUE(WaitUntil([&] { return !Exists(here + L"旅行"); }, 5000));
    EXPECT_LT(list.Find(L"旅行"), 0);

    // The context menu on a row.
    ASSERT_TRUE(list.Select(L"第一季度"));
    RECT r = {};
    GetWindowRect(GetDlgItem(browse, IDC_BROWS_LIST), &r);
    SetForegroundWindow(browse);
    SetCursorPos(r.left + 60, r.top + 28);  // on the first row
    INPUT in[2] = {};
    in[0].type = in[1].type = INPUT_MOUSE;
    in[0].mi.dwFlags = MOUSEEVENTF_RIGHTDOWN;
    in[1].mi.dwFlags = MOUSEEVENTF_RIGHTUP;
    SendInput(2, in, sizeof(INPUT));
    HWND menu = nullptr;
    EXPECT_TRUE(WaitUntil([&] { return (menu = FindOf(0, L"#32768")) != nullptr; }, 5000));
    Settle(browse, 500);
    Screenshot(L"browse-context-menu");
    if (menu) {
        INPUT esc[2] = {};
        esc[0].type = esc[1].type = INPUT_KEYBOARD;
        esc[0].ki.wVk = esc[1].ki.wVk = VK_ESCAPE;
        esc[1].ki.dwFlags = KEYEVENTF_KEYUP;
        SendInput(2, esc, sizeof(INPUT));
        WaitForWindowGone(menu, 3000);
    }
    PostMessageW(browse, WM_CLOSE, 0, 0);
    ExpectEnds();
    ExpectStoreAsBefore();
}

// Closing with a file open asks Yes/No/Cancel: Cancel stays; No leaves the
// program and its copy, which the next start puts back and encrypts once the
// password is given; Yes ends the program and takes the copy back.
TEST_F(BrowseWindowTest, CloseWithAnOpenFile) {
    MakeStore(2);
    for (int answer : {IDNO, IDYES}) {
        SCOPED_TRACE(answer == IDYES ? "yes" : "no");
        HWND browse = OpenBrowse();
        ASSERT_TRUE(browse);
        OpenFile(browse, L"a.txt");
        HWND notepad = Notepad();
        ASSERT_TRUE(notepad);

        PostMessageW(browse, WM_CLOSE, 0, 0);
        if (answer == IDNO) {
            EXPECT_EQ(bt::kCloseQuestion, Answer(browse, IDCANCEL));
            Settle(browse);
            EXPECT_TRUE(IsWindowVisible(browse)) << "Cancel keeps the window";
            PostMessageW(browse, WM_CLOSE, 0, 0);
        }
        EXPECT_EQ(bt::kCloseQuestion, Answer(browse, answer));
        if (answer == IDYES) {
            CloseProgress(browse);
            ExpectEnds(0);
            EXPECT_FALSE(IsWindow(notepad)) << "Yes ends the program";
            EXPECT_TRUE(Exists(Stored(L"a.txt")));
            EXPECT_FALSE(Exists(Working(L"a.txt")));
            EXPECT_EQ(L"", ProfileString(L"MapDriver"));
            continue;
        }
        // No: the window names what stays plain, the program ends with 1 and
        // the drive stays, so the program still saves where it opened from.
        const std::wstring letter = ProfileString(L"MapDriver").substr(0, 2);
        HWND told = WaitForMessageBox(program_.pid(), browse);
        ASSERT_TRUE(told) << "not told what stays plain";
        EXPECT_NE(std::wstring::npos, MessageBoxText(told).find(L"a.txt"))
            << plat::ToUtf8(MessageBoxText(told));
        Screenshot(L"browse-close-no-left-open");
        AnswerMessageBox(told, IDOK);
        ExpectEnds(1);
        EXPECT_TRUE(IsWindow(notepad)) << "No leaves the program running";
        EXPECT_TRUE(Exists(Working(L"a.txt"))) << "No leaves its copy";
        EXPECT_FALSE(Exists(Stored(L"a.txt")));
        ASSERT_EQ(2u, letter.size());
        EXPECT_EQ(letter, ProfileString(L"MapDriver").substr(0, 2));
        const std::wstring throughDrive = letter + L"\\NotDelete\\a.txt";
        EXPECT_TRUE(Exists(throughDrive)) << "the drive went while notepad holds a.txt";
        PostMessageW(notepad, WM_CLOSE, 0, 0);
        WaitForWindowGone(notepad);

        // The next start puts the copy back and says it waits for the password.
        const std::wstring exe = folder_ + L"\\ulxjm.exe";
        ASSERT_TRUE(program_.Start(exe, L"", folder_));
        HWND dlg = WaitForMainDialog(program_.pid());
        ASSERT_TRUE(dlg);
        EXPECT_EQ(ui::texts::kPlainLeftovers, Answer(dlg, IDOK));
        EXPECT_FALSE(Exists(Working(L"a.txt")));
        // The drive the last run left goes at this start.
        EXPECT_EQ(0u, GetLogicalDrives() & (1u << (letter[0] - L'A'))) << plat::ToUtf8(letter);
        EXPECT_EQ(L"", ProfileString(L"MapDriver"));
        ClickButton(dlg, IDC_JIEMI_MODE_BROWSE);
        Settle(dlg);
        SetItemText(dlg, IDC_JIEMI_PASSWORD, kPassword);
        ClickButton(dlg, IDC_JIEMI_START);
        browse = WaitForWindow(program_.pid(), L"#32770", bt::kTitle, 60000);
        ASSERT_TRUE(browse) << "no browse window after encrypting again";
        EXPECT_TRUE(Exists(Stored(L"a.txt"))) << "encrypted again before anything else";
        PostMessageW(browse, WM_CLOSE, 0, 0);
        ExpectEnds();
    }
    ExpectStoreAsBefore();
}

// A file no program is associated with asks before anything else happens:
// No takes the copy back at once; Yes lets the user choose a program, which
// the window then watches like any other.
TEST_F(BrowseWindowTest, FileWithNoProgramOffersToChooseOne) {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L".ulxnone");
    const std::wstring name = L"数据.ulxnone";
    originals_[name] = "no program knows this\r\n";
    WriteOriginals();
    MakeStore(2);
    HWND browse = OpenBrowse();
    ASSERT_TRUE(browse);
    RemoteList list(GetDlgItem(browse, IDC_BROWS_LIST));
    for (int answer : {IDNO, IDYES}) {
        SCOPED_TRACE(answer == IDYES ? "yes" : "no");
        OpenFile(browse, name);
        HWND box = WaitForMessageBox(program_.pid(), browse);
        ASSERT_TRUE(box) << "no question: the copy would go back unseen";
        EXPECT_EQ(ui::browse::NoProgramText(name), MessageBoxText(box));
        if (answer == IDNO) {
            Screenshot(L"browse-no-program-question");
            AnswerMessageBox(box, IDNO);
            CloseProgress(browse);
            EXPECT_TRUE(WaitUntil([&] { return Exists(Stored(name)); }, 10000));
            EXPECT_FALSE(Exists(Working(name)));
            continue;
        }
        AnswerMessageBox(box, IDYES);
        constexpr int kFileNameBox = 0x47c;
        HWND chooser = OtherDialog(browse, kFileNameBox);
        ASSERT_TRUE(chooser) << "no program chooser";
        EXPECT_EQ(bt::kChooseProgram, WindowText(chooser));
        Settle(chooser);
        Screenshot(L"browse-choose-program");
        wchar_t windows[MAX_PATH] = {};
        GetWindowsDirectoryW(windows, MAX_PATH);
        SetDlgItemTextW(chooser, kFileNameBox, (std::wstring(windows) + L"\\notepad.exe").c_str());
        ClickButton(chooser, IDOK);
        HWND notepad = Notepad();
        ASSERT_TRUE(notepad) << "the chosen program did not start";
        EXPECT_TRUE(WaitUntil([&] { return WindowText(notepad).find(L"数据") != std::wstring::npos; },
                              10000))
            << plat::ToUtf8(WindowText(notepad));
        EXPECT_EQ(originals_[name], FileBytes(Working(name)));
        EXPECT_EQ(bt::kStateDecrypted, list.Text(list.Find(name), 5));
        PostMessageW(notepad, WM_CLOSE, 0, 0);
        ASSERT_TRUE(WaitForWindowGone(notepad));
        CloseProgress(browse);
        EXPECT_TRUE(WaitUntil([&] { return Exists(Stored(name)); }, 10000));
        EXPECT_FALSE(Exists(Working(name)));
    }
    PostMessageW(browse, WM_CLOSE, 0, 0);
    ExpectEnds();
    ExpectStoreAsBefore();
}

// Left without input, the window locks itself; the folder's password
// unlocks it. The test shortens the 188 s wait through the environment.
TEST_F(BrowseWindowTest, IdleLockUnlocksWithTheFolderPassword) {
    MakeStore(0);
    SetEnvironmentVariableW(L"ULXJM_TEST_IDLE_LOCK_S", L"3");
    HWND browse = OpenBrowse();
    SetEnvironmentVariableW(L"ULXJM_TEST_IDLE_LOCK_S", nullptr);
    ASSERT_TRUE(browse);
    HWND lock = OtherDialog(browse, IDC_LOCK_PASSWORD);
    ASSERT_TRUE(lock) << "the window did not lock itself";
    EXPECT_EQ(ui::texts::kLockCaption, WindowText(lock));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(browse, IDC_BROWS_LIST)));
    for (const wchar_t* typed : {L"", L"开门PW1", L"wrong"}) {
        SetItemText(lock, IDC_LOCK_PASSWORD, typed);
        ClickButton(lock, IDC_LOCK_UNLOCK);
        EXPECT_EQ(ui::texts::kLockWrongPassword, Answer(lock, IDOK));
    }
    SetItemText(lock, IDC_LOCK_PASSWORD, kPassword);
    ClickButton(lock, IDC_LOCK_UNLOCK);
    ASSERT_TRUE(WaitForWindowGone(lock));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(browse, IDC_BROWS_LIST)));
    PostMessageW(browse, WM_CLOSE, 0, 0);
    ExpectEnds();
}

// Move-in encrypts an outside file into the folder shown and removes it
// where it was; copy-to decrypts a copy into a chosen folder and leaves the
// store as it was.
TEST_F(BrowseWindowTest, MoveInAndCopyOut) {
    MakeStore(2);
    const std::wstring outside = dir_ / L"外面.txt";
    ASSERT_TRUE(WriteBytes(outside, "brought in"));
    const std::wstring dest = dir_ / L"取出";
    ASSERT_TRUE(CreateDirectoryW(dest.c_str(), nullptr));
    HWND browse = OpenBrowse();
    ASSERT_TRUE(browse);
    RemoteList list(GetDlgItem(browse, IDC_BROWS_LIST));

    ClickButton(browse, IDC_BROWS_MOVEIN);
    constexpr int kFileNameBox = 0x47c;  // the open dialog's file name
    HWND chooser = OtherDialog(browse, kFileNameBox);
    ASSERT_TRUE(chooser) << "no file chooser";
    SetDlgItemTextW(chooser, kFileNameBox, outside.c_str());
    ClickButton(chooser, IDOK);
    CloseProgress(browse);
    EXPECT_FALSE(Exists(outside)) << "moved, not copied";
    const std::wstring stored = Data() + L"\\外面.txt.zpwenc0";
    ASSERT_TRUE(Exists(stored));
    EXPECT_NE("brought in", FileBytes(stored)) << "stored plain";
    EXPECT_GE(list.Find(L"外面.txt"), 0);
    originals_[L"外面.txt"] = "brought in";

    ASSERT_TRUE(list.Select(L"外面.txt"));
    ClickButton(browse, IDC_BROWS_COPYTO);
    HWND folders = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] {
            folders = FindOf(program_.pid(), L"#32770");
            return folders && folders != browse && !GetDlgItem(folders, 0xFFFF);
        },
        20000))
        << "no folder chooser";
    {
        RemoteText path(folders, dest);
        SendMessageW(folders, BFFM_SETSELECTIONW, TRUE, path.get());
        Settle(folders);
        ClickButton(folders, IDOK);
        ASSERT_TRUE(WaitForWindowGone(folders));
    }
    CloseProgress(browse);
    EXPECT_EQ("brought in", FileBytes(dest + L"\\外面.txt"));
    EXPECT_TRUE(Exists(stored)) << "a copy leaves the store alone";

    PostMessageW(browse, WM_CLOSE, 0, 0);
    ExpectEnds();
    ExpectStoreAsBefore();
}

// The secondary password opens the window for opening only.
TEST_F(BrowseWindowTest, SecondaryPasswordOpensForOpeningOnly) {
    MakeStore(0);
    ASSERT_TRUE(store::WriteSecondPassword(folder_, kSecond));
    HWND browse = OpenBrowse(kSecond);
    ASSERT_TRUE(browse);
    for (int id : {IDC_BROWS_COPYTO, IDC_BROWS_MOVETO, IDC_BROWS_MOVEIN, IDC_BROWS_NEW,
                   IDC_BROWS_RENAME, IDC_BROWS_DELETE})
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(browse, id))) << id;
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(browse, IDC_BROWS_OPEN)));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(browse, IDC_BROWS_LOCK)));
    // Commands that change the store do nothing, whatever sends them.
    PostMessageW(browse, WM_COMMAND, ID_BROWSE_NEW_FOLDER, 0);
    Settle(browse);
    EXPECT_FALSE(Exists(Data() + L"\\" + bt::kNewFolderName));
    Screenshot(L"browse-open-only");
    // Neither Esc nor Enter ends the window.
    for (WPARAM key : {VK_ESCAPE, VK_RETURN}) {
        PostMessageW(GetDlgItem(browse, IDC_BROWS_LIST), WM_KEYDOWN, key, 1);
        PostMessageW(GetDlgItem(browse, IDC_BROWS_LIST), WM_KEYUP, key, 1);
    }
    Settle(browse, 500);
    EXPECT_TRUE(IsWindowVisible(browse));
    // The lock stays until the password that opened the window is typed.
    ClickButton(browse, IDC_BROWS_LOCK);
    HWND lock = OtherDialog(browse, IDC_LOCK_PASSWORD);
    ASSERT_TRUE(lock) << "no lock";
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(browse, IDC_BROWS_LIST)));
    Screenshot(L"browse-lock");
    for (const wchar_t* typed : {L"", kPassword}) {
        SetItemText(lock, IDC_LOCK_PASSWORD, typed);
        ClickButton(lock, IDC_LOCK_UNLOCK);
        EXPECT_EQ(ui::texts::kLockWrongPassword, Answer(lock, IDOK));
    }
    SetItemText(lock, IDC_LOCK_PASSWORD, kSecond);
    ClickButton(lock, IDC_LOCK_UNLOCK);
    ASSERT_TRUE(WaitForWindowGone(lock));
    Settle(browse);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(browse, IDC_BROWS_LIST)));
    OpenFile(browse, L"a.txt");
    HWND notepad = Notepad();
    ASSERT_TRUE(notepad);
    PostMessageW(notepad, WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitForWindowGone(notepad));
    CloseProgress(browse);
    PostMessageW(browse, WM_CLOSE, 0, 0);
    ExpectEnds();
    ExpectStoreAsBefore();
}

}  // namespace
}  // namespace uitest
