// A file system that forwards to the real one but lets a test make chosen
// operations fail, the way a full, pulled or foreign drive would.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "platform/fs.h"

namespace enginetest {

enum class FsOp {
    ListDir,
    Move,
    CreateDir,
    RemoveDir,
    Delete,
    SetAttributes,
    Copy,
    OpenWrite,
    CopyAccess,
    RestrictToOwner,
    SyncVolume,
};

class HookedFs : public plat::FileSystem {
  public:
    // Returns the error to fail `op` on `path` with, or 0 to let it through.
    std::function<uint32_t(FsOp op, const std::wstring& path)> hook;

    bool ListDir(const std::wstring& dir, std::vector<plat::DirEntry>* out) override {
        return Pass(FsOp::ListDir, dir) && real_.ListDir(dir, out);
    }
    uint32_t GetAttributes(const std::wstring& path) override { return real_.GetAttributes(path); }
    bool SetAttributes(const std::wstring& path, uint32_t attrs) override {
        return Pass(FsOp::SetAttributes, path) && real_.SetAttributes(path, attrs);
    }
    bool CreateDir(const std::wstring& path) override {
        return Pass(FsOp::CreateDir, path) && real_.CreateDir(path);
    }
    bool RemoveDir(const std::wstring& path) override {
        return Pass(FsOp::RemoveDir, path) && real_.RemoveDir(path);
    }
    bool Move(const std::wstring& from, const std::wstring& to) override {
        return Pass(FsOp::Move, from) && real_.Move(from, to);
    }
    bool Copy(const std::wstring& from, const std::wstring& to, bool failIfExists) override {
        return Pass(FsOp::Copy, to) && real_.Copy(from, to, failIfExists);
    }
    bool DeleteFile(const std::wstring& path) override {
        return Pass(FsOp::Delete, path) && real_.DeleteFile(path);
    }
    std::unique_ptr<plat::File> Open(const std::wstring& path, plat::Access access,
                                     plat::Disposition disposition) override {
        if (access == plat::Access::ReadWrite && !Pass(FsOp::OpenWrite, path)) return nullptr;
        return real_.Open(path, access, disposition);
    }
    std::wstring LongPathName(const std::wstring& path) override {
        return real_.LongPathName(path);
    }
    bool CopyAccess(const std::wstring& from, const std::wstring& to) override {
        return Pass(FsOp::CopyAccess, to) && real_.CopyAccess(from, to);
    }
    bool RestrictToOwner(const std::wstring& path) override {
        return Pass(FsOp::RestrictToOwner, path) && real_.RestrictToOwner(path);
    }
    bool SyncVolume(const std::wstring& path) override {
        return Pass(FsOp::SyncVolume, path) && real_.SyncVolume(path);
    }

  private:
    bool Pass(FsOp op, const std::wstring& path) {
        if (!hook) return true;
        uint32_t err = hook(op, path);
        if (err == 0) return true;
        plat::SetLastError(err);
        return false;
    }
    plat::FileSystem& real_ = plat::OsFileSystem();
};

}  // namespace enginetest
