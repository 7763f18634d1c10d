// Decisions of the decrypt-other-folder list (CDlgList): what its buttons do,
// the list's columns, and the texts it shows. No window code here.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace ui::logic {

struct ListColumn {
    const wchar_t* title;
    int width;  // pixels
};
// 名称, 加密类型, 加密时间, 状态.
const std::array<ListColumn, 4>& ListColumns();

// What 解密 (or a double-click on the list) does.
struct ListDecryptStep {
    bool relaunch = false;   // false: ask the user to select a row
    std::wstring arguments;  // the relaunch's argument text
};
// `selected` is the selected row (-1 for none) of `rowFolders`, the folders
// the list shows.
ListDecryptStep DecryptSelected(int selected, const std::vector<std::wstring>& rowFolders);

// The argument text that relaunches the program on the folder chosen in the
// folder browser; empty when the browser was cancelled (nothing happens).
std::wstring RelaunchForChosen(const std::wstring& chosenFolder);

// The "删除无效项目" button is shown only while the list has invalid rows.
bool ShowPurgeButton(size_t invalidRows);

// Shown when the program could not be started again: it names the program
// and gives the system's reason.
std::wstring RelaunchFailedMessage(const std::wstring& modulePath, const std::wstring& reason);

}  // namespace ui::logic
