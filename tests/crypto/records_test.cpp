// Password records: reading, the three checks, sealing and the reset record.
#include "crypto/records.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "crypto/digest.h"
#include "crypto/rc4.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "store/layout.h"
#include "support/deadline.h"
#include "support/faulty_fs.h"
#include "support/hostile_files.h"
#include "support/test_files.h"

namespace {

using plat::Fs;
using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

class RecordsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        param_ = plat::JoinPath(tmp_.path(), L"paramff");
        ASSERT_TRUE(Fs().CreateDir(param_));
    }
    std::wstring At(const wchar_t* name) const { return plat::JoinPath(param_, name); }
    void Write(const wchar_t* name, const std::string& bytes) {
        ASSERT_TRUE(WriteFileBytes(At(name), bytes));
    }
    // A legacy sealed record: some lead-in, the encrypted check word, a byte
    // and the end marker.
    std::string LegacyRecord(const std::wstring& password, bool legacyHash) {
        std::string word = "lanxuyi9";
        crypto::Rc4 rc4;
        crypto::InitLegacyRc4(rc4, password, legacyHash);
        rc4.Process(reinterpret_cast<uint8_t*>(word.data()), 8);
        return "xx" + word + "l" + "ANXUYIENCRY";  // the marker matches in any case
    }

    testsupport::TempFolder tmp_;
    std::wstring param_;
};

TEST(KindLine, MapsTaggedAndLegacyLinesAndSetsTheLegacyHashFlag) {
    struct Case {
        const wchar_t* line;
        int kind;
        bool legacyHash;
    } cases[] = {
        {L"fftype=0", 3, false}, {L"fftype=1", 4, false}, {L"FFTYPE=2", 5, false},
        {L"type=0", 3, false},   {L"type=1", 4, true},    {L"Type=2", 5, true},
        {L"", 9, false},         {L"fftype=3", 9, false}, {L"fftype=1 ", 9, false},
    };
    for (const Case& c : cases) {
        bool flag = !c.legacyHash;
        EXPECT_EQ(crypto::KindFromLine(c.line, 9, &flag), c.kind) << plat::ToUtf8(c.line);
        EXPECT_EQ(flag, c.legacyHash) << plat::ToUtf8(c.line);
    }
}

TEST_F(RecordsTest, ReadMigratesOldNamesAndDefaultsTheKind) {
    Write(L"imimff.dat", "old pass");
    Write(L"typeff.dat", "fftype=0");
    Write(L"typeff.ulxjm", "type=1");
    Write(L"imimtwo.ulxjm", "second");
    crypto::StoreRecords r = crypto::ReadStoreRecords(param_, false);
    EXPECT_EQ(r.password, L"old pass");
    EXPECT_EQ(r.second, L"second");
    EXPECT_EQ(r.kind, crypto::kKindHigher);
    EXPECT_TRUE(r.legacyHash);
    EXPECT_FALSE(Fs().Exists(At(L"typeff.dat")));
    EXPECT_TRUE(Fs().Exists(At(L"imimff.ulxjm")));

    ASSERT_TRUE(Fs().DeleteFile(At(L"typeff.ulxjm")));
    EXPECT_EQ(crypto::ReadStoreRecords(param_, false).kind, crypto::kKindHighest);
    EXPECT_EQ(crypto::ReadStoreRecords(param_, true).kind, crypto::kKindNormal);
}

TEST_F(RecordsTest, NormalCheckIsExactAndAnEmptyRecordAcceptsAnything) {
    crypto::StoreRecords r = crypto::ReadStoreRecords(param_, false);
    EXPECT_TRUE(crypto::CheckNormalPassword(r, param_, false, L"whatever"));

    Write(L"imimff.ulxjm", "Secret");
    r = crypto::ReadStoreRecords(param_, false);
    EXPECT_TRUE(crypto::CheckNormalPassword(r, param_, false, L"Secret"));
    EXPECT_FALSE(crypto::CheckNormalPassword(r, param_, false, L"secret"));
    EXPECT_FALSE(crypto::CheckNormalPassword(r, param_, false, L"Secret "));
    EXPECT_FALSE(crypto::CheckNormalPassword(r, param_, false, L""));
}

TEST_F(RecordsTest, ResetPasswordReplacesTheStoredOne) {
    Write(L"imimff.ulxjm", "old");
    Write(L"imimffreset.ulxjm", "fresh");
    Write(L"imimffreset.dat", "stale");
    crypto::StoreRecords r = crypto::ReadStoreRecords(param_, false);
    EXPECT_TRUE(crypto::CheckNormalPassword(r, param_, false, L"fresh"));
    EXPECT_FALSE(Fs().Exists(At(L"imimffreset.ulxjm")));
    EXPECT_FALSE(Fs().Exists(At(L"imimffreset.dat")));
    EXPECT_EQ(ReadFileBytes(At(L"imimff.ulxjm")), "fresh");

    crypto::StoreRecords again = crypto::ReadStoreRecords(param_, false);
    EXPECT_FALSE(crypto::CheckNormalPassword(again, param_, false, L"old"));
    EXPECT_TRUE(crypto::CheckNormalPassword(again, param_, false, L"fresh"));
}

TEST_F(RecordsTest, SecondaryCheckNeedsANonEmptyExactRecord) {
    crypto::StoreRecords r;
    EXPECT_FALSE(crypto::CheckSecondaryPassword(r, L""));
    r.second = L"open only";
    EXPECT_TRUE(crypto::CheckSecondaryPassword(r, L"open only"));
    EXPECT_FALSE(crypto::CheckSecondaryPassword(r, L"Open only"));
}

TEST_F(RecordsTest, SealedRecordBytesAreTheEncryptedCheckWords) {
    // RC4 keyed with the digest text over "lanxuyi9tuotuoyan9", computed with
    // an independent RC4 (Python) over hashlib.md5(password.encode('gbk')).
    EXPECT_EQ(
        crypto::HexLower(
            reinterpret_cast<const uint8_t*>(crypto::SealedRecordBytes(L"abc123").data()), 18),
        "c00fbc29ebe30d6f7fa20844be31b4ddf90c");
    EXPECT_EQ(
        crypto::HexLower(
            reinterpret_cast<const uint8_t*>(crypto::SealedRecordBytes(L"岚栩密码").data()), 18),
        "862f046b4aad07d7c447a4cdf4bb2585e374");
}

TEST_F(RecordsTest, SealReplacesThePlainRecordAndChecksAgainstIt) {
    Write(L"imimff.ulxjm", "岚栩");
    Write(L"imimff.ulxjm.elxjm", LegacyRecord(L"older", false));
    ASSERT_TRUE(crypto::SealPasswordRecord(param_, L"岚栩"));
    EXPECT_FALSE(Fs().Exists(At(L"imimff.ulxjm")));
    EXPECT_FALSE(Fs().Exists(At(L"imimff.ulxjm.elxjm")));
    EXPECT_FALSE(Fs().Exists(At(L"imimff.ulxjm.tmp")));
    EXPECT_EQ(ReadFileBytes(At(L"imimff.ulxjm.zpwenc0")), crypto::SealedRecordBytes(L"岚栩"));
    EXPECT_TRUE(crypto::CheckStrengthPassword(param_, L"岚栩", false));
    EXPECT_FALSE(crypto::CheckStrengthPassword(param_, L"岚", false));
}

TEST_F(RecordsTest, SealedRecordOf18To20BytesIsReadAndLongerIsRefused) {
    const std::string sealed = crypto::SealedRecordBytes(L"pw");
    for (size_t extra : {0, 1, 2, 3}) {
        Write(L"imimff.ulxjm.zpwenc0", sealed + std::string(extra, 'z'));
        EXPECT_EQ(crypto::CheckStrengthPassword(param_, L"pw", false), extra <= 2)
            << 18 + extra << " bytes";
    }
    ASSERT_TRUE(Fs().DeleteFile(At(L"imimff.ulxjm.zpwenc0")));
    EXPECT_FALSE(crypto::CheckStrengthPassword(param_, L"pw", false));  // no record: reject
}

TEST_F(RecordsTest, LegacySealedRecordWinsAndHonoursTheLegacyHashFlag) {
    Write(L"imimff.ulxjm.zpwenc0", crypto::SealedRecordBytes(L"new"));
    Write(L"imimff.ulxjm.elxjm", LegacyRecord(L"ab", true));
    EXPECT_TRUE(crypto::CheckStrengthPassword(param_, L"ab", true));
    EXPECT_FALSE(crypto::CheckStrengthPassword(param_, L"ab", false));
    EXPECT_FALSE(crypto::CheckStrengthPassword(param_, L"new", true));

    // Short or unmarked: a plain-text password line.
    Write(L"imimff.ulxjm.elxjm", "plain pw\r\nrest");
    EXPECT_TRUE(crypto::CheckStrengthPassword(param_, L"plain pw", false));
    EXPECT_FALSE(crypto::CheckStrengthPassword(param_, L"Plain pw", false));
}

TEST_F(RecordsTest, SealingNeverLeavesTheStoreWithoutARecord) {
    // Every mutating step fails once in turn; afterwards the store is opened
    // either by its plain record or by its sealed one.
    Write(L"imimff.ulxjm", "pw");
    testsupport::FaultyFileSystem probe;
    {
        plat::ScopedFileSystem use(probe);
        ASSERT_TRUE(crypto::SealPasswordRecord(param_, L"pw"));
    }
    ASSERT_GT(probe.Count(), 2);
    for (int n = 1; n <= probe.Count(); ++n) {
        for (const wchar_t* name : {L"imimff.ulxjm.zpwenc0", L"imimff.ulxjm.tmp"})
            (void)Fs().DeleteFile(At(name));
        Write(L"imimff.ulxjm", "pw");
        testsupport::FaultyFileSystem fs;
        fs.FailAt(n, plat::kErrDiskFull);
        fs.SetPartialWrite(5);
        bool sealed;
        {
            plat::ScopedFileSystem use(fs);
            sealed = crypto::SealPasswordRecord(param_, L"pw");
        }
        bool plainOk = ReadFileBytes(At(L"imimff.ulxjm")) == "pw";
        bool sealedOk =
            ReadFileBytes(At(L"imimff.ulxjm.zpwenc0")) == crypto::SealedRecordBytes(L"pw");
        EXPECT_TRUE(plainOk || sealedOk) << "failing " << fs.FailedOp();
        if (sealed) {
            EXPECT_TRUE(sealedOk) << fs.FailedOp();
        }
    }
}

TEST_F(RecordsTest, ResetTimeTextAndDeletion) {
    EXPECT_EQ(crypto::ResetTimeText(param_), L"");
    Write(L"imimffreset.dat", "x");
    std::string text = plat::ToUtf8(crypto::ResetTimeText(param_));
    EXPECT_TRUE(
        std::regex_match(text, std::regex(R"(20\d\d-[1-9]\d?-[1-9]\d? \d{1,2}:\d{1,2}:\d{1,2})")))
        << text;
    crypto::DeleteResetFiles(param_);
    EXPECT_FALSE(Fs().Exists(At(L"imimffreset.dat")));
    EXPECT_EQ(crypto::ResetTimeText(param_), L"");
}

#ifndef _WIN32
// A crafted store: every record is a pipe, a link, a folder or far too big.
// Nothing hangs or reads without end, and such a record reads as missing.
TEST_F(RecordsTest, RecordsThatAreNotSmallRegularFilesReadAsMissing) {
    using testsupport::Hostile;
    const std::wstring elsewhere = tmp_ / L"elsewhere";
    ASSERT_TRUE(WriteFileBytes(elsewhere, "fftype=0"));
    const wchar_t* const names[] = {L"imimff.ulxjm", L"liamff.ulxjm", L"imimffreset.ulxjm",
                                    L"typeff.ulxjm", L"imimtwo.ulxjm"};
    for (Hostile kind : testsupport::kHostileKinds) {
        const char* what = testsupport::HostileName(kind);
        for (const wchar_t* name : names)
            ASSERT_TRUE(
                testsupport::PlaceHostile(kind, At(name), elsewhere, store::kMaxRecordSize + 1))
                << what;
        const crypto::StoreRecords r = testsupport::FinishesWithin(
            std::chrono::seconds(5), what, [&] { return crypto::ReadStoreRecords(param_, false); });
        EXPECT_EQ(r.password, L"") << what;
        EXPECT_EQ(r.mail, L"") << what;
        EXPECT_EQ(r.reset, L"") << what;
        EXPECT_EQ(r.kindLine, L"") << what;
        EXPECT_EQ(r.second, L"") << what;
        EXPECT_EQ(r.kind, crypto::kKindHighest) << what;
        for (const wchar_t* name : names) ASSERT_TRUE(testsupport::RemoveTree(At(name)));
    }
    // A long record just within the limit still gives its first line.
    Write(L"imimff.ulxjm", "pw\r\n" + std::string(store::kMaxRecordSize - 4, 'x'));
    EXPECT_EQ(crypto::ReadStoreRecords(param_, false).password, L"pw");
}

// The password checks treat such a record as one that cannot be read (the
// files' own trailers still refuse a wrong password); only a sealed record
// too long to be one is refused outright.
TEST_F(RecordsTest, StrengthCheckAgainstHostileRecordsNeverHangs) {
    using testsupport::Hostile;
    const std::wstring elsewhere = tmp_ / L"elsewhere";
    ASSERT_TRUE(WriteFileBytes(elsewhere, crypto::SealedRecordBytes(L"pw")));
    struct Case {
        const wchar_t* name;
        Hostile kind;
        bool accepts;
    } cases[] = {
        {L"imimff.ulxjm.zpwenc0", Hostile::Pipe, true},
        {L"imimff.ulxjm.zpwenc0", Hostile::LinkToDevZero, true},
        {L"imimff.ulxjm.zpwenc0", Hostile::LinkToFile, true},
        {L"imimff.ulxjm.zpwenc0", Hostile::Folder, true},
        {L"imimff.ulxjm.zpwenc0", Hostile::Oversized, false},
        {L"imimff.ulxjm.elxjm", Hostile::Pipe, true},
        {L"imimff.ulxjm.elxjm", Hostile::LinkToDevZero, true},
        {L"imimff.ulxjm.elxjm", Hostile::LinkToFile, true},
        {L"imimff.ulxjm.elxjm", Hostile::Oversized, true},
    };
    for (const Case& c : cases) {
        const std::string what =
            plat::ToUtf8(c.name) + std::string(" as ") + testsupport::HostileName(c.kind);
        ASSERT_TRUE(
            testsupport::PlaceHostile(c.kind, At(c.name), elsewhere, store::kMaxRecordSize + 1))
            << what;
        const bool accepted = testsupport::FinishesWithin(
            std::chrono::seconds(5), what.c_str(),
            [&] { return crypto::CheckStrengthPassword(param_, L"wrong", false); });
        EXPECT_EQ(accepted, c.accepts) << what;
        ASSERT_TRUE(testsupport::RemoveTree(At(c.name)));
    }
}
#endif

}  // namespace
