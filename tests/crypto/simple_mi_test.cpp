#include "crypto/simple_mi.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/text.h"

namespace {

using crypto::CSimpleMi;

TEST(SimpleMi, AlphabetIsTheFixedCharacterSet) {
    std::wstring alphabet = CSimpleMi::kAlphabet;
    ASSERT_EQ(alphabet.size(), 78u);
    std::set<wchar_t> have(alphabet.begin(), alphabet.end());
    std::set<wchar_t> want;
    for (wchar_t c = L'a'; c <= L'z'; ++c) want.insert(c);
    for (wchar_t c = L'A'; c <= L'Z'; ++c) want.insert(c);
    for (wchar_t c = L'0'; c <= L'9'; ++c) want.insert(c);
    for (wchar_t c : std::wstring(L"!()*,-.<=>[]_{}@")) want.insert(c);
    EXPECT_EQ(have, want);
}

TEST(SimpleMi, RoundTripForEveryShiftPairedAndUnpaired) {
    const std::wstring text = L"Ab9_{}@<=>zZ0!()*,-.[]";
    for (int shift = 1; shift <= CSimpleMi::kMaxShift; ++shift) {
        for (bool paired : {false, true}) {
            std::wstring s = CSimpleMi::ScrambleWithShift(text, paired, shift);
            ASSERT_EQ(s.size(), text.size() * (paired ? 2 : 1) + 1);
            EXPECT_EQ(s.back(), CSimpleMi::kAlphabet[shift]);
            EXPECT_EQ(CSimpleMi::Unscramble(s, paired), text) << shift << ' ' << paired;
        }
    }
}

TEST(SimpleMi, TextsOutsideTheAlphabetStayReadableAndRoundTrip) {
    for (const wchar_t* text : {L"two words", L"岚栩密码", L"abc密", L"tab\there"}) {
        for (bool paired : {false, true}) {
            std::wstring s = CSimpleMi::ScrambleWithShift(text, paired, 17);
            EXPECT_EQ(s, std::wstring(text) + CSimpleMi::kAlphabet[0]);
            EXPECT_EQ(CSimpleMi::Unscramble(s, paired), text);
        }
    }
    EXPECT_EQ(CSimpleMi::ScrambleWithShift(L"", false, 5), L"");
    EXPECT_EQ(CSimpleMi::Unscramble(L"", false), L"");
}

TEST(SimpleMi, SeededScrambleDrawsShiftsInRangeAndRepeats) {
    CSimpleMi a(42), b(42);
    std::set<int> shifts;
    for (int k = 0; k < 500; ++k) {
        std::wstring s = a.Scramble(L"password", false);
        EXPECT_EQ(s, b.Scramble(L"password", false));
        int shift = CSimpleMi::Position(s.back());
        ASSERT_GE(shift, 1);
        ASSERT_LE(shift, 57);
        shifts.insert(shift);
        EXPECT_EQ(CSimpleMi::Unscramble(s, false), L"password");
    }
    EXPECT_GT(shifts.size(), 40u);  // the shift actually varies
}

}  // namespace
