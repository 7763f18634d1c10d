// The read-only view of a store's data folder: names as the user gave them,
// what is left out, plain sizes and contents, files that fail their check.
#include "store/store_reader.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "crypto/cipher_test_util.h"
#include "crypto/content_cipher.h"
#include "platform/text.h"
#include "support/test_files.h"

namespace {

using cryptotest::RecordingSink;
using cryptotest::SampleBytes;
using testsupport::ReadFileBytes;
using testsupport::TempFolder;
using testsupport::WriteFileBytes;

const std::wstring kPassword = L"store pw";

class StoreReaderTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(plat::Fs().CreateDir(data_)); }
    // `rel` below the data folder, encrypted when `encrypt`.
    void Put(const std::wstring& rel, const std::string& bytes, bool encrypt,
             const std::wstring& password = kPassword) {
        const std::wstring path = plat::JoinPath(data_, rel);
        ASSERT_TRUE(WriteFileBytes(path, bytes));
        if (!encrypt) return;
        RecordingSink sink;
        crypto::ContentCipher cipher(password, sink);
        cipher.Encrypt(path);
        ASSERT_TRUE(sink.failures.empty());
    }
    std::string ReadAll(store::StoreReader& r, const std::wstring& rel) {
        std::wstring reason;
        auto f = r.Open(rel, &reason);
        if (!f) return "<unreadable>" + plat::ToUtf8(reason);
        std::string out(size_t(f->Size()), '\0');
        uint32_t done = 0;
        if (!f->Read(0, out.data(), uint32_t(out.size()), &done) || done != out.size())
            return "<short>";
        return out;
    }
    std::vector<std::wstring> Names(store::StoreReader& r, const std::wstring& rel) {
        std::vector<store::ViewEntry> entries;
        EXPECT_TRUE(r.List(rel, &entries));
        std::vector<std::wstring> names;
        for (const auto& e : entries) names.push_back(e.name + (e.folder ? L"/" : L""));
        return names;
    }

    TempFolder tmp_;
    std::wstring data_ = tmp_ / L"ffffff";
    std::shared_ptr<const crypto::FileKeys> keys_ =
        std::make_shared<crypto::FileKeys>(kPassword, false);
};

TEST_F(StoreReaderTest, StrengthStoreShowsThePlainNamesSizesAndBytes) {
    const std::string doc = SampleBytes(5000, 1), pic = SampleBytes(2048, 2),
                      mine = SampleBytes(10, 3), deep = SampleBytes(70000, 4);
    Put(L"报告.txt", doc, true);
    Put(L"photo.jpg", pic, true);
    // A plain file under the plain name: the encrypted one keeps its suffix.
    Put(L"a.txt", mine, false);
    ASSERT_TRUE(plat::Fs().CreateDir(tmp_ / L"side"));
    ASSERT_TRUE(WriteFileBytes(tmp_ / L"side/a.txt", SampleBytes(300, 5)));
    {
        RecordingSink sink;
        crypto::ContentCipher cipher(kPassword, sink);
        cipher.Encrypt(tmp_ / L"side/a.txt");
    }
    ASSERT_TRUE(
        plat::Fs().Move(tmp_ / L"side/a.txt.zpwenc0", plat::JoinPath(data_, L"a.txt.zpwenc0")));
    ASSERT_TRUE(plat::Fs().CreateDir(plat::JoinPath(data_, L"文档")));
    Put(L"文档/deep.html", deep, true);
    // The browse window's working area and a link are not shown.
    ASSERT_TRUE(plat::Fs().CreateDir(plat::JoinPath(data_, L"working")));
    ASSERT_TRUE(plat::Fs().CreateDir(plat::JoinPath(data_, L"working/NotDelete")));
    Put(L"working/NotDelete/leftover.txt", "plain leftover", false);
#ifndef _WIN32
    ASSERT_EQ(symlink("/etc/passwd", plat::ToUtf8(plat::JoinPath(data_, L"link")).c_str()), 0);
#endif

    store::StoreReader r(data_, keys_);
    EXPECT_EQ(Names(r, L""), (std::vector<std::wstring>{L"a.txt", L"a.txt.zpwenc0", L"photo.jpg",
                                                        L"报告.txt", L"文档/"}));
    EXPECT_EQ(Names(r, L"文档"), std::vector<std::wstring>{L"deep.html"});
    EXPECT_EQ(ReadAll(r, L"报告.txt"), doc);
    EXPECT_EQ(ReadAll(r, L"photo.jpg"), pic);
    EXPECT_EQ(ReadAll(r, L"a.txt"), mine);
    EXPECT_EQ(ReadAll(r, L"a.txt.zpwenc0"), SampleBytes(300, 5));
    EXPECT_EQ(ReadAll(r, L"文档/deep.html"), deep);
    store::ViewEntry e;
    ASSERT_TRUE(r.Stat(L"文档/deep.html", &e));
    EXPECT_EQ(e.size, deep.size());
    EXPECT_FALSE(e.folder);
    ASSERT_TRUE(r.Stat(L"文档", &e));
    EXPECT_TRUE(e.folder);
    ASSERT_TRUE(r.Stat(L"", &e));
    EXPECT_TRUE(e.folder);

    // Stored names, hidden things and paths out of the view are not there.
    for (const wchar_t* missing : {L"报告.txt.zpwenc0", L"working", L"working/NotDelete", L"link",
                                   L"文档/../报告.txt", L"nothing"}) {
        EXPECT_FALSE(r.Stat(missing, &e)) << plat::ToUtf8(missing);
        EXPECT_FALSE(r.Open(missing, nullptr)) << plat::ToUtf8(missing);
    }
    std::vector<store::ViewEntry> entries;
    EXPECT_FALSE(r.List(L"photo.jpg", &entries));
    EXPECT_FALSE(r.List(L"nothing", &entries));
    EXPECT_FALSE(r.Open(L"文档", nullptr));

    // Something added after the listing is found.
    Put(L"文档/later.txt", "later", true);
    EXPECT_EQ(ReadAll(r, L"文档/later.txt"), "later");
}

TEST_F(StoreReaderTest, TwoFilesStrippingToOneNameShowOnceEach) {
    Put(L"x.bin", "first", true);
    ASSERT_TRUE(plat::Fs().Move(plat::JoinPath(data_, L"x.bin.zpwenc0"),
                                plat::JoinPath(data_, L"x.bin.zpwenc1")));
    Put(L"x.bin", "second", true);
    store::StoreReader r(data_, keys_);
    EXPECT_EQ(Names(r, L""), (std::vector<std::wstring>{L"x.bin", L"x.bin.zpwenc1"}));
    EXPECT_EQ(ReadAll(r, L"x.bin"), "second");
    EXPECT_EQ(ReadAll(r, L"x.bin.zpwenc1"), "first");
}

TEST_F(StoreReaderTest, FilesFailingTheirCheckAreListedButNotRead) {
    Put(L"good.bin", "good bytes", true);
    Put(L"other.bin", SampleBytes(2000, 7), true, L"another password");
    store::StoreReader r(data_, keys_);
    std::vector<store::ViewEntry> entries;
    ASSERT_TRUE(r.List(L"", &entries));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].name, L"other.bin");
    EXPECT_EQ(entries[1].reason, crypto::kReasonWrongPassword);
    std::wstring reason;
    EXPECT_FALSE(r.Open(L"other.bin", &reason));
    EXPECT_EQ(reason, crypto::kReasonWrongPassword);
    EXPECT_EQ(ReadAll(r, L"good.bin"), "good bytes");
    EXPECT_EQ(r.StoredPath(L"other.bin"), plat::JoinPath(data_, L"other.bin.zpwenc0"));
}

TEST_F(StoreReaderTest, NormalStoreShowsEverythingAsItIs) {
    Put(L"clip.mp4.zpwenc0", "a user's own file", false);
    Put(L"notes.txt", "notes", false);
    store::StoreReader r(data_, nullptr);
    EXPECT_EQ(Names(r, L""), (std::vector<std::wstring>{L"clip.mp4.zpwenc0", L"notes.txt"}));
    EXPECT_EQ(ReadAll(r, L"clip.mp4.zpwenc0"), "a user's own file");
    store::ViewEntry e;
    ASSERT_TRUE(r.Stat(L"notes.txt", &e));
    EXPECT_EQ(e.size, 5u);
}

}  // namespace
