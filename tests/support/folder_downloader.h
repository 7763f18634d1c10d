// A downloader that serves files from a folder, for the self-update tests
// where there is no web: "<base>/a/b.exe" is folder/a/b.exe. It records
// every request, so tests see what was asked and in which order.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/download.h"

namespace testsupport {

class FolderDownloader final : public plat::Downloader {
  public:
    FolderDownloader(std::wstring base, std::wstring folder)
        : base_(std::move(base)), folder_(std::move(folder)) {}

    void RemoveCacheEntry(const std::wstring& url) override;
    // Copies the served file over `path`; false for an address outside the
    // base or a missing file (as a 404 would be).
    bool DownloadToFile(const std::wstring& url, const std::wstring& path) override;

    // "drop <url>" and "get <url>" in the order they came.
    std::vector<std::wstring> Requests() const;
    // How many downloads of `url` were asked for.
    int Gets(const std::wstring& url) const;

  private:
    std::wstring base_, folder_;
    mutable std::mutex mutex_;
    std::vector<std::wstring> requests_;
};

}  // namespace testsupport
