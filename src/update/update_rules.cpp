#include "update/update_rules.h"

#include <array>
#include <cstring>

#include "app/globals.h"
#include "app/startup.h"
#include "platform/text.h"
#include "store/layout.h"

namespace update {
namespace {

// ---- the description ------------------------------------------------------

std::wstring DecodeText(const std::string& bytes) {
    if (bytes.size() >= 2 && uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xFE) {
        std::wstring out;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            out += wchar_t(uint8_t(bytes[i]) | (uint8_t(bytes[i + 1]) << 8));
        return out;
    }
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        return plat::FromUtf8(bytes.substr(3));
    return plat::FromAnsi(bytes);
}

struct Entry {
    std::wstring section, key, value;
};

std::vector<Entry> ReadEntries(const std::wstring& text) {
    std::vector<Entry> entries;
    std::wstring section;
    bool inSection = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        const std::wstring line = plat::Trim(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == L';') continue;
        if (line[0] == L'[') {
            const size_t close = line.find(L']');
            inSection = close != std::wstring::npos;
            if (inSection) section = plat::Trim(line.substr(1, close - 1));
            continue;
        }
        const size_t eq = line.find(L'=');
        if (!inSection || eq == std::wstring::npos) continue;
        std::wstring value = plat::Trim(line.substr(eq + 1));
        // The profile functions drop one pair of enclosing quotes.
        if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        entries.push_back({section, plat::Trim(line.substr(0, eq)), value});
    }
    return entries;
}

const std::wstring* Find(const std::vector<Entry>& entries, const wchar_t* section,
                         const std::wstring& key) {
    for (const Entry& e : entries)
        if (plat::EqualsNoCase(e.section, section) && plat::EqualsNoCase(e.key, key))
            return &e.value;
    return nullptr;
}

// The leading decimal number, clamped to int; 0 when there is none.
int LeadingInt(const std::wstring& text) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == L'-' || text[i] == L'+')) negative = text[i++] == L'-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        value = value * 10 + (text[i] - L'0');
        if (value > INT32_MAX) value = int64_t(INT32_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    return static_cast<int>(value < INT32_MIN ? INT32_MIN : value);
}

uint32_t LeadingLength(const std::wstring& text) {
    uint64_t value = 0;
    for (size_t i = 0; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i)
        value = std::min<uint64_t>(value * 10 + (text[i] - L'0'), UINT32_MAX);
    return static_cast<uint32_t>(value);
}

int IntOf(const std::vector<Entry>& entries, const wchar_t* section, const wchar_t* key, int def) {
    const std::wstring* v = Find(entries, section, key);
    return v ? LeadingInt(*v) : def;
}

// ---- addresses -------------------------------------------------------------

struct Url {
    std::wstring scheme, host, path;
    int port = 0;
};

bool ParseUrl(const std::wstring& text, Url* url) {
    // Letters beyond ASCII may name a file; the host must equal the base's anyway.
    for (wchar_t c : text)
        if (c <= 0x20 || c == 0x7F || c == L'\\' || c == L'?' || c == L'#' || c == L'@')
            return false;
    const size_t colon = text.find(L"://");
    if (colon == std::wstring::npos) return false;
    url->scheme = plat::Fold(text.substr(0, colon));
    if (url->scheme == L"http")
        url->port = 80;
    else if (url->scheme == L"https")
        url->port = 443;
    else
        return false;
    const size_t hostStart = colon + 3;
    const size_t slash = text.find(L'/', hostStart);
    const std::wstring authority = text.substr(hostStart, slash - hostStart);
    url->path = slash == std::wstring::npos ? L"" : text.substr(slash);
    size_t portAt = std::wstring::npos;
    if (!authority.empty() && authority[0] == L'[') {
        const size_t close = authority.find(L']');
        if (close == std::wstring::npos) return false;
        url->host = authority.substr(0, close + 1);
        if (close + 1 < authority.size()) {
            if (authority[close + 1] != L':') return false;
            portAt = close + 2;
        }
    } else {
        const size_t c = authority.find(L':');
        url->host = authority.substr(0, c);
        if (c != std::wstring::npos) portAt = c + 1;
    }
    if (url->host.empty() || url->host == L"[]") return false;
    url->host = plat::Fold(url->host);
    if (portAt != std::wstring::npos) {
        const std::wstring digits = authority.substr(portAt);
        if (digits.empty() || digits.size() > 5) return false;
        int port = 0;
        for (wchar_t c : digits) {
            if (c < L'0' || c > L'9') return false;
            port = port * 10 + (c - L'0');
        }
        if (port < 1 || port > 65535) return false;
        url->port = port;
    }
    // No step out of the base, plain or escaped.
    const std::wstring folded = plat::Fold(url->path);
    for (const wchar_t* escaped : {L"%2e", L"%2f", L"%5c", L"%00"})
        if (folded.find(escaped) != std::wstring::npos) return false;
    size_t at = 0;
    while (at < url->path.size()) {
        size_t next = url->path.find(L'/', at + 1);
        if (next == std::wstring::npos) next = url->path.size();
        const std::wstring step = url->path.substr(at + 1, next - at - 1);
        if (step == L"." || step == L"..") return false;
        at = next;
    }
    return true;
}

bool IsLoopbackName(const std::wstring& host) {
    return host == L"127.0.0.1" || host == L"localhost" || host == L"[::1]";
}

std::wstring RealBase() {
    return std::wstring(L"https://") + app::kWebHost;
}

std::wstring Normalised(const Url& u) {
    std::wstring out = u.scheme + L"://" + u.host;
    if (u.port != (u.scheme == L"https" ? 443 : 80)) out += L":" + std::to_wstring(u.port);
    std::wstring path = u.path;
    while (!path.empty() && path.back() == L'/') path.pop_back();
    return out + path;
}

// ---- names -------------------------------------------------------------------

bool IsDeviceName(const std::wstring& name) {
    std::wstring stem = plat::Fold(name.substr(0, name.find(L'.')));
    while (!stem.empty() && stem.back() == L' ') stem.pop_back();
    for (const wchar_t* d : {L"con", L"prn", L"aux", L"nul", L"conin$", L"conout$"})
        if (stem == d) return true;
    return stem.size() == 4 &&
           (stem.compare(0, 3, L"com") == 0 || stem.compare(0, 3, L"lpt") == 0) &&
           stem[3] >= L'1' && stem[3] <= L'9';
}

bool IsOneOfOurs(const std::wstring& name) {
    static const std::array<const wchar_t*, 24> kOurs = {
        store::kStoreRoot,          store::kDataFolderName,
        store::kParamFolderName,    store::kLegacyAlias,
        store::kLegacyRootVista,    store::kLegacyRootXp,
        store::kWorkingFolderName,  store::kNotDeleteFolderName,
        store::kDesktopIni,         store::kReadmeTxt,
        store::kPasswordRecord,     store::kSealedRecord,
        store::kLegacySealedRecord, store::kMailRecord,
        store::kKindRecord,         store::kSecondPasswordRecord,
        store::kResetRecord,        store::kRenameFailList,
        store::kDecorationRecord,   store::kStoreIdRecord,
        store::kOldPasswordRecord,  store::kOldMailRecord,
        store::kOldKindRecord,      app::kStartupPasswordFile,
    };
    for (const wchar_t* n : kOurs)
        if (plat::EqualsNoCase(name, n)) return true;
    for (const wchar_t* n : {store::kOldLegacySealedRecord, store::kOldResetRecord,
                             store::kOldRenameFailList, app::kLogFileName})
        if (plat::EqualsNoCase(name, n)) return true;
    return false;
}

// The names an upgrade gives the program's file on its way out.
bool IsRetiredProgramName(const std::wstring& name, const std::wstring& programName) {
    for (const std::wstring& p : {programName, std::wstring(store::kExeName)}) {
        if (p.empty()) continue;
        for (const wchar_t* suffix : {L".old", L".del"})
            if (plat::EqualsNoCase(name, p + suffix)) return true;
    }
    return false;
}

uint16_t Read16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
uint32_t Read32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// Takes the decimal number at `text[*at]`, at most ten digits.
bool TakeNumber(const std::wstring& text, size_t* at, uint32_t* value) {
    uint64_t v = 0;
    size_t i = *at;
    while (i < text.size() && i - *at < 10 && text[i] >= L'0' && text[i] <= L'9')
        v = v * 10 + (text[i++] - L'0');
    if (i == *at || v > UINT32_MAX) return false;
    *at = i;
    *value = static_cast<uint32_t>(v);
    return true;
}

constexpr const wchar_t* kTempPrefix = L"~ulxjm-upd.";
constexpr const wchar_t* kTempSuffix = L".tmp";

}  // namespace

Description ParseDescription(const std::string& bytes) {
    const std::vector<Entry> entries = ReadEntries(DecodeText(bytes));
    Description d;
    d.dllVersion = IntOf(entries, L"VERSION", L"DLLVER", 1658);
    d.version = IntOf(entries, L"VERSION", L"VER", -1);
    d.counts = IntOf(entries, L"VERSION", L"COUNTS", 0);
    d.bcounts = IntOf(entries, L"FF", L"BCOUNTS", 0);
    const int n = std::min(d.counts, kMaxListedFiles);
    for (int i = 0; i < n; ++i) {
        const std::wstring index = std::to_wstring(i);
        const std::wstring* url = Find(entries, L"SOURCE", L"URL" + index);
        // The profile call reads into 255 characters with the terminator.
        d.urls.push_back(url ? url->substr(0, 254) : L"");
        const std::wstring* len = Find(entries, L"LENGTH", L"LEN" + index);
        d.lengths.push_back(len ? LeadingLength(*len) : 0);
    }
    return d;
}

std::wstring AcceptedBase(const std::wstring& overrideText) {
    Url u;
    if (!overrideText.empty() && ParseUrl(overrideText, &u) && IsLoopbackName(u.host))
        return Normalised(u);
    return RealBase();
}

std::wstring DescriptionUrl(const std::wstring& base, int version) {
    std::wstring path = kDescriptionPath;
    path.replace(path.find(L"%d"), 2, std::to_wstring(version));
    return base + path;
}

bool IsUnderBase(const std::wstring& url, const std::wstring& base) {
    Url u, b;
    if (!ParseUrl(url, &u) || !ParseUrl(base, &b)) return false;
    if (u.scheme != b.scheme || u.host != b.host || u.port != b.port) return false;
    std::wstring prefix = b.path;
    while (!prefix.empty() && prefix.back() == L'/') prefix.pop_back();
    prefix += L'/';
    return u.path.size() > prefix.size() && u.path.compare(0, prefix.size(), prefix) == 0;
}

std::wstring LocalNameOf(const std::wstring& url) {
    const size_t slash = url.rfind(L'/');
    return slash == std::wstring::npos ? std::wstring() : url.substr(slash + 1);
}

bool IsAcceptableName(const std::wstring& name, bool isProgram, const std::wstring& programName) {
    if (name.empty() || name == L"." || name == L"..") return false;
    for (wchar_t c : name)
        if (c < 0x20 || std::wcschr(L"\\/:*?\"<>|", c)) return false;
    if (name.back() == L'.' || name.back() == L' ') return false;  // Windows drops them
    if (IsDeviceName(name) || IsTemporaryName(name) || IsOneOfOurs(name)) return false;
    if (IsRetiredProgramName(name, programName)) return false;
    // The program's file is never written under its listed name, so only the
    // other files may not take it.
    if (plat::EqualsNoCase(name, programName) || plat::EqualsNoCase(name, store::kExeName))
        return isProgram;
    return !store::IsReservedName(name);
}

std::wstring TemporaryName(uint32_t pid, uint32_t n) {
    return kTempPrefix + std::to_wstring(pid) + L"." + std::to_wstring(n) + kTempSuffix;
}

bool IsTemporaryName(const std::wstring& name, uint32_t* pid) {
    const std::wstring prefix = kTempPrefix, suffix = kTempSuffix;
    if (!plat::StartsWithNoCase(name, prefix)) return false;
    size_t at = prefix.size();
    uint32_t id = 0, n = 0;
    if (!TakeNumber(name, &at, &id) || at >= name.size() || name[at++] != L'.') return false;
    if (!TakeNumber(name, &at, &n)) return false;
    if (!plat::EqualsNoCase(name.substr(at), suffix)) return false;
    if (pid) *pid = id;
    return true;
}

bool IsGuiX64Executable(const uint8_t* bytes, size_t size) {
    constexpr size_t kDosHeader = 0x40, kFileHeader = 20, kOptionalPe32Plus = 112;
    if (!bytes || size < kDosHeader || bytes[0] != 'M' || bytes[1] != 'Z') return false;
    const uint64_t pe = Read32(bytes + 0x3C);
    if (pe + 4 + kFileHeader > size) return false;
    if (std::memcmp(bytes + pe, "PE\0\0", 4) != 0) return false;
    const uint8_t* file = bytes + pe + 4;
    const uint16_t machine = Read16(file);
    const uint16_t sections = Read16(file + 2);
    const uint16_t optionalSize = Read16(file + 16);
    const uint16_t flags = Read16(file + 18);
    constexpr uint16_t kExecutableImage = 0x0002, kDll = 0x2000;
    if (machine != 0x8664 || sections == 0) return false;
    if (!(flags & kExecutableImage) || (flags & kDll)) return false;
    if (optionalSize < kOptionalPe32Plus) return false;
    const uint64_t optional = pe + 4 + kFileHeader;
    if (optional + optionalSize + uint64_t(sections) * 40 > size) return false;
    const uint8_t* opt = bytes + optional;
    constexpr uint16_t kPe32Plus = 0x20B, kGui = 2;
    return Read16(opt) == kPe32Plus && Read16(opt + 68) == kGui;
}

}  // namespace update
