// The browse window's file list without the window: rows of a store folder
// and of the working area, sorting by clicks, counts, the context menu, and
// the item commands' decisions on real folders.
#include <gtest/gtest.h>

#include <iterator>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "platform/fs.h"
#include "platform/text.h"
#include "support/test_files.h"
#include "ui/browse/logic/browse_texts.h"
#include "ui/browse/logic/file_list.h"

namespace {

namespace tx = ui::texts::browse;
using ui::browse::FileListModel;
using ui::browse::ListRow;
using ui::browse::OpenedItems;
using ui::browse::StorePlaces;

std::wstring P(std::initializer_list<std::wstring> parts) {
    std::wstring out;
    for (const auto& p : parts) out += (out.empty() ? L"" : std::wstring(1, plat::kSep)) + p;
    return out;
}

void MakeDir(const std::wstring& p) {
    ASSERT_TRUE(plat::Fs().CreateDir(p)) << p.size();
}
void MakeFile(const std::wstring& p, size_t bytes = 1) {
    ASSERT_TRUE(testsupport::WriteFileBytes(p, std::string(bytes, 'x')));
}

// "name|flag|state" of every row, in order.
std::wstring Describe(const std::vector<ListRow>& rows) {
    std::wstring out;
    for (const auto& r : rows) {
        if (!out.empty()) out += L" ";
        out += r.name + L"|" + r.flag + L"|" + r.state;
    }
    return out;
}

std::wstring Names(const std::vector<ListRow>& rows) {
    std::wstring out;
    for (const auto& r : rows) out += (out.empty() ? L"" : L" ") + r.name;
    return out;
}

// A store's data folder with a working area, as an open left it.
class BrowseFileList : public ::testing::Test {
  protected:
    void SetUp() override {
        MakeDir(data_);
        MakeDir(P({data_, L"working"}));
        MakeDir(P({data_, L"working", L"NotDelete"}));
        MakeDir(P({data_, L"相册"}));
        MakeDir(P({data_, L"相册", L"working"}));
        MakeFile(P({data_, L"报告.doc.zpwenc0"}), 1025);
        MakeFile(P({data_, L"readme"}), 0);
        MakeFile(P({data_, L"相册", L"a.jpg.ZPWENC0"}), 2048);
    }
    std::wstring Work(std::initializer_list<std::wstring> parts) {
        std::wstring out = P({data_, L"working", L"NotDelete"});
        for (const auto& p : parts) out = P({out, p});
        return out;
    }

    testsupport::TempFolder tmp_;
    std::wstring data_ = tmp_ / L"ffffff";
    OpenedItems opened_;
};

TEST_F(BrowseFileList, StoreRowsShowTheUsersNamesAndHideTheWorkingArea) {
    FileListModel list(StorePlaces::Of(data_), opened_);
    list.Fill(data_);
    ASSERT_EQ(Describe(list.Rows()), L"相册|| readme|| 报告.doc|elxjm|");
    const ListRow& doc = list.Rows()[2];
    EXPECT_EQ(doc.type, L"doc 文件");
    EXPECT_EQ(doc.size, L"2KB");
    EXPECT_EQ(doc.storedName, L"报告.doc.zpwenc0");
    EXPECT_EQ(list.Rows()[1].size, L"1KB");
    EXPECT_EQ(list.Rows()[1].type, L"其他文件");
    EXPECT_EQ(list.Rows()[0].size, L"");
    EXPECT_EQ(opened_.BrowseRelativePath(), L"");
    EXPECT_EQ(ui::browse::TotalsText(list.GetTotals()), L"总计：2文件，1文件夹，大小：1025 bytes");

    // Below the root "working" is the user's own folder; the suffix is
    // recognised in any letter case.
    list.Fill(P({data_, L"相册"}));
    EXPECT_EQ(Describe(list.Rows()), L"working|| a.jpg|elxjm|");
    EXPECT_EQ(opened_.BrowseRelativePath(), L"相册" + std::wstring(1, plat::kSep));
    EXPECT_EQ(list.CurrentPath(), P({data_, L"相册"}) + plat::kSep);
}

TEST_F(BrowseFileList, OpenedItemsAndWorkingCopiesShowAsDecrypted) {
    // 报告.doc was opened: it left the store for the working area. The
    // album was opened too while the store still lists it; a folder of the
    // same name in the working area is not listed twice.
    ASSERT_TRUE(plat::Fs().Move(P({data_, L"报告.doc.zpwenc0"}), Work({L"报告.doc"})));
    MakeDir(Work({L"相册"}));
    MakeDir(Work({L"新照片"}));
    opened_.AddFile(L"报告.doc", 7);
    opened_.AddFolder(L"相册");

    FileListModel list(StorePlaces::Of(data_), opened_);
    list.Fill(data_);
    EXPECT_EQ(Describe(list.Rows()), L"新照片||已解密 相册||已解密 readme|| 报告.doc||已解密");
    EXPECT_TRUE(list.Rows()[3].workingCopy);
    EXPECT_FALSE(list.Rows()[1].workingCopy);

    // Inside the opened album every stored row is open.
    MakeFile(Work({L"相册", L"b.jpg"}));
    list.Fill(P({data_, L"相册"}));
    EXPECT_EQ(Describe(list.Rows()), L"working||已解密 a.jpg|elxjm|已解密 b.jpg||已解密");
}

TEST_F(BrowseFileList, ColumnClicksSortAsTheWindowDoes) {
    MakeFile(P({data_, L"b.txt"}), 5000);
    FileListModel list(StorePlaces::Of(data_), opened_);
    const struct {
        std::vector<int> clicks;
        const wchar_t* order;
    } kCases[] = {
        {{}, L"相册 b.txt readme 报告.doc"},
        // The list is sorted by name after a fill: a click on it reverses.
        {{ui::browse::kColName}, L"相册 报告.doc readme b.txt"},
        {{ui::browse::kColSize}, L"相册 readme 报告.doc b.txt"},
        {{ui::browse::kColSize, ui::browse::kColSize}, L"相册 b.txt 报告.doc readme"},
        // Type texts compare as text: "doc 文件", "txt 文件", "其他文件".
        {{ui::browse::kColSize, ui::browse::kColType}, L"相册 报告.doc b.txt readme"},
        // The flag column does not group folders first.
        {{ui::browse::kColFlag}, L"相册 b.txt readme 报告.doc"},
        {{ui::browse::kColFlag, ui::browse::kColFlag}, L"报告.doc 相册 b.txt readme"},
    };
    for (const auto& c : kCases) {
        list.Fill(data_);
        for (int col : c.clicks) list.ClickColumn(col);
        EXPECT_EQ(Names(list.Rows()), c.order) << c.clicks.size();
    }
}

TEST(BrowseSort, DateClicksGoUpThenDownWithoutFolderGrouping) {
    ui::browse::SortState s;
    EXPECT_TRUE(s.Click(ui::browse::kColDate));
    EXPECT_FALSE(s.Click(ui::browse::kColDate));
    EXPECT_TRUE(s.Click(ui::browse::kColDate));
    EXPECT_TRUE(s.Click(ui::browse::kColState));

    auto row = [](const wchar_t* name, bool folder, const wchar_t* date) {
        ListRow r;
        r.name = name;
        r.folder = folder;
        r.size = folder ? L"" : L"1KB";
        r.date = date;
        return r;
    };
    std::vector<ListRow> rows = {
        row(L"新", false, L"2025-03-01 10:00:00"), row(L"旧夹", true, L"2024-01-01 00:00:00"),
        row(L"夹", true, L"2026-01-01 00:00:00"), row(L"坏", false, L"1970-01-01 08:00:00")};
    ui::browse::SortRows(rows, ui::browse::kColDate, true);
    EXPECT_EQ(Names(rows), L"坏 旧夹 新 夹");
    ui::browse::SortRows(rows, ui::browse::kColDate, false);
    EXPECT_EQ(Names(rows), L"夹 新 旧夹 坏");
}

// The type column speaks Chinese: the shell's name when it does, our own
// text in place of an untranslated one.
TEST(BrowseType, ShellNamesInChineseElseOurOwn) {
    const struct {
        const wchar_t* name;
        bool folder;
        const wchar_t* shell;
        const wchar_t* want;
    } kCases[] = {
        {L"相册", true, L"文件夹", L"文件夹"},
        {L"相册", true, L"Folder", L"文件夹"},
        {L"相册", true, L"", L"文件夹"},
        {L"a.txt", false, L"文本文档", L"文本文档"},
        {L"a.txt", false, L"Text Document", L"txt 文件"},
        {L"README", false, L"File", L"其他文件"},
        {L"b.doc", false, L"", L"doc 文件"},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(ui::browse::TypeText(c.name, c.folder, c.shell), c.want)
            << plat::ToUtf8(c.name) << " / " << plat::ToUtf8(c.shell);
}

TEST(BrowseSelection, CountsFilesFoldersAndKilobytes) {
    std::vector<ListRow> rows(4);
    rows[0].size = L"";
    rows[1].size = L"1,024KB";
    rows[2].size = L"3KB";
    rows[3].size = L"";
    const auto s = ui::browse::CountSelection(rows, {0, 1, 2, 9});
    EXPECT_EQ(s.files, 2);
    EXPECT_EQ(s.folders, 1);
    EXPECT_EQ(s.kb, 1027u);
    EXPECT_EQ(ui::browse::SelectionText(s), L"已选中：2文件，1文件夹");
}

TEST(BrowseMenu, EnablingFollowsSelectionAndTheOpenOnlyVariant) {
    using ui::browse::MenuCommand;
    const MenuCommand all[] = {ui::browse::kCmdOpen,    ui::browse::kCmdCopyOut,
                               ui::browse::kCmdMoveOut, ui::browse::kCmdCut,
                               ui::browse::kCmdCopy,    ui::browse::kCmdPaste,
                               ui::browse::kCmdMoveIn,  ui::browse::kCmdNewFolder,
                               ui::browse::kCmdRename,  ui::browse::kCmdDelete};
    const struct {
        bool selected, readOnly;
        const char* enabled;  // one mark per entry of `all`
    } kCases[] = {
        {true, false, "1110001111"},
        {false, false, "0000001100"},
        {true, true, "1000000000"},
        {false, true, "0000000000"},
    };
    for (const auto& c : kCases)
        for (size_t i = 0; i < std::size(all); ++i)
            EXPECT_EQ(ui::browse::MenuEnabled(all[i], c.selected, c.readOnly), c.enabled[i] == '1')
                << all[i] << " selected " << c.selected << " readOnly " << c.readOnly;
}

TEST_F(BrowseFileList, OpenAndCopyOutLeaveOpenItemsAlone) {
    MakeFile(P({data_, L"b.txt"}));
    opened_.AddFile(L"b.txt", 3);
    FileListModel list(StorePlaces::Of(data_), opened_);
    list.Fill(data_);
    ASSERT_EQ(Names(list.Rows()), L"相册 b.txt readme 报告.doc");

    // Copy-to with one open and one stored file selected.
    const auto out = ui::browse::PlanDecryptOut(list.Rows(), {1, 3}, L"", opened_);
    EXPECT_EQ(out.items, std::vector<std::wstring>{L"报告.doc.zpwenc0"});
    EXPECT_EQ(out.OpenMessage(), L"存在 1 个文件处于打开状态，不能复制和移动。");
    EXPECT_EQ(ui::browse::PlanDecryptOut(list.Rows(), {3}, L"", opened_).OpenMessage(), L"");

    // The open file is launched again, not decrypted again; the folder
    // goes along from the menu's open but not from the button's.
    const auto open = ui::browse::PlanOpen(list.Rows(), {0, 1, 3}, L"", opened_);
    EXPECT_EQ(open.toDecrypt, (std::vector<std::wstring>{L"相册", L"报告.doc.zpwenc0"}));
    ASSERT_EQ(open.launches.size(), 3u);
    EXPECT_TRUE(open.launches[0].folder);
    EXPECT_EQ(open.launches[2].rel, L"报告.doc");
    EXPECT_TRUE(ui::browse::PlanOpenFirst(list.Rows(), {0, 3}, L"", opened_).launches.empty());
    const auto first = ui::browse::PlanOpenFirst(list.Rows(), {3, 0}, L"", opened_);
    ASSERT_EQ(first.launches.size(), 1u);
    EXPECT_EQ(first.launches[0].row, 3);
}

TEST(BrowseNewFolder, TakesTheFirstFreeNumber) {
    testsupport::TempFolder tmp;
    EXPECT_EQ(ui::browse::NewFolderPath(tmp.path()), tmp / L"新建文件夹");
    ASSERT_TRUE(plat::Fs().CreateDir(tmp / L"新建文件夹"));
    ASSERT_TRUE(plat::Fs().CreateDir(tmp / L"新建文件夹 (1)"));
    ASSERT_TRUE(testsupport::WriteFileBytes(tmp / L"新建文件夹 (3)", "file"));
    EXPECT_EQ(ui::browse::NewFolderPath(tmp.path()), tmp / L"新建文件夹 (2)");
}

TEST(BrowseRename, RefusesWhatWouldCollideOrMisleadAndRenamesTheStoredName) {
    const struct {
        const wchar_t* row;  // display name of the row renamed
        const wchar_t* to;
        const wchar_t* message;  // nullptr: accepted
        const wchar_t* after;    // stored names afterwards
    } kCases[] = {
        // Equal ignoring case, or empty: refused without a word.
        {L"a.txt", L"A.TXT", L"", L"a.txt.zpwenc0 b.txt c.txt.zpwenc0 plain.txt 文档"},
        {L"a.txt", L"", L"", L"a.txt.zpwenc0 b.txt c.txt.zpwenc0 plain.txt 文档"},
        // Either stored form of the new name taken.
        {L"a.txt", L"b.txt", tx::kFileExists, L"a.txt.zpwenc0 b.txt c.txt.zpwenc0 plain.txt 文档"},
        {L"a.txt", L"c.txt", tx::kFileExists, L"a.txt.zpwenc0 b.txt c.txt.zpwenc0 plain.txt 文档"},
        {L"a.txt", L"新名.txt", nullptr, L"b.txt c.txt.zpwenc0 plain.txt 新名.txt.zpwenc0 文档"},
        // A new name ending in the suffix keeps it as part of the name.
        {L"a.txt", L"x.zpwenc0", nullptr, L"b.txt c.txt.zpwenc0 plain.txt x.zpwenc0.zpwenc0 文档"},
        // Plain files take the new name as it is, but never the suffix.
        {L"plain.txt", L"计划.txt", nullptr, L"a.txt.zpwenc0 b.txt c.txt.zpwenc0 计划.txt 文档"},
        {L"plain.txt", L"q.ZPWENC0",
         L"未加密的文件不能以“.zpwenc0”结尾命名，否则打开时会被当作加密文件。",
         L"a.txt.zpwenc0 b.txt c.txt.zpwenc0 plain.txt 文档"},
        {L"plain.txt", L"c.txt", tx::kFileExists,
         L"a.txt.zpwenc0 b.txt c.txt.zpwenc0 plain.txt 文档"},
        // Names that would leave the folder or that the file system cannot hold.
        {L"a.txt", L"sub/x.txt", tx::kBadName, L"a.txt.zpwenc0 b.txt c.txt.zpwenc0 plain.txt 文档"},
        {L"a.txt", L"sub\\x.txt", tx::kBadName,
         L"a.txt.zpwenc0 b.txt c.txt.zpwenc0 plain.txt 文档"},
        {L"文档", L"..", tx::kBadName, L"a.txt.zpwenc0 b.txt c.txt.zpwenc0 plain.txt 文档"},
        {L"文档", L"x.", tx::kBadName, L"a.txt.zpwenc0 b.txt c.txt.zpwenc0 plain.txt 文档"},
        {L"文档", L"b.txt", tx::kFolderExists, L"a.txt.zpwenc0 b.txt c.txt.zpwenc0 plain.txt 文档"},
        {L"文档", L"资料", nullptr, L"a.txt.zpwenc0 b.txt c.txt.zpwenc0 plain.txt 资料"},
    };
    for (const auto& c : kCases) {
        testsupport::TempFolder tmp;
        ASSERT_TRUE(testsupport::WriteFileBytes(tmp / L"a.txt.zpwenc0", "a"));
        ASSERT_TRUE(testsupport::WriteFileBytes(tmp / L"c.txt.zpwenc0", "c"));
        ASSERT_TRUE(testsupport::WriteFileBytes(tmp / L"b.txt", "b"));
        ASSERT_TRUE(testsupport::WriteFileBytes(tmp / L"plain.txt", "p"));
        ASSERT_TRUE(plat::Fs().CreateDir(tmp / L"文档"));
        OpenedItems opened;
        std::vector<ListRow> rows = ui::browse::ListRows(tmp.path(), false, L"");
        const ListRow* row = nullptr;
        for (const auto& r : rows)
            if (r.name == c.row) row = &r;
        ASSERT_NE(row, nullptr);
        const auto res = ui::browse::RenameRow(*row, c.to, tmp.path(), L"", opened);
        EXPECT_EQ(res.accepted, c.message == nullptr) << c.to;
        EXPECT_EQ(res.message, c.message ? c.message : L"") << c.to;
        std::vector<ListRow> now = ui::browse::ListRows(tmp.path(), false, L"");
        ui::browse::SortRows(now, ui::browse::kColName, true);
        std::wstring stored;
        for (const auto& r : now) stored += (stored.empty() ? L"" : L" ") + r.storedName;
        // Folders sort first; move the folder to the end to compare with the table.
        const size_t space = stored.find(L' ');
        stored = stored.substr(space + 1) + L" " + stored.substr(0, space);
        EXPECT_EQ(stored, c.after) << c.to;
    }
}

TEST(BrowseRename, AnOpenItemOrAFolderHoldingOneIsNotRenamed) {
    testsupport::TempFolder tmp;
    ASSERT_TRUE(plat::Fs().CreateDir(tmp / L"文档"));
    OpenedItems opened;
    opened.AddFile(L"文档" + std::wstring(1, plat::kSep) + L"报告.doc", 1);
    const auto rows = ui::browse::ListRows(tmp.path(), false, L"");
    ASSERT_EQ(rows.size(), 1u);
    const auto res = ui::browse::RenameRow(rows[0], L"资料", tmp.path(), L"", opened);
    EXPECT_FALSE(res.accepted);
    EXPECT_EQ(res.message, tx::kRenameWhileOpen);
    EXPECT_TRUE(plat::Fs().IsDirectory(tmp / L"文档"));
}

TEST(BrowseDelete, QuestionListsThreeNamesAndDeletesStoredNames) {
    testsupport::TempFolder tmp;
    ASSERT_TRUE(testsupport::WriteFileBytes(tmp / L"一.doc.zpwenc0", "1"));
    ASSERT_TRUE(testsupport::WriteFileBytes(tmp / L"二.txt", "2"));
    ASSERT_TRUE(plat::Fs().CreateDir(tmp / L"三"));
    ASSERT_TRUE(plat::Fs().CreateDir(P({tmp / L"三", L"深"})));
    ASSERT_TRUE(testsupport::WriteFileBytes(P({tmp / L"三", L"深", L"x.zpwenc0"}), "x"));
    ASSERT_TRUE(testsupport::WriteFileBytes(tmp / L"四", "4"));
    std::vector<ListRow> rows = ui::browse::ListRows(tmp.path(), false, L"");
    ui::browse::SortRows(rows, ui::browse::kColName, true);
    ASSERT_EQ(Names(rows), L"三 一.doc 二.txt 四");

    EXPECT_EQ(ui::browse::PlanDelete(rows, {0, 1, 2}, tmp.path()).question,
              L"您是否确认删除所选择的 3 个文件（夹），删除后这些文件（夹）将不复存在。\r\n\r\n"
              L"您选择的文件（夹） 如下：\r\n1、三\r\n2、一.doc\r\n3、二.txt\r\n");
    const auto plan = ui::browse::PlanDelete(rows, {0, 1, 2, 3}, tmp.path());
    EXPECT_EQ(plan.question,
              L"您是否确认删除所选择的 4 个文件（夹），删除后这些文件（夹）将不复存在。\r\n\r\n"
              L"您选择的文件（夹） 如下：\r\n1、三\r\n2、一.doc\r\n3、二.txt\r\n"
              L"还有1 个未列出...\r\n");
    ASSERT_EQ(plan.paths.size(), 4u);
    EXPECT_EQ(plan.paths[1], tmp / L"一.doc.zpwenc0");

    ui::browse::DeletePaths(plan.paths);
    EXPECT_TRUE(ui::browse::ListRows(tmp.path(), false, L"").empty());
}

#ifndef _WIN32
TEST(BrowseDelete, ALinkInADeletedFolderGoesAloneNotWhatItLeadsTo) {
    testsupport::TempFolder tmp;
    ASSERT_TRUE(plat::Fs().CreateDir(tmp / L"outside"));
    ASSERT_TRUE(testsupport::WriteFileBytes(P({tmp / L"outside", L"keep.txt"}), "k"));
    ASSERT_TRUE(plat::Fs().CreateDir(tmp / L"store"));
    ASSERT_TRUE(plat::Fs().CreateDir(P({tmp / L"store", L"相册"})));
    const std::string link = plat::ToUtf8(P({tmp / L"store", L"相册", L"link"}));
    ASSERT_EQ(symlink(plat::ToUtf8(tmp / L"outside").c_str(), link.c_str()), 0);
    ui::browse::DeletePaths({P({tmp / L"store", L"相册"})});
    EXPECT_FALSE(plat::Fs().Exists(P({tmp / L"store", L"相册"})));
    EXPECT_TRUE(plat::Fs().IsFile(P({tmp / L"outside", L"keep.txt"})));
}
#endif

TEST(BrowseMoveIn, ChosenFilesAreNamedBelowTheirFolder) {
    const std::wstring dir = P({L"", L"tmp", L"来源"}) + plat::kSep;
    const auto n = ui::browse::SplitChosenFiles({dir + L"a.txt", dir + L"图.png"});
    EXPECT_EQ(n.sourceFolder, dir);
    EXPECT_EQ(n.names, (std::vector<std::wstring>{L"a.txt", L"图.png"}));
    EXPECT_TRUE(ui::browse::SplitChosenFiles({}).names.empty());
}

}  // namespace
