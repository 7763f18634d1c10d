// Known-answer tests of our own MD5 and RC4.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/md5.h"
#include "crypto/rc4.h"

namespace {

std::string Hex(const uint8_t* p, size_t n) {
    return crypto::HexLower(p, n);
}

std::vector<uint8_t> Unhex(const std::string& hex) {
    std::vector<uint8_t> out;
    for (size_t k = 0; k + 1 < hex.size(); k += 2)
        out.push_back(uint8_t(std::stoi(hex.substr(k, 2), nullptr, 16)));
    return out;
}

// RFC 1321, appendix A.5 ("test suite").
struct Md5Case {
    const char* message;
    const char* digest;
};
const Md5Case kMd5Suite[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
     "0",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

TEST(Md5, Rfc1321SuiteInOneCallAndInPieces) {
    for (const Md5Case& c : kMd5Suite) {
        std::string m = c.message;
        crypto::Md5Digest d = crypto::Md5Of(m);
        EXPECT_EQ(Hex(d.data(), d.size()), c.digest) << '"' << m << '"';
        // Byte by byte and in uneven pieces: the buffering across 64-byte
        // blocks must not change the result.
        for (size_t piece : {size_t(1), size_t(7), size_t(63), size_t(65)}) {
            crypto::Md5 md5;
            for (size_t at = 0; at < m.size(); at += piece)
                md5.Update(m.data() + at, std::min(piece, m.size() - at));
            crypto::Md5Digest p = md5.Final();
            EXPECT_EQ(Hex(p.data(), p.size()), c.digest) << '"' << m << "\" piece " << piece;
        }
    }
}

TEST(Md5, PaddingEdgesAroundTheLengthField) {
    // 55, 56 and 64 bytes put the length into the same or the next block.
    // Expected values: printf 'a%.0s' {1..N} | md5sum
    const std::pair<size_t, const char*> cases[] = {
        {55, "ef1772b6dff9a122358552954ad0df65"},
        {56, "3b0c8ac703f828b04c6c197006d17218"},
        {64, "014842d480b571495a4a0363793f7367"},
    };
    for (auto [n, digest] : cases) {
        crypto::Md5Digest d = crypto::Md5Of(std::string(n, 'a'));
        EXPECT_EQ(Hex(d.data(), d.size()), digest) << n;
    }
}

// RFC 6229, section 2: keystream of RC4 for the key 0x0102030405 (40 bits)
// and 0x0102...10 (128 bits) at the given offsets.
struct Rc4Case {
    const char* key;
    size_t offset;
    const char* keystream;
};
const Rc4Case kRfc6229[] = {
    {"0102030405", 0, "b2396305f03dc027ccc3524a0a1118a8"},
    {"0102030405", 16, "6982944f18fc82d589c403a47a0d0919"},
    {"0102030405", 240, "28cb1132c96ce286421dcaadb8b69eae"},
    {"0102030405", 256, "1cfcf62b03eddb641d77dfcf7f8d8c93"},
    {"0102030405", 1008, "45129048e6a0ed0b56b490338f078da5"},
    {"0102030405", 1024, "30abbcc7c20b01609f23ee2d5f6bb7df"},
    {"0102030405", 4080, "068326a2118416d21f9d04b2cd1ca050"},
    {"0102030405", 4096, "ff25b58995996707e51fbdf08b34d875"},
    {"0102030405060708090a0b0c0d0e0f10", 0, "9ac7cc9a609d1ef7b2932899cde41b97"},
    {"0102030405060708090a0b0c0d0e0f10", 16, "5248c4959014126a6e8a84f11d1a9e1c"},
    {"0102030405060708090a0b0c0d0e0f10", 240, "065902e4b620f6cc36c8589f66432f2b"},
    {"0102030405060708090a0b0c0d0e0f10", 256, "d39d566bc6bce3010768151549f3873f"},
    {"0102030405060708090a0b0c0d0e0f10", 1008, "e7a72574f8782ae26aabcf9ebcd66065"},
    {"0102030405060708090a0b0c0d0e0f10", 1024, "bdf0324e6083dcc6d3cedd3ca8c53c16"},
    {"0102030405060708090a0b0c0d0e0f10", 4080, "ff38265c1642c1abe8d3c2fe5e572bf8"},
    {"0102030405060708090a0b0c0d0e0f10", 4096, "a36a4c301ae8ac13610ccbc12256cacc"},
};

TEST(Rc4, Rfc6229Keystreams) {
    for (const Rc4Case& c : kRfc6229) {
        std::vector<uint8_t> key = Unhex(c.key);
        std::vector<uint8_t> zeros(c.offset + 16, 0);
        crypto::Rc4 rc4(key.data(), key.size());
        rc4.Process(zeros.data(), zeros.size());
        EXPECT_EQ(Hex(zeros.data() + c.offset, 16), c.keystream) << c.key << " @" << c.offset;
    }
}

TEST(Rc4, StreamContinuesAcrossCallsOfAnySize) {
    std::vector<uint8_t> key = Unhex("0102030405060708090a0b0c0d0e0f10");
    std::vector<uint8_t> whole(4112, 0);
    crypto::Rc4(key.data(), key.size()).Process(whole.data(), whole.size());
    // Odd piece sizes cross the eight-byte steps of the inner loop.
    for (size_t piece : {size_t(1), size_t(3), size_t(8), size_t(13), size_t(1000)}) {
        std::vector<uint8_t> parts(whole.size(), 0);
        crypto::Rc4 rc4(key.data(), key.size());
        for (size_t at = 0; at < parts.size(); at += piece)
            rc4.Process(parts.data() + at, std::min(piece, parts.size() - at));
        EXPECT_EQ(parts, whole) << "piece " << piece;
    }
    // Separate input and output buffers give the same bytes.
    std::vector<uint8_t> in(whole.size(), 0x5A), out(whole.size());
    crypto::Rc4(key.data(), key.size()).Process(in.data(), out.data(), in.size());
    for (size_t k = 0; k < out.size(); ++k) ASSERT_EQ(out[k], whole[k] ^ 0x5A) << k;
}

}  // namespace
