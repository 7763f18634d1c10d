// A pass cut short by a pulled stick: only what reached the medium is left.
// Between two volume syncs the operations of a pass may arrive in any order
// or not at all (support/crash_model.h). Each pass runs once under the
// recorder; then every state the medium may hold is put on disk, settled as
// the next run settles it (engine::Recover, the first thing every command
// does), brought back to plain (the interrupted encryption finished where
// recovery says one waits, then a full decryption) and compared byte for
// byte with what the folder held before.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>

#include "crypto/content_cipher.h"
#include "engine/engine.h"
#include "engine/engine_fixture.h"
#include "engine/hide_pass.h"
#include "engine/pass_state.h"
#include "engine/strength_pass.h"
#include "store/layout.h"
#include "support/crash_model.h"

namespace enginetest {
namespace {

using testsupport::CrashEpoch;
using testsupport::CrashModelOptions;
using testsupport::CrashOp;
using testsupport::CrashOpKind;
using testsupport::CrashState;
using testsupport::CrashTree;
using testsupport::RecordingFileSystem;
using Tree = std::map<std::wstring, std::string>;

std::string Bytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s) c = char(rng());
    return s;
}

// ---------------------------------------------------------------- the model

class CrashStateModel : public EngineTest {};

// A file written, then renamed, then another deleted, all between two syncs:
// the medium may hold the new name without the data, and the deleted file's
// entry without its content; never the data of a flushed file missing once
// anything after its flush arrived.
TEST_F(CrashStateModel, GeneratesWhatAPulledStickMayLeave) {
    const std::wstring vol = Path(L"vol");
    MakeDir(vol);
    WriteFile(plat::JoinPath(vol, L"old"), "old content");
    RecordingFileSystem rec(vol);
    {
        plat::ScopedFileSystem use(rec);
        plat::FileSystem& fs = plat::Fs();
        auto f = fs.Open(plat::JoinPath(vol, L"journal"), plat::Access::ReadWrite,
                         plat::Disposition::CreateNew);
        ASSERT_TRUE(f && f->WriteAll("J", 1) && f->Flush());
        f.reset();
        f = fs.Open(plat::JoinPath(vol, L"new.tmp"), plat::Access::ReadWrite,
                    plat::Disposition::CreateNew);
        ASSERT_TRUE(f && f->WriteAll("new ", 4) && f->WriteAll("content", 7));
        ASSERT_TRUE(fs.Move(plat::JoinPath(vol, L"new.tmp"), plat::JoinPath(vol, L"new")));
        ASSERT_TRUE(f->WriteAll("!", 1));  // through the handle, under its new name
        f.reset();
        ASSERT_TRUE(fs.DeleteFile(plat::JoinPath(vol, L"old")));
        ASSERT_TRUE(fs.SyncVolume(vol));
        ASSERT_TRUE(fs.CreateDir(plat::JoinPath(vol, L"d")));
    }
    rec.Finish();
    ASSERT_EQ("", rec.Problems());
    ASSERT_EQ(2u, rec.Epochs().size());
    // Create, Write, Flush, Create, Write (one run), Move, Write, Delete.
    EXPECT_EQ(8u, rec.Epochs()[0].ops.size());

    CrashModelOptions options;
    options.seed = testsupport::CrashModelSeed();
    const auto states = testsupport::GenerateCrashStates(rec.Epochs(), options);
    auto content = [](const CrashTree& t, const wchar_t* name) -> std::string {
        auto it = t.names.find(name);
        return it == t.names.end() ? "<none>" : t.Content(it->second);
    };
    bool renameBeforeData = false, freedKept = false, torn = false, finalState = false;
    for (const CrashState& s : states) {
        const CrashTree& t = s.tree;
        const bool anythingAfterFlush = t.names.count(L"new.tmp") || t.names.count(L"new") ||
                                        !t.names.count(L"old") || t.dirs.count(L"d");
        if (anythingAfterFlush && s.epoch == 0) {
            EXPECT_EQ("J", content(t, L"journal")) << s.Describe(rec.Epochs());
        }
        renameBeforeData = renameBeforeData || content(t, L"new") == "";
        freedKept = freedKept || content(t, L"old") == std::string(11, '\0');
        torn = torn || content(t, L"new.tmp") == "new c";
        finalState = finalState || (content(t, L"new") == "new content!" &&
                                    content(t, L"old") == "<none>" && t.dirs.count(L"d"));
    }
    EXPECT_TRUE(renameBeforeData);
    EXPECT_TRUE(freedKept);
    EXPECT_TRUE(torn);
    EXPECT_TRUE(finalState);

    // A state on disk is the tree it was made from.
    for (const CrashState& s : states) {
        std::string error;
        ASSERT_TRUE(testsupport::Materialise(s.tree, vol, &error)) << error;
        std::map<std::wstring, uint64_t> ids;
        uint64_t next = 1;
        std::string problems;
        CrashTree back = testsupport::ReadCrashTree(plat::Fs(), vol, &ids, &next, &problems);
        ASSERT_EQ("", problems);
        std::string diff = s.tree.Diff(back);
        // Identities differ; contents, names and marks must not.
        ASSERT_EQ("", diff) << s.Describe(rec.Epochs());
    }
}

// ---------------------------------------------------------------- the passes

enum class Pass { Encrypt, Decrypt, Extract, Take, Add };

struct Case {
    const char* name;
    Pass pass;
    int strength;
};

class CrashStateTest : public EngineTest {
  protected:
    void SetUp() override {
#ifndef _WIN32
        if (plat::Fs().IsDirectory(L"/dev/shm")) tempRoot_ = L"/dev/shm/";
#endif
        EngineTest::SetUp();
        // Everything a pass touches lives on the "volume"; the log, the
        // settings and the program stay off it.
        volume_ = Path(L"vol");
        folder_ = plat::JoinPath(volume_, L"protect");
        out_ = plat::JoinPath(volume_, L"out");
        incoming_ = plat::JoinPath(volume_, L"incoming");
    }

    // Small first-block and whole-file files, Chinese names, a read-only
    // file, an empty one, nested folders; for strength passes also a
    // whole-file name of more than 4 MiB (flushed by itself). Normal
    // strength only moves it, which the small ones show as well.
    void MakeTree(const std::wstring& root, bool big) {
        MakeDir(plat::JoinPath(root, L"视频"));
        MakeDir(plat::JoinPath(root, L"相册"));
        MakeDir(plat::JoinPath(root, L"相册/2020 v1"));
        WriteFile(plat::JoinPath(root, L"视频/大文件.htm"),
                  Bytes(big ? (4u << 20) + 333 : 5000, 1));
        WriteFile(plat::JoinPath(root, L"a.bin"), Bytes(1025, 2));
        WriteFile(plat::JoinPath(root, L"空"), "");
        WriteFile(plat::JoinPath(root, L"报告.final.doc"), Bytes(1024, 3));
        WriteFile(plat::JoinPath(root, L"说明.txt"), Bytes(3000, 4));
        WriteFile(plat::JoinPath(root, L"相册/照片.jpg"), Bytes(1023, 5));
        WriteFile(plat::JoinPath(root, L"相册/只读.bin"), Bytes(2048, 6));
        ASSERT_TRUE(
            plat::Fs().SetAttributes(plat::JoinPath(root, L"相册/只读.bin"), plat::kAttrReadOnly));
        WriteFile(plat::JoinPath(root, L"相册/2020 v1/long.htm"), Bytes(70000, 7));
    }

    Tree UserFiles(const std::wstring& dir) const {
        Tree t;
        for (auto& [rel, bytes] : Snapshot(dir)) {
            if (rel.back() == L'/' || rel == L"ulxjm.exe" || rel == L"desktop.ini") continue;
            t[rel] = bytes;
        }
        return t;
    }

    void Fresh(const Case& c) {
        RemoveTree(volume_);
        MakeDir(volume_);
        MakeDir(folder_);
        MakeTree(folder_, c.strength > 0);
        if (c.pass == Pass::Add) {
            MakeDir(incoming_);
            WriteFile(plat::JoinPath(incoming_, L"a.bin"), Bytes(600, 9));  // taken in the store
            WriteFile(plat::JoinPath(incoming_, L"新.txt"), Bytes(100, 10));
        }
        if (c.pass == Pass::Extract || c.pass == Pass::Take) MakeDir(out_);
        if (c.pass != Pass::Encrypt) {
            ASSERT_TRUE(engine::EncryptFolder(folder_, L"pw", L"", c.strength, ui_).ok());
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
            case Pass::Add: {
                engine::State().Reset();
                engine::State().kind = engine::kKindHighestEncrypt;
                engine::State().operation = engine::kOpBrowse;
                engine::CCryptAndDe_old pass(ui_);
                engine::StrengthJob job;
                job.root = incoming_;
                job.items = {L"a.bin", L"新.txt"};
                job.password = L"pw";
                job.kindText = store::kKindHighest;
                job.jobMode = 2;
                job.storeFolder = folder_;
                (void)pass.RunEncryption(job);
                break;
            }
        }
    }

    // Folders below `dir` ("/"-joined), without reading any file.
    static void Folders(const std::wstring& dir, const std::wstring& rel,
                        std::set<std::wstring>* out) {
        std::vector<plat::DirEntry> entries;
        if (!plat::Fs().ListDir(dir, &entries)) return;
        for (const auto& e : entries)
            if (e.IsDirectory()) {
                out->insert(rel + e.name + L"/");
                Folders(plat::JoinPath(dir, e.name), rel + e.name + L"/", out);
            }
    }

    // What the volume holds, each file named by the original it equals.
    std::string Listing(const Tree& original) const {
        std::string s;
        for (const auto& [rel, bytes] : Snapshot(volume_)) {
            if (rel.back() == L'/') continue;
            s += "    " + plat::ToUtf8(rel) + " " + std::to_string(bytes.size()) + " bytes";
            for (const auto& [orig, want] : original)
                if (want == bytes) {
                    s += " = original " + plat::ToUtf8(orig);
                    break;
                }
            s += "\n";
        }
        return s;
    }

    // The next run settles the state, then the folder goes back to plain.
    // Empty when every original file came back, once, byte-exact, and
    // nothing of ours is left; else the problems, each tagged: "lost" (a
    // file missing or changed), "stuck" (a run refused or failed), "left"
    // (something extra stayed behind).
    std::string Check(const Case& c, const Tree& original) {
        std::string problems;
        engine::State().Reset();
        const engine::RecoveryReport r = engine::Recover(folder_, L"", ui_);
        if (!r.ok()) problems += " stuck: recovery left something unsettled;";
        if (r.pendingStrength) {
            const bool ok = r.imageOpen ? engine::ReEncryptAfterImage(folder_, L"pw", ui_).ok()
                                        : engine::ResumeEncryption(folder_, L"pw", ui_).ok();
            if (!ok) problems += " stuck: the pending encryption did not end well;";
        }
        if (store::IsEncryptedFolder(folder_) && !engine::DecryptFolder(folder_, L"pw", ui_).ok())
            problems += " stuck: the full decryption did not end well;";
        if (store::IsEncryptedFolder(folder_)) problems += " stuck: the folder is still encrypted;";

        Tree got = UserFiles(folder_);
        if (c.pass == Pass::Take)
            for (auto& [rel, bytes] : UserFiles(out_)) got[rel] = bytes;
        if (c.pass == Pass::Add)
            for (auto& [rel, bytes] : UserFiles(incoming_)) got[L"incoming:" + rel] = bytes;
        Tree expect = original;
        if (c.pass == Pass::Add) {
            // The added files are back, in the folder (the taken name
            // numbered) or still where they were.
            for (const auto& [from, to] :
                 {std::pair<std::wstring, std::wstring>{L"a.bin", L"a[1].bin"},
                  {L"新.txt", L"新.txt"}}) {
                const std::string bytes = original.at(L"incoming:" + from);
                expect.erase(L"incoming:" + from);
                expect[got.count(L"incoming:" + from) ? L"incoming:" + from : to] = bytes;
            }
        }
        for (const auto& [rel, bytes] : expect) {
            auto it = got.find(rel);
            if (it == got.end())
                problems += " lost: " + plat::ToUtf8(rel) + " missing;";
            else if (it->second != bytes)
                problems += " lost: " + plat::ToUtf8(rel) + " changed (" +
                            std::to_string(bytes.size()) + " -> " +
                            std::to_string(it->second.size()) + " bytes);";
        }
        for (const auto& [rel, bytes] : got)
            if (!expect.count(rel)) problems += " left: extra file " + plat::ToUtf8(rel) + ";";
        std::set<std::wstring> folders;
        Folders(folder_, L"", &folders);
        if (c.pass == Pass::Take) Folders(out_, L"", &folders);
        for (const auto& f : folders)
            if (!originalFolders_.count(f))
                problems += " left: extra folder " + plat::ToUtf8(f) + ";";
        // Taken folders are out; an emptied one may stay behind.
        for (const auto& f : originalFolders_)
            if (!folders.count(f)) problems += " lost: folder " + plat::ToUtf8(f) + " missing;";
        return problems;
    }

    // Runs the pass under the recorder, then every crash state. Returns the
    // failing states, described.
    void Sweep(const Case& c) {
        RemoveTree(volume_);
        MakeDir(volume_);
        MakeDir(folder_);
        MakeTree(folder_, c.strength > 0);
        Tree original = UserFiles(folder_);
        originalFolders_.clear();
        Folders(folder_, L"", &originalFolders_);
        if (c.pass == Pass::Add) {
            original[L"incoming:a.bin"] = Bytes(600, 9);
            original[L"incoming:新.txt"] = Bytes(100, 10);
        }

        Fresh(c);
        if (HasFatalFailure()) return;
        RecordingFileSystem rec(volume_);
        {
            plat::ScopedFileSystem use(rec);
            RunPass(c);
        }
        rec.Finish();
        ASSERT_EQ("", rec.Problems()) << "the recording does not replay to what is on disk";

        CrashModelOptions options;
        options.seed = testsupport::CrashModelSeed();
        if (const char* max = std::getenv("CRASH_MODEL_MAX_STATES"))
            options.maxStates = size_t(std::strtoul(max, nullptr, 10));
        const auto started = std::chrono::steady_clock::now();
        const std::vector<CrashEpoch>& epochs = rec.Epochs();
        const std::vector<CrashState> states = testsupport::GenerateCrashStates(epochs, options);
        ASSERT_FALSE(states.empty());

        int failed = 0;
        std::string report;
        for (const CrashState& s : states) {
            std::string error;
            ASSERT_TRUE(testsupport::Materialise(s.tree, volume_, &error)) << error;
            const std::string problems = Check(c, original);
            if (problems.empty()) continue;
            // The first few (all with CRASH_MODEL_FULL) in full, with what
            // recovery made of them (done again: the state is gone by now);
            // the rest by their model.
            if (++failed <= 3 || std::getenv("CRASH_MODEL_FULL")) {
                ASSERT_TRUE(testsupport::Materialise(s.tree, volume_, &error)) << error;
                engine::State().Reset();
                (void)engine::Recover(folder_, L"", ui_);
                report += "\n--- " + s.Describe(epochs) + "  problems:" + problems +
                          "\n  after recovery the volume held:\n" + Listing(original);
            } else {
                report +=
                    "\n--- epoch " + std::to_string(s.epoch + 1) + ", " + s.model + ":" + problems;
            }
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        size_t ops = 0;
        for (const auto& e : epochs) ops += e.ops.size();
        std::printf("%s: %zu operations in %zu epochs, %zu crash states, %d failing, %.1f s\n",
                    c.name, ops, epochs.size(), states.size(), failed, seconds);
        EXPECT_EQ(0, failed) << c.name << ": " << failed << " of " << states.size()
                             << " crash states lose or damage a file:" << report;
    }

    std::wstring volume_, out_, incoming_;
    std::set<std::wstring> originalFolders_;
};

// Disabled until the engine orders its passes for a pulled stick: each of
// these finds states that lose a file or leave the folder stuck (renames
// and the deletions after them share one sync, the hiding and the first
// batch's in-place writes too, the restore never syncs before it removes
// the store).
TEST_F(CrashStateTest, DISABLED_NormalEncryption) {
    Sweep({"normal encrypt", Pass::Encrypt, 0});
}
TEST_F(CrashStateTest, DISABLED_HigherEncryption) {
    Sweep({"higher encrypt", Pass::Encrypt, 1});
}
TEST_F(CrashStateTest, DISABLED_HighestEncryption) {
    Sweep({"highest encrypt", Pass::Encrypt, 2});
}
TEST_F(CrashStateTest, DISABLED_RestoreOfANormalStore) {
    Sweep({"restore", Pass::Decrypt, 0});
}
TEST_F(CrashStateTest, DISABLED_FullDecryptionOfAStrengthStore) {
    Sweep({"highest decrypt", Pass::Decrypt, 2});
}
TEST_F(CrashStateTest, DISABLED_AddIntoAHighestStore) {
    Sweep({"add highest", Pass::Add, 2});
}
TEST_F(CrashStateTest, DISABLED_TakeOutOfAHighestStore) {
    Sweep({"take", Pass::Take, 2});
}
TEST_F(CrashStateTest, DISABLED_ExtractCopiesOfAHighestStore) {
    Sweep({"extract", Pass::Extract, 2});
}

}  // namespace
}  // namespace enginetest
