// Restore of normal-strength stores over real temporary folders.
#include "engine/restore_pass.h"

#include <gtest/gtest.h>

#include "engine/engine.h"
#include "engine/engine_fixture.h"
#include "engine/hooked_fs.h"
#include "engine/progress_model.h"
#include "store/layout.h"

namespace enginetest {
namespace {

class RestorePassTest : public EngineTest {
  protected:
    void Fill() {
        WriteFile(plat::JoinPath(folder_, L"a.txt"), "alpha");
        WriteFile(plat::JoinPath(folder_, L"空.bin"), "");
        MakeDir(plat::JoinPath(folder_, L"photos"));
        WriteFile(plat::JoinPath(folder_, L"photos/p[1].jpg"), std::string(1024, 'p'));
    }
    void Encrypt() {
        auto s = engine::EncryptFolder(folder_, L"pw", L"", 0, ui_);
        ASSERT_TRUE(s.ok());
        ASSERT_TRUE(store::IsEncryptedFolder(folder_));
    }
};

TEST_F(RestorePassTest, RoundTripGivesBackEverythingAndRemovesTheStore) {
    Fill();
    const auto before = Snapshot(folder_);
    Encrypt();
    auto s = engine::RestoreFolder(folder_, L"pw", ui_);
    EXPECT_TRUE(s.ok());
    EXPECT_EQ(3, s.moved);
    EXPECT_TRUE(engine::State().done);
    // The program copy stays with the folder; the store and decorations go.
    auto after = Snapshot(folder_);
    after.erase(L"ulxjm.exe");
    EXPECT_TRUE(SameTree(before, after));
    EXPECT_FALSE(plat::Fs().GetAttributes(folder_) & plat::kAttrSystem);
    EXPECT_TRUE(LogLines(log_).empty());
}

// A folder's own "desktop.ini" and "readme.txt" are the user's: they travel
// into the store and come back byte-exact, while ours are taken away, even
// when the settings changed in between.
TEST_F(RestorePassTest, TheUsersFilesUnderOurNamesComeBackAndOursGo) {
    for (int kind : {0, 2}) {
        SCOPED_TRACE(kind);
        (void)plat::Fs().SetAttributes(folder_, plat::kAttrNormal);
        Fill();
        WriteFile(plat::JoinPath(folder_, L"desktop.ini"), "[.ShellClassInfo]\r\nIconFile=my.ico");
        WriteFile(plat::JoinPath(folder_, L"readme.txt"), "my own notes");
        const auto before = Snapshot(folder_);
        ASSERT_TRUE(plat::UserSettings().WriteProfileInt(L"", L"ReadMe", 1));
        ASSERT_TRUE(plat::UserSettings().WriteProfileString(L"", L"szTips", L"tip one"));
        ASSERT_TRUE(engine::EncryptFolder(folder_, L"pw", L"", kind, ui_).ok());
        EXPECT_NE(ReadFile(plat::JoinPath(folder_, L"readme.txt")), "my own notes");
        EXPECT_NE(ReadFile(plat::JoinPath(folder_, L"desktop.ini")).find("tip one"),
                  std::string::npos);

        ASSERT_TRUE(plat::UserSettings().WriteProfileString(L"", L"szTips", L"tip two"));
        ASSERT_TRUE(plat::UserSettings().WriteProfileString(L"", L"szReadme", L"another text"));
        auto s = engine::DecryptFolder(folder_, L"pw", ui_);
        EXPECT_TRUE(s.ok());
        EXPECT_FALSE(store::IsEncryptedFolder(folder_));
        auto after = Snapshot(folder_);
        after.erase(L"ulxjm.exe");
        EXPECT_TRUE(SameTree(before, after));
        EXPECT_EQ(0, engine::State().renamed.load()) << "nothing came back under another name";
        RemoveTree(folder_);
        MakeDir(folder_);
        ASSERT_TRUE(plat::UserSettings().WriteProfileInt(L"", L"ReadMe", 0));
    }
}

TEST_F(RestorePassTest, WrongPasswordStartsNothing) {
    Fill();
    Encrypt();
    auto s = engine::RestoreFolder(folder_, L"PW", ui_);
    EXPECT_FALSE(s.started);
    EXPECT_EQ(1, ui_.Count(L"输入的密码不正确。"));
    EXPECT_EQ("alpha", ReadFile(plat::JoinPath(store::DataDir(folder_), L"a.txt")));
}

TEST_F(RestorePassTest, CollisionIsRenamedAndLogged) {
    Fill();
    Encrypt();
    WriteFile(plat::JoinPath(folder_, L"a.txt"), "new one");
    MakeDir(plat::JoinPath(folder_, L"photos"));
    auto s = engine::RestoreFolder(folder_, L"pw", ui_);
    EXPECT_TRUE(s.ok());
    EXPECT_EQ(2, s.renamed);
    EXPECT_EQ("new one", ReadFile(plat::JoinPath(folder_, L"a.txt")));
    EXPECT_EQ("alpha", ReadFile(plat::JoinPath(folder_, L"a[1].txt")));
    EXPECT_EQ(std::string(1024, 'p'), ReadFile(plat::JoinPath(folder_, L"photos[1]/p[1].jpg")));
    const auto lines = LogLines(log_);
    const std::wstring want = L"对象" + plat::JoinPath(folder_, L"a.txt") + L" 已经更名为" +
                              plat::JoinPath(folder_, L"a[1].txt");
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), want));
    // A rename opens the log at the end.
    engine::ProgressModel model;
    EXPECT_EQ(engine::EndAction::OpenLogAndClose, model.Poll().end);
}

TEST_F(RestorePassTest, FailedObjectKeepsStoreAndRecords) {
    Fill();
    Encrypt();
    HookedFs fs;
    plat::ScopedFileSystem use(fs);
    fs.hook = [](FsOp op, const std::wstring& path) -> uint32_t {
        return op == FsOp::Move && plat::LeafName(path) == L"a.txt"
                   ? uint32_t(plat::kErrAccessDenied)
                   : 0;
    };
    auto s = engine::RestoreFolder(folder_, L"pw", ui_);
    EXPECT_TRUE(s.started);
    EXPECT_EQ(1, s.moveFailed);
    EXPECT_TRUE(engine::State().done);
    EXPECT_EQ("alpha", ReadFile(plat::JoinPath(store::DataDir(folder_), L"a.txt")));
    EXPECT_EQ("", ReadFile(plat::JoinPath(folder_, L"空.bin")));
    EXPECT_EQ(L"pw",
              store::ReadFirstLine(plat::JoinPath(store::ParamDir(folder_), L"imimff.ulxjm")));
    EXPECT_TRUE(plat::Fs().GetAttributes(folder_) & plat::kAttrSystem);
    const auto lines = LogLines(log_);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(
        L"文件" + plat::JoinPath(store::DataDir(folder_), L"a.txt") + L",解密失败，原因如下：",
        lines[0]);
    // Once the obstacle is gone, a second restore finishes the job.
    fs.hook = nullptr;
    EXPECT_TRUE(engine::RestoreFolder(folder_, L"pw", ui_).ok());
    EXPECT_EQ("alpha", ReadFile(plat::JoinPath(folder_, L"a.txt")));
    EXPECT_FALSE(store::IsEncryptedFolder(folder_));
}

// Clearing, not toggling: a folder that lost its SYSTEM mark keeps it off.
TEST_F(RestorePassTest, SystemMarkIsClearedNotToggled) {
    Fill();
    Encrypt();
    const uint32_t a = plat::Fs().GetAttributes(folder_);
    ASSERT_TRUE(plat::Fs().SetAttributes(folder_, a & ~plat::kAttrSystem & ~plat::kAttrDirectory));
    EXPECT_TRUE(engine::RestoreFolder(folder_, L"pw", ui_).ok());
    EXPECT_FALSE(plat::Fs().GetAttributes(folder_) & plat::kAttrSystem);
}

// A store that still holds something after the moves (here: an object the
// pass did not list) keeps its records.
TEST_F(RestorePassTest, StoreWithContentLeftIsNotRemoved) {
    Fill();
    Encrypt();
    engine::RestorePass pass(ui_);
    pass.SetFolder(folder_);
    WriteFile(plat::JoinPath(store::DataDir(folder_), L"late.txt"), "late");
    EXPECT_FALSE(pass.RemoveStore());
    EXPECT_EQ(L"pw",
              store::ReadFirstLine(plat::JoinPath(store::ParamDir(folder_), L"imimff.ulxjm")));
}

}  // namespace
}  // namespace enginetest
