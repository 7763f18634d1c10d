#include "support/folder_downloader.h"

#include "platform/fs.h"
#include "support/test_files.h"

namespace testsupport {

void FolderDownloader::RemoveCacheEntry(const std::wstring& url) {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(L"drop " + url);
}

bool FolderDownloader::DownloadToFile(const std::wstring& url, const std::wstring& path) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(L"get " + url);
    }
    if (url.compare(0, base_.size(), base_) != 0 || url.size() <= base_.size() + 1 ||
        url[base_.size()] != L'/')
        return false;
    std::wstring rel = url.substr(base_.size() + 1);
    for (wchar_t& c : rel)
        if (c == L'/') c = plat::kSep;
    std::string bytes;
    if (!ReadFileBytes(plat::JoinPath(folder_, rel), &bytes)) return false;
    return WriteFileBytes(path, bytes);
}

std::vector<std::wstring> FolderDownloader::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

int FolderDownloader::Gets(const std::wstring& url) const {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (const std::wstring& r : requests_) n += r == L"get " + url;
    return n;
}

}  // namespace testsupport
