#include "update/auto_upgrade.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "app/globals.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "update/update_rules.h"

namespace update {
namespace {

constexpr int kAttempts = 3;

void Pause(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Creates a new, empty file of ours in `folder` that nothing else had;
// its path, or empty.
std::wstring ReserveTemporary(const std::wstring& folder) {
    static std::atomic<uint32_t> next{0};
    const uint32_t pid = plat::CurrentProcessId();
    for (int tries = 0; tries < 100; ++tries) {
        const std::wstring path = plat::JoinPath(folder, TemporaryName(pid, next++));
        if (plat::Fs().Open(path, plat::Access::ReadWrite, plat::Disposition::CreateNew))
            return path;
        if (plat::LastError() != plat::kErrFileExists &&
            plat::LastError() != plat::kErrAlreadyExists)
            return {};
    }
    return {};
}

bool ReadHead(const std::wstring& path, std::string* head, uint64_t* size) {
    auto f = plat::Fs().Open(path, plat::Access::Read, plat::Disposition::OpenExisting);
    if (!f || !f->Size(size)) return false;
    head->resize(static_cast<size_t>(std::min<uint64_t>(*size, kExecutableHeadSize)));
    return head->empty() || f->ReadExact(head->data(), static_cast<uint32_t>(head->size()));
}

}  // namespace

CAutoUpgrade::CAutoUpgrade(plat::Downloader& web, std::wstring modulePath, std::wstring tempDir,
                           std::wstring base)
    : web_(web),
      modulePath_(std::move(modulePath)),
      moduleFolder_(plat::ParentWithSep(modulePath_)),
      tempDir_(std::move(tempDir)),
      base_(std::move(base)) {}

int CAutoUpgrade::CheckVersion() {
    const std::wstring url = DescriptionUrl(base_, app::kVersion);
    SourceUrls.clear();
    SourceLengths.clear();
    const std::wstring local = ReserveTemporary(tempDir_);
    if (local.empty()) return -1;
    web_.RemoveCacheEntry(url);
    const bool fetched = web_.DownloadToFile(url, local);
    std::string bytes;
    if (fetched) {
        Pause(18);
        if (!plat::ReadSmallFile(local, kMaxDescriptionSize, &bytes)) bytes.clear();
    }
    (void)plat::Fs().DeleteFile(local);
    if (!fetched) return -1;
    const Description d = ParseDescription(bytes);
    DllVersion = d.dllVersion;
    SourceUrls = d.urls;
    SourceLengths = d.lengths;
    return d.version;
}

std::wstring CAutoUpgrade::Fetch(const std::wstring& url, const std::wstring& folder) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const std::wstring path = ReserveTemporary(folder);
        if (!path.empty()) {
            web_.RemoveCacheEntry(url);
            if (web_.DownloadToFile(url, path)) return path;
            (void)plat::Fs().DeleteFile(path);
        }
        if (attempt + 1 < kAttempts) Pause(100);
    }
    return {};
}

bool CAutoUpgrade::PassesChecks(const std::wstring& path, uint32_t minimum, bool isProgram) {
    if (minimum == 0 && !isProgram) return true;
    std::string head;
    uint64_t size = 0;
    if (!ReadHead(path, &head, &size)) return false;
    if (size < minimum) return false;
    return !isProgram ||
           IsGuiX64Executable(reinterpret_cast<const uint8_t*>(head.data()), head.size());
}

bool CAutoUpgrade::InstallProgram(const std::wstring& temporary) {
    const std::wstring old = modulePath_ + L".old";
    (void)plat::Fs().DeleteFile(old);
    if (!plat::Fs().Move(modulePath_, old)) return false;
    if (plat::Fs().Move(temporary, modulePath_)) return true;
    // Never leave the folder without its program: the running one goes
    // back, or at least a copy of it.
    if (!plat::Fs().Move(old, modulePath_)) (void)plat::Fs().Copy(old, modulePath_, true);
    return false;
}

void CAutoUpgrade::PlaceOtherFile(const std::wstring& temporary, const std::wstring& name) {
    const std::wstring target = moduleFolder_ + name;
    if (plat::Fs().Move(temporary, target)) return;
    // An existing file stays; the new copy goes beside it under a name that
    // was free, or nowhere.
    for (int i = 0; i < 10; ++i) {
        const std::wstring aside = target + L".new" + (i ? std::to_wstring(i) : L"");
        if (plat::Fs().Move(temporary, aside)) return;
    }
    (void)plat::Fs().DeleteFile(temporary);
}

int CAutoUpgrade::DownloadAndReplace() {
    int result = 1;
    const std::wstring programName = plat::LeafName(modulePath_);
    for (size_t i = 0; i < SourceUrls.size(); ++i) {
        const bool isProgram = i == 0;
        const std::wstring& url = SourceUrls[i];
        const uint32_t minimum = i < SourceLengths.size() ? SourceLengths[i] : 0;
        const std::wstring name = LocalNameOf(url);
        std::wstring temporary;
        if (IsUnderBase(url, base_) && IsAcceptableName(name, isProgram, programName))
            temporary = Fetch(url, moduleFolder_);
        if (!temporary.empty() && !PassesChecks(temporary, minimum, isProgram)) {
            (void)plat::Fs().DeleteFile(temporary);
            temporary.clear();
        }
        if (temporary.empty()) {
            if (isProgram) result = 0;
            continue;
        }
        Pause(100);
        if (isProgram) {
            if (!InstallProgram(temporary)) {
                result = 0;
                (void)plat::Fs().DeleteFile(temporary);
            }
        } else {
            PlaceOtherFile(temporary, name);
        }
    }
    return result;
}

void RemoveLeftovers(const std::wstring& folder) {
    std::vector<plat::DirEntry> entries;
    if (folder.empty() || !plat::Fs().ListDir(folder, &entries)) return;
    const uint32_t self = plat::CurrentProcessId();
    for (const plat::DirEntry& e : entries) {
        uint32_t pid = 0;
        if (e.attributes & (plat::kAttrDirectory | plat::kAttrReparsePoint)) continue;
        if (!IsTemporaryName(e.name, &pid) || pid == self || plat::IsProcessRunning(pid)) continue;
        (void)plat::Fs().DeleteFile(plat::JoinPath(folder, e.name));
    }
}

int RunUpdateCheck(plat::Downloader& web, const std::wstring& modulePath,
                   const std::wstring& tempDir, const std::wstring& base) {
    RemoveLeftovers(plat::ParentWithSep(modulePath));
    RemoveLeftovers(tempDir);
    CAutoUpgrade upgrade(web, modulePath, tempDir, base);
    if (upgrade.CheckVersion() > app::kVersion) (void)upgrade.DownloadAndReplace();
    return 1;
}

void StartUpdateThread(const std::wstring& modulePath) {
    plat::Downloader* web = plat::OsDownloader();
    if (!web || modulePath.empty()) return;
    const std::wstring base = AcceptedBase(plat::EnvironmentValue(kBaseVariable));
    // The process may end while the thread works; what it leaves behind is
    // removed by the next start.
    std::thread([web, modulePath, base] {
        (void)RunUpdateCheck(*web, modulePath, plat::TempDir(), base);
    }).detach();
}

}  // namespace update
