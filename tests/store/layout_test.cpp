#include "store/layout.h"

#include <gtest/gtest.h>

#include "app/settings_keys.h"
#include "engine/hooked_fs.h"
#include "platform/fs.h"
#include "platform/settings.h"
#include "platform/text.h"
#include "support/test_files.h"

namespace {

using plat::Fs;
using plat::JoinPath;

class StoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        settings_ = plat::MakeIniSettings(JoinPath(tmp_.path(), L"settings"));
        scoped_ = std::make_unique<plat::ScopedSettings>(*settings_);
        folder_ = JoinPath(tmp_.path(), L"保护 folder");
        ASSERT_TRUE(Fs().CreateDir(folder_));
    }
    std::wstring At(const std::wstring& rel) { return JoinPath(folder_, rel); }

    testsupport::TempFolder tmp_;
    std::unique_ptr<plat::Settings> settings_;
    std::unique_ptr<plat::ScopedSettings> scoped_;
    std::wstring folder_;
};

TEST_F(StoreTest, ReservedNamesMatchInAnyLetterCase) {
    for (const wchar_t* name :
         {L"ulxjm", L"ULXJM", L"Ulxjm.Exe", L"$recycle.bin", L"System Volume Information",
          L"RECYCLER", L"recycler88", L"ulxjm,notdelete."})
        EXPECT_TRUE(store::IsReservedName(name)) << plat::ToUtf8(name);
    // The user's own files under our decorations' names are content.
    for (const wchar_t* name :
         {L"ulxjm2", L"desktop.ini", L"Desktop.ini", L"recycle", L"readme.txt", L"mima.dat", L""})
        EXPECT_FALSE(store::IsReservedName(name)) << plat::ToUtf8(name);
}

TEST_F(StoreTest, TheProgramAndItsStartupPasswordAreNeverMoved) {
    const std::wstring exe = At(L"加密.exe");
    const std::wstring other = JoinPath(tmp_.path(), L"other");
    struct Case {
        std::wstring folder, name, module;
        bool never;
    } cases[] = {
        {folder_, L"加密.exe", exe, true},
        {folder_, L"MIMA.DAT", exe, true},
        {other, L"mima.dat", exe, false},  // a user's file elsewhere
        {folder_, L"mima.dat", L"", false},
        {other, L"加密.exe", exe, false},
        {folder_, L"ulxjm", L"", true},
        // A new program on its way in stays beside the running one.
        {folder_, L"~ulxjm-upd.4242.0.tmp", exe, true},
        {other, L"~ulxjm-upd.4242.0.tmp", exe, false},
        {folder_, L"~ulxjm-upd.notes.tmp", exe, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(store::IsNeverMoved(c.folder, c.name, c.module), c.never)
            << plat::ToUtf8(c.folder + L" " + c.name);
}

TEST_F(StoreTest, TheReadmeNamesThePlacedProgram) {
    EXPECT_EQ(store::PlacedProgramName(JoinPath(tmp_.path(), L"我的加密.exe")), L"我的加密.exe");
    EXPECT_EQ(store::PlacedProgramName(L""), L"ulxjm.exe");
    const std::wstring text = store::DefaultReadmeText(L"我的加密.exe");
    EXPECT_EQ(text.find(L"rlxjm"), std::wstring::npos);
    EXPECT_NE(text.find(L"请运行该文件夹下的我的加密.exe输入密码解密"), std::wstring::npos);
    EXPECT_NE(text.find(L"友情提示：请一定是运行该文件夹下的我的加密.exe"), std::wstring::npos);
}

TEST_F(StoreTest, FolderCountsAsEncryptedOnlyWhenTheDataFolderExists) {
    EXPECT_FALSE(store::IsEncryptedFolder(folder_));
    ASSERT_TRUE(Fs().CreateDir(At(L"ulxjm")));
    EXPECT_FALSE(store::IsEncryptedFolder(folder_)) << "the root alone is not a store";
    ASSERT_TRUE(store::CreateStoreFolders(folder_));
    EXPECT_TRUE(store::IsEncryptedFolder(folder_));
    EXPECT_TRUE(Fs().IsDirectory(store::ParamDir(folder_)));
    // A file where the data folder should be is not a store either.
    auto other = JoinPath(tmp_.path(), L"other");
    ASSERT_TRUE(Fs().CreateDir(other));
    ASSERT_TRUE(Fs().CreateDir(JoinPath(other, L"ulxjm")));
    testsupport::WriteFileBytes(JoinPath(JoinPath(other, L"ulxjm"), L"ffffff"), "x");
    EXPECT_FALSE(store::IsEncryptedFolder(other));
}

TEST_F(StoreTest, LegacyAliasCountsOnlyWhenAsked) {
    ASSERT_TRUE(Fs().CreateDir(At(store::kLegacyAlias)));
    ASSERT_TRUE(Fs().CreateDir(JoinPath(At(store::kLegacyAlias), L"ffffff")));
    EXPECT_FALSE(store::IsEncryptedFolder(folder_));
    EXPECT_TRUE(store::IsEncryptedFolder(folder_, true));
}

TEST_F(StoreTest, CreateStoreFoldersFailsWhenALevelCannotBeMade) {
    testsupport::WriteFileBytes(At(L"ulxjm"), "a file in the way");
    EXPECT_FALSE(store::CreateStoreFolders(folder_));
    EXPECT_FALSE(store::IsEncryptedFolder(folder_));
}

TEST_F(StoreTest, RecordsAreSingleAnsiLines) {
    ASSERT_TRUE(store::CreateStoreFolders(folder_));
    EXPECT_TRUE(store::WriteStoreMetadata(folder_, L"密码abc", L"", store::kKindNormal));
    const std::wstring param = store::ParamDir(folder_);
    EXPECT_EQ(testsupport::ReadFileBytes(JoinPath(param, L"imimff.ulxjm")),
              "\xC3\xDC\xC2\xEB"
              "abc");  // 密码 in code page 936
    EXPECT_EQ(testsupport::ReadFileBytes(JoinPath(param, L"typeff.ulxjm")), "fftype=0");
    EXPECT_FALSE(Fs().Exists(JoinPath(param, L"liamff.ulxjm"))) << "no mail, no mail record";

    EXPECT_TRUE(store::WriteStoreMetadata(folder_, L"x", L"a@b.cn", store::kKindHighest));
    EXPECT_EQ(testsupport::ReadFileBytes(JoinPath(param, L"liamff.ulxjm")), "a@b.cn");
    EXPECT_EQ(store::ReadFirstLine(JoinPath(param, L"typeff.ulxjm")), L"fftype=2");
    EXPECT_FALSE(store::WriteStoreMetadata(L"", L"x", L"", store::kKindNormal));

    EXPECT_TRUE(store::WriteSecondPassword(folder_, L"二级"));
    EXPECT_EQ(store::ReadFirstLine(JoinPath(param, L"imimtwo.ulxjm")), L"二级");
}

TEST_F(StoreTest, ReadFirstLineStopsAtTheLineEnd) {
    testsupport::WriteFileBytes(At(L"t"), "first\r\nsecond");
    EXPECT_EQ(store::ReadFirstLine(At(L"t")), L"first");
    EXPECT_EQ(store::ReadFirstLine(At(L"missing")), L"");
}

TEST_F(StoreTest, DecorationsAreByteExact) {
    ASSERT_TRUE(store::CreateStoreFolders(folder_));
    ASSERT_TRUE(store::WriteFolderDecorations(folder_));
    EXPECT_EQ(testsupport::ReadFileBytes(At(L"desktop.ini")),
              "[.ShellClassInfo]\r\nIconIndex=0\r\nIconFile=ulxjm.exe\r\nInfoTip="
              "\xE1\xB0\xE8\xF2\xD6\xBB\xB6\xC1\xBC\xD3\xC3\xDC\xB5\xC4\xCE\xC4\xBC\xFE\xBC\xD0"
              "\xA3\xAC\xD4\xCB\xD0\xD0\xB8\xC3\xCE\xC4\xBC\xFE\xBC\xD0\xCF\xC2\xB5\xC4"
              "ulxjm.exe\xBD\xE2\xC3\xDC");
    EXPECT_EQ(testsupport::ReadFileBytes(JoinPath(At(L"ulxjm"), L"desktop.ini")),
              "[.ShellClassInfo]\r\nCLSID={20D04FE0-3AEA-1069-A2D8-08002B30309D}");
    const uint32_t hs = plat::kAttrHidden | plat::kAttrSystem;
    EXPECT_EQ(Fs().GetAttributes(At(L"desktop.ini")) & hs, hs);
    EXPECT_EQ(Fs().GetAttributes(At(L"ulxjm")) & hs, hs);
    EXPECT_EQ(Fs().GetAttributes(JoinPath(At(L"ulxjm"), L"desktop.ini")) & hs, hs);
    EXPECT_FALSE(Fs().Exists(At(L"readme.txt"))) << "ReadMe defaults to 0";

    // A second run rewrites the hidden, system-marked files in place.
    settings_->WriteProfileString(L"", L"szTips", L"tip");
    ASSERT_TRUE(store::WriteFolderDecorations(folder_));
    EXPECT_EQ(testsupport::ReadFileBytes(At(L"desktop.ini")),
              "[.ShellClassInfo]\r\nIconIndex=0\r\nIconFile=ulxjm.exe\r\nInfoTip=tip");
}

TEST_F(StoreTest, SettingsSteerTheDecorations) {
    ASSERT_TRUE(store::CreateStoreFolders(folder_));
    settings_->WriteProfileInt(L"", L"JiamiFlag", 0);
    settings_->WriteProfileInt(L"", L"ReadMe", 1);
    ASSERT_TRUE(store::WriteFolderDecorations(folder_));
    EXPECT_FALSE(Fs().Exists(At(L"desktop.ini")));
    EXPECT_TRUE(Fs().Exists(JoinPath(At(L"ulxjm"), L"desktop.ini")));
    const std::string readme = testsupport::ReadFileBytes(At(L"readme.txt"));
    EXPECT_EQ(readme, plat::ToAnsi(store::DefaultReadmeText()));
    EXPECT_EQ(readme.rfind("\xD5\xE2\xCA\xC7", 0), 0u) << "starts with 这是 in code page 936";
    EXPECT_NE(readme.back(), '\n');

    // An empty stored text is a text, not a missing value.
    settings_->WriteProfileString(L"", app::ProfileKeys::ReadmeText, L"");
    ASSERT_TRUE(store::WriteFolderDecorations(folder_));
    EXPECT_EQ(testsupport::ReadFileBytes(At(L"readme.txt")), "");
    EXPECT_EQ(app::Settings::ReadMeFlag(), 1) << "the text must not overwrite the switch";
}

TEST_F(StoreTest, OnlyOurDecorationsAreRemoved) {
    const std::wstring param = store::ParamDir(folder_);
    const std::string ourTip =
        "[.ShellClassInfo]\r\nIconIndex=0\r\nIconFile=ulxjm.exe\r\nInfoTip=tip";
    struct Case {
        const char* what;
        bool record;         // the store was made by this version
        std::string ini;     // root desktop.ini at decryption ("" none)
        std::string readme;  // root readme.txt at decryption ("" none)
        bool iniGoes, readmeGoes;
    } cases[] = {
        {"ours, recorded", true, ourTip, "my readme", true, true},
        {"edited by the user since", true, ourTip + "!", "my readme!", false, false},
        // Only the start of ours: a file of the user's may look the same
        // (a write cut short is written again whole when the run is resumed).
        {"only the start of ours", true, ourTip.substr(0, 20), "my", false, false},
        {"empty", true, "", "", false, false},
        {"an earlier version's tip", false,
         "[.ShellClassInfo]\r\nIconIndex=0\r\n"
         "IconFile=ulxjm.exe\r\nInfoTip=old",
         "", true, false},
        {"an earlier version, user's files", false, "[.ShellClassInfo]\r\nIconFile=x.dll", "notes",
         false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        (void)Fs().CreateDir(At(L"ulxjm"));
        ASSERT_TRUE(store::CreateStoreFolders(folder_));
        settings_->WriteProfileString(L"", L"szTips", L"tip");
        settings_->WriteProfileInt(L"", L"ReadMe", 1);
        settings_->WriteProfileString(L"", app::ProfileKeys::ReadmeText, L"my readme");
        ASSERT_TRUE(store::WriteFolderDecorations(folder_));
        if (!c.record) ASSERT_TRUE(Fs().DeleteFile(JoinPath(param, store::kDecorationRecord)));
        // Settings changed since the encryption must not matter.
        settings_->WriteProfileString(L"", L"szTips", L"another tip");
        settings_->WriteProfileString(L"", app::ProfileKeys::ReadmeText, L"another");
        ASSERT_TRUE(Fs().SetAttributes(At(L"desktop.ini"), plat::kAttrNormal));
        testsupport::WriteFileBytes(At(L"desktop.ini"), c.ini);
        testsupport::WriteFileBytes(At(L"readme.txt"), c.readme);
        if (c.readme.empty()) ASSERT_TRUE(Fs().DeleteFile(At(L"readme.txt")));

        EXPECT_TRUE(store::RemoveFolderDecorations(folder_, param));
        EXPECT_EQ(Fs().Exists(At(L"desktop.ini")), !c.iniGoes);
        EXPECT_EQ(Fs().Exists(At(L"readme.txt")), !c.readmeGoes && !c.readme.empty());
        EXPECT_TRUE(Fs().Exists(JoinPath(At(L"ulxjm"), L"desktop.ini")))
            << "the store root's goes with the store";
        EXPECT_TRUE(store::RemoveStoreRootDecoration(folder_));
        EXPECT_FALSE(Fs().Exists(JoinPath(At(L"ulxjm"), L"desktop.ini")));
        (void)Fs().DeleteFile(At(L"desktop.ini"));
        (void)Fs().DeleteFile(At(L"readme.txt"));
    }
}

TEST_F(StoreTest, AFileLeftInTheFolderIsNeverOverwrittenByADecoration) {
    ASSERT_TRUE(store::CreateStoreFolders(folder_));
    testsupport::WriteFileBytes(At(L"desktop.ini"), "[.ShellClassInfo]\r\nIconFile=mine.ico");
    EXPECT_FALSE(store::WriteFolderDecorations(folder_));
    EXPECT_EQ(testsupport::ReadFileBytes(At(L"desktop.ini")),
              "[.ShellClassInfo]\r\nIconFile=mine.ico");
    store::RemoveFolderDecorations(folder_, store::ParamDir(folder_));
    EXPECT_TRUE(Fs().Exists(At(L"desktop.ini")));
}

TEST_F(StoreTest, FinishEncryptionCopiesTheProgramAndMarksTheFolder) {
    ASSERT_TRUE(store::CreateStoreFolders(folder_));
    const std::wstring exe = JoinPath(tmp_.path(), L"ulxjm.exe");
    testsupport::WriteFileBytes(exe, "MZ program");
    ASSERT_TRUE(store::FinishEncryption(folder_, exe));
    EXPECT_EQ(testsupport::ReadFileBytes(At(L"ulxjm.exe")), "MZ program");
    EXPECT_TRUE(Fs().GetAttributes(folder_) & plat::kAttrSystem);
    // Run from inside the folder, the program is not copied onto itself.
    ASSERT_TRUE(store::FinishEncryption(folder_, At(L"ulxjm.exe")));
    EXPECT_EQ(testsupport::ReadFileBytes(At(L"ulxjm.exe")), "MZ program");
}

// A drive that refuses marks (exFAT under an older Linux driver): the files
// are still written, and the first refusal is handed back, not dropped.
TEST_F(StoreTest, MarksTheDriveRefusesAreReported) {
    ASSERT_TRUE(store::CreateStoreFolders(folder_));
    const std::wstring exe = JoinPath(tmp_.path(), L"ulxjm.exe");
    testsupport::WriteFileBytes(exe, "MZ program");
    uint32_t error = 1234;
    ASSERT_TRUE(store::FinishEncryption(folder_, exe, &error));
    EXPECT_EQ(error, 1234u) << "left alone when every mark was set";

    enginetest::HookedFs fs;
    const struct {
        const wchar_t* refused;  // leaf whose marks fail
        bool finish;
    } cases[] = {{L"ulxjm", false}, {L"desktop.ini", false}, {L"保护 folder", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(plat::ToUtf8(c.refused));
        fs.hook = [&](enginetest::FsOp op, const std::wstring& path) -> uint32_t {
            return op == enginetest::FsOp::SetAttributes &&
                           plat::LeafName(plat::WithoutSep(path)) == c.refused
                       ? uint32_t{plat::kErrNotSupported}
                       : 0u;
        };
        plat::ScopedFileSystem use(fs);
        error = 0;
        ASSERT_TRUE(c.finish ? store::FinishEncryption(folder_, exe, &error)
                             : store::WriteFolderDecorations(folder_, store::kExeName, &error));
        EXPECT_EQ(error, plat::kErrNotSupported);
        EXPECT_TRUE(Fs().Exists(At(L"desktop.ini")));
        EXPECT_TRUE(Fs().Exists(JoinPath(At(L"ulxjm"), L"desktop.ini")));
    }
}

TEST_F(StoreTest, MigrationRenamesEarlierNamesAndDropsShadowedOnes) {
    ASSERT_TRUE(store::CreateStoreFolders(folder_));
    const std::wstring p = store::ParamDir(folder_);
    testsupport::WriteFileBytes(JoinPath(p, L"imimff.dat"), "old");
    testsupport::WriteFileBytes(JoinPath(p, L"typeff.dat"), "fftype=1");
    testsupport::WriteFileBytes(JoinPath(p, L"typeff.ulxjm"), "fftype=2");
    testsupport::WriteFileBytes(JoinPath(p, L"imimff.dat.elxjm"), "sealed");
    store::MigrateMetadataNames(p);
    EXPECT_EQ(testsupport::ReadFileBytes(JoinPath(p, L"imimff.ulxjm")), "old");
    EXPECT_FALSE(Fs().Exists(JoinPath(p, L"imimff.dat")));
    EXPECT_EQ(testsupport::ReadFileBytes(JoinPath(p, L"typeff.ulxjm")), "fftype=2");
    EXPECT_FALSE(Fs().Exists(JoinPath(p, L"typeff.dat")));
    EXPECT_EQ(testsupport::ReadFileBytes(JoinPath(p, L"imimff.ulxjm.elxjm")), "sealed");
}

TEST_F(StoreTest, DeleteStoreMetadataLeavesOtherFiles) {
    ASSERT_TRUE(store::CreateStoreFolders(folder_));
    const std::wstring p = store::ParamDir(folder_);
    for (const wchar_t* n : {L"imimff.ulxjm", L"imimff.ulxjm.zpwenc0", L"imimtwo.ulxjm",
                             L"renamefail.dat", L"liamff.dat", L"decorff.ulxjm", L"keep.me"})
        testsupport::WriteFileBytes(JoinPath(p, n), "x");
    store::DeleteStoreMetadata(p);
    std::vector<plat::DirEntry> left;
    ASSERT_TRUE(Fs().ListDir(p, &left));
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].name, L"keep.me");
}

}  // namespace
