// Folder locks: one holder per folder, within a process and across
// processes, and a holder that is killed leaves the folder free.
//
// The other process is this test program again, running only the hidden
// FolderLockChild test: it tries the lock, says "ULX-LOCKED" or "ULX-BUSY"
// on its output and holds the lock until its input closes.
#include "platform/lock.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/env.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "support/test_files.h"

#ifdef _WIN32
#include "platform/win32/win.h"
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

constexpr char kFolderVar[] = "ULX_LOCK_FOLDER";

// The other process, with a pipe to its input and one from its output.
class Child {
  public:
    explicit Child(const std::wstring& folder);
    ~Child() { Finish(); }
    // "ULX-LOCKED" or "ULX-BUSY"; empty when it ended without saying.
    std::string Answer();
    // Closes its input so it lets go and ends; waits for it.
    void Finish();
    // Ends it at once, without letting it release anything.
    void Kill();

  private:
    bool ReadLine(std::string* line);
#ifdef _WIN32
    HANDLE process_ = nullptr, in_ = nullptr, out_ = nullptr;
#else
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1;
#endif
};

std::string Child::Answer() {
    std::string line;
    while (ReadLine(&line))
        if (line == "ULX-LOCKED" || line == "ULX-BUSY") return line;
    return std::string();
}

#ifdef _WIN32

Child::Child(const std::wstring& folder) {
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    HANDLE childIn = nullptr, childOut = nullptr;
    if (!CreatePipe(&childIn, &in_, &sa, 0) || !CreatePipe(&out_, &childOut, &sa, 0)) return;
    SetHandleInformation(in_, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(out_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = childIn;
    si.hStdOutput = childOut;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::wstring cmd = L"\"" + plat::ModulePath() +
                       L"\" --gtest_also_run_disabled_tests "
                       L"--gtest_filter=FolderLockChild.DISABLED_Hold";
    SetEnvironmentVariableW(L"ULX_LOCK_FOLDER", folder.c_str());
    PROCESS_INFORMATION pi{};
    if (CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                       &pi)) {
        process_ = pi.hProcess;
        CloseHandle(pi.hThread);
    }
    SetEnvironmentVariableW(L"ULX_LOCK_FOLDER", nullptr);
    CloseHandle(childIn);
    CloseHandle(childOut);
}

bool Child::ReadLine(std::string* line) {
    line->clear();
    char c;
    DWORD n = 0;
    while (out_ && ReadFile(out_, &c, 1, &n, nullptr) && n == 1) {
        if (c == '\n') return true;
        if (c != '\r') *line += c;
    }
    return !line->empty();
}

void Child::Finish() {
    if (in_) CloseHandle(in_), in_ = nullptr;
    if (process_) {
        WaitForSingleObject(process_, 60000);
        CloseHandle(process_), process_ = nullptr;
    }
    if (out_) CloseHandle(out_), out_ = nullptr;
}

void Child::Kill() {
    if (process_) {
        TerminateProcess(process_, 9);
        WaitForSingleObject(process_, 60000);
    }
    Finish();
}

#else

Child::Child(const std::wstring& folder) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0) return;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]), close(in[1]);
        return;
    }
    const std::string self = plat::ToUtf8(plat::ModulePath());
    const std::string env = std::string(kFolderVar) + "=" + plat::ToUtf8(folder);
    const char* argv[] = {self.c_str(), "--gtest_also_run_disabled_tests",
                          "--gtest_filter=FolderLockChild.DISABLED_Hold", nullptr};
    const char* envp[] = {env.c_str(), nullptr};
    pid_ = fork();
    if (pid_ == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        execve(self.c_str(), const_cast<char**>(argv), const_cast<char**>(envp));
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    in_ = in[1];
    out_ = out[0];
}

bool Child::ReadLine(std::string* line) {
    line->clear();
    char c;
    while (out_ >= 0 && read(out_, &c, 1) == 1) {
        if (c == '\n') return true;
        *line += c;
    }
    return !line->empty();
}

void Child::Finish() {
    if (in_ >= 0) close(in_), in_ = -1;
    if (pid_ > 0) {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    if (out_ >= 0) close(out_), out_ = -1;
}

void Child::Kill() {
    if (pid_ > 0) kill(pid_, SIGKILL);
    Finish();
}

#endif

// Run by Child only.
TEST(FolderLockChild, DISABLED_Hold) {
#ifdef _WIN32
    const wchar_t* folder = _wgetenv(L"ULX_LOCK_FOLDER");
    ASSERT_NE(folder, nullptr);
    auto lock = plat::TryLockFolder(folder, nullptr);
#else
    const char* folder = std::getenv(kFolderVar);
    ASSERT_NE(folder, nullptr);
    auto lock = plat::TryLockFolder(plat::FromUtf8(folder), nullptr);
#endif
    std::printf(lock ? "ULX-LOCKED\n" : "ULX-BUSY\n");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
}

class FolderLockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = plat::WithoutSep(tmp_ / L"受保护 文件夹");
        other_ = plat::WithoutSep(tmp_ / L"other");
        ASSERT_TRUE(plat::Fs().CreateDir(folder_));
        ASSERT_TRUE(plat::Fs().CreateDir(other_));
    }
    testsupport::TempFolder tmp_;
    std::wstring folder_, other_;
};

TEST_F(FolderLockTest, OneHolderPerFolderInOneProcess) {
    uint32_t error = 0;
    auto first = plat::TryLockFolder(folder_, &error);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(error, plat::kErrSuccess);

    // The same folder however spelled, from this thread or another.
    EXPECT_EQ(plat::TryLockFolder(folder_, &error), nullptr);
    EXPECT_EQ(error, plat::kErrSharingViolation);
    EXPECT_EQ(plat::TryLockFolder(plat::WithSep(folder_), &error), nullptr);
#ifdef _WIN32
    std::wstring upper = folder_;
    CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
    EXPECT_EQ(plat::TryLockFolder(upper, &error), nullptr) << "case does not matter on Windows";
#endif
    bool otherThreadGotIt = true;
    std::thread([&] {
        otherThreadGotIt = plat::TryLockFolder(folder_, nullptr) != nullptr;
    }).join();
    EXPECT_FALSE(otherThreadGotIt);

    EXPECT_NE(plat::TryLockFolder(other_, nullptr), nullptr) << "other folders are free";

    // Released from another thread than the one that took it.
    std::thread([&] { first.reset(); }).join();
    EXPECT_NE(plat::TryLockFolder(folder_, &error), nullptr);
}

TEST_F(FolderLockTest, AMissingFolderOrAFileIsRefusedWithItsReason) {
    uint32_t error = 0;
    EXPECT_EQ(plat::TryLockFolder(tmp_ / L"missing", &error), nullptr);
    EXPECT_TRUE(error == plat::kErrPathNotFound || error == plat::kErrFileNotFound) << error;
    ASSERT_TRUE(testsupport::WriteFileBytes(tmp_ / L"file", "x"));
    EXPECT_EQ(plat::TryLockFolder(tmp_ / L"file", &error), nullptr);
    EXPECT_EQ(error, plat::kErrDirectory);
    // No trace of the lock in the folder.
    std::vector<plat::DirEntry> entries;
    {
        auto lock = plat::TryLockFolder(folder_, nullptr);
        ASSERT_NE(lock, nullptr);
        ASSERT_TRUE(plat::Fs().ListDir(folder_, &entries));
        EXPECT_TRUE(entries.empty());
    }
}

TEST_F(FolderLockTest, OneHolderAcrossProcessesAndAKilledHolderLetsGo) {
    {
        Child holder(folder_);
        ASSERT_EQ(holder.Answer(), "ULX-LOCKED");
        EXPECT_EQ(plat::TryLockFolder(folder_, nullptr), nullptr) << "held by the other process";
        EXPECT_NE(plat::TryLockFolder(other_, nullptr), nullptr);
        holder.Finish();
        EXPECT_NE(plat::TryLockFolder(folder_, nullptr), nullptr) << "released when it ended";
    }
    {
        auto mine = plat::TryLockFolder(folder_, nullptr);
        ASSERT_NE(mine, nullptr);
        Child second(folder_);
        EXPECT_EQ(second.Answer(), "ULX-BUSY") << "held by this process";
    }
    Child killed(folder_);
    ASSERT_EQ(killed.Answer(), "ULX-LOCKED");
    killed.Kill();
    EXPECT_NE(plat::TryLockFolder(folder_, nullptr), nullptr) << "a killed holder leaves it free";
}

}  // namespace
