// The rename-failure list file, byte for byte.
#include "engine/fail_name_list.h"

#include <gtest/gtest.h>

#include "engine/engine_fixture.h"
#include "support/deadline.h"
#include "support/hostile_files.h"
#include "support/test_files.h"

namespace enginetest {
namespace {

using engine::CFailNameList;

TEST(FailNameListTest, ShortTextLayout) {
    CFailNameList list;
    list.Add(L"a\u5c9a", 7);
    const std::string want(
        "\x01\x00\x00\x00"   // count
        "\xFF\xFE\xFF"       // wide-text marker
        "\x02"               // length
        "a\x00\x9a\x5c"      // UTF-16LE
        "\x07\x00\x00\x00",  // value
        4 + 3 + 1 + 4 + 4);
    EXPECT_EQ(want, list.Serialize());
}

TEST(FailNameListTest, LengthFieldsAtTheirBoundaries) {
    struct Case {
        size_t chars;
        std::string lengthField;
    } cases[] = {
        {254, std::string("\xFE", 1)},
        {255, std::string("\xFF\xFF\x00", 3)},
        {0xFFFD, std::string("\xFF\xFD\xFF", 3)},
        {0xFFFE, std::string("\xFF\xFF\xFF\xFE\xFF\x00\x00", 7)},
    };
    for (const Case& c : cases) {
        CFailNameList list;
        list.Add(std::wstring(c.chars, L'x'), -1);
        const std::string bytes = list.Serialize();
        EXPECT_EQ(c.lengthField, bytes.substr(7, c.lengthField.size())) << c.chars;
        EXPECT_EQ(4 + 3 + c.lengthField.size() + 2 * c.chars + 4, bytes.size());
        CFailNameList back;
        ASSERT_TRUE(back.Deserialize(bytes)) << c.chars;
        EXPECT_EQ(list.items, back.items);
    }
}

TEST(FailNameListTest, DamagedBytesGiveAnEmptyList) {
    CFailNameList list;
    list.Add(L"x", 1);
    list.Add(L"y", 2);
    const std::string bytes = list.Serialize();
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        CFailNameList back;
        EXPECT_FALSE(back.Deserialize(bytes.substr(0, cut))) << cut;
        EXPECT_TRUE(back.Empty());
    }
    CFailNameList back;
    EXPECT_FALSE(back.Deserialize(bytes + "z"));
}

TEST_F(EngineTest, FailNameListSavesAndAnEmptyListDeletesTheFile) {
    const std::wstring file = Path(L"renamefail.ulxjm");
    CFailNameList list;
    list.Add(plat::JoinPath(L"相册", L"报告.doc.zpwenc0"), 2);  // relative to the data folder
    ASSERT_TRUE(list.Save(file));
    EXPECT_EQ(list.Serialize(), ReadFile(file));
    EXPECT_FALSE(plat::Fs().Exists(file + L".tmp"));
    CFailNameList loaded;
    loaded.Load(file);
    EXPECT_EQ(list.items, loaded.items);
    ASSERT_TRUE(CFailNameList().Save(file));
    EXPECT_FALSE(plat::Fs().Exists(file));
}

// Length fields and counts a crafted list may carry: refused from the
// bytes at hand, before anything is allocated for them.
TEST(FailNameListTest, CountsAndLengthsBeyondTheBytesAreRefused) {
    CFailNameList two;
    two.Add(L"x", 1);
    two.Add(L"y", 2);
    std::string hugeCount = two.Serialize();
    hugeCount.replace(0, 4, "\xFF\xFF\xFF\xFF", 4);
    const std::string entryHead("\x01\x00\x00\x00\xFF\xFE\xFF", 7);
    const std::string cases[] = {
        std::string("\xFF\xFF\xFF\xFF", 4),                                 // count only
        hugeCount,                                                          // two real entries
        entryHead + std::string("\xFF\xFD\xFF", 3) + "ab",                  // 0xFFFD characters
        entryHead + std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 7) + "ab",  // 0xFFFFFFFF
        entryHead + std::string("\xFF\xFF\xFF\xFF\xFF\xFF\x7F", 7),         // 0x7FFFFFFF
    };
    for (const std::string& bytes : cases) {
        CFailNameList back;
        EXPECT_FALSE(back.Deserialize(bytes)) << bytes.size();
        EXPECT_TRUE(back.Empty());
    }
}

TEST(FailNameListTest, OnlyPathsThatStayInsideTheDataFolderAreUsable) {
    struct Case {
        std::wstring path;
        bool usable;
    } cases[] = {
        {L"a.doc.zpwenc0", true},
        {L"相册/2020/a.jpg.zpwenc0", true},
        {L"a\\b.zpwenc0", true},
        {L"./a..b/.x", true},
        {L"", false},
        {L"./", false},
        {L". /.", false},
        {L"..", false},
        {L"../outside.zpwenc0", false},
        {L"a/../../b", false},
        {L"a\\..\\..\\b", false},
        {L"a/.. /b", false},
        {L"a/.../b", false},
        {L"/etc/passwd", false},
        {L"\\\\server\\share\\x", false},
        {L"\\x", false},
        {L"C:\\x", false},
        {L"c:x", false},
        {std::wstring(L"..\0x", 4), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CFailNameList::UsablePath(c.path), c.usable) << plat::ToUtf8(c.path);
}

TEST_F(EngineTest, LoadKeepsUsableEntriesAndHandsBackTheRest) {
    const std::wstring file = Path(L"renamefail.ulxjm");
    CFailNameList list;
    list.Add(L"ok.zpwenc0", 2);
    list.Add(L"../outside.zpwenc0", 2);
    list.Add(L"sub/fine.zpwenc0", 1);
    list.Add(L"/abs.zpwenc0", 2);
    list.Add(L"", 2);
    WriteFile(file, list.Serialize());
    std::vector<engine::CFailNameStruct> rejected = {{L"stale", 0}};
    CFailNameList loaded;
    loaded.Load(file, &rejected);
    const std::vector<engine::CFailNameStruct> usable = {{L"ok.zpwenc0", 2},
                                                         {L"sub/fine.zpwenc0", 1}};
    const std::vector<engine::CFailNameStruct> refused = {
        {L"../outside.zpwenc0", 2}, {L"/abs.zpwenc0", 2}, {L"", 2}};
    EXPECT_EQ(loaded.items, usable);
    EXPECT_EQ(rejected, refused);
    CFailNameList quiet;
    quiet.Load(file);
    EXPECT_EQ(quiet.items, usable);
}

#ifndef _WIN32
TEST_F(EngineTest, ListThatIsNotASmallRegularFileLoadsEmptyWithoutHanging) {
    using testsupport::Hostile;
    const std::wstring file = Path(L"renamefail.ulxjm");
    const std::wstring elsewhere = Path(L"elsewhere");
    CFailNameList real;
    real.Add(L"x.zpwenc0", 2);
    WriteFile(elsewhere, real.Serialize());
    for (Hostile kind : testsupport::kHostileKinds) {
        if (kind == Hostile::Oversized) continue;  // would take a 64 MiB file
        ASSERT_TRUE(testsupport::PlaceHostile(kind, file, elsewhere, 0))
            << testsupport::HostileName(kind);
        CFailNameList loaded;
        loaded.Add(L"stale", 1);
        testsupport::FinishesWithin(std::chrono::seconds(5), testsupport::HostileName(kind),
                                    [&] { loaded.Load(file); });
        EXPECT_TRUE(loaded.Empty()) << testsupport::HostileName(kind);
        ASSERT_TRUE(testsupport::RemoveTree(file));
    }
}
#endif

}  // namespace
}  // namespace enginetest
