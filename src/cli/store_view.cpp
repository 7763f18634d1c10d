#include "cli/store_view.h"

#include "crypto/content_cipher.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "store/layout.h"

namespace cli {

namespace {

bool IsSep(wchar_t c) {
    return c == plat::kSep || c == L'/';
}

// First line of the current record, else of its earlier name.
std::wstring ReadRecord(const std::wstring& paramDir, const wchar_t* current,
                        const wchar_t* earlier) {
    const std::wstring path = plat::JoinPath(paramDir, current);
    if (plat::Fs().Exists(path) || !earlier) return store::ReadFirstLine(path);
    return store::ReadFirstLine(plat::JoinPath(paramDir, earlier));
}

void Count(const std::wstring& dir, StoreCounts* c) {
    std::vector<plat::DirEntry> entries;
    if (!plat::Fs().ListDir(dir, &entries)) {
        ++c->unreadable;
        return;
    }
    for (const auto& e : entries) {
        if (e.IsDirectory() && !(e.attributes & plat::kAttrReparsePoint)) {
            ++c->folders;
            Count(plat::JoinPath(dir, e.name), c);
        } else {
            ++c->files;
            c->bytes += e.size;
            if (crypto::ClassifyName(e.name) != crypto::kClassPlain) ++c->strengthFiles;
        }
    }
}

}  // namespace

std::wstring AbsolutePath(const std::wstring& arg) {
    std::wstring path = arg;
#ifdef _WIN32
    for (auto& c : path)
        if (c == L'/') c = L'\\';
    const bool absolute = (path.size() >= 2 && path[1] == L':') || path.rfind(L"\\\\", 0) == 0;
    std::wstring prefix;
    if (absolute) {
        // A network path keeps one separator here; the loop adds the other.
        prefix = path.rfind(L"\\\\", 0) == 0 ? L"\\" : path.substr(0, 2);
        path = path.substr(2);
    } else {
        std::wstring cwd = plat::WithoutSep(plat::CurrentDir());
        prefix = cwd.substr(0, 2);
        path = cwd.substr(2) + L"\\" + path;
    }
#else
    std::wstring prefix;
    if (path.empty() || path[0] != L'/') path = plat::CurrentDir() + L"/" + path;
#endif
    std::vector<std::wstring> parts;
    size_t i = 0;
    while (i <= path.size()) {
        size_t j = i;
        while (j < path.size() && !IsSep(path[j])) ++j;
        std::wstring part = path.substr(i, j - i);
        if (part == L"..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != L".") {
            parts.push_back(part);
        }
        i = j + 1;
    }
    std::wstring out = prefix;
    for (const auto& p : parts) out += plat::kSep + p;
    if (out == prefix) out += plat::kSep;
    return out;
}

bool FindStore(const std::wstring& folder, StoreLocation* out) {
    struct Candidate {
        const wchar_t* root;
        bool legacy;
    };
    static const Candidate kRoots[] = {
        {store::kStoreRoot, false},
        {store::kLegacyAlias, true},
        {store::kLegacyRootVista, true},
        {store::kLegacyRootXp, true},
    };
    for (const Candidate& c : kRoots) {
        const std::wstring root = plat::JoinPath(folder, c.root);
        const std::wstring data = plat::JoinPath(root, store::kDataFolderName);
        if (!plat::Fs().IsDirectory(data)) continue;
        out->folder = folder;
        out->rootName = c.root;
        out->dataDir = data;
        out->paramDir = plat::JoinPath(root, store::kParamFolderName);
        out->legacy = c.legacy;
        return true;
    }
    return false;
}

crypto::StoreRecords ReadRecordsReadOnly(const StoreLocation& s) {
    crypto::StoreRecords r;
    const std::wstring& p = s.paramDir;
    r.password = ReadRecord(p, store::kPasswordRecord, store::kOldPasswordRecord);
    r.mail = ReadRecord(p, store::kMailRecord, store::kOldMailRecord);
    r.reset = ReadRecord(p, store::kResetRecord, store::kOldResetRecord);
    r.kindLine = ReadRecord(p, store::kKindRecord, store::kOldKindRecord);
    r.second = ReadRecord(p, store::kSecondPasswordRecord, nullptr);
    const std::wstring sealed = plat::JoinPath(p, store::kSealedRecord);
    if (plat::Fs().Exists(sealed)) r.password = store::ReadFirstLine(sealed);
    r.kind = crypto::KindFromLine(r.kindLine, s.legacy ? crypto::kKindNormal : crypto::kKindHighest,
                                  &r.legacyHash);
    return r;
}

std::vector<std::wstring> RecordFilesPresent(const std::wstring& paramDir) {
    static const wchar_t* const kNames[] = {
        store::kPasswordRecord,     store::kSealedRecord,
        store::kLegacySealedRecord, store::kMailRecord,
        store::kKindRecord,         store::kSecondPasswordRecord,
        store::kResetRecord,        store::kRenameFailList,
        store::kOldPasswordRecord,  store::kOldLegacySealedRecord,
        store::kOldMailRecord,      store::kOldKindRecord,
        store::kOldResetRecord,     store::kOldRenameFailList,
    };
    std::vector<std::wstring> present;
    for (const wchar_t* n : kNames)
        if (plat::Fs().IsFile(plat::JoinPath(paramDir, n))) present.push_back(n);
    return present;
}

StoreCounts CountStore(const std::wstring& dataDir) {
    StoreCounts c;
    std::vector<plat::DirEntry> entries;
    if (!plat::Fs().ListDir(dataDir, &entries)) {
        ++c.unreadable;
        return c;
    }
    for (const auto& e : entries) {
        const std::wstring path = plat::JoinPath(dataDir, e.name);
        if (e.IsDirectory() && plat::EqualsNoCase(e.name, store::kWorkingFolderName)) {
            StoreCounts w;
            Count(path, &w);
            c.workingItems += w.files;
            continue;
        }
        if (e.IsDirectory() && !(e.attributes & plat::kAttrReparsePoint)) {
            ++c.folders;
            Count(path, &c);
        } else {
            ++c.files;
            c.bytes += e.size;
            if (crypto::ClassifyName(e.name) != crypto::kClassPlain) ++c.strengthFiles;
        }
    }
    return c;
}

std::wstring StoredItemPath(const StoreLocation& s, const std::wstring& item) {
    std::wstring rel;
    size_t i = 0;
    while (i <= item.size()) {
        size_t j = i;
        while (j < item.size() && !IsSep(item[j])) ++j;
        std::wstring part = item.substr(i, j - i);
        if (part == L"..") return L"";
        if (!part.empty() && part != L".") rel = rel.empty() ? part : rel + plat::kSep + part;
        i = j + 1;
    }
    if (rel.empty()) return L"";
    const std::wstring path = plat::JoinPath(s.dataDir, rel);
    if (plat::Fs().Exists(path)) return path;
    const std::wstring suffixed = path + crypto::kEncryptedSuffix;
    if (plat::Fs().IsFile(suffixed)) return suffixed;
    return L"";
}

std::wstring KindName(int kind) {
    switch (kind) {
        case crypto::kKindNormal:
            return L"普通强度";
        case crypto::kKindHigher:
            return L"较高强度";
        default:
            return L"最高强度";
    }
}

}  // namespace cli
