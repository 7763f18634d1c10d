#include "engine/fail_name_list.h"

#include "platform/fs.h"

namespace engine {

namespace {

void PutU8(std::string& out, uint8_t v) {
    out.push_back(char(v));
}
void PutU16(std::string& out, uint16_t v) {
    PutU8(out, uint8_t(v));
    PutU8(out, uint8_t(v >> 8));
}
void PutU32(std::string& out, uint32_t v) {
    PutU16(out, uint16_t(v));
    PutU16(out, uint16_t(v >> 16));
}

void PutText(std::string& out, const std::wstring& text) {
    PutU8(out, 0xFF);
    PutU16(out, 0xFFFE);  // wide-text marker
    const size_t n = text.size();
    if (n < 0xFF) {
        PutU8(out, uint8_t(n));
    } else {
        PutU8(out, 0xFF);
        if (n < 0xFFFE) {
            PutU16(out, uint16_t(n));
        } else {
            PutU16(out, 0xFFFF);
            PutU32(out, uint32_t(n));
        }
    }
    for (wchar_t c : text) PutU16(out, uint16_t(c));
}

struct Reader {
    const std::string& bytes;
    size_t pos = 0;
    bool ok = true;

    uint32_t Get(int size) {
        if (!ok || bytes.size() - pos < size_t(size)) {
            ok = false;
            return 0;
        }
        uint32_t v = 0;
        for (int i = 0; i < size; ++i) v |= uint32_t(uint8_t(bytes[pos + i])) << (8 * i);
        pos += size;
        return v;
    }

    std::wstring Text() {
        if (Get(1) != 0xFF || Get(2) != 0xFFFE) ok = false;
        uint32_t n = Get(1);
        if (n == 0xFF) {
            n = Get(2);
            if (n == 0xFFFF) n = Get(4);
        }
        if (!ok || (bytes.size() - pos) / 2 < n) {
            ok = false;
            return L"";
        }
        std::wstring text;
        text.reserve(n);
        for (uint32_t i = 0; i < n; ++i) text.push_back(wchar_t(Get(2)));
        return text;
    }
};

}  // namespace

std::string CFailNameList::Serialize() const {
    std::string out;
    PutU32(out, uint32_t(items.size()));
    for (const auto& item : items) {
        PutText(out, item.path);
        PutU32(out, uint32_t(item.value));
    }
    return out;
}

bool CFailNameList::Deserialize(const std::string& bytes) {
    items.clear();
    Reader r{bytes};
    uint32_t count = r.Get(4);
    // Every element takes at least 8 bytes (empty text and value), so a
    // count the file cannot hold is refused before anything is allocated.
    if (!r.ok || count > (bytes.size() - r.pos) / 8) return false;
    std::vector<CFailNameStruct> read;
    for (uint32_t i = 0; r.ok && i < count; ++i) {
        CFailNameStruct s;
        s.path = r.Text();
        s.value = int32_t(r.Get(4));
        if (r.ok) read.push_back(std::move(s));
    }
    if (!r.ok || r.pos != bytes.size()) return false;
    items = std::move(read);
    return true;
}

bool CFailNameList::UsablePath(const std::wstring& path) {
    if (path.empty() || path.find(L'\0') != std::wstring::npos) return false;
    // Both separators count: a list written on Windows may use either.
    auto isSep = [](wchar_t c) { return c == L'/' || c == L'\\'; };
    if (isSep(path[0]) || (path.size() >= 2 && path[1] == L':')) return false;
    bool named = false;  // "." or "./" names the data folder itself
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = start;
        while (end < path.size() && !isSep(path[end])) ++end;
        // Windows may trim trailing dots and spaces: ". ." or "..." can lead up too.
        size_t dots = 0;
        bool onlyDotsAndSpaces = true;
        for (size_t i = start; i < end; ++i) {
            if (path[i] == L'.')
                ++dots;
            else if (path[i] != L' ')
                onlyDotsAndSpaces = false;
        }
        if (onlyDotsAndSpaces && dots >= 2) return false;
        named = named || !onlyDotsAndSpaces;
        start = end + 1;
    }
    return named;
}

void CFailNameList::Load(const std::wstring& file, std::vector<CFailNameStruct>* rejected) {
    items.clear();
    if (rejected) rejected->clear();
    std::string bytes;
    if (!plat::ReadSmallFile(file, kMaxFailNameListSize, &bytes) || !Deserialize(bytes)) return;
    std::vector<CFailNameStruct> usable;
    for (auto& item : items) {
        if (UsablePath(item.path))
            usable.push_back(std::move(item));
        else if (rejected)
            rejected->push_back(std::move(item));
    }
    items = std::move(usable);
}

bool CFailNameList::Save(const std::wstring& file) const {
    plat::FileSystem& fs = plat::Fs();
    if (items.empty()) {
        (void)fs.SetAttributes(file, plat::kAttrNormal);
        return fs.DeleteFile(file) || !fs.Exists(file);
    }
    const std::string bytes = Serialize();
    const std::wstring tmp = file + L".tmp";
    {
        auto f = fs.Open(tmp, plat::Access::ReadWrite, plat::Disposition::CreateAlways);
        if (!f || !f->WriteAll(bytes.data(), uint32_t(bytes.size())) || !f->Flush()) {
            f.reset();
            (void)fs.DeleteFile(tmp);
            return false;
        }
    }
    // The old list goes only once the new one is complete beside it.
    if (fs.Exists(file)) {
        (void)fs.SetAttributes(file, plat::kAttrNormal);
        if (!fs.DeleteFile(file)) {
            (void)fs.DeleteFile(tmp);
            return false;
        }
    }
    return fs.Move(tmp, file);
}

}  // namespace engine
