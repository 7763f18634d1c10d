#include <gtest/gtest.h>

#include "platform/fs.h"
#include "platform/settings.h"
#include "platform/text.h"
#include "support/deadline.h"
#include "support/faulty_fs.h"
#include "support/hostile_files.h"
#include "support/test_files.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using plat::JoinPath;

class IniSettingsTest : public ::testing::Test {
  protected:
    std::wstring Folder() { return JoinPath(tmp_.path(), L"cfg 配置"); }
    std::unique_ptr<plat::Settings> Open() { return plat::MakeIniSettings(Folder()); }
    std::string FileBytes(const wchar_t* name) {
        return testsupport::ReadFileBytes(JoinPath(Folder(), name));
    }
    testsupport::TempFolder tmp_;
};

TEST_F(IniSettingsTest, FreshFolderGivesDefaultsAndWritesSurvive) {
    auto s = Open();
    EXPECT_EQ(s->GetProfileInt(L"", L"AutoHide", 1), 1);
    EXPECT_EQ(s->GetProfileString(L"", L"szTips", L"默认"), L"默认");
    EXPECT_FALSE(s->HasProfileValue(L"", L"readme"));
    EXPECT_EQ(s->GetWinIniInt(L"岚栩只读加密", L"First", 1), 1);
    EXPECT_EQ(s->ReadExplorerValue(L"SuperHidden"), -1);
    EXPECT_FALSE(plat::Fs().Exists(Folder())) << "reading creates nothing";

    ASSERT_TRUE(s->WriteProfileInt(L"", L"AutoHide", 0));
    ASSERT_TRUE(s->WriteProfileString(L"", L"szTips", L"岚栩提示"));
    ASSERT_TRUE(s->WriteProfileString(L"", L"readme", L""));
    ASSERT_TRUE(s->WriteProfileString(L"Sub", L"AutoHide", L"7"));
    ASSERT_TRUE(s->WriteWinIniString(L"岚栩只读加密", L"First", L"0"));
    ASSERT_TRUE(s->WriteExplorerHiddenPrefs(1, 0));

    s = Open();  // a new object reads everything back from disk
    EXPECT_EQ(s->GetProfileInt(L"", L"AutoHide", 1), 0);
    EXPECT_EQ(s->GetProfileInt(L"Sub", L"AutoHide", 1), 7) << "sections are kept apart";
    EXPECT_EQ(s->GetProfileString(L"", L"szTips", L""), L"岚栩提示");
    EXPECT_TRUE(s->HasProfileValue(L"", L"readme"));
    EXPECT_EQ(s->GetProfileString(L"", L"readme", L"default"), L"") << "empty is not missing";
    EXPECT_EQ(s->GetWinIniInt(L"岚栩只读加密", L"First", 1), 0);
    EXPECT_EQ(s->GetProfileInt(L"岚栩只读加密", L"First", 5), 5) << "win.ini is its own file";
    EXPECT_EQ(s->ReadExplorerValue(L"SuperHidden"), 1);
    EXPECT_EQ(s->ReadExplorerValue(L"ShowSuperHidden"), 0);
    ASSERT_TRUE(s->WriteExplorerHiddenPrefs(0, 1));
    EXPECT_EQ(s->ReadExplorerValue(L"SuperHidden"), 0);
    EXPECT_EQ(s->ReadExplorerValue(L"ShowSuperHidden"), 1);
}

TEST_F(IniSettingsTest, KeysIgnoreCaseAndUpdateInPlace) {
    auto s = Open();
    ASSERT_TRUE(s->WriteProfileString(L"", L"MapDriver", L"E:"));
    ASSERT_TRUE(s->WriteProfileString(L"", L"Other", L"o"));
    ASSERT_TRUE(s->WriteProfileString(L"", L"MAPDRIVER", L"F:E:"));
    EXPECT_EQ(s->GetProfileString(L"", L"mapdriver", L""), L"F:E:");
    EXPECT_EQ(s->GetProfileString(L"", L"other", L""), L"o");
    const std::string text = FileBytes(L"profile.ini");
    const std::wstring folded = plat::Fold(plat::FromAnsi(text));
    EXPECT_EQ(folded.find(L"mapdriver"), folded.rfind(L"mapdriver")) << text;
    EXPECT_NE(text.find("MapDriver=F:E:"), std::string::npos) << "the old line was rewritten";
    EXPECT_EQ(text.find("E:\r\n"), text.rfind("E:\r\n")) << "one line per key: " << text;
    ASSERT_TRUE(s->WriteProfileString(L"", L"Multi", L"a\r\nb=c"));
    EXPECT_EQ(s->GetProfileString(L"", L"b", L"none"), L"none") << "a value cannot add keys";
}

TEST_F(IniSettingsTest, IntegersAreTheLeadingNumber) {
    auto s = Open();
    struct Case {
        const wchar_t* stored;
        int value;
    } cases[] = {{L"12", 12}, {L"-5", -5}, {L"  3", 3}, {L"42abc", 42}, {L"abc", 0}, {L"", 0}};
    for (const auto& c : cases) {
        ASSERT_TRUE(s->WriteWinIniString(L"n", L"k", c.stored));
        EXPECT_EQ(s->GetWinIniInt(L"n", L"k", 99), c.value) << plat::ToUtf8(c.stored);
    }
}

TEST_F(IniSettingsTest, FilesHoldAnsiText) {
    auto s = Open();
    ASSERT_TRUE(s->WriteWinIniString(L"岚栩只读加密", L"mailaddr", L"岚栩@例子.cn"));
    const std::string bytes = FileBytes(L"win.ini");
    EXPECT_NE(bytes.find(plat::ToAnsi(L"[岚栩只读加密]")), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("\xE1\xB0\xE8\xF2@"), std::string::npos) << "GBK bytes of 岚栩";
    EXPECT_EQ(bytes.find("\xE5\xB2\x9A"), std::string::npos) << "no UTF-8 on disk";
}

TEST_F(IniSettingsTest, PrivateFilesLiveAtTheirOwnPath) {
    auto s = Open();
    const std::wstring file = JoinPath(tmp_.path(), L"brows.ini");
    EXPECT_EQ(s->GetPrivateInt(file, L"PARAM", L"counts", 3), 3);
    ASSERT_TRUE(s->WritePrivateString(file, L"PARAM", L"counts", L"8"));
    EXPECT_EQ(s->GetPrivateInt(file, L"PARAM", L"counts", 3), 8);
    EXPECT_EQ(s->GetPrivateString(file, L"param", L"COUNTS", L""), L"8");
    EXPECT_EQ(testsupport::ReadFileBytes(file), "[PARAM]\r\ncounts=8\r\n");
    // Hand-written files with blanks and quotes read like the profile functions do.
    ASSERT_TRUE(
        testsupport::WriteFileBytes(file, "; note\r\n[A]\r\n key = \"v 1\" \r\n[B]\nk=2\n"));
    EXPECT_EQ(s->GetPrivateString(file, L"a", L"KEY", L""), L"v 1");
    EXPECT_EQ(s->GetPrivateInt(file, L"B", L"k", 0), 2);
    ASSERT_TRUE(s->WritePrivateString(file, L"A", L"new", L"n"));
    EXPECT_EQ(testsupport::ReadFileBytes(file),
              "; note\r\n[A]\r\n key = \"v 1\" \r\nnew=n\r\n[B]\r\nk=2\r\n");
}

// Whatever step of a write fails, the file still holds the old values or the
// new ones, never nothing.
TEST_F(IniSettingsTest, AFailedWriteNeverLosesTheFile) {
    {
        auto s = Open();
        ASSERT_TRUE(s->WriteProfileString(L"", L"keep", L"old"));
    }
    testsupport::FaultyFileSystem probe;
    {
        plat::ScopedFileSystem scoped(probe);
        ASSERT_TRUE(Open()->WriteProfileString(L"", L"keep", L"new"));
    }
    ASSERT_GE(probe.Count(), 3);
    for (int n = 1; n <= probe.Count(); ++n) {
        for (bool sticky : {false, true}) {
            ASSERT_TRUE(Open()->WriteProfileString(L"", L"keep", L"old"));
            testsupport::FaultyFileSystem fs;
            fs.FailAt(n, plat::kErrDiskFull, sticky);
            fs.SetPartialWrite(5);
            bool ok;
            {
                plat::ScopedFileSystem scoped(fs);
                ok = Open()->WriteProfileString(L"", L"keep", L"new");
            }
            std::wstring now = Open()->GetProfileString(L"", L"keep", L"LOST");
            SCOPED_TRACE("failing " + fs.FailedOp() + (sticky ? " and all after" : ""));
            EXPECT_EQ(now, ok ? L"new" : L"old");
        }
    }
}

#ifndef _WIN32
// Configuration files are often links into a folder of their own, and so
// may the settings folder be. Both are the user's own: followed, kept.
TEST_F(IniSettingsTest, LinkedSettingsFilesStayLinkedAndKeepTheirBits) {
    const std::wstring real = JoinPath(tmp_.path(), L"dotfiles");
    ASSERT_TRUE(plat::Fs().CreateDir(real));
    ASSERT_TRUE(plat::Fs().CreateDir(Folder()));
    const std::wstring target = JoinPath(real, L"profile.ini");
    ASSERT_TRUE(testsupport::WriteFileBytes(target, "[Other]\r\nkeep=1\r\n"));
    const std::string profile = plat::ToUtf8(JoinPath(Folder(), L"profile.ini"));
    ASSERT_EQ(symlink(plat::ToUtf8(target).c_str(), profile.c_str()), 0);
    ASSERT_EQ(chmod(plat::ToUtf8(target).c_str(), 0600), 0);

    ASSERT_TRUE(Open()->WriteProfileString(L"", L"szTips", L"经由链接"));
    EXPECT_EQ(Open()->GetProfileString(L"", L"szTips", L""), L"经由链接");
    struct stat st;
    ASSERT_EQ(lstat(profile.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link was replaced by a file";
    ASSERT_EQ(stat(plat::ToUtf8(target).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << "a private settings file became readable";
    EXPECT_NE(testsupport::ReadFileBytes(target).find("szTips="), std::string::npos);
    EXPECT_EQ(Open()->GetProfileInt(L"Other", L"keep", 0), 1);
}
#endif

// A file system on which the settings file exists but cannot be read, as
// when another program holds it locked.
class LockedReadFs final : public plat::FileSystem {
  public:
    bool ListDir(const std::wstring& d, std::vector<plat::DirEntry>* o) override {
        return os_.ListDir(d, o);
    }
    uint32_t GetAttributes(const std::wstring& p) override { return os_.GetAttributes(p); }
    bool SetAttributes(const std::wstring& p, uint32_t a) override {
        return os_.SetAttributes(p, a);
    }
    bool CreateDir(const std::wstring& p) override { return os_.CreateDir(p); }
    bool RemoveDir(const std::wstring& p) override { return os_.RemoveDir(p); }
    bool Move(const std::wstring& f, const std::wstring& t) override { return os_.Move(f, t); }
    bool Copy(const std::wstring& f, const std::wstring& t, bool x) override {
        return os_.Copy(f, t, x);
    }
    bool DeleteFile(const std::wstring& p) override { return os_.DeleteFile(p); }
    std::unique_ptr<plat::File> Open(const std::wstring& p, plat::Access a,
                                     plat::Disposition d) override {
        if (plat::LeafName(p) == L"profile.ini" && a == plat::Access::Read) {
            plat::SetLastError(plat::kErrSharingViolation);
            return nullptr;
        }
        return os_.Open(p, a, d);
    }
    std::wstring LongPathName(const std::wstring& p) override { return os_.LongPathName(p); }
    bool CopyAccess(const std::wstring& f, const std::wstring& t) override {
        return os_.CopyAccess(f, t);
    }
    bool RestrictToOwner(const std::wstring& p) override { return os_.RestrictToOwner(p); }
    bool SyncVolume(const std::wstring& p) override { return os_.SyncVolume(p); }

  private:
    plat::FileSystem& os_ = plat::OsFileSystem();
};

TEST_F(IniSettingsTest, AnUnreadableFileIsNotOverwritten) {
    ASSERT_TRUE(Open()->WriteProfileString(L"", L"a", L"1"));
    LockedReadFs locked;
    {
        plat::ScopedFileSystem scoped(locked);
        auto s = Open();
        EXPECT_EQ(s->GetProfileString(L"", L"a", L"def"), L"def");
        EXPECT_FALSE(s->WriteProfileString(L"", L"b", L"2"));
        EXPECT_TRUE(s->WriteWinIniString(L"x", L"y", L"z")) << "other files are fine";
    }
    EXPECT_EQ(Open()->GetProfileString(L"", L"a", L""), L"1");
    EXPECT_EQ(Open()->GetProfileString(L"", L"b", L"none"), L"none");
}

#ifndef _WIN32
// A settings file that is a pipe, a link to a device, a folder or far too
// big reads as unreadable: defaults, no hang, and a write leaves it as it was.
TEST_F(IniSettingsTest, AFileThatIsNotASmallRegularFileGivesDefaultsAndStays) {
    using testsupport::Hostile;
    ASSERT_TRUE(plat::Fs().CreateDir(Folder()));
    const std::string text = plat::ToAnsi(L"[岚栩只读加密]\r\nAutoHide=0\r\n");
    const std::wstring elsewhere = JoinPath(tmp_.path(), L"elsewhere.ini");
    ASSERT_TRUE(testsupport::WriteFileBytes(elsewhere, text));
    const std::wstring profile = JoinPath(Folder(), L"profile.ini");
    for (Hostile kind : testsupport::kHostileKinds) {
        if (kind == Hostile::LinkToFile) continue;  // the user's own link: followed
        const char* what = testsupport::HostileName(kind);
        ASSERT_TRUE(testsupport::PlaceHostile(kind, profile, elsewhere, 0)) << what;
        if (kind == Hostile::Oversized) {
            ASSERT_TRUE(testsupport::WriteFileBytes(profile, text + std::string(1 << 20, ';')));
        }
        const uint32_t attrs = plat::Fs().GetAttributes(profile);
        const auto [value, written] =
            testsupport::FinishesWithin(std::chrono::seconds(5), what, [&] {
                auto s = Open();
                return std::make_pair(s->GetProfileInt(L"", L"AutoHide", 1),
                                      s->WriteProfileString(L"", L"szTips", L"x"));
            });
        EXPECT_EQ(value, 1) << what;
        EXPECT_FALSE(written) << what;
        EXPECT_EQ(plat::Fs().GetAttributes(profile), attrs) << what;
        EXPECT_EQ(testsupport::ReadFileBytes(elsewhere), text) << what;
        ASSERT_TRUE(testsupport::RemoveTree(profile));
    }
}
#endif

}  // namespace
