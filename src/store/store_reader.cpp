#include "store/store_reader.h"

#include <algorithm>
#include <set>

#include "crypto/content_cipher.h"
#include "platform/text.h"
#include "store/layout.h"

namespace store {

bool SplitViewPath(const std::wstring& rel, std::vector<std::wstring>* parts) {
    parts->clear();
    size_t i = 0;
    while (i <= rel.size()) {
        size_t j = rel.find(L'/', i);
        if (j == std::wstring::npos) j = rel.size();
        std::wstring part = rel.substr(i, j - i);
        if (part == L"." || part == L"..") return false;
        if (!part.empty()) parts->push_back(std::move(part));
        i = j + 1;
    }
    return true;
}

StoreReader::StoreReader(std::wstring dataDir, std::shared_ptr<const crypto::FileKeys> keys)
    : dataDir_(plat::WithoutSep(std::move(dataDir))), keys_(std::move(keys)) {}

bool StoreReader::Load(const std::wstring& storedDir, bool top, Folder* out) {
    std::vector<plat::DirEntry> listed;
    if (!plat::Fs().ListDir(storedDir, &listed)) return false;
    std::map<std::wstring, const ViewEntry*> before;
    for (const auto& e : out->entries) before[e.stored] = &e;
    std::vector<ViewEntry> entries;
    std::set<std::wstring> taken;
    for (const auto& d : listed) {
        // Links are never followed, and were never encrypted: not shown.
        if (d.attributes & plat::kAttrReparsePoint) continue;
        if (top && d.IsDirectory() && plat::EqualsNoCase(d.name, kWorkingFolderName)) continue;
        ViewEntry e;
        e.name = e.stored = d.name;
        e.folder = d.IsDirectory();
        e.storedSize = e.size = d.size;
        e.times = d.times;
        e.probed = e.folder || !keys_ || crypto::ClassifyName(d.name) == crypto::kClassPlain;
        auto old = before.find(d.name);
        if (!e.probed && old != before.end() && old->second->probed &&
            old->second->storedSize == e.storedSize &&
            old->second->times.lastWrite == e.times.lastWrite) {
            e.size = old->second->size;
            e.reason = old->second->reason;
            e.probed = true;
        }
        taken.insert(d.name);
        entries.push_back(std::move(e));
    }
    std::sort(entries.begin(), entries.end(),
              [](const ViewEntry& a, const ViewEntry& b) { return a.stored < b.stored; });
    if (keys_) {
        for (auto& e : entries) {
            if (e.folder || crypto::ClassifyName(e.stored) == crypto::kClassPlain) continue;
            const std::wstring plain = crypto::StripSuffix(e.stored);
            if (plain.empty() || taken.count(plain)) continue;
            e.name = plain;
            taken.insert(plain);
        }
        std::sort(entries.begin(), entries.end(),
                  [](const ViewEntry& a, const ViewEntry& b) { return a.name < b.name; });
    }
    out->entries = std::move(entries);
    out->byName.clear();
    for (size_t k = 0; k < out->entries.size(); ++k) out->byName[out->entries[k].name] = k;
    return true;
}

StoreReader::Folder* StoreReader::FolderOf(const std::wstring& rel, bool fresh,
                                           std::wstring* storedDir) {
    std::vector<std::wstring> parts;
    if (!SplitViewPath(rel, &parts)) {
        plat::SetLastError(plat::kErrPathNotFound);
        return nullptr;
    }
    std::wstring key, dir = dataDir_;
    auto cached = [&](const std::wstring& k, const std::wstring& d, bool top,
                      bool reload) -> Folder* {
        auto it = folders_.find(k);
        if (it != folders_.end() && !reload) return &it->second;
        Folder f;
        if (it != folders_.end()) f = it->second;
        if (!Load(d, top, &f)) return nullptr;
        return &(folders_[k] = std::move(f));
    };
    Folder* f = cached(key, dir, true, fresh && parts.empty());
    for (size_t k = 0; f && k < parts.size(); ++k) {
        auto it = f->byName.find(parts[k]);
        if (it == f->byName.end()) {
            // Something new since the folder was listed.
            f = cached(key, dir, k == 0 && key.empty(), true);
            if (!f) return nullptr;
            it = f->byName.find(parts[k]);
        }
        if (it == f->byName.end() || !f->entries[it->second].folder) {
            plat::SetLastError(plat::kErrPathNotFound);
            return nullptr;
        }
        dir = plat::JoinPath(dir, f->entries[it->second].stored);
        key = key.empty() ? parts[k] : key + L"/" + parts[k];
        f = cached(key, dir, false, fresh && k + 1 == parts.size());
    }
    if (f && storedDir) *storedDir = dir;
    return f;
}

void StoreReader::ProbeEntry(const std::wstring& storedPath, ViewEntry* e) {
    if (e->probed) return;
    crypto::PlainInfo info;
    (void)crypto::PlainFile::Probe(storedPath, keys_.get(), &info);
    e->reason = info.reason;
    e->size = info.ok() ? info.size : e->storedSize;
    e->probed = true;
}

bool StoreReader::List(const std::wstring& rel, std::vector<ViewEntry>* out) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::wstring dir;
    Folder* f = FolderOf(rel, true, &dir);
    if (!f) return false;
    for (auto& e : f->entries) ProbeEntry(plat::JoinPath(dir, e.stored), &e);
    *out = f->entries;
    return true;
}

bool StoreReader::Find(const std::wstring& rel, ViewEntry* out, std::wstring* storedPath) {
    std::vector<std::wstring> parts;
    if (!SplitViewPath(rel, &parts)) {
        plat::SetLastError(plat::kErrFileNotFound);
        return false;
    }
    if (parts.empty()) {
        // The top: the data folder itself, with its own times.
        std::vector<plat::DirEntry> listed;
        const std::wstring parent = plat::WithoutSep(plat::ParentWithSep(dataDir_));
        *out = ViewEntry();
        out->folder = true;
        out->probed = true;
        if (plat::Fs().ListDir(parent, &listed))
            for (const auto& d : listed)
                if (d.name == plat::LeafName(dataDir_)) out->times = d.times;
        if (storedPath) *storedPath = dataDir_;
        return true;
    }
    std::wstring parentRel;
    for (size_t k = 0; k + 1 < parts.size(); ++k) parentRel += (k ? L"/" : L"") + parts[k];
    std::wstring dir;
    Folder* f = FolderOf(parentRel, false, &dir);
    if (!f) return false;
    auto it = f->byName.find(parts.back());
    if (it == f->byName.end()) {
        f = FolderOf(parentRel, true, &dir);
        if (!f) return false;
        it = f->byName.find(parts.back());
        if (it == f->byName.end()) {
            plat::SetLastError(plat::kErrFileNotFound);
            return false;
        }
    }
    ViewEntry& e = f->entries[it->second];
    const std::wstring path = plat::JoinPath(dir, e.stored);
    ProbeEntry(path, &e);
    *out = e;
    if (storedPath) *storedPath = path;
    return true;
}

bool StoreReader::Stat(const std::wstring& rel, ViewEntry* out) {
    std::lock_guard<std::mutex> lock(mutex_);
    return Find(rel, out, nullptr);
}

std::wstring StoreReader::StoredPath(const std::wstring& rel) {
    std::lock_guard<std::mutex> lock(mutex_);
    ViewEntry e;
    std::wstring path;
    return Find(rel, &e, &path) ? path : std::wstring();
}

std::unique_ptr<crypto::PlainFile> StoreReader::Open(const std::wstring& rel,
                                                     std::wstring* reason) {
    ViewEntry e;
    std::wstring path;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!Find(rel, &e, &path)) return nullptr;
    }
    if (e.folder) {
        plat::SetLastError(plat::kErrAccessDenied);
        return nullptr;
    }
    crypto::PlainInfo info;
    std::unique_ptr<crypto::PlainFile> f = crypto::PlainFile::Open(path, keys_.get(), &info);
    if (!f && reason) *reason = info.reason;
    return f;
}

}  // namespace store
