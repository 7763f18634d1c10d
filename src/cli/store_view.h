// What the command reads from a protected folder without changing it: where
// its store is, which records it has, what the records say, what it holds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "crypto/records.h"

namespace cli {

// An absolute, normalised path for a path argument ("." and ".." resolved,
// no trailing separator except on a root).
std::wstring AbsolutePath(const std::wstring& arg);

struct StoreLocation {
    std::wstring folder;    // the protected folder
    std::wstring rootName;  // "ulxjm", or the name of an earlier store root
    std::wstring dataDir;   // no trailing separator
    std::wstring paramDir;
    bool legacy = false;  // reached under an earlier root name
};

// The store inside `folder`: the current root, the short-name alias of the
// earlier root, and the earlier roots' own names (which other systems than
// Windows reach directly). False when the folder holds none.
bool FindStore(const std::wstring& folder, StoreLocation* out);

// The records as the decrypt side reads them, but without renaming earlier
// record names: a command that is refused must leave the store as it was.
crypto::StoreRecords ReadRecordsReadOnly(const StoreLocation& store);

// Names of the metadata files present in the parameter folder.
std::vector<std::wstring> RecordFilesPresent(const std::wstring& paramDir);

struct StoreCounts {
    int folders = 0;
    int files = 0;
    int strengthFiles = 0;  // files whose name marks them content-encrypted
    uint64_t bytes = 0;
    int workingItems = 0;  // objects left in the browse working area
    int unreadable = 0;    // folders that could not be listed
};
StoreCounts CountStore(const std::wstring& dataDir);

// The store's path of a user's item name below `subPath`: the name itself
// when it exists, else the name with the encrypted suffix. Empty when
// neither exists or the name leaves the store ("..").
std::wstring StoredItemPath(const StoreLocation& store, const std::wstring& item);

// Text of a decrypt-side store kind: "普通强度", "较高强度", "最高强度".
std::wstring KindName(int kind);

}  // namespace cli
