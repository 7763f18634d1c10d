// A pass stopped dead at any instant, as a killed process or a pulled stick
// stops it: from the N-th mutating file-system operation on nothing more
// reaches the disk (the first cut write may leave a prefix) and nothing is
// cleaned up. The next run settles what was interrupted, without the
// password; then the work is done again and the folder fully decrypted.
// Every file must come back byte-exact, once, with nothing of ours left.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <random>
#include <set>

#include "crypto/content_cipher.h"
#include "engine/engine.h"
#include "engine/engine_fixture.h"
#include "engine/hide_pass.h"
#include "engine/pass_journal.h"
#include "engine/pass_state.h"
#include "engine/strength_pass.h"
#include "store/layout.h"
#include "support/faulty_fs.h"

namespace enginetest {
namespace {

using testsupport::FaultyFileSystem;
using Tree = std::map<std::wstring, std::string>;

std::string Bytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s) c = char(rng());
    return s;
}

// Nested folders, files around the first block, whole-file and first-block
// names, a name that is taken when something is added.
void MakeTree(const std::wstring& root) {
    MakeDir(plat::JoinPath(root, L"相册"));
    MakeDir(plat::JoinPath(root, L"相册/2020 v1"));
    WriteFile(plat::JoinPath(root, L"a.bin"), Bytes(1025, 1));
    WriteFile(plat::JoinPath(root, L"空"), "");
    WriteFile(plat::JoinPath(root, L"报告.final.doc"), Bytes(1024, 2));
    WriteFile(plat::JoinPath(root, L"相册/notes.TXT"), Bytes(3000, 3));
    WriteFile(plat::JoinPath(root, L"相册/2020 v1/x.jpg"), Bytes(1023, 4));
    WriteFile(plat::JoinPath(root, L"相册/2020 v1/long.htm"), Bytes(70000, 5));
}

// Image: a strength store decrypted in place for use through a drive;
// ReEncrypt: such a store encrypted again after use.
enum class Pass { Encrypt, Decrypt, Extract, Take, Add, Image, ReEncrypt };

struct Case {
    const char* name;
    Pass pass;
    int strength;
};

class KilledPassTest : public EngineTest {
  protected:
    void SetUp() override {
#ifndef _WIN32
        if (plat::Fs().IsDirectory(L"/dev/shm")) tempRoot_ = L"/dev/shm/";
#endif
        EngineTest::SetUp();
        out_ = Path(L"out");
        incoming_ = Path(L"incoming");
    }

    // Files only, with the program's own entries of the folder left out.
    Tree UserFiles(const std::wstring& dir) const {
        Tree t;
        for (auto& [rel, bytes] : Snapshot(dir)) {
            if (rel.back() == L'/' || rel == L"ulxjm.exe" || rel == L"desktop.ini") continue;
            t[rel] = bytes;
        }
        return t;
    }

    void Fresh(const Case& c) {
        RemoveTree(base_);
        MakeDir(base_);
        MakeDir(folder_);
        MakeTree(folder_);
        if (c.pass == Pass::Add) {
            MakeDir(incoming_);
            WriteFile(plat::JoinPath(incoming_, L"a.bin"), Bytes(600, 9));  // taken in the store
            WriteFile(plat::JoinPath(incoming_, L"new.txt"), Bytes(100, 10));
        }
        if (c.pass == Pass::Extract || c.pass == Pass::Take) MakeDir(out_);
        if (c.pass != Pass::Encrypt) {
            ASSERT_TRUE(engine::EncryptFolder(folder_, L"pw", L"", c.strength, ui_).ok());
        }
        if (c.pass == Pass::ReEncrypt) {
            ASSERT_TRUE(engine::DecryptStore(folder_, L"pw", 0, ui_).ok());
            ASSERT_GT(PlainFilesInStore(), 0);
        }
    }

    void RunPass(const Case& c) {
        engine::DecryptOptions o;
        switch (c.pass) {
            case Pass::Encrypt:
                (void)engine::EncryptFolder(folder_, L"pw", L"", c.strength, ui_);
                break;
            case Pass::Decrypt:
                (void)engine::DecryptFolder(folder_, L"pw", ui_);
                break;
            case Pass::Extract:
                o.destination = out_;
                (void)engine::DecryptStore(folder_, L"pw", 1, ui_, o);
                break;
            case Pass::Take:
                o.items = {L"相册"};
                o.destination = out_;
                (void)engine::DecryptStore(folder_, L"pw", 2, ui_, o);
                break;
            case Pass::Image:
                (void)engine::DecryptStore(folder_, L"pw", 0, ui_);
                break;
            case Pass::ReEncrypt:
                (void)engine::ReEncryptAfterImage(folder_, L"pw", ui_);
                break;
            case Pass::Add: {
                engine::State().Reset();
                engine::State().kind =
                    c.strength == 2 ? engine::kKindHighestEncrypt : engine::kKindNormalEncrypt;
                engine::State().operation = engine::kOpBrowse;
                if (c.strength == 0) {
                    engine::CJiaMiWeiZhuang pass(ui_);
                    engine::HideJob job;
                    job.root = incoming_;
                    job.items = {L"a.bin", L"new.txt"};
                    job.mode = 2;
                    job.storeFolder = folder_;
                    (void)pass.Run(job);
                } else {
                    engine::CCryptAndDe_old pass(ui_);
                    engine::StrengthJob job;
                    job.root = incoming_;
                    job.items = {L"a.bin", L"new.txt"};
                    job.password = L"pw";
                    job.kindText = store::kKindHighest;
                    job.jobMode = 2;
                    job.storeFolder = folder_;
                    (void)pass.RunEncryption(job);
                }
                break;
            }
        }
    }

    // The next run: settle, then do the work again where it is undone.
    void NextRun(const Case& c, const std::string& what) {
        engine::RecoveryReport r = engine::Recover(folder_, L"", ui_);
        EXPECT_TRUE(r.ok()) << what << ": recovery left something unsettled";
        if (c.pass == Pass::Image || c.pass == Pass::ReEncrypt) {
            // A store never holds a plain file the next run does not know of.
            if (PlainFilesInStore() > 0) {
                EXPECT_TRUE(r.pendingStrength && r.imageOpen) << what;
            }
            if (r.pendingStrength) {
                EXPECT_TRUE(engine::ReEncryptAfterImage(folder_, L"pw", ui_).ok()) << what;
                EXPECT_EQ(0, PlainFilesInStore()) << what;
                EXPECT_FALSE(engine::Recover(folder_, L"", ui_).pendingStrength) << what;
            }
        }
        if (c.pass == Pass::Add && c.strength > 0) {
            // Files moved in but not yet encrypted are known, and the next
            // encryption finishes them.
            if (PlainFilesInStore() > 0) EXPECT_TRUE(r.pendingStrength) << what;
            if (r.pendingStrength) {
                EXPECT_TRUE(engine::ResumeEncryption(folder_, L"pw", ui_).ok()) << what;
                EXPECT_EQ(0, PlainFilesInStore()) << what;
                EXPECT_FALSE(engine::Recover(folder_, L"", ui_).pendingStrength) << what;
            }
        }
        if (c.pass == Pass::Encrypt) {
            if (!store::IsEncryptedFolder(folder_)) {
                EXPECT_TRUE(engine::EncryptFolder(folder_, L"pw", L"", c.strength, ui_).ok())
                    << what;
            } else if (r.pendingStrength) {
                EXPECT_TRUE(engine::ResumeEncryption(folder_, L"pw", ui_).ok()) << what;
            }
            // An encryption that ended leaves no journal behind.
            EXPECT_FALSE(
                plat::Fs().Exists(plat::JoinPath(store::ParamDir(folder_), engine::kJournalName)))
                << what;
        }
        if (store::IsEncryptedFolder(folder_)) {
            EXPECT_TRUE(engine::DecryptFolder(folder_, L"pw", ui_).ok()) << what;
        }
        EXPECT_FALSE(store::IsEncryptedFolder(folder_)) << what;
    }

    // Each original file is back, once, byte-exact; nothing else is there.
    void CheckBack(const Case& c, const Tree& want, const std::string& what) {
        Tree got = UserFiles(folder_);
        if (c.pass == Pass::Take)
            for (auto& [rel, bytes] : UserFiles(out_)) got[rel] = bytes;
        if (c.pass == Pass::Add)
            for (auto& [rel, bytes] : UserFiles(incoming_)) got[L"incoming:" + rel] = bytes;
        Tree expect = want;
        if (c.pass == Pass::Add) {
            // The added files are back, in the folder (the taken name
            // numbered) or still where they were.
            for (const auto& [from, to] :
                 {std::pair<std::wstring, std::wstring>{L"a.bin", L"a[1].bin"},
                  {L"new.txt", L"new.txt"}}) {
                const std::string bytes = want.at(L"incoming:" + from);
                expect.erase(L"incoming:" + from);
                if (got.count(L"incoming:" + from))
                    expect[L"incoming:" + from] = bytes;
                else
                    expect[to] = bytes;
            }
        }
        EXPECT_TRUE(SameTree(expect, got)) << what;
        // No folder of ours is left behind either, not even an empty one.
        std::set<std::wstring> folders;
        for (auto& [rel, bytes] : Snapshot(folder_))
            if (rel.back() == L'/') folders.insert(rel);
        if (c.pass != Pass::Take) {
            EXPECT_EQ(originalFolders_, folders) << what;
            return;
        }
        // Taken folders are out; an emptied one may stay behind, as the user's.
        for (const auto& f : folders) EXPECT_TRUE(originalFolders_.count(f)) << what;
        for (auto& [rel, bytes] : Snapshot(out_))
            if (rel.back() == L'/') folders.insert(rel);
        for (const auto& f : originalFolders_) EXPECT_TRUE(folders.count(f)) << what;
    }

    void Sweep(const Case& c, int stride) {
        // What the folder (and the files to add) held before anything ran.
        RemoveTree(base_);
        MakeDir(base_);
        MakeDir(folder_);
        MakeTree(folder_);
        Tree original = UserFiles(folder_);
        originalFolders_.clear();
        for (auto& [rel, bytes] : Snapshot(folder_))
            if (rel.back() == L'/') originalFolders_.insert(rel);
        if (c.pass == Pass::Add) {
            original[L"incoming:a.bin"] = Bytes(600, 9);
            original[L"incoming:new.txt"] = Bytes(100, 10);
        }
        int length = 0;
        {
            Fresh(c);
            FaultyFileSystem probe;
            {
                plat::ScopedFileSystem use(probe);
                RunPass(c);
            }
            length = probe.Count();
        }
        ASSERT_GT(length, 0);
        int runs = 0;
        for (int n = 1; n <= length; n += stride) {
            const std::string what = std::string(c.name) + ", stopped at operation " +
                                     std::to_string(n) + "/" + std::to_string(length);
            Fresh(c);
            FaultyFileSystem fs;
            fs.FailAt(n, plat::kErrIoDevice, /*sticky=*/true);
            fs.SetPartialWrite(n % 3 == 0 ? 5 : 0);
            {
                plat::ScopedFileSystem use(fs);
                RunPass(c);
            }
            NextRun(c, what + " (" + fs.FailedOp() + ")");
            CheckBack(c, original, what + " (" + fs.FailedOp() + ")");
            ++runs;
            if (HasFailure()) return;
        }
        std::printf("%s: %d stop points\n", c.name, runs);
    }

    // Files of the store's data folder without the encrypted suffix.
    int PlainFilesInStore() const {
        int n = 0;
        for (auto& [rel, bytes] : Snapshot(store::DataDir(folder_)))
            if (rel.back() != L'/' && crypto::ClassifyName(rel) == crypto::kClassPlain) ++n;
        return n;
    }

    std::wstring out_, incoming_;
    std::set<std::wstring> originalFolders_;
};

TEST_F(KilledPassTest, EveryStopPointIsSettledByTheNextRun) {
    const Case cases[] = {
        {"normal encrypt", Pass::Encrypt, 0},
        {"higher encrypt", Pass::Encrypt, 1},
        {"highest encrypt", Pass::Encrypt, 2},
        {"restore", Pass::Decrypt, 0},
        {"highest decrypt", Pass::Decrypt, 2},
        {"extract", Pass::Extract, 2},
        {"take", Pass::Take, 2},
        {"add normal", Pass::Add, 0},
        {"add highest", Pass::Add, 2},
        {"image use of a higher store", Pass::Image, 1},
        {"image use of a highest store", Pass::Image, 2},
        {"encrypted again after image use", Pass::ReEncrypt, 2},
    };
#ifdef _WIN32
    const int stride = 7;  // file operations cost far more under Wine
#else
    const int stride = 1;
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Sweep(c, stride);
        if (HasFailure()) return;
    }
}

}  // namespace
}  // namespace enginetest
