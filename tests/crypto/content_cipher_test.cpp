// The content cipher: names, trailer layout, the per-file operations and
// what is left behind when a step fails.
#include "crypto/content_cipher.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "crypto/cipher_test_util.h"
#include "crypto/records.h"
#include "crypto/simple_mi.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "support/faulty_fs.h"
#include "support/test_files.h"

#ifdef _WIN32
#include <windows.h>
// wincrypt.h needs the types of windows.h first.
#include <wincrypt.h>
#undef DeleteFile  // plat::FileSystem::DeleteFile, not the Win32 macro
#endif

namespace {

using crypto::CSimpleMi;
using crypto::FileOutcome;
using cryptotest::RecordingSink;
using cryptotest::SameBytes;
using cryptotest::SampleBytes;
using plat::Fs;
using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

const std::wstring kPassword = L"岚栩pw1";
const std::string kMissing = "<missing>";

TEST(ContentNames, ClassesSuffixesAndWholeFileExtensions) {
    struct Case {
        const wchar_t* path;
        int cls;
        const wchar_t* stripped;
    } cases[] = {
        {L"a.doc", 0, L"a.doc"},         {L"a.doc.zpwenc0", 2, L"a.doc"},
        {L"a.doc.ZPWENC7", 2, L"a.doc"}, {L"a.doc.elxjm", 3, L"a.doc"},
        {L"a.doc.ElXjM", 3, L"a.doc"},   {L"a.doc.lxm1", 1, L"a.doc"},
        {L"a.zpwenc", 0, L"a.zpwenc"},   {L"a.zpwenc00", 0, L"a.zpwenc00"},
        {L"noext", 0, L"noext"},         {L"dir.zpwenc0/file", 0, L"dir.zpwenc0/file"},
    };
    for (const Case& c : cases) {
        std::wstring path = c.path;
        std::replace(path.begin(), path.end(), L'/', plat::kSep);
        std::wstring stripped = c.stripped;
        std::replace(stripped.begin(), stripped.end(), L'/', plat::kSep);
        EXPECT_EQ(crypto::ClassifyName(path), c.cls) << plat::ToUtf8(path);
        EXPECT_EQ(crypto::StripSuffix(path), stripped) << plat::ToUtf8(path);
    }
    EXPECT_EQ(crypto::AddSuffix(L"a.doc"), L"a.doc.zpwenc0");
    EXPECT_EQ(crypto::AddSuffix(L"a.do"), L"a.do");  // four characters or less: none

    for (const wchar_t* name : {L"notes.TXT", L"a.ini", L"a.HTML", L"a.htm", L"a.cpp", L"a.h",
                                L"a.c", L"a.php", L"a.asp", L"a.Xml"})
        EXPECT_TRUE(crypto::IsWholeFileName(name)) << plat::ToUtf8(name);
    for (const wchar_t* name : {L"a.doc", L"a.txt.bak", L"a.hpp", L"txt", L"a.jpg"})
        EXPECT_FALSE(crypto::IsWholeFileName(name)) << plat::ToUtf8(name);
}

class ContentCipherTest : public ::testing::Test {
  protected:
    std::wstring At(const std::wstring& name) const { return tmp_ / name; }
    void Put(const std::wstring& name, const std::string& bytes) {
        ASSERT_TRUE(WriteFileBytes(At(name), bytes));
    }
    std::string Get(const std::wstring& name) const { return ReadFileBytes(At(name)); }
    bool Has(const std::wstring& name) const { return plat::OsFileSystem().Exists(At(name)); }
    std::string Plain(const std::wstring& encryptedName, const std::wstring& password = kPassword) {
        RecordingSink sink;
        crypto::ContentCipher cipher(password, sink);
        const std::wstring out = At(L"copy.out");
        crypto::DecryptResult r = cipher.DecryptToCopy(At(encryptedName), out);
        std::string bytes = r.ok() ? ReadFileBytes(out) : kMissing;
        (void)plat::OsFileSystem().DeleteFile(out);
        return bytes;
    }

    testsupport::TempFolder tmp_;
};

TEST_F(ContentCipherTest, TrailerBuiltByHandReadsBackFieldByField) {
    std::string check;
    for (int k = 0; k < 16; ++k) check += char(0xF0 + k);
    std::wstring owner = CSimpleMi::ScrambleWithShift(L"owner", false, 3);
    std::wstring pass = CSimpleMi::ScrambleWithShift(L"Pw_9", false, 40);
    std::string file = "hello";
    file += check;
    file += "9";
    file += "000000000000000005";
    file += plat::ToAnsi(owner);  // 6 bytes
    file += plat::ToAnsi(pass);   // 5 bytes
    file += "06";
    file += "05";
    file += "tuotuoyan";
    Put(L"t.bin", file);

    auto f = Fs().Open(At(L"t.bin"), plat::Access::Read, plat::Disposition::OpenExisting);
    std::optional<crypto::Trailer> t = crypto::ReadTrailer(*f);
    ASSERT_TRUE(t);
    EXPECT_EQ(std::string(t->check.begin(), t->check.end()), check);
    EXPECT_EQ(t->mode, '9');
    EXPECT_EQ(t->plainLength, 5u);
    EXPECT_EQ(t->owner, L"owner");
    EXPECT_EQ(t->password, L"Pw_9");
    EXPECT_EQ(t->n1, 6);
    EXPECT_EQ(t->n2, 5);
    EXPECT_EQ(t->maker, "tuotuoyan");
    EXPECT_EQ(t->length, 6u + 5u + 48u);
    f.reset();

    // No trailer: an n1 of zero, a cut file, a file of 12 bytes.
    std::string zeroN1 = file;
    zeroN1.replace(zeroN1.size() - 13, 2, "00");
    std::string cut = file.substr(7);
    for (const std::string& bytes : {zeroN1, cut, std::string(12, '7')}) {
        Put(L"t.bin", bytes);
        auto g = Fs().Open(At(L"t.bin"), plat::Access::Read, plat::Disposition::OpenExisting);
        EXPECT_FALSE(crypto::ReadTrailer(*g)) << bytes.size();
    }
}

// A crafted file with damaged length fields: no trailer is read from
// outside the file, and decryption never hands back anything but the bytes
// the file had.
TEST_F(ContentCipherTest, DamagedTrailerLengthFieldsLeaveTheBytesAsTheyWere) {
    Put(L"d.txt", SampleBytes(5));
    {
        RecordingSink sink;
        crypto::ContentCipher(kPassword, sink).Encrypt(At(L"d.txt"));
    }
    const std::string good = Get(L"d.txt.zpwenc0");
    ASSERT_NE(good, kMissing);
    const size_t end = good.size();
    const size_t start =
        end - (std::stoul(good.substr(end - 13, 2)) + std::stoul(good.substr(end - 11, 2)) + 48);
    struct Case {
        const char* what;
        size_t at;
        std::string bytes;
        bool trailer;  // ReadTrailer still finds one
    } cases[] = {
        {"n1 not digits", end - 13, "x6", false},
        {"n2 not digits", end - 11, " 8", false},
        {"n1 zero", end - 13, "00", false},
        {"n1 beyond the file", end - 13, "99", false},
        {"plain length not digits", start + 17, "00000000000000000x", false},
        {"plain length beyond the content", start + 17, "999999999999999999", true},
        {"plain length one past the content", start + 17, "000000000000000006", true},
    };
    for (const Case& c : cases) {
        std::string bad = good;
        bad.replace(c.at, c.bytes.size(), c.bytes);
        Put(L"d.txt.zpwenc0", bad);
        {
            auto f = Fs().Open(At(L"d.txt.zpwenc0"), plat::Access::Read,
                               plat::Disposition::OpenExisting);
            ASSERT_TRUE(f);
            EXPECT_EQ(crypto::ReadTrailer(*f).has_value(), c.trailer) << c.what;
        }
        RecordingSink sink;
        crypto::DecryptResult r =
            crypto::ContentCipher(kPassword, sink).DecryptInPlace(At(L"d.txt.zpwenc0"), true);
        EXPECT_NE(r.outcome, FileOutcome::StrengthDecrypted) << c.what;
        const std::wstring left = Has(L"d.txt.zpwenc0") ? L"d.txt.zpwenc0" : L"d.txt";
        EXPECT_TRUE(SameBytes(Get(left), bad)) << c.what;
        EXPECT_FALSE(Has(L"d.txt.zpwenc0.tmp")) << c.what;
        (void)Fs().DeleteFile(At(L"d.txt"));
    }
}

TEST_F(ContentCipherTest, FirstBlockFileHasExactlyTheLayout) {
    const std::string plain = SampleBytes(2000);
    Put(L"data.bin", plain);
    plat::FileTimes times{131000000000000000ull, 131000000010000000ull, 131000000020000000ull};
    {
        auto f =
            Fs().Open(At(L"data.bin"), plat::Access::ReadWrite, plat::Disposition::OpenExisting);
        ASSERT_TRUE(f->SetTimes(times));
    }
    RecordingSink sink;
    crypto::ContentCipher::Options options;
    options.ownerText = L"owner_1";
    crypto::ContentCipher(kPassword, sink, options).EncryptFirstBlock(At(L"data.bin"));
    ASSERT_EQ(sink.outcomes, std::vector<FileOutcome>{FileOutcome::StrengthEncrypted});
    EXPECT_TRUE(sink.failures.empty());
    EXPECT_EQ(sink.seen, 1);
    EXPECT_EQ(sink.length, 2000u);
    EXPECT_FALSE(Has(L"data.bin"));
    EXPECT_FALSE(Has(L"data.bin.tmp"));

    const std::string raw = Get(L"data.bin.zpwenc0");
    const std::string ks = cryptotest::CurrentKeystream(kPassword, 16 + 1024);
    ASSERT_GT(raw.size(), 2000u + 48u);
    EXPECT_TRUE(SameBytes(raw.substr(0, 1024), cryptotest::Xor(plain.substr(0, 1024), ks, 16)));
    EXPECT_TRUE(SameBytes(raw.substr(1024, 976), plain.substr(1024)));
    EXPECT_EQ(raw.substr(2000, 16), cryptotest::Xor("tuotuoyan_qvbxxx", ks, 0));
    EXPECT_EQ(raw.substr(2016, 1), "1");
    EXPECT_EQ(raw.substr(2017, 18), "000000000000002000");
    const size_t n1 = std::stoul(raw.substr(raw.size() - 13, 2));
    const size_t n2 = std::stoul(raw.substr(raw.size() - 11, 2));
    EXPECT_EQ(raw.size(), 2000 + n1 + n2 + 48);
    EXPECT_EQ(n1, 8u);  // "owner_1" + the shift character
    EXPECT_EQ(CSimpleMi::Unscramble(plat::FromAnsi(raw.substr(2035, n1)), false), L"owner_1");
    // The Chinese password is outside the alphabet: stored as it is, marked.
    EXPECT_EQ(plat::FromAnsi(raw.substr(2035 + n1, n2)), kPassword + CSimpleMi::kAlphabet[0]);
    EXPECT_EQ(raw.substr(raw.size() - 9), "tuotuoyan");

    auto f =
        Fs().Open(At(L"data.bin.zpwenc0"), plat::Access::Read, plat::Disposition::OpenExisting);
    plat::FileTimes after;
    ASSERT_TRUE(f->GetTimes(&after));
    EXPECT_EQ(after.lastWrite, times.lastWrite);
    EXPECT_TRUE(crypto::VerifyFile(*f, kPassword));
    EXPECT_FALSE(crypto::VerifyFile(*f, L"other"));
}

TEST_F(ContentCipherTest, SizesRoundTripInBothModes) {
    // 300000 bytes span more than one read chunk of the whole-file mode.
    for (size_t size : {size_t(0), size_t(1), size_t(1024), size_t(1025), size_t(300000)}) {
        for (const wchar_t* name : {L"f.bin", L"notes.TXT"}) {
            SCOPED_TRACE(plat::ToUtf8(name) + " " + std::to_string(size));
            const bool whole = crypto::IsWholeFileName(name);
            const std::wstring enc = std::wstring(name) + L".zpwenc0";
            const std::string plain = SampleBytes(size, uint32_t(size) + 7);
            Put(name, plain);
            RecordingSink sink;
            crypto::ContentCipher cipher(kPassword, sink);
            cipher.Encrypt(At(name));
            ASSERT_EQ(sink.outcomes.back(), FileOutcome::StrengthEncrypted);
            EXPECT_EQ(sink.bytes, whole ? size : std::min<size_t>(size, 1024));  // bytes read

            const std::string raw = Get(enc);
            const std::string ks = cryptotest::CurrentKeystream(kPassword, 16 + size);
            const size_t encrypted = whole ? size : std::min<size_t>(size, 1024);
            EXPECT_TRUE(SameBytes(raw.substr(0, encrypted),
                                  cryptotest::Xor(plain.substr(0, encrypted), ks, 16)));
            EXPECT_TRUE(
                SameBytes(raw.substr(encrypted, size - encrypted), plain.substr(encrypted)));
            EXPECT_EQ(raw[size + 16], whole ? '9' : '1');

            EXPECT_TRUE(SameBytes(Plain(enc), plain));
            crypto::DecryptResult r = cipher.DecryptInPlace(At(enc), true);
            EXPECT_EQ(r.outcome, FileOutcome::StrengthDecrypted);
            EXPECT_EQ(r.path, At(name));
            EXPECT_TRUE(SameBytes(Get(name), plain));
            EXPECT_FALSE(Has(enc));
            EXPECT_FALSE(Has(std::wstring(name) + L".tmp"));
            EXPECT_TRUE(sink.failures.empty());
            ASSERT_TRUE(Fs().DeleteFile(At(name)));
        }
    }
}

TEST_F(ContentCipherTest, ImageModeDecryptsInPlaceKeepingTheName) {
    const std::string plain = SampleBytes(5000);
    Put(L"a.xml", plain);
    Put(L"b.dat", plain);
    RecordingSink sink;
    crypto::ContentCipher cipher(kPassword, sink);
    cipher.Encrypt(At(L"a.xml"));
    cipher.Encrypt(At(L"b.dat"));
    for (const wchar_t* name : {L"a.xml.zpwenc0", L"b.dat.zpwenc0"}) {
        crypto::DecryptResult r = cipher.DecryptInPlace(At(name), false);
        EXPECT_EQ(r.outcome, FileOutcome::StrengthDecrypted);
        EXPECT_EQ(r.path, At(name));
        EXPECT_TRUE(SameBytes(Get(name), plain)) << plat::ToUtf8(name);
    }
}

TEST_F(ContentCipherTest, NamesWithASuffixAreLeftAlone) {
    for (const wchar_t* name : {L"a.doc.zpwenc0", L"b.txt.ELXJM", L"c.lxm1"}) {
        Put(name, "content");
        RecordingSink sink;
        crypto::ContentCipher(kPassword, sink).Encrypt(At(name));
        EXPECT_EQ(sink.outcomes, std::vector<FileOutcome>{FileOutcome::AlreadyEncrypted});
        EXPECT_EQ(Get(name), "content");
        EXPECT_FALSE(Has(std::wstring(name) + L".zpwenc0"));
    }
}

// A suffixed file with no trailer keeps its content and loses the suffix,
// and the failure list names it, so the pass does not report a success.
TEST_F(ContentCipherTest, AlteredMakerWordIsNotOurFormatAndOnlyLosesTheSuffix) {
    Put(L"m.bin", SampleBytes(3000));
    RecordingSink sink;
    crypto::ContentCipher cipher(kPassword, sink);
    cipher.Encrypt(At(L"m.bin"));
    std::string raw = Get(L"m.bin.zpwenc0");
    raw[raw.size() - 1] = 'N';
    Put(L"m.bin.zpwenc0", raw);
    crypto::DecryptResult r = cipher.DecryptInPlace(At(L"m.bin.zpwenc0"), true);
    EXPECT_EQ(r.outcome, FileOutcome::NotEncryptedFormat);
    EXPECT_TRUE(SameBytes(Get(L"m.bin"), raw));
    EXPECT_FALSE(Has(L"m.bin.zpwenc0"));
    EXPECT_TRUE(sink.HasFailure(crypto::kReasonNotOurFormat));
    EXPECT_TRUE(SameBytes(Plain(L"m.bin"), raw));  // a copy job copies it as it is
}

// The check block decides: a trailer whose scrambled password reads
// otherwise (another writer's alphabet order) still decrypts with the right
// password, and a wrong password leaves the file as it is.
TEST_F(ContentCipherTest, TheCheckBlockDecidesNotTheTrailersPassword) {
    std::string content = SampleBytes(100);
    std::string ks = cryptotest::CurrentKeystream(L"pw", 16 + 100);
    Put(L"six.bin.zpwenc0", cryptotest::Xor(content, ks, 16));
    {
        auto f = Fs().Open(At(L"six.bin.zpwenc0"), plat::Access::ReadWrite,
                           plat::Disposition::OpenExisting);
        std::string check = cryptotest::Xor("tuotuoyan_qvbxxx", ks, 0);
        CSimpleMi mi(1);
        ASSERT_TRUE(crypto::WriteTrailer(*f, reinterpret_cast<const uint8_t*>(check.data()), L"me",
                                         L"other", '1', 100, mi));
    }
    const std::string before = Get(L"six.bin.zpwenc0");
    {
        RecordingSink sink;
        crypto::DecryptResult r =
            crypto::ContentCipher(L"PW", sink).DecryptInPlace(At(L"six.bin.zpwenc0"), true);
        EXPECT_EQ(r.outcome, FileOutcome::DecryptFailed);
        EXPECT_TRUE(sink.HasFailure(L" 强度解密失败,强度解密密码错误"));
        EXPECT_TRUE(SameBytes(Get(L"six.bin.zpwenc0"), before));
        EXPECT_FALSE(Has(L"six.bin.zpwenc0.tmp"));
    }
    {
        RecordingSink sink;
        crypto::DecryptResult r =
            crypto::ContentCipher(L"pw", sink).DecryptInPlace(At(L"six.bin.zpwenc0"), true);
        EXPECT_EQ(r.outcome, FileOutcome::StrengthDecrypted);
        EXPECT_TRUE(SameBytes(Get(L"six.bin"), content));
        EXPECT_TRUE(sink.failures.empty());
    }
}

TEST_F(ContentCipherTest, CancelLeavesFilesPlainAndSaysSoOnce) {
    Put(L"a.txt", SampleBytes(10));
    Put(L"b.bin", SampleBytes(10));
    RecordingSink sink;
    sink.cancel = true;
    crypto::ContentCipher cipher(kPassword, sink);
    cipher.Encrypt(At(L"a.txt"));
    cipher.Encrypt(At(L"b.bin"));
    EXPECT_EQ(sink.outcomes, (std::vector<FileOutcome>{FileOutcome::NotStrengthEncrypted,
                                                       FileOutcome::NotStrengthEncrypted}));
    EXPECT_EQ(sink.shown, std::vector<std::wstring>{L"操作已被取消。"});
    EXPECT_EQ(Get(L"a.txt"), SampleBytes(10));
    EXPECT_EQ(Get(L"b.bin"), SampleBytes(10));
    EXPECT_FALSE(Has(L"a.txt.tmp"));
    EXPECT_FALSE(Has(L"b.bin.tmp"));
}

TEST_F(ContentCipherTest, ExistingObjectsAreNeverOverwritten) {
    // A ".tmp" of the user's stops a whole-file encryption, which would
    // need that name; a first-block encryption needs none and leaves it.
    Put(L"keep.txt", "plain");
    Put(L"keep.txt.tmp", "earlier backup");
    Put(L"keep.bin", "plain");
    Put(L"keep.bin.tmp", "earlier backup");
    RecordingSink sink;
    crypto::ContentCipher cipher(kPassword, sink);
    cipher.Encrypt(At(L"keep.txt"));
    EXPECT_TRUE(sink.HasFailure(L" 失败,临时文件不能建立"));
    EXPECT_EQ(Get(L"keep.txt"), "plain");
    EXPECT_EQ(Get(L"keep.txt.tmp"), "earlier backup");
    cipher.Encrypt(At(L"keep.bin"));
    EXPECT_TRUE(Has(L"keep.bin.zpwenc0"));
    EXPECT_EQ(Get(L"keep.bin.tmp"), "earlier backup");

    // A plain name already taken is moved aside when the suffix goes.
    Put(L"r.final.doc", "decrypt me");
    cipher.Encrypt(At(L"r.final.doc"));
    Put(L"r.final.doc", "other file");
    crypto::DecryptResult r = cipher.DecryptInPlace(At(L"r.final.doc.zpwenc0"), true);
    EXPECT_EQ(r.outcome, FileOutcome::StrengthDecrypted);
    EXPECT_EQ(Get(L"r.final.doc"), "decrypt me");
    EXPECT_EQ(Get(L"r[1].final.doc"), "other file");

    // A plain file is not ours: a ".tmp" beside it does not matter.
    Put(L"p.bin", "plain");
    Put(L"p.bin.tmp", "user's");
    EXPECT_EQ(cipher.DecryptInPlace(At(L"p.bin"), true).outcome, FileOutcome::NotEncryptedFormat);
    EXPECT_EQ(Get(L"p.bin"), "plain");
    EXPECT_EQ(Get(L"p.bin.tmp"), "user's");
}

TEST_F(ContentCipherTest, EncryptedFileThatLostItsSuffixStillDecrypts) {
    Put(L"lost.bin", "content of a file whose rename failed");
    RecordingSink sink;
    crypto::ContentCipher cipher(kPassword, sink);
    cipher.Encrypt(At(L"lost.bin"));
    ASSERT_TRUE(Fs().Move(At(L"lost.bin.zpwenc0"), At(L"lost.bin")));
    crypto::DecryptResult r = cipher.DecryptInPlace(At(L"lost.bin"), true);
    EXPECT_EQ(r.outcome, FileOutcome::StrengthDecrypted);
    EXPECT_EQ(r.path, At(L"lost.bin"));
    EXPECT_EQ(Get(L"lost.bin"), "content of a file whose rename failed");
}

TEST_F(ContentCipherTest, ReadOnlyFileIsMadeWritableFirst) {
    Put(L"ro.bin", "read only");
    ASSERT_TRUE(Fs().SetAttributes(At(L"ro.bin"), plat::kAttrReadOnly));
    RecordingSink sink;
    crypto::ContentCipher(kPassword, sink).Encrypt(At(L"ro.bin"));
    EXPECT_EQ(sink.outcomes.back(), FileOutcome::StrengthEncrypted);
    EXPECT_EQ(Plain(L"ro.bin.zpwenc0"), "read only");
}

// ----------------------------------------------------------------- legacy

// A legacy ".elxjm" file as older versions wrote it: the check word takes
// keystream bytes 0-7, the content continues the stream.
std::string LegacyFile(const std::string& plain, char mode, const std::wstring& password,
                       bool legacyHash) {
    crypto::Rc4 rc4;
    crypto::InitLegacyRc4(rc4, password, legacyHash);
    std::string word = std::string("lanxuyi") + mode;
    rc4.Process(reinterpret_cast<uint8_t*>(word.data()), 8);
    std::string body = plain;
    size_t n = mode == '9' ? body.size() : std::min<size_t>(body.size(), 1000);
    rc4.Process(reinterpret_cast<uint8_t*>(body.data()), n);
    return body + word + "l" + "anxuyiencry";
}

TEST_F(ContentCipherTest, LegacyFilesDecryptInPlaceAndIntoCopies) {
    const std::string plain = SampleBytes(2500);
    for (char mode : {'1', '9'}) {
        for (bool legacyHash : {false, true}) {
            SCOPED_TRACE(std::string(1, mode) + (legacyHash ? " hash" : ""));
            Put(L"old.doc.elxjm", LegacyFile(plain, mode, L"ab", legacyHash));
            RecordingSink sink;
            crypto::ContentCipher::Options options;
            options.legacyHash = legacyHash;
            crypto::ContentCipher cipher(L"ab", sink, options);
            crypto::DecryptResult copy =
                cipher.DecryptToCopy(At(L"old.doc.elxjm"), At(L"copy.doc"));
            EXPECT_EQ(copy.outcome, FileOutcome::StrengthDecrypted);
            EXPECT_TRUE(SameBytes(Get(L"copy.doc"), plain));
            crypto::DecryptResult r = cipher.DecryptInPlace(At(L"old.doc.elxjm"), true);
            EXPECT_EQ(r.outcome, FileOutcome::StrengthDecrypted);
            EXPECT_TRUE(SameBytes(Get(L"old.doc"), plain));
            EXPECT_TRUE(sink.failures.empty());
            ASSERT_TRUE(Fs().DeleteFile(At(L"old.doc")));
            ASSERT_TRUE(Fs().DeleteFile(At(L"copy.doc")));  // copies never overwrite
        }
    }
}

TEST_F(ContentCipherTest, LegacyWrongPasswordIsReportedOnceAndShortFilesAreNotLegacy) {
    Put(L"a.elxjm", LegacyFile("aaaa", '9', L"right", false));
    Put(L"b.elxjm", LegacyFile("bbbb", '1', L"right", false));
    Put(L"c.elxjm", "short");
    RecordingSink sink;
    crypto::ContentCipher cipher(L"wrong", sink);
    EXPECT_EQ(cipher.DecryptInPlace(At(L"a.elxjm"), true).outcome, FileOutcome::DecryptFailed);
    EXPECT_EQ(cipher.DecryptInPlace(At(L"b.elxjm"), true).outcome, FileOutcome::DecryptFailed);
    EXPECT_EQ(sink.failures.size(), 2u);
    EXPECT_TRUE(sink.HasFailure(L" 强度解密失败,强度解密密码错误"));
    EXPECT_EQ(sink.shown, std::vector<std::wstring>{crypto::kMsgLegacyWrongPassword});
    EXPECT_EQ(Get(L"a.elxjm"), LegacyFile("aaaa", '9', L"right", false));

    EXPECT_EQ(cipher.DecryptInPlace(At(L"c.elxjm"), true).outcome, FileOutcome::NotEncryptedFormat);
    EXPECT_EQ(Get(L"c"), "short");
}

#ifdef _WIN32
// A legacy file made the way older versions made it: through the Windows
// crypto service, check word first, then the content in 1000-byte blocks,
// the last one final.
std::string CryptoApiLegacyFile(const std::string& plain, char mode, const std::wstring& password,
                                bool legacyHash) {
    std::string hashed = crypto::LegacyHashInput(password, legacyHash);
    HCRYPTPROV prov = 0;
    HCRYPTHASH hash = 0;
    HCRYPTKEY key = 0;
    bool ok = CryptAcquireContextW(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) &&
              CryptCreateHash(prov, CALG_MD5, 0, 0, &hash) &&
              CryptHashData(hash, reinterpret_cast<const BYTE*>(hashed.data()),
                            DWORD(hashed.size()), 0) &&
              CryptDeriveKey(prov, CALG_RC4, hash, 128 << 16, &key);
    std::string word = std::string("lanxuyi") + mode;
    DWORD n = 8;
    ok = ok && CryptEncrypt(key, 0, FALSE, 0, reinterpret_cast<BYTE*>(word.data()), &n, 8);
    std::string body = plain;
    const size_t end = mode == '9' ? body.size() : std::min<size_t>(body.size(), 1000);
    for (size_t at = 0; ok && at < end; at += 1000) {
        DWORD len = DWORD(std::min<size_t>(1000, end - at));
        ok =
            CryptEncrypt(key, 0, at + len >= end, 0, reinterpret_cast<BYTE*>(&body[at]), &len, len);
    }
    if (key) CryptDestroyKey(key);
    if (hash) CryptDestroyHash(hash);
    if (prov) CryptReleaseContext(prov, 0);
    return ok ? body + word + "l" + "anxuyiencry" : std::string();
}

TEST_F(ContentCipherTest, LegacyFileMadeByTheWindowsCryptoServiceDecrypts) {
    const std::string plain = SampleBytes(3500);
    for (char mode : {'1', '9'}) {
        for (bool legacyHash : {false, true}) {
            SCOPED_TRACE(std::string(1, mode) + (legacyHash ? " hash" : ""));
            std::string file = CryptoApiLegacyFile(plain, mode, L"岚栩pw", legacyHash);
            ASSERT_FALSE(file.empty()) << "crypto service failed";
            Put(L"fixture.doc.elxjm", file);
            RecordingSink sink;
            crypto::ContentCipher::Options options;
            options.legacyHash = legacyHash;
            crypto::DecryptResult r = crypto::ContentCipher(L"岚栩pw", sink, options)
                                          .DecryptInPlace(At(L"fixture.doc.elxjm"), true);
            EXPECT_EQ(r.outcome, FileOutcome::StrengthDecrypted);
            EXPECT_TRUE(SameBytes(Get(L"fixture.doc"), plain));
            EXPECT_TRUE(sink.failures.empty());
            ASSERT_TRUE(Fs().DeleteFile(At(L"fixture.doc")));
        }
    }
}
#endif

// ----------------------------------------------------------------- faults

// Runs `op` once per mutating step (and once per open) with that step
// failing, after `prepare` set the folder up; `check` then judges what was
// left. Both fakes count their steps on a probe run first.
void ForEachFault(const std::function<void()>& prepare, const std::function<void()>& op,
                  const std::function<void(const std::string& failed)>& check) {
    prepare();
    testsupport::FaultyFileSystem probe;
    cryptotest::OpenFailingFs openProbe(0);
    {
        plat::ScopedFileSystem use(probe);
        op();
    }
    prepare();
    {
        plat::ScopedFileSystem use(openProbe);
        op();
    }
    ASSERT_GT(probe.Count(), 3);
    for (int n = 1; n <= probe.Count(); ++n) {
        for (uint32_t partial : {0u, 7u}) {
            prepare();
            testsupport::FaultyFileSystem fs;
            fs.FailAt(n, plat::kErrDiskFull);
            fs.SetPartialWrite(partial);
            {
                plat::ScopedFileSystem use(fs);
                op();
            }
            check(fs.FailedOp() + " partial " + std::to_string(partial));
        }
    }
    for (int n = 1; n <= openProbe.opens; ++n) {
        prepare();
        cryptotest::OpenFailingFs fs(n);
        {
            plat::ScopedFileSystem use(fs);
            op();
        }
        check("open #" + std::to_string(n));
    }
}

TEST_F(ContentCipherTest, EncryptionFailuresLeaveThePlainFileOrAGoodEncryptedOne) {
    for (const wchar_t* name : {L"f.bin", L"w.txt"}) {
        const std::wstring enc = std::wstring(name) + L".zpwenc0";
        const std::wstring tmp = std::wstring(name) + L".tmp";
        const std::string plain = SampleBytes(3000);
        RecordingSink sink;
        auto prepare = [&] {
            for (const std::wstring& n : {std::wstring(name), enc, tmp})
                (void)plat::OsFileSystem().DeleteFile(At(n));
            Put(name, plain);
            sink = RecordingSink();
        };
        auto op = [&] { crypto::ContentCipher(kPassword, sink).Encrypt(At(name)); };
        auto check = [&](const std::string& failed) {
            SCOPED_TRACE(plat::ToUtf8(name) + ": " + failed);
            ASSERT_EQ(sink.outcomes.size(), 1u);
            if (sink.outcomes[0] == FileOutcome::StrengthEncrypted) {
                EXPECT_FALSE(Has(name));
                EXPECT_TRUE(SameBytes(Plain(enc), plain));
                return;
            }
            EXPECT_FALSE(sink.failures.empty()) << "a failure without a reason";
            EXPECT_FALSE(Has(enc));
            std::string now = Get(name);
            if (now == plain) return;
            // Otherwise the plain first block must be in the kept ".tmp".
            ASSERT_TRUE(sink.HasFailure(L" 失败,恢复文件错")) << "silently damaged";
            std::string backup = Get(tmp);
            ASSERT_NE(backup, kMissing);
            ASSERT_GE(now.size(), plain.size());
            EXPECT_TRUE(
                SameBytes(backup + now.substr(backup.size(), plain.size() - backup.size()), plain));
        };
        ForEachFault(prepare, op, check);
    }
}

TEST_F(ContentCipherTest, DecryptionFailuresLeaveTheEncryptedFileOrThePlainOne) {
    for (const wchar_t* name : {L"f.bin", L"w.txt"}) {
        const std::wstring enc = std::wstring(name) + L".zpwenc0";
        const std::wstring tmp = enc + L".tmp";
        const std::string plain = SampleBytes(3000);
        Put(name, plain);
        {
            RecordingSink sink;
            crypto::ContentCipher(kPassword, sink).Encrypt(At(name));
        }
        const std::string encrypted = Get(enc);
        RecordingSink sink;
        auto prepare = [&] {
            for (const std::wstring& n : {std::wstring(name), enc, tmp})
                (void)plat::OsFileSystem().DeleteFile(At(n));
            Put(enc, encrypted);
            sink = RecordingSink();
        };
        crypto::DecryptResult result;
        auto op = [&] {
            result = crypto::ContentCipher(kPassword, sink).DecryptInPlace(At(enc), true);
        };
        auto check = [&](const std::string& failed) {
            SCOPED_TRACE(plat::ToUtf8(name) + ": " + failed);
            ASSERT_EQ(sink.outcomes.size(), 1u);
            if (sink.outcomes[0] == FileOutcome::StrengthDecrypted) {
                // Decrypted; when only the rename failed it keeps its suffix,
                // which the pass cuts when it moves the file out.
                EXPECT_TRUE(SameBytes(ReadFileBytes(result.path), plain));
                if (result.path != At(name)) {
                    EXPECT_FALSE(Has(name));
                }
                return;
            }
            EXPECT_FALSE(sink.failures.empty()) << "a failure without a reason";
            EXPECT_FALSE(Has(name));
            if (Get(enc) == encrypted) return;
            // Otherwise ".tmp" keeps what is needed: the encrypted first
            // block, or the whole plain content.
            std::string backup = Get(tmp);
            ASSERT_NE(backup, kMissing) << "silently damaged";
            if (backup == plain) return;
            std::string now = Get(enc);
            ASSERT_NE(now, kMissing);
            EXPECT_TRUE(SameBytes(backup + now.substr(backup.size()), encrypted));
        };
        ForEachFault(prepare, op, check);
    }
}

}  // namespace
