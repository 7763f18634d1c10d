// The restore pass: moves everything out of a normal-strength store back into
// its folder and, when nothing failed, removes the store.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/pass_log.h"
#include "engine/pass_ui.h"

namespace engine {

class RestorePass {
  public:
    explicit RestorePass(PassUi& ui, PassLog log = PassLog());
    ~RestorePass();  // waits for a running worker
    RestorePass(const RestorePass&) = delete;
    RestorePass& operator=(const RestorePass&) = delete;

    // The folder whose store is restored; data and parameter folders default
    // to the current-form store inside it (an older store passes its own).
    void SetFolder(const std::wstring& root, const std::wstring& dataFolder = L"",
                   const std::wstring& paramFolder = L"");

    // Checks `typedPassword` with `check` ("输入的密码不正确。" when it
    // refuses) and starts the worker ("解密出错。" when it cannot).
    [[nodiscard]] bool Start(const std::wstring& typedPassword,
                             const std::function<bool(const std::wstring&)>& check);
    // The pass on the caller's thread; raises the done flag.
    void Run();
    void Wait();

    // Moves one object out of the store to `dst` (renamed when taken) and
    // logs a rename. In a strength pass (`strengthPass`) the object was
    // counted as handled already, and the log wording differs.
    [[nodiscard]] bool MoveBack(const std::wstring& src, const std::wstring& dst,
                                bool strengthPass = false);

    // Takes our "desktop.ini" and "readme.txt" out of the folder. Done
    // before the store's content comes back, so files of the user's under
    // the same names come back under those names and stay.
    void RemoveDecorations();

    std::vector<std::wstring> Failures() const;
    bool Renamed() const { return renamedFlag_; }

    // Removes the store of a fully emptied data folder: the store root's
    // decoration, the folder's SYSTEM mark, records, parameter folder and store folders.
    // Nothing is removed while the data folder still holds an object.
    bool RemoveStore();

  private:
    PassUi& ui_;
    PassLog log_;
    std::wstring root_, data_, param_;
    mutable std::mutex failLock_;
    std::vector<std::wstring> failures_;
    bool renamedFlag_ = false;
    std::thread worker_;
};

// Removes the browse working area of a data folder when it is empty: it is
// the program's, not the user's, and must not land in the folder.
void RemoveEmptyWorkingArea(const std::wstring& dataFolder);

// Removes the records, journal and parameter folder of a store whose data
// folder is gone, and the store folders above them once empty. Only files
// of ours are deleted.
void RemoveStoreLeftovers(const std::wstring& root, const std::wstring& paramFolder);

// Removes `dir` and up to three emptied parents above it that lie strictly
// inside `root`.
void RemoveFoldersUpward(const std::wstring& dir, const std::wstring& root);

}  // namespace engine
