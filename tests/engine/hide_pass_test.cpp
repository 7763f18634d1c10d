// The hide pass over real temporary folders.
#include "engine/hide_pass.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "engine/engine_fixture.h"
#include "engine/hooked_fs.h"
#include "engine/naming.h"
#include "engine/progress_model.h"
#include "store/layout.h"

namespace enginetest {
namespace {

using engine::CJiaMiWeiZhuang;
using engine::HideJob;

class HidePassTest : public EngineTest {
  protected:
    HideJob Job() {
        HideJob job;
        job.root = folder_;
        job.password = L"pw1";
        job.kindText = L"type=0";
        return job;
    }
    std::wstring Data(const std::wstring& rel = L"") const {
        return rel.empty() ? store::DataDir(folder_) : plat::JoinPath(store::DataDir(folder_), rel);
    }
};

TEST_F(HidePassTest, MovesContentIntoStoreAndFinishesFolder) {
    WriteFile(plat::JoinPath(folder_, L"a.txt"), "alpha");
    MakeDir(plat::JoinPath(folder_, L"相册"));
    WriteFile(plat::JoinPath(plat::JoinPath(folder_, L"相册"), L"b.jpg"), std::string(1025, 'b'));
    WriteFile(plat::JoinPath(folder_, L"DESKTOP.INI"), "mine");  // the user's: content
    const auto before = Snapshot(folder_);

    CJiaMiWeiZhuang pass(ui_);
    ASSERT_TRUE(pass.Run(Job()));

    auto& st = engine::State();
    EXPECT_TRUE(st.done);
    EXPECT_EQ(3, st.total);
    EXPECT_EQ(3, st.moved);
    EXPECT_EQ(0, st.moveFailed);
    EXPECT_EQ(3, st.handled);
    EXPECT_TRUE(pass.Failures().empty());
    EXPECT_EQ("alpha", ReadFile(Data(L"a.txt")));
    EXPECT_EQ("mine", ReadFile(Data(L"DESKTOP.INI")));
    EXPECT_EQ(ReadFile(plat::JoinPath(folder_, L"desktop.ini"))
                  .rfind("[.ShellClassInfo]\r\nIconIndex=0\r\nIconFile=ulxjm.exe", 0),
              0u)
        << "ours in its place";
    EXPECT_EQ(std::string(1025, 'b'), ReadFile(plat::JoinPath(Data(L"相册"), L"b.jpg")));
    EXPECT_FALSE(plat::Fs().Exists(plat::JoinPath(folder_, L"a.txt")));
    // Finishing: program copy, SYSTEM mark, decorations and records.
    EXPECT_EQ("MZ program", ReadFile(plat::JoinPath(folder_, L"ulxjm.exe")));
    EXPECT_TRUE(plat::Fs().GetAttributes(folder_) & plat::kAttrSystem);
    EXPECT_TRUE(
        plat::Fs().Exists(plat::JoinPath(plat::JoinPath(folder_, L"ulxjm"), L"desktop.ini")));
    EXPECT_EQ(L"pw1",
              store::ReadFirstLine(plat::JoinPath(store::ParamDir(folder_), L"imimff.ulxjm")));
    EXPECT_EQ(L"fftype=0",
              store::ReadFirstLine(plat::JoinPath(store::ParamDir(folder_), L"typeff.ulxjm")));
    (void)before;
}

// A pass run again over an encrypted folder (finishing an interrupted one)
// leaves our decorations where they are; the user's file of that name went
// into the store the first time.
TEST_F(HidePassTest, ARunAgainLeavesOurDecorationsOut) {
    WriteFile(plat::JoinPath(folder_, L"desktop.ini"), "mine");
    WriteFile(plat::JoinPath(folder_, L"a.txt"), "a");
    {
        CJiaMiWeiZhuang pass(ui_);
        ASSERT_TRUE(pass.Run(Job()));
    }
    const std::string ours = ReadFile(plat::JoinPath(folder_, L"desktop.ini"));
    HideJob again = Job();
    again.storeReady = true;
    CJiaMiWeiZhuang pass(ui_);
    ASSERT_TRUE(pass.Run(again));
    EXPECT_EQ(0, engine::State().total.load());
    EXPECT_EQ("mine", ReadFile(Data(L"desktop.ini")));
    EXPECT_EQ(ours, ReadFile(plat::JoinPath(folder_, L"desktop.ini")));
}

// The start-up password guards the program beside it; a file of that name
// anywhere else is the user's.
TEST_F(HidePassTest, TheStartupPasswordBesideTheProgramStays) {
    for (bool besideProgram : {true, false}) {
        SCOPED_TRACE(besideProgram);
        const std::wstring root = Path(besideProgram ? L"stick" : L"other");
        MakeDir(root);
        WriteFile(plat::JoinPath(root, L"mima.dat"), "secret");
        WriteFile(plat::JoinPath(root, L"a.txt"), "a");
        const std::wstring program =
            plat::JoinPath(besideProgram ? root : Path(L"cfg"), L"加密.exe");
        WriteFile(program, "MZ");
        app::Globals().ModulePath = program;
        HideJob job = Job();
        job.root = root;
        CJiaMiWeiZhuang pass(ui_);
        ASSERT_TRUE(pass.Run(job));
        EXPECT_EQ(plat::Fs().Exists(plat::JoinPath(root, L"mima.dat")), besideProgram);
        EXPECT_EQ(plat::Fs().Exists(plat::JoinPath(store::DataDir(root), L"mima.dat")),
                  !besideProgram);
        EXPECT_TRUE(plat::Fs().Exists(plat::JoinPath(root, L"加密.exe")));
        EXPECT_FALSE(plat::Fs().Exists(plat::JoinPath(store::DataDir(root), L"加密.exe")));
    }
}

TEST_F(HidePassTest, RootWithOnlySkipListNamesMovesNothingButIsFinished) {
    for (const wchar_t* name : {L"$RECYCLE.BIN", L"System Volume Information", L"recycler88"})
        MakeDir(plat::JoinPath(folder_, name));
    WriteFile(plat::JoinPath(folder_, L"ulxjm.exe"), "old copy");

    CJiaMiWeiZhuang pass(ui_);
    ASSERT_TRUE(pass.Run(Job()));

    EXPECT_EQ(0, engine::State().total);
    EXPECT_EQ(0, engine::State().moved);
    EXPECT_TRUE(Snapshot(Data()).empty());
    EXPECT_TRUE(plat::Fs().IsDirectory(plat::JoinPath(folder_, L"$RECYCLE.BIN")));
    EXPECT_EQ("MZ program", ReadFile(plat::JoinPath(folder_, L"ulxjm.exe")));
    EXPECT_TRUE(plat::Fs().GetAttributes(folder_) & plat::kAttrSystem);
    EXPECT_TRUE(plat::Fs().Exists(plat::JoinPath(folder_, L"desktop.ini")));
    EXPECT_TRUE(engine::State().done);
}

TEST_F(HidePassTest, RunningProgramInsideTheFolderStaysPut) {
    app::Globals().ModulePath = plat::JoinPath(folder_, L"tool.exe");
    WriteFile(app::Globals().ModulePath, "MZ self");
    WriteFile(plat::JoinPath(folder_, L"x.doc"), "x");
    CJiaMiWeiZhuang pass(ui_);
    ASSERT_TRUE(pass.Run(Job()));
    EXPECT_EQ("MZ self", ReadFile(app::Globals().ModulePath));
    EXPECT_EQ("x", ReadFile(Data(L"x.doc")));
    EXPECT_EQ(1, engine::State().total);
}

// An object whose name is taken in the store gets the next free number,
// before the first dot for files.
TEST_F(HidePassTest, CollidingNamesAreNumbered) {
    ASSERT_TRUE(store::CreateStoreFolders(folder_));
    WriteFile(Data(L"report.final.doc"), "first");
    MakeDir(Data(L"photos"));
    for (int round = 1; round <= 2; ++round) {
        WriteFile(plat::JoinPath(folder_, L"report.final.doc"), "round" + std::to_string(round));
        if (round == 1) MakeDir(plat::JoinPath(folder_, L"photos"));
        CJiaMiWeiZhuang pass(ui_);
        ASSERT_TRUE(pass.Run(Job()));
        EXPECT_EQ(0, engine::State().moveFailed);
    }
    EXPECT_EQ("first", ReadFile(Data(L"report.final.doc")));
    EXPECT_EQ("round1", ReadFile(Data(L"report[1].final.doc")));
    EXPECT_EQ("round2", ReadFile(Data(L"report[2].final.doc")));
    EXPECT_TRUE(plat::Fs().IsDirectory(Data(L"photos[1]")));
}

TEST(NamingTest, CandidatesFollowTheSplitRule) {
    struct Case {
        const wchar_t* name;
        bool folder, lastDot;
        const wchar_t* want;
    } cases[] = {
        {L"report.final.doc", false, false, L"report[1].final.doc"},
        {L"report.final.doc", false, true, L"report.final[1].doc"},
        {L"photos", true, false, L"photos[1]"},
        {L"v1.2", true, false, L"v1.2[1]"},
        {L"README", false, false, L"README[1]"},
        {L"文档.备份.txt", false, false, L"文档[1].备份.txt"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.want, engine::NumberedName(c.name, 1, c.folder, c.lastDot)) << c.want;
}

TEST_F(HidePassTest, StrengthEncryptionAvoidsNamesTakenWithTheSuffix) {
    MakeDir(Path(L"dst"));
    WriteFile(Path(L"src.bin"), "s");
    WriteFile(Path(L"dst/src.bin.zpwenc0"), "encrypted earlier");
    WriteFile(Path(L"dst/src[1].bin.zpwenc0"), "encrypted earlier too");
    engine::NamingRule rule;
    rule.side = engine::NamingSide::StrengthEncrypt;
    EXPECT_EQ(Path(L"dst/src[2].bin"),
              engine::ResolveCollision(Path(L"src.bin"), Path(L"dst/src.bin"), rule));
    rule.side = engine::NamingSide::Plain;
    EXPECT_EQ(Path(L"dst/src.bin"),
              engine::ResolveCollision(Path(L"src.bin"), Path(L"dst/src.bin"), rule));
}

// Paths of 260 characters and more are refused; 259 still moves.
TEST_F(HidePassTest, PathLengthBoundary) {
    MakeDir(Path(L"to"));
    for (size_t len : {size_t(259), size_t(260)}) {
        const std::wstring dir = plat::WithSep(base_);
        std::wstring src = dir + std::wstring(len - dir.size(), L'n');
        ASSERT_EQ(len, src.size());
        WriteFile(src, "long");
        engine::State().Reset();
        CJiaMiWeiZhuang pass(ui_);
        const bool moved = pass.MoveObject(src, Path(L"to/f" + std::to_wstring(len)));
        EXPECT_EQ(len == 259, moved) << len;
        EXPECT_EQ(len == 259 ? 0 : 1, engine::State().moveFailed) << len;
        EXPECT_EQ(len == 259 ? 0u : 1u, pass.Failures().size());
        // The destination side has the same limit.
        std::wstring dst = plat::WithSep(Path(L"to")) +
                           std::wstring(len - plat::WithSep(Path(L"to")).size(), L'd');
        WriteFile(Path(L"short"), "s");
        EXPECT_EQ(len == 259, pass.MoveObject(Path(L"short"), dst)) << len;
        RemoveTree(src);
        RemoveTree(dst);
        RemoveTree(Path(L"short"));
    }
    // A long source met before any short one is also told in a box, once.
    EXPECT_EQ(1, ui_.Count(L"本次加密失败。原因是需要加密的文件夹太长。"));
}

TEST_F(HidePassTest, FolderOnAnotherVolumeMovesFileByFile) {
    HookedFs fs;
    plat::ScopedFileSystem use(fs);
    fs.hook = [](FsOp op, const std::wstring& path) -> uint32_t {
        return op == FsOp::Move && plat::OsFileSystem().IsDirectory(path)
                   ? uint32_t(plat::kErrNotSameDevice)
                   : 0;
    };
    MakeDir(plat::JoinPath(folder_, L"music"));
    MakeDir(plat::JoinPath(folder_, L"music/live"));
    WriteFile(plat::JoinPath(folder_, L"music/one.mp3"), "1");
    WriteFile(plat::JoinPath(folder_, L"music/live/two.mp3"), "22");
    CJiaMiWeiZhuang pass(ui_);
    ASSERT_TRUE(pass.Run(Job()));
    EXPECT_EQ("1", ReadFile(Data(L"music/one.mp3")));
    EXPECT_EQ("22", ReadFile(Data(L"music/live/two.mp3")));
    EXPECT_FALSE(plat::Fs().Exists(plat::JoinPath(folder_, L"music")));
    EXPECT_EQ(0, engine::State().moveFailed);
}

TEST_F(HidePassTest, FailedMoveLeavesObjectInPlaceAndIsLogged) {
    HookedFs fs;
    plat::ScopedFileSystem use(fs);
    fs.hook = [](FsOp op, const std::wstring& path) -> uint32_t {
        return op == FsOp::Move && plat::LeafName(path) == L"locked.doc"
                   ? uint32_t(plat::kErrSharingViolation)
                   : 0;
    };
    WriteFile(plat::JoinPath(folder_, L"locked.doc"), "L");
    WriteFile(plat::JoinPath(folder_, L"free.doc"), "F");
    CJiaMiWeiZhuang pass(ui_);
    ASSERT_TRUE(pass.Run(Job()));
    EXPECT_EQ("L", ReadFile(plat::JoinPath(folder_, L"locked.doc")));
    EXPECT_EQ("F", ReadFile(Data(L"free.doc")));
    EXPECT_EQ(1, engine::State().moveFailed);
    EXPECT_EQ(2, engine::State().handled);
    ASSERT_EQ(1u, pass.Failures().size());
    const auto lines = LogLines(log_);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(plat::JoinPath(folder_, L"locked.doc") + L",加密失败，原因如下：", lines[0]);
    EXPECT_EQ(0u, lines[1].find(L"错误代码为：32,"));
}

TEST_F(HidePassTest, BaseFoldersThatCannotBeCreatedStopThePass) {
    WriteFile(Path(L"plainfile"), "not a folder");
    HideJob job = Job();
    job.root = Path(L"plainfile");
    CJiaMiWeiZhuang pass(ui_);
    EXPECT_FALSE(pass.StartThread(job));
    const auto lines = LogLines(log_);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(L"建立基本目录失败。", lines[0]);
    EXPECT_EQ("not a folder", ReadFile(Path(L"plainfile")));
}

// The threaded start as the encrypt window uses it, polled like the window.
TEST_F(HidePassTest, ThreadedPassIsPolledUntilDone) {
    for (int i = 0; i < 30; ++i)
        WriteFile(plat::JoinPath(folder_, L"f" + std::to_wstring(i) + L".dat"), std::to_string(i));
    CJiaMiWeiZhuang pass(ui_);
    engine::ProgressModel model;
    model.Open();
    ASSERT_TRUE(pass.StartThread(Job()));
    engine::ProgressView view;
    // Bounded by time, not by turns: a loaded machine may take a while.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (view.end == engine::EndAction::None && std::chrono::steady_clock::now() < deadline) {
        view = model.Poll();
        std::this_thread::yield();
    }
    pass.Wait();
    EXPECT_EQ(engine::EndAction::CloseWindow, view.end);
    EXPECT_EQ(100, view.overallPercent);
    EXPECT_EQ(30u, Snapshot(Data()).size());
    EXPECT_EQ(L"pw1",
              store::ReadFirstLine(plat::JoinPath(store::ParamDir(folder_), L"imimff.ulxjm")));
}

// Mode 1: objects return from the working area to their place in the store.
TEST_F(HidePassTest, WorkingCopiesReturnToTheirPlace) {
    ASSERT_TRUE(store::CreateStoreFolders(folder_));
    const std::wstring work = store::WorkingDir(folder_);
    ASSERT_TRUE(engine::MakeDirs(plat::JoinPath(work, L"docs")));
    MakeDir(Data(L"docs"));
    WriteFile(plat::JoinPath(work, L"docs/plan.txt"), "edited");
    HideJob job;
    job.root = work;
    job.items = {L"docs" + std::wstring(1, plat::kSep) + L"plan.txt"};
    job.mode = 1;
    CJiaMiWeiZhuang pass(ui_);
    ASSERT_TRUE(pass.Run(job));
    EXPECT_EQ("edited", ReadFile(Data(L"docs/plan.txt")));
    EXPECT_FALSE(plat::Fs().Exists(plat::JoinPath(work, L"docs/plan.txt")));
}

}  // namespace
}  // namespace enginetest

namespace enginetest {
namespace {

// Mode 2: objects chosen in another folder are added below the position shown
// in the store; that folder does not become a store of its own.
TEST_F(HidePassTest, AddsObjectsBelowTheStorePosition) {
    ASSERT_TRUE(store::CreateStoreFolders(folder_));
    MakeDir(Data(L"docs"));
    MakeDir(Path(L"from"));
    WriteFile(Path(L"from/new.doc"), "new");
    WriteFile(Path(L"from/stay.doc"), "not chosen");
    HideJob job;
    job.root = Path(L"from");
    job.items = {L"new.doc"};
    job.mode = 2;
    job.storeFolder = folder_;
    job.subPath = L"docs";
    CJiaMiWeiZhuang pass(ui_);
    ASSERT_TRUE(pass.StartThread(job));
    pass.Wait();
    EXPECT_TRUE(engine::State().done);
    EXPECT_EQ("new", ReadFile(Data(L"docs/new.doc")));
    EXPECT_EQ("not chosen", ReadFile(Path(L"from/stay.doc")));
    EXPECT_FALSE(plat::Fs().Exists(Path(L"from/ulxjm")));
}

}  // namespace
}  // namespace enginetest
