// Nothing a user owns is lost, whatever operation fails: for generated trees,
// each pass is run once with the N-th mutating file-system operation failing,
// for every N up to the pass's length; then the pass is retried without
// faults and the folder fully decrypted. Every original file must come back
// with its name and bytes.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

#include "crypto/records.h"
#include "engine/engine.h"
#include "engine/engine_fixture.h"
#include "engine/hide_pass.h"
#include "engine/progress_model.h"
#include "engine/strength_pass.h"
#include "store/layout.h"
#include "support/faulty_fs.h"

namespace enginetest {
namespace {

using testsupport::FaultyFileSystem;

// A small tree: nested folders, empty files, sizes around the first block,
// whole-file extensions, dots, brackets and Chinese names.
void MakeTree(const std::wstring& root, unsigned seed) {
    std::mt19937 rng(seed);
    const wchar_t* names[] = {L"报告.final.doc", L"notes.TXT", L"x[1].jpg", L"noext",
                              L"数据.备份.txt",  L"a.b.c.htm", L"[2]",      L"空"};
    const size_t sizes[] = {0, 1, 1023, 1024, 1025, 2100};
    const wchar_t* folders[] = {L"相册", L"dir.v2", L"sub[1]"};
    std::vector<std::wstring> dirs{root};
    const int nFolders = 1 + int(rng() % 2);
    for (int i = 0; i < nFolders; ++i) {
        std::wstring d = plat::JoinPath(dirs[rng() % dirs.size()], folders[i]);
        MakeDir(d);
        dirs.push_back(d);
    }
    const int nFiles = 3 + int(rng() % 2);
    for (int i = 0; i < nFiles; ++i) {
        const std::wstring dir = dirs[rng() % dirs.size()];
        const std::wstring path = plat::JoinPath(dir, names[(seed + i) % 8]);
        if (plat::Fs().Exists(path)) continue;
        std::string bytes(sizes[rng() % 6], '\0');
        for (char& c : bytes) c = char(rng());
        WriteFile(path, bytes);
    }
}

class NothingLostTest : public EngineTest {
  protected:
    void SetUp() override {
#ifndef _WIN32
        // Hundreds of passes: keep their syncs off the disk when memory-backed
        // storage is there.
        if (plat::Fs().IsDirectory(L"/dev/shm")) tempRoot_ = L"/dev/shm/";
#endif
        EngineTest::SetUp();
    }
    // What the user sees in the folder: everything but the store, the
    // program copy and the decorations.
    std::map<std::wstring, std::string> UserContent() const {
        auto all = Snapshot(folder_);
        std::map<std::wstring, std::string> user;
        for (auto& [rel, bytes] : all) {
            if (rel.rfind(L"ulxjm/", 0) == 0 || rel == L"ulxjm.exe" || rel == L"desktop.ini")
                continue;
            user[rel] = bytes;
        }
        return user;
    }
    void Reset() {
        RemoveTree(folder_);
        MakeDir(folder_);
        RemoveTree(log_);
    }
    // Runs the encryption the encrypt window runs: threaded, polled like the
    // progress window polls it.
    void Encrypt(int strength) {
        engine::State().Reset();
        engine::State().kind = strength;
        engine::State().operation = engine::kOpEncrypt;
        engine::ProgressModel model;
        model.Open();
        if (strength == 0) {
            engine::CJiaMiWeiZhuang pass(ui_);
            engine::HideJob job;
            job.root = folder_;
            job.password = L"pw";
            if (pass.StartThread(job)) Poll(model);
        } else {
            engine::CCryptAndDe_old pass(ui_);
            engine::StrengthJob job;
            job.root = folder_;
            job.password = L"pw";
            job.kindText = strength == 1 ? L"type=1" : L"type=2";
            if (pass.StartEncryption(job)) Poll(model);
        }
    }
    // Every original file is back with its name and bytes. A backup ".tmp"
    // the cipher could not delete may stay beside its file: it is a copy,
    // not a loss. Nothing else may appear, and no user file may stay in a
    // store.
    static void Poll(engine::ProgressModel& model) {
        while (model.Poll().end == engine::EndAction::None)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    void CheckBack(const std::map<std::wstring, std::string>& want, const std::string& what) {
        auto got = UserContent();
        for (const auto& [rel, bytes] : want) {
            auto it = got.find(rel);
            if (it == got.end()) {
                ADD_FAILURE() << what << ": missing " << plat::ToUtf8(rel);
                continue;
            }
            EXPECT_TRUE(it->second == bytes) << what << ": changed " << plat::ToUtf8(rel);
            got.erase(it);
        }
        for (const auto& [rel, bytes] : got) {
            const std::wstring base = rel.size() > 4 ? rel.substr(0, rel.size() - 4) : L"";
            const bool backup = plat::EndsWithNoCase(rel, L".tmp") &&
                                (want.count(base) || (plat::EndsWithNoCase(base, L".zpwenc0") &&
                                                      want.count(base.substr(0, base.size() - 8))));
            EXPECT_TRUE(backup) << what << ": extra " << plat::ToUtf8(rel);
        }
        for (const auto& [rel, bytes] : Snapshot(store::DataDir(folder_)))
            EXPECT_EQ(L'/', rel.back()) << what << ": left in store " << plat::ToUtf8(rel);
    }
};

struct Scenario {
    int strength;
    bool faultDecryption;  // fault the decryption instead of the encryption
    unsigned seed;
};

TEST_F(NothingLostTest, EveryFailurePointIsRecoverable) {
#ifdef _WIN32
    // Every file operation costs a thousand times more under Wine: one tree
    // per kind of pass there, both seeds natively.
    const Scenario scenarios[] = {{0, false, 3}, {2, false, 11}, {2, true, 3}};
    const int minRuns = 100;
#else
    const Scenario scenarios[] = {{0, false, 3}, {2, false, 3}, {2, false, 11}, {1, false, 11},
                                  {0, true, 3},  {2, true, 3},  {2, true, 11}};
    const int minRuns = 200;
#endif
    int runs = 0;
    for (const Scenario& sc : scenarios) {
        {
            const unsigned seed = sc.seed;
            // Count the pass's operations once without faults.
            Reset();
            MakeTree(folder_, seed);
            const auto original = UserContent();
            ASSERT_GE(original.size(), 3u);
            int length = 0;
            {
                FaultyFileSystem probe;
                plat::ScopedFileSystem use(probe);
                if (sc.faultDecryption) {
                    plat::ScopedFileSystem real(plat::OsFileSystem());
                    Encrypt(sc.strength);
                }
                if (sc.faultDecryption)
                    (void)engine::DecryptFolder(folder_, L"pw", ui_);
                else
                    Encrypt(sc.strength);
                length = probe.Count();
            }
            ASSERT_GT(length, 0);
            if (sc.faultDecryption)
                CheckBack(original, "clean run");
            else
                EXPECT_TRUE(UserContent().empty()) << "clean run";
            for (int n = 1; n <= length; ++n) {
                const std::string what = "strength " + std::to_string(sc.strength) +
                                         (sc.faultDecryption ? " decrypt" : " encrypt") + " seed " +
                                         std::to_string(seed) + " fault " + std::to_string(n) +
                                         "/" + std::to_string(length);
                Reset();
                MakeTree(folder_, seed);
                if (sc.faultDecryption) Encrypt(sc.strength);
                FaultyFileSystem fs;
                fs.FailAt(n, n % 2 ? plat::kErrDiskFull : plat::kErrAccessDenied);
                fs.SetPartialWrite(n % 3 == 0 ? 7 : 0);
                {
                    plat::ScopedFileSystem use(fs);
                    if (sc.faultDecryption)
                        (void)engine::DecryptFolder(folder_, L"pw", ui_);
                    else
                        Encrypt(sc.strength);
                }
                EXPECT_EQ(1, fs.Failures()) << what;
                // The retry, then a full decryption.
                if (!sc.faultDecryption) Encrypt(sc.strength);
                if (store::IsEncryptedFolder(folder_))
                    (void)engine::DecryptFolder(folder_, L"pw", ui_);
                CheckBack(original, what + " (" + fs.FailedOp() + ")");
                ++runs;
                if (HasFailure()) return;
            }
        }
    }
    EXPECT_GT(runs, minRuns);
    std::printf("fault points tried: %d\n", runs);
}

}  // namespace
}  // namespace enginetest
