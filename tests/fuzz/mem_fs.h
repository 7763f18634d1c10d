// A small in-memory file system for the fuzz targets: thousands of runs a
// second need no disk. It keeps Win32 rules where the readers look at them
// (missing parents, folders refused by Open, Move never replacing) and
// nothing more: no times, no attributes beyond DIRECTORY and what is set.
#pragma once

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/fs.h"

namespace fuzzsupport {

class MemFs final : public plat::FileSystem {
  public:
    struct Node {
        bool dir = false;
        uint32_t attrs = 0;
        std::shared_ptr<std::string> data = std::make_shared<std::string>();
    };

    MemFs() { nodes_[L"/"] = Dir(); }

    // Test set-up: a folder chain and a file with content.
    void MakeDirs(const std::wstring& path) {
        for (size_t at = 1; at <= path.size(); ++at)
            if (at == path.size() || path[at] == L'/') nodes_.emplace(path.substr(0, at), Dir());
    }
    void Put(const std::wstring& path, const std::string& bytes, uint32_t attrs = 0) {
        Node n;
        n.attrs = attrs;
        *n.data = bytes;
        nodes_[path] = n;
    }

    bool ListDir(const std::wstring& dir, std::vector<plat::DirEntry>* out) override {
        out->clear();
        const Node* d = Find(dir);
        if (!d) return Fail(plat::kErrPathNotFound);
        if (!d->dir) return Fail(plat::kErrDirectory);
        const std::wstring prefix = plat::WithSep(dir);
        for (auto it = nodes_.lower_bound(prefix); it != nodes_.end(); ++it) {
            if (it->first.compare(0, prefix.size(), prefix) != 0) break;
            const std::wstring leaf = it->first.substr(prefix.size());
            if (leaf.empty() || leaf.find(L'/') != std::wstring::npos) continue;
            plat::DirEntry e;
            e.name = leaf;
            e.attributes = Attributes(it->second);
            e.size = it->second.dir ? 0 : it->second.data->size();
            out->push_back(e);
        }
        return true;
    }
    uint32_t GetAttributes(const std::wstring& path) override {
        const Node* n = Find(path);
        if (!n) {
            Fail(MissingError(path));
            return plat::kInvalidAttributes;
        }
        return Attributes(*n);
    }
    bool SetAttributes(const std::wstring& path, uint32_t attrs) override {
        Node* n = Find(path);
        if (!n) return Fail(MissingError(path));
        n->attrs = attrs & ~(plat::kAttrDirectory | plat::kAttrNormal);
        return true;
    }
    bool CreateDir(const std::wstring& path) override {
        if (Find(path)) return Fail(plat::kErrAlreadyExists);
        if (!ParentIsDir(path)) return Fail(plat::kErrPathNotFound);
        nodes_[path] = Dir();
        return true;
    }
    bool RemoveDir(const std::wstring& path) override {
        Node* n = Find(path);
        if (!n) return Fail(MissingError(path));
        if (!n->dir) return Fail(plat::kErrDirectory);
        auto next = nodes_.upper_bound(path);
        if (next != nodes_.end() && next->first.compare(0, path.size() + 1, path + L"/") == 0)
            return Fail(plat::kErrDirNotEmpty);
        nodes_.erase(path);
        return true;
    }
    bool Move(const std::wstring& from, const std::wstring& to) override {
        if (!Find(from)) return Fail(MissingError(from));
        if (Find(to)) return Fail(plat::kErrAlreadyExists);
        if (!ParentIsDir(to)) return Fail(plat::kErrPathNotFound);
        // The object and everything below it take the new prefix.
        std::vector<std::pair<std::wstring, Node>> moved;
        for (auto it = nodes_.begin(); it != nodes_.end();) {
            if (it->first == from || it->first.compare(0, from.size() + 1, from + L"/") == 0) {
                moved.emplace_back(to + it->first.substr(from.size()), it->second);
                it = nodes_.erase(it);
            } else {
                ++it;
            }
        }
        for (auto& [p, n] : moved) nodes_[p] = n;
        return true;
    }
    bool Copy(const std::wstring& from, const std::wstring& to, bool failIfExists) override {
        const Node* src = Find(from);
        if (!src) return Fail(MissingError(from));
        if (src->dir) return Fail(plat::kErrAccessDenied);
        if (const Node* dst = Find(to)) {
            if (failIfExists) return Fail(plat::kErrFileExists);
            if (dst->dir || (dst->attrs & (plat::kAttrReadOnly | plat::kAttrHidden)))
                return Fail(plat::kErrAccessDenied);
        } else if (!ParentIsDir(to)) {
            return Fail(plat::kErrPathNotFound);
        }
        Node copy;
        copy.attrs = src->attrs;
        *copy.data = *src->data;
        nodes_[to] = copy;
        return true;
    }
    bool DeleteFile(const std::wstring& path) override {
        const Node* n = Find(path);
        if (!n) return Fail(MissingError(path));
        if (n->dir || (n->attrs & plat::kAttrReadOnly)) return Fail(plat::kErrAccessDenied);
        nodes_.erase(path);
        return true;
    }
    std::unique_ptr<plat::File> Open(const std::wstring& path, plat::Access access,
                                     plat::Disposition disposition) override {
        Node* n = Find(path);
        const bool writes =
            access == plat::Access::ReadWrite || disposition == plat::Disposition::CreateAlways;
        if (n) {
            if (disposition == plat::Disposition::CreateNew) return Null(plat::kErrFileExists);
            if (n->dir || (n->attrs & plat::kAttrReparsePoint) ||
                (writes && (n->attrs & plat::kAttrReadOnly)))
                return Null(plat::kErrAccessDenied);
            if (disposition == plat::Disposition::CreateAlways) n->data->clear();
        } else {
            if (disposition == plat::Disposition::OpenExisting) return Null(MissingError(path));
            if (!ParentIsDir(path)) return Null(plat::kErrPathNotFound);
            n = &nodes_[path];
        }
        return std::make_unique<MemFile>(n->data, access == plat::Access::ReadWrite);
    }
    bool CopyAccess(const std::wstring& from, const std::wstring& to) override {
        if (!Find(from)) return Fail(MissingError(from));
        return Find(to) ? true : Fail(MissingError(to));
    }
    bool RestrictToOwner(const std::wstring& path) override {
        const Node* n = Find(path);
        if (!n) return Fail(MissingError(path));
        return n->dir ? Fail(plat::kErrAccessDenied) : true;
    }
    bool SyncVolume(const std::wstring&) override { return true; }
    std::wstring LongPathName(const std::wstring& path) override {
        return Find(path) ? path : std::wstring();
    }

  private:
    class MemFile final : public plat::File {
      public:
        MemFile(std::shared_ptr<std::string> data, bool writable)
            : data_(std::move(data)), writable_(writable) {}
        bool Read(void* buf, uint32_t len, uint32_t* done) override {
            const uint64_t n =
                pos_ < data_->size() ? std::min<uint64_t>(len, data_->size() - pos_) : 0;
            if (n) std::memcpy(buf, data_->data() + pos_, size_t(n));
            pos_ += n;
            *done = uint32_t(n);
            return true;
        }
        bool ReadAt(uint64_t offset, void* buf, uint32_t len, uint32_t* done) override {
            const uint64_t n =
                offset < data_->size() ? std::min<uint64_t>(len, data_->size() - offset) : 0;
            if (n) std::memcpy(buf, data_->data() + offset, size_t(n));
            *done = uint32_t(n);
            return true;
        }
        bool Write(const void* buf, uint32_t len, uint32_t* done) override {
            *done = 0;
            if (!writable_) return Fail(plat::kErrAccessDenied);
            if (data_->size() < pos_ + len) data_->resize(size_t(pos_ + len));
            std::memcpy(data_->data() + pos_, buf, len);
            pos_ += len;
            *done = len;
            return true;
        }
        bool Seek(int64_t offset, int whence, uint64_t* newPos) override {
            int64_t base = whence == SEEK_CUR   ? int64_t(pos_)
                           : whence == SEEK_END ? int64_t(data_->size())
                                                : 0;
            if (offset < 0 && -offset > base) return Fail(131);  // before the start
            pos_ = uint64_t(base + offset);
            if (newPos) *newPos = pos_;
            return true;
        }
        bool Size(uint64_t* size) override {
            *size = data_->size();
            return true;
        }
        bool Truncate() override {
            if (!writable_) return Fail(plat::kErrAccessDenied);
            data_->resize(size_t(pos_));
            return true;
        }
        bool GetTimes(plat::FileTimes* times) override {
            *times = plat::FileTimes();
            return true;
        }
        bool SetTimes(const plat::FileTimes&) override { return true; }
        bool Flush() override { return true; }

      private:
        std::shared_ptr<std::string> data_;
        bool writable_;
        uint64_t pos_ = 0;
    };

    static Node Dir() {
        Node n;
        n.dir = true;
        return n;
    }
    static bool Fail(uint32_t code) {
        plat::SetLastError(code);
        return false;
    }
    static std::unique_ptr<plat::File> Null(uint32_t code) {
        plat::SetLastError(code);
        return nullptr;
    }
    static uint32_t Attributes(const Node& n) {
        return n.dir ? (n.attrs | plat::kAttrDirectory) : (n.attrs | plat::kAttrArchive);
    }
    Node* Find(const std::wstring& path) {
        auto it = nodes_.find(plat::WithoutSep(path));
        return it == nodes_.end() ? nullptr : &it->second;
    }
    bool ParentIsDir(const std::wstring& path) {
        const std::wstring parent = plat::WithoutSep(plat::ParentWithSep(path));
        const Node* p = parent.empty() ? nullptr : Find(parent);
        return p && p->dir;
    }
    uint32_t MissingError(const std::wstring& path) {
        return ParentIsDir(path) ? plat::kErrFileNotFound : plat::kErrPathNotFound;
    }

    std::map<std::wstring, Node> nodes_;
};

}  // namespace fuzzsupport
