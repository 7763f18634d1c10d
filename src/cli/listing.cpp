#include "cli/listing.h"

#include <algorithm>

#include "platform/text.h"

namespace cli {

namespace {

const wchar_t* const kKeys[] = {L"name", L"type", L"size", L"date", L"flag", L"state"};

const wchar_t* Header(int column) {
    return ui::browse::Column(column).header;
}

using ui::browse::ColumnText;

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

std::vector<ListRow> ListFolder(const std::wstring& dir, bool atStoreRoot,
                                const std::wstring& workingDir) {
    std::vector<ListRow> rows = ui::browse::ListRows(dir, atStoreRoot, workingDir);
    SortRows(rows, kColName, true);
    return rows;
}

int ColumnByName(const std::wstring& name) {
    for (int i = 0; i < 6; ++i)
        if (plat::EqualsNoCase(name, kKeys[i]) || name == Header(i)) return i;
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
    for (int c = 0; c < 6; ++c) width[c] = DisplayWidth(Header(c));
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
    for (int c = 0; c < 6; ++c) header[c] = Header(c);
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
