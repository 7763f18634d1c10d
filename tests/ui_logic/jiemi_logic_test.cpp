// The decrypt window's decisions: the mode it starts in, its keys, the
// password check by store kind, the working copies put back at start, the
// drive letter of image use and the watch that ends it.
#include "ui/decrypt/logic/jiemi_logic.h"

#include <map>

#include "app/settings_keys.h"
#include "crypto/records.h"
#include "platform/text.h"
#include "store/layout.h"
#include "ui/decrypt/logic/decrypt_texts.h"
#include "ui_logic/ui_logic_fixture.h"

namespace uilogictest {
namespace {

using namespace ui::logic;
using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

class JieMiLogicTest : public UiLogicTest {};

TEST_F(JieMiLogicTest, StartModeFollowsTheFirstRunRuleAndTheRememberedMode) {
    struct Case {
        const char* what;
        const wchar_t* kindLine;
        const wchar_t* remembered;  // null: no "jiemitype"
        int firstRun;               // -1: no "u2088"
        int mode;
        const wchar_t* rememberedAfter;
    };
    const Case cases[] = {
        {"first run on a machine: image once, browse next", L"fftype=2", nullptr, -1, kModeImage,
         L"2"},
        {"first run marker set", L"fftype=0", L"3", 1, kModeImage, L"2"},
        {"normal store defaults to image", L"fftype=0", nullptr, 0, kModeImage, L""},
        {"kind line in capitals", L"FFTYPE=0", nullptr, 0, kModeImage, L""},
        {"older kind line", L"type=0", nullptr, 0, kModeImage, L""},
        {"strength store defaults to browse", L"fftype=2", nullptr, 0, kModeBrowse, L""},
        {"missing kind line", L"", nullptr, 0, kModeBrowse, L""},
        {"remembered full", L"fftype=0", L"3", 0, kModeFull, L"3"},
        {"remembered image", L"fftype=2", L"0", 0, kModeImage, L"0"},
        {"encrypt code is not a decrypt mode", L"fftype=0", L"1", 0, kModeBrowse, L"1"},
        {"garbage", L"fftype=0", L"x", 0, kModeBrowse, L"x"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // A machine of its own for each case: values absent unless written.
        const std::wstring folder = dir_ / (L"machine" + std::to_wstring(n++));
        ASSERT_TRUE(plat::Fs().CreateDir(folder));
        std::unique_ptr<plat::Settings> s = plat::MakeIniSettings(folder);
        plat::ScopedSettings use(*s);
        if (c.remembered)
            (void)s->WriteProfileString(L"", app::WinIniKeys::DecryptType, c.remembered);
        if (c.firstRun >= 0)
            (void)s->WriteProfileInt(L"", app::WinIniKeys::DecryptFirst, c.firstRun);
        EXPECT_EQ(c.mode, StartDecryptMode(c.kindLine));
        EXPECT_EQ(c.rememberedAfter, app::Settings::DecryptType());
        EXPECT_EQ(0, app::Settings::DecryptFirst());
    }
}

TEST_F(JieMiLogicTest, KeysAndModeCycle) {
    EXPECT_EQ(kModeFull, NextDecryptMode(kModeImage));
    EXPECT_EQ(kModeImage, NextDecryptMode(kModeBrowse));
    EXPECT_EQ(kModeBrowse, NextDecryptMode(kModeFull));
    EXPECT_EQ(kModeBrowse, NextDecryptMode(7));
    EXPECT_EQ(JieMiKey::Decrypt, DecryptWindowKey(0x0D, false));
    EXPECT_EQ(JieMiKey::Decrypt, DecryptWindowKey(0x0D, true));
    EXPECT_EQ(JieMiKey::CycleMode, DecryptWindowKey(0x27, true));
    EXPECT_EQ(JieMiKey::None, DecryptWindowKey(0x27, false));
    EXPECT_EQ(JieMiKey::None, DecryptWindowKey(0x25, true));
    EXPECT_TRUE(RememberDecryptMode(kModeFull));
    EXPECT_EQ(L"3", app::Settings::DecryptType());
}

TEST_F(JieMiLogicTest, NetworkFolders) {
    EXPECT_TRUE(IsNetworkFolder(L"\\\\server\\share\\f\\"));
    EXPECT_TRUE(IsNetworkFolder(L"X:\\a\\\\b\\"));
    EXPECT_FALSE(IsNetworkFolder(L"E:\\照片\\"));
    EXPECT_FALSE(IsNetworkFolder(L"/media/u/stick/"));
}

TEST_F(JieMiLogicTest, PasswordCheckByStoreKind) {
    const std::wstring normal = dir_ / L"normal";
    const std::wstring open = dir_ / L"open";
    const std::wstring highest = dir_ / L"highest";
    for (const auto& f : {normal, open, highest}) {
        ASSERT_TRUE(plat::Fs().CreateDir(f));
        ASSERT_TRUE(store::CreateStoreFolders(f));
    }
    ASSERT_TRUE(store::WriteStoreMetadata(normal, L"Secret1", L"", store::kKindNormal));
    ASSERT_TRUE(store::WriteSecondPassword(normal, L"only-open"));
    ASSERT_TRUE(store::WriteStoreMetadata(open, L"", L"", store::kKindNormal));
    ASSERT_TRUE(store::WriteStoreMetadata(highest, L"Secret2", L"", store::kKindHighest));
    ASSERT_TRUE(crypto::SealPasswordRecord(store::ParamDir(highest), L"Secret2"));

    struct Case {
        const char* what;
        std::wstring folder;
        const wchar_t* typed;
        Verdict verdict;
        const wchar_t* goesOn;
        const wchar_t* message;
    };
    const Case cases[] = {
        {"normal, right", normal, L"Secret1", Verdict::Accepted, L"Secret1", nullptr},
        {"normal, case differs", normal, L"secret1", Verdict::Wrong, L"",
         crypto::kMsgPasswordWrong},
        {"normal, secondary", normal, L"only-open", Verdict::OpenOnly, L"", nullptr},
        {"normal, wrong", normal, L"x", Verdict::Wrong, L"", crypto::kMsgPasswordWrong},
        {"empty password line takes anything", open, L"whatever", Verdict::Accepted, L"", nullptr},
        {"highest, right", highest, L"Secret2", Verdict::Accepted, L"Secret2", nullptr},
        {"highest, wrong", highest, L"Secret1", Verdict::Wrong, L"",
         crypto::kMsgStrengthPasswordWrong},
        {"highest, the secondary of another store", highest, L"only-open", Verdict::Wrong, L"",
         crypto::kMsgStrengthPasswordWrong},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Verification v = VerifyPassword(store::ParamDir(c.folder), false, c.typed);
        EXPECT_EQ(c.verdict, v.verdict);
        EXPECT_EQ(c.goesOn, v.password);
        if (c.message)
            EXPECT_STREQ(c.message, v.message);
        else
            EXPECT_EQ(nullptr, v.message);
    }
}

TEST_F(JieMiLogicTest, WorkingCopiesGoBackIntoTheirFoldersUnderFreeNames) {
    const std::wstring data = dir_ / L"data";
    const std::wstring nd = plat::JoinPath(plat::JoinPath(data, L"working"), L"NotDelete");
    ASSERT_TRUE(plat::Fs().CreateDir(data));
    ASSERT_TRUE(plat::Fs().CreateDir(plat::JoinPath(data, L"working")));
    ASSERT_TRUE(plat::Fs().CreateDir(nd));
    // Taken in the store already: a.txt, a[1].txt, the file README, the
    // file docs, the folder 相册 with 相册/2024/p.jpg.
    for (const wchar_t* n : {L"a.txt", L"a[1].txt", L"README", L"x.tar.gz", L"docs"})
        ASSERT_TRUE(WriteFileBytes(plat::JoinPath(data, n), "store"));
    const std::wstring album = plat::JoinPath(data, L"相册");
    ASSERT_TRUE(plat::Fs().CreateDir(album));
    ASSERT_TRUE(plat::Fs().CreateDir(plat::JoinPath(album, L"2024")));
    ASSERT_TRUE(WriteFileBytes(plat::JoinPath(plat::JoinPath(album, L"2024"), L"p.jpg"), "store"));
    // Left in the working area by a browse window that did not end well:
    // files of the root, files opened from inside 相册 (one under a name
    // the folder has meanwhile), a folder where the store has a file.
    for (const wchar_t* n : {L"a.txt", L"README", L"x.tar.gz", L"新.doc"})
        ASSERT_TRUE(WriteFileBytes(plat::JoinPath(nd, n), "copy"));
    const std::wstring copyAlbum = plat::JoinPath(nd, L"相册");
    ASSERT_TRUE(plat::Fs().CreateDir(copyAlbum));
    ASSERT_TRUE(plat::Fs().CreateDir(plat::JoinPath(copyAlbum, L"2024")));
    ASSERT_TRUE(WriteFileBytes(plat::JoinPath(copyAlbum, L"p.jpg"), "jpg"));
    ASSERT_TRUE(WriteFileBytes(plat::JoinPath(plat::JoinPath(copyAlbum, L"2024"), L"p.jpg"), "new"));
    ASSERT_TRUE(plat::Fs().CreateDir(plat::JoinPath(nd, L"docs")));
    ASSERT_TRUE(WriteFileBytes(plat::JoinPath(plat::JoinPath(nd, L"docs"), L"d.txt"), "doc"));
    ASSERT_TRUE(plat::Fs().SetAttributes(plat::JoinPath(nd, L"新.doc"),
                                         plat::kAttrHidden | plat::kAttrSystem));

    EXPECT_EQ(7, RecoverWorkingCopies(data));
    const std::map<std::wstring, std::string> want = {
        {L"a.txt", "store"},          {L"a[1].txt", "store"},
        {L"a[2].txt", "copy"},        {L"README", "store"},
        {L"README[1]", "copy"},       {L"x.tar.gz", "store"},
        {L"x.tar[1].gz", "copy"},     {L"新.doc", "copy"},
        {L"相册/p.jpg", "jpg"},       {L"相册/2024/p.jpg", "store"},
        {L"相册/2024/p[1].jpg", "new"}, {L"docs", "store"},
        {L"docs[1]/d.txt", "doc"},
    };
    for (const auto& [name, bytes] : want)
        EXPECT_EQ(bytes, ReadFileBytes(plat::JoinPath(data, name))) << plat::ToUtf8(name);
    EXPECT_FALSE(plat::Fs().Exists(plat::JoinPath(data, L"相册[1]")));
    const uint32_t a = plat::Fs().GetAttributes(plat::JoinPath(data, L"新.doc"));
    EXPECT_EQ(0u, a & (plat::kAttrHidden | plat::kAttrSystem));
    EXPECT_FALSE(plat::Fs().Exists(plat::JoinPath(data, L"working")));
    // Nothing there: nothing happens.
    EXPECT_EQ(0, RecoverWorkingCopies(data));
}

// A drive table of our own: letters in use, and what each maps.
class FakeDrives : public DriveTable {
  public:
    std::wstring inUse = L"CD";
    std::map<std::wstring, std::wstring> mapped;
    std::vector<std::wstring> released;
    bool refuse = false;

    std::wstring LettersInUse() override {
        std::wstring s = inUse;
        for (auto& [d, f] : mapped) s += d[0];
        return s;
    }
    bool Reserve(const std::wstring& d) override {
        return !refuse && LettersInUse().find(d[0]) == std::wstring::npos;
    }
    bool Map(const std::wstring& d, const std::wstring& f) override {
        if (refuse) return false;
        mapped[d] = f;
        return true;
    }
    void Release(const std::wstring& d) override {
        released.push_back(d);
        if (!stuck) mapped.erase(d);
    }
    bool stuck = false;
    std::wstring Root(const std::wstring& d) override { return mapped.count(d) ? mapped[d] : L""; }
    std::wstring MappedFolder(const std::wstring& d) override {
        return mapped.count(d) ? mapped[d] : L"";
    }
};

TEST_F(JieMiLogicTest, DriveLetterIsReservedRecordedAndAlwaysReleased) {
    EXPECT_EQ(L"Y:", FreeDriveName(L"CDZ"));
    EXPECT_EQ(L"Z:", FreeDriveName(L""));
    EXPECT_EQ(L"A:", FreeDriveName(L"BCDEFGHIJKLMNOPQRSTUVWXYZ"));
    EXPECT_EQ(L"", FreeDriveName(L"ABCDEFGHIJKLMNOPQRSTUVWXYZ"));
    EXPECT_EQ(L"Y:", MapDriverWithout(L"Z:Y:Z:", L"Z:"));
    EXPECT_EQ(L"Z:Y:", MapDriverWith(L"Y:", L"Z:"));

    FakeDrives table;
    table.inUse = L"CDZ";
    (void)Settings().WriteProfileString(L"", app::ProfileKeys::MapDriver, L"W:");
    {
        ImageDrive drive(table);
        ASSERT_TRUE(drive.Reserve());
        EXPECT_EQ(L"Y:", drive.Name());
        EXPECT_EQ(L"Y:W:", app::Settings::MapDriver());
        ASSERT_TRUE(drive.Map(dir_.path()));
        EXPECT_TRUE(drive.Reachable());
    }  // gone with its owner, whatever happened
    EXPECT_EQ(std::vector<std::wstring>{L"Y:"}, table.released);
    EXPECT_EQ(L"W:", app::Settings::MapDriver());

    // A letter the system keeps stays recorded for the next start.
    table.stuck = true;
    {
        ImageDrive drive(table);
        ASSERT_TRUE(drive.Reserve());
        ASSERT_TRUE(drive.Map(dir_.path()));
    }
    EXPECT_EQ(L"Y:W:", app::Settings::MapDriver());
    table.stuck = false;
    table.mapped.clear();
    (void)Settings().WriteProfileString(L"", app::ProfileKeys::MapDriver, L"W:");

    table.inUse = L"ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    ImageDrive none(table);
    EXPECT_FALSE(none.Reserve());
    EXPECT_EQ(L"", none.Name());
    EXPECT_FALSE(none.Map(dir_.path()));
    EXPECT_EQ(L"W:", app::Settings::MapDriver());
}

bool g_heldFolderFree = false;
bool IsFree(const std::wstring& folder) {
    return folder.find(L"held") == std::wstring::npos || g_heldFolderFree;
}

TEST_F(JieMiLogicTest, StaleLettersOfKilledRunsAreReleased) {
    FakeDrives table;
    const std::wstring sep(1, plat::kSep);
    const std::wstring tail = sep + L"ulxjm" + sep + L"ffffff";
    table.mapped[L"Y:"] = dir_ / (L"stale" + tail);  // a killed run's
    table.mapped[L"X:"] = dir_ / (L"held" + tail);   // a run still using it
    table.mapped[L"V:"] = dir_ / L"someone-else";    // not a store: not ours
    // A killed browse window's letter, onto the store's working folder.
    table.mapped[L"U:"] = dir_ / (L"browsed" + tail + sep + L"working");
    table.mapped[L"T:"] = dir_ / (L"held" + tail + sep + L"working");
    table.mapped[L"S:"] = dir_ / (L"x" + sep + L"notulxjm" + sep + L"ffffff");  // not ours
    (void)Settings().WriteProfileString(L"", app::ProfileKeys::MapDriver, L"Y:X:W:V:U:T:S:");
    EXPECT_EQ(2, ReleaseStaleDrives(table, &IsFree));
    EXPECT_EQ((std::vector<std::wstring>{L"Y:", L"U:"}), table.released);
    EXPECT_EQ(L"X:V:T:S:", app::Settings::MapDriver());  // W: was no longer defined
    g_heldFolderFree = true;
    EXPECT_EQ(2, ReleaseStaleDrives(table, &IsFree));
    EXPECT_EQ(L"V:S:", app::Settings::MapDriver());
    g_heldFolderFree = false;
}

// A drive left on purpose (copies still open at close) stays recorded for
// the next start.
TEST_F(JieMiLogicTest, LeftDriveStaysRecordedAndMapped) {
    FakeDrives table;
    (void)Settings().WriteProfileString(L"", app::ProfileKeys::MapDriver, L"");
    {
        ImageDrive d(table);
        ASSERT_TRUE(d.Reserve());
        ASSERT_TRUE(d.Map(dir_ / L"w"));
        d.Leave();
    }
    EXPECT_TRUE(table.released.empty());
    EXPECT_EQ(L"Z:", app::Settings::MapDriver());
    EXPECT_EQ(1u, table.mapped.count(L"Z:"));
}

TEST_F(JieMiLogicTest, WatchTitlesAndTheCloseWatch) {
    const WatchTitles t = MakeWatchTitles(L" (Y:)", L"Y:");
    EXPECT_EQ(L" (Y:)", t.a);
    EXPECT_EQ(std::wstring(L"Y:") + plat::kSep, t.b);
    EXPECT_EQ(L"本地磁盘 (Y:)", t.c);

    EXPECT_TRUE(TitleNamesDrive(L"U盘 (Y:)", L"Y:"));
    EXPECT_TRUE(TitleNamesDrive(L" (y:)", L"Y:"));
    EXPECT_TRUE(TitleNamesDrive(std::wstring(L"Y:") + L"\\", L"Y:"));
    EXPECT_FALSE(TitleNamesDrive(L" (X:)", L"Y:"));
    EXPECT_FALSE(TitleNamesDrive(L"Y: notes", L"Y:"));

    using S = CloseWatch::Step;
    {  // never found: six ticks, then encrypted again
        CloseWatch w;
        for (int i = 0; i < 5; ++i) EXPECT_EQ(S::Wait, w.Tick(false, false, false));
        EXPECT_EQ(S::ReEncrypt, w.Tick(false, false, false));
    }
    {  // found: waits as long as it is open, then goes at the next tick
        CloseWatch w;
        for (int i = 0; i < 20; ++i) EXPECT_EQ(S::Wait, w.Tick(true, true, false));
        EXPECT_EQ(S::ReEncrypt, w.Tick(true, false, false));
    }
    {  // "立即加密" cuts every wait short
        CloseWatch w;
        EXPECT_EQ(S::ReEncrypt, w.Tick(false, false, true));
        CloseWatch v;
        EXPECT_EQ(S::ReEncrypt, v.Tick(true, true, true));
    }
}

TEST_F(JieMiLogicTest, FolderWithOnlyTheProgram) {
    const std::wstring f = dir_ / L"f";
    ASSERT_TRUE(plat::Fs().CreateDir(f));
    const std::wstring exe = plat::JoinPath(f, L"ulxjm.exe");
    EXPECT_TRUE(FolderHoldsOnlyProgram(f, exe));
    ASSERT_TRUE(WriteFileBytes(exe, "MZ"));
    EXPECT_TRUE(FolderHoldsOnlyProgram(f + plat::kSep, exe));
    ASSERT_TRUE(WriteFileBytes(plat::JoinPath(f, L".hidden"), ""));
    EXPECT_FALSE(FolderHoldsOnlyProgram(f, exe));
}

TEST_F(JieMiLogicTest, ProgressAndWaitingTexts) {
    EXPECT_EQ(L"加密中,总任务:12,完成:5,失败:1,未强度:2", ReEncryptCaption(12, 5, 1, 2));
    EXPECT_EQ(100, ReEncryptPercent(0, 0));
    EXPECT_EQ(33, ReEncryptPercent(1, 3));
    EXPECT_EQ(100, ReEncryptPercent(9, 3));
    EXPECT_EQ(100, ReEncryptPercent(-1, 3));
    EXPECT_EQ(L"正在解密中，已经用时 0 秒......", WaitingText(0));
    EXPECT_EQ(L"正在解密中，已经用时 1 秒......", WaitingText(7));
}

#ifndef _WIN32
// The posix stand-in for drive letters carries the same image use.
TEST_F(JieMiLogicTest, ImageDriveOnThisMachine) {
    const std::wstring data = dir_ / L"data";
    ASSERT_TRUE(plat::Fs().CreateDir(data));
    ASSERT_TRUE(WriteFileBytes(plat::JoinPath(data, L"文.txt"), "plain"));
    std::wstring name;
    {
        ImageDrive drive(OsDriveTable());
        ASSERT_TRUE(drive.Reserve());
        name = drive.Name();
        ASSERT_TRUE(drive.Map(data));
        ASSERT_TRUE(drive.Reachable());
        EXPECT_EQ("plain", ReadFileBytes(drive.Root() + L"文.txt"));
        EXPECT_EQ(data, OsDriveTable().MappedFolder(name));
    }
    EXPECT_EQ(L"", OsDriveTable().MappedFolder(name));
    EXPECT_EQ(std::wstring::npos, OsDriveTable().LettersInUse().find(name[0]));
}
#endif

}  // namespace
}  // namespace uilogictest
