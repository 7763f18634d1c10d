// Portable text helpers: ASCII case folding, trimming, wiping secrets and
// UTF-8 conversion (wchar_t is UTF-16 on Windows, UTF-32 on posix).
#include <algorithm>

#include "platform/text.h"

namespace plat {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || IsSurrogate(c)) c = kReplacement;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendWide(std::wstring& out, char32_t c) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (c >> 10));
            out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
            return;
        }
    }
    out += static_cast<wchar_t>(c);
}

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

template <typename S>
void WipeImpl(S& s) {
    // Overwrite the whole buffer, not just the live part: earlier longer
    // content may still sit beyond size().
    s.resize(s.capacity());
    volatile auto* p = s.data();
    for (size_t i = 0; i < s.size(); ++i) p[i] = 0;
    s.clear();
}

}  // namespace

std::string ToUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = static_cast<char32_t>(text[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            c &= 0xFFFF;
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
                char32_t lo = static_cast<char32_t>(text[i + 1]) & 0xFFFF;
                if (lo >= 0xDC00 && lo <= 0xDFFF) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
                    ++i;
                }
            }
        }
        AppendUtf8(out, c);  // lone surrogates become U+FFFD
    }
    return out;
}

std::wstring FromUtf8(const std::string& bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    size_t i = 0;
    while (i < n) {
        unsigned char b = s[i];
        if (b < 0x80) {
            out += static_cast<wchar_t>(b);
            ++i;
            continue;
        }
        int len;
        char32_t c;
        char32_t min;
        if (b >= 0xC2 && b <= 0xDF) {
            len = 2, c = b & 0x1F, min = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3, c = b & 0x0F, min = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4, c = b & 0x07, min = 0x10000;
        } else {
            AppendWide(out, kReplacement);
            ++i;
            continue;
        }
        // Decode as far as the continuation bytes go; a broken sequence
        // yields one U+FFFD and decoding resumes at the offending byte.
        int k = 1;
        for (; k < len && i + k < n && (s[i + k] & 0xC0) == 0x80; ++k)
            c = (c << 6) | (s[i + k] & 0x3F);
        if (k < len || c < min || c > 0x10FFFF || IsSurrogate(c)) {
            AppendWide(out, kReplacement);
            i += k;
            continue;
        }
        AppendWide(out, c);
        i += len;
    }
    return out;
}

wchar_t FoldChar(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
}

std::wstring Fold(std::wstring text) {
    for (auto& c : text) c = FoldChar(c);
    return text;
}

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldChar(a[i]) != FoldChar(b[i])) return false;
    }
    return true;
}

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

bool EndsWithNoCase(const std::wstring& text, const std::wstring& suffix) {
    return text.size() >= suffix.size() &&
           EqualsNoCase(text.substr(text.size() - suffix.size()), suffix);
}

size_t FindNoCase(const std::wstring& hay, const std::wstring& needle) {
    if (needle.size() > hay.size()) return std::wstring::npos;
    for (size_t i = 0; i + needle.size() <= hay.size(); ++i) {
        size_t k = 0;
        while (k < needle.size() && FoldChar(hay[i + k]) == FoldChar(needle[k])) ++k;
        if (k == needle.size()) return i;
    }
    return std::wstring::npos;
}

std::wstring Trim(const std::wstring& text) {
    size_t b = 0, e = text.size();
    while (b < e && IsBlank(text[b])) ++b;
    while (e > b && IsBlank(text[e - 1])) --e;
    return text.substr(b, e - b);
}

bool FitsAnsi(const std::wstring& text) {
    std::string bytes = ToAnsi(text);
    std::wstring back = FromAnsi(bytes);
    const bool same = back == text;
    Wipe(bytes);
    Wipe(back);
    return same;
}

void Wipe(std::wstring& secret) {
    WipeImpl(secret);
}
void Wipe(std::string& secret) {
    WipeImpl(secret);
}

}  // namespace plat
