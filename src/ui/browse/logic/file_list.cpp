#include "ui/browse/logic/file_list.h"

#include <algorithm>
#include <cwchar>

#include "crypto/content_cipher.h"
#include "platform/env.h"
#include "platform/text.h"
#include "store/layout.h"
#include "ui/browse/logic/browse_texts.h"

namespace ui::browse {

namespace tx = ui::texts::browse;

namespace {

const ColumnInfo kColumns[kColumnCount] = {
    {tx::kHeaderName, ColumnInfo::Left, 268},  {tx::kHeaderType, ColumnInfo::Left, 158},
    {tx::kHeaderSize, ColumnInfo::Right, 88},  {tx::kHeaderDate, ColumnInfo::Centre, 128},
    {tx::kHeaderFlag, ColumnInfo::Centre, 58}, {tx::kHeaderState, ColumnInfo::Centre, 88},
};

std::wstring Pad2(int v) {
    std::wstring s = std::to_wstring(v);
    return s.size() < 2 ? L"0" + s : s;
}

// The size column back as a number: "1,024KB" is 1024.
uint64_t NumberKey(const std::wstring& size) {
    if (size.size() < 2) return 0;
    uint64_t v = 0;
    for (wchar_t c : size.substr(0, size.size() - 2))
        if (c >= L'0' && c <= L'9') v = v * 10 + uint64_t(c - L'0');
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
    const int year = Digits(date, 0, 4);
    if (year <= 1970) return 0;
    int64_t k = year;
    k = k * 12 + Digits(date, 5, 2);
    k = k * 31 + Digits(date, 8, 2);
    k = k * 24 + Digits(date, 11, 2);
    k = k * 60 + Digits(date, 14, 2);
    return k;
}

const std::wstring& Suffix() {
    static const std::wstring s = crypto::kEncryptedSuffix;
    return s;
}

// Relative path of a row of the folder shown: no suffix.
std::wstring RelOf(const std::wstring& browseRel, const ListRow& row) {
    return browseRel + row.name;
}

// The name as it is stored: the suffix back on flagged files.
std::wstring StoredName(const ListRow& row) {
    return row.name + (row.Flagged() ? Suffix() : L"");
}

bool ValidIndex(const std::vector<ListRow>& rows, int i) {
    return i >= 0 && size_t(i) < rows.size();
}

// A name the file system takes as one entry of the folder shown.
bool IsGoodName(const std::wstring& name) {
    if (name.empty() || name == L"." || name == L"..") return false;
    if (name.back() == L' ' || name.back() == L'.') return false;
    for (wchar_t c : name)
        if (c < 0x20 || std::wcschr(L"\\/:*?\"<>|", c)) return false;
    return true;
}

void DeleteTree(const std::wstring& dir) {
    std::vector<plat::DirEntry> entries;
    if (plat::Fs().ListDir(dir, &entries)) {
        for (const auto& e : entries) {
            const std::wstring p = plat::JoinPath(dir, e.name);
            if (e.IsDirectory() && !(e.attributes & plat::kAttrReparsePoint))
                DeleteTree(p);
            else if (e.IsDirectory())
                (void)plat::Fs().RemoveDir(p);  // a junction goes, never what it leads to
            else
                (void)plat::Fs().DeleteFile(p);
        }
    }
    (void)plat::Fs().RemoveDir(dir);
}

}  // namespace

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

const ColumnInfo& Column(int column) {
    return kColumns[column >= 0 && column < kColumnCount ? column : 0];
}

std::wstring FormatText(const wchar_t* format, const std::vector<std::wstring>& args) {
    std::wstring out;
    size_t next = 0;
    for (const wchar_t* p = format; *p; ++p) {
        if (*p == L'%') {
            size_t len = 0;
            if (p[1] == L'd' || p[1] == L's')
                len = 2;
            else if (std::wcsncmp(p, L"%llu", 4) == 0)
                len = 4;
            if (len) {
                out += next < args.size() ? args[next] : L"";
                ++next;
                p += len - 1;
                continue;
            }
        }
        out += *p;
    }
    return out;
}

std::wstring SizeText(uint64_t bytes) {
    const uint64_t kb = bytes <= 1024 ? 1 : (bytes - 1) / 1024 + 1;
    const std::wstring digits = std::to_wstring(kb);
    std::wstring out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i && (digits.size() - i) % 3 == 0) out += L',';
        out += digits[i];
    }
    return out + tx::kKB;
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

std::wstring TypeText(const std::wstring& displayName, bool folder, const std::wstring& shellType) {
    // A shell that speaks no Chinese ("Folder" under Wine) would be the one
    // English word in the window: our own text instead.
    const bool spoken = std::any_of(shellType.begin(), shellType.end(),
                                    [](wchar_t c) { return c > 0x7F; });
    if (spoken) return shellType;
    if (folder) return tx::kTypeFolder;
    const size_t dot = displayName.rfind(L'.');
    if (dot == std::wstring::npos) return tx::kTypeOther;
    return displayName.substr(dot + 1) + tx::kTypeSuffix;
}

ListRow MakeRow(const plat::DirEntry& e, const TypeNamer& namer) {
    ListRow r;
    r.storedName = e.name;
    r.folder = e.IsDirectory();
    r.name = e.name;
    if (!r.folder && plat::EndsWithNoCase(e.name, Suffix()) && e.name.size() > Suffix().size()) {
        r.name = e.name.substr(0, e.name.size() - Suffix().size());
        r.flag = tx::kFlagEncrypted;
    }
    r.type = TypeText(r.name, r.folder, namer ? namer(r.name, r.folder) : L"");
    if (!r.folder) {
        r.bytes = e.size;
        r.size = SizeText(e.size);
    }
    r.date = DateText(e.times);
    return r;
}

std::vector<ListRow> ListRows(const std::wstring& dir, bool atStoreRoot,
                              const std::wstring& workingDir,
                              const std::function<bool(const std::wstring&)>& isOpened,
                              const TypeNamer& namer) {
    std::vector<ListRow> rows;
    std::vector<std::wstring> storedFolders;
    std::vector<plat::DirEntry> entries;
    if (plat::Fs().ListDir(dir, &entries)) {
        for (const auto& e : entries) {
            if (atStoreRoot && e.IsDirectory() &&
                plat::EqualsNoCase(e.name, store::kWorkingFolderName))
                continue;
            ListRow r = MakeRow(e, namer);
            if (r.folder) storedFolders.push_back(e.name);
            if (isOpened && isOpened(r.name)) r.state = tx::kStateDecrypted;
            rows.push_back(std::move(r));
        }
    }
    std::vector<plat::DirEntry> copies;
    if (!workingDir.empty() && plat::Fs().ListDir(workingDir, &copies)) {
        for (const auto& e : copies) {
            if (e.IsDirectory() &&
                std::any_of(storedFolders.begin(), storedFolders.end(),
                            [&](const std::wstring& n) { return plat::EqualsNoCase(n, e.name); }))
                continue;
            ListRow r = MakeRow(e, namer);
            r.state = tx::kStateDecrypted;
            r.workingCopy = true;
            rows.push_back(std::move(r));
        }
    }
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

bool SortState::Click(int column) {
    ascending_ = column == column_ ? !ascending_ : true;
    column_ = column;
    return ascending_;
}

Totals CountRows(const std::vector<ListRow>& rows) {
    Totals t;
    for (const auto& r : rows) {
        if (r.folder) {
            ++t.folders;
        } else {
            ++t.files;
            t.bytes += r.bytes;
        }
    }
    return t;
}

SelectionCounts CountSelection(const std::vector<ListRow>& rows, const std::vector<int>& selected) {
    SelectionCounts s;
    for (int i : selected) {
        if (!ValidIndex(rows, i)) continue;
        if (rows[size_t(i)].size.empty()) {
            ++s.folders;
        } else {
            ++s.files;
            s.kb += NumberKey(rows[size_t(i)].size);
        }
    }
    return s;
}

std::wstring TotalsText(const Totals& t) {
    return FormatText(tx::kTotals, {std::to_wstring(t.files), std::to_wstring(t.folders),
                                    std::to_wstring(t.bytes)});
}

std::wstring SelectionText(const SelectionCounts& s) {
    return FormatText(tx::kSelected, {std::to_wstring(s.files), std::to_wstring(s.folders)});
}

StorePlaces StorePlaces::Of(const std::wstring& dataDir) {
    StorePlaces p;
    p.dataDir = plat::WithSep(dataDir);
    p.workingDir = plat::JoinPath(plat::JoinPath(p.dataDir, store::kWorkingFolderName),
                                  store::kNotDeleteFolderName);
    return p;
}

FileListModel::FileListModel(StorePlaces places, OpenedItems& opened, TypeNamer namer)
    : places_(std::move(places)), opened_(opened), namer_(std::move(namer)) {
    places_.dataDir = plat::WithSep(places_.dataDir);
}

void FileListModel::Fill(const std::wstring& folder) {
    current_ = plat::WithSep(folder);
    relative_.clear();
    if (current_.size() > places_.dataDir.size() &&
        plat::StartsWithNoCase(current_, places_.dataDir))
        relative_ = current_.substr(places_.dataDir.size());
    opened_.SetBrowseRelativePath(relative_);
    const bool atRoot = relative_.empty();
    std::wstring working;
    if (!places_.workingDir.empty())
        working = atRoot ? places_.workingDir : plat::JoinPath(places_.workingDir, relative_);
    const std::wstring rel = relative_;
    rows_ = ListRows(
        current_, atRoot, working,
        [this, rel](const std::wstring& name) { return opened_.IsOpenedPath(rel + name); }, namer_);
    sort_.Reset();
    SortRows(rows_, kColName, true);
}

void FileListModel::Refresh() {
    const SortState keep = sort_;
    Fill(current_);
    sort_ = keep;
    SortRows(rows_, sort_.ColumnSorted(), sort_.Ascending());
}

void FileListModel::ClickColumn(int column) {
    if (column < 0 || column >= kColumnCount) return;
    SortRows(rows_, column, sort_.Click(column));
}

bool MenuEnabled(MenuCommand command, bool anySelected, bool readOnly) {
    switch (command) {
        case kCmdCut:
        case kCmdCopy:
        case kCmdPaste:
            return false;
        case kCmdOpen:
            return anySelected;
        case kCmdCopyOut:
        case kCmdMoveOut:
        case kCmdRename:
        case kCmdDelete:
            return anySelected && !readOnly;
        case kCmdMoveIn:
        case kCmdNewFolder:
            return !readOnly;
    }
    return false;
}

OpenPlan PlanOpen(const std::vector<ListRow>& rows, const std::vector<int>& selected,
                  const std::wstring& browseRel, const OpenedItems& opened) {
    OpenPlan plan;
    for (int i : selected) {
        if (!ValidIndex(rows, i)) continue;
        const ListRow& r = rows[size_t(i)];
        const std::wstring rel = RelOf(browseRel, r);
        // A working copy is already out of the store: launch it as it is.
        if (!opened.IsOpenedPath(rel) && !r.workingCopy) plan.toDecrypt.push_back(StoredName(r));
        plan.launches.push_back({rel, i, r.folder});
    }
    return plan;
}

OpenPlan PlanOpenFirst(const std::vector<ListRow>& rows, const std::vector<int>& selected,
                       const std::wstring& browseRel, const OpenedItems& opened) {
    for (int i : selected) {
        if (!ValidIndex(rows, i)) continue;
        if (rows[size_t(i)].size.empty()) break;  // a folder: entered, not opened
        return PlanOpen(rows, {i}, browseRel, opened);
    }
    return {};
}

std::wstring OutPlan::OpenMessage() const {
    return openCount > 0 ? FormatText(tx::kOpenItemsLeft, {std::to_wstring(openCount)}) : L"";
}

OutPlan PlanDecryptOut(const std::vector<ListRow>& rows, const std::vector<int>& selected,
                       const std::wstring& browseRel, const OpenedItems& opened) {
    OutPlan plan;
    for (int i : selected) {
        if (!ValidIndex(rows, i)) continue;
        const ListRow& r = rows[size_t(i)];
        if (opened.IsOpenedPath(RelOf(browseRel, r)) || r.workingCopy)
            ++plan.openCount;
        else
            plan.items.push_back(StoredName(r));
    }
    return plan;
}

MoveInNames SplitChosenFiles(const std::vector<std::wstring>& paths) {
    MoveInNames out;
    if (paths.empty()) return out;
    out.sourceFolder = plat::ParentWithSep(paths.front());
    for (const auto& p : paths) {
        if (plat::StartsWithNoCase(p, out.sourceFolder) && p.size() > out.sourceFolder.size())
            out.names.push_back(p.substr(out.sourceFolder.size()));
    }
    return out;
}

std::wstring NewFolderPath(const std::wstring& folder) {
    const std::wstring base = plat::WithSep(folder);
    std::wstring candidate = base + tx::kNewFolderName;
    for (int n = 1; plat::Fs().Exists(candidate); ++n)
        candidate = base + tx::kNewFolderName + L" (" + std::to_wstring(n) + L")";
    return candidate;
}

RenameResult RenameRow(const ListRow& row, const std::wstring& newText, const std::wstring& folder,
                       const std::wstring& browseRel, const OpenedItems& opened) {
    RenameResult res;
    if (newText.empty() || plat::EqualsNoCase(newText, row.name)) return res;
    if (!IsGoodName(newText)) {
        res.message = tx::kBadName;
        return res;
    }
    if (row.workingCopy || opened.HoldsInside(RelOf(browseRel, row))) {
        res.message = tx::kRenameWhileOpen;
        return res;
    }
    const std::wstring dir = plat::WithSep(folder);
    std::wstring newPath = dir + newText;
    std::wstring oldPath = dir + row.name;
    if (row.size.empty()) {
        if (plat::Fs().Exists(newPath)) {
            res.message = tx::kFolderExists;
            return res;
        }
        res.accepted = plat::Fs().Move(oldPath, newPath);
        return res;
    }
    const bool newHasSuffix = plat::EndsWithNoCase(newText, Suffix());
    if (!row.Flagged() && newHasSuffix) {
        res.message = FormatText(tx::kSuffixReserved, {Suffix()});
        return res;
    }
    // Both forms of the new name must be free, or two rows would show one name.
    const std::wstring other =
        newHasSuffix ? newPath.substr(0, newPath.size() - Suffix().size()) : newPath + Suffix();
    if (plat::Fs().Exists(newPath) || plat::Fs().Exists(other)) {
        res.message = tx::kFileExists;
        return res;
    }
    if (row.Flagged()) {
        oldPath += Suffix();
        newPath += Suffix();
    }
    if (!plat::Fs().Move(oldPath, newPath)) {
        res.message = tx::kRenameFailed;
        return res;
    }
    res.accepted = true;
    return res;
}

DeletePlan PlanDelete(const std::vector<ListRow>& rows, const std::vector<int>& selected,
                      const std::wstring& folder) {
    DeletePlan plan;
    const std::wstring dir = plat::WithSep(folder);
    std::vector<std::wstring> names;
    for (int i : selected) {
        if (!ValidIndex(rows, i)) continue;
        const ListRow& r = rows[size_t(i)];
        names.push_back(r.name);
        plan.paths.push_back(dir + StoredName(r));
    }
    if (names.empty()) return plan;
    plan.question = FormatText(tx::kDeleteQuestion, {std::to_wstring(names.size())});
    for (size_t i = 0; i < names.size() && i < 3; ++i)
        plan.question += FormatText(tx::kDeleteLine, {std::to_wstring(i + 1), names[i]});
    if (names.size() > 3)
        plan.question += FormatText(tx::kDeleteMore, {std::to_wstring(names.size() - 3)});
    return plan;
}

void DeletePaths(const std::vector<std::wstring>& paths) {
    for (const auto& p : paths) {
        const uint32_t a = plat::Fs().GetAttributes(p);
        if (a == plat::kInvalidAttributes) continue;
        if ((a & plat::kAttrDirectory) && !(a & plat::kAttrReparsePoint))
            DeleteTree(p);
        else if (a & plat::kAttrDirectory)
            (void)plat::Fs().RemoveDir(p);
        else
            (void)plat::Fs().DeleteFile(p);
    }
}

}  // namespace ui::browse
