// Digest text and the legacy key derivation; under Windows the derivation is
// compared with the system's crypto service.
#include "crypto/digest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text.h"

#ifdef _WIN32
#include <windows.h>
// wincrypt.h needs the types of windows.h first.
#include <wincrypt.h>
#endif

namespace {

TEST(DigestText, AnsiBytesOfAsciiAndChinesePasswords) {
    // printf 'abc123' | md5sum
    EXPECT_EQ(crypto::DigestText(L"abc123"), "e99a18c428cb38d5f260853678922e03");
    // printf '岚栩密码' | iconv -f UTF-8 -t GBK | md5sum   (ANSI code page 936)
    ASSERT_EQ(plat::AnsiCodePage(), 936u);
    EXPECT_EQ(crypto::DigestText(L"岚栩密码"), "3587e8168cab4ab80c389520cf491e33");
    EXPECT_EQ(crypto::DigestText(L""), "");
}

TEST(LegacyKey, LegacyHashFlagHashesTheFirstHalfOfUtf16) {
    // "ab" is 61 00 62 00 in UTF-16LE; the flag hashes its first two bytes.
    EXPECT_EQ(crypto::LegacyHashInput(L"ab", true), std::string("a\0", 2));
    EXPECT_EQ(crypto::LegacyHashInput(L"ab", false), "ab");
    // "密" is 0x5BC6: its first UTF-16LE byte only.
    EXPECT_EQ(crypto::LegacyHashInput(L"密", true), std::string("\xC6", 1));
    // printf 'a\0' | md5sum
    crypto::Md5Digest k = crypto::LegacyKey(L"ab", true);
    EXPECT_EQ(crypto::HexLower(k.data(), k.size()), "4144e195f46de78a3623da7364d04f11");
}

// The legacy check word "lanxuyi9" under the legacy key, computed with an
// independent RC4 (Python, RC4 over hashlib.md5 of the same bytes).
TEST(LegacyKey, CheckWordUnderLegacyKey) {
    struct Case {
        const wchar_t* password;
        bool legacyHash;
        const char* hex;
    } cases[] = {
        {L"abc123", false, "51a313fd051ebe2b"},
        {L"abc123", true, "1c82223a19eda8f1"},
        {L"岚栩密码", false, "eff252524b2471af"},
        {L"岚栩密码", true, "3a5d9b1514848347"},
    };
    for (const Case& c : cases) {
        uint8_t word[8] = {'l', 'a', 'n', 'x', 'u', 'y', 'i', '9'};
        crypto::Rc4 rc4;
        crypto::InitLegacyRc4(rc4, c.password, c.legacyHash);
        rc4.Process(word, 8);
        EXPECT_EQ(crypto::HexLower(word, 8), c.hex) << plat::ToUtf8(c.password) << c.legacyHash;
    }
}

#ifdef _WIN32
// RC4-128 keystream the Windows crypto service derives from an MD5 hash of
// `bytes`: what older versions used for their files.
std::vector<uint8_t> CryptoApiKeystream(const std::string& bytes, size_t n) {
    std::vector<uint8_t> buf(n, 0);
    HCRYPTPROV prov = 0;
    HCRYPTHASH hash = 0;
    HCRYPTKEY key = 0;
    bool ok = CryptAcquireContextW(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT);
    ok = ok && CryptCreateHash(prov, CALG_MD5, 0, 0, &hash);
    ok = ok &&
         CryptHashData(hash, reinterpret_cast<const BYTE*>(bytes.data()), DWORD(bytes.size()), 0);
    ok = ok && CryptDeriveKey(prov, CALG_RC4, hash, 128 << 16, &key);
    DWORD len = DWORD(n);
    ok = ok && CryptEncrypt(key, 0, TRUE, 0, buf.data(), &len, DWORD(n));
    if (key) CryptDestroyKey(key);
    if (hash) CryptDestroyHash(hash);
    if (prov) CryptReleaseContext(prov, 0);
    if (!ok) buf.clear();
    return buf;
}

TEST(LegacyKey, EqualsTheWindowsCryptoServiceDerivation) {
    for (const wchar_t* password : {L"abc123", L"a", L"岚栩密码", L"Pass word 1!", L"密码x"}) {
        for (bool legacyHash : {false, true}) {
            std::vector<uint8_t> expected =
                CryptoApiKeystream(crypto::LegacyHashInput(password, legacyHash), 256);
            ASSERT_EQ(expected.size(), 256u) << "crypto service failed";
            std::vector<uint8_t> ours(256, 0);
            crypto::Rc4 rc4;
            crypto::InitLegacyRc4(rc4, password, legacyHash);
            rc4.Process(ours.data(), ours.size());
            EXPECT_EQ(ours, expected) << plat::ToUtf8(password) << " flag " << legacyHash;
        }
    }
}
#endif

}  // namespace
