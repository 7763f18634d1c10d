// Private files (the pass log) and the folder they live in: nothing another
// local user could place under the name is written, read or followed.
#include "platform/private_file.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/env.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "support/test_files.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#endif

namespace {

using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

TEST(PrivateFile, AppendsCreatesAndReadsBackWithinTheCap) {
    testsupport::TempFolder tmp;
    const std::wstring log = tmp / L"easylog.txt";
    ASSERT_TRUE(plat::AppendToPrivateFile(log, "第一\r\n"));
    ASSERT_TRUE(plat::AppendToPrivateFile(log, "second\r\n"));
    std::string text;
    bool cut = true;
    ASSERT_TRUE(plat::ReadPrivateFile(log, 1 << 20, &text, &cut));
    EXPECT_EQ(text, "第一\r\nsecond\r\n");
    EXPECT_FALSE(cut);
    ASSERT_TRUE(plat::ReadPrivateFile(log, 4, &text, &cut));
    EXPECT_EQ(text, std::string("第一\r\n").substr(0, 4));
    EXPECT_TRUE(cut);
    EXPECT_FALSE(plat::ReadPrivateFile(tmp / L"missing", 10, &text));
    EXPECT_EQ(plat::LastError(), plat::kErrFileNotFound);
#ifndef _WIN32
    struct stat st;
    ASSERT_EQ(stat(plat::ToUtf8(log).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
#endif
}

#ifndef _WIN32

class PrivateFilePosixTest : public ::testing::Test {
  protected:
    std::string U8(const std::wstring& name) { return plat::ToUtf8(tmp_ / name); }
    testsupport::TempFolder tmp_;
};

TEST_F(PrivateFilePosixTest, RefusesWhatSomeoneElseCouldHavePlacedThere) {
    ASSERT_TRUE(WriteFileBytes(tmp_ / L"victim", "victim's"));
    const struct Case {
        const char* what;
        std::function<bool(const std::string& at)> place;
        uint32_t error;
        bool needsRoot;
    } cases[] = {
        {"a link to a file of ours",
         [&](const std::string& at) { return symlink(U8(L"victim").c_str(), at.c_str()) == 0; },
         plat::kErrCantAccessFile, false},
        {"a dangling link",
         [&](const std::string& at) { return symlink(U8(L"gone").c_str(), at.c_str()) == 0; },
         plat::kErrCantAccessFile, false},
        {"a second name of a file of ours",
         [&](const std::string& at) { return link(U8(L"victim").c_str(), at.c_str()) == 0; },
         plat::kErrAccessDenied, false},
        {"a FIFO", [](const std::string& at) { return mkfifo(at.c_str(), 0666) == 0; },
         plat::kErrAccessDenied, false},
        {"a folder", [](const std::string& at) { return mkdir(at.c_str(), 0777) == 0; },
         plat::kErrAccessDenied, false},
        {"someone else's file",
         [](const std::string& at) {
             FILE* f = fopen(at.c_str(), "w");
             if (!f) return false;
             fputs("theirs", f);
             fclose(f);
             return chown(at.c_str(), 65534, 65534) == 0 && chmod(at.c_str(), 0666) == 0;
         },
         plat::kErrAccessDenied, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needsRoot && geteuid() != 0) continue;  // only root can give a file away
        const std::wstring at = tmp_ / (L"log" + std::to_wstring(++n));
        ASSERT_TRUE(c.place(plat::ToUtf8(at)));
        EXPECT_FALSE(plat::AppendToPrivateFile(at, "line\r\n"));
        EXPECT_EQ(plat::LastError(), c.error);
        std::string text = "stale";
        EXPECT_FALSE(plat::ReadPrivateFile(at, 1 << 20, &text));
        EXPECT_EQ(plat::LastError(), c.error);
        EXPECT_TRUE(text.empty()) << text;
    }
    EXPECT_EQ(ReadFileBytes(tmp_ / L"victim"), "victim's");
    EXPECT_FALSE(plat::Fs().Exists(tmp_ / L"gone")) << "created where the link pointed";
}

// Sets the variables PrivateTempDir reads for one test, restores them after.
class ScopedEnv {
  public:
    ScopedEnv() {
        for (const char* name : kNames) {
            const char* v = std::getenv(name);
            saved_.push_back(v ? std::make_pair(true, std::string(v)) : std::make_pair(false, ""));
        }
    }
    ~ScopedEnv() {
        for (size_t i = 0; i < std::size(kNames); ++i) {
            if (saved_[i].first)
                setenv(kNames[i], saved_[i].second.c_str(), 1);
            else
                unsetenv(kNames[i]);
        }
    }
    static void Set(const char* name, const std::string& value) {
        if (value.empty())
            unsetenv(name);
        else
            setenv(name, value.c_str(), 1);
    }

  private:
    static constexpr const char* kNames[] = {"XDG_RUNTIME_DIR", "TMPDIR", "XDG_CACHE_HOME"};
    std::vector<std::pair<bool, std::string>> saved_;
};

TEST_F(PrivateFilePosixTest, TheLogFolderIsOneOnlyThisUserCanWrite) {
    ScopedEnv env;
    const std::string uid = std::to_string(geteuid());
    const struct Case {
        const char* what;
        bool runtime;  // XDG_RUNTIME_DIR set to run/
        std::function<bool(const std::string& root)> prepare;
        const char* expected;  // below the case's folder
        bool needsRoot;
    } cases[] = {
        {"the runtime folder when it is ours", true, nullptr, "run/ulxjm/", false},
        {"else a folder of ours in the temporary folder", false, nullptr, "tmp/ulxjm-", false},
        {"not a runtime folder anyone can write", true,
         [](const std::string& root) { return chmod((root + "run").c_str(), 0777) == 0; },
         "tmp/ulxjm-", false},
        {"not a link placed in the temporary folder", false,
         [&](const std::string& root) {
             return mkdir((root + "theirs").c_str(), 0700) == 0 &&
                    symlink((root + "theirs").c_str(), (root + "tmp/ulxjm-" + uid).c_str()) == 0;
         },
         "cache/ulxjm/", false},
        {"not a folder others can write into", false,
         [&](const std::string& root) {
             const std::string d = root + "tmp/ulxjm-" + uid;
             return mkdir(d.c_str(), 0700) == 0 && chmod(d.c_str(), 0777) == 0;
         },
         "cache/ulxjm/", false},
        {"not someone else's folder", false,
         [&](const std::string& root) {
             const std::string d = root + "tmp/ulxjm-" + uid;
             return mkdir(d.c_str(), 0700) == 0 && chown(d.c_str(), 65534, 65534) == 0;
         },
         "cache/ulxjm/", true},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needsRoot && geteuid() != 0) continue;
        const std::string root = U8(std::to_wstring(++n)) + "/";
        for (const char* sub : {"", "run", "tmp", "cache"}) {
            ASSERT_EQ(mkdir((root + sub).c_str(), 0700), 0) << sub;
        }
        if (c.prepare) {
            ASSERT_TRUE(c.prepare(root));
        }
        ScopedEnv::Set("XDG_RUNTIME_DIR", c.runtime ? root + "run" : "");
        ScopedEnv::Set("TMPDIR", root + "tmp");
        ScopedEnv::Set("XDG_CACHE_HOME", root + "cache");

        std::string want = root + c.expected;
        if (want.back() == '-') want += uid + "/";
        const std::wstring dir = plat::PrivateTempDir();
        EXPECT_EQ(plat::ToUtf8(dir), want);
        struct stat st;
        ASSERT_EQ(lstat(want.c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        EXPECT_TRUE(plat::AppendToPrivateFile(dir + L"easylog.txt", "x"));
    }
    std::vector<plat::DirEntry> entries;  // case 4 placed the link
    ASSERT_TRUE(plat::Fs().ListDir(tmp_ / L"4/theirs", &entries));
    EXPECT_TRUE(entries.empty()) << "the log went into the folder a link led to";
}

#endif  // !_WIN32

}  // namespace
