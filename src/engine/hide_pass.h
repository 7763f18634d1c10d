// The hide pass: moves objects, unchanged, into a store's data folder (and
// back from the browse working area into the store). Normal-strength
// encryption is exactly this pass; the strength passes run it first.
#pragma once

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/pass_log.h"
#include "engine/pass_ui.h"

namespace engine {

// Moves between two syncs of the volume, in the passes that only move.
inline constexpr size_t kMovesPerSync = 256;

// What one hide pass does.
struct HideJob {
    std::wstring root;                // folder the objects come from
    std::vector<std::wstring> items;  // names (or relative paths) below root; empty: all of root
    std::wstring password;
    std::wstring mail;
    std::wstring kindText = L"type=0";
    // 0: encrypt root into its own store;
    // 1: return objects from the working area (root lies inside it) to their place in the store;
    // 2: add objects from root into storeFolder's store, below subPath.
    int mode = 0;
    std::wstring storeFolder;  // mode 2: the protected folder
    std::wstring subPath;      // mode 2: position inside the store, "" for its top
    // Mode 0: the store was made already (records included); only move.
    bool storeReady = false;
    // Mode 0: the program placed into the folder; empty: the running one.
    std::wstring exePath;
};

class CJiaMiWeiZhuang {
  public:
    explicit CJiaMiWeiZhuang(PassUi& ui, PassLog log = PassLog());
    // Waits for a worker still running: the pass must not outlive its object.
    ~CJiaMiWeiZhuang();
    CJiaMiWeiZhuang(const CJiaMiWeiZhuang&) = delete;
    CJiaMiWeiZhuang& operator=(const CJiaMiWeiZhuang&) = delete;

    // Creates the store folders (not in mode 1), starts the worker and, in
    // modes 0 and 2, writes the store records from this thread. False when
    // nothing started; the reason is in the log or was shown.
    [[nodiscard]] bool StartThread(const HideJob& job);
    // The same pass on the caller's thread, for the strength passes: store
    // folders only in mode 0, records afterwards in mode 0, done flag left
    // to the caller.
    [[nodiscard]] bool RunInline(const HideJob& job);
    // Synchronous whole pass on the caller's thread: folders, records, the
    // moves, finishing and the done flag. What the command line and tests use.
    [[nodiscard]] bool Run(const HideJob& job);
    // Waits for the worker started by StartThread.
    void Wait();

    // Moves one object; false (counted, listed and logged) when it stays put.
    [[nodiscard]] bool MoveObject(const std::wstring& src, const std::wstring& dst);
    // Moves a folder object by object (folders cannot cross volumes whole).
    void MoveFolderRecursive(const std::wstring& src, const std::wstring& dst);

    // Objects that could not be moved, in order. Read after the pass ended.
    std::vector<std::wstring> Failures() const;
    // Where each moved object of the pass landed (its name may have changed
    // on the way), in order.
    std::vector<std::wstring> Destinations() const;

    // Where an object of the job goes (exposed for the strength pass).
    std::wstring DestinationOf(const std::wstring& src) const;
    // The data folder of the job's store.
    std::wstring DataFolder() const;

  private:
    void Body(bool inlineRun);
    bool CreateBaseFolders();
    void MoveOne(const std::wstring& src);
    void Fail(const std::wstring& src);

    PassUi& ui_;
    PassLog log_;
    HideJob job_;
    int longPathFlag_ = 1;
    bool longPathShown_ = false;
    mutable std::mutex failLock_;
    std::vector<std::wstring> failures_;
    std::vector<std::wstring> destinations_;
    std::thread worker_;
};

// Skip rule of the top level of a folder being encrypted.
bool IsSkippedTopLevelEntry(const std::wstring& fullPath, const std::wstring& name);

}  // namespace engine
