// Folders and stores that are not what a pass expects: links, folders that
// cannot be listed, damaged trailers, crafted lists, marks and permissions
// that must survive, names taken on the way in, and a store that cannot be
// made. Each must lose nothing and say what happened.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

#include "crypto/content_cipher.h"
#include "engine/engine.h"
#include "engine/engine_fixture.h"
#include "engine/fail_name_list.h"
#include "engine/hooked_fs.h"
#include "engine/pass_journal.h"
#include "engine/pass_state.h"
#include "engine/strength_pass.h"
#include "store/layout.h"

namespace enginetest {
namespace {

std::string Bytes(size_t n, char seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = char(seed + i * 7);
    return s;
}

class HostileFolderTest : public EngineTest {
  protected:
    std::wstring In(const std::wstring& rel) const { return plat::JoinPath(folder_, rel); }
    std::wstring Data(const std::wstring& rel) const {
        return plat::JoinPath(store::DataDir(folder_), rel);
    }
    std::wstring Param(const std::wstring& rel) const {
        return plat::JoinPath(store::ParamDir(folder_), rel);
    }
    bool LogHas(const std::wstring& part) const {
        for (const auto& line : LogLines(log_))
            if (line.find(part) != std::wstring::npos) return true;
        return false;
    }
    // The user's files: everything but what encryption places beside them.
    std::map<std::wstring, std::string> Content() const {
        auto all = Snapshot(folder_);
        for (auto it = all.begin(); it != all.end();)
            it = it->first.rfind(L"ulxjm", 0) == 0 || it->first == L"desktop.ini" ? all.erase(it)
                                                                                  : std::next(it);
        return all;
    }
};

#ifndef _WIN32
std::string Narrow(const std::wstring& w) {
    return plat::ToUtf8(w);
}

std::string LinkTarget(const std::wstring& path) {
    char buf[4096];
    ssize_t n = readlink(Narrow(path).c_str(), buf, sizeof buf);
    return n < 0 ? "<not a link>" : std::string(buf, size_t(n));
}

TEST_F(HostileFolderTest, LinksAreMovedAsLinksAndNeverOpened) {
    const std::wstring outside = Path(L"outside.bin");
    WriteFile(outside, Bytes(3000, 1));
    WriteFile(In(L"a.bin"), Bytes(2000, 2));
    MakeDir(In(L"sub"));
    ASSERT_EQ(0, symlink(Narrow(outside).c_str(), Narrow(In(L"out.lnk")).c_str()));
    ASSERT_EQ(0, symlink("../a.bin", Narrow(In(L"sub/twin.lnk")).c_str()));
    ASSERT_EQ(0, symlink(Narrow(Path(L"")).c_str(), Narrow(In(L"up")).c_str()));

    auto enc = engine::EncryptFolder(folder_, L"pw", L"", 2, ui_);
    EXPECT_EQ(Bytes(3000, 1), ReadFile(outside));  // nothing outside is written
    EXPECT_EQ(1, enc.strengthDone);                // a.bin, once
    EXPECT_EQ(3, enc.strengthSkipped);             // the links, each counted
    EXPECT_FALSE(enc.ok());
    EXPECT_EQ(Narrow(outside), LinkTarget(Data(L"out.lnk")));
    EXPECT_EQ("../a.bin", LinkTarget(Data(L"sub/twin.lnk")));
    EXPECT_NE("<missing>", ReadFile(Data(L"a.bin.zpwenc0")));

    auto dec = engine::DecryptFolder(folder_, L"pw", ui_);
    EXPECT_TRUE(dec.ok());
    EXPECT_FALSE(store::IsEncryptedFolder(folder_));
    EXPECT_EQ(Bytes(2000, 2), ReadFile(In(L"a.bin")));
    EXPECT_EQ(Narrow(outside), LinkTarget(In(L"out.lnk")));
    EXPECT_EQ("../a.bin", LinkTarget(In(L"sub/twin.lnk")));
    EXPECT_EQ(Narrow(Path(L"")), LinkTarget(In(L"up")));
    EXPECT_EQ(Bytes(3000, 1), ReadFile(outside));
}

// Permissions and the read-only mark come back as they were, for files
// rewritten in place and whole; records are for the owner only.
TEST_F(HostileFolderTest, PermissionsAndReadOnlySurviveTheRoundTrip) {
    WriteFile(In(L"private.txt"), Bytes(5000, 3));
    WriteFile(In(L"private.bin"), Bytes(5000, 4));
    WriteFile(In(L"ro.txt"), Bytes(100, 5));
    WriteFile(In(L"ro.bin"), Bytes(100, 6));
    const struct {
        const wchar_t* name;
        mode_t mode;
    } files[] = {
        {L"private.txt", 0600}, {L"private.bin", 0600}, {L"ro.txt", 0444}, {L"ro.bin", 0444}};
    for (const auto& f : files) ASSERT_EQ(0, chmod(Narrow(In(f.name)).c_str(), f.mode));
    auto mode = [](const std::wstring& p) {
        struct stat st {};
        return stat(Narrow(p).c_str(), &st) == 0 ? mode_t(st.st_mode & 07777) : mode_t(01);
    };
    ASSERT_TRUE(engine::EncryptFolder(folder_, L"pw", L"", 2, ui_).ok());
    for (const auto& f : files) {
        SCOPED_TRACE(Narrow(f.name));
        EXPECT_EQ(f.mode, mode(Data(std::wstring(f.name) + L".zpwenc0")));
    }
    for (const wchar_t* rec : {L"imimff.ulxjm.zpwenc0", L"typeff.ulxjm"})
        EXPECT_EQ(mode_t(0600), mode(Param(rec))) << Narrow(rec);
    ASSERT_TRUE(engine::DecryptFolder(folder_, L"pw", ui_).ok());
    for (const auto& f : files) {
        SCOPED_TRACE(Narrow(f.name));
        EXPECT_EQ(f.mode, mode(In(f.name)));
    }
    EXPECT_EQ(Bytes(5000, 3), ReadFile(In(L"private.txt")));
    EXPECT_EQ(Bytes(100, 6), ReadFile(In(L"ro.bin")));
}

// Marks Samba set (its binary "user.DOSATTRIB", version 5, HIDDEN|ARCHIVE)
// on a file rewritten whole travel with it both ways.
TEST_F(HostileFolderTest, SambaMarksSurviveTheRoundTrip) {
    WriteFile(In(L"笔记.txt"), Bytes(4000, 12));
    const char samba[] = {0,          0,          5,    0,    5,    0,    0,          0,
                          0x11,       0,          0,    0,    0x22, 0,    0,          0,
                          char(0xbc), char(0x9a), 0x78, 0x56, 0x34, 0x12, char(0xda), 0x01};
    if (setxattr(Narrow(In(L"笔记.txt")).c_str(), "user.DOSATTRIB", samba, sizeof samba, 0) != 0)
        GTEST_SKIP() << "the temporary folder's file system has no user xattrs";
    ASSERT_TRUE(plat::Fs().GetAttributes(In(L"笔记.txt")) & plat::kAttrHidden);
    ASSERT_TRUE(engine::EncryptFolder(folder_, L"pw", L"", 2, ui_).ok());
    EXPECT_TRUE(plat::Fs().GetAttributes(Data(L"笔记.txt.zpwenc0")) & plat::kAttrHidden);
    ASSERT_TRUE(engine::DecryptFolder(folder_, L"pw", ui_).ok());
    EXPECT_TRUE(plat::Fs().GetAttributes(In(L"笔记.txt")) & plat::kAttrHidden);
    EXPECT_EQ(Bytes(4000, 12), ReadFile(In(L"笔记.txt")));
}
#endif  // !_WIN32

// READONLY set the Windows way on files rewritten whole (".txt") and in
// place (".bin") comes back after the highest strength, on both builds.
TEST_F(HostileFolderTest, ReadOnlyMarkComesBackAfterTheHighestStrength) {
    const wchar_t* names[] = {L"只读.txt", L"只读.bin"};
    for (const wchar_t* name : names) {
        WriteFile(In(name), Bytes(3000, 13));
        ASSERT_TRUE(plat::Fs().SetAttributes(In(name), plat::kAttrReadOnly));
    }
    ASSERT_TRUE(engine::EncryptFolder(folder_, L"pw", L"", 2, ui_).ok());
    ASSERT_TRUE(engine::DecryptFolder(folder_, L"pw", ui_).ok());
    for (const wchar_t* name : names) {
        SCOPED_TRACE(plat::ToUtf8(name));
        EXPECT_TRUE(plat::Fs().GetAttributes(In(name)) & plat::kAttrReadOnly);
        EXPECT_EQ(Bytes(3000, 13), ReadFile(In(name)));
        ASSERT_TRUE(plat::Fs().SetAttributes(In(name), plat::kAttrNormal));
    }
}

TEST_F(HostileFolderTest, AFolderThatCannotBeListedIsAFailureNotASilence) {
    MakeDir(In(L"相册"));
    WriteFile(In(L"相册/x.bin"), Bytes(1500, 7));
    WriteFile(In(L"top.bin"), Bytes(1500, 8));
    const auto before = Content();
    HookedFs fs;
    fs.hook = [](FsOp op, const std::wstring& path) -> uint32_t {
        const bool cut = op == FsOp::ListDir && plat::EndsWithNoCase(path, L"相册");
        return cut ? uint32_t(plat::kErrAccessDenied) : 0u;
    };
    {
        plat::ScopedFileSystem use(fs);
        auto enc = engine::EncryptFolder(folder_, L"pw", L"", 2, ui_);
        EXPECT_FALSE(enc.ok());
        EXPECT_EQ(1, enc.strengthSkipped);
        EXPECT_TRUE(LogHas(L"相册,无法读取文件夹内容"));
        // Decryption meets the same folder: it stays in the store, said so.
        auto dec = engine::DecryptFolder(folder_, L"pw", ui_);
        EXPECT_FALSE(dec.ok());
        EXPECT_TRUE(store::IsEncryptedFolder(folder_));
        EXPECT_TRUE(plat::Fs().IsDirectory(Data(L"相册")));
    }
    EXPECT_TRUE(engine::DecryptFolder(folder_, L"pw", ui_).ok());
    EXPECT_TRUE(SameTree(before, Content()));
}

// A trailer that carries the maker word but whose length does not agree
// with the file leaves the file as it is, suffix included; a suffixed file
// without any trailer only loses its suffix, and both make the pass fail.
TEST_F(HostileFolderTest, DamagedTrailersLeaveTheirFilesUntouched) {
    WriteFile(In(L"short.bin"), Bytes(3000, 9));
    WriteFile(In(L"whole.txt"), Bytes(3000, 10));
    WriteFile(In(L"fine.bin"), Bytes(3000, 11));
    WriteFile(In(L"fake.doc.zpwenc0"), Bytes(40, 12));
    ASSERT_TRUE(engine::EncryptFolder(folder_, L"pw", L"", 2, ui_).ok() ||
                engine::State().strengthSkipped == 0);
    for (const wchar_t* name : {L"short.bin.zpwenc0", L"whole.txt.zpwenc0"}) {
        std::string raw = ReadFile(Data(name));
        // The 18-digit plain length sits after the check block and mode.
        const size_t n1 = size_t(std::stoi(raw.substr(raw.size() - 13, 2)));
        const size_t n2 = size_t(std::stoi(raw.substr(raw.size() - 11, 2)));
        const size_t at = raw.size() - (n1 + n2 + 48) + 17;
        raw.replace(at, 18, "000000000000000100");
        WriteFile(Data(name), raw);
    }
    const std::string damagedShort = ReadFile(Data(L"short.bin.zpwenc0"));
    const std::string damagedWhole = ReadFile(Data(L"whole.txt.zpwenc0"));
    auto dec = engine::DecryptFolder(folder_, L"pw", ui_);
    EXPECT_FALSE(dec.ok());
    EXPECT_EQ(damagedShort, ReadFile(Data(L"short.bin.zpwenc0")));
    EXPECT_EQ(damagedWhole, ReadFile(Data(L"whole.txt.zpwenc0")));
    EXPECT_TRUE(LogHas(crypto::kReasonTrailerDamaged));
    EXPECT_EQ(Bytes(3000, 11), ReadFile(In(L"fine.bin")));
    EXPECT_EQ(Bytes(40, 12), ReadFile(In(L"fake.doc")));
    EXPECT_EQ(1, dec.notOurFormat);
    EXPECT_TRUE(store::IsEncryptedFolder(folder_));  // records kept for another try
}

// The rename-failure list is read from a store that may be crafted: entries
// that leave the store are ignored, and a listed file that still carries a
// trailer is decrypted, never just renamed.
TEST_F(HostileFolderTest, ACraftedRenameFailureListNeitherEscapesNorSkipsDecryption) {
    WriteFile(In(L"a.bin"), Bytes(2000, 13));
    const std::wstring outside = Path(L"victim.doc.zpwenc0");
    WriteFile(outside, "not yours");
    ASSERT_TRUE(engine::EncryptFolder(folder_, L"pw", L"", 2, ui_).ok());
    engine::CFailNameList list;
    std::wstring up = std::wstring(L"..") + plat::kSep;
    list.Add(up + up + up + L"victim.doc.zpwenc0", 2);
    list.Add(L"a.bin.zpwenc0", 2);
    ASSERT_TRUE(list.Save(Param(L"renamefail.ulxjm")));
    EXPECT_TRUE(engine::DecryptFolder(folder_, L"pw", ui_).ok());
    EXPECT_EQ("not yours", ReadFile(outside));
    EXPECT_EQ(Bytes(2000, 13), ReadFile(In(L"a.bin")));
    EXPECT_TRUE(LogHas(L"不在存储区内"));
}

// An object renamed on its way into a strength store is encrypted under
// the name it got.
TEST_F(HostileFolderTest, AnObjectAddedUnderATakenNameIsEncryptedUnderItsNewName) {
    WriteFile(In(L"a.bin"), Bytes(2000, 14));
    ASSERT_TRUE(engine::EncryptFolder(folder_, L"pw", L"", 2, ui_).ok());
    const std::wstring incoming = Path(L"incoming");
    MakeDir(incoming);
    WriteFile(plat::JoinPath(incoming, L"a.bin"), Bytes(900, 15));
    engine::State().Reset();
    engine::State().kind = engine::kKindHighestEncrypt;
    engine::State().operation = engine::kOpBrowse;
    engine::CCryptAndDe_old pass(ui_);
    engine::StrengthJob job;
    job.root = incoming;
    job.items = {L"a.bin"};
    job.password = L"pw";
    job.kindText = store::kKindHighest;
    job.jobMode = 2;
    job.storeFolder = folder_;
    ASSERT_TRUE(pass.RunEncryption(job));
    EXPECT_EQ(1, engine::State().strengthDone);
    const std::string added = ReadFile(Data(L"a[1].bin.zpwenc0"));
    ASSERT_GT(added.size(), 9u);
    EXPECT_EQ("tuotuoyan", added.substr(added.size() - 9));
    EXPECT_EQ("<missing>", ReadFile(Data(L"a[1].bin")));
    ASSERT_TRUE(engine::DecryptFolder(folder_, L"pw", ui_).ok());
    EXPECT_EQ(Bytes(900, 15), ReadFile(In(L"a[1].bin")));
}

// A store that cannot be made (no space, read-only medium...) is reported
// and taken away again: the folder is exactly as it was.
TEST_F(HostileFolderTest, AStoreThatCannotBeMadeLeavesTheFolderAsItWas) {
    const struct {
        FsOp op;
        const wchar_t* path;  // the failing operation's path ends with this
    } kCases[] = {
        {FsOp::CreateDir, L"ulxjm"},
        {FsOp::CreateDir, L"paramff"},
        {FsOp::OpenWrite, engine::kJournalName},
        {FsOp::OpenWrite, L"imimff.ulxjm"},
        {FsOp::OpenWrite, L"typeff.ulxjm"},
        {FsOp::OpenWrite, L"imimff.ulxjm.tmp"},
        {FsOp::RestrictToOwner, L"imimff.ulxjm"},
        {FsOp::SyncVolume, L"paramff"},
        {FsOp::CreateDir, L"ffffff"},
    };
    WriteFile(In(L"a.bin"), Bytes(2000, 16));
    const auto before = Snapshot(folder_);
    for (const auto& c : kCases) {
        for (int strength : {0, 2}) {
            SCOPED_TRACE(plat::ToUtf8(c.path) + " strength " + std::to_string(strength));
            HookedFs fs;
            fs.hook = [&](FsOp op, const std::wstring& path) -> uint32_t {
                return op == c.op && plat::EndsWithNoCase(path, c.path)
                           ? uint32_t(plat::kErrDiskFull)
                           : 0u;
            };
            engine::PassSummary s;
            {
                plat::ScopedFileSystem use(fs);
                s = engine::EncryptFolder(folder_, L"pw", L"", strength, ui_);
            }
            if (strength == 0 && std::wstring(c.path) == L"imimff.ulxjm.tmp") {
                EXPECT_TRUE(s.started);  // normal stores are not sealed
                ASSERT_TRUE(engine::DecryptFolder(folder_, L"pw", ui_).ok());
                (void)plat::Fs().DeleteFile(In(L"ulxjm.exe"));  // the program stays
                continue;
            }
            EXPECT_FALSE(s.started);
            EXPECT_TRUE(SameTree(before, Snapshot(folder_)));
            EXPECT_TRUE(LogHas(L"失败"));
        }
    }
}

}  // namespace
}  // namespace enginetest
