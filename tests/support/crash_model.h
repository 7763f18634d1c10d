// What a pulled stick may leave on the medium, in the spirit of CrashMonkey
// and ALICE.
//
// A killed process keeps everything it wrote (the page cache survives); a
// pulled stick keeps only what reached the medium. Between two syncs of the
// volume (plat::FileSystem::SyncVolume) the operations issued may reach it in
// any order, or not at all; File::Flush makes one file's data and entry
// durable before anything issued after it.
//
// RecordingFileSystem wraps the real file system for one folder (the
// "volume"): at the start and at every SyncVolume it takes a snapshot of the
// folder in memory, and in between it records every change with what is
// needed to replay it. Files are known by identity, not by name, so a write
// lands in the file it was made to even when the file was renamed meanwhile,
// and a rename may reach the medium before the data of the file it names.
//
// GenerateCrashStates then builds, for each epoch (a snapshot and the
// operations up to the next sync), the trees the medium may hold: the
// snapshot plus a subset of the epoch's operations applied in order.
//
//   RecordingFileSystem rec(volume);  { ScopedFileSystem s(rec); RunPass(); }
//   rec.Finish();
//   for (const CrashState& s : GenerateCrashStates(rec.Epochs(), options)) {
//       Materialise(s.tree, volume);  ... run recovery, check nothing is lost
//   }
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/fs.h"

namespace testsupport {

// The attribute bits a crash state keeps: what the file system stores.
inline constexpr uint32_t kCrashAttrMask =
    plat::kAttrReadOnly | plat::kAttrHidden | plat::kAttrSystem;

// A folder tree in memory. Paths are relative to the volume, with the
// build's separator; file contents are shared between trees.
struct CrashTree {
    struct File {
        std::shared_ptr<const std::string> bytes;
        uint32_t attrs = 0;
    };
    std::map<std::wstring, uint32_t> dirs;   // folder -> attributes
    std::map<std::wstring, uint64_t> names;  // file name -> identity
    std::map<uint64_t, File> files;          // identity -> content (named or not)

    const std::string& Content(uint64_t id) const;
    // Differences with `other` (names, contents, attributes), empty if none.
    std::string Diff(const CrashTree& other) const;
};

enum class CrashOpKind {
    Create,         // new empty file `path` with identity `id`, attributes `attrs`
    Write,          // `bytes` at `offset` of file `id`
    Truncate,       // file `id` cut (or extended with zeros) to `offset` bytes
    Flush,          // file `id` made durable (its entry and what was written to it)
    Move,           // `path` -> `to`, a file (`id`) or a folder (id 0)
    Delete,         // file `path` (`id`)
    CreateDir,      // folder `path`, attributes `attrs`
    RemoveDir,      // folder `path`
    SetAttributes,  // `path` gets `attrs`
};

struct CrashOp {
    CrashOpKind kind = CrashOpKind::Create;
    std::wstring path, to;  // for Write/Truncate/Flush: the file's name then (to read)
    uint64_t id = 0;
    uint64_t offset = 0;
    std::shared_ptr<std::string> bytes;
    uint32_t attrs = 0;

    bool IsData() const { return kind == CrashOpKind::Write || kind == CrashOpKind::Truncate; }
    std::string Describe() const;
};

struct CrashEpoch {
    CrashTree start;
    std::vector<CrashOp> ops;
};

// How an operation of a crash state reached the medium.
enum class CrashStep : uint8_t {
    Whole,
    Torn,   // a write of which only the first half arrived
    Freed,  // a delete whose freed clusters are gone while its entry is still there
};

struct CrashState {
    int epoch = 0;
    std::string model;  // which model produced it, e.g. "prefix 12", "omit 7"
    std::vector<std::pair<int, CrashStep>> steps;  // op index, in order
    CrashTree tree;
    std::vector<int> skipped;  // ops that could not apply (their folder was missing...)

    // The epoch's operations, each marked: '+' arrived, '-' did not, '~'
    // torn, 'z' freed, '!' could not apply.
    std::string Describe(const std::vector<CrashEpoch>& epochs) const;
};

struct CrashModelOptions {
    unsigned seed = 1;
    int randomPerEpoch = 24;
    size_t maxStates = 3000;  // distinct states kept in all (an even sample beyond)
};

// The seed from CRASH_MODEL_SEED, else a fresh one; printed either way.
unsigned CrashModelSeed();

// Applies `op` (or its torn/freed form) to `tree`; false when it cannot
// apply (and `tree` is unchanged).
bool ApplyCrashOp(CrashTree* tree, const CrashOp& op, CrashStep step = CrashStep::Whole);

// Every distinct state of every epoch (see the models in crash_model.cpp),
// the full replay of each epoch left out (it is the next snapshot).
std::vector<CrashState> GenerateCrashStates(const std::vector<CrashEpoch>& epochs,
                                            const CrashModelOptions& options);

// Reads the tree below `root` through `fs` (identities from `ids`, new ones
// from `nextId` for files not in it).
CrashTree ReadCrashTree(plat::FileSystem& fs, const std::wstring& root,
                        std::map<std::wstring, uint64_t>* ids, uint64_t* nextId,
                        std::string* problems);

// Makes `root` hold exactly `tree` (real files, attributes through
// plat::Fs().SetAttributes). False with a message on failure.
bool Materialise(const CrashTree& tree, const std::wstring& root, std::string* error);

class RecordingFileSystem final : public plat::FileSystem {
  public:
    // Takes the first snapshot of `root`.
    explicit RecordingFileSystem(std::wstring root, plat::FileSystem& inner = plat::OsFileSystem());

    // Ends the last epoch: the replay of everything recorded must give what
    // is on disk, else Problems() says where the recording went wrong.
    void Finish();
    const std::vector<CrashEpoch>& Epochs() const { return epochs_; }
    std::string Problems() const;
    size_t OpCount() const;

    bool ListDir(const std::wstring& dir, std::vector<plat::DirEntry>* out) override {
        return inner_.ListDir(dir, out);
    }
    uint32_t GetAttributes(const std::wstring& path) override { return inner_.GetAttributes(path); }
    bool SetAttributes(const std::wstring& path, uint32_t attrs) override;
    bool CreateDir(const std::wstring& path) override;
    bool RemoveDir(const std::wstring& path) override;
    bool Move(const std::wstring& from, const std::wstring& to) override;
    bool Copy(const std::wstring& from, const std::wstring& to, bool failIfExists) override;
    bool DeleteFile(const std::wstring& path) override;
    std::unique_ptr<plat::File> Open(const std::wstring& path, plat::Access access,
                                     plat::Disposition disposition) override;
    std::wstring LongPathName(const std::wstring& path) override {
        return inner_.LongPathName(path);
    }
    bool CopyAccess(const std::wstring& from, const std::wstring& to) override {
        return inner_.CopyAccess(from, to);  // permission bits: not modelled
    }
    bool RestrictToOwner(const std::wstring& path) override { return inner_.RestrictToOwner(path); }
    bool SyncVolume(const std::wstring& path) override;

    // Used by the files it opened.
    void RecordWrite(uint64_t id, uint64_t offset, const void* data, uint32_t len);
    void RecordFileOp(CrashOpKind kind, uint64_t id, uint64_t offset);

  private:
    // `path` relative to the root; false when outside it.
    bool Inside(const std::wstring& path, std::wstring* rel) const;
    std::wstring NameOf(uint64_t id) const;
    void Push(CrashOp op);
    void CloseEpoch();
    // A file or folder that came from outside the volume: recorded as made anew.
    void Import(const std::wstring& rel);

    plat::FileSystem& inner_;
    std::wstring root_;
    mutable std::mutex mutex_;
    std::map<std::wstring, uint64_t> ids_;  // file name -> identity, as the disk is now
    uint64_t nextId_ = 1;
    std::vector<CrashEpoch> epochs_;
    std::string problems_;
    bool finished_ = false;
};

}  // namespace testsupport
