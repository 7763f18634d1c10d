// Fetching a file over the web, for the program's self-update. Windows asks
// the system's web client; posix has none (the command never updates itself),
// and tests bring their own.
#pragma once

#include <string>

namespace plat {

class Downloader {
  public:
    virtual ~Downloader() = default;
    // Drops what the system's web cache holds for `url`, so the next
    // download asks the server again.
    virtual void RemoveCacheEntry(const std::wstring& url) = 0;
    // Writes the body of `url` into the file `path` (created or replaced).
    // False on any failure, an error status of the server included; `path`
    // may then hold anything.
    [[nodiscard]] virtual bool DownloadToFile(const std::wstring& url,
                                              const std::wstring& path) = 0;
};

// The system's web client; null where the build has none.
Downloader* OsDownloader();

}  // namespace plat
