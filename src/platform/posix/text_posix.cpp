// ANSI code page conversions on posix through iconv. The code page is 936
// (GBK, what the Windows program meets on a Chinese system) unless
// ULXJM_ACP names another Windows code page number.
#include <errno.h>
#include <iconv.h>

#include <cstdlib>
#include <cstring>

#include "platform/text.h"

namespace plat {

namespace {

constexpr uint32_t kDefaultCodePage = 936;

std::string IconvName(uint32_t cp) {
    switch (cp) {
        case 65001:
            return "UTF-8";
        case 936:
            return "CP936";
        case 950:
            return "BIG5";
        case 20127:
            return "ASCII";
        case 28591:
            return "ISO-8859-1";
        default:
            return "CP" + std::to_string(cp);
    }
}

// Converts with a default character for what the target lacks, like
// WideCharToMultiByte/MultiByteToWideChar without error flags.
std::string Convert(const char* to, const char* from, const char* in, size_t inLen, size_t unit,
                    const char* replacement, size_t replacementLen) {
    std::string out;
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return out;
    char buf[4096];
    char* src = const_cast<char*>(in);
    size_t left = inLen;
    while (left > 0) {
        char* dst = buf;
        size_t room = sizeof(buf);
        size_t r = iconv(cd, &src, &left, &dst, &room);
        out.append(buf, dst - buf);
        if (r != static_cast<size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        // EILSEQ: unmappable or invalid; EINVAL: truncated at the end.
        out.append(replacement, replacementLen);
        size_t skip = std::min(unit, left);
        src += skip;
        left -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    char* dst = buf;
    size_t room = sizeof(buf);
    iconv(cd, nullptr, nullptr, &dst, &room);  // flush shift state
    out.append(buf, dst - buf);
    iconv_close(cd);
    return out;
}

}  // namespace

uint32_t AnsiCodePage() {
    // Read every time so a test can switch code pages; getenv is cheap.
    const char* v = std::getenv("ULXJM_ACP");
    if (!v || !*v) return kDefaultCodePage;
    char* end = nullptr;
    unsigned long cp = std::strtoul(v, &end, 10);
    if (*end != '\0' || cp == 0 || cp > 65535) return kDefaultCodePage;
    // A code page iconv does not know falls back to the default.
    iconv_t cd = iconv_open(IconvName(static_cast<uint32_t>(cp)).c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return kDefaultCodePage;
    iconv_close(cd);
    return static_cast<uint32_t>(cp);
}

std::string ToAnsi(const std::wstring& text) {
    if (text.empty()) return std::string();
    uint32_t cp = AnsiCodePage();
    if (cp == 65001) return ToUtf8(text);
    // wchar_t is UTF-32 here; one unit per character, so an unmappable
    // character costs exactly four input bytes.
    static_assert(sizeof(wchar_t) == 4);
    std::u32string wide(text.begin(), text.end());
    return Convert(IconvName(cp).c_str(), "UTF-32LE", reinterpret_cast<const char*>(wide.data()),
                   wide.size() * 4, 4, "?", 1);
}

std::wstring FromAnsi(const std::string& bytes) {
    if (bytes.empty()) return std::wstring();
    uint32_t cp = AnsiCodePage();
    if (cp == 65001) return FromUtf8(bytes);
    static const char32_t kQ = U'?';
    std::string u32 = Convert("UTF-32LE", IconvName(cp).c_str(), bytes.data(), bytes.size(), 1,
                              reinterpret_cast<const char*>(&kQ), 4);
    std::wstring out(u32.size() / 4, L'\0');
    for (size_t i = 0; i < out.size(); ++i) {
        uint32_t c;
        std::memcpy(&c, u32.data() + i * 4, 4);
        out[i] = static_cast<wchar_t>(c);
    }
    return out;
}

}  // namespace plat
