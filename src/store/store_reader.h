// A read-only view of a store's data folder under the names the user gave:
// encrypted suffixes stripped, the browse window's working area left out,
// file sizes the plain ones, contents decrypted as they are read. It
// writes nothing and keeps access times where the process asked for it
// (plat::KeepAccessTimes).
//
// Paths of the view are relative to the data folder, components separated
// by '/', "" for the top. A file whose plain name is taken in its folder
// (by a plain file of that name, or another encrypted file that strips to
// it) keeps its stored name.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "crypto/plain_reader.h"
#include "platform/fs.h"

namespace store {

struct ViewEntry {
    std::wstring name;    // in the view
    std::wstring stored;  // on disk
    bool folder = false;
    uint64_t size = 0;    // plain size of a file (its stored size until probed)
    bool probed = false;  // size is the plain one (or the file failed its check)
    std::wstring reason;  // why the file cannot be decrypted (a kReason* text)
    uint64_t storedSize = 0;
    plat::FileTimes times;
};

class StoreReader {
  public:
    // `keys`: the store's file keys; null for a normal store, whose files
    // are shown as they are.
    StoreReader(std::wstring dataDir, std::shared_ptr<const crypto::FileKeys> keys);

    // The entries of the view folder `rel`, sorted by name, plain sizes
    // included. False when `rel` is not a folder of the view
    // (plat::LastError: kErrPathNotFound, or why it could not be listed).
    [[nodiscard]] bool List(const std::wstring& rel, std::vector<ViewEntry>* out);
    // One object of the view; a file's plain size is probed. False when it
    // is not there (kErrFileNotFound / kErrPathNotFound).
    [[nodiscard]] bool Stat(const std::wstring& rel, ViewEntry* out);
    // Opens a file of the view for plain reads. Null when it is not there
    // or is a folder (plat::LastError), or fails its check (`reason`).
    std::unique_ptr<crypto::PlainFile> Open(const std::wstring& rel, std::wstring* reason);
    // The stored path of an object of the view (for messages); empty when
    // it is not there.
    std::wstring StoredPath(const std::wstring& rel);

  private:
    struct Folder {
        std::vector<ViewEntry> entries;  // sorted by view name
        std::map<std::wstring, size_t> byName;
    };
    // The stored folder path of view folder `rel`, its listing cached.
    // `fresh`: list it again even when cached.
    Folder* FolderOf(const std::wstring& rel, bool fresh, std::wstring* storedDir);
    bool Load(const std::wstring& storedDir, bool top, Folder* out);
    bool Find(const std::wstring& rel, ViewEntry* out, std::wstring* storedPath);
    void ProbeEntry(const std::wstring& storedPath, ViewEntry* e);

    std::wstring dataDir_;
    std::shared_ptr<const crypto::FileKeys> keys_;
    std::mutex mutex_;
    std::map<std::wstring, Folder> folders_;  // by view path
};

// Splits a view path into its components; false for "." or ".." parts.
bool SplitViewPath(const std::wstring& rel, std::vector<std::wstring>* parts);

}  // namespace store
