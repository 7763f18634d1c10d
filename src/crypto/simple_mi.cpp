#include "crypto/simple_mi.h"

#include <cwchar>

#include "platform/env.h"

namespace crypto {

namespace {
constexpr int kN = CSimpleMi::kAlphabetSize;
inline wchar_t At(int p) {
    return CSimpleMi::kAlphabet[p];
}
}  // namespace

CSimpleMi::CSimpleMi() : random_(uint32_t(plat::NowFileTime() / 10000)) {}

int CSimpleMi::Position(wchar_t c) {
    const wchar_t* hit = std::wcschr(kAlphabet, c);
    return (hit && c != 0) ? int(hit - kAlphabet) : -1;
}

std::wstring CSimpleMi::Scramble(const std::wstring& text, bool paired) {
    if (text.empty()) return {};
    int shift = 0;
    while (shift == 0) shift = int(random_() % (kMaxShift + 1));
    return ScrambleWithShift(text, paired, shift);
}

std::wstring CSimpleMi::ScrambleWithShift(const std::wstring& text, bool paired, int shift) {
    if (text.empty()) return {};
    std::wstring out;
    out.reserve(text.size() * (paired ? 2 : 1) + 1);
    for (wchar_t c : text) {
        int p = Position(c);
        // A character outside the alphabet leaves the whole text as it is,
        // marked by the alphabet's first character (shift 0 never occurs).
        if (p < 0) return text + At(0);
        int q = (p + shift) % kN;
        out += At(q);
        if (paired) out += At((q + 1) % kN);
    }
    out += At(shift);
    return out;
}

std::wstring CSimpleMi::Unscramble(const std::wstring& text, bool paired) {
    if (text.empty()) return {};
    int s = Position(text.back());
    std::wstring body = text.substr(0, text.size() - 1);
    if (s <= 0) return body;
    std::wstring out;
    out.reserve(body.size());
    for (size_t k = 0; k < body.size(); k += paired ? 2 : 1) {
        int p = Position(body[k]) - s;
        if (p < 0) p += kN;
        out += At(p);
    }
    return out;
}

}  // namespace crypto
