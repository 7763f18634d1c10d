// The listing of one store folder the way the browse window's file list
// shows it: display names without the encrypted suffix, type, size in KB,
// date, flag and state, and its column sort.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/fs.h"

namespace cli {

enum ListColumn : int {
    kColName = 0,
    kColType = 1,
    kColSize = 2,
    kColDate = 3,
    kColFlag = 4,
    kColState = 5,
};

struct ListRow {
    std::wstring name;  // display name
    std::wstring type;
    std::wstring size;  // empty for folders
    std::wstring date;
    std::wstring flag;   // "elxjm" for a file stored with the encrypted suffix
    std::wstring state;  // "已解密" for a working copy
    bool folder = false;
    uint64_t bytes = 0;
    std::wstring storedName;  // name on disk
};

// "%d KB" text of the size column: (bytes - 1) / 1024 + 1, at least 1,
// grouped by three with ",", then "KB".
std::wstring SizeText(uint64_t bytes);
// "yyyy-mm-dd hh:mm:ss" of the last-write time (creation time when zero).
std::wstring DateText(const plat::FileTimes& times);
// Type column without the shell: the extension and " 文件", "其他文件" for
// names without a dot, "文件夹" for folders.
std::wstring TypeText(const std::wstring& displayName, bool folder);

// Rows for `dir`; at the store root (`atStoreRoot`) the browse working
// area "working" is left out, and what it holds for this folder is listed
// as working copies ("已解密"), folders already listed skipped.
std::vector<ListRow> ListFolder(const std::wstring& dir, bool atStoreRoot,
                                const std::wstring& workingDir = L"");

// Sorts as a click on `column` does: text columns case-insensitively, size
// as a number, date by time to the minute; folders before files except for
// the date and flag columns; `ascending` false reverses only the key order.
void SortRows(std::vector<ListRow>& rows, int column, bool ascending);

// Column by its English or header name ("name", "size", "日 期", ...); -1
// when unknown.
int ColumnByName(const std::wstring& name);

// The rows as a JSON array (UTF-8 text as wide text).
std::wstring RowsToJson(const std::vector<ListRow>& rows);
// The rows as an aligned table with the window's header texts.
std::wstring RowsToTable(const std::vector<ListRow>& rows);

// Display width of a text in a terminal (CJK characters take two cells).
int DisplayWidth(const std::wstring& text);

}  // namespace cli
