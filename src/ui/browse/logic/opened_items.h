// What the browse window has opened: files watched through their program's
// process, folders watched through their Explorer window, and the folder the
// file list shows. Watcher threads and the main thread share one instance,
// so every operation takes the lock and the decisions that read and change
// the lists (a program ended, a window closed, the close sequence) are one
// step each.
//
// Relative paths are below the store's data folder, without a leading or
// trailing separator ("a<sep>b<sep>report.doc", no encrypted suffix);
// comparisons ignore case.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace ui::browse {

// Process and window handles, kept opaque so the logic needs no <windows.h>.
using Handle = uintptr_t;

class OpenedItems {
  public:
    // The folder the file list shows, relative, "" at the store root,
    // otherwise ending in the separator.
    void SetBrowseRelativePath(const std::wstring& rel);
    std::wstring BrowseRelativePath() const;

    // True when `rel` is an opened file, lies in (or is) an opened folder, or
    // is a working copy waiting to be taken back.
    bool IsOpenedPath(const std::wstring& rel) const;
    // True when an opened item or a waiting copy lies inside the folder `rel`
    // (or is `rel` itself).
    bool HoldsInside(const std::wstring& rel) const;

    // A file's program was started; `process` may be 0 (no process came back).
    void AddFile(const std::wstring& rel, Handle process);
    // The watcher of (rel, process) saw the program end. Removes that entry
    // and tells whether the working copy should go back now: not while the
    // window is closing (the close sequence takes everything back), and not
    // while the same path is still open through another entry.
    bool FileProgramEnded(const std::wstring& rel, Handle process);

    // A folder's Explorer window was started; its window is found later.
    // `existing`: windows under the same titles shown before it started,
    // which are someone else's and never count as its window.
    void AddFolder(const std::wstring& rel, std::vector<Handle> existing = {});
    // Opened folders whose window has not been found yet.
    std::vector<std::wstring> FoldersAwaitingWindow() const;
    // Records `window` for the first awaiting entry of `rel`, unless it was
    // there before that folder opened or another opened folder has it.
    bool SetFolderWindow(const std::wstring& rel, Handle window);

    // The timer's scan of folder windows: entries whose window was found and
    // is gone (`isWindow` false) are settled. One inside another opened folder
    // is dropped (the outer one takes it back); one holding another opened
    // folder waits; any other is removed and, unless an equal entry is
    // still open, returned for taking back. Nothing while closing.
    std::vector<std::wstring> ScanClosedFolders(const std::function<bool(Handle)>& isWindow);

    // Working copies whose program ended while the copy was still in use:
    // kept as opened until a later attempt takes them back.
    void AddWaiting(const std::wstring& rel);
    std::vector<std::wstring> TakeWaiting();

    bool AnyOpen() const;

    // Everything the close sequence (answer Yes) has to end and take back.
    struct CloseSet {
        std::vector<Handle> folderWindows;  // non-null windows of opened folders
        std::vector<Handle> processes;      // non-null processes of opened files
        std::vector<std::wstring> paths;    // folders, files and waiting copies, once each
        // Waiting copies outside every folder and file still open: nothing
        // the user works on any more.
        std::vector<std::wstring> idle;
    };
    // Marks the window as closing (watchers and the folder scan stop taking
    // anything back) and hands over what is open, in one step.
    CloseSet BeginClosing();
    bool Closing() const;

    struct FileEntry {
        std::wstring rel;
        Handle process = 0;
    };
    struct FolderEntry {
        std::wstring rel;
        Handle window = 0;
        std::vector<Handle> foreign;  // shown before the folder opened
    };
    std::vector<FileEntry> Files() const;
    std::vector<FolderEntry> Folders() const;

  private:
    bool IsOpenedLocked(const std::wstring& rel) const;

    mutable std::mutex lock_;
    std::wstring browseRel_;
    std::vector<FileEntry> files_;
    std::vector<FolderEntry> folders_;
    std::vector<std::wstring> waiting_;
    bool closing_ = false;
};

// True when `prefix` is `path` or a folder above it (ignoring case).
bool IsSameOrInside(const std::wstring& path, const std::wstring& prefix);

}  // namespace ui::browse
