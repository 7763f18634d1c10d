// The decrypt side driven as a person would: type the password, choose how
// to open the folder, press 解密; use the drive Explorer shows, close it;
// then look at what is on disk.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "app/globals.h"
#include "crypto/content_cipher.h"
#include "engine/engine.h"
#include "engine/pass_journal.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "resource.h"
#include "store/layout.h"
#include "ui/decrypt/logic/decrypt_texts.h"
#include "ui/driver.h"

namespace uitest {
namespace {

namespace texts = ui::texts;

constexpr const wchar_t* kPassword = L"开门pw1";
constexpr UINT kTrayMessage = WM_USER + 1;

void SetProfile(const wchar_t* name, const wchar_t* value) {
    RegSetKeyValueW(HKEY_CURRENT_USER, kProfileKey, name, REG_SZ, value,
                    DWORD((wcslen(value) + 1) * sizeof(wchar_t)));
}

// Any top-level window of `pid` titled `title` (or, with `prefix`, whose
// title starts so), shown or not.
HWND FindOwnWindow(DWORD pid, const std::wstring& title, DWORD timeoutMs = kWaitMs,
                   bool prefix = false) {
    struct Args {
        DWORD pid;
        const std::wstring* title;
        bool prefix;
        HWND found;
    } args{pid, &title, prefix, nullptr};
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        EnumWindows(
            [](HWND h, LPARAM lp) -> BOOL {
                auto* a = reinterpret_cast<Args*>(lp);
                DWORD owner = 0;
                GetWindowThreadProcessId(h, &owner);
                const std::wstring text = WindowText(h);
                if (owner == a->pid &&
                    (a->prefix ? text.rfind(*a->title, 0) == 0 : text == *a->title)) {
                    a->found = h;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&args));
        if (args.found || GetTickCount64() >= end) return args.found;
        Sleep(50);
    }
}

// A visible dialog of `pid` that is neither `except` nor a message box.
HWND WaitForOtherDialog(DWORD pid, HWND except, DWORD timeoutMs = kWaitMs) {
    struct Args {
        DWORD pid;
        HWND except, found;
    } args{pid, except, nullptr};
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        EnumWindows(
            [](HWND h, LPARAM lp) -> BOOL {
                auto* a = reinterpret_cast<Args*>(lp);
                DWORD owner = 0;
                GetWindowThreadProcessId(h, &owner);
                wchar_t cls[32] = {};
                GetClassNameW(h, cls, 32);
                if (owner == a->pid && h != a->except && IsWindowVisible(h) &&
                    std::wstring(cls) == L"#32770" && !GetDlgItem(h, 0xFFFF)) {
                    a->found = h;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&args));
        if (args.found || GetTickCount64() >= end) return args.found;
        Sleep(50);
    }
}

// Wine's explorer window on a drive root (Windows: CabinetWClass).
HWND WaitForExplorer(DWORD timeoutMs = 60000) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        for (const wchar_t* cls : {L"ExplorerWClass", L"CabinetWClass"}) {
            HWND h = FindWindowW(cls, nullptr);
            if (h && IsWindowVisible(h)) return h;
        }
        if (GetTickCount64() >= end) return nullptr;
        Sleep(100);
    }
}

wchar_t NewDrive(DWORD before) {
    const DWORD now = GetLogicalDrives();
    for (int i = 25; i >= 0; --i)
        if ((now & (1u << i)) && !(before & (1u << i))) return wchar_t(L'A' + i);
    return 0;
}

bool DriveDefined(wchar_t letter) {
    return letter && (GetLogicalDrives() & (1u << (letter - L'A')));
}

bool WaitDriveGone(wchar_t letter, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (DriveDefined(letter)) {
        if (GetTickCount64() >= end) return false;
        Sleep(50);
    }
    return true;
}

void CtrlRight(HWND dlg) {
    INPUT in[4] = {};
    const WORD keys[4] = {VK_CONTROL, VK_RIGHT, VK_RIGHT, VK_CONTROL};
    for (int i = 0; i < 4; ++i) {
        in[i].type = INPUT_KEYBOARD;
        in[i].ki.wVk = keys[i];
        in[i].ki.dwFlags = (i >= 2) ? KEYEVENTF_KEYUP : 0;
    }
    SendInput(4, in, sizeof(INPUT));
    Settle(dlg);
}

bool Checked(HWND dlg, int id) {
    return SendMessageW(GetDlgItem(dlg, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

class QuietUi : public engine::PassUi {
  public:
    void ShowMessage(const std::wstring& text, engine::MessageIcon) override {
        ADD_FAILURE() << plat::ToUtf8(text);
    }
};

class DecryptWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HaveDisplay()) GTEST_SKIP() << "window tests need a display: run tools/test-ui";
        ASSERT_FALSE(dir_.path().empty());
        // A known profile: not the first run, nothing remembered.
        RegDeleteTreeW(HKEY_CURRENT_USER, kProfileKey);
        RegSetKeyValueW(HKEY_CURRENT_USER, kProfileKey, L"u2088", REG_DWORD, &kZero, sizeof kZero);
        folder_ = dir_ / L"保护";
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
        originals_ = {
            {L"a.txt", "hello"},
            {L"子目录\\b.bin", std::string(3000, 'b')},
            {L"照片.jpg", Varied(70000)},
        };
        ASSERT_TRUE(CreateDirectoryW((folder_ + L"\\子目录").c_str(), nullptr));
        for (const auto& [rel, bytes] : originals_)
            ASSERT_TRUE(WriteBytes(folder_ + L"\\" + rel, bytes));
    }
    void TearDown() override {
        program_.Kill();
        if (HWND e = FindWindowW(L"ExplorerWClass", nullptr)) PostMessageW(e, WM_CLOSE, 0, 0);
    }

    static std::string Varied(size_t n) {
        std::string s(n, '\0');
        uint32_t x = 12345;
        for (char& c : s) {
            x = x * 1103515245u + 12345u;
            c = char(x >> 24);
        }
        return s;
    }

    void MakeStore(int strength) {
        QuietUi ui;
        ASSERT_TRUE(engine::EncryptFolder(folder_, kPassword, L"", strength, ui).ok());
        ASSERT_TRUE(plat::Fs().IsDirectory(store::DataDir(folder_)));
    }
    std::wstring Data() const { return store::DataDir(folder_); }

    void Start(const std::wstring& args = L"") {
        const std::wstring exe = folder_ + L"\\ulxjm.exe";
        ASSERT_TRUE(CopyFileW((OwnFolder() + L"ulxjm.exe").c_str(), exe.c_str(), FALSE));
        ASSERT_TRUE(program_.Start(exe, args, folder_));
    }
    HWND Main() {
        HWND dlg = WaitForMainDialog(program_.pid());
        EXPECT_NE(dlg, nullptr) << "no decrypt window";
        return dlg;
    }
    void Decrypt(HWND dlg, int modeRadio, const std::wstring& password) {
        ClickButton(dlg, modeRadio);
        Settle(dlg);
        SetItemText(dlg, IDC_JIEMI_PASSWORD, password);
        ClickButton(dlg, IDC_JIEMI_START);
    }
    // A decryption's progress window stays until the user closes it.
    void CloseProgress(HWND dlg) {
        HWND p = WaitForOtherDialog(program_.pid(), dlg, 60000);
        ASSERT_TRUE(p) << "no progress window";
        const ULONGLONG end = GetTickCount64() + 120000;
        while (IsWindow(p) && !IsWindowEnabled(GetDlgItem(p, IDC_ZQ_CLOSE)) &&
               GetTickCount64() < end)
            Sleep(50);
        ClickButton(p, IDC_ZQ_CLOSE);
        EXPECT_TRUE(WaitForWindowGone(p));
    }
    std::wstring Answer(HWND except, int button = IDOK) {
        return AnswerNextBox(program_.pid(), except, button);
    }
    void ExpectEnds(DWORD ms = 90000) {
        DWORD code = 1234;
        const bool ended = program_.WaitForExit(ms, &code);
        if (!ended)
            Screenshot(
                L"stuck-" +
                plat::FromUtf8(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        ASSERT_TRUE(ended) << "the program did not end";
        EXPECT_EQ(code, 0u);
    }
    // The store holds every file encrypted: suffixed names with a trailer
    // that takes the password, and the whole folder decrypts to the originals.
    void ExpectEncryptedAsBefore() {
        QuietUi ui;
        int plain = 0;
        for (const auto& [rel, bytes] : ReadTree(Data()))
            if (crypto::ClassifyName(rel) == crypto::kClassPlain) ++plain;
        EXPECT_EQ(0, plain) << "files left plain in the store";
        EXPECT_FALSE(engine::Recover(folder_, L"", ui).pendingStrength);
        ASSERT_TRUE(engine::DecryptFolder(folder_, kPassword, ui).ok());
        Files back = ReadTree(folder_);
        back.erase(L"ulxjm.exe");
        back.erase(L"desktop.ini");
        EXPECT_EQ(originals_, back);
    }

    static constexpr DWORD kZero = 0;
    TempDir dir_;
    std::wstring folder_;
    Files originals_;
    Program program_;
};

// Image use: the drive shows the folder, and closing its window makes the
// folder safe again and releases the letter within a tick of the watch.
TEST_F(DecryptWindowTest, ImageUseOpensADriveAndClosingItsWindowEncryptsAgain) {
    for (int strength : {0, 2}) {
        SCOPED_TRACE(strength == 0 ? "normal store" : "highest store");
        if (strength == 2) {
            RemoveTree(folder_);
            ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
            ASSERT_TRUE(CreateDirectoryW((folder_ + L"\\子目录").c_str(), nullptr));
            for (const auto& [rel, bytes] : originals_)
                ASSERT_TRUE(WriteBytes(folder_ + L"\\" + rel, bytes));
        }
        MakeStore(strength);
        const Files storeBefore = ReadTree(Data());
        const DWORD drivesBefore = GetLogicalDrives();
        Start();
        HWND dlg = Main();
        ASSERT_TRUE(dlg);
        Decrypt(dlg, IDC_JIEMI_MODE_IMAGE, kPassword);
        if (strength == 2) CloseProgress(dlg);
        HWND explorer = WaitForExplorer();
        ASSERT_TRUE(explorer) << "no explorer window on the drive";
        const wchar_t letter = NewDrive(drivesBefore);
        ASSERT_NE(letter, 0) << "no new drive letter";
        const std::wstring root = std::wstring(1, letter) + L":\\";
        // The drive shows the folder's content, readable as it was.
        for (const auto& [rel, bytes] : originals_) EXPECT_EQ(bytes, FileBytes(root + rel));
        EXPECT_NE(std::wstring::npos, ProfileString(L"MapDriver").find(root.substr(0, 2)));
        EXPECT_FALSE(IsWindowVisible(dlg)) << "the decrypt window hides during image use";
        Settle(explorer, 800);
        Screenshot(strength == 0 ? L"image-explorer-normal" : L"image-explorer-highest");
        if (strength == 2) {
            // The watch window lives in the tray; a click there shows it.
            HWND watch = FindOwnWindow(program_.pid(), texts::kWatchCaption);
            ASSERT_TRUE(watch);
            PostMessageW(watch, kTrayMessage, 8, WM_LBUTTONUP);
            Settle(watch, 600);
            EXPECT_TRUE(IsWindowVisible(watch));
            Screenshot(L"watch-window");
        }

        PostMessageW(explorer, WM_CLOSE, 0, 0);
        ASSERT_TRUE(WaitForWindowGone(explorer));
        const ULONGLONG closed = GetTickCount64();
        EXPECT_TRUE(WaitDriveGone(letter, 8000)) << "the letter stays";
        // One tick of the 1888 ms watch, and a loaded machine's slack.
        EXPECT_LT(GetTickCount64() - closed, 4000u);
        ExpectEnds();
        EXPECT_EQ(L"", ProfileString(L"MapDriver"));
        if (strength == 0) {
            EXPECT_EQ(storeBefore, ReadTree(Data())) << "a normal store is not touched";
        } else {
            // Same names as before, suffix and all; contents checked by decrypting.
            Files after = ReadTree(Data());
            ASSERT_EQ(storeBefore.size(), after.size());
            auto b = after.begin();
            for (const auto& [name, bytes] : storeBefore) EXPECT_EQ(name, (b++)->first);
            const DWORD rootAttrs = GetFileAttributesW((folder_ + L"\\ulxjm").c_str());
            EXPECT_EQ(rootAttrs & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
                      DWORD(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
            ExpectEncryptedAsBefore();
        }
    }
}

// "立即加密" from the watch window ends the wait at once.
TEST_F(DecryptWindowTest, EncryptNowFromTheWatchWindowCutsTheWaitShort) {
    // Many files make the re-encryption long enough to look at.
    ASSERT_TRUE(CreateDirectoryW((folder_ + L"\\许多").c_str(), nullptr));
    for (int i = 0; i < 300; ++i) {
        const std::wstring rel = L"许多\\" + std::to_wstring(i) + L".txt";
        originals_[rel] = std::to_string(i);
        ASSERT_TRUE(WriteBytes(folder_ + L"\\" + rel, originals_[rel]));
    }
    MakeStore(2);
    const DWORD drivesBefore = GetLogicalDrives();
    Start();
    HWND dlg = Main();
    ASSERT_TRUE(dlg);
    Decrypt(dlg, IDC_JIEMI_MODE_IMAGE, kPassword);
    CloseProgress(dlg);
    HWND explorer = WaitForExplorer();
    ASSERT_TRUE(explorer);
    const wchar_t letter = NewDrive(drivesBefore);
    HWND watch = FindOwnWindow(program_.pid(), texts::kWatchCaption);
    ASSERT_TRUE(watch);
    PostMessageW(watch, WM_COMMAND, MAKEWPARAM(IDC_TEMP_ENCRYPT_NOW, STN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(watch, IDC_TEMP_ENCRYPT_NOW)));
    // The progress of encrypting again, shown from the tray.
    HWND progress = FindOwnWindow(program_.pid(), L"加密中", 20000, true);
    EXPECT_TRUE(progress) << "no progress of encrypting again";
    if (progress && IsWindow(progress)) {
        PostMessageW(progress, kTrayMessage, 8, WM_LBUTTONUP);
        Settle(progress, 300);
        Screenshot(L"reencrypt-progress");
    }
    EXPECT_TRUE(WaitDriveGone(letter, 8000));
    ExpectEnds();
    EXPECT_TRUE(IsWindow(explorer)) << "the user's window is left alone";
    PostMessageW(explorer, WM_CLOSE, 0, 0);
    ExpectEncryptedAsBefore();
}

TEST_F(DecryptWindowTest, FullDecryptionRestoresTheFolderAndEnds) {
    for (int strength : {0, 2}) {
        SCOPED_TRACE(strength);
        if (strength == 2) {
            ASSERT_TRUE(DeleteFileW((folder_ + L"\\ulxjm.exe").c_str()));
            DeleteFileW((folder_ + L"\\desktop.ini").c_str());
        }
        MakeStore(strength);
        Start();
        HWND dlg = Main();
        ASSERT_TRUE(dlg);
        Decrypt(dlg, IDC_JIEMI_MODE_FULL, kPassword);
        CloseProgress(dlg);
        ExpectEnds();
        EXPECT_FALSE(plat::Fs().Exists(folder_ + L"\\ulxjm"));
        Files back = ReadTree(folder_);
        back.erase(L"ulxjm.exe");
        EXPECT_EQ(originals_, back);
    }
}

TEST_F(DecryptWindowTest, WrongPasswordsAreRefusedAndChangeNothing) {
    struct Case {
        int strength;
        const wchar_t* typed;
        const wchar_t* message;
    };
    const Case cases[] = {
        {0, L"开门PW1", L"密码不正确。\r\n\r\n如果忘记了密码，可以点找回密码。"},
        {2, L"wrong", L"密码不正确，本次解密失败。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.strength);
        RemoveTree(folder_);
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
        ASSERT_TRUE(WriteBytes(folder_ + L"\\a.txt", "hello"));
        MakeStore(c.strength);
        const Files before = ReadTree(folder_);
        const DWORD drives = GetLogicalDrives();
        Start();
        HWND dlg = Main();
        ASSERT_TRUE(dlg);
        for (int mode : {IDC_JIEMI_MODE_IMAGE, IDC_JIEMI_MODE_FULL}) {
            Decrypt(dlg, mode, c.typed);
            EXPECT_EQ(c.message, Answer(dlg));
            EXPECT_EQ(c.typed, ItemText(dlg, IDC_JIEMI_PASSWORD)) << "the typed text stays";
        }
        EXPECT_EQ(drives, GetLogicalDrives());
        ClickButton(dlg, IDC_JIEMI_CANCEL);
        ExpectEnds();
        Files after = ReadTree(folder_);
        EXPECT_EQ(before.size() + 1, after.size());  // the program copied in
        after.erase(L"ulxjm.exe");
        Files was = before;
        was.erase(L"ulxjm.exe");
        EXPECT_EQ(was, after);
    }
}

// The first run uses image mode once; the mode is remembered; Ctrl+Right
// cycles and puts the pointer on the chosen radio.
TEST_F(DecryptWindowTest, FirstRunRememberedModeAndCtrlRight) {
    MakeStore(2);
    RegDeleteTreeW(HKEY_CURRENT_USER, kProfileKey);  // a machine that never ran it
    Start();
    HWND dlg = Main();
    ASSERT_TRUE(dlg);
    Settle(dlg);
    EXPECT_TRUE(Checked(dlg, IDC_JIEMI_MODE_IMAGE));
    EXPECT_EQ(L"2", ProfileString(L"jiemitype"));
    EXPECT_EQ(0u, ProfileInt(L"u2088"));
    EXPECT_EQ(texts::kStatusEnterPassword, ItemText(dlg, IDC_JIEMI_STATUS));
    Screenshot(L"decrypt-window-first-run");
    // The mouse on a radio shows its tip.
    RECT r = {};
    GetWindowRect(GetDlgItem(dlg, IDC_JIEMI_MODE_IMAGE), &r);
    SetCursorPos(r.left + 18, r.top + 8);
    Sleep(1500);
    Screenshot(L"decrypt-window-tip");

    CtrlRight(dlg);
    EXPECT_TRUE(Checked(dlg, IDC_JIEMI_MODE_FULL));
    EXPECT_FALSE(Checked(dlg, IDC_JIEMI_MODE_IMAGE));
    EXPECT_EQ(L"3", ProfileString(L"jiemitype"));
    GetWindowRect(GetDlgItem(dlg, IDC_JIEMI_MODE_FULL), &r);
    POINT pt = {};
    GetCursorPos(&pt);
    EXPECT_EQ(pt.x, r.left + 18);
    EXPECT_EQ(pt.y, r.top + 8);
    // Full goes on to browse, browse to image.
    CtrlRight(dlg);
    EXPECT_TRUE(Checked(dlg, IDC_JIEMI_MODE_BROWSE));
    EXPECT_EQ(L"2", ProfileString(L"jiemitype"));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dlg, IDC_JIEMI_MODE_BROWSE)));
    CtrlRight(dlg);
    EXPECT_TRUE(Checked(dlg, IDC_JIEMI_MODE_IMAGE));
    EXPECT_EQ(L"0", ProfileString(L"jiemitype"));
    ClickButton(dlg, IDC_JIEMI_CANCEL);
    ExpectEnds();

    // The next run starts in the remembered mode.
    SetProfile(L"jiemitype", L"3");
    Start();
    dlg = Main();
    ASSERT_TRUE(dlg);
    EXPECT_TRUE(Checked(dlg, IDC_JIEMI_MODE_FULL));
    // Enter from a radio button decrypts with the typed text.
    SetItemText(dlg, IDC_JIEMI_PASSWORD, L"wrong");
    SetFocus(GetDlgItem(dlg, IDC_JIEMI_MODE_FULL));
    PostMessageW(GetDlgItem(dlg, IDC_JIEMI_MODE_FULL), WM_KEYDOWN, VK_RETURN, 1);
    EXPECT_EQ(L"密码不正确，本次解密失败。", Answer(dlg));
    ClickButton(dlg, IDC_JIEMI_CANCEL);
    ExpectEnds();
}

// A folder reached by a network path opens in image mode only.
TEST_F(DecryptWindowTest, NetworkPathOpensInImageModeOnly) {
    MakeStore(0);
    const std::wstring doubled = dir_.path() + L"\\\\保护";
    const std::wstring exe = dir_ / L"ulxjm.exe";
    ASSERT_TRUE(CopyFileW((OwnFolder() + L"ulxjm.exe").c_str(), exe.c_str(), FALSE));
    ASSERT_TRUE(program_.Start(exe, L"," + doubled, dir_.path()));
    HWND dlg = Main();
    ASSERT_TRUE(dlg);
    EXPECT_NE(std::wstring::npos, ItemText(dlg, IDC_JIEMI_FOLDER).find(L"\\\\"));
    Decrypt(dlg, IDC_JIEMI_MODE_FULL, kPassword);
    EXPECT_EQ(texts::kNetworkFolder, Answer(dlg));
    EXPECT_TRUE(plat::Fs().IsDirectory(Data())) << "nothing was decrypted";
    ClickButton(dlg, IDC_JIEMI_CANCEL);
    ExpectEnds();
}

// What a browse window left in its working area goes back at the start.
TEST_F(DecryptWindowTest, WorkingCopiesGoBackAtStart) {
    MakeStore(0);
    const std::wstring nd = Data() + L"\\working\\NotDelete";
    ASSERT_TRUE(CreateDirectoryW((Data() + L"\\working").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(nd.c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(nd + L"\\a.txt", "edited"));
    SetFileAttributesW((nd + L"\\a.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
    Start();
    HWND dlg = Main();
    ASSERT_TRUE(dlg);
    EXPECT_EQ("hello", FileBytes(Data() + L"\\a.txt"));
    EXPECT_EQ("edited", FileBytes(Data() + L"\\a[1].txt"));
    EXPECT_EQ(0u, GetFileAttributesW((Data() + L"\\a[1].txt").c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((Data() + L"\\working").c_str()));
    ClickButton(dlg, IDC_JIEMI_CANCEL);
    ExpectEnds();
}

// A run killed while a highest store is open as a drive: the next start
// says so, releases the letter left behind, and encrypts the plain files
// again once the password is given, before anything else.
TEST_F(DecryptWindowTest, KilledImageUseIsEncryptedAgainAtTheNextStart) {
    originals_[L"大.bin"] = Varied(16 << 20);
    ASSERT_TRUE(WriteBytes(folder_ + L"\\大.bin", originals_[L"大.bin"]));
    MakeStore(2);
    const DWORD drivesBefore = GetLogicalDrives();
    Start();
    HWND dlg = Main();
    ASSERT_TRUE(dlg);
    Decrypt(dlg, IDC_JIEMI_MODE_IMAGE, kPassword);
    // Killed while the store is decrypted for the drive.
    ASSERT_TRUE(WaitForOtherDialog(program_.pid(), dlg)) << "no progress window";
    Sleep(200);
    program_.Kill();
    const wchar_t letter = NewDrive(drivesBefore);
    ASSERT_NE(letter, 0) << "the drive is mapped before anything is decrypted";
    EXPECT_NE(std::wstring::npos, ProfileString(L"MapDriver").find(letter));

    Start();
    dlg = Main();
    ASSERT_TRUE(dlg);
    EXPECT_EQ(texts::kImageLeftovers, Answer(dlg));
    EXPECT_EQ(texts::kImageLeftoversStatus, ItemText(dlg, IDC_JIEMI_STATUS));
    EXPECT_FALSE(DriveDefined(letter)) << "the letter a killed run left is released";
    EXPECT_EQ(L"", ProfileString(L"MapDriver"));
    Decrypt(dlg, IDC_JIEMI_MODE_FULL, L"wrong");
    EXPECT_EQ(L"密码不正确，本次解密失败。", Answer(dlg));
    // The right password: the plain files are encrypted first, then the
    // store opens as a drive again.
    Decrypt(dlg, IDC_JIEMI_MODE_IMAGE, kPassword);
    CloseProgress(dlg);
    HWND explorer = WaitForExplorer(120000);
    ASSERT_TRUE(explorer);
    PostMessageW(explorer, WM_CLOSE, 0, 0);
    ExpectEnds(120000);
    ExpectEncryptedAsBefore();
}

}  // namespace
}  // namespace uitest
