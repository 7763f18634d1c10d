#include "platform/text.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(TextCompare, FoldsAsciiLettersOnly) {
    EXPECT_TRUE(plat::EqualsNoCase(L"Desktop.INI", L"desktop.ini"));
    EXPECT_FALSE(plat::EqualsNoCase(L"desktop.ini", L"desktop.in"));
    EXPECT_FALSE(plat::EqualsNoCase(L"É", L"é")) << "only ASCII letters fold";
    EXPECT_FALSE(plat::EqualsNoCase(L"[", L"{")) << "no folding outside the letters";
    EXPECT_EQ(plat::Fold(L"AbC岚Z@"), L"abc岚z@");
    EXPECT_TRUE(plat::StartsWithNoCase(L"ULXJM.exe", L"ulxjm"));
    EXPECT_FALSE(plat::StartsWithNoCase(L"ulx", L"ulxjm"));
    EXPECT_TRUE(plat::EndsWithNoCase(L"a.ZPWENC0", L".zpwenc0"));
    EXPECT_FALSE(plat::EndsWithNoCase(L"enc0", L".zpwenc0"));
    EXPECT_EQ(plat::FindNoCase(L"abcABCx", L"CX"), 5u);
    EXPECT_EQ(plat::FindNoCase(L"abc", L""), 0u);
    EXPECT_EQ(plat::FindNoCase(L"abc", L"abcd"), std::wstring::npos);
    EXPECT_EQ(plat::FindNoCase(L"aab", L"ab"), 1u);
}

TEST(TextTrim, RemovesBlanksTabsAndLineEndsAtBothEnds) {
    EXPECT_EQ(plat::Trim(L" \t\r\n a b \r\n"), L"a b");
    EXPECT_EQ(plat::Trim(L" \t "), L"");
    EXPECT_EQ(plat::Trim(L"x"), L"x");
}

TEST(TextWipe, OverwritesTheWholeBuffer) {
    std::string s(64, 'k');
    s.resize(8);  // the tail beyond size() still holds the old secret
    const char* p = s.data();
    size_t cap = s.capacity();
    plat::Wipe(s);
    EXPECT_TRUE(s.empty());
    ASSERT_EQ(s.data(), p);
    for (size_t i = 0; i < cap; ++i) ASSERT_EQ(p[i], '\0') << i;
    std::wstring w = L"口令口令口令口令口令口令口令口令";
    plat::Wipe(w);
    EXPECT_TRUE(w.empty());
}

TEST(TextUtf8, RoundTripsIncludingOutsideTheBmp) {
    const std::wstring text = L"岚栩 a\U0001F600";
    const std::string bytes = "\xE5\xB2\x9A\xE6\xA0\xA9 a\xF0\x9F\x98\x80";
    EXPECT_EQ(plat::ToUtf8(text), bytes);
    EXPECT_EQ(plat::FromUtf8(bytes), text);
}

TEST(TextUtf8, BrokenInputBecomesReplacementCharacters) {
    struct Case {
        const char* bytes;
        const wchar_t* text;
    } cases[] = {
        {"a\xFFz", L"a\uFFFDz"},          // never a UTF-8 byte
        {"a\xE5\xB2", L"a\uFFFD"},        // cut short at the end
        {"\xE5\xB2z", L"\uFFFDz"},        // cut short before ASCII
        {"\xC0\xAF", L"\uFFFD\uFFFD"},    // overlong '/'
        {"\xED\xA0\x80", L"\uFFFD"},      // encoded surrogate
        {"\xF4\x90\x80\x80", L"\uFFFD"},  // beyond U+10FFFF
    };
    for (const auto& c : cases) EXPECT_EQ(plat::FromUtf8(c.bytes), c.text) << c.bytes;
    // A lone surrogate cannot be written as UTF-8 either.
    std::wstring lone(1, static_cast<wchar_t>(0xD800));
    EXPECT_EQ(plat::ToUtf8(L"a" + lone + L"b"),
              "a\xEF\xBF\xBD"
              "b");
}

TEST(TextAnsi, CodePage936RoundTripsChineseAndMarksWhatItLacks) {
    ASSERT_EQ(plat::AnsiCodePage(), 936u) << "tests expect the Chinese ANSI code page";
    const std::string gbk = "\xE1\xB0\xE8\xF2";  // 岚栩
    EXPECT_EQ(plat::ToAnsi(L"岚栩"), gbk);
    EXPECT_EQ(plat::FromAnsi(gbk), L"岚栩");
    EXPECT_EQ(plat::ToAnsi(L"ulxjm.exe 只读"), "ulxjm.exe \xD6\xBB\xB6\xC1");
    EXPECT_EQ(plat::ToAnsi(L"a\uAC00b"), "a?b") << "Hangul is not in code page 936";
    EXPECT_EQ(plat::FromAnsi("\x80"), L"\u20AC") << "0x80 is the euro sign in 936";
    EXPECT_EQ(plat::ToAnsi(L""), "");
    EXPECT_EQ(plat::FromAnsi(""), L"");
}

#ifndef _WIN32
TEST(TextAnsi, InvalidBytesAndOtherCodePages) {
    EXPECT_EQ(plat::FromAnsi("a\xFF"
                             "b"),
              L"a?b");
    EXPECT_EQ(plat::FromAnsi("a\xE1"), L"a?") << "lead byte cut off at the end";
    ::setenv("ULXJM_ACP", "65001", 1);
    EXPECT_EQ(plat::AnsiCodePage(), 65001u);
    EXPECT_EQ(plat::ToAnsi(L"岚"), "\xE5\xB2\x9A");
    ::setenv("ULXJM_ACP", "1252", 1);
    EXPECT_EQ(plat::ToAnsi(L"é岚"), "\xE9?");
    EXPECT_EQ(plat::FromAnsi("\x80"), L"\u20AC");
    ::setenv("ULXJM_ACP", "99999", 1);
    EXPECT_EQ(plat::AnsiCodePage(), 936u) << "an unknown code page falls back";
    ::unsetenv("ULXJM_ACP");
    EXPECT_EQ(plat::AnsiCodePage(), 936u);
}
#endif

}  // namespace
