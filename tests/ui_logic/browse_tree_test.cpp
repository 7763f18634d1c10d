// The browse window's folder tree without the window: the root label and
// storage paths, lazy levels with their placeholder, the working area's
// folders merged in, and selecting a child by name.
#include <gtest/gtest.h>

#include "platform/fs.h"
#include "support/test_files.h"
#include "ui/browse/logic/dir_tree.h"

namespace {

using ui::browse::DirTree;
using ui::browse::TreeNode;

std::wstring P(std::initializer_list<std::wstring> parts) {
    std::wstring out;
    for (const auto& p : parts) out += (out.empty() ? L"" : std::wstring(1, plat::kSep)) + p;
    return out;
}

const std::wstring kDataRel = P({L"ulxjm", L"ffffff"});

TEST(BrowseTreePaths, RootLabelShowsTheProtectedFolderAndPathsGoBackIntoTheStore) {
    const struct {
        std::wstring storage;
        std::wstring label;
        std::wstring subPath;
    } kCases[] = {
        {P({L"E:", L"photos", L"ulxjm", L"ffffff"}), P({L"E:", L"photos"}), kDataRel},
        {P({L"E:", L"photos", L"ulxjm", L"ffffff", L""}), P({L"E:", L"photos"}), kDataRel},
        // A store at a drive's root.
        {P({L"E:", L"ulxjm", L"ffffff"}), L"E:", kDataRel},
        // Found under the legacy alias: the label still shows the folder.
        {P({L"E:", L"照片", L"岚栩目~1", L"ffffff"}), P({L"E:", L"照片"}),
         P({L"岚栩目~1", L"ffffff"})},
    };
    for (const auto& c : kCases) {
        const auto split = ui::browse::SplitStorePath(c.storage, kDataRel);
        EXPECT_EQ(split.label, c.label);
        EXPECT_EQ(split.dataSubPath, c.subPath);
        TreeNode root;
        root.label = split.label;
        EXPECT_EQ(ui::browse::ItemPath(root, split.dataSubPath), plat::WithoutSep(c.storage));
        TreeNode child;
        child.label = L"旅行";
        child.parent = &root;
        TreeNode grandchild;
        grandchild.label = L"2024";
        grandchild.parent = &child;
        EXPECT_EQ(ui::browse::ItemPath(grandchild, split.dataSubPath),
                  P({plat::WithoutSep(c.storage), L"旅行", L"2024"}));
    }
}

std::wstring Labels(const TreeNode& n) {
    std::wstring out;
    for (const auto& c : n.children) {
        if (!out.empty()) out += L" ";
        out += c->placeholder ? L"<+>" : c->label + (c->HasPlaceholder() ? L"+" : L"");
    }
    return out;
}

TreeNode* Child(TreeNode& n, const std::wstring& label) {
    for (auto& c : n.children)
        if (c->label == label) return c.get();
    return nullptr;
}

class BrowseTree : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const auto& d :
             {std::wstring(), P({L"working"}), P({L"working", L"NotDelete"}), P({L"相册"}),
              P({L"相册", L"working"}), P({L"文档"}), P({L"working", L"NotDelete", L"相册"}),
              P({L"working", L"NotDelete", L"新照片"}),
              P({L"working", L"NotDelete", L"新照片", L"子"}),
              P({L"working", L"NotDelete", L"文档"}),
              P({L"working", L"NotDelete", L"文档", L"草稿"})})
            ASSERT_TRUE(plat::Fs().CreateDir(Data(d)));
        ASSERT_TRUE(testsupport::WriteFileBytes(Data(P({L"文档", L"a.txt"})), "a"));
    }
    std::wstring Data(const std::wstring& rel) { return rel.empty() ? store_ : P({store_, rel}); }

    testsupport::TempFolder tmp_;
    std::wstring folder_ = tmp_ / L"照片";
    std::wstring store_ = P({folder_, L"ulxjm", L"ffffff"});
    std::wstring working_ = P({store_, L"working", L"NotDelete"});

  public:
    BrowseTree() {
        (void)plat::Fs().CreateDir(folder_);
        (void)plat::Fs().CreateDir(P({folder_, L"ulxjm"}));
    }
};

TEST_F(BrowseTree, LevelsMergeTheWorkingAreaAndLoadWhenExpanded) {
    DirTree tree(working_);
    tree.ShowStore(store_, kDataRel);
    TreeNode* root = tree.Root();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->label, folder_);
    EXPECT_EQ(tree.Selected(), root);
    EXPECT_EQ(tree.GetItemPath(*root), store_);
    // "working" at the root is never listed; a folder in both places is
    // listed once; one only in the working area is listed after the store's.
    // Each part is in name order, whatever order the disk gives.
    // 文档 holds only a file in the store but a folder in its working copy.
    EXPECT_EQ(Labels(*root), L"文档+ 相册+ 新照片+");

    TreeNode* fresh = Child(*root, L"新照片");
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(tree.GetItemPath(*fresh), Data(L"新照片"));
    tree.Expand(*fresh);
    EXPECT_EQ(Labels(*fresh), L"子");

    TreeNode* album = Child(*root, L"相册");
    tree.Expand(*album);
    EXPECT_EQ(Labels(*album), L"working");

    // Collapsing keeps only the placeholder; expanding reads the disk again.
    tree.Select(album->children[0].get());
    tree.Collapse(*album);
    EXPECT_EQ(Labels(*album), L"<+>");
    EXPECT_EQ(tree.Selected(), album);
    ASSERT_TRUE(plat::Fs().CreateDir(Data(P({L"相册", L"2024"}))));
    tree.Expand(*album);
    EXPECT_EQ(Labels(*album), L"2024 working");
    EXPECT_EQ(tree.GetItemPath(*album->children[0]), Data(P({L"相册", L"2024"})));
}

TEST_F(BrowseTree, WithoutAWorkingAreaOnlyTheStoreIsShown) {
    DirTree tree;
    tree.ShowStore(store_, kDataRel);
    EXPECT_EQ(Labels(*tree.Root()), L"文档 相册+");
}

TEST_F(BrowseTree, SelectChildByNameIgnoresCaseAndExpandsFirst) {
    ASSERT_TRUE(plat::Fs().CreateDir(Data(L"Music")));
    DirTree tree(working_);
    tree.ShowStore(store_, kDataRel);
    TreeNode* album = Child(*tree.Root(), L"相册");
    tree.Select(album);
    ASSERT_FALSE(album->expanded);
    TreeNode* w = tree.SelectChildByName(L"WORKING");
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(album->expanded);
    EXPECT_EQ(tree.Selected(), w);
    EXPECT_EQ(tree.GetItemPath(*w), Data(P({L"相册", L"working"})));

    tree.Select(tree.Root());
    EXPECT_EQ(tree.SelectChildByName(L"music"), Child(*tree.Root(), L"Music"));
    tree.Select(tree.Root());
    EXPECT_EQ(tree.SelectChildByName(L"无此文件夹"), nullptr);
    EXPECT_EQ(tree.Selected(), tree.Root());
}

}  // namespace
