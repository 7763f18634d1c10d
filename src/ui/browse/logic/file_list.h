// The browse window's file list without the window: the rows of one store
// folder under the names the user gave them (store pass, then the working
// copies of opened items), the six columns and their formats, the column
// sort, the selection counts, the context menu's enabling, and the decisions
// of the item commands (open, copy/move out, new folder, rename, delete).
// The `ulxjm list` command uses the same rows, so both show the same names,
// sizes, flags and order.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "ui/browse/logic/opened_items.h"

namespace ui::browse {

enum ListColumn : int {
    kColName = 0,
    kColType = 1,
    kColSize = 2,
    kColDate = 3,
    kColFlag = 4,
    kColState = 5,
};
inline constexpr int kColumnCount = 6;

struct ColumnInfo {
    const wchar_t* header;
    enum Align { Left, Right, Centre } align;
    int width;  // pixels
};
const ColumnInfo& Column(int column);

struct ListRow {
    std::wstring name;  // display name
    std::wstring type;
    std::wstring size;  // empty for folders
    std::wstring date;
    std::wstring flag;   // "elxjm" for a file stored with the encrypted suffix
    std::wstring state;  // "已解密" for an opened item or a working copy
    bool folder = false;
    uint64_t bytes = 0;
    std::wstring storedName;   // name on disk
    bool workingCopy = false;  // listed from the working area

    bool Flagged() const { return flag.size() > 1; }
};

// Size column: (bytes - 1) / 1024 + 1 kilobytes, 1 for 0..1024 bytes,
// grouped by three with ",", then "KB".
std::wstring SizeText(uint64_t bytes);
// "yyyy-mm-dd hh:mm:ss" of the last-write time (creation time when zero).
std::wstring DateText(const plat::FileTimes& times);
// Type column: `shellType` when the desktop gave one in Chinese, else the
// extension and " 文件", "其他文件" for names without a dot, "文件夹" for
// folders (also in place of an untranslated "Folder").
std::wstring TypeText(const std::wstring& displayName, bool folder,
                      const std::wstring& shellType = L"");

// The desktop's type names (the window asks the shell); null: the fallback.
using TypeNamer = std::function<std::wstring(const std::wstring& displayName, bool folder)>;

// The row of one directory entry: the encrypted suffix stripped and flagged.
ListRow MakeRow(const plat::DirEntry& entry, const TypeNamer& namer = nullptr);

// The rows of the store folder `dir` (the working area "working" left out at
// the store root, `atStoreRoot`), marked "已解密" where `isOpened` holds for
// the display name; then what `workingDir` holds for this folder, marked
// "已解密", folders already listed from the store skipped. `workingDir`
// empty or missing: no working copies. Unsorted.
std::vector<ListRow> ListRows(const std::wstring& dir, bool atStoreRoot,
                              const std::wstring& workingDir,
                              const std::function<bool(const std::wstring&)>& isOpened = nullptr,
                              const TypeNamer& namer = nullptr);

// Sorts as a click on `column` does: text columns ignoring case, size as a
// number, date by time to the minute; folders before files except for the
// date and flag columns; `ascending` false reverses only the key order.
// Stable: equal keys keep their order.
// The text of `column` in a row.
const std::wstring& ColumnText(const ListRow& r, int column);
void SortRows(std::vector<ListRow>& rows, int column, bool ascending);

// The direction rule of column clicks: a new column sorts ascending, the
// same column again flips the direction.
class SortState {
  public:
    // After a fill the list is sorted by name, ascending.
    void Reset() { column_ = kColName, ascending_ = true; }
    // Records a click on `column`; the direction to sort in.
    bool Click(int column);
    int ColumnSorted() const { return column_; }
    bool Ascending() const { return ascending_; }

  private:
    int column_ = kColName;
    bool ascending_ = true;
};

struct Totals {
    int files = 0;
    int folders = 0;
    uint64_t bytes = 0;
};
Totals CountRows(const std::vector<ListRow>& rows);

struct SelectionCounts {
    int files = 0;
    int folders = 0;
    uint64_t kb = 0;  // sum of the selected size columns
};
SelectionCounts CountSelection(const std::vector<ListRow>& rows, const std::vector<int>& selected);

// `format` with each "%d", "%s" and "%llu" replaced by the next argument.
std::wstring FormatText(const wchar_t* format, const std::vector<std::wstring>& args);

// "总计：..." and "已选中：..." lines of the window.
std::wstring TotalsText(const Totals& t);
std::wstring SelectionText(const SelectionCounts& s);

// Where the store is; the working area is the data folder's
// "working<sep>NotDelete".
struct StorePlaces {
    std::wstring dataDir;     // the store's data folder (separator optional)
    std::wstring workingDir;  // working-copy root; empty: no working pass

    static StorePlaces Of(const std::wstring& dataDir);
};

// One filled folder of the list.
class FileListModel {
  public:
    FileListModel(StorePlaces places, OpenedItems& opened, TypeNamer namer = nullptr);

    // Lists `folder` (absolute, inside the data folder), sets the browse
    // relative path in the opened items and sorts by name.
    void Fill(const std::wstring& folder);
    // Re-reads the folder shown, keeping the current sort.
    void Refresh();
    // A click on a column header.
    void ClickColumn(int column);

    const std::vector<ListRow>& Rows() const { return rows_; }
    const std::wstring& CurrentPath() const { return current_; }  // ends in the separator
    const std::wstring& RelativePath() const { return relative_; }
    Totals GetTotals() const { return CountRows(rows_); }
    const SortState& Sort() const { return sort_; }
    const StorePlaces& Places() const { return places_; }

  private:
    StorePlaces places_;
    OpenedItems& opened_;
    TypeNamer namer_;
    std::wstring current_, relative_;
    std::vector<ListRow> rows_;
    SortState sort_;
};

// Context menu commands (menu resource ids).
enum MenuCommand : int {
    kCmdOpen = 32779,
    kCmdCopyOut = 32795,
    kCmdMoveOut = 32785,
    kCmdCut = 32777,
    kCmdCopy = 32775,
    kCmdPaste = 32776,
    kCmdMoveIn = 32793,
    kCmdNewFolder = 32783,
    kCmdRename = 32787,
    kCmdDelete = 32789,
};
// Whether a menu entry is enabled. The clipboard entries never are; with
// nothing selected only move-in and new folder are; the open-only variant
// offers nothing but "打开".
bool MenuEnabled(MenuCommand command, bool anySelected, bool readOnly);

// ---- Command decisions. `selected` are row indices in list order.

// Opening: which stored paths to decrypt into the working area, and which
// relative paths to launch once they are there. Items already open are not
// decrypted again but launched again.
struct OpenPlan {
    // Stored names in the folder shown (the suffix on flagged files), for
    // PlanDecrypt.
    std::vector<std::wstring> toDecrypt;
    struct Launch {
        std::wstring rel;  // relative, no suffix
        int row = -1;
        bool folder = false;
    };
    std::vector<Launch> launches;
};
OpenPlan PlanOpen(const std::vector<ListRow>& rows, const std::vector<int>& selected,
                  const std::wstring& browseRel, const OpenedItems& opened);
// The button and double-click: the first selected row, files only (a
// selected folder is entered through the tree instead).
OpenPlan PlanOpenFirst(const std::vector<ListRow>& rows, const std::vector<int>& selected,
                       const std::wstring& browseRel, const OpenedItems& opened);

// Copy-to / move-to: the stored paths for the decryption pass, and how many
// selected items are open and left alone.
struct OutPlan {
    std::vector<std::wstring> items;  // stored names in the folder shown, for PlanDecrypt
    int openCount = 0;
    // "存在 %d 个文件处于打开状态..." when openCount > 0, else empty.
    std::wstring OpenMessage() const;
};
OutPlan PlanDecryptOut(const std::vector<ListRow>& rows, const std::vector<int>& selected,
                       const std::wstring& browseRel, const OpenedItems& opened);

// Move-in: the chosen files' common folder and their names relative to it.
struct MoveInNames {
    std::wstring sourceFolder;  // ends in the separator
    std::vector<std::wstring> names;
};
MoveInNames SplitChosenFiles(const std::vector<std::wstring>& paths);

// The first free "新建文件夹", "新建文件夹 (1)", ... in `folder`.
std::wstring NewFolderPath(const std::wstring& folder);

// Rename of `row` in `folder` to `newText`, done on disk when allowed.
struct RenameResult {
    bool accepted = false;  // the list keeps the new label
    std::wstring message;   // shown when not empty
};
RenameResult RenameRow(const ListRow& row, const std::wstring& newText, const std::wstring& folder,
                       const std::wstring& browseRel, const OpenedItems& opened);

// Delete: the question to ask and the stored paths to delete on Yes.
struct DeletePlan {
    std::wstring question;
    std::vector<std::wstring> paths;  // absolute, with the suffix when flagged
};
DeletePlan PlanDelete(const std::vector<ListRow>& rows, const std::vector<int>& selected,
                      const std::wstring& folder);
// Deletes the planned paths (folders with everything below them); failures
// are left for the refresh to show.
void DeletePaths(const std::vector<std::wstring>& paths);

}  // namespace ui::browse
