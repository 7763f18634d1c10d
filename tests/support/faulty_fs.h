// A file system that fails on purpose, for "nothing is lost" tests.
//
// It forwards every call to another file system and counts the operations
// that change something: Move, Copy, DeleteFile, CreateDir, RemoveDir,
// SetAttributes, CopyAccess, RestrictToOwner, Open for writing or creating, and File::Write,
// File::Truncate, File::SetTimes on the files it opened. The N-th of them
// (1-based) fails: it returns false / nullptr with the chosen Win32 error
// and changes nothing, except that a failing Write may first put a prefix
// of its data on disk, as a full disk does. SyncVolume changes nothing one
// can see and is passed through uncounted. Typical use:
//
//   FaultyFileSystem probe;  { ScopedFileSystem s(probe); RunPass(); }
//   for (int n = 1; n <= probe.Count(); ++n) {
//       FaultyFileSystem fs; fs.FailAt(n, plat::kErrDiskFull);
//       { ScopedFileSystem s(fs); RunPass(); }  ... check nothing is lost
//   }
//
// Counting is thread-safe. Files it opened must not outlive it.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "platform/fs.h"

namespace testsupport {

class FaultyFileSystem final : public plat::FileSystem {
  public:
    explicit FaultyFileSystem(plat::FileSystem& inner = plat::OsFileSystem()) : inner_(inner) {}

    // Fails the n-th mutating operation (0: none) with `error`. With
    // `sticky` every later one fails as well (a disk that stays full).
    void FailAt(int n, uint32_t error = plat::kErrAccessDenied, bool sticky = false) {
        failAt_ = n;
        error_ = error;
        sticky_ = sticky;
    }
    // Bytes the first failing Write still puts on disk before it fails.
    void SetPartialWrite(uint32_t bytes) { partialWrite_ = bytes; }

    // Mutating operations seen so far, the failed ones included.
    int Count() const { return count_.load(); }
    // How many operations were made to fail.
    int Failures() const { return failures_.load(); }
    // The first operation made to fail, e.g. "Move a -> b"; empty if none.
    std::string FailedOp() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return failedOp_;
    }

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
    bool CopyAccess(const std::wstring& from, const std::wstring& to) override;
    bool RestrictToOwner(const std::wstring& path) override;
    bool SyncVolume(const std::wstring& path) override { return inner_.SyncVolume(path); }

    // Counts one mutating operation; true when it must fail (LastError set).
    // `first` tells whether this is the first failure (the one that fills
    // the disk; later sticky failures write nothing).
    bool ShouldFail(const char* op, const std::wstring& a, const std::wstring& b = L"",
                    bool* first = nullptr);
    uint32_t PartialWrite() const { return partialWrite_.load(); }

  private:
    plat::FileSystem& inner_;
    std::atomic<int> count_{0};
    std::atomic<int> failures_{0};
    std::atomic<int> failAt_{0};
    std::atomic<uint32_t> error_{plat::kErrAccessDenied};
    std::atomic<bool> sticky_{false};
    std::atomic<uint32_t> partialWrite_{0};
    mutable std::mutex mutex_;
    std::string failedOp_;
};

}  // namespace testsupport
