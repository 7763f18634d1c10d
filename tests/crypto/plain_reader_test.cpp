// Random-access plain reads of store files: every format at random offsets
// and sizes against the plain bytes, keystream checkpoints, the checks that
// make a file unreadable, and that reading changes nothing.
#include "crypto/plain_reader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <random>

#include "crypto/cipher_test_util.h"
#include "crypto/content_cipher.h"
#include "platform/text.h"
#include "support/test_files.h"

namespace {

using cryptotest::RecordingSink;
using cryptotest::SameBytes;
using cryptotest::SampleBytes;
using testsupport::ReadFileBytes;
using testsupport::TempFolder;
using testsupport::WriteFileBytes;

constexpr uint64_t kMiB = 1u << 20;

// The seed of the random reads: ULX_SEED when set, printed either way.
uint32_t Seed() {
    static const uint32_t seed = [] {
        const char* env = std::getenv("ULX_SEED");
        uint32_t s = env ? uint32_t(std::strtoul(env, nullptr, 10)) : std::random_device{}();
        std::printf("random reads: ULX_SEED=%u\n", s);
        return s;
    }();
    return seed;
}

// Where the trailer of an encrypted file starts.
size_t TrailerStart(const std::wstring& path, const std::string& bytes) {
    auto f = plat::Fs().Open(path, plat::Access::Read, plat::Disposition::OpenExisting);
    std::optional<crypto::Trailer> t = f ? crypto::ReadTrailer(*f) : std::nullopt;
    EXPECT_TRUE(t);
    return t ? bytes.size() - size_t(t->length) : 0;
}

// A legacy ".elxjm" file as older versions wrote it.
std::string LegacyFile(const std::string& plain, char mode, const std::wstring& password) {
    crypto::Rc4 rc4;
    crypto::InitLegacyRc4(rc4, password, false);
    std::string word = std::string("lanxuyi") + mode;
    rc4.Process(reinterpret_cast<uint8_t*>(word.data()), 8);
    std::string body = plain;
    size_t n = mode == '9' ? body.size() : std::min<size_t>(body.size(), 1000);
    rc4.Process(reinterpret_cast<uint8_t*>(body.data()), n);
    return body + word + "l" + "anxuyiencry";
}

class PlainReaderTest : public ::testing::Test {
  protected:
    // Writes `plain` as `name` and encrypts it with the content cipher;
    // the stored path.
    std::wstring Encrypted(const std::wstring& name, const std::string& plain,
                           const std::wstring& password = L"口令pw") {
        const std::wstring path = dir_ / name;
        EXPECT_TRUE(WriteFileBytes(path, plain));
        RecordingSink sink;
        crypto::ContentCipher cipher(password, sink);
        cipher.Encrypt(path);
        EXPECT_TRUE(sink.failures.empty());
        return crypto::AddSuffix(path);
    }

    std::unique_ptr<crypto::PlainFile> Open(const std::wstring& path, crypto::PlainInfo* info) {
        return crypto::PlainFile::Open(path, &keys_, info);
    }

    TempFolder dir_;
    crypto::FileKeys keys_{L"口令pw", false};
};

TEST_F(PlainReaderTest, RandomReadsGiveThePlainBytesInEveryForm) {
    struct Case {
        const wchar_t* name;
        size_t size;
        enum { Cipher, Legacy1, Legacy9, Raw } how;
        bool decrypted;
    };
    const Case cases[] = {
        {L"empty.bin", 0, Case::Cipher, true},
        {L"one.bin", 1, Case::Cipher, true},
        {L"block.bin", 1024, Case::Cipher, true},
        {L"block1.bin", 1025, Case::Cipher, true},
        {L"video.mp4", 3 * kMiB + 77, Case::Cipher, true},
        {L"empty.txt", 0, Case::Cipher, true},
        {L"tiny.txt", 5, Case::Cipher, true},
        {L"big.txt", 5 * kMiB + 3, Case::Cipher, true},
        {L"old1.doc.elxjm", 2500, Case::Legacy1, true},
        {L"old9.txt.elxjm", 2 * kMiB + 11, Case::Legacy9, true},
        // A suffix without our trailer reads as it is, as decryption leaves it.
        {L"foreign.zpwenc0", 4000, Case::Raw, false},
    };
    std::mt19937 rng(Seed());
    for (const Case& c : cases) {
        SCOPED_TRACE(plat::ToUtf8(c.name));
        const std::string plain = SampleBytes(c.size, uint32_t(c.size) + 7);
        std::wstring path = dir_ / c.name;
        if (c.how == Case::Cipher) {
            path = Encrypted(c.name, plain);
        } else {
            const std::string stored =
                c.how == Case::Raw
                    ? plain
                    : LegacyFile(plain, c.how == Case::Legacy1 ? '1' : '9', L"口令pw");
            ASSERT_TRUE(WriteFileBytes(path, stored));
        }
        const std::string before = ReadFileBytes(path);
        crypto::PlainInfo info;
        auto f = Open(path, &info);
        ASSERT_TRUE(f) << plat::ToUtf8(info.reason);
        EXPECT_EQ(f->Size(), c.size);
        EXPECT_EQ(info.decrypted, c.decrypted);

        // In odd-sized pieces from the start, as a copy reads.
        std::string whole;
        std::string buf(70001, '\0');
        uint32_t done = 0;
        do {
            ASSERT_TRUE(f->Read(whole.size(), buf.data(), uint32_t(buf.size()), &done));
            whole.append(buf.data(), done);
        } while (done);
        EXPECT_TRUE(SameBytes(whole, plain));

        // Anywhere, any size, past the end included, as a player seeks.
        for (int k = 0; k < 200; ++k) {
            const uint64_t off = c.size ? rng() % (c.size + 100) : rng() % 8;
            const uint32_t len = rng() % (k % 10 == 0 ? 3 * kMiB : 5000) + 1;
            std::string got(len, '\0');
            ASSERT_TRUE(f->Read(off, got.data(), len, &done));
            got.resize(done);
            const std::string want = off < plain.size() ? plain.substr(size_t(off), len) : "";
            ASSERT_TRUE(SameBytes(got, want)) << "offset " << off << " length " << len;
        }
        f.reset();
        EXPECT_EQ(ReadFileBytes(path), before);
    }
}

TEST_F(PlainReaderTest, WholeFileReadsStartFromTheNearestCheckpoint) {
    const std::string plain = SampleBytes(6 * kMiB + 5, 3);
    auto f = [&] {
        crypto::PlainInfo info;
        return Open(Encrypted(L"long.txt", plain), &info);
    }();
    ASSERT_TRUE(f);
    std::string got(100, '\0');
    uint32_t done = 0;
    // The end first: the stream runs once to it, leaving a checkpoint per MiB.
    ASSERT_TRUE(f->Read(plain.size() - 100, got.data(), 100, &done));
    EXPECT_EQ(got, plain.substr(plain.size() - 100));
    EXPECT_EQ(f->Checkpoints(), 7u);
    uint64_t stream = f->StreamBytes();
    EXPECT_EQ(stream, plain.size());
    // Back to the middle and to the start: at most one step of stream each.
    for (uint64_t off : {uint64_t(4 * kMiB + 12345), uint64_t(17), uint64_t(2 * kMiB - 50)}) {
        ASSERT_TRUE(f->Read(off, got.data(), 100, &done));
        EXPECT_EQ(got, plain.substr(size_t(off), 100));
        EXPECT_LE(f->StreamBytes() - stream, crypto::kCheckpointStep + 100) << off;
        stream = f->StreamBytes();
    }
    // Reading on from where the last read ended continues the stream.
    ASSERT_TRUE(f->Read(2 * kMiB + 50, got.data(), 100, &done));
    EXPECT_EQ(got, plain.substr(2 * kMiB + 50, 100));
    EXPECT_EQ(f->StreamBytes() - stream, 100u);
}

TEST_F(PlainReaderTest, FilesThatCannotBeDecryptedAreRefusedWithTheReason) {
    const std::string plain = SampleBytes(3000, 9);
    struct Case {
        const char* what;
        std::function<std::wstring()> make;
        const wchar_t* reason;
    };
    const Case cases[] = {
        {"other password", [&] { return Encrypted(L"a.bin", plain, L"other"); },
         crypto::kReasonWrongPassword},
        {"other password, whole", [&] { return Encrypted(L"a.txt", plain, L"other"); },
         crypto::kReasonWrongPassword},
        {"plain length changed",
         [&] {
             std::wstring p = Encrypted(L"b.bin", plain);
             std::string s = ReadFileBytes(p);
             char& digit = s[TrailerStart(p, s) + 34];  // last digit of the plain length
             digit = digit == '0' ? '1' : '0';
             EXPECT_TRUE(WriteFileBytes(p, s));
             return p;
         },
         crypto::kReasonTrailerDamaged},
        {"cut short",
         [&] {
             std::wstring p = Encrypted(L"c.txt", plain);
             std::string s = ReadFileBytes(p);
             EXPECT_TRUE(WriteFileBytes(p, s.substr(0, 100) + s.substr(200)));
             return p;
         },
         crypto::kReasonTrailerDamaged},
        {"trailer lengths garbled",
         [&] {
             std::wstring p = Encrypted(L"d.bin", plain);
             std::string s = ReadFileBytes(p);
             s[s.size() - 13] = 'x';
             EXPECT_TRUE(WriteFileBytes(p, s));
             return p;
         },
         crypto::kReasonTrailerDamaged},
        {"unknown mode",
         [&] {
             std::wstring p = Encrypted(L"e.bin", plain);
             std::string s = ReadFileBytes(p);
             s[TrailerStart(p, s) + 16] = '5';
             EXPECT_TRUE(WriteFileBytes(p, s));
             return p;
         },
         crypto::kReasonDecrypt},
        {"legacy, other password",
         [&] {
             std::wstring p = dir_ / L"f.doc.elxjm";
             EXPECT_TRUE(WriteFileBytes(p, LegacyFile(plain, '9', L"other")));
             return p;
         },
         crypto::kReasonWrongPassword},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::wstring path = c.make();
        const std::string before = ReadFileBytes(path);
        crypto::PlainInfo info;
        EXPECT_FALSE(Open(path, &info));
        EXPECT_EQ(info.reason, c.reason);
        EXPECT_FALSE(crypto::PlainFile::Probe(path, &keys_, &info));
        EXPECT_EQ(info.reason, c.reason);
        EXPECT_EQ(ReadFileBytes(path), before);
        // Without keys (a normal store) the same file is shown as it is.
        auto raw = crypto::PlainFile::Open(path, nullptr, &info);
        ASSERT_TRUE(raw);
        EXPECT_EQ(raw->Size(), before.size());
    }
}

}  // namespace
