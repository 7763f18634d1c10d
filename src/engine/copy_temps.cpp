#include "engine/copy_temps.h"

#include <cstdio>

#include "platform/private_file.h"
#include "platform/text.h"

namespace engine {

namespace {

// The list may only ever hold what few copies one batch writes; a longer
// one is not read whole.
constexpr size_t kMaxListBytes = 16u << 20;

uint64_t Fnv1a64(const std::string& bytes) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

}  // namespace

std::wstring CopyTempListPath(const std::wstring& folder) {
    const std::wstring dir = plat::PrivateTempDir();
    if (dir.empty()) return {};
    std::wstring key = plat::WithoutSep(folder);
    // Windows names ignore case; posix ones do not.
    if (plat::kSep == L'\\') key = plat::Fold(key);
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx",
                  static_cast<unsigned long long>(Fnv1a64(plat::ToUtf8(key))));
    return dir + L"copytemp-" + plat::FromUtf8(hex) + L".txt";
}

bool ListCopyTemps(const std::wstring& folder, const std::wstring& dataFolder,
                   const std::vector<const crypto::FileChange*>& changes) {
    const std::wstring inside = plat::WithSep(dataFolder);
    std::string lines;
    for (const crypto::FileChange* c : changes)
        if (c->kind == crypto::ChangeKind::DecryptCopy && !c->temp.empty() &&
            !plat::StartsWithNoCase(c->temp, inside))
            lines += plat::ToUtf8(c->temp) + "\n";
    if (lines.empty()) return true;
    const std::wstring list = CopyTempListPath(folder);
    return !list.empty() && plat::AppendToPrivateFile(list, lines);
}

int RemoveCopyTemps(const std::wstring& folder, PassLog& log) {
    const std::wstring list = CopyTempListPath(folder);
    std::string text;
    if (list.empty() || !plat::ReadPrivateFile(list, kMaxListBytes, &text)) return 0;
    plat::FileSystem& fs = plat::Fs();
    int removed = 0;
    bool kept = false;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        // A line cut short was being appended: its file was not made yet.
        if (end == std::string::npos) break;
        const std::wstring path = plat::FromUtf8(text.substr(at, end - at));
        at = end + 1;
        const uint32_t a = fs.GetAttributes(path);
        if (a == plat::kInvalidAttributes) continue;
        if (a & (plat::kAttrDirectory | plat::kAttrReparsePoint)) continue;  // not ours any more
        // A working file gets its source's marks before its rename.
        if (a & plat::kAttrReadOnly) (void)fs.SetAttributes(path, a & ~plat::kAttrReadOnly);
        if (fs.DeleteFile(path)) {
            ++removed;
        } else {
            kept = true;
            log.Append(path + L",上次中断的解密复制留下的临时文件无法删除，原因如下：");
            log.Append(log.TakeError());
        }
    }
    if (!kept) (void)fs.DeleteFile(list);
    return removed;
}

}  // namespace engine
