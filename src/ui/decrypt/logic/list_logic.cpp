#include "ui/decrypt/logic/list_logic.h"

#include "ui/decrypt/logic/decrypt_texts.h"
#include "ui/encrypt/logic/jiami_logic.h"

namespace ui::logic {

const std::array<ListColumn, 4>& ListColumns() {
    static const std::array<ListColumn, 4> columns = {{
        {texts::kListColumnName, 288},
        {texts::kListColumnKind, 118},
        {texts::kListColumnTime, 118},
        {texts::kListColumnState, 58},
    }};
    return columns;
}

ListDecryptStep DecryptSelected(int selected, const std::vector<std::wstring>& rowFolders) {
    ListDecryptStep step;
    if (selected < 0 || static_cast<size_t>(selected) >= rowFolders.size()) return step;
    const std::wstring& folder = rowFolders[static_cast<size_t>(selected)];
    // A row without a folder cannot be opened: treat it like no selection.
    if (folder.empty()) return step;
    step.relaunch = true;
    step.arguments = RelaunchArguments(folder);
    return step;
}

std::wstring RelaunchForChosen(const std::wstring& chosenFolder) {
    if (chosenFolder.empty()) return {};
    return RelaunchArguments(chosenFolder);
}

bool ShowPurgeButton(size_t invalidRows) {
    return invalidRows > 0;
}

std::wstring RelaunchFailedMessage(const std::wstring& modulePath, const std::wstring& reason) {
    std::wstring text = std::wstring(texts::kListRelaunchFailed) + L"\r\n\r\n" + modulePath;
    if (!reason.empty()) text += L"\r\n\r\n" + reason;
    return text;
}

}  // namespace ui::logic
