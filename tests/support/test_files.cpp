#include "support/test_files.h"

#include <atomic>
#include <random>
#include <vector>

#include "platform/env.h"

namespace testsupport {

TempFolder::TempFolder() {
    static std::atomic<unsigned> counter{0};
    static const unsigned salt = std::random_device{}();
    plat::FileSystem& fs = plat::OsFileSystem();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::wstring p = plat::JoinPath(plat::TempDir(), L"ulxt-" + std::to_wstring(salt % 100000) +
                                                             L"-" + std::to_wstring(++counter));
        if (fs.CreateDir(p)) {
            path_ = plat::WithSep(p);
            return;
        }
    }
}

TempFolder::~TempFolder() {
    if (!path_.empty()) RemoveTree(plat::WithoutSep(path_));
}

bool RemoveTree(const std::wstring& path) {
    plat::FileSystem& fs = plat::OsFileSystem();
    uint32_t attrs = fs.GetAttributes(path);
    if (attrs == plat::kInvalidAttributes) return true;
    bool ok = true;
    if ((attrs & plat::kAttrDirectory) && !(attrs & plat::kAttrReparsePoint)) {
        std::vector<plat::DirEntry> entries;
        if (fs.ListDir(path, &entries)) {
            for (const auto& e : entries) ok = RemoveTree(plat::JoinPath(path, e.name)) && ok;
        }
        (void)fs.SetAttributes(path, plat::kAttrDirectory);
        return fs.RemoveDir(path) && ok;
    }
    if (attrs & (plat::kAttrReadOnly | plat::kAttrHidden | plat::kAttrSystem))
        (void)fs.SetAttributes(path, plat::kAttrNormal);
    return fs.DeleteFile(path) && ok;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    auto f = plat::Fs().Open(path, plat::Access::ReadWrite, plat::Disposition::CreateAlways);
    return f && f->WriteAll(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

bool ReadFileBytes(const std::wstring& path, std::string* out) {
    out->clear();
    auto f = plat::Fs().Open(path, plat::Access::Read, plat::Disposition::OpenExisting);
    uint64_t size = 0;
    if (!f || !f->Size(&size)) return false;
    out->resize(static_cast<size_t>(size));
    return size == 0 || f->ReadExact(out->data(), static_cast<uint32_t>(size));
}

std::string ReadFileBytes(const std::wstring& path) {
    std::string out;
    return ReadFileBytes(path, &out) ? out : std::string("<missing>");
}

}  // namespace testsupport
