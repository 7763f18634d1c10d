#include <gtest/gtest.h>

#include "platform/fs.h"
#include "platform/text.h"

namespace {

// Writes paths with '|' for the build's separator.
std::wstring P(std::wstring s) {
    for (auto& c : s)
        if (c == L'|') c = plat::kSep;
    return s;
}

TEST(PathHelpers, Table) {
    struct Case {
        const wchar_t* in;
        const wchar_t* withSep;
        const wchar_t* withoutSep;
        const wchar_t* leaf;
        const wchar_t* parent;
    };
    const Case cases[] = {
        {L"|a|b", L"|a|b|", L"|a|b", L"b", L"|a|"},
        {L"|a|b|", L"|a|b|", L"|a|b", L"", L"|a|b|"},
        {L"|a|b||", L"|a|b|", L"|a|b", L"", L"|a|b||"},
        {L"|", L"|", L"|", L"", L"|"},
        {L"name", L"name|", L"name", L"name", L""},
        {L"", L"", L"", L"", L""},
        {L"|岚栩|只读 加密.txt", L"|岚栩|只读 加密.txt|", L"|岚栩|只读 加密.txt", L"只读 加密.txt",
         L"|岚栩|"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(plat::ToUtf8(c.in));
        EXPECT_EQ(plat::WithSep(P(c.in)), P(c.withSep));
        EXPECT_EQ(plat::WithoutSep(P(c.in)), P(c.withoutSep));
        EXPECT_EQ(plat::LeafName(P(c.in)), P(c.leaf));
        EXPECT_EQ(plat::ParentWithSep(P(c.in)), P(c.parent));
    }
}

TEST(PathHelpers, JoinNeverDoublesOrDropsTheSeparator) {
    EXPECT_EQ(plat::JoinPath(P(L"|a"), L"b"), P(L"|a|b"));
    EXPECT_EQ(plat::JoinPath(P(L"|a|"), L"b"), P(L"|a|b"));
    EXPECT_EQ(plat::JoinPath(P(L"|a|"), P(L"|b")), P(L"|a|b"));
    EXPECT_EQ(plat::JoinPath(P(L"|"), L"b"), P(L"|b"));
    EXPECT_EQ(plat::JoinPath(L"", L"b"), L"b");
    EXPECT_EQ(plat::JoinPath(P(L"|a"), L""), P(L"|a|"));
}

#ifdef _WIN32
TEST(PathHelpers, WindowsRootsKeepTheirSeparator) {
    EXPECT_EQ(plat::WithoutSep(L"C:\\"), L"C:\\");
    EXPECT_EQ(plat::WithoutSep(L"C:\\a\\"), L"C:\\a");
    EXPECT_EQ(plat::WithSep(L"C:"), L"C:\\");
    EXPECT_EQ(plat::LeafName(L"C:/a/b"), L"b") << "forward slashes separate on Windows too";
}
#else
TEST(PathHelpers, BackslashIsANameCharacterOnPosix) {
    EXPECT_EQ(plat::LeafName(L"/a/b\\c"), L"b\\c");
    EXPECT_EQ(plat::WithoutSep(L"/a\\"), L"/a\\");
}
#endif

}  // namespace
