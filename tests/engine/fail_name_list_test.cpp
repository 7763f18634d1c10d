// The rename-failure list file, byte for byte.
#include "engine/fail_name_list.h"

#include <gtest/gtest.h>

#include "engine/engine_fixture.h"

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
    list.Add(plat::JoinPath(folder_, L"报告.doc.zpwenc0"), 2);
    ASSERT_TRUE(list.Save(file));
    EXPECT_EQ(list.Serialize(), ReadFile(file));
    EXPECT_FALSE(plat::Fs().Exists(file + L".tmp"));
    CFailNameList loaded;
    loaded.Load(file);
    EXPECT_EQ(list.items, loaded.items);
    ASSERT_TRUE(CFailNameList().Save(file));
    EXPECT_FALSE(plat::Fs().Exists(file));
}

}  // namespace
}  // namespace enginetest
