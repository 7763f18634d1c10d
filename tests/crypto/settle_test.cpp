// Settling a whole-file change from whatever copies a cut left: a pulled
// drive or the file system's repair tool may leave the source emptied, the
// working file cut short or the final name pointing at nothing. Whatever the
// mix, the one complete copy is never removed, and the file ends under its
// journaled name with its full content, or every copy stays as it was.
#include <gtest/gtest.h>

#include <string>

#include "crypto/cipher_test_util.h"
#include "crypto/content_cipher.h"
#include "crypto/file_change.h"
#include "platform/fs.h"
#include "support/test_files.h"

namespace {

using cryptotest::RecordingSink;
using cryptotest::SampleBytes;
using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

const std::wstring kPassword = L"岚栩pw";
const std::string kGone = "<gone>";

// What one name holds when settling starts.
enum class Is { Missing, Whole, Empty, Cut, Other };

struct Case {
    const char* name;
    bool encrypt;  // an encryption (else a decryption) of a whole file
    Is from, temp, to;
    crypto::Settled expect;
    // Afterwards: the complete result under the final name, or the complete
    // source under its own (undone); `kept` lists names that must survive.
    enum { Result, Source, Both } ends;
};

class SettleWholeTest : public ::testing::TestWithParam<Case> {
  protected:
    std::wstring At(const std::wstring& name) const { return tmp_ / name; }
    testsupport::TempFolder tmp_;
};

std::string Shape(Is is, const std::string& whole) {
    switch (is) {
        case Is::Whole:
            return whole;
        case Is::Empty:
            return std::string();
        case Is::Cut:
            return whole.substr(0, whole.size() / 2);
        case Is::Other:
            return SampleBytes(whole.size(), 77);  // same size, other bytes
        case Is::Missing:
            break;
    }
    return kGone;
}

TEST_P(SettleWholeTest, NeverRemovesTheOnlyCompleteCopy) {
    const Case& c = GetParam();
    const std::string plain = SampleBytes(300000, 5);
    // Make both complete copies through the cipher itself.
    RecordingSink sink;
    crypto::ContentCipher cipher(kPassword, sink);
    const std::wstring name = c.encrypt ? At(L"片.txt") : At(L"片.txt.zpwenc0");
    if (c.encrypt) {
        ASSERT_TRUE(WriteFileBytes(name, plain));
    } else {
        ASSERT_TRUE(WriteFileBytes(At(L"片.txt"), plain));
        cipher.EncryptWhole(At(L"片.txt"));
        ASSERT_TRUE(plat::Fs().Exists(name));
    }
    const std::string source = ReadFileBytes(name);
    crypto::DecryptResult ended;
    std::unique_ptr<crypto::FileChange> change =
        c.encrypt ? cipher.PlanEncrypt(name, true) : cipher.PlanDecrypt(name, true, &ended);
    ASSERT_TRUE(change);
    ASSERT_TRUE(cipher.Apply(*change));
    const std::string result = ReadFileBytes(change->temp);
    ASSERT_FALSE(result.empty());
    // The record as the journal keeps it (the cipher's state is not kept).
    crypto::FileChange record;
    std::string journaled;
    crypto::SerializeChange(*change, &journaled);
    size_t used = 0;
    ASSERT_TRUE(crypto::ParseChange(reinterpret_cast<const uint8_t*>(journaled.data()),
                                    journaled.size(), &used, &record));
    change->handle.reset();

    // The state the cut left.
    plat::FileSystem& fs = plat::Fs();
    for (auto [path, is, whole] :
         {std::tuple{record.from, c.from, source}, std::tuple{record.temp, c.temp, result},
          std::tuple{record.to, c.to, result}}) {
        (void)fs.DeleteFile(path);
        if (is != Is::Missing) ASSERT_TRUE(WriteFileBytes(path, Shape(is, whole)));
    }
    auto got = [&](const std::wstring& p) { return fs.Exists(p) ? ReadFileBytes(p) : kGone; };
    const std::string before[3] = {got(record.from), got(record.temp), got(record.to)};

    EXPECT_EQ(c.expect, crypto::Settle(record)) << c.name;
    switch (c.ends) {
        case Case::Result:
            EXPECT_TRUE(result == got(record.to)) << c.name;
            EXPECT_TRUE(kGone == got(record.temp)) << c.name;
            EXPECT_TRUE(kGone == got(record.from)) << c.name;
            break;
        case Case::Source:
            EXPECT_TRUE(source == got(record.from)) << c.name;
            EXPECT_TRUE(kGone == got(record.temp)) << c.name;
            EXPECT_TRUE(kGone == got(record.to)) << c.name;
            break;
        case Case::Both:
            // Left alone: every copy that was there is there, unchanged
            // (a working file may have taken the final name).
            EXPECT_TRUE(before[0] == got(record.from)) << c.name;
            if (got(record.temp) == kGone && before[1] != kGone)
                EXPECT_TRUE(before[1] == got(record.to)) << c.name;
            else
                EXPECT_TRUE(before[2] == got(record.to)) << c.name;
            break;
    }
}

using S = crypto::Settled;
const Case kCases[] = {
    // Cut before the rename: the source is whole, the working file goes.
    {"enc, working file cut", true, Is::Whole, Is::Cut, Is::Missing, S::Done, Case::Source},
    {"enc, working file whole", true, Is::Whole, Is::Whole, Is::Missing, S::Done, Case::Source},
    {"dec, working file cut", false, Is::Whole, Is::Cut, Is::Missing, S::Done, Case::Source},
    // The drive kept the source's freed space but not the rename, and the
    // repair tool emptied the source: the working file is the only copy.
    {"enc, source emptied", true, Is::Empty, Is::Whole, Is::Missing, S::Done, Case::Result},
    {"dec, source emptied", false, Is::Empty, Is::Whole, Is::Missing, S::Done, Case::Result},
    // The rename reached the disk without its clusters (the final name is
    // empty after repair) while the source is whole: undone.
    {"enc, final name empty", true, Is::Whole, Is::Missing, Is::Empty, S::Done, Case::Source},
    {"enc, final name empty, working file whole", true, Is::Whole, Is::Whole, Is::Empty, S::Done,
     Case::Source},
    {"enc, final name empty, source emptied", true, Is::Empty, Is::Whole, Is::Empty, S::Done,
     Case::Result},
    // Renamed: the source goes.
    {"enc, renamed", true, Is::Whole, Is::Missing, Is::Whole, S::Done, Case::Result},
    {"dec, renamed", false, Is::Whole, Is::Missing, Is::Whole, S::Done, Case::Result},
    {"enc, renamed, source emptied", true, Is::Empty, Is::Missing, Is::Whole, S::Done,
     Case::Result},
    {"enc, done", true, Is::Missing, Is::Missing, Is::Whole, S::Done, Case::Result},
    // No complete copy anywhere, or a source someone changed since: all kept.
    {"enc, nothing whole", true, Is::Cut, Is::Cut, Is::Missing, S::LeftAlone, Case::Both},
    {"enc, source changed, working file whole", true, Is::Other, Is::Whole, Is::Missing,
     S::LeftAlone, Case::Both},
    {"dec, source changed, renamed", false, Is::Other, Is::Missing, Is::Whole, S::LeftAlone,
     Case::Both},
    {"enc, final name not ours", true, Is::Whole, Is::Missing, Is::Other, S::LeftAlone, Case::Both},
};

INSTANTIATE_TEST_SUITE_P(Cuts, SettleWholeTest, ::testing::ValuesIn(kCases));

}  // namespace
