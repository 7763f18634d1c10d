// The progress display's logic, driven from a hand-set pass state.
#include "engine/progress_model.h"

#include <gtest/gtest.h>

#include "app/globals.h"
#include "platform/fs.h"

namespace {

using engine::EndAction;
using engine::PassState;
using engine::ProgressModel;

TEST(ProgressModelTest, TitleAndControlsByKind) {
    const wchar_t* titles[] = {
        L"快速加密进度--岚栩只读加密",     L"较高强度加密进度--岚栩只读加密",
        L"最高强度加密进度--岚栩只读加密", L"快速解密进度--岚栩只读加密",
        L"较高强度解密进度--岚栩只读加密", L"最高强度解密进度--岚栩只读加密"};
    PassState st;
    ProgressModel model(st);
    for (int kind = 0; kind < 6; ++kind) {
        st.kind = kind;
        EXPECT_EQ(titles[kind], model.Title());
        EXPECT_EQ(kind != 0 && kind != 3, model.ShowsSkippedCount()) << kind;
        EXPECT_EQ(kind <= 2, model.CancelEnabled()) << kind;
        EXPECT_EQ(std::wstring(kind > 2 ? L"未强度解密:" : L"未强度加密:") + L"0",
                  model.Poll().skippedText);
    }
}

TEST(ProgressModelTest, Percentages) {
    PassState st;
    ProgressModel model(st);
    struct Case {
        int kind, total, handled;
        uint64_t bytes, length;
        int overall, file;
    } cases[] = {
        {0, 0, 0, 0, 0, 100, 100},        // nothing to do shows done, no division by zero
        {1, 3, 1, 5, 10, 33, 100},        // truncated; only highest strength has a file bar
        {2, 3, 2, 512, 1024, 66, 50},     //
        {5, 4, 5, 10, 0, 100, 100},       // more handled than counted stays at 100
        {2, 7, 7, 1025, 1025, 100, 100},  //
    };
    for (const Case& c : cases) {
        st.kind = c.kind;
        st.total = c.total;
        st.handled = c.handled;
        st.bytesDone = c.bytes;
        st.currentLength = c.length;
        auto v = model.Poll();
        EXPECT_EQ(c.overall, v.overallPercent) << c.total << "/" << c.handled;
        EXPECT_EQ(std::to_wstring(c.overall) + L"%", v.overallText);
        EXPECT_EQ(c.file, v.filePercent) << c.bytes << "/" << c.length;
    }
}

TEST(ProgressModelTest, ElapsedTimeFromTicks) {
    EXPECT_EQ(L"00:00:00", ProgressModel::ElapsedText(19));
    EXPECT_EQ(L"00:00:01", ProgressModel::ElapsedText(20));
    EXPECT_EQ(L"00:01:59", ProgressModel::ElapsedText(20 * 119));
    EXPECT_EQ(L"01:00:00", ProgressModel::ElapsedText(72000));
    EXPECT_EQ(L"02:03:04", ProgressModel::ElapsedText(20 * (2 * 3600 + 3 * 60 + 4)));
    PassState st;
    ProgressModel model(st);
    model.Open();
    for (int i = 0; i < 39; ++i) model.Poll();
    EXPECT_EQ(L"00:00:02", model.Poll().elapsed);
}

TEST(ProgressModelTest, CurrentObjectShortening) {
    const std::wstring sep(1, plat::kSep);
    // 41 characters, last component 10: the first 30, "...", the component.
    const std::wstring dir = L"E:" + sep + std::wstring(27, L'd') + sep;  // 31 characters
    const std::wstring leaf = L"0123456.ab";
    ASSERT_EQ(41u, (dir + leaf).size());
    EXPECT_EQ(dir.substr(0, 30) + L"..." + sep + leaf, ProgressModel::Shorten(dir + leaf));
    // Up to 40 characters stay as they are.
    EXPECT_EQ((dir + leaf).substr(1), ProgressModel::Shorten((dir + leaf).substr(1)));
    // A component of 40 characters or more keeps only the drive part.
    const std::wstring longLeaf(45, L'x');
    EXPECT_EQ(L"E:" + sep + L"..." + sep + longLeaf, ProgressModel::Shorten(dir + longLeaf));
}

TEST(ProgressModelTest, StorePartsAreRemovedFromTheShownPath) {
    const std::wstring sep(1, plat::kSep);
    app::AppGlobals saved = app::Globals();
    app::Globals().StoreDataRel = L"ulxjm" + sep + L"ffffff";
    app::Globals().IsVistaOrLater = true;
    EXPECT_EQ(L"F:" + sep + L"a" + sep + L"b.txt",
              ProgressModel::DisplayPath(L"F:" + sep + L"a" + sep + L"ulxjm" + sep + L"ffffff" +
                                         sep + L"b.txt"));
    EXPECT_EQ(L"F:" + sep + L"b.txt", ProgressModel::DisplayPath(L"F:" + sep + L"ulxjm,NotDelete." +
                                                                 sep + L"ffffff" + sep + L"b.txt"));
    app::Globals() = saved;
}

TEST(ProgressModelTest, EndCheck) {
    struct Case {
        int operation, skipped, failed, renamed;
        bool fileOk;
        EndAction want;
    } cases[] = {
        {engine::kOpEncrypt, 0, 0, 0, true, EndAction::CloseWindow},
        {engine::kOpEncrypt, 0, 0, 0, false, EndAction::WaitForUser},
        {engine::kOpEncrypt, 1, 0, 0, false, EndAction::OpenLogAndClose},
        {engine::kOpFullDecrypt, 0, 1, 0, true, EndAction::OpenLogAndClose},
        {engine::kOpFullDecrypt, 0, 0, 2, true, EndAction::OpenLogAndClose},
        {engine::kOpFullDecrypt, 0, 0, 0, true, EndAction::WaitForUser},
        {engine::kOpBrowse, 0, 0, 0, true, EndAction::WaitForUser},
    };
    for (const Case& c : cases) {
        PassState st;
        st.operation = c.operation;
        ProgressModel model(st);
        model.Open();
        EXPECT_EQ(EndAction::None, model.Poll().end);
        EXPECT_FALSE(model.Poll().closeEnabled);
        st.strengthSkipped = c.skipped;
        st.moveFailed = c.failed;
        st.renamed = c.renamed;
        st.fileOk = c.fileOk;
        st.done = true;
        auto v = model.Poll();
        EXPECT_EQ(c.want, v.end) << c.operation << c.skipped << c.failed << c.renamed;
        EXPECT_TRUE(v.closeEnabled);
        // Reported once only.
        EXPECT_EQ(EndAction::None, model.Poll().end);
    }
}

TEST(ProgressModelTest, CancelEnablesClose) {
    PassState st;
    ProgressModel model(st);
    model.RequestCancel();
    auto v = model.Poll();
    EXPECT_TRUE(v.cancelRequested);
    EXPECT_TRUE(v.closeEnabled);
    EXPECT_FALSE(v.done);
}

}  // namespace
