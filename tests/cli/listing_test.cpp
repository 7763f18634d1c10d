// The browse window's listing rules as the command applies them, and the
// encrypt window's folder checks.
#include "cli/listing.h"

#include <gtest/gtest.h>

#include "cli/commands.h"
#include "cli/progress.h"
#include "cli/store_view.h"
#include "engine/naming.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "support/test_files.h"

namespace {

using cli::ListRow;

TEST(CliListing, SizeColumnRoundsUpToKilobytesAndGroupsDigits) {
    const struct {
        uint64_t bytes;
        const wchar_t* text;
    } kCases[] = {
        {0, L"1KB"},
        {1, L"1KB"},
        {1024, L"1KB"},
        {1025, L"2KB"},
        {1048576, L"1,024KB"},
        {1048577, L"1,025KB"},
        {1024000000, L"1,000,000KB"},
    };
    for (const auto& c : kCases) EXPECT_EQ(cli::SizeText(c.bytes), c.text) << c.bytes;
}

TEST(CliListing, TypeFallsBackToTheExtension) {
    EXPECT_EQ(cli::TypeText(L"a.b.txt", false), L"txt 文件");
    EXPECT_EQ(cli::TypeText(L"README", false), L"其他文件");
    EXPECT_EQ(cli::TypeText(L"x.y", true), L"文件夹");
}

ListRow Row(const wchar_t* name, bool folder, const wchar_t* size, const wchar_t* date,
            const wchar_t* flag = L"") {
    ListRow r;
    r.name = name;
    r.folder = folder;
    r.size = folder ? L"" : size;
    r.date = date;
    r.flag = flag;
    return r;
}

std::wstring Names(const std::vector<ListRow>& rows) {
    std::wstring out;
    for (const auto& r : rows) out += (out.empty() ? L"" : L" ") + r.name;
    return out;
}

TEST(CliListing, SortFollowsTheColumnRules) {
    const std::vector<ListRow> rows = {
        Row(L"b.txt", false, L"2KB", L"2024-01-02 10:00:00", L"elxjm"),
        Row(L"Zdir", true, L"", L"2024-01-01 09:00:00"),
        Row(L"a.txt", false, L"1,024KB", L"2024-01-03 08:00:00"),
        Row(L"adir", true, L"", L"2024-01-05 08:00:00"),
        Row(L"c.txt", false, L"9KB", L"2024-01-02 10:00:59"),
    };
    const struct {
        int column;
        bool ascending;
        const wchar_t* order;
    } kCases[] = {
        // Folders first, names ignore case.
        {cli::kColName, true, L"adir Zdir a.txt b.txt c.txt"},
        {cli::kColName, false, L"Zdir adir c.txt b.txt a.txt"},
        // Sizes compare as numbers ("1,024KB" is the largest).
        {cli::kColSize, false, L"Zdir adir a.txt c.txt b.txt"},
        // Dates: no folder grouping, minutes only (b and c tie, keep order).
        {cli::kColDate, true, L"Zdir b.txt c.txt a.txt adir"},
        {cli::kColDate, false, L"adir a.txt b.txt c.txt Zdir"},
        // Flag: no folder grouping either.
        {cli::kColFlag, false, L"b.txt Zdir a.txt adir c.txt"},
    };
    for (const auto& c : kCases) {
        std::vector<ListRow> sorted = rows;
        cli::SortRows(sorted, c.column, c.ascending);
        EXPECT_EQ(Names(sorted), c.order) << c.column << " " << c.ascending;
    }
}

TEST(CliListing, StoreFolderShowsPlainNamesAndSkipsTheWorkingArea) {
    testsupport::TempFolder tmp;
    const std::wstring data = tmp / L"ffffff";
    ASSERT_TRUE(plat::Fs().CreateDir(data));
    ASSERT_TRUE(plat::Fs().CreateDir(plat::JoinPath(data, L"working")));
    ASSERT_TRUE(plat::Fs().CreateDir(plat::JoinPath(data, L"sub")));
    ASSERT_TRUE(plat::Fs().CreateDir(plat::JoinPath(data, L"sub/working")));
    ASSERT_TRUE(testsupport::WriteFileBytes(plat::JoinPath(data, L"a.txt.zpwenc0"), "x"));
    ASSERT_TRUE(testsupport::WriteFileBytes(plat::JoinPath(data, L"b.txt"), "y"));

    std::vector<ListRow> rows = cli::ListFolder(data, true);
    ASSERT_EQ(Names(rows), L"sub a.txt b.txt");
    EXPECT_EQ(rows[1].flag, L"elxjm");
    EXPECT_EQ(rows[1].type, L"txt 文件");
    EXPECT_EQ(rows[2].flag, L"");
    // Below the root a folder named "working" is an ordinary folder.
    EXPECT_EQ(Names(cli::ListFolder(plat::JoinPath(data, L"sub"), false)), L"working");
}

TEST(CliPaths, AbsolutePathResolvesDotsAndTrailingSeparators) {
    const std::wstring cwd = plat::WithoutSep(plat::CurrentDir());
    EXPECT_EQ(cli::AbsolutePath(L"."), cwd);
    EXPECT_EQ(cli::AbsolutePath(L"a/./b/../c/"), plat::JoinPath(cwd, L"a") + plat::kSep + L"c");
#ifndef _WIN32
    EXPECT_EQ(cli::AbsolutePath(L"/x//y/.."), L"/x");
    EXPECT_EQ(cli::AbsolutePath(L"/.."), L"/");
#else
    EXPECT_EQ(cli::AbsolutePath(L"C:/x//y/.."), L"C:\\x");
    EXPECT_EQ(cli::AbsolutePath(L"\\\\srv\\share\\a"), L"\\\\srv\\share\\a");
#endif
}

std::wstring Rel(std::initializer_list<const wchar_t*> parts) {
    std::wstring out;
    for (const wchar_t* p : parts) out = out.empty() ? p : plat::JoinPath(out, p);
    return out;
}

TEST(CliPaths, FindsTheWindowsProgramBesideOrInTheBuildTree) {
    testsupport::TempFolder tmp;
    const std::wstring cliDir = tmp / Rel({L"build", L"native", L"src", L"cli"});
    const std::wstring winDir = tmp / Rel({L"build", L"win", L"src", L"ui"});
    ASSERT_TRUE(engine::MakeDirs(cliDir) && engine::MakeDirs(winDir));
    const std::wstring self = plat::JoinPath(cliDir, L"ulxjm");
    EXPECT_EQ(cli::FindWindowsProgram(self), L"");
    const std::wstring built = plat::JoinPath(winDir, L"ulxjm.exe");
    ASSERT_TRUE(testsupport::WriteFileBytes(built, "MZ"));
    EXPECT_EQ(cli::FindWindowsProgram(self), built);
    const std::wstring beside = plat::JoinPath(cliDir, L"ulxjm.exe");
    ASSERT_TRUE(testsupport::WriteFileBytes(beside, "MZ"));
    EXPECT_EQ(cli::FindWindowsProgram(self), beside);
}

TEST(CliProgress, FitPathKeepsTheLeafAndTheWidth) {
    const std::wstring path = Rel({L"数据", L"很长的文件夹名字", L"another folder", L"报告.docx"});
    for (int width : {12, 20, 30}) {
        const std::wstring fit = cli::FitPath(path, width);
        EXPECT_LE(cli::DisplayWidth(fit), width) << width;
        EXPECT_NE(fit.find(L".docx"), std::wstring::npos) << width;
    }
    EXPECT_EQ(cli::FitPath(path, 200), path);
}

}  // namespace
