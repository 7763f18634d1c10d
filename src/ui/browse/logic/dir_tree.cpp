#include "ui/browse/logic/dir_tree.h"

#include <algorithm>

#include "platform/fs.h"
#include "platform/text.h"
#include "store/layout.h"

namespace ui::browse {

namespace {

bool IsSep(wchar_t c) {
    return c == L'\\' || c == L'/';
}

std::wstring CutTrailingSeps(std::wstring s) {
    while (!s.empty() && IsSep(s.back())) s.pop_back();
    return s;
}

// `text` without any occurrence of `part` (ignoring case); *removed tells
// whether there was one.
std::wstring RemoveAll(const std::wstring& text, const std::wstring& part, bool* removed) {
    *removed = false;
    if (part.empty()) return text;
    std::wstring out = text;
    for (size_t at = plat::FindNoCase(out, part); at != std::wstring::npos;
         at = plat::FindNoCase(out, part)) {
        out.erase(at, part.size());
        *removed = true;
    }
    return out;
}

std::unique_ptr<TreeNode> NewNode(TreeNode* parent, const std::wstring& label, bool placeholder) {
    auto n = std::make_unique<TreeNode>();
    n->label = label;
    n->placeholder = placeholder;
    n->parent = parent;
    return n;
}

void SetPlaceholder(TreeNode& node) {
    node.children.clear();
    node.children.push_back(NewNode(&node, L"", true));
}

}  // namespace

bool HasSubFolders(const std::wstring& path) {
    std::vector<plat::DirEntry> entries;
    if (!plat::Fs().ListDir(path, &entries)) return false;
    return std::any_of(entries.begin(), entries.end(),
                       [](const plat::DirEntry& e) { return e.IsDirectory(); });
}

RootSplit SplitStorePath(const std::wstring& storagePath, const std::wstring& foundDataRel) {
    const std::wstring path = plat::WithSep(storagePath);
    RootSplit out;
    bool removed = false;
    std::wstring label = RemoveAll(path, foundDataRel, &removed);
    out.dataSubPath = foundDataRel;
    if (!removed) {
        out.dataSubPath = std::wstring(store::kLegacyAlias) + plat::kSep + store::kDataFolderName;
        label = RemoveAll(path, out.dataSubPath, &removed);
    }
    out.label = CutTrailingSeps(label);
    return out;
}

std::wstring ItemPath(const TreeNode& node, const std::wstring& dataSubPath) {
    std::wstring result;
    for (const TreeNode* n = &node; n; n = n->parent) {
        std::wstring piece = n->label + plat::kSep;
        if (!n->parent) piece += dataSubPath + plat::kSep;
        result = piece + result;
    }
    return CutTrailingSeps(result);
}

void DirTree::ShowStore(const std::wstring& storagePath, const std::wstring& foundDataRel) {
    storeDataDir_ = plat::WithSep(storagePath);
    const RootSplit split = SplitStorePath(storagePath, foundDataRel);
    dataSubPath_ = split.dataSubPath;
    root_ = NewNode(nullptr, split.label, false);
    ReloadChildren(*root_);
    root_->expanded = true;
    selected_ = root_.get();
}

void DirTree::KeepSelectionAbove(TreeNode& node) {
    // The selection cannot point into children about to be thrown away.
    for (TreeNode* s = selected_; s; s = s->parent) {
        if (s->parent == &node) {
            selected_ = &node;
            return;
        }
    }
}

void DirTree::ReloadChildren(TreeNode& node) {
    KeepSelectionAbove(node);
    node.children.clear();
    const std::wstring path = GetItemPath(node);
    const bool atRoot = &node == root_.get();
    std::vector<std::wstring> names;
    std::vector<plat::DirEntry> entries;
    if (plat::Fs().ListDir(path, &entries)) {
        for (const auto& e : entries) {
            if (!e.IsDirectory()) continue;
            // The working area lives in the store root; it is never a folder of the user's.
            if (atRoot && plat::EqualsNoCase(e.name, store::kWorkingFolderName)) continue;
            names.push_back(e.name);
        }
    }
    std::vector<std::wstring> workingNames;
    std::wstring working;
    if (!workingDir_.empty()) {
        const std::wstring full = plat::WithSep(path);
        const std::wstring rel =
            full.size() > storeDataDir_.size() && plat::StartsWithNoCase(full, storeDataDir_)
                ? full.substr(storeDataDir_.size())
                : L"";
        working = rel.empty() ? workingDir_ : plat::JoinPath(workingDir_, rel);
        entries.clear();
        if (plat::Fs().ListDir(working, &entries)) {
            for (const auto& e : entries) {
                if (!e.IsDirectory()) continue;
                if (std::any_of(names.begin(), names.end(), [&](const std::wstring& n) {
                        return plat::EqualsNoCase(n, e.name);
                    }))
                    continue;
                workingNames.push_back(e.name);
            }
        }
    }
    // In name order, whatever order the file system lists them in.
    auto byName = [](const std::wstring& a, const std::wstring& b) {
        return plat::Fold(a) < plat::Fold(b);
    };
    std::sort(names.begin(), names.end(), byName);
    std::sort(workingNames.begin(), workingNames.end(), byName);
    for (const auto& n : names) {
        auto child = NewNode(&node, n, false);
        const bool deeper = HasSubFolders(plat::JoinPath(path, n)) ||
                            (!working.empty() && HasSubFolders(plat::JoinPath(working, n)));
        if (deeper) SetPlaceholder(*child);
        node.children.push_back(std::move(child));
    }
    for (const auto& n : workingNames) {
        auto child = NewNode(&node, n, false);
        if (HasSubFolders(plat::JoinPath(working, n))) SetPlaceholder(*child);
        node.children.push_back(std::move(child));
    }
}

void DirTree::Expand(TreeNode& node) {
    ReloadChildren(node);
    node.expanded = true;
}

void DirTree::Collapse(TreeNode& node) {
    KeepSelectionAbove(node);
    node.expanded = false;
    SetPlaceholder(node);
}

TreeNode* DirTree::SelectChildByName(const std::wstring& name) {
    TreeNode* current = selected_;
    if (!current) return nullptr;
    if (!current->expanded) Expand(*current);
    for (auto& c : current->children) {
        if (!c->placeholder && plat::EqualsNoCase(c->label, name)) {
            selected_ = c.get();
            return selected_;
        }
    }
    return nullptr;
}

}  // namespace ui::browse
