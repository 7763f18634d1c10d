#include "crypto/digest.h"

#include "platform/text.h"

namespace crypto {

std::string DigestText(const std::wstring& text) {
    if (text.empty()) return {};
    std::string bytes = plat::ToAnsi(text);
    Md5Digest d = Md5Of(bytes);
    plat::Wipe(bytes);
    return HexLower(d.data(), d.size());
}

void InitCurrentRc4(Rc4& rc4, const std::wstring& keyText) {
    std::string key = DigestText(keyText);
    rc4.Init(key.data(), key.size());
    plat::Wipe(key);
}

std::string LegacyHashInput(const std::wstring& password, bool legacyHash) {
    if (!legacyHash) return plat::ToAnsi(password);
    std::string utf16;
    for (wchar_t wc : password) {
        uint32_t c = uint32_t(wc);
        if (c >= 0x10000) {  // only where wchar_t is 32-bit
            c -= 0x10000;
            uint16_t hi = uint16_t(0xD800 + (c >> 10)), lo = uint16_t(0xDC00 + (c & 0x3FF));
            utf16 += char(hi & 0xFF);
            utf16 += char(hi >> 8);
            utf16 += char(lo & 0xFF);
            utf16 += char(lo >> 8);
        } else {
            utf16 += char(c & 0xFF);
            utf16 += char(c >> 8);
        }
    }
    utf16.resize(utf16.size() / 2);  // N = the length in UTF-16 units
    return utf16;
}

Md5Digest LegacyKey(const std::wstring& password, bool legacyHash) {
    std::string bytes = LegacyHashInput(password, legacyHash);
    Md5Digest d = Md5Of(bytes);
    plat::Wipe(bytes);
    return d;
}

void InitLegacyRc4(Rc4& rc4, const std::wstring& password, bool legacyHash) {
    Md5Digest key = LegacyKey(password, legacyHash);
    rc4.Init(key.data(), key.size());
    key.fill(0);
}

}  // namespace crypto
