#include "ui/browse/logic/opened_items.h"

#include <algorithm>

#include "platform/fs.h"
#include "platform/text.h"

namespace ui::browse {

namespace {

bool IsSep(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// `inner` lies strictly inside the folder `outer`.
bool IsInside(const std::wstring& inner, const std::wstring& outer) {
    return inner.size() > outer.size() && IsSameOrInside(inner, outer);
}

void AddOnce(std::vector<std::wstring>& list, const std::wstring& rel) {
    for (const auto& p : list)
        if (plat::EqualsNoCase(p, rel)) return;
    list.push_back(rel);
}

}  // namespace

bool IsSameOrInside(const std::wstring& path, const std::wstring& prefix) {
    if (prefix.empty() || !plat::StartsWithNoCase(path, prefix)) return false;
    // "photos" holds "photos<sep>a" but not "photos2": a raw prefix is not a folder.
    return path.size() == prefix.size() || IsSep(path[prefix.size()]) || IsSep(prefix.back());
}

void OpenedItems::SetBrowseRelativePath(const std::wstring& rel) {
    std::lock_guard<std::mutex> g(lock_);
    browseRel_ = rel;
}

std::wstring OpenedItems::BrowseRelativePath() const {
    std::lock_guard<std::mutex> g(lock_);
    return browseRel_;
}

bool OpenedItems::IsOpenedLocked(const std::wstring& rel) const {
    if (rel.empty()) return false;
    for (const auto& f : files_)
        if (plat::EqualsNoCase(f.rel, rel)) return true;
    for (const auto& d : folders_)
        if (IsSameOrInside(rel, d.rel)) return true;
    for (const auto& w : waiting_)
        if (IsSameOrInside(rel, w)) return true;
    return false;
}

bool OpenedItems::IsOpenedPath(const std::wstring& rel) const {
    std::lock_guard<std::mutex> g(lock_);
    return IsOpenedLocked(rel);
}

bool OpenedItems::HoldsInside(const std::wstring& rel) const {
    std::lock_guard<std::mutex> g(lock_);
    if (IsOpenedLocked(rel)) return true;
    for (const auto& f : files_)
        if (IsSameOrInside(f.rel, rel)) return true;
    for (const auto& d : folders_)
        if (IsSameOrInside(d.rel, rel)) return true;
    for (const auto& w : waiting_)
        if (IsSameOrInside(w, rel)) return true;
    return false;
}

void OpenedItems::AddFile(const std::wstring& rel, Handle process) {
    std::lock_guard<std::mutex> g(lock_);
    files_.push_back({rel, process});
}

bool OpenedItems::FileProgramEnded(const std::wstring& rel, Handle process) {
    std::lock_guard<std::mutex> g(lock_);
    if (closing_) return false;
    auto it = std::find_if(files_.begin(), files_.end(), [&](const FileEntry& f) {
        return f.process == process && plat::EqualsNoCase(f.rel, rel);
    });
    if (it == files_.end()) return false;  // already taken by the close sequence
    files_.erase(it);
    return !IsOpenedLocked(rel);
}

void OpenedItems::AddFolder(const std::wstring& rel, std::vector<Handle> existing) {
    std::lock_guard<std::mutex> g(lock_);
    folders_.push_back({rel, 0, std::move(existing)});
}

std::vector<std::wstring> OpenedItems::FoldersAwaitingWindow() const {
    std::lock_guard<std::mutex> g(lock_);
    std::vector<std::wstring> out;
    for (const auto& d : folders_)
        if (!d.window) out.push_back(d.rel);
    return out;
}

bool OpenedItems::SetFolderWindow(const std::wstring& rel, Handle window) {
    std::lock_guard<std::mutex> g(lock_);
    if (!window) return false;
    for (const auto& d : folders_)
        if (d.window == window) return false;
    for (auto& d : folders_) {
        if (d.window || !plat::EqualsNoCase(d.rel, rel)) continue;
        if (std::find(d.foreign.begin(), d.foreign.end(), window) != d.foreign.end()) return false;
        d.window = window;
        return true;
    }
    return false;
}

std::vector<std::wstring> OpenedItems::ScanClosedFolders(
    const std::function<bool(Handle)>& isWindow) {
    std::lock_guard<std::mutex> g(lock_);
    std::vector<std::wstring> collected;
    if (closing_) return collected;
    for (size_t i = 0; i < folders_.size();) {
        const FolderEntry& e = folders_[i];
        if (!e.window || isWindow(e.window)) {
            ++i;
            continue;
        }
        bool insideOther = false, holdsOther = false;
        for (size_t j = 0; j < folders_.size(); ++j) {
            if (j == i) continue;
            insideOther = insideOther || IsInside(e.rel, folders_[j].rel);
            holdsOther = holdsOther || IsInside(folders_[j].rel, e.rel);
        }
        if (!insideOther && holdsOther) {
            ++i;  // an opened folder inside it is still in use
            continue;
        }
        const std::wstring rel = e.rel;
        folders_.erase(folders_.begin() + long(i));
        if (insideOther) continue;  // the enclosing folder takes it back
        // A file opened inside it keeps the folder's copy out too.
        if (!IsOpenedLocked(rel) && std::none_of(files_.begin(), files_.end(), [&](const auto& f) {
                return IsSameOrInside(f.rel, rel);
            }))
            AddOnce(collected, rel);
        else
            AddOnce(waiting_, rel);
    }
    return collected;
}

void OpenedItems::AddWaiting(const std::wstring& rel) {
    std::lock_guard<std::mutex> g(lock_);
    AddOnce(waiting_, rel);
}

std::vector<std::wstring> OpenedItems::TakeWaiting() {
    std::lock_guard<std::mutex> g(lock_);
    std::vector<std::wstring> out;
    if (closing_) return out;
    // Only what nothing open still covers: a waiting folder with an open
    // file inside stays until that file's program ends.
    for (size_t i = 0; i < waiting_.size();) {
        const std::wstring w = waiting_[i];
        const bool covered =
            std::any_of(files_.begin(), files_.end(),
                        [&](const auto& f) {
                            return IsSameOrInside(f.rel, w) || IsSameOrInside(w, f.rel);
                        }) ||
            std::any_of(folders_.begin(), folders_.end(), [&](const auto& d) {
                return IsSameOrInside(d.rel, w) || IsSameOrInside(w, d.rel);
            });
        if (covered) {
            ++i;
        } else {
            out.push_back(w);
            waiting_.erase(waiting_.begin() + long(i));
        }
    }
    return out;
}

bool OpenedItems::AnyOpen() const {
    std::lock_guard<std::mutex> g(lock_);
    return !files_.empty() || !folders_.empty() || !waiting_.empty();
}

OpenedItems::CloseSet OpenedItems::BeginClosing() {
    std::lock_guard<std::mutex> g(lock_);
    closing_ = true;
    CloseSet out;
    for (const auto& d : folders_) {
        if (d.window) out.folderWindows.push_back(d.window);
        AddOnce(out.paths, d.rel);
    }
    for (const auto& f : files_) {
        if (f.process) out.processes.push_back(f.process);
        AddOnce(out.paths, f.rel);
    }
    for (const auto& w : waiting_) {
        AddOnce(out.paths, w);
        bool open = false;
        for (const auto& d : folders_) open = open || IsSameOrInside(w, d.rel);
        for (const auto& f : files_) open = open || plat::EqualsNoCase(w, f.rel);
        if (!open) AddOnce(out.idle, w);
    }
    // A path inside another one goes back with it.
    std::vector<std::wstring> outer;
    for (const auto& p : out.paths) {
        bool inside = false;
        for (const auto& q : out.paths) inside = inside || IsInside(p, q);
        if (!inside) outer.push_back(p);
    }
    out.paths = outer;
    folders_.clear();
    files_.clear();
    waiting_.clear();
    return out;
}

bool OpenedItems::Closing() const {
    std::lock_guard<std::mutex> g(lock_);
    return closing_;
}

std::vector<OpenedItems::FileEntry> OpenedItems::Files() const {
    std::lock_guard<std::mutex> g(lock_);
    return files_;
}

std::vector<OpenedItems::FolderEntry> OpenedItems::Folders() const {
    std::lock_guard<std::mutex> g(lock_);
    return folders_;
}

}  // namespace ui::browse
