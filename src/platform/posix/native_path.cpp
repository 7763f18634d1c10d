#include "platform/posix/native_path.h"

#include "platform/text.h"

namespace plat::posix {

namespace {

// Length of the valid UTF-8 sequence at s[i] (its code point in *cp), or 0.
int ValidSequence(const unsigned char* s, size_t n, size_t i, char32_t* cp) {
    unsigned char b = s[i];
    int len;
    char32_t c, min;
    if (b < 0x80) {
        *cp = b;
        return 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
        len = 2, c = b & 0x1F, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3, c = b & 0x0F, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4, c = b & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > n) return 0;
    for (int k = 1; k < len; ++k) {
        if ((s[i + k] & 0xC0) != 0x80) return 0;
        c = (c << 6) | (s[i + k] & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    *cp = c;
    return len;
}

}  // namespace

std::wstring WidePath(const std::string& bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    for (size_t i = 0; i < bytes.size();) {
        char32_t c;
        int len = ValidSequence(s, bytes.size(), i, &c);
        if (len == 0) {
            out += static_cast<wchar_t>(0xDC00 + s[i]);
            ++i;
        } else {
            out += static_cast<wchar_t>(c);
            i += static_cast<size_t>(len);
        }
    }
    return out;
}

std::string NativePath(const std::wstring& path) {
    std::string out;
    out.reserve(path.size());
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        bool escaped = i < path.size() && path[i] >= 0xDC80 && path[i] <= 0xDCFF;
        if (i == path.size() || escaped) {
            out += ToUtf8(path.substr(start, i - start));
            if (escaped) out += static_cast<char>(path[i] - 0xDC00);
            start = i + 1;
        }
    }
    return out;
}

}  // namespace plat::posix
