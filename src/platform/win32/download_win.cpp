// Downloads through the system's web client: its cache entry dropped first,
// then the body written straight into the file.
#include "platform/download.h"
#include "platform/win32/win.h"
// After windows.h:
#include <objbase.h>
#include <urlmon.h>
#include <wininet.h>

namespace plat {
namespace {

class WinDownloader final : public Downloader {
  public:
    void RemoveCacheEntry(const std::wstring& url) override {
        (void)DeleteUrlCacheEntryW(url.c_str());
    }
    bool DownloadToFile(const std::wstring& url, const std::wstring& path) override {
        // The web client binds through COM objects: a worker thread needs
        // COM of its own; a thread that has it keeps it.
        const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        const bool ok = URLDownloadToFileW(nullptr, url.c_str(), path.c_str(), 0, nullptr) == S_OK;
        if (SUCCEEDED(com)) CoUninitialize();
        return ok;
    }
};

}  // namespace

Downloader* OsDownloader() {
    static WinDownloader downloader;
    return &downloader;
}

}  // namespace plat
