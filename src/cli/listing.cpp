#include "cli/listing.h"

#include <algorithm>

#include "crypto/content_cipher.h"
#include "platform/env.h"
#include "platform/text.h"
#include "store/layout.h"

namespace cli {

namespace {

const wchar_t* const kHeaders[] = {L"名 称", L"文件类型", L"文件大小", L"日 期", L"标志", L"状态"};
const wchar_t* const kKeys[] = {L"name", L"type", L"size", L"date", L"flag", L"state"};
constexpr const wchar_t* kOpenedState = L"已解密";

std::wstring Pad2(int v) {
    std::wstring s = std::to_wstring(v);
    return s.size() < 2 ? L"0" + s : s;
}

ListRow MakeRow(const plat::DirEntry& e) {
    ListRow r;
    r.storedName = e.name;
    r.folder = e.IsDirectory();
    r.name = e.name;
    if (!r.folder && plat::EndsWithNoCase(e.name, crypto::kEncryptedSuffix)) {
        r.name = e.name.substr(0, e.name.size() - std::wcslen(crypto::kEncryptedSuffix));
        r.flag = L"elxjm";
    }
    r.type = TypeText(r.name, r.folder);
    if (!r.folder) {
        r.bytes = e.size;
        r.size = SizeText(e.size);
    }
    r.date = DateText(e.times);
    return r;
}

int64_t NumberKey(const std::wstring& size) {
    if (size.size() < 2) return 0;
    int64_t v = 0;
    for (wchar_t c : size.substr(0, size.size() - 2))
        if (c >= L'0' && c <= L'9') v = v * 10 + (c - L'0');
    return v;
}

int Digits(const std::wstring& text, size_t at, size_t n) {
    int v = 0;
    for (size_t i = at; i < at + n && i < text.size(); ++i)
        if (text[i] >= L'0' && text[i] <= L'9') v = v * 10 + (text[i] - L'0');
    return v;
}

// Minutes of the date column's text; years up to 1970 count as 0.
int64_t DateKey(const std::wstring& date) {
    int year = Digits(date, 0, 4);
    if (year <= 1970) return 0;
    int64_t k = year;
    k = k * 12 + Digits(date, 5, 2);
    k = k * 31 + Digits(date, 8, 2);
    k = k * 24 + Digits(date, 11, 2);
    k = k * 60 + Digits(date, 14, 2);
    return k;
}

const std::wstring& ColumnText(const ListRow& r, int column) {
    switch (column) {
        case kColType:
            return r.type;
        case kColSize:
            return r.size;
        case kColDate:
            return r.date;
        case kColFlag:
            return r.flag;
        case kColState:
            return r.state;
        default:
            return r.name;
    }
}

std::wstring JsonString(const std::wstring& s) {
    std::wstring out = L"\"";
    for (wchar_t c : s) {
        switch (c) {
            case L'"':
                out += L"\\\"";
                break;
            case L'\\':
                out += L"\\\\";
                break;
            case L'\n':
                out += L"\\n";
                break;
            case L'\r':
                out += L"\\r";
                break;
            case L'\t':
                out += L"\\t";
                break;
            default:
                if (c < 0x20) {
                    static const wchar_t* hex = L"0123456789abcdef";
                    out += L"\\u00";
                    out += hex[(c >> 4) & 0xF];
                    out += hex[c & 0xF];
                } else {
                    out += c;
                }
        }
    }
    return out + L"\"";
}

std::wstring PadRight(const std::wstring& s, int width) {
    int w = DisplayWidth(s);
    return w >= width ? s : s + std::wstring(size_t(width - w), L' ');
}

std::wstring PadLeft(const std::wstring& s, int width) {
    int w = DisplayWidth(s);
    return w >= width ? s : std::wstring(size_t(width - w), L' ') + s;
}

}  // namespace

std::wstring SizeText(uint64_t bytes) {
    uint64_t kb = bytes <= 1024 ? 1 : (bytes - 1) / 1024 + 1;
    std::wstring digits = std::to_wstring(kb);
    std::wstring out;
    int n = 0;
    for (size_t i = digits.size(); i-- > 0;) {
        if (n && n % 3 == 0) out.insert(out.begin(), L',');
        out.insert(out.begin(), digits[i]);
        ++n;
    }
    return out + L"KB";
}

std::wstring DateText(const plat::FileTimes& times) {
    plat::LocalTime t;
    const plat::FileTime ft = times.lastWrite ? times.lastWrite : times.creation;
    if (!plat::FileTimeToLocal(ft, &t)) return L"";
    std::wstring year = std::to_wstring(t.year);
    while (year.size() < 4) year.insert(year.begin(), L'0');
    return year + L"-" + Pad2(t.month) + L"-" + Pad2(t.day) + L" " + Pad2(t.hour) + L":" +
           Pad2(t.minute) + L":" + Pad2(t.second);
}

std::wstring TypeText(const std::wstring& displayName, bool folder) {
    if (folder) return L"文件夹";
    size_t dot = displayName.rfind(L'.');
    if (dot == std::wstring::npos) return L"其他文件";
    return displayName.substr(dot + 1) + L" 文件";
}

std::vector<ListRow> ListFolder(const std::wstring& dir, bool atStoreRoot,
                                const std::wstring& workingDir) {
    std::vector<ListRow> rows;
    std::vector<plat::DirEntry> entries;
    if (plat::Fs().ListDir(dir, &entries)) {
        for (const auto& e : entries) {
            if (atStoreRoot && e.IsDirectory() &&
                plat::EqualsNoCase(e.name, store::kWorkingFolderName))
                continue;
            rows.push_back(MakeRow(e));
        }
    }
    if (!workingDir.empty()) {
        std::vector<plat::DirEntry> copies;
        if (plat::Fs().ListDir(workingDir, &copies)) {
            for (const auto& e : copies) {
                bool listed = false;
                if (e.IsDirectory())
                    for (const auto& r : rows)
                        listed = listed || (r.folder && plat::EqualsNoCase(r.storedName, e.name));
                if (listed) continue;
                ListRow r = MakeRow(e);
                r.state = kOpenedState;
                rows.push_back(r);
            }
        }
    }
    SortRows(rows, kColName, true);
    return rows;
}

void SortRows(std::vector<ListRow>& rows, int column, bool ascending) {
    const bool group = column != kColDate && column != kColFlag;
    auto keyLess = [column](const ListRow& a, const ListRow& b) {
        if (column == kColSize) return NumberKey(a.size) < NumberKey(b.size);
        if (column == kColDate) return DateKey(a.date) < DateKey(b.date);
        return plat::Fold(ColumnText(a, column)) < plat::Fold(ColumnText(b, column));
    };
    std::stable_sort(rows.begin(), rows.end(), [&](const ListRow& a, const ListRow& b) {
        if (group && a.folder != b.folder) return a.folder;
        return ascending ? keyLess(a, b) : keyLess(b, a);
    });
}

int ColumnByName(const std::wstring& name) {
    for (int i = 0; i < 6; ++i)
        if (plat::EqualsNoCase(name, kKeys[i]) || name == kHeaders[i]) return i;
    return -1;
}

std::wstring RowsToJson(const std::vector<ListRow>& rows) {
    std::wstring out = L"[";
    for (size_t i = 0; i < rows.size(); ++i) {
        const ListRow& r = rows[i];
        out += i ? L",\n " : L"\n ";
        out += L"{\"name\": " + JsonString(r.name) + L", \"type\": " + JsonString(r.type) +
               L", \"folder\": " + (r.folder ? L"true" : L"false") + L", \"size\": " +
               JsonString(r.size) + L", \"bytes\": " + std::to_wstring(r.bytes) + L", \"date\": " +
               JsonString(r.date) + L", \"flag\": " + JsonString(r.flag) + L", \"state\": " +
               JsonString(r.state) + L", \"stored\": " + JsonString(r.storedName) + L"}";
    }
    return out + (rows.empty() ? L"]\n" : L"\n]\n");
}

std::wstring RowsToTable(const std::vector<ListRow>& rows) {
    int width[6];
    for (int c = 0; c < 6; ++c) width[c] = DisplayWidth(kHeaders[c]);
    for (const auto& r : rows)
        for (int c = 0; c < 6; ++c) width[c] = std::max(width[c], DisplayWidth(ColumnText(r, c)));
    auto line = [&](const std::wstring* cells) {
        std::wstring l;
        for (int c = 0; c < 6; ++c) {
            if (c) l += L"  ";
            l += c == kColSize ? PadLeft(cells[c], width[c]) : PadRight(cells[c], width[c]);
        }
        while (!l.empty() && l.back() == L' ') l.pop_back();
        return l + L"\n";
    };
    std::wstring header[6];
    for (int c = 0; c < 6; ++c) header[c] = kHeaders[c];
    std::wstring out = line(header);
    for (const auto& r : rows) {
        std::wstring cells[6];
        for (int c = 0; c < 6; ++c) cells[c] = ColumnText(r, c);
        out += line(cells);
    }
    return out;
}

int DisplayWidth(const std::wstring& text) {
    int w = 0;
    for (wchar_t c : text) {
        const uint32_t u = uint32_t(c);
        const bool wide = (u >= 0x1100 && u <= 0x115F) || (u >= 0x2E80 && u <= 0xA4CF) ||
                          (u >= 0xAC00 && u <= 0xD7A3) || (u >= 0xF900 && u <= 0xFAFF) ||
                          (u >= 0xFE30 && u <= 0xFE4F) || (u >= 0xFF00 && u <= 0xFF60) ||
                          (u >= 0xFFE0 && u <= 0xFFE6) || (u >= 0x20000 && u <= 0x3FFFD);
        w += wide ? 2 : 1;
    }
    return w;
}

}  // namespace cli
