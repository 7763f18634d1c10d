// The browse window's own decisions without the window: layout, the timer
// tick, the idle lock, the close sequence, taking working copies back by
// store kind (through the real passes), the open-folder log.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "crypto/records.h"
#include "engine/naming.h"
#include "engine/pass_state.h"
#include "platform/fs.h"
#include "store/layout.h"
#include "support/test_files.h"
#include "ui/browse/logic/browse_logic.h"
#include "ui/browse/logic/file_list.h"
#include "ui_logic_fixture.h"

namespace {

using ui::browse::Handle;
using ui::browse::OpenedItems;

std::wstring P(std::initializer_list<std::wstring> parts) {
    std::wstring out;
    for (const auto& p : parts) out += (out.empty() ? L"" : std::wstring(1, plat::kSep)) + p;
    return out;
}

// The system as the window would see it, scripted.
class FakePlatform : public ui::browse::BrowsePlatform {
  public:
    bool IsWindow(Handle w) override { return windows.count(w) > 0; }
    std::vector<Handle> FolderWindowsTitled(const std::wstring& title) override {
        std::vector<Handle> out;
        for (auto [it, end] = titles.equal_range(title); it != end; ++it)
            if (windows.count(it->second)) out.push_back(it->second);
        return out;
    }
    uint32_t TickMs() override { return now; }
    uint32_t LastInputMs() override { return lastInput; }
    bool InUse(const std::wstring& path) override { return held.count(path) > 0; }

    std::set<Handle> windows;
    std::multimap<std::wstring, Handle> titles;  // shown folder windows
    std::set<std::wstring> held;
    uint32_t now = 0, lastInput = 0;
};

TEST(BrowseLayout, ControlsFollowTheClientSize) {
    ui::browse::LayoutInput in;
    in.clientW = 1000;
    in.clientH = 700;
    in.button = {60, 50};
    in.pathLabel = {70, 16};
    in.folderLabel = {150, 14};
    in.refreshLink = {30, 14};
    in.totalsText = {200, 14};
    in.selectionText = {180, 14};
    const auto l = ui::browse::ComputeLayout(in);
    using R = ui::browse::Rect;
    EXPECT_EQ(l.buttons[0], (R{8, 6, 60, 50}));
    EXPECT_EQ(l.buttons[7], (R{8 + 7 * 68, 6, 60, 50}));
    EXPECT_EQ(l.pathLabel, (R{3, 64, 70, 16}));
    EXPECT_EQ(l.pathBox, (R{76, 60, 1000 - 3 - 76, 22}));
    // Tree bottom at H - H/4 - 88 = 700 - 175 - 88.
    EXPECT_EQ(l.tree, (R{3, 84, 218, 437 - 84}));
    EXPECT_EQ(l.folderLabel, (R{3, 445, 150, 14}));
    EXPECT_EQ(l.refreshLink, (R{188, 445, 30, 14}));
    EXPECT_EQ(l.folderList, (R{3, 467, 218, 672 - 467}));
    EXPECT_EQ(l.totals, (R{3, 680, 200, 14}));
    EXPECT_EQ(l.selection, (R{241, 680, 180, 14}));
    EXPECT_EQ(l.fileList, (R{223, 84, 774, 672 - 84}));

    // A window made tiny gives empty controls, never negative sizes.
    in.clientW = 100;
    in.clientH = 90;
    const auto t = ui::browse::ComputeLayout(in);
    for (const auto& r : {t.tree, t.folderList, t.fileList, t.pathBox}) {
        EXPECT_GE(r.w, 0);
        EXPECT_GE(r.h, 0);
    }
}

TEST(BrowseIdle, LocksAfter188SecondsWithoutInputOnce) {
    const struct {
        uint32_t now, last;
        bool shown, due;
    } kCases[] = {
        {187999, 0, false, false},
        {188000, 0, false, true},
        {188000, 0, true, false},
        {500000, 400000, false, false},
        // The tick count wrapped since the last input.
        {184000, 0xFFFFFFFFu - 3999u, false, true},
        {1000, 0xFFFFFFFFu - 999u, false, false},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(ui::browse::IdleLockDue(c.now, c.last, c.shown), c.due) << c.now << " " << c.last;
}

TEST(BrowseTimer, FindsFolderWindowsByNameThenDrivePathAndReturnsClosedOnes) {
    OpenedItems o;
    FakePlatform pf;
    const std::wstring drive = L"Z:";
    o.AddFolder(P({L"相册", L"2024"}));
    o.AddFolder(L"文档");
    pf.titles.insert({L"2024", 21});
    pf.titles.insert({P({L"Z:", L"NotDelete", L"文档"}), 22});
    pf.windows = {21, 22};
    pf.now = 10000;
    pf.lastInput = 9000;

    auto r = ui::browse::TimerTick(o, pf, drive, false);
    EXPECT_TRUE(r.toReturn.empty());
    EXPECT_FALSE(r.lock);
    EXPECT_TRUE(o.FoldersAwaitingWindow().empty());

    pf.windows.erase(22);
    pf.now = 9000 + 188000;
    r = ui::browse::TimerTick(o, pf, drive, false);
    EXPECT_EQ(r.toReturn, std::vector<std::wstring>{L"文档"});
    EXPECT_TRUE(r.lock);
    EXPECT_FALSE(ui::browse::TimerTick(o, pf, drive, true).lock);

    // A copy left waiting is offered again by the timer.
    o.AddWaiting(L"a.txt");
    EXPECT_EQ(ui::browse::TimerTick(o, pf, drive, false).toReturn,
              std::vector<std::wstring>{L"a.txt"});
}

// Another folder window with the same name, shown before the folder was
// opened, is never taken for its window: neither its closing takes the copy
// back, nor does it hide the real window once that shows.
TEST(BrowseTimer, FolderWindowsOfTheSameNameShownBeforeAreNotTaken) {
    OpenedItems o;
    FakePlatform pf;
    const std::wstring drive = L"Z:";
    pf.titles.insert({L"相册", 31});  // the user's own window on another 相册
    pf.windows = {31};
    o.AddFolder(L"相册", ui::browse::FolderWindowsShown(pf, L"相册", drive));
    auto r = ui::browse::TimerTick(o, pf, drive, false);
    EXPECT_EQ(o.FoldersAwaitingWindow(), std::vector<std::wstring>{L"相册"});

    pf.titles.insert({L"相册", 32});  // ours shows
    pf.windows.insert(32);
    r = ui::browse::TimerTick(o, pf, drive, false);
    EXPECT_TRUE(o.FoldersAwaitingWindow().empty());
    pf.windows.erase(31);  // the other one closes: nothing goes back
    EXPECT_TRUE(ui::browse::TimerTick(o, pf, drive, false).toReturn.empty());
    pf.windows.erase(32);
    EXPECT_EQ(ui::browse::TimerTick(o, pf, drive, false).toReturn,
              std::vector<std::wstring>{L"相册"});

    // Two folders of one name opened one after the other get a window each.
    OpenedItems two;
    FakePlatform p2;
    two.AddFolder(P({L"a", L"图"}), ui::browse::FolderWindowsShown(p2, P({L"a", L"图"}), drive));
    p2.titles.insert({L"图", 41});
    p2.windows = {41};
    (void)ui::browse::TimerTick(two, p2, drive, false);
    two.AddFolder(P({L"b", L"图"}), ui::browse::FolderWindowsShown(p2, P({L"b", L"图"}), drive));
    p2.titles.insert({L"图", 42});
    p2.windows.insert(42);
    (void)ui::browse::TimerTick(two, p2, drive, false);
    const auto folders = two.Folders();
    ASSERT_EQ(folders.size(), 2u);
    EXPECT_EQ(folders[0].window, Handle(41));
    EXPECT_EQ(folders[1].window, Handle(42));
}

TEST(BrowseClose, AnswersDecideWhatEndsAndWhatGoesBack) {
    {
        OpenedItems o;
        EXPECT_FALSE(ui::browse::CloseNeedsQuestion(o));
        const auto plan = ui::browse::PlanClose(o, ui::browse::CloseAnswer::Cancel);
        EXPECT_FALSE(plan.stay);  // nothing open: no question, no cancel
        EXPECT_TRUE(o.Closing());
    }
    const struct {
        ui::browse::CloseAnswer answer;
        bool stay;
        size_t windows, processes, paths;
    } kCases[] = {
        {ui::browse::CloseAnswer::Cancel, true, 0, 0, 0},
        // No: only the copy whose program has ended goes back.
        {ui::browse::CloseAnswer::No, false, 0, 0, 1},
        {ui::browse::CloseAnswer::Yes, false, 1, 1, 3},
    };
    for (const auto& c : kCases) {
        OpenedItems o;
        o.AddFolder(L"相册");
        o.SetFolderWindow(L"相册", 3);
        o.AddFile(L"a.txt", 4);
        o.AddWaiting(L"b.txt");
        o.AddWaiting(L"相册\\x.jpg");  // inside a folder still open
        ASSERT_TRUE(ui::browse::CloseNeedsQuestion(o));
        const auto plan = ui::browse::PlanClose(o, c.answer);
        EXPECT_EQ(plan.stay, c.stay);
        EXPECT_EQ(plan.windowsToClose.size(), c.windows);
        EXPECT_EQ(plan.processesToEnd.size(), c.processes);
        EXPECT_EQ(plan.toReturn.size(), c.paths);
        if (c.answer == ui::browse::CloseAnswer::No) {
            EXPECT_EQ(plan.toReturn, std::vector<std::wstring>{L"b.txt"});
            EXPECT_EQ(plan.leftOpen, (std::vector<std::wstring>{L"相册", L"a.txt"}));
        } else {
            EXPECT_TRUE(plan.leftOpen.empty());
        }
        // Cancel changes nothing; the others stop the watchers.
        EXPECT_EQ(o.Closing(), !c.stay);
        EXPECT_EQ(o.IsOpenedPath(L"a.txt"), c.stay);
    }
    EXPECT_EQ(ui::browse::StillHeldText({L"a.txt", L"相册\\b.doc"}),
              L"有 2 个文件（夹）仍被其他程序占用，暂时不能加密：\r\n\r\n"
              L"    a.txt\r\n    相册\\b.doc\r\n\r\n"
              L"可以继续使用并保存它们；下次打开本加密文件夹时，它们会自动加密回去。");
    const std::vector<std::wstring> seven = {L"1", L"2", L"3", L"4", L"5", L"6", L"7"};
    EXPECT_NE(ui::browse::StillHeldText(seven).find(L"    5\r\n    还有2 个未列出...\r\n"),
              std::wstring::npos);
}

// A file no program opens: the question names the file, not its folders,
// and the chosen program gets both paths whole, spaces and all.
TEST(BrowseOpen, NoProgramQuestionAndCommandLine) {
    const std::wstring rel = std::wstring(L"旧 文档") + plat::kSep + L"账 本.qdf";
    const std::wstring text = ui::browse::NoProgramText(rel);
    EXPECT_EQ(text.find(L"“账 本.qdf”"), text.find(L"“"));
    EXPECT_EQ(text.find(L"旧 文档"), std::wstring::npos);
    EXPECT_EQ(ui::browse::ProgramCommandLine(L"C:\\Program Files\\看图\\v.exe", L"Y:\\N\\a b.qdf"),
              L"\"C:\\Program Files\\看图\\v.exe\" \"Y:\\N\\a b.qdf\"");
}

// Closing tells the program's exit code: 0 only when everything opened went
// back into the store; the drive letter stays while copies are left plain.
TEST(BrowseClose, OutcomeSaysWhatWasLeftPlain) {
    ui::browse::StorePassPlan held;
    held.valid = true;
    held.stillHeld = {L"c.txt"};
    ui::browse::StorePassPlan clean;
    clean.valid = true;
    ui::browse::StorePassPlan nothing;  // nothing to take back
    const struct {
        ui::browse::CloseAnswer answer;
        const ui::browse::StorePassPlan* back;
        bool passComplete;
        size_t leftPlain;
        int exitCode;
    } kCases[] = {
        {ui::browse::CloseAnswer::Yes, &clean, true, 0, 0},
        {ui::browse::CloseAnswer::Yes, &clean, false, 0, 1},    // the pass failed
        {ui::browse::CloseAnswer::Yes, &held, true, 1, 1},      // a program kept one
        {ui::browse::CloseAnswer::Yes, &nothing, false, 0, 0},  // no pass ran
        {ui::browse::CloseAnswer::No, &clean, true, 2, 1},      // left open
        {ui::browse::CloseAnswer::No, nullptr, true, 2, 1},
    };
    for (const auto& c : kCases) {
        OpenedItems o;
        o.AddFolder(L"相册");
        o.AddFile(L"a.txt", 4);
        o.AddWaiting(L"b.txt");
        const auto plan = ui::browse::PlanClose(o, c.answer);
        const auto out = ui::browse::OutcomeOfClose(plan, c.back, c.passComplete);
        EXPECT_EQ(out.leftPlain, c.leftPlain);
        EXPECT_EQ(out.ExitCode(), c.exitCode);
        EXPECT_EQ(out.KeepDrive(), c.leftPlain > 0);
    }
    OpenedItems none;
    const auto out = ui::browse::OutcomeOfClose(
        ui::browse::PlanClose(none, ui::browse::CloseAnswer::No), nullptr, true);
    EXPECT_EQ(out.ExitCode(), 0);
    EXPECT_FALSE(out.KeepDrive());
}

class BrowseReturn : public uilogictest::UiLogicTest {
  protected:
    void SetUp() override {
        UiLogicTest::SetUp();
        folder_ = dir_ / L"保护";
        ASSERT_TRUE(plat::Fs().CreateDir(folder_));
        ASSERT_TRUE(store::CreateStoreFolders(folder_));
        work_ = plat::WithoutSep(store::WorkingDir(folder_));
        ASSERT_TRUE(engine::MakeDirs(P({work_, L"相册"})));
        ASSERT_TRUE(plat::Fs().CreateDir(P({store::DataDir(folder_), L"相册"})));
        ASSERT_TRUE(testsupport::WriteFileBytes(P({work_, L"相册", L"a.jpg"}), "jpeg"));
        ASSERT_TRUE(testsupport::WriteFileBytes(P({work_, L"计划.txt"}), "plan"));
        ASSERT_TRUE(testsupport::WriteFileBytes(P({work_, L"held.doc"}), "held"));
        pf_.held.insert(P({work_, L"held.doc"}));
    }
    ui::browse::StoreAccess Access(int kind) {
        ui::browse::StoreAccess a;
        a.kind = kind;
        a.folder = folder_;
        a.dataDir = store::DataDir(folder_);
        a.password = L"密码1";
        return a;
    }

    std::wstring folder_, work_;
    FakePlatform pf_;
};

TEST_F(BrowseReturn, EachStoreKindGetsItsPass) {
    const struct {
        int kind;
        bool valid, content;
        int engineKind;
        const wchar_t* kindText;
    } kCases[] = {
        {ui::browse::kStoreNormal, true, false, 0, L"type=0"},
        {ui::browse::kStoreHigher, true, true, 1, L"type=1"},
        {ui::browse::kStoreHighest, true, true, 2, L"type=2"},
        {7, false, false, 0, L""},
    };
    const std::vector<std::wstring> rels = {L"相册", L"计划.txt", L"held.doc", L"gone.txt"};
    for (const auto& c : kCases) {
        const auto p = ui::browse::PlanReturn(Access(c.kind), rels, pf_);
        EXPECT_EQ(p.valid, c.valid) << c.kind;
        if (!c.valid) continue;
        EXPECT_EQ(p.contentPass, c.content);
        EXPECT_EQ(p.engineKind, c.engineKind);
        EXPECT_EQ(c.content ? p.strength.kindText : p.hide.kindText, c.kindText);
        const auto& items = c.content ? p.strength.items : p.hide.items;
        // Held copies wait; copies already gone are dropped.
        EXPECT_EQ(items, (std::vector<std::wstring>{L"相册", L"计划.txt"}));
        EXPECT_EQ(p.stillHeld, std::vector<std::wstring>{L"held.doc"});
    }
    pf_.held.clear();
    EXPECT_FALSE(ui::browse::PlanReturn(Access(3), {L"gone.txt"}, pf_).valid);
}

TEST_F(BrowseReturn, PlannedPassesPutCopiesBackWithTheStoresStrength) {
    for (int kind : {ui::browse::kStoreNormal, ui::browse::kStoreHighest}) {
        ASSERT_TRUE(testsupport::WriteFileBytes(P({work_, L"计划.txt"}), "plan"));
        const auto p = ui::browse::PlanReturn(Access(kind), {L"计划.txt", L"held.doc"}, pf_);
        ASSERT_TRUE(p.valid);
        engine::RecordingUi ui;
        engine::State().Reset();
        engine::State().operation = engine::kOpBrowse;
        engine::State().kind = p.engineKind;
        if (p.contentPass) {
            engine::CCryptAndDe_old pass(ui);
            ASSERT_TRUE(pass.RunEncryption(p.strength));
        } else {
            engine::CJiaMiWeiZhuang pass(ui);
            ASSERT_TRUE(pass.Run(p.hide));
        }
        const std::wstring data = store::DataDir(folder_);
        EXPECT_FALSE(plat::Fs().Exists(P({work_, L"计划.txt"}))) << kind;
        if (p.contentPass) {
            EXPECT_TRUE(plat::Fs().IsFile(P({data, L"计划.txt.zpwenc0"}))) << kind;
            EXPECT_NE(testsupport::ReadFileBytes(P({data, L"计划.txt.zpwenc0"})), "plan");
        } else {
            EXPECT_EQ(testsupport::ReadFileBytes(P({data, L"计划.txt"})), "plan");
            ASSERT_TRUE(plat::Fs().DeleteFile(P({data, L"计划.txt"})));
        }
        EXPECT_TRUE(plat::Fs().IsFile(P({work_, L"held.doc"})));
    }
}

// Opening through the plans: the item leaves the store and its plain copy
// lands in the working area at the same relative place, for a normal and a
// highest store alike.
TEST(BrowseOpen, PlannedDecryptionPutsThePlainCopyInTheWorkingArea) {
    for (int strength : {0, 2}) {
        testsupport::TempFolder tmp;
        const std::wstring folder = tmp / L"保护";
        ASSERT_TRUE(plat::Fs().CreateDir(folder));
        ASSERT_TRUE(plat::Fs().CreateDir(P({folder, L"相册"})));
        ASSERT_TRUE(
            testsupport::WriteFileBytes(P({folder, L"相册", L"a.jpg"}), std::string(3000, 'j')));
        engine::RecordingUi ui;
        ASSERT_TRUE(engine::EncryptFolder(folder, L"密码", L"", strength, ui).ok());

        const std::wstring data = store::DataDir(folder);
        OpenedItems opened;
        ui::browse::FileListModel list(ui::browse::StorePlaces::Of(data), opened);
        list.Fill(P({data, L"相册"}));
        ASSERT_EQ(list.Rows().size(), 1u);
        EXPECT_EQ(list.Rows()[0].name, L"a.jpg");
        const auto open = ui::browse::PlanOpenFirst(list.Rows(), {0}, list.RelativePath(), opened);
        ASSERT_EQ(open.toDecrypt.size(), 1u);
        const auto options = ui::browse::PlanDecrypt(
            open.toDecrypt, ui::browse::WorkingCopyRoot(data), list.RelativePath());
        engine::State().Reset();
        ASSERT_TRUE(engine::DecryptStore(folder, L"密码", 2, ui, options).ok()) << strength;

        const std::wstring copy =
            P({plat::WithoutSep(ui::browse::WorkingCopyRoot(data)), L"相册", L"a.jpg"});
        EXPECT_EQ(testsupport::ReadFileBytes(copy), std::string(3000, 'j')) << strength;
        opened.AddFile(open.launches[0].rel, 1);
        list.Refresh();
        ASSERT_EQ(list.Rows().size(), 1u);
        EXPECT_TRUE(list.Rows()[0].workingCopy);
        EXPECT_EQ(list.Rows()[0].state, L"已解密");
    }
}

// A normal store whose password record is empty or missing has no
// password: the window opens, copies and moves its files all the same.
TEST(BrowseOpen, NormalStoreWithoutPasswordRecordStillOpens) {
    for (bool missing : {false, true}) {
        testsupport::TempFolder tmp;
        const std::wstring folder = tmp / L"保护";
        ASSERT_TRUE(plat::Fs().CreateDir(folder));
        ASSERT_TRUE(testsupport::WriteFileBytes(P({folder, L"a.txt"}), "aaa"));
        ASSERT_TRUE(testsupport::WriteFileBytes(P({folder, L"b.txt"}), "bbb"));
        engine::RecordingUi ui;
        ASSERT_TRUE(engine::EncryptFolder(folder, L"密码", L"", 0, ui).ok());
        const std::wstring record = P({store::ParamDir(folder), store::kPasswordRecord});
        ASSERT_TRUE(missing ? plat::Fs().DeleteFile(record)
                            : testsupport::WriteFileBytes(record, ""));
        // What the window passes on: the record's text.
        crypto::StoreRecords records = crypto::ReadStoreRecords(store::ParamDir(folder), false);
        ASSERT_EQ(records.kind, crypto::kKindNormal);
        const std::wstring password = records.password;
        EXPECT_TRUE(password.empty());

        const std::wstring data = store::DataDir(folder);
        engine::State().Reset();
        const auto open = ui::browse::PlanDecrypt({L"a.txt"}, ui::browse::WorkingCopyRoot(data), L"");
        EXPECT_TRUE(engine::DecryptStore(folder, password, 2, ui, open).ok()) << missing;
        EXPECT_EQ(testsupport::ReadFileBytes(
                      P({plat::WithoutSep(ui::browse::WorkingCopyRoot(data)), L"a.txt"})),
                  "aaa");
        const std::wstring out = tmp / L"外面";
        ASSERT_TRUE(plat::Fs().CreateDir(out));
        engine::State().Reset();
        EXPECT_TRUE(engine::DecryptStore(folder, password, 1, ui,
                                         ui::browse::PlanDecrypt({L"b.txt"}, out, L""))
                        .ok());
        EXPECT_EQ(testsupport::ReadFileBytes(P({out, L"b.txt"})), "bbb");
        EXPECT_EQ(testsupport::ReadFileBytes(P({data, L"b.txt"})), "bbb");
        EXPECT_EQ(ui.Count(crypto::kMsgStrengthPasswordWrong), 0) << missing;
    }
    // A normal store with a password still refuses another one.
    testsupport::TempFolder tmp;
    const std::wstring folder = tmp / L"保护";
    ASSERT_TRUE(plat::Fs().CreateDir(folder));
    ASSERT_TRUE(testsupport::WriteFileBytes(P({folder, L"a.txt"}), "aaa"));
    engine::RecordingUi ui;
    ASSERT_TRUE(engine::EncryptFolder(folder, L"密码", L"", 0, ui).ok());
    engine::State().Reset();
    EXPECT_FALSE(engine::DecryptStore(folder, L"别的", 1, ui,
                                      ui::browse::PlanDecrypt({L"a.txt"}, tmp.path(), L""))
                     .started);
    EXPECT_FALSE(plat::Fs().Exists(tmp / L"a.txt"));
    EXPECT_EQ(ui.Count(crypto::kMsgStrengthPasswordWrong), 1);
}

TEST_F(BrowseReturn, MoveInFromTheStoreIsRefused) {
    const auto p =
        ui::browse::PlanMoveIn(Access(ui::browse::kStoreNormal), work_, {L"计划.txt"}, L"");
    EXPECT_FALSE(p.valid);
    EXPECT_EQ(p.refusal, L"不能移入加密文件夹自己的存储中的文件。");
}

TEST_F(BrowseReturn, MoveInLandsBelowTheFolderShown) {
    const std::wstring src = dir_ / L"来源";
    ASSERT_TRUE(plat::Fs().CreateDir(src));
    ASSERT_TRUE(testsupport::WriteFileBytes(P({src, L"新.txt"}), "new"));
    const auto p = ui::browse::PlanMoveIn(Access(ui::browse::kStoreNormal), src + plat::kSep,
                                          {L"新.txt"}, L"相册" + std::wstring(1, plat::kSep));
    ASSERT_TRUE(p.valid);
    engine::RecordingUi ui;
    engine::State().Reset();
    engine::CJiaMiWeiZhuang pass(ui);
    ASSERT_TRUE(pass.Run(p.hide));
    EXPECT_EQ(testsupport::ReadFileBytes(P({store::DataDir(folder_), L"相册", L"新.txt"})), "new");
    EXPECT_FALSE(plat::Fs().Exists(P({src, L"新.txt"})));
}

TEST_F(BrowseReturn, EmptyWorkingFoldersGoAndFoldersWithFilesStay) {
    ASSERT_TRUE(engine::MakeDirs(P({work_, L"空", L"更空"})));
    ASSERT_TRUE(plat::Fs().DeleteFile(P({work_, L"计划.txt"})));
    ASSERT_TRUE(plat::Fs().DeleteFile(P({work_, L"held.doc"})));
    const std::wstring area = P({store::DataDir(folder_), L"working"});
    ui::browse::RemoveEmptyFolders(area);
    EXPECT_FALSE(plat::Fs().Exists(P({work_, L"空"})));
    EXPECT_TRUE(plat::Fs().IsFile(P({work_, L"相册", L"a.jpg"})));
    ASSERT_TRUE(plat::Fs().DeleteFile(P({work_, L"相册", L"a.jpg"})));
    ui::browse::RemoveEmptyFolders(area);
    EXPECT_FALSE(plat::Fs().Exists(area));
}

TEST_F(BrowseReturn, OpenFolderLogListsEachFolderOnceAndForgetsTheFirst) {
    const std::wstring log = dir_ / L"ulxjmlog.dat";
    EXPECT_TRUE(ui::browse::ReadOpenFolderLog(log).empty());
    std::vector<std::wstring> names;
    ui::browse::AddOpenFolder(names, L"E:\\照片\\");
    ui::browse::AddOpenFolder(names, L"F:\\Docs\\");
    ui::browse::AddOpenFolder(names, L"e:\\照片\\");  // a second window over it
    EXPECT_EQ(names.size(), 2u);
    ui::browse::WriteOpenFolderLog(log, names);
    names = ui::browse::ReadOpenFolderLog(log);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"E:\\照片\\", L"F:\\Docs\\"}));
    ui::browse::RemoveOpenFolder(names, L"E:\\照片\\");
    ui::browse::WriteOpenFolderLog(log, names);
    EXPECT_EQ(ui::browse::ReadOpenFolderLog(log), std::vector<std::wstring>{L"F:\\Docs\\"});
}

}  // namespace
