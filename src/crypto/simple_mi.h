// CSimpleMi: the reversible text scrambler of the file trailers. A shift
// substitution over a fixed 78-character alphabet, the shift travelling as
// the last character. It keeps texts from being read at a glance, no more.
#pragma once

#include <cstdint>
#include <random>
#include <string>

namespace crypto {

class CSimpleMi {
  public:
    // The alphabet. Files written by this program depend on this exact order:
    // never change it.
    static constexpr const wchar_t* kAlphabet =
        L"RkdOlI_j7[t!{b,}H4Sf]-x.)QZLC6i3@T0(moWwczXVArBuY<>aEy*gDpeP2JGh5vqUnKN1sF89M=";
    static constexpr int kAlphabetSize = 78;
    static constexpr int kMaxShift = 57;

    // Seeds the shift generator from the clock.
    CSimpleMi();
    // A fixed seed, for reproducible output in tests.
    explicit CSimpleMi(uint32_t seed) : random_(seed) {}

    // Scrambles with a random shift 1..57. Paired: every character is
    // followed by its alphabet successor (twice the length).
    std::wstring Scramble(const std::wstring& text, bool paired);
    static std::wstring ScrambleWithShift(const std::wstring& text, bool paired, int shift);
    static std::wstring Unscramble(const std::wstring& text, bool paired);

    // Index of the first occurrence of c in the alphabet, -1 when absent.
    static int Position(wchar_t c);

  private:
    std::mt19937 random_;
};

}  // namespace crypto
