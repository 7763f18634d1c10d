// The listing of one store folder the way the browse window's file list
// shows it, as JSON or as a table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "ui/browse/logic/file_list.h"

namespace cli {

// Rows, formats and sort are the browse window's own (ui::browse), so the
// command and the window show the same names, sizes, flags and order.
using ui::browse::DateText;
using ui::browse::kColDate;
using ui::browse::kColFlag;
using ui::browse::kColName;
using ui::browse::kColSize;
using ui::browse::kColState;
using ui::browse::kColType;
using ui::browse::ListRow;
using ui::browse::SizeText;
using ui::browse::SortRows;
using ui::browse::TypeText;

// Rows for `dir` sorted by name; at the store root (`atStoreRoot`) the
// browse working area "working" is left out, and what it holds for this
// folder is listed as working copies ("已解密"), folders already listed
// skipped.
std::vector<ListRow> ListFolder(const std::wstring& dir, bool atStoreRoot,
                                const std::wstring& workingDir = L"");

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
