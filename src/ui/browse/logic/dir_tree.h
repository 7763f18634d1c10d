// The browse window's folder tree without the window. The root item shows
// the protected folder's path (as if it were decrypted in place); below it
// are the store's folders, read one level at a time when expanded, merged
// with the folders of the working area. An item's storage path puts the
// store's data sub-path back right after the root label.
//
// The window mirrors this model in its tree control: each node carries a
// pointer the control item keeps as its data, and the window inserts or
// deletes control items whenever a call here changes a node's children.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace ui::browse {

struct TreeNode {
    std::wstring label;        // folder name; the root: the protected folder's path
    bool placeholder = false;  // the empty child that makes the expand button show
    bool expanded = false;
    TreeNode* parent = nullptr;
    std::vector<std::unique_ptr<TreeNode>> children;

    bool HasPlaceholder() const { return children.size() == 1 && children[0]->placeholder; }
};

// The root label and data sub-path of a storage path: every occurrence of
// `foundDataRel` is taken out of `storagePath` (its trailing separators cut)
// for the label; when it does not occur, the legacy alias's data sub-path is
// taken out instead and becomes the sub-path.
struct RootSplit {
    std::wstring label;
    std::wstring dataSubPath;
};
RootSplit SplitStorePath(const std::wstring& storagePath, const std::wstring& foundDataRel);

// Storage path of a node from its labels: the root contributes its label and
// the data sub-path, every other level its label; trailing separators cut.
std::wstring ItemPath(const TreeNode& node, const std::wstring& dataSubPath);

class DirTree {
  public:
    // `workingDir`: the working-copy root (data folder + "working<sep>NotDelete");
    // empty: no working-area folders.
    explicit DirTree(std::wstring workingDir = L"") : workingDir_(std::move(workingDir)) {}

    // Fills the tree with the store at `storagePath` (its data folder), the
    // root expanded and selected.
    void ShowStore(const std::wstring& storagePath, const std::wstring& foundDataRel);

    TreeNode* Root() { return root_.get(); }
    TreeNode* Selected() { return selected_; }
    void Select(TreeNode* node) { selected_ = node; }

    std::wstring GetItemPath(const TreeNode& node) const { return ItemPath(node, dataSubPath_); }
    const std::wstring& DataSubPath() const { return dataSubPath_; }

    // Re-reads a node's sub-folders from disk (store, then working area).
    void ReloadChildren(TreeNode& node);
    // After an expansion: the children are read again.
    void Expand(TreeNode& node);
    // After a collapse: only the placeholder is kept.
    void Collapse(TreeNode& node);
    // Selects the child of the selected node named `name` (ignoring case),
    // expanding the selected node first; null and nothing changes when there
    // is none.
    TreeNode* SelectChildByName(const std::wstring& name);

  private:
    void KeepSelectionAbove(TreeNode& node);

    std::wstring workingDir_;
    std::wstring storeDataDir_;  // with separator
    std::wstring dataSubPath_;
    std::unique_ptr<TreeNode> root_;
    TreeNode* selected_ = nullptr;
};

// True when the folder `path` holds at least one folder.
bool HasSubFolders(const std::wstring& path);

}  // namespace ui::browse
