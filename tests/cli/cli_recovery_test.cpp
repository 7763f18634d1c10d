// The ulxjm command on folders somebody else prepared: store folders that
// lead elsewhere, leftovers that are not ours, journals built to take long,
// and what a killed run leaves outside the folder.
#ifndef _WIN32

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/cli_run.h"
#include "crypto/file_change.h"
#include "engine/pass_journal.h"
#include "platform/fs.h"
#include "store/layout.h"
#include "support/test_files.h"

namespace {

using clitest::N;
using clitest::Result;
using clitest::Snapshot;
using clitest::Tree;
using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

// A /proc file (they report no size, so they are read to their end).
std::string ProcText(const std::string& path) {
    std::string text;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buf[512];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) text.append(buf, size_t(n));
    close(fd);
    return text;
}

plat::FileSystem& Os() {
    return plat::OsFileSystem();
}

class CliRecoveryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        exe_ = run_.tmp() / L"fake-ulxjm.exe";
        ASSERT_TRUE(WriteFileBytes(exe_, "MZ fake windows program"));
    }
    std::wstring T(const std::wstring& name) const { return run_.tmp() / name; }

    std::wstring MakeFolder(const std::wstring& name) {
        const std::wstring dir = T(name);
        EXPECT_TRUE(Os().CreateDir(dir));
        EXPECT_TRUE(Os().CreateDir(plat::JoinPath(dir, L"文档")));
        EXPECT_TRUE(WriteFileBytes(plat::JoinPath(dir, L"notes.txt"), "plain text"));
        EXPECT_TRUE(WriteFileBytes(plat::JoinPath(dir, L"文档/报告.doc"), std::string(3000, 'r')));
        return dir;
    }
    Result Encrypt(const std::wstring& dir, const std::string& strength) {
        return run_.Run(
            {"encrypt", N(dir), "--strength", strength, "--exe", N(exe_), "--password-stdin"},
            "secret\n");
    }
    // A journal in `folder`'s parameter folder whose one record has recovery
    // delete `victim` (a name below the data folder) as a copy's working file.
    void PlantJournal(const std::wstring& folder, const std::wstring& victim) {
        const std::wstring data = store::DataDir(folder);
        crypto::FileChange c;
        c.kind = crypto::ChangeKind::DecryptCopy;
        c.from = plat::JoinPath(data, L"a.zpwenc0");
        c.to = plat::JoinPath(data, L"a");
        c.temp = plat::JoinPath(data, victim);
        engine::PassJournal journal(folder);
        ASSERT_TRUE(journal.Write({&c}));
    }

    clitest::Runner run_;
    std::wstring exe_;
};

// A received folder whose store root, data folder or parameter folder leads
// elsewhere: every command refuses before reading anything, and nothing
// there or where the link leads changes.
TEST_F(CliRecoveryTest, StoreFoldersThatLeadElsewhereAreNeverTouched) {
    const std::wstring other = MakeFolder(L"other");
    ASSERT_EQ(Encrypt(other, "highest").code, 0);
    const std::wstring outside = T(L"home");
    ASSERT_TRUE(Os().CreateDir(outside));
    ASSERT_TRUE(WriteFileBytes(plat::JoinPath(outside, L"victim.txt"), "the user's own file"));

    enum Link { DataToHome, ParamToOtherStore, RootToOtherStore };
    const struct {
        const char* what;
        Link link;
    } kCases[] = {
        {"ulxjm/ffffff -> a folder outside, with a journal deleting a file there", DataToHome},
        {"ulxjm/paramff -> another protected folder's records", ParamToOtherStore},
        {"ulxjm -> another protected folder's store", RootToOtherStore},
    };
    for (const auto& c : kCases) {
        const std::wstring dir = T(L"received");
        ASSERT_TRUE(Os().CreateDir(dir));
        ASSERT_TRUE(WriteFileBytes(plat::JoinPath(dir, L"mine.txt"), "mine"));
        const std::wstring root = plat::JoinPath(dir, L"ulxjm");
        if (c.link != RootToOtherStore) ASSERT_TRUE(Os().CreateDir(root));
        switch (c.link) {
            case DataToHome:
                ASSERT_TRUE(Os().CreateDir(store::ParamDir(dir)));
                ASSERT_EQ(symlink("../../home", N(store::DataDir(dir)).c_str()), 0);
                PlantJournal(dir, L"victim.txt");
                break;
            case ParamToOtherStore:
                ASSERT_EQ(symlink(N(store::ParamDir(other)).c_str(), N(store::ParamDir(dir)).c_str()),
                          0);
                break;
            case RootToOtherStore:
                ASSERT_EQ(symlink(N(plat::JoinPath(other, L"ulxjm")).c_str(), N(root).c_str()), 0);
                break;
        }
        const Tree before = Snapshot(run_.tmp().path());
        const std::string out = N(T(L"out"));
        const std::vector<std::vector<std::string>> kCommands = {
            {"status", N(dir)},
            {"list", N(dir)},
            {"decrypt", N(dir), "--password-stdin"},
            {"extract", N(dir), "notes.txt", "--to", out, "--password-stdin"},
            {"encrypt", N(dir), "--exe", N(exe_), "--password-stdin"},
        };
        for (const auto& args : kCommands) {
            Result r = run_.Run(args, "secret\n");
            EXPECT_EQ(r.code, 2) << c.what << ": " << args[0] << "\n" << r.out << r.err;
            EXPECT_NE(r.err.find("不是该文件夹里真正的文件夹"), std::string::npos)
                << c.what << ": " << args[0] << "\n" << r.err;
            Tree now = Snapshot(run_.tmp().path());
            for (const wchar_t* scratch : {L"stdin", L"stdout", L"stderr"}) now.erase(scratch);
            Tree was = before;
            for (const wchar_t* scratch : {L"stdin", L"stdout", L"stderr"}) was.erase(scratch);
            // Only the log in the command's own folders may change.
            for (Tree* t : {&now, &was})
                for (auto it = t->begin(); it != t->end();)
                    it = it->first.rfind(L"cache/", 0) == 0 || it->first.rfind(L"tmp/", 0) == 0
                             ? t->erase(it)
                             : std::next(it);
            EXPECT_EQ(now, was) << c.what << ": " << args[0];
        }
        ASSERT_TRUE(testsupport::RemoveTree(dir));
    }
    EXPECT_EQ(ReadFileBytes(plat::JoinPath(outside, L"victim.txt")), "the user's own file");
    Result r = run_.Run({"decrypt", N(other), "--password-stdin"}, "secret\n");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ReadFileBytes(plat::JoinPath(other, L"notes.txt")), "plain text");
}


// A first full decryption that fails on one file keeps the store and its
// decoration record, and gives back the user's own desktop.ini. The second
// one, after the failing file was dealt with, must not take that file for
// our decoration because it is empty or only the start of ours.
TEST_F(CliRecoveryTest, AUsersDesktopIniThatStartsLikeOursSurvivesASecondDecryption) {
    const std::string ours = "[.ShellClassInfo]\r\nIconIndex=0\r\nIconFile=ulxjm.exe\r\nInfoTip=";
    const std::string kContents[] = {"", "[.ShellClassInfo]\r\n", ours};
    const std::wstring other = MakeFolder(L"other");
    ASSERT_EQ(run_.Run({"encrypt", N(other), "--strength", "highest", "--exe", N(exe_),
                        "--password-stdin"},
                       "another\n")
                  .code,
              0);
    int n = 0;
    for (const std::string& content : kContents) {
        const std::wstring dir = MakeFolder(L"d" + std::to_wstring(n++));
        const std::wstring ini = plat::JoinPath(dir, L"desktop.ini");
        ASSERT_TRUE(WriteFileBytes(ini, content));
        ASSERT_EQ(Encrypt(dir, "highest").code, 0);
        ASSERT_NE(ReadFileBytes(ini), content) << "our decoration stands in its place";
        // A file of another store: the first decryption fails on it.
        const std::wstring foreign = plat::JoinPath(store::DataDir(dir), L"foreign.txt.zpwenc0");
        ASSERT_TRUE(Os().Copy(plat::JoinPath(store::DataDir(other), L"notes.txt.zpwenc0"), foreign,
                              true));
        Result r = run_.Run({"decrypt", N(dir), "--password-stdin"}, "secret\n");
        ASSERT_EQ(r.code, 1) << r.err;
        EXPECT_EQ(ReadFileBytes(ini), content);
        ASSERT_TRUE(Os().DeleteFile(foreign));
        r = run_.Run({"decrypt", N(dir), "--password-stdin"}, "secret\n");
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(ReadFileBytes(ini), content) << "content of " << content.size() << " bytes";
        EXPECT_FALSE(Os().Exists(plat::JoinPath(dir, L"ulxjm")));
    }
}

// Folders using our names without ever being a store of ours ("ulxjm"
// without "ffffff"): recovery leaves every file and says it could not
// settle the folder; what a store's removal stopped half-way leaves is
// still removed.
TEST_F(CliRecoveryTest, OnlyProvableLeftoversOfAStoreAreRemoved) {
    const struct {
        const char* what;
        std::vector<std::pair<const wchar_t*, std::string>> files;  // below ulxjm/
        bool journal;
        bool ours;
    } kCases[] = {
        {"a kind record of the user's", {{L"paramff/typeff.ulxjm", "my own notes"}}, false, false},
        {"a journal beside a file of the user's",
         {{L"paramff/diary.txt", "dear diary"}},
         true,
         false},
        {"records beside a file of the user's in the store root",
         {{L"paramff/imimff.ulxjm", "pw"}, {L"photo.jpg", "JFIF"}},
         false,
         false},
        {"a kind nobody wrote", {{L"paramff/typeff.ulxjm", "fftype=7"}}, false, false},
        {"a removal stopped half-way",
         {{L"paramff/typeff.ulxjm", "fftype=2"}, {L"paramff/liamff.ulxjm", "a@b.c"}},
         false,
         true},
        {"a new store stopped before its data folder",
         {{L"paramff/imimff.ulxjm", "pw"}, {L"paramff/typeff.ulxjm", "fft"}},
         true,
         true},
    };
    for (const auto& c : kCases) {
        const std::wstring dir = MakeFolder(L"f");
        ASSERT_TRUE(Os().CreateDir(plat::JoinPath(dir, L"ulxjm")));
        ASSERT_TRUE(Os().CreateDir(store::ParamDir(dir)));
        for (const auto& [rel, bytes] : c.files)
            ASSERT_TRUE(WriteFileBytes(plat::JoinPath(dir, std::wstring(L"ulxjm/") + rel), bytes));
        if (c.journal) {
            engine::PassJournal journal(dir);
            journal.SetPass(engine::JournalPass::NewStore, 0);
            ASSERT_TRUE(journal.Write({}));
        }
        const Tree before = Snapshot(dir);
        Result r = run_.Run({"status", N(dir)});
        if (c.ours) {
            EXPECT_EQ(r.code, 0) << c.what << r.out << r.err;
            EXPECT_FALSE(Os().Exists(plat::JoinPath(dir, L"ulxjm"))) << c.what;
            EXPECT_EQ(ReadFileBytes(plat::JoinPath(dir, L"notes.txt")), "plain text");
        } else {
            EXPECT_NE(r.err.find("没能恢复"), std::string::npos) << c.what << r.err;
            EXPECT_EQ(Snapshot(dir), before) << c.what;
            // Nor may a protection write its records over the user's files.
            r = Encrypt(dir, "normal");
            EXPECT_EQ(r.code, 1) << c.what << r.err;
            EXPECT_EQ(Snapshot(dir), before) << c.what;
        }
        ASSERT_TRUE(testsupport::RemoveTree(dir));
    }
}

// An extract killed after its copies were written, before their names were
// given: the plain working files it left in the destination go at the next
// run, which then copies every item; a file of the user's under such a
// name stays and blocks nothing.
TEST_F(CliRecoveryTest, AKilledExtractLeavesNoWorkingFilesAndBlocksNothing) {
    if (system("strace -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "no strace";
    const std::wstring dir = MakeFolder(L"d");
    ASSERT_TRUE(WriteFileBytes(plat::JoinPath(dir, L"big.bin"), std::string(300000, 'b')));
    ASSERT_EQ(Encrypt(dir, "highest").code, 0);
    const struct {
        const char* what;
        bool userFile;  // a file of the user's named like a working file
        bool kill;
    } kCases[] = {
        {"killed at its first rename", false, true},
        {"a file of the user's named big.bin.tmp", true, false},
    };
    for (const auto& c : kCases) {
        const std::wstring out = T(L"out");
        ASSERT_TRUE(Os().CreateDir(out));
        const std::wstring userTmp = plat::JoinPath(out, L"big.bin.tmp");
        if (c.userFile) ASSERT_TRUE(WriteFileBytes(userTmp, "the user's own"));
        const std::vector<std::string> args = {"extract", N(dir),    "notes.txt", "big.bin",
                                               "--to",    N(out),    "--password-stdin"};
        if (c.kill) {
            const std::vector<std::string> strace = {
                "strace", "-f", "-qq", "-o", "/dev/null", "-e",
                "inject=rename,renameat,renameat2:signal=KILL:when=1"};
            Result r = run_.Wait(run_.Start(args, "secret\n", nullptr, {}, strace));
            ASSERT_NE(r.code, 0) << c.what << r.err;
            // The copies were complete and plain, only their names missing.
            ASSERT_EQ(ReadFileBytes(plat::JoinPath(out, L"big.bin.tmp")), std::string(300000, 'b'))
                << c.what;
        }
        Result r = run_.Run(args, "secret\n");
        EXPECT_EQ(r.code, 0) << c.what << r.err;
        EXPECT_EQ(ReadFileBytes(plat::JoinPath(out, L"notes.txt")), "plain text") << c.what;
        EXPECT_EQ(ReadFileBytes(plat::JoinPath(out, L"big.bin")), std::string(300000, 'b'))
            << c.what;
        std::vector<plat::DirEntry> left;
        ASSERT_TRUE(Os().ListDir(out, &left));
        EXPECT_EQ(left.size(), c.userFile ? 3u : 2u) << c.what << ": working files left";
        if (c.userFile) EXPECT_EQ(ReadFileBytes(userTmp), "the user's own") << c.what;
        ASSERT_TRUE(testsupport::RemoveTree(out));
    }
    // Nothing of ours is left listed.
    std::vector<plat::DirEntry> entries;
    ASSERT_TRUE(Os().ListDir(T(L"tmp"), &entries));
    for (const auto& e : entries) {
        std::vector<plat::DirEntry> inner;
        if (e.IsDirectory() && Os().ListDir(plat::JoinPath(T(L"tmp"), e.name), &inner))
            for (const auto& f : inner) EXPECT_EQ(f.name.rfind(L"copytemp-", 0), std::string::npos);
    }
}

// A command that crashes while it holds a password writes no core, even
// where the user allows cores.
TEST_F(CliRecoveryTest, ACrashWhileWaitingForThePasswordLeavesNoCore) {
#if defined(__SANITIZE_ADDRESS__)
    // An instrumented build catches SIGSEGV itself; let the kernel have it,
    // as it does for the release build.
    setenv("ASAN_OPTIONS", "handle_segv=0", 1);
#endif
    const std::wstring dir = MakeFolder(L"d");
    ASSERT_EQ(Encrypt(dir, "normal").code, 0);
    const std::string cwd = N(T(L"run"));
    int in = -1;
    const pid_t pid = run_.Start({"decrypt", N(dir), "--password-stdin"}, "", &in, [&] {
        const struct rlimit any = {RLIM_INFINITY, RLIM_INFINITY};
        (void)setrlimit(RLIMIT_CORE, &any);
        if (chdir(cwd.c_str()) != 0) _exit(126);
    });
    ASSERT_GT(pid, 0);
    // Half a line: it is read and kept while the rest is awaited.
    const std::string typed = "hunter2-typed-secret";
    ASSERT_EQ(write(in, typed.data(), typed.size()), ssize_t(typed.size()));
    // Blocked reading standard input again: everything written was taken.
    const std::string proc = "/proc/" + std::to_string(pid);
    bool waiting = false;
    for (int i = 0; i < 2000 && !waiting; ++i) {
        const std::string syscall = ProcText(proc + "/syscall");
        if (!syscall.empty())
            waiting = syscall.rfind("0 0x0 ", 0) == 0;
        else
            waiting = ProcText(proc + "/stat").find(") S ") != std::string::npos;
        if (!waiting) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(waiting) << "the command never waited for the rest of its password";
    ASSERT_EQ(kill(pid, SIGSEGV), 0);
    Result r = run_.Wait(pid);
    close(in);
    EXPECT_EQ(r.signal, SIGSEGV) << r.code << r.err;
    EXPECT_FALSE(r.core) << "the kernel wrote a core";
    std::vector<plat::DirEntry> left;
    ASSERT_TRUE(Os().ListDir(T(L"run"), &left));
    for (const auto& e : left) {
        const std::string bytes = ReadFileBytes(plat::JoinPath(T(L"run"), e.name));
        EXPECT_EQ(bytes.find(typed), std::string::npos) << N(e.name) << " holds the password";
    }
}

// Recovery runs without a password on any folder: a journal built to make
// it work for minutes (paths of thousands of parts, or many records of
// long paths) is settled or left alone at once, and nothing in the store
// changes for it.
TEST_F(CliRecoveryTest, ACraftedJournalCannotKeepRecoveryBusy) {
    const struct {
        const char* what;
        int parts;
        int records;
        bool leftAlone;  // beyond the budget: kept and reported
    } kCases[] = {
        {"paths of 16000 parts", 16000, 20, false},
        {"many records of 400-part paths", 400, 3000, true},
    };
    for (const auto& c : kCases) {
        const std::wstring dir = MakeFolder(L"j");
        ASSERT_EQ(Encrypt(dir, "normal").code, 0);
        const std::wstring data = store::DataDir(dir);
        std::wstring deep;
        for (int k = 0; k < c.parts; ++k) deep += L"a/";
        std::vector<crypto::FileChange> changes(c.records);
        std::vector<const crypto::FileChange*> batch;
        for (int k = 0; k < c.records; ++k) {
            crypto::FileChange& ch = changes[k];
            ch.kind = crypto::ChangeKind::DecryptCopy;
            ch.from = plat::JoinPath(data, deep + std::to_wstring(k) + L".zpwenc0");
            ch.to = plat::JoinPath(data, deep + std::to_wstring(k));
            ch.temp = plat::JoinPath(data, deep + std::to_wstring(k) + L".tmp");
            batch.push_back(&ch);
        }
        engine::PassJournal journal(dir);
        ASSERT_TRUE(journal.Write(batch));
        const Tree before = Snapshot(data);
        const auto start = std::chrono::steady_clock::now();
        Result r = run_.Run({"status", N(dir)});
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count();
        // Not a speed measure: a bound that an unbounded recovery (minutes
        // per record) cannot meet, with room for instrumented builds.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        constexpr long kBound = 120;
#else
        constexpr long kBound = 20;
#endif
        EXPECT_LT(seconds, kBound) << c.what;
        EXPECT_EQ(r.code, c.leftAlone ? 1 : 0) << c.what << r.out << r.err;
        EXPECT_EQ(Os().Exists(journal.Path()), c.leftAlone) << c.what;
        EXPECT_EQ(Snapshot(data), before) << c.what;
        ASSERT_TRUE(testsupport::RemoveTree(dir));
    }
}

}  // namespace

#endif  // _WIN32
