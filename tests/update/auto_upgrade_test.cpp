// The self-update end to end over a folder standing for the web: what lands
// in the program's folder, what never does, and that the folder always
// keeps a program.
#include "update/auto_upgrade.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "app/startup.h"
#include "engine/hooked_fs.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/text.h"
#include "support/folder_downloader.h"
#include "support/pe_image.h"
#include "support/test_files.h"
#include "update/update_rules.h"

namespace {

using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

const std::string kRunning = "the running program";

class AutoUpgradeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const std::wstring& d : {prog_, tmp_, web_, web_ + L"rlxjm", web_ + L"files"})
            ASSERT_TRUE(plat::Fs().CreateDir(d));
        ASSERT_TRUE(plat::Fs().CreateDir(web_ + L"rlxjm" + plat::kSep + L"ver"));
        ASSERT_TRUE(WriteFileBytes(exe_, kRunning));
    }

    // The description of the version after ours.
    void Offer(int version, const std::vector<std::wstring>& urls,
               const std::vector<std::string>& lengths = {}) {
        std::string ini = "[VERSION]\r\nDLLVER=1700\r\nVER=" + std::to_string(version) +
                          "\r\nCOUNTS=" + std::to_string(urls.size()) + "\r\n[SOURCE]\r\n";
        for (size_t i = 0; i < urls.size(); ++i)
            ini += "URL" + std::to_string(i) + "=" + plat::ToAnsi(urls[i]) + "\r\n";
        ini += "[LENGTH]\r\n";
        for (size_t i = 0; i < lengths.size(); ++i)
            ini += "LEN" + std::to_string(i) + "=" + lengths[i] + "\r\n";
        ASSERT_TRUE(WriteFileBytes(DescriptionFile(), ini));
    }
    std::wstring DescriptionFile() const {
        return web_ + L"rlxjm" + plat::kSep + L"ver" + plat::kSep + L"3069.ini";
    }
    void Serve(const std::wstring& name, const std::string& bytes) {
        ASSERT_TRUE(WriteFileBytes(web_ + L"files" + plat::kSep + name, bytes));
    }
    std::wstring Url(const std::wstring& name) const { return base_ + L"/files/" + name; }

    // Runs the thread's work; the result of DownloadAndReplace, or -1 when
    // nothing newer was offered.
    int Run() {
        update::CAutoUpgrade upgrade(web, exe_, tmp_, base_);
        const int offered = upgrade.CheckVersion();
        return offered > 3069 ? upgrade.DownloadAndReplace() : -1;
    }

    static std::vector<std::wstring> Names(const std::wstring& folder) {
        std::vector<plat::DirEntry> entries;
        EXPECT_TRUE(plat::Fs().ListDir(folder, &entries));
        std::vector<std::wstring> names;
        for (const auto& e : entries) names.push_back(e.name);
        std::sort(names.begin(), names.end());
        return names;
    }
    void ExpectProgramUntouched() {
        EXPECT_EQ(ReadFileBytes(exe_), kRunning);
        EXPECT_EQ(Names(prog_), std::vector<std::wstring>{L"ulxjm.exe"});
        EXPECT_TRUE(Names(tmp_).empty());
    }

    testsupport::TempFolder root_;
    const std::wstring prog_ = root_ / L"prog" + plat::kSep;
    const std::wstring tmp_ = root_ / L"tmp" + plat::kSep;
    const std::wstring web_ = root_ / L"web" + plat::kSep;
    const std::wstring exe_ = prog_ + L"ulxjm.exe";
    const std::wstring base_ = update::AcceptedBase(L"");
    testsupport::FolderDownloader web{base_, web_};
    const std::string newProgram_ = testsupport::PeImage();
};

TEST_F(AutoUpgradeTest, NewerVersionReplacesTheProgramAndAddsItsFiles) {
    Offer(3070, {Url(L"ulxjm.exe"), Url(L"帮助.chm")}, {std::to_string(newProgram_.size()), "5"});
    Serve(L"ulxjm.exe", newProgram_);
    Serve(L"帮助.chm", "help!");
    ASSERT_TRUE(WriteFileBytes(prog_ + L"ulxjm.exe.old", "from an earlier upgrade"));

    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(ReadFileBytes(exe_), newProgram_);
    EXPECT_EQ(ReadFileBytes(prog_ + L"ulxjm.exe.old"), kRunning);
    EXPECT_EQ(ReadFileBytes(prog_ + L"帮助.chm"), "help!");
    EXPECT_EQ(Names(prog_),
              (std::vector<std::wstring>{L"ulxjm.exe", L"ulxjm.exe.old", L"帮助.chm"}));
    EXPECT_TRUE(Names(tmp_).empty()) << "the description is never kept";

    // Every download asks past the cache.
    const std::vector<std::wstring> expected = {L"drop " + base_ + L"/rlxjm/ver/3069.ini",
                                                L"get " + base_ + L"/rlxjm/ver/3069.ini",
                                                L"drop " + Url(L"ulxjm.exe"),
                                                L"get " + Url(L"ulxjm.exe"),
                                                L"drop " + Url(L"帮助.chm"),
                                                L"get " + Url(L"帮助.chm")};
    EXPECT_EQ(web.Requests(), expected);
}

TEST_F(AutoUpgradeTest, NothingNewerNothingListedOrNoDescriptionLeavesTheProgram) {
    struct Case {
        const char* what;
        int version;
        bool listed;
    };
    const Case cases[] = {{"same version", 3069, true},
                          {"older version", 2000, true},
                          {"no version", -1, true},
                          {"newer, nothing listed", 3070, false}};
    Serve(L"ulxjm.exe", newProgram_);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::wstring> urls;
        if (c.listed) urls.push_back(Url(L"ulxjm.exe"));
        Offer(c.version, urls);
        EXPECT_EQ(Run(), c.version > 3069 ? 1 : -1);
        EXPECT_EQ(web.Gets(Url(L"ulxjm.exe")), 0);
        ExpectProgramUntouched();
    }
    ASSERT_TRUE(plat::Fs().DeleteFile(DescriptionFile()));
    update::CAutoUpgrade upgrade(web, exe_, tmp_, base_);
    EXPECT_EQ(upgrade.CheckVersion(), -1);
    ExpectProgramUntouched();
}

TEST_F(AutoUpgradeTest, ProgramFileThatFailsItsChecksIsNeverInstalled) {
    using testsupport::PeFields;
    PeFields console;
    console.subsystem = 3;
    struct Case {
        const char* what;
        std::wstring url;
        std::string served;  // empty: not served (404)
        std::string length;
        int gets;
    };
    const Case cases[] = {
        {"missing: three attempts", Url(L"ulxjm.exe"), "", "0", 3},
        {"shorter than listed", Url(L"ulxjm.exe"), newProgram_,
         std::to_string(newProgram_.size() + 1), 1},
        {"not a program, no size check", Url(L"ulxjm.exe"), std::string(9000, 'x'), "0", 1},
        {"not a program, long enough", Url(L"ulxjm.exe"), std::string(9000, 'x'), "100", 1},
        {"console program", Url(L"ulxjm.exe"), testsupport::PeImage(console), "0", 1},
        {"other host", L"https://evil.example/files/ulxjm.exe", newProgram_, "0", 0},
        {"plain http", L"http://www.ulxjm.example/files/ulxjm.exe", newProgram_, "0", 0},
        {"no slash", L"ulxjm.exe", newProgram_, "0", 0},
        {"empty name", Url(L""), newProgram_, "0", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        (void)plat::Fs().DeleteFile(web_ + L"files" + plat::kSep + L"ulxjm.exe");
        if (!c.served.empty()) Serve(L"ulxjm.exe", c.served);
        Offer(3070, {c.url}, {c.length});
        const int before = web.Gets(c.url);
        EXPECT_EQ(Run(), 0);
        EXPECT_EQ(web.Gets(c.url) - before, c.gets);
        ExpectProgramUntouched();
    }
}

TEST_F(AutoUpgradeTest, ProgramFileWithoutSizeCheckIsInstalled) {
    Offer(3070, {Url(L"ulxjm.exe")}, {"0"});
    Serve(L"ulxjm.exe", newProgram_);
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(ReadFileBytes(exe_), newProgram_);
}

TEST_F(AutoUpgradeTest, FailedSwapAlwaysLeavesAProgramUnderItsName) {
    struct Case {
        const char* what;
        bool programStays, newFileStays, oldStays;
        std::vector<std::wstring> left;
    };
    const Case cases[] = {
        {"program cannot move", true, false, false, {L"ulxjm.exe"}},
        {"new file cannot move", false, true, false, {L"ulxjm.exe"}},
        // Then a copy of the running program takes its name.
        {"new file and old program cannot move",
         false,
         true,
         true,
         {L"ulxjm.exe", L"ulxjm.exe.old"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Offer(3070, {Url(L"ulxjm.exe")});
        Serve(L"ulxjm.exe", newProgram_);
        enginetest::HookedFs fs;
        fs.hook = [&](enginetest::FsOp op, const std::wstring& path) -> uint32_t {
            if (op != enginetest::FsOp::Move) return 0u;
            const bool blocked = (c.programStays && path == exe_) ||
                                 (c.oldStays && path == exe_ + L".old") ||
                                 (c.newFileStays && update::IsTemporaryName(plat::LeafName(path)));
            return blocked ? uint32_t(plat::kErrSharingViolation) : 0u;
        };
        {
            plat::ScopedFileSystem use(fs);
            EXPECT_EQ(Run(), 0);
        }
        EXPECT_EQ(ReadFileBytes(exe_), kRunning);
        EXPECT_EQ(Names(prog_), c.left);
        EXPECT_TRUE(Names(tmp_).empty());
        (void)plat::Fs().DeleteFile(exe_ + L".old");
    }
}

TEST_F(AutoUpgradeTest, HostileNamesWriteNothing) {
    const std::vector<std::wstring> hostile = {Url(L"..\\x.txt"),
                                               Url(L"a:b"),
                                               Url(L"."),
                                               Url(L""),
                                               Url(L"ulxjm"),
                                               Url(L"mima.dat"),
                                               Url(L"desktop.ini"),
                                               Url(L"imimff.ulxjm"),
                                               base_ + L"/files/b/ulxjm.exe",
                                               Url(L"ulxjm.exe.old"),
                                               base_ + L"/files/../x.txt",
                                               L"https://evil.example/x.txt"};
    std::vector<std::wstring> urls = {Url(L"ulxjm.exe")};
    urls.insert(urls.end(), hostile.begin(), hostile.end());
    Serve(L"ulxjm.exe", newProgram_);
    for (const wchar_t* name :
         {L"ulxjm", L"mima.dat", L"desktop.ini", L"imimff.ulxjm", L"ulxjm.exe.old"})
        Serve(name, "hostile");
    Offer(3070, urls);

    EXPECT_EQ(Run(), 1);
    for (const std::wstring& url : hostile) EXPECT_EQ(web.Gets(url), 0) << url;
    EXPECT_EQ(ReadFileBytes(exe_), newProgram_);
    EXPECT_EQ(Names(prog_), (std::vector<std::wstring>{L"ulxjm.exe", L"ulxjm.exe.old"}));
    EXPECT_EQ(Names(root_.path()), (std::vector<std::wstring>{L"prog", L"tmp", L"web"}));
}

TEST_F(AutoUpgradeTest, ExistingFilesStayAndTheNewCopyGoesAside) {
    ASSERT_TRUE(WriteFileBytes(prog_ + L"notes.txt", "mine"));
    ASSERT_TRUE(WriteFileBytes(prog_ + L"notes.txt.bak", "my backup"));
    Serve(L"ulxjm.exe", newProgram_);
    Serve(L"notes.txt", "new notes");
    Offer(3070, {Url(L"ulxjm.exe"), Url(L"notes.txt")});
    EXPECT_EQ(Run(), 1);
    Serve(L"notes.txt", "newer notes");
    EXPECT_EQ(Run(), 1);

    EXPECT_EQ(ReadFileBytes(prog_ + L"notes.txt"), "mine");
    EXPECT_EQ(ReadFileBytes(prog_ + L"notes.txt.bak"), "my backup");
    EXPECT_EQ(ReadFileBytes(prog_ + L"notes.txt.new"), "new notes");
    EXPECT_EQ(ReadFileBytes(prog_ + L"notes.txt.new1"), "newer notes");
    EXPECT_EQ(Names(prog_),
              (std::vector<std::wstring>{L"notes.txt", L"notes.txt.bak", L"notes.txt.new",
                                         L"notes.txt.new1", L"ulxjm.exe", L"ulxjm.exe.old"}));
}

TEST_F(AutoUpgradeTest, NextStartRemovesOnlyLeftoversOfEndedRuns) {
    const uint32_t self = plat::CurrentProcessId();
    const uint32_t ended = 0x7FFFFFF0u;  // no process has this id
    ASSERT_FALSE(plat::IsProcessRunning(ended));
    const std::wstring deadPart = update::TemporaryName(ended, 0);
    const std::wstring deadIni = update::TemporaryName(ended, 1);
    const std::wstring ownPart = update::TemporaryName(self, 900);
    const std::vector<std::wstring> users = {L"x.bak", L"~ulxjm-upd.tmp", L"~ulxjm-upd.1.tmp",
                                             L"~ulxjm-upd.1.2.tmp.txt", L"ulxjm.exe"};
    for (const std::wstring& n : users) {
        if (n != L"ulxjm.exe") {
            ASSERT_TRUE(WriteFileBytes(prog_ + n, "user's"));
        }
    }
    ASSERT_TRUE(WriteFileBytes(prog_ + deadPart, "partial download"));
    ASSERT_TRUE(WriteFileBytes(prog_ + ownPart, "in progress"));
    ASSERT_TRUE(WriteFileBytes(tmp_ + deadIni, "[VERSION]"));
    // A folder under our pattern is not one of our files.
    const std::wstring folderName = update::TemporaryName(ended, 2);
    ASSERT_TRUE(plat::Fs().CreateDir(prog_ + folderName));

    Offer(3069, {});
    EXPECT_EQ(update::RunUpdateCheck(web, exe_, tmp_, base_), 1);

    std::vector<std::wstring> kept = users;
    kept.push_back(ownPart);
    kept.push_back(folderName);
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(Names(prog_), kept);
    EXPECT_TRUE(Names(tmp_).empty());
    EXPECT_EQ(ReadFileBytes(exe_), kRunning);
}

TEST_F(AutoUpgradeTest, NextStartRemovesTheOldProgramOrPutsItAside) {
    struct RecordingShell : app::Shell {
        bool InitUi() override { return true; }
        void ShowMessage(const std::wstring& text) override { messages.push_back(text); }
        void RunEncryptWindow() override {}
        void RunDecryptWindow() override {}
        std::vector<std::wstring> messages;
    };
    app::AppGlobals g;
    g.ModulePath = exe_;
    const std::wstring old = exe_ + L".old", del = exe_ + L".del";
    ASSERT_TRUE(WriteFileBytes(old, "previous program"));
    ASSERT_TRUE(WriteFileBytes(del, "put aside by an earlier start"));
    // Still running somewhere: it cannot be deleted, only renamed.
    enginetest::HookedFs fs;
    fs.hook = [&](enginetest::FsOp op, const std::wstring& path) -> uint32_t {
        return op == enginetest::FsOp::Delete && path == old ? uint32_t(plat::kErrSharingViolation)
                                                             : 0u;
    };
    RecordingShell shell;
    {
        plat::ScopedFileSystem use(fs);
        app::CleanUpAfterUpgrade(g, shell);
    }
    EXPECT_FALSE(plat::Fs().Exists(old));
    EXPECT_EQ(ReadFileBytes(del), "previous program");
    EXPECT_EQ(shell.messages, std::vector<std::wstring>{L"岚栩只读加密已经升级到 3069 版本。"});
}

}  // namespace
