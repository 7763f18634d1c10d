#include "engine/recovery_guard.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "platform/fs.h"
#include "platform/text.h"
#include "store/layout.h"

namespace engine {

std::wstring UnsafeStoreFolder(const std::wstring& folder) {
    const std::wstring top = plat::WithoutSep(folder);
    for (const wchar_t* rootName :
         {store::kStoreRoot, store::kLegacyAlias, store::kLegacyRootVista, store::kLegacyRootXp}) {
        const std::wstring root = plat::JoinPath(top, rootName);
        const plat::InnerFolder r = plat::CheckInnerFolder(top, root);
        if (r == plat::InnerFolder::Missing) continue;
        // A file under the store root's name is the user's: no store there.
        if (r == plat::InnerFolder::Other) {
            if (plat::Fs().IsFile(root) &&
                !(plat::Fs().GetAttributes(root) & plat::kAttrReparsePoint))
                continue;
            return root;
        }
        for (const wchar_t* sub : {store::kDataFolderName, store::kParamFolderName}) {
            const std::wstring path = plat::JoinPath(root, sub);
            if (plat::CheckInnerFolder(root, path) == plat::InnerFolder::Other) return path;
        }
    }
    return {};
}

std::wstring UnsafeStoreText(const std::wstring& folder, const std::wstring& offending) {
    std::wstring rel = offending;
    const std::wstring base = plat::WithSep(folder);
    if (plat::StartsWithNoCase(rel, base)) rel = rel.substr(base.size());
    return L"文件夹“" + plat::WithoutSep(folder) + L"”中的“" + rel +
           L"”不是该文件夹里真正的文件夹（它是链接、挂载点、文件，或在别的磁盘上），"
           L"可能是别人做过手脚。为安全起见，没有对该文件夹做任何处理。";
}

namespace {

constexpr uint64_t kMaxJournalBytes = 64ull << 20;

bool IsRecordName(const std::wstring& name) {
    static const wchar_t* const kNames[] = {
        store::kOldResetRecord,       store::kOldPasswordRecord, store::kOldLegacySealedRecord,
        store::kOldMailRecord,        store::kOldKindRecord,     store::kOldRenameFailList,
        store::kResetRecord,          store::kPasswordRecord,    store::kLegacySealedRecord,
        store::kMailRecord,           store::kKindRecord,        store::kRenameFailList,
        store::kSecondPasswordRecord, store::kSealedRecord,      store::kDecorationRecord,
        store::kStoreIdRecord};
    for (const wchar_t* n : kNames)
        if (plat::EqualsNoCase(name, n)) return true;
    // Re-sealing moves an older sealed record aside as "imimff[N].ulxjm.zpwenc0".
    return plat::EqualsNoCase(name, std::wstring(store::kPasswordRecord) + L".tmp") ||
           (plat::StartsWithNoCase(name, L"imimff[") &&
            plat::EndsWithNoCase(name, std::wstring(L"].ulxjm.zpwenc0")));
}

bool IsJournalName(const std::wstring& name) {
    // Both slots, and journals set aside as not ours to apply.
    return plat::EqualsNoCase(name, kJournalName) ||
           plat::EqualsNoCase(name, std::wstring(kJournalName) + L".new") ||
           plat::StartsWithNoCase(name, std::wstring(kJournalName) + L".damaged");
}

// A kind line of ours, the start of one, or one a pulled drive zeroed.
bool IsOurKindLine(const std::string& bytes) {
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == 0; })) return true;
    for (const char* kind : {"fftype=0", "fftype=1", "fftype=2", "type=0", "type=1", "type=2"}) {
        const std::string k = kind;
        if (bytes.size() > k.size()) continue;
        bool same = true;
        for (size_t i = 0; i < bytes.size() && same; ++i)
            same = std::tolower(static_cast<unsigned char>(bytes[i])) == k[i];
        if (same) return true;
    }
    return false;
}

// Empty: ours; otherwise the name of the first thing that is not.
std::wstring NotOurs(const std::wstring& folder) {
    plat::FileSystem& fs = plat::Fs();
    const std::wstring root = plat::JoinPath(folder, store::kStoreRoot);
    const std::wstring param = store::ParamDir(folder);
    std::vector<plat::DirEntry> entries;
    if (!fs.ListDir(root, &entries)) return root;
    for (const auto& e : entries) {
        const std::wstring path = plat::JoinPath(root, e.name);
        if (e.attributes & plat::kAttrReparsePoint) return path;
        if (plat::EqualsNoCase(e.name, store::kParamFolderName) && e.IsDirectory()) continue;
        std::string bytes;
        if (plat::EqualsNoCase(e.name, store::kDesktopIni) && !e.IsDirectory() &&
            plat::ReadSmallFile(path, 4096, &bytes) &&
            (bytes == store::StoreDesktopIniBytes() ||
             // left empty or zeroed by a pulled drive
             std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == 0; })))
            continue;
        return path;
    }
    entries.clear();
    if (!fs.IsDirectory(param)) return {};
    if (!fs.ListDir(param, &entries)) return param;
    for (const auto& e : entries) {
        const std::wstring path = plat::JoinPath(param, e.name);
        if (e.IsDirectory() || (e.attributes & plat::kAttrReparsePoint)) return path;
        const bool journal = IsJournalName(e.name);
        if (!journal && !IsRecordName(e.name)) return path;
        if (e.size > (journal ? kMaxJournalBytes : store::kMaxRecordSize)) return path;
        if (plat::EqualsNoCase(e.name, store::kKindRecord) ||
            plat::EqualsNoCase(e.name, store::kOldKindRecord)) {
            std::string line;
            if (!plat::ReadSmallFile(path, store::kMaxRecordSize, &line) || !IsOurKindLine(line))
                return path;
        }
    }
    return {};
}

}  // namespace

namespace {
thread_local uint64_t t_lookups = 0;
thread_local bool t_exceeded = false;
}  // namespace

void StartJournalBudget() {
    t_lookups = 0;
    t_exceeded = false;
}

bool JournalPathWithinBounds(const std::wstring& rel) {
    if (rel.size() > kMaxPathUnits) return false;
    uint64_t parts = 1;
    for (wchar_t ch : rel)
        if (ch == L'\\' || ch == L'/') ++parts;
    if (parts > kMaxPathParts) return false;
    // Each leading folder is looked up by its whole path.
    t_lookups += parts * (parts + 1) / 2;
    if (t_lookups > kMaxPathLookups) t_exceeded = true;
    return !t_exceeded;
}

bool JournalBudgetExceeded() {
    return t_exceeded;
}

bool CheckLeftoversAreOurs(const std::wstring& folder, RecoveryReport* report, PassLog& log) {
    const std::wstring foreign = NotOurs(folder);
    if (foreign.empty()) return true;
    // A folder of the user's under the store root's name, without records:
    // nothing of ours to remove, nothing to report.
    if (!plat::Fs().IsDirectory(store::ParamDir(folder))) return false;
    report->damaged = true;
    log.Append(foreign +
               L",不是岚栩只读加密留下的。该文件夹中的存储没有数据文件夹，"
               L"其余内容不能确定是岚栩只读加密的，都没有改动。");
    return false;
}

}  // namespace engine
