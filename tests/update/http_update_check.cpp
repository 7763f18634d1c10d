// The self-update through Windows' own web client (under Wine), against the
// local web server http_update.sh starts: a real program file installed, a
// missing file asked for three times, files that fail their checks, hostile
// names and a base address that must be refused.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/env.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/win32/win.h"
#include "support/test_files.h"
#include "update/auto_upgrade.h"
#include "update/update_rules.h"

namespace {

using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

std::wstring Env(const wchar_t* name) {
    return plat::EnvironmentValue(name);
}

// Records what was asked and passes loopback addresses to the system's
// client; anything else fails at once (the test must not wait on the web).
class LoopbackOnly final : public plat::Downloader {
  public:
    void RemoveCacheEntry(const std::wstring& url) override {
        plat::OsDownloader()->RemoveCacheEntry(url);
    }
    bool DownloadToFile(const std::wstring& url, const std::wstring& path) override {
        asked.push_back(url);
        if (url.rfind(L"http://127.0.0.1:", 0) != 0) return false;
        return plat::OsDownloader()->DownloadToFile(url, path);
    }
    std::vector<std::wstring> asked;
};

class HttpUpdateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (Env(L"ULX_HTTP_PORT").empty())
            GTEST_SKIP() << "needs the web server of tests/update/http_update.sh";
        ASSERT_NE(plat::OsDownloader(), nullptr);
        ASSERT_TRUE(testsupport::ReadFileBytes(Env(L"ULX_HTTP_PROGRAM"), &program_));
        ASSERT_TRUE(plat::Fs().CreateDir(prog_) && plat::Fs().CreateDir(tmp_));
        ASSERT_TRUE(plat::Fs().CreateDir(www_));
        ASSERT_TRUE(WriteFileBytes(exe_, kRunning));
    }

    // Serves `bytes` as `rel` ("a/b.txt") below this test's own folder.
    void Serve(const std::string& rel, const std::string& bytes) {
        std::wstring path = www_;
        size_t start = 0;
        const std::wstring wrel = plat::FromUtf8(rel);
        for (size_t slash; (slash = wrel.find(L'/', start)) != std::wstring::npos;
             start = slash + 1) {
            path += L"\\" + wrel.substr(start, slash - start);
            (void)plat::Fs().CreateDir(path);
        }
        ASSERT_TRUE(WriteFileBytes(path + L"\\" + wrel.substr(start), bytes));
    }
    void Offer(const std::vector<std::string>& urls, const std::vector<std::string>& lengths) {
        std::string ini =
            "[VERSION]\r\nVER=3070\r\nCOUNTS=" + std::to_string(urls.size()) + "\r\n[SOURCE]\r\n";
        for (size_t i = 0; i < urls.size(); ++i)
            ini += "URL" + std::to_string(i) + "=" + urls[i] + "\r\n";
        ini += "[LENGTH]\r\n";
        for (size_t i = 0; i < lengths.size(); ++i)
            ini += "LEN" + std::to_string(i) + "=" + lengths[i] + "\r\n";
        Serve("rlxjm/ver/3069.ini", ini);
    }
    std::string Url(const std::string& file) const {
        return plat::ToUtf8(base_) + "/files/" + file;
    }

    int Run(const std::wstring& overrideText) {
        SetEnvironmentVariableW(update::kBaseVariable, overrideText.c_str());
        const std::wstring base = update::AcceptedBase(Env(update::kBaseVariable));
        SetEnvironmentVariableW(update::kBaseVariable, nullptr);
        update::CAutoUpgrade upgrade(web_, exe_, tmp_, base);
        const int offered = upgrade.CheckVersion();
        return offered > 3069 ? upgrade.DownloadAndReplace() : -1;
    }
    int Run() { return Run(base_); }

    // Requests the server saw for this test's folder.
    std::vector<std::string> Requests() const {
        std::ifstream in(plat::ToUtf8(Env(L"ULX_HTTP_LOG")));
        const std::string mine = "/" + plat::ToUtf8(name_) + "/";
        std::vector<std::string> out;
        for (std::string line; std::getline(in, line);)
            if (line.find(mine) != std::string::npos) out.push_back(line);
        return out;
    }
    int Gets(const std::string& url) const {
        const std::string get = " GET " + url.substr(url.find('/', url.find("//") + 2)) + " ";
        int n = 0;
        for (const std::string& r : Requests()) n += r.find(get) != std::string::npos;
        return n;
    }
    void ExpectProgramUntouched() {
        EXPECT_EQ(ReadFileBytes(exe_), kRunning);
        std::vector<plat::DirEntry> entries;
        ASSERT_TRUE(plat::Fs().ListDir(prog_, &entries));
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].name, L"ulxjm.exe");
    }

    const std::string kRunning = "the running program";
    // One folder of the server per test, so requests tell the tests apart.
    const std::wstring name_ =
        plat::FromUtf8(::testing::UnitTest::GetInstance()->current_test_info()->name());
    const std::wstring www_ = Env(L"ULX_HTTP_ROOT") + L"\\" + name_;
    const std::wstring base_ = L"http://127.0.0.1:" + Env(L"ULX_HTTP_PORT") + L"/" + name_;
    testsupport::TempFolder root_;
    const std::wstring prog_ = root_ / L"prog";
    const std::wstring tmp_ = root_ / L"tmp";
    const std::wstring exe_ = prog_ + L"\\ulxjm.exe";
    std::string program_;
    LoopbackOnly web_;
};

std::wstring FileVersion(const std::wstring& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return L"<none>";
    std::vector<char> block(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return L"<unreadable>";
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &len) || !fixed)
        return L"<no fixed part>";
    wchar_t* text = nullptr;
    if (!VerQueryValueW(block.data(), L"\\StringFileInfo\\080404b0\\FileVersion",
                        reinterpret_cast<void**>(&text), &len) ||
        !text)
        return L"<no text>";
    return std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." +
           std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." +
           std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L"." +
           std::to_wstring(LOWORD(fixed->dwFileVersionLS)) + L" " + text;
}

TEST_F(HttpUpdateTest, RealProgramIsInstalledWithItsFiles) {
    Serve("files/ulxjm.exe", program_);
    Serve("files/more.txt", "more");
    Offer({Url("ulxjm.exe"), Url("more.txt")}, {std::to_string(program_.size()), "4"});
    EXPECT_EQ(Run(), 1);
    EXPECT_TRUE(ReadFileBytes(exe_) == program_) << "the served program was not installed";
    EXPECT_EQ(ReadFileBytes(exe_ + L".old"), kRunning);
    EXPECT_EQ(ReadFileBytes(prog_ + L"\\more.txt"), "more");
    EXPECT_EQ(Gets(Url("ulxjm.exe")), 1);
    // The installed program tells its version as Explorer would read it.
    EXPECT_EQ(FileVersion(exe_), L"3.0.6.9 3069");
    std::vector<plat::DirEntry> left;
    ASSERT_TRUE(plat::Fs().ListDir(tmp_, &left));
    EXPECT_TRUE(left.empty()) << "the description stays behind";
}

TEST_F(HttpUpdateTest, FilesFailingTheirChecksAreNeverInstalled) {
    struct Case {
        const char* what;
        std::string served;  // empty: not served, the server answers 404
        std::string length;
        int gets;
    };
    const std::string testProgram = ReadFileBytes(plat::ModulePath());  // a console program
    const Case cases[] = {
        {"missing: three attempts", "", "0", 3},
        {"shorter than listed", program_, std::to_string(program_.size() + 1), 1},
        {"not a program", std::string(300000, 'x'), "1000", 1},
        {"console program", testProgram, "0", 1},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = "p" + std::to_string(n++) + "/ulxjm.exe";
        if (!c.served.empty()) Serve("files/" + file, c.served);
        Offer({Url(file)}, {c.length});
        EXPECT_EQ(Run(), 0);
        EXPECT_EQ(Gets(Url(file)), c.gets);
        ExpectProgramUntouched();
    }
}

TEST_F(HttpUpdateTest, HostileNamesAreNeverAskedFor) {
    Serve("files/ulxjm.exe", program_);
    Serve("evil.txt", "evil");
    Offer({Url("ulxjm.exe"), Url("..\\evil.txt"), Url("%2e%2e/evil.txt"), Url("../evil.txt"),
           Url("mima.dat")},
          {"0"});
    EXPECT_EQ(Run(), 1);
    for (const std::string& r : Requests()) {
        EXPECT_EQ(r.find("evil"), std::string::npos) << r;
        EXPECT_EQ(r.find("mima"), std::string::npos) << r;
    }
    EXPECT_FALSE(plat::Fs().Exists(root_ / L"evil.txt"));
    EXPECT_FALSE(plat::Fs().Exists(prog_ + L"\\mima.dat"));
}

TEST_F(HttpUpdateTest, ReleaseBuildRefusesABaseThatIsNotLoopback) {
    Serve("files/ulxjm.exe", program_);
    Offer({Url("ulxjm.exe")}, {"0"});
    const std::wstring port = Env(L"ULX_HTTP_PORT");
    for (const std::wstring& refused :
         {std::wstring(L"http://www.ulxjm.example"), L"http://10.1.2.3:" + port + L"/" + name_,
          L"http://127.0.0.2:" + port + L"/" + name_}) {
        SCOPED_TRACE(plat::ToUtf8(refused));
        web_.asked.clear();
        EXPECT_EQ(Run(refused), -1);
        EXPECT_EQ(web_.asked,
                  std::vector<std::wstring>{L"https://www.ulxjm.example/rlxjm/ver/3069.ini"});
    }
    if (Env(L"ULX_HTTP_SECOND") == L"1") {
        // 127.0.0.2 serves too: had the updater used it, the server would know.
        EXPECT_TRUE(Requests().empty());
    }
    ExpectProgramUntouched();
}

TEST_F(HttpUpdateTest, RunningProgramIsSwapped) {
    // A copy of this test program stands for the running ulxjm.exe: Windows
    // lets a running program's file be renamed, not deleted or replaced.
    ASSERT_TRUE(CopyFileW(plat::ModulePath().c_str(), exe_.c_str(), FALSE));
    const std::string running = ReadFileBytes(exe_);
    std::wstring command = L"\"" + exe_ + L"\" --wait";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               prog_.c_str(), &si, &pi));
    Serve("files/ulxjm.exe", program_);
    Offer({Url("ulxjm.exe")}, {std::to_string(program_.size())});
    const int result = Run();
    TerminateProcess(pi.hProcess, 0);
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(ReadFileBytes(exe_) == program_);
    EXPECT_TRUE(ReadFileBytes(exe_ + L".old") == running);
}

}  // namespace

int main(int argc, char** argv) {
    // The stand-in for a running program (RunningProgramIsSwapped).
    if (argc == 2 && std::string(argv[1]) == "--wait") {
        Sleep(60000);
        return 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
