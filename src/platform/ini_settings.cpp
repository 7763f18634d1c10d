// Settings kept in INI files in the ANSI code page, with the rules of the
// Win32 profile functions: keys and sections compare case-insensitively, a
// missing key gives the default, integers are the leading decimal number.
//
// Files in `folder`: "profile.ini" (application profile; the empty section
// is the section "岚栩只读加密", other sections keep their names),
// "win.ini" (Windows profile sections), "explorer.ini" (section "Advanced").
// A private INI file named without a folder lives in `folder` as well, as
// Windows puts such files in its own folder.
//
// Every write replaces the file as a whole: the new text goes to name.tmp,
// the old file becomes name.bak, the new one takes the name, the backup
// goes. A reader that finds only name.bak (a crash in between) uses it.
// The new file keeps the old one's permission bits. A settings file that is
// a link (kept with the user's other configuration files) is read and
// replaced where it leads, so the link stays.
#include <mutex>
#include <vector>

#include "platform/fs.h"
#include "platform/settings.h"
#include "platform/text.h"

namespace plat {

namespace {

constexpr const wchar_t* kAppSection = L"岚栩只读加密";

bool HasSep(const std::wstring& p) {
    for (wchar_t c : p)
        if (c == kSep || c == L'/') return true;
    return false;
}

// Settings files are small; a bigger one, a pipe or a device is not ours
// and reads as unreadable (so a write refuses to replace it).
constexpr uint64_t kMaxIniSize = 1u << 20;

bool ReadAll(const std::wstring& path, std::string* out) {
    return ReadSmallFile(path, kMaxIniSize, out);
}

std::vector<std::wstring> SplitLines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(start, end - start);
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

bool IsHeader(const std::wstring& line, std::wstring* name) {
    std::wstring t = Trim(line);
    if (t.size() < 2 || t.front() != L'[') return false;
    size_t close = t.find(L']');
    if (close == std::wstring::npos) return false;
    *name = Trim(t.substr(1, close - 1));
    return true;
}

bool IsKeyLine(const std::wstring& line, const std::wstring& key, std::wstring* value) {
    size_t eq = line.find(L'=');
    if (eq == std::wstring::npos) return false;
    if (!EqualsNoCase(Trim(line.substr(0, eq)), key)) return false;
    if (value) {
        std::wstring v = Trim(line.substr(eq + 1));
        // The profile functions drop one pair of enclosing quotes.
        if (v.size() >= 2 &&
            ((v.front() == L'"' && v.back() == L'"') || (v.front() == L'\'' && v.back() == L'\'')))
            v = v.substr(1, v.size() - 2);
        *value = v;
    }
    return true;
}

int ParseLeadingInt(const std::wstring& v) {
    size_t i = 0;
    while (i < v.size() && (v[i] == L' ' || v[i] == L'\t')) ++i;
    bool neg = false;
    if (i < v.size() && (v[i] == L'-' || v[i] == L'+')) neg = v[i++] == L'-';
    long long n = 0;
    for (; i < v.size() && v[i] >= L'0' && v[i] <= L'9'; ++i) {
        n = n * 10 + (v[i] - L'0');
        if (n > 0xFFFFFFFFLL) n = 0xFFFFFFFFLL;
    }
    // Out-of-range values wrap like the UINT GetProfileInt returns.
    return static_cast<int>(static_cast<uint32_t>(neg ? -n : n));
}

bool CreateDirs(const std::wstring& dir) {
    if (dir.empty() || Fs().IsDirectory(dir)) return true;
    std::wstring parent = ParentWithSep(WithoutSep(dir));
    if (!parent.empty() && WithoutSep(parent) != WithoutSep(dir) && !CreateDirs(WithoutSep(parent)))
        return false;
    return Fs().CreateDir(dir) || LastError() == kErrAlreadyExists;
}

class IniSettings final : public Settings {
  public:
    explicit IniSettings(std::wstring folder) : folder_(WithoutSep(std::move(folder))) {}

    int GetProfileInt(const std::wstring& section, const std::wstring& key, int def) override {
        return GetInt(Profile(), AppSection(section), key, def);
    }
    std::wstring GetProfileString(const std::wstring& section, const std::wstring& key,
                                  const std::wstring& def) override {
        return GetString(Profile(), AppSection(section), key, def);
    }
    bool HasProfileValue(const std::wstring& section, const std::wstring& key) override {
        std::lock_guard<std::mutex> lock(mutex_);
        std::wstring v;
        return Lookup(Profile(), AppSection(section), key, &v);
    }
    bool WriteProfileInt(const std::wstring& section, const std::wstring& key, int value) override {
        return Write(Profile(), AppSection(section), key, std::to_wstring(value));
    }
    bool WriteProfileString(const std::wstring& section, const std::wstring& key,
                            const std::wstring& value) override {
        return Write(Profile(), AppSection(section), key, value);
    }

    int GetWinIniInt(const std::wstring& section, const std::wstring& key, int def) override {
        return GetInt(WinIni(), section, key, def);
    }
    std::wstring GetWinIniString(const std::wstring& section, const std::wstring& key,
                                 const std::wstring& def) override {
        return GetString(WinIni(), section, key, def);
    }
    bool WriteWinIniString(const std::wstring& section, const std::wstring& key,
                           const std::wstring& value) override {
        return Write(WinIni(), section, key, value);
    }

    int GetPrivateInt(const std::wstring& file, const std::wstring& section,
                      const std::wstring& key, int def) override {
        return GetInt(Private(file), section, key, def);
    }
    std::wstring GetPrivateString(const std::wstring& file, const std::wstring& section,
                                  const std::wstring& key, const std::wstring& def) override {
        return GetString(Private(file), section, key, def);
    }
    bool WritePrivateString(const std::wstring& file, const std::wstring& section,
                            const std::wstring& key, const std::wstring& value) override {
        return Write(Private(file), section, key, value);
    }

    bool WriteExplorerHiddenPrefs(uint32_t superHidden, uint32_t showSuperHidden) override {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::wstring> lines;
        if (!Load(Explorer(), &lines)) return false;
        Set(&lines, L"Advanced", L"SuperHidden", std::to_wstring(superHidden));
        Set(&lines, L"Advanced", L"ShowSuperHidden", std::to_wstring(showSuperHidden));
        return Save(Explorer(), lines);
    }
    long ReadExplorerValue(const std::wstring& name) override {
        std::lock_guard<std::mutex> lock(mutex_);
        std::wstring v;
        if (!Lookup(Explorer(), L"Advanced", name, &v)) return -1;
        return static_cast<long>(static_cast<uint32_t>(ParseLeadingInt(v)));
    }

  private:
    std::wstring Profile() const { return JoinPath(folder_, L"profile.ini"); }
    std::wstring WinIni() const { return JoinPath(folder_, L"win.ini"); }
    std::wstring Explorer() const { return JoinPath(folder_, L"explorer.ini"); }
    std::wstring Private(const std::wstring& file) const {
        return HasSep(file) ? file : JoinPath(folder_, file);
    }
    static std::wstring AppSection(const std::wstring& section) {
        return section.empty() ? std::wstring(kAppSection) : section;
    }

    int GetInt(const std::wstring& file, const std::wstring& section, const std::wstring& key,
               int def) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::wstring v;
        return Lookup(file, section, key, &v) ? ParseLeadingInt(v) : def;
    }
    std::wstring GetString(const std::wstring& file, const std::wstring& section,
                           const std::wstring& key, const std::wstring& def) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::wstring v;
        return Lookup(file, section, key, &v) ? v : def;
    }
    bool Write(const std::wstring& file, const std::wstring& section, const std::wstring& key,
               const std::wstring& value) {
        std::lock_guard<std::mutex> lock(mutex_);
        // A line end inside a value would split it into a bogus key.
        std::wstring clean = value;
        for (auto& c : clean)
            if (c == L'\r' || c == L'\n') c = L' ';
        std::vector<std::wstring> lines;
        if (!Load(file, &lines)) return false;
        Set(&lines, section, key, clean);
        return Save(file, lines);
    }

    // The lines of `file` (or of the backup a crash left); empty when
    // neither exists. False when a file is there but cannot be read, so a
    // write never replaces settings it could not see.
    static bool Load(const std::wstring& file, std::vector<std::wstring>* lines) {
        lines->clear();
        std::string bytes;
        const std::wstring real = FollowLink(file);
        for (const std::wstring& name : {real, real + L".bak"}) {
            if (ReadAll(name, &bytes)) {
                *lines = SplitLines(FromAnsi(bytes));
                return true;
            }
            if (Fs().Exists(name)) return false;
        }
        return true;
    }
    static std::vector<std::wstring> Load(const std::wstring& file) {
        std::vector<std::wstring> lines;
        (void)Load(file, &lines);
        return lines;
    }

    static bool Lookup(const std::wstring& file, const std::wstring& section,
                       const std::wstring& key, std::wstring* value) {
        std::vector<std::wstring> lines = Load(file);
        bool in = false;
        for (const auto& line : lines) {
            std::wstring name;
            if (IsHeader(line, &name)) {
                in = EqualsNoCase(name, section);
                continue;
            }
            if (in && IsKeyLine(line, key, value)) return true;
        }
        return false;
    }

    static void Set(std::vector<std::wstring>* lines, const std::wstring& section,
                    const std::wstring& key, const std::wstring& value) {
        const std::wstring entry = key + L"=" + value;
        bool in = false;
        size_t insertAt = std::wstring::npos;  // after the section's last non-blank line
        for (size_t i = 0; i < lines->size(); ++i) {
            std::wstring name;
            if (IsHeader((*lines)[i], &name)) {
                if (in) break;
                in = EqualsNoCase(name, section);
                if (in) insertAt = i + 1;
                continue;
            }
            if (!in) continue;
            if (IsKeyLine((*lines)[i], key, nullptr)) {
                // The key keeps the spelling it was first written with.
                const std::wstring& line = (*lines)[i];
                (*lines)[i] = Trim(line.substr(0, line.find(L'='))) + L"=" + value;
                return;
            }
            if (!Trim((*lines)[i]).empty()) insertAt = i + 1;
        }
        if (insertAt != std::wstring::npos) {
            lines->insert(lines->begin() + static_cast<std::ptrdiff_t>(insertAt), entry);
            return;
        }
        if (!lines->empty() && !Trim(lines->back()).empty()) lines->push_back(L"");
        lines->push_back(L"[" + section + L"]");
        lines->push_back(entry);
    }

    bool Save(const std::wstring& linked, const std::vector<std::wstring>& lines) {
        const std::wstring file = FollowLink(linked);
        std::wstring text;
        for (const auto& l : lines) text += l + L"\r\n";
        std::string bytes = ToAnsi(text);
        CreateDirs(WithoutSep(ParentWithSep(file)));
        FileSystem& fs = Fs();
        const std::wstring tmp = file + L".tmp", bak = file + L".bak";
        {
            auto f = fs.Open(tmp, Access::ReadWrite, Disposition::CreateAlways);
            if (!f) return false;
            if (!f->WriteAll(bytes.data(), static_cast<uint32_t>(bytes.size())) || !f->Flush()) {
                f.reset();
                (void)fs.DeleteFile(tmp);
                return false;
            }
        }
        bool hadOld = fs.Exists(file);
        // Best effort: a volume without permission bits refuses, and the
        // settings are worth more than the bits.
        if (hadOld) (void)fs.CopyAccess(file, tmp);
        if (hadOld) {
            if (fs.Exists(bak)) (void)fs.DeleteFile(bak);
            if (!fs.Move(file, bak)) {
                (void)fs.DeleteFile(tmp);
                return false;
            }
        }
        if (!fs.Move(tmp, file)) {
            uint32_t err = LastError();
            if (hadOld) (void)fs.Move(bak, file);
            (void)fs.DeleteFile(tmp);
            SetLastError(err);
            return false;
        }
        if (hadOld) (void)fs.DeleteFile(bak);
        return true;
    }

    std::wstring folder_;
    std::mutex mutex_;
};

}  // namespace

std::unique_ptr<Settings> MakeIniSettings(const std::wstring& folder) {
    return std::make_unique<IniSettings>(folder);
}

}  // namespace plat
