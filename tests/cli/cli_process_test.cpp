// End-to-end tests of the built ulxjm program: every command run as a
// process on real temporary folders, with its exit code, its messages and
// what it left on disk.
#ifndef _WIN32

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/fs.h"
#include "platform/text.h"
#include "support/hostile_files.h"
#include "support/test_files.h"

namespace {

using testsupport::ReadFileBytes;
using testsupport::TempFolder;
using testsupport::WriteFileBytes;

struct Result {
    int code = -1;
    std::string out;
    std::string err;
};

std::string N(const std::wstring& w) {
    return plat::ToUtf8(w);
}

std::string Slurp(const std::string& path) {
    std::string s;
    (void)ReadFileBytes(plat::FromUtf8(path), &s);
    return s;
}

// Path -> marks, size and content hash of everything below `dir`, so a test can
// tell that a refused command changed nothing (names, bytes, marks).
using Tree = std::map<std::wstring, std::string>;
void Snap(const std::wstring& dir, const std::wstring& rel, Tree* t) {
    std::vector<plat::DirEntry> entries;
    if (!plat::Fs().ListDir(dir, &entries)) return;
    for (const auto& e : entries) {
        const std::wstring r = rel.empty() ? e.name : rel + L"/" + e.name;
        const std::wstring p = plat::JoinPath(dir, e.name);
        const uint32_t marks = e.attributes & (plat::kAttrHidden | plat::kAttrSystem |
                                               plat::kAttrReadOnly | plat::kAttrDirectory);
        if (e.IsDirectory()) {
            (*t)[r + L"/"] = std::to_string(marks);
            Snap(p, r, t);
        } else {
            // Size and hash keep a failure message readable.
            const std::string bytes = ReadFileBytes(p);
            (*t)[r] = std::to_string(marks) + ":" + std::to_string(bytes.size()) + ":" +
                      std::to_string(std::hash<std::string>{}(bytes));
        }
    }
}
Tree Snapshot(const std::wstring& dir) {
    Tree t;
    Snap(dir, L"", &t);
    return t;
}

// Only the user's files: what a folder holds besides the program copy.
Tree UserFiles(const std::wstring& dir) {
    Tree t = Snapshot(dir);
    t.erase(L"ulxjm.exe");
    return t;
}

std::string Bin() {
    std::string bin;
    for (int i = 0; i < 5000; ++i) bin.push_back(char((i * 131 + 7) % 256));
    return bin;
}

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(plat::Fs().CreateDir(tmp_ / L"tmp"));
        ASSERT_TRUE(plat::Fs().CreateDir(tmp_ / L"config"));
        ASSERT_TRUE(plat::Fs().CreateDir(tmp_ / L"cache"));
        exe_ = tmp_ / L"fake-ulxjm.exe";
        ASSERT_TRUE(WriteFileBytes(exe_, "MZ fake windows program"));
    }

    // Runs the program with `args`, `input` on standard input, without a
    // controlling terminal, with settings and temporary files of its own.
    Result Run(const std::vector<std::string>& args, const std::string& input = "",
               const std::string& program = ULXJM_CLI_PATH) {
        const std::string in = N(tmp_ / L"stdin"), out = N(tmp_ / L"stdout"),
                          err = N(tmp_ / L"stderr");
        EXPECT_TRUE(WriteFileBytes(plat::FromUtf8(in), input));
        const std::string tmpDir = N(tmp_ / L"tmp"), config = N(tmp_ / L"config"),
                          cache = N(tmp_ / L"cache");
        pid_t pid = fork();
        if (pid == 0) {
            setsid();
            int fi = open(in.c_str(), O_RDONLY);
            int fo = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int fe = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(fi, 0);
            dup2(fo, 1);
            dup2(fe, 2);
            setenv("TMPDIR", tmpDir.c_str(), 1);
            setenv("XDG_CONFIG_HOME", config.c_str(), 1);
            setenv("XDG_CACHE_HOME", cache.c_str(), 1);
            unsetenv("XDG_RUNTIME_DIR");
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(program.c_str()));
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        // A command that hangs is stopped and fails the test, not the run.
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        bool hung = false;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                hung = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        Result r;
        r.code = hung ? -2 : WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        EXPECT_FALSE(hung) << args[0] << " did not finish within 30 s";
        r.out = Slurp(out);
        r.err = Slurp(err);
        return r;
    }

    // A folder with a nested folder, a text file, a Chinese name and binary data.
    std::wstring MakeFolder(const std::wstring& name) {
        const std::wstring dir = tmp_ / name;
        EXPECT_TRUE(plat::Fs().CreateDir(dir));
        EXPECT_TRUE(plat::Fs().CreateDir(plat::JoinPath(dir, L"文档")));
        EXPECT_TRUE(WriteFileBytes(plat::JoinPath(dir, L"notes.txt"), "plain text\r\nline 2\r\n"));
        EXPECT_TRUE(WriteFileBytes(plat::JoinPath(dir, L"文档/报告 2024.doc"),
                                   std::string(3000, 'r') + "end"));
        EXPECT_TRUE(WriteFileBytes(plat::JoinPath(dir, L"image.bin"), Bin()));
        // Hidden and system marks must survive the round trip.
        const std::wstring notes = plat::JoinPath(dir, L"notes.txt");
        EXPECT_TRUE(plat::Fs().SetAttributes(notes, plat::kAttrHidden | plat::kAttrSystem));
        const std::wstring docs = plat::JoinPath(dir, L"文档");
        EXPECT_TRUE(
            plat::Fs().SetAttributes(docs, plat::Fs().GetAttributes(docs) | plat::kAttrHidden));
        // The folder's own files under the names of our decorations.
        const std::wstring ini = plat::JoinPath(dir, L"desktop.ini");
        EXPECT_TRUE(WriteFileBytes(ini, "[.ShellClassInfo]\r\nIconResource=my.ico,0\r\n"));
        EXPECT_TRUE(plat::Fs().SetAttributes(ini, plat::kAttrHidden | plat::kAttrSystem));
        EXPECT_TRUE(WriteFileBytes(plat::JoinPath(dir, L"readme.txt"), "my own readme"));
        return dir;
    }

    Result Encrypt(const std::wstring& dir, const std::string& strength,
                   const std::string& password = "secret") {
        return Run(
            {"encrypt", N(dir), "--strength", strength, "--exe", N(exe_), "--password-stdin"},
            password + "\n");
    }

    TempFolder tmp_;
    std::wstring exe_;
};

class CliStrengthTest : public CliTest, public ::testing::WithParamInterface<const char*> {};

// The main job for each strength: protect, look, verify, copy one file out,
// take one out and put it back, restore everything byte for byte.
TEST_P(CliStrengthTest, EveryCommandsMainPath) {
    const std::string strength = GetParam();
    const std::wstring dir = MakeFolder(L"我的 文件夹");
    const Tree before = Snapshot(dir);

    Result r = Encrypt(dir, strength);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ReadFileBytes(plat::JoinPath(dir, L"ulxjm.exe")), "MZ fake windows program");
    EXPECT_FALSE(plat::Fs().Exists(plat::JoinPath(dir, L"notes.txt")));
    EXPECT_EQ(plat::Fs().GetAttributes(dir) & plat::kAttrSystem, plat::kAttrSystem);

    r = Run({"status", N(dir)});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("已加密"), std::string::npos);
    const char* kind = strength == "normal"   ? "普通强度"
                       : strength == "higher" ? "较高强度"
                                              : "最高强度";
    EXPECT_NE(r.out.find(kind), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(strength == "normal" ? "强度加密的文件: 0" : "强度加密的文件: 5"),
              std::string::npos)
        << r.out;

    r = Run({"list", N(dir), "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("\"name\": \"notes.txt\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(strength == "normal" ? "\"flag\": \"\"" : "\"flag\": \"elxjm\""),
              std::string::npos);
    r = Run({"list", N(dir), "文档"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("报告 2024.doc"), std::string::npos) << r.out;

    r = Run({"verify", N(dir), "--password-stdin"}, "secret\n");
    EXPECT_EQ(r.code, 0) << r.out << r.err;

    const std::wstring out = tmp_ / L"out";
    r = Run({"extract", N(dir), "文档/报告 2024.doc", "--to", N(out), "--password-stdin"},
            "secret");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ReadFileBytes(plat::JoinPath(out, L"报告 2024.doc")), std::string(3000, 'r') + "end");

    const std::wstring taken = tmp_ / L"taken";
    r = Run({"take", N(dir), "image.bin", "--to", N(taken), "--password-stdin"}, "secret\n");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ReadFileBytes(plat::JoinPath(taken, L"image.bin")), Bin());
    r = Run({"list", N(dir)});
    EXPECT_EQ(r.out.find("image.bin"), std::string::npos) << r.out;

    r = Run({"add", N(dir), N(plat::JoinPath(taken, L"image.bin")), "--password-stdin"},
            "secret\n");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_FALSE(plat::Fs().Exists(plat::JoinPath(taken, L"image.bin")));

    r = Run({"decrypt", N(dir), "--password-stdin"}, "secret\n");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_FALSE(plat::Fs().Exists(plat::JoinPath(dir, L"ulxjm")));
    EXPECT_EQ(plat::Fs().GetAttributes(dir) & plat::kAttrSystem, 0u);
    EXPECT_EQ(UserFiles(dir), before);
}

INSTANTIATE_TEST_SUITE_P(Strengths, CliStrengthTest,
                         ::testing::Values("normal", "higher", "highest"));

// Refused commands: exit 2, a message naming the problem, nothing changed.
TEST_F(CliTest, RefusedCommandsChangeNothing) {
    const std::wstring plain = MakeFolder(L"plain");
    const std::wstring normal = MakeFolder(L"normal");
    const std::wstring highest = MakeFolder(L"highest");
    ASSERT_EQ(Encrypt(normal, "normal").code, 0);
    ASSERT_EQ(Encrypt(highest, "highest").code, 0);
    ASSERT_TRUE(plat::Fs().CreateDir(tmp_ / L"empty"));
    // Only names an encryption never moves: nothing to protect.
    const std::wstring systemOnly = tmp_ / L"system only";
    for (const wchar_t* d : {L"", L"/System Volume Information", L"/$RECYCLE.BIN"})
        ASSERT_TRUE(plat::Fs().CreateDir(systemOnly + d));
    ASSERT_TRUE(WriteFileBytes(systemOnly + L"/ulxjm.exe", "MZ old copy"));
    const std::wstring hidden = MakeFolder(L"hidden");
    ASSERT_TRUE(plat::Fs().SetAttributes(hidden, plat::kAttrDirectory | plat::kAttrHidden));
    const std::string missing = N(tmp_ / L"no such folder");
    const std::string file = N(plain + L"/notes.txt");
    const std::string out = N(tmp_ / L"out");

    const struct {
        std::vector<std::string> args;
        std::string input;
        const char* message;
    } kCases[] = {
        {{"encrypt", missing, "--password-stdin"}, "pw\n", "找不到文件夹"},
        {{"status", missing}, "", "找不到文件夹"},
        {{"decrypt", missing, "--password-stdin"}, "pw\n", "找不到文件夹"},
        {{"encrypt", file, "--password-stdin"}, "pw\n", "是一个文件，不是文件夹"},
        {{"list", file}, "", "是一个文件，不是文件夹"},
        {{"encrypt", N(normal), "--password-stdin"},
         "pw\n",
         "该文件夹已经是加密的，不能再次加密。"},
        {{"encrypt", N(tmp_ / L"empty"), "--password-stdin"},
         "pw\n",
         "这是一个空文件夹，不支持对其进行加密。"},
        {{"encrypt", N(systemOnly), "--password-stdin"},
         "pw\n",
         "这是一个空文件夹，不支持对其进行加密。"},
        {{"encrypt", N(plain), "--password-stdin"}, "\n", "密码不能为空"},
        // Stored as "pw?", it would be refused afterwards and "pw?" accepted.
        {{"encrypt", N(plain), "--password-stdin"}, "pw\xF0\x9F\x98\x80\n", "本机不支持的字符"},
        {{"encrypt", N(plain), "--strength", "highest", "--password-stdin"},
         std::string(99, 'p') + "\n",
         "密码太长"},
        {{"encrypt", "/usr/bin", "--password-stdin"}, "pw\n", "属于系统文件夹，不能加密。"},
        {{"encrypt", "/", "--password-stdin"}, "pw\n", "属于系统文件夹，不能加密。"},
        {{"encrypt", "/usr/share", "--password-stdin"}, "pw\n", "加密对象可能包含系统文件"},
        {{"encrypt", N(hidden), "--password-stdin"},
         "pw\n",
         "检测到您要加密的这个文件夹的属性为隐藏"},
        {{"encrypt", N(plain), "--password-stdin"}, "", "标准输入中没有密码"},
        {{"encrypt", N(plain), "--strength", "strongest", "--password-stdin"}, "pw\n", "strength"},
        {{"encrypt", N(plain)}, "", "没有可用的终端"},
        {{"list", N(plain)}, "", "没有加密"},
        {{"list", N(normal), "--sort", "colour"}, "", "不能按"},
        {{"list", N(normal), "nothing here"}, "", "存储中没有文件夹"},
        {{"decrypt", N(normal), "--password-stdin"}, "wrong\n", "输入的密码不正确"},
        {{"decrypt", N(highest), "--password-stdin"}, "wrong\n", "密码不正确，本次解密失败。"},
        {{"verify", N(highest), "--password-stdin"}, "wrong\n", "密码不正确，本次解密失败。"},
        {{"extract", N(highest), "notes.txt", "--to", out, "--password-stdin"},
         "wrong\n",
         "密码不正确"},
        {{"take", N(normal), "notes.txt", "--to", out, "--password-stdin"},
         "wrong\n",
         "密码不正确"},
        {{"extract", N(highest), "missing.txt", "--to", out, "--password-stdin"},
         "secret\n",
         "存储中没有“missing.txt”"},
        {{"extract", N(highest), "../plain", "--to", out, "--password-stdin"},
         "secret\n",
         "存储中没有"},
        {{"add", N(normal), file, "--password-stdin"}, "wrong\n", "密码不正确"},
        {{"add", N(highest), N(highest), "--password-stdin"}, "secret\n", "不能移入"},
        {{"extract", N(normal), "notes.txt"}, "", "--to"},
        {{"frobnicate"}, "", "--help"},
    };
    const Tree before = Snapshot(tmp_.path());
    for (const auto& c : kCases) {
        std::string line;
        for (const auto& a : c.args) line += a + " ";
        Result r = Run(c.args, c.input);
        EXPECT_EQ(r.code, 2) << line << "\n" << r.out << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << line << "\n" << r.err;
        Tree now = Snapshot(tmp_.path());
        for (const wchar_t* scratch : {L"stdin", L"stdout", L"stderr"}) now.erase(scratch);
        Tree was = before;
        for (const wchar_t* scratch : {L"stdin", L"stdout", L"stderr"}) was.erase(scratch);
        EXPECT_EQ(now, was) << line;
    }
}

// The longest password a file trailer holds still protects and opens.
TEST_F(CliTest, TheLongestStrengthPasswordRoundTrips) {
    const std::wstring dir = MakeFolder(L"long");
    const Tree before = Snapshot(dir);
    const std::string password(98, 'p');
    Result r = Encrypt(dir, "highest", password);
    ASSERT_EQ(r.code, 0) << r.err;
    r = Run({"decrypt", N(dir), "--password-stdin"}, password + "\n");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(UserFiles(dir), before);
}

// The system's error text ends its own sentence.
TEST_F(CliTest, AProgramCopyThatFailsSaysWhyOnce) {
    const std::wstring dir = MakeFolder(L"c");
    ASSERT_TRUE(plat::Fs().CreateDir(plat::JoinPath(dir, L"ulxjm.exe")));
    Result r = Encrypt(dir, "normal");
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_NE(r.err.find("请手动复制。"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("。。"), std::string::npos) << r.err;
}

TEST_F(CliTest, HiddenFolderIsUnhiddenWhenTheQuestionIsAnswered) {
    const std::wstring dir = MakeFolder(L"h");
    ASSERT_TRUE(plat::Fs().SetAttributes(dir, plat::kAttrDirectory | plat::kAttrHidden));
    Result r = Run({"encrypt", N(dir), "--yes", "--exe", N(exe_), "--password-stdin"}, "pw\n");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(plat::Fs().GetAttributes(dir) & (plat::kAttrHidden | plat::kAttrSystem),
              plat::kAttrSystem);
    EXPECT_TRUE(plat::Fs().IsDirectory(plat::JoinPath(dir, L"ulxjm/ffffff")));
}

// Files rewritten whole get their read-only mode back, and marks Samba
// wrote in its own binary form.
TEST_F(CliTest, ReadOnlyAndSambaMarksComeBackOnFilesRewrittenWhole) {
    const std::wstring dir = MakeFolder(L"m");
    const std::string ro = N(plat::JoinPath(dir, L"只读.txt"));
    const std::string samba = N(plat::JoinPath(dir, L"samba.txt"));
    ASSERT_TRUE(WriteFileBytes(plat::FromUtf8(ro), "read only"));
    ASSERT_TRUE(WriteFileBytes(plat::FromUtf8(samba), "marked by samba"));
    ASSERT_EQ(chmod(ro.c_str(), 0444), 0);
    // Version 5, HIDDEN|ARCHIVE, with a creation time.
    const char v5[] = {0,    0, 5, 0, 5, 0, 0, 0, 0x11, 0, 0, 0,
                       0x22, 0, 0, 0, 1, 2, 3, 4, 5,    6, 7, 1};
    const bool xattrs = setxattr(samba.c_str(), "user.DOSATTRIB", v5, sizeof v5, 0) == 0;
    const Tree before = Snapshot(dir);
    ASSERT_EQ(Encrypt(dir, "highest").code, 0);
    Result r = Run({"decrypt", N(dir), "--password-stdin"}, "secret\n");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(UserFiles(dir), before);
    struct stat st {};
    ASSERT_EQ(stat(ro.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    if (xattrs) {
        EXPECT_TRUE(plat::Fs().GetAttributes(plat::FromUtf8(samba)) & plat::kAttrHidden);
    }
}

TEST_F(CliTest, PasswordFromStandardInputWithOrWithoutLineEnd) {
    for (const char* input : {"secret", "secret\n", "secret\r\n"}) {
        const std::wstring dir = MakeFolder(L"p");
        const Tree before = Snapshot(dir);
        ASSERT_EQ(Encrypt(dir, "highest", "secret").code, 0);
        Result r = Run({"decrypt", N(dir), "--password-stdin"}, input);
        EXPECT_EQ(r.code, 0) << input << r.err;
        EXPECT_EQ(UserFiles(dir), before) << input;
        ASSERT_TRUE(testsupport::RemoveTree(dir));
    }
}

TEST_F(CliTest, WithoutAWindowsProgramTheFolderIsProtectedAndTheUserTold) {
    // A copy of the program in a folder with no build tree around it.
    const std::wstring lone = tmp_ / L"ulxjm";
    ASSERT_TRUE(plat::Fs().Copy(plat::FromUtf8(ULXJM_CLI_PATH), lone, false));
    const std::wstring dir = MakeFolder(L"d");
    Result r = Run({"encrypt", N(dir), "--password-stdin"}, "pw\n", N(lone));
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("没有找到 Windows 版 ulxjm.exe"), std::string::npos) << r.err;
    EXPECT_FALSE(plat::Fs().Exists(plat::JoinPath(dir, L"ulxjm.exe")));
    EXPECT_TRUE(plat::Fs().IsDirectory(plat::JoinPath(dir, L"ulxjm/ffffff")));
}

// Damaged stores: verify names the files that would fail and writes
// nothing; decryption keeps in the store what it cannot decrypt and ends with
// exit code 1 and the pass log.
TEST_F(CliTest, FilesThatWouldFailAreReportedAndKept) {
    const std::wstring dir = MakeFolder(L"d");
    const std::wstring other = MakeFolder(L"other");
    ASSERT_EQ(Encrypt(dir, "highest").code, 0);
    ASSERT_EQ(Encrypt(other, "highest", "another").code, 0);
    // A file of another store (another password) and a file whose trailer lost its end.
    const std::wstring data = plat::JoinPath(dir, L"ulxjm/ffffff");
    ASSERT_TRUE(plat::Fs().Move(plat::JoinPath(other, L"ulxjm/ffffff/notes.txt.zpwenc0"),
                                plat::JoinPath(data, L"foreign.txt.zpwenc0")));
    const std::wstring cut = plat::JoinPath(data, L"image.bin.zpwenc0");
    std::string bytes = ReadFileBytes(cut);
    ASSERT_GT(bytes.size(), 100u);
    bytes.resize(bytes.size() - 5);
    ASSERT_TRUE(WriteFileBytes(cut, bytes));
    const Tree damaged = Snapshot(dir);

    Result r = Run({"verify", N(dir), "--password-stdin"}, "secret\n");
    EXPECT_EQ(r.code, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("foreign.txt.zpwenc0 强度解密失败,强度解密密码错误"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("image.bin.zpwenc0 没有加密信息"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("2 个会失败"), std::string::npos) << r.out;
    EXPECT_EQ(Snapshot(dir), damaged);

    r = Run({"decrypt", N(dir), "--password-stdin"}, "secret\n");
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_NE(r.err.find("foreign.txt 强度解密失败"), std::string::npos) << r.err;
    EXPECT_TRUE(plat::Fs().Exists(plat::JoinPath(data, L"foreign.txt.zpwenc0")));
    EXPECT_TRUE(plat::Fs().Exists(plat::JoinPath(dir, L"ulxjm/paramff/imimff.ulxjm.zpwenc0")));
    // A file without a trailer is not in the encrypted format: it comes back as it is.
    EXPECT_EQ(ReadFileBytes(plat::JoinPath(dir, L"image.bin")), bytes);
    EXPECT_EQ(ReadFileBytes(plat::JoinPath(dir, L"notes.txt")), "plain text\r\nline 2\r\n");
}

// Another user may create the shared temporary folder's log folder first,
// leading to a folder of ours: the log then goes elsewhere, and the file it
// leads to is neither written nor printed.
TEST_F(CliTest, APlantedLogFolderIsNeitherWrittenNorShown) {
    ASSERT_TRUE(plat::Fs().CreateDir(tmp_ / L"victim"));
    const std::wstring victimLog = tmp_ / L"victim/easylog.txt";
    ASSERT_TRUE(WriteFileBytes(victimLog, "victim's own line\r\n"));
    const std::string planted = N(tmp_ / L"tmp/ulxjm-") + std::to_string(geteuid());
    ASSERT_EQ(symlink(N(tmp_ / L"victim").c_str(), planted.c_str()), 0);

    const std::wstring dir = MakeFolder(L"d");
    const std::wstring other = MakeFolder(L"other");
    ASSERT_EQ(Encrypt(dir, "highest").code, 0);
    ASSERT_EQ(Encrypt(other, "highest", "another").code, 0);
    ASSERT_TRUE(plat::Fs().Move(plat::JoinPath(other, L"ulxjm/ffffff/notes.txt.zpwenc0"),
                                plat::JoinPath(dir, L"ulxjm/ffffff/foreign.txt.zpwenc0")));
    Result r = Run({"decrypt", N(dir), "--password-stdin"}, "secret\n");
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_NE(r.err.find("foreign.txt 强度解密失败"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("victim's own line"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFileBytes(victimLog), "victim's own line\r\n");
    EXPECT_NE(ReadFileBytes(tmp_ / L"cache/ulxjm/easylog.txt").find("foreign.txt"),
              std::string::npos);
}

TEST_F(CliTest, AProgramNamedThroughALinkIsCopiedFromWhereItLeads) {
    const std::wstring link = tmp_ / L"installed-ulxjm.exe";
    ASSERT_EQ(symlink(N(exe_).c_str(), N(link).c_str()), 0);
    const std::wstring dir = MakeFolder(L"d");
    Result r = Run({"encrypt", N(dir), "--exe", N(link), "--password-stdin"}, "pw\n");
    ASSERT_EQ(r.code, 0) << r.err;
    const std::wstring placed = plat::JoinPath(dir, L"ulxjm.exe");
    EXPECT_EQ(ReadFileBytes(placed), "MZ fake windows program");
    EXPECT_FALSE(plat::Fs().GetAttributes(placed) & plat::kAttrReparsePoint)
        << "a copy, not a link";
}

TEST_F(CliTest, DamagedRecordsRefuseThePasswordAndChangeNothing) {
    const struct {
        const char* strength;
        const wchar_t* record;
        const char* content;
    } kCases[] = {
        // A sealed record longer than 20 bytes is refused whatever is typed.
        {"highest", L"imimff.ulxjm.zpwenc0", "this is not a sealed password record"},
        // A kind line nobody wrote makes the store a strength store without
        // a sealed record: its plain record still decides, so a wrong
        // password is refused (and the right one still opens it).
        {"normal", L"typeff.ulxjm", "fftype=7"},
    };
    for (const auto& c : kCases) {
        const std::wstring dir = MakeFolder(L"r");
        ASSERT_EQ(Encrypt(dir, c.strength).code, 0);
        ASSERT_TRUE(WriteFileBytes(plat::JoinPath(dir, std::wstring(L"ulxjm/paramff/") + c.record),
                                   c.content));
        const Tree before = Snapshot(dir);
        for (const char* cmd : {"decrypt", "verify"}) {
            Result r = Run({cmd, N(dir), "--password-stdin"}, "not the secret\n");
            EXPECT_EQ(r.code, 2) << c.strength << " " << cmd << r.err;
            EXPECT_NE(r.err.find("密码不正确"), std::string::npos) << r.err;
        }
        Result r = Run({"status", N(dir)});
        EXPECT_EQ(r.code, 0);
        EXPECT_NE(r.out.find("已加密"), std::string::npos);
        EXPECT_EQ(Snapshot(dir), before) << c.strength;
        ASSERT_TRUE(testsupport::RemoveTree(dir));
    }
}

// A crafted store whose records are pipes or links to a device: every
// command finishes, and the right password still gives every file back.
TEST_F(CliTest, RecordsThatArePipesOrDeviceLinksNeverHang) {
    using testsupport::Hostile;
    const struct {
        const wchar_t* record;
        Hostile kind;
    } kCases[] = {
        {L"imimff.ulxjm.zpwenc0", Hostile::Pipe},
        {L"typeff.ulxjm", Hostile::LinkToDevZero},
        {L"liamff.ulxjm", Hostile::Pipe},
    };
    for (const auto& c : kCases) {
        const std::string what = N(c.record) + " as " + testsupport::HostileName(c.kind);
        const std::wstring dir = MakeFolder(L"h");
        const Tree before = Snapshot(dir);
        ASSERT_EQ(Encrypt(dir, "highest").code, 0) << what;
        const std::wstring record = plat::JoinPath(dir, std::wstring(L"ulxjm/paramff/") + c.record);
        (void)plat::Fs().DeleteFile(record);
        ASSERT_TRUE(testsupport::PlaceHostile(c.kind, record, L"", 0)) << what;
        Result r = Run({"status", N(dir)});
        EXPECT_EQ(r.code, 0) << what << r.err;
        r = Run({"verify", N(dir), "--password-stdin"}, "secret\n");
        EXPECT_EQ(r.code, 0) << what << r.out << r.err;
        r = Run({"decrypt", N(dir), "--password-stdin"}, "secret\n");
        EXPECT_EQ(r.code, 0) << what << r.err;
        EXPECT_EQ(UserFiles(dir), before) << what;
        ASSERT_TRUE(testsupport::RemoveTree(dir));
    }
}

TEST_F(CliTest, AddIntoAStoreFolderAndListWorkingCopies) {
    const std::wstring dir = MakeFolder(L"a");
    ASSERT_EQ(Encrypt(dir, "highest").code, 0);
    const std::wstring news = tmp_ / L"new.txt";
    ASSERT_TRUE(WriteFileBytes(news, "fresh"));
    Result r = Run({"add", N(dir), N(news), "--into", "文档", "--password-stdin"}, "secret\n");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(plat::Fs().IsFile(plat::JoinPath(dir, L"ulxjm/ffffff/文档/new.txt.zpwenc0")));

    // What the browse window left in its working area shows as decrypted.
    const std::wstring work = plat::JoinPath(dir, L"ulxjm/ffffff/working/NotDelete/文档");
    ASSERT_TRUE(plat::Fs().CreateDir(plat::JoinPath(dir, L"ulxjm/ffffff/working")));
    ASSERT_TRUE(plat::Fs().CreateDir(plat::JoinPath(dir, L"ulxjm/ffffff/working/NotDelete")));
    ASSERT_TRUE(plat::Fs().CreateDir(work));
    ASSERT_TRUE(WriteFileBytes(plat::JoinPath(work, L"opened.txt"), "x"));
    r = Run({"list", N(dir), "文档", "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("\"name\": \"new.txt\", \"type\": \"txt 文件\""), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"name\": \"opened.txt\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"state\": \"已解密\""), std::string::npos) << r.out;
    // The working area itself is not an item of the store.
    r = Run({"list", N(dir)});
    EXPECT_EQ(r.out.find("working"), std::string::npos) << r.out;

    r = Run({"extract", N(dir), "文档/new.txt", "--to", N(tmp_ / L"o"), "--password-stdin"},
            "secret\n");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ReadFileBytes(tmp_ / L"o/new.txt"), "fresh");
}

TEST_F(CliTest, SecondPasswordIsWrittenButOpensNothing) {
    const std::wstring dir = MakeFolder(L"s");
    Result r = Run({"encrypt", N(dir), "--second-password", "--exe", N(exe_), "--password-stdin"},
                   "main\nguest\n");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ReadFileBytes(plat::JoinPath(dir, L"ulxjm/paramff/imimtwo.ulxjm")), "guest");
    const Tree before = Snapshot(dir);
    r = Run({"decrypt", N(dir), "--password-stdin"}, "guest\n");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("二级密码用途"), std::string::npos) << r.err;
    EXPECT_EQ(Snapshot(dir), before);
}

}  // namespace

#endif  // _WIN32
