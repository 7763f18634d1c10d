// The "user.DOSATTRIB" forms other programs write, and where marks are kept.
#ifndef _WIN32
#include "platform/posix/dos_attrib.h"

#include <gtest/gtest.h>
#include <sys/xattr.h>

#include "platform/fs.h"
#include "platform/text.h"
#include "support/test_files.h"

namespace {

using plat::posix::DosAttrib;
using plat::posix::ParseDosAttrib;
using plat::posix::WithDosAttributes;

std::string B(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s.push_back(char(b));
    return s;
}

// A creation time (NTTIME, little-endian) that must survive every rewrite.
const std::string kCreated = B({0xbc, 0x9a, 0x78, 0x56, 0x34, 0x12, 0xda, 0x01});
const std::string kInitial = B({0x10, 0x32, 0x54, 0x76, 0x98, 0xba, 0xd9, 0x01});

// As Samba 4.17 writes them: empty hex text, version twice, padding, fields.
const std::string kV5ArchiveHidden = B({0x00, 0x00, 0x05, 0x00, 0x05, 0x00, 0x00, 0x00,  //
                                        0x11, 0x00, 0x00, 0x00, 0x22, 0x00, 0x00, 0x00}) +
                                     kCreated;
const std::string kV4HiddenSystem = B({0x00, 0x00, 0x04, 0x00, 0x04, 0x00, 0x00, 0x00,  //
                                       0x51, 0x00, 0x00, 0x00, 0x26, 0x00, 0x00, 0x00}) +
                                    kInitial + kCreated;
// Version 3 as earlier Samba wrote it: "0x12" (folder, hidden) first.
const std::string kV3Tail = B({0x00, 0x00, 0x00, 0x00,                          // EA size
                               0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // size
                               0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}) +
                            kCreated + kInitial;  // creation, change
const std::string kV3DirHidden = B({'0',  'x',  '1',  '2',  0x00, 0x00, 0x03, 0x00, 0x03, 0x00,
                                    0x00, 0x00, 0x11, 0x00, 0x00, 0x00, 0x12, 0x00, 0x00, 0x00}) +
                                 kV3Tail;

TEST(DosAttribTest, SambaBinaryFormsAreReadAndRewrittenInTheirAttributeWordOnly) {
    struct Case {
        const char* name;
        std::string value;
        uint32_t word;
        uint32_t newWord;
        std::string expected;  // the value after the change
    } cases[] = {
        {"v5", kV5ArchiveHidden, 0x22, 0x26,
         B({0x00, 0x00, 0x05, 0x00, 0x05, 0x00, 0x00, 0x00, 0x11, 0x00, 0x00, 0x00, 0x26, 0x00,
            0x00, 0x00}) +
             kCreated},
        {"v4", kV4HiddenSystem, 0x26, 0x20,
         B({0x00, 0x00, 0x04, 0x00, 0x04, 0x00, 0x00, 0x00, 0x51, 0x00, 0x00, 0x00, 0x20, 0x00,
            0x00, 0x00}) +
             kInitial + kCreated},
        {"v3", kV3DirHidden, 0x12, 0x16,
         B({'0',  'x',  '1',  '6',  0x00, 0x00, 0x03, 0x00, 0x03, 0x00,
            0x00, 0x00, 0x11, 0x00, 0x00, 0x00, 0x16, 0x00, 0x00, 0x00}) +
             kV3Tail},
        // A hex text that grows moves the rest to the next aligned places.
        {"v3 text grows",
         B({'0', 'x', '2', 0x00, 0x03, 0x00, 0x03, 0x00, 0x11, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00,
            0x00}) +
             kV3Tail,
         0x02, 0x26,
         B({'0',  'x',  '2',  '6',  0x00, 0x00, 0x03, 0x00, 0x03, 0x00,
            0x00, 0x00, 0x11, 0x00, 0x00, 0x00, 0x26, 0x00, 0x00, 0x00}) +
             kV3Tail},
        // Bytes after the fields (a later Samba's additions) are kept too.
        {"v5 with more", kV5ArchiveHidden + "more", 0x22, 0x20,
         B({0x00, 0x00, 0x05, 0x00, 0x05, 0x00, 0x00, 0x00, 0x11, 0x00, 0x00, 0x00, 0x20, 0x00,
            0x00, 0x00}) +
             kCreated + "more"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const DosAttrib read = ParseDosAttrib(c.value);
        EXPECT_EQ(read.form, DosAttrib::Form::Binary);
        EXPECT_EQ(read.attributes, c.word);
        const std::string changed = WithDosAttributes(c.value, c.newWord);
        EXPECT_EQ(changed, c.expected);
        EXPECT_EQ(ParseDosAttrib(changed).attributes, c.newWord);
    }
}

TEST(DosAttribTest, MalformedValuesAreNoMarks) {
    std::string v9 = kV5ArchiveHidden;
    v9[2] = v9[4] = 9;
    std::string mismatch = kV5ArchiveHidden;
    mismatch[4] = 4;
    std::string huge = kV5ArchiveHidden;
    huge.resize(plat::posix::kDosAttribMaxSize + 1, '\x7f');
    const struct {
        const char* name;
        std::string value;
    } cases[] = {
        {"empty", ""},
        {"only a NUL", std::string(1, '\0')},
        {"cut in the creation time", kV5ArchiveHidden.substr(0, kV5ArchiveHidden.size() - 1)},
        {"cut before the fields", kV4HiddenSystem.substr(0, 8)},
        {"cut in the version", kV5ArchiveHidden.substr(0, 3)},
        {"v3 cut short", kV3DirHidden.substr(0, kV3DirHidden.size() - 4)},
        {"unknown version", v9},
        {"version and level differ", mismatch},
        {"too long", huge},
        {"hex text and an unknown version", B({'0', 'x', '6', 0x00, 0x07, 0x00, 0x07, 0x00})},
        {"hex beyond 32 bits", "0x100000006"},
        {"no digits", "0x"},
        {"not hex", "0x6g"},
        {"not a hex text", "junk"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const DosAttrib read = ParseDosAttrib(c.value);
        EXPECT_EQ(read.form, DosAttrib::Form::None);
        EXPECT_EQ(read.attributes, 0u);
        EXPECT_EQ(WithDosAttributes(c.value, 0x26), "") << "never rewritten as Samba's form";
    }
    EXPECT_EQ(ParseDosAttrib("0x6").form, DosAttrib::Form::Text);
    EXPECT_EQ(ParseDosAttrib(std::string("0x26\0", 5)).attributes, 0x26u);
}

// The file system keeps Samba's form: marks seen, changed in place, the
// creation time and the archive bit left alone.
class SambaMarksTest : public ::testing::Test {
  protected:
    std::string U8(const std::wstring& name) { return plat::ToUtf8(tmp_ / name); }
    bool Put(const std::wstring& name, const std::string& value) {
        return setxattr(U8(name).c_str(), "user.DOSATTRIB", value.data(), value.size(), 0) == 0;
    }
    std::string Get(const std::wstring& name) {
        char buf[8192];
        ssize_t n = getxattr(U8(name).c_str(), "user.DOSATTRIB", buf, sizeof buf);
        return n < 0 ? "<none>" : std::string(buf, size_t(n));
    }
    testsupport::TempFolder tmp_;
};

TEST_F(SambaMarksTest, MarksInSambasFormAreSeenAndChangedWithoutLosingItsFields) {
    ASSERT_TRUE(plat::Fs().CreateDir(tmp_ / L"相册"));
    ASSERT_TRUE(testsupport::WriteFileBytes(tmp_ / L"a.txt", "x"));
    if (!Put(L"相册", kV5ArchiveHidden) || !Put(L"a.txt", kV4HiddenSystem))
        GTEST_SKIP() << "the temporary folder's file system has no user xattrs";
    const uint32_t hs = plat::kAttrHidden | plat::kAttrSystem;
    EXPECT_EQ(plat::Fs().GetAttributes(tmp_ / L"相册") & hs, plat::kAttrHidden);
    EXPECT_EQ(plat::Fs().GetAttributes(tmp_ / L"a.txt") & hs, hs);
    std::vector<plat::DirEntry> entries;
    ASSERT_TRUE(plat::Fs().ListDir(tmp_.path(), &entries));
    for (const auto& e : entries) EXPECT_TRUE(e.attributes & plat::kAttrHidden) << U8(e.name);

    ASSERT_TRUE(plat::Fs().SetAttributes(tmp_ / L"相册", hs | plat::kAttrDirectory));
    std::string want = kV5ArchiveHidden;
    want[12] = 0x26;
    EXPECT_EQ(Get(L"相册"), want);
    ASSERT_TRUE(plat::Fs().SetAttributes(tmp_ / L"相册", plat::kAttrDirectory));
    want[12] = 0x20;
    EXPECT_EQ(Get(L"相册"), want) << "cleared marks keep the value and its creation time";
    EXPECT_EQ(plat::Fs().GetAttributes(tmp_ / L"相册") & hs, 0u);

    // Read-only lives in the mode; the value still changes in its word only.
    ASSERT_TRUE(plat::Fs().SetAttributes(tmp_ / L"a.txt", plat::kAttrHidden | plat::kAttrReadOnly));
    want = kV4HiddenSystem;
    want[12] = 0x22;
    EXPECT_EQ(Get(L"a.txt"), want);
    EXPECT_EQ(plat::Fs().GetAttributes(tmp_ / L"a.txt") & (hs | plat::kAttrReadOnly),
              plat::kAttrHidden | plat::kAttrReadOnly);
    ASSERT_TRUE(plat::Fs().SetAttributes(tmp_ / L"a.txt", plat::kAttrNormal));
}

TEST_F(SambaMarksTest, AnOversizedValueIsNoMarksAndIsReplacedByTheTextForm) {
    ASSERT_TRUE(testsupport::WriteFileBytes(tmp_ / L"big", "x"));
    std::string huge = kV5ArchiveHidden;
    huge.resize(plat::posix::kDosAttribMaxSize + 100, '\x7f');
    if (!Put(L"big", huge)) GTEST_SKIP() << "no user xattrs this long here";
    EXPECT_EQ(plat::Fs().GetAttributes(tmp_ / L"big") & plat::kAttrHidden, 0u);
    ASSERT_TRUE(plat::Fs().SetAttributes(tmp_ / L"big", plat::kAttrSystem));
    EXPECT_EQ(Get(L"big"), "0x4");
}

TEST(DosStoreTest, ExfatMarksGoThroughTheFatIoctlsOnlyWhereTheDriverHasThem) {
    using plat::posix::DosStore;
    namespace p = plat::posix;
    const long ext4 = 0xEF53, tmpfs = 0x01021994;
    const struct {
        long type;
        bool fatIoctl, ntfsAttrib;
        DosStore want;
        bool asksFat, asksNtfs;
    } cases[] = {
        {p::kVfatMagic, false, false, DosStore::Fat, false, false},
        {p::kExfatMagic, true, false, DosStore::Fat, true, false},
        {p::kExfatMagic, false, false, DosStore::Xattr, true, false},
        {p::kNtfs3Magic, false, true, DosStore::Ntfs, false, true},
        {p::kFuseMagic, false, false, DosStore::Xattr, false, true},
        {ext4, true, true, DosStore::Xattr, false, false},
        {tmpfs, true, true, DosStore::Xattr, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        int fatAsked = 0, ntfsAsked = 0;
        const DosStore got = p::ChooseDosStore(
            c.type,
            [&] {
                ++fatAsked;
                return c.fatIoctl;
            },
            [&] {
                ++ntfsAsked;
                return c.ntfsAttrib;
            });
        EXPECT_EQ(got, c.want);
        EXPECT_EQ(fatAsked, c.asksFat ? 1 : 0);
        EXPECT_EQ(ntfsAsked, c.asksNtfs ? 1 : 0);
    }

    // Here (no FAT driver) the probe is asked and says no; a missing path
    // cannot be asked at all.
    testsupport::TempFolder tmp;
    ASSERT_TRUE(testsupport::WriteFileBytes(tmp / L"f", "x"));
    bool asked = false;
    EXPECT_FALSE(p::AnswersFatAttributeIoctl(plat::ToUtf8(tmp / L"f"), &asked));
    EXPECT_TRUE(asked);
    EXPECT_FALSE(p::AnswersFatAttributeIoctl(plat::ToUtf8(tmp / L"missing"), &asked));
    EXPECT_FALSE(asked);
}

}  // namespace
#endif  // !_WIN32
