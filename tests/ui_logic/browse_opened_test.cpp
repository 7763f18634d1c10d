// The browse window's opened items: which paths count as open, when a
// watcher or the folder-window scan takes a copy back, and the lists shared
// by watcher threads and the main thread.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "platform/fs.h"
#include "ui/browse/logic/opened_items.h"

namespace {

using ui::browse::Handle;
using ui::browse::OpenedItems;

std::wstring P(std::initializer_list<std::wstring> parts) {
    std::wstring out;
    for (const auto& p : parts) out += (out.empty() ? L"" : std::wstring(1, plat::kSep)) + p;
    return out;
}

TEST(BrowseOpened, OpenPathsAreFilesAndWhatLiesInOpenFolders) {
    OpenedItems none;
    EXPECT_FALSE(none.IsOpenedPath(L"a.txt"));
    EXPECT_FALSE(none.IsOpenedPath(L""));

    OpenedItems o;
    o.AddFile(P({L"文档", L"报告.doc"}), 1);
    o.AddFolder(P({L"相册", L"2024"}));
    const struct {
        std::wstring rel;
        bool opened;
    } kCases[] = {
        {P({L"文档", L"报告.doc"}), true},
        {P({L"文档", L"报告.DOC"}), true},
        {P({L"文档", L"报告.doc.bak"}), false},
        {L"文档", false},
        {P({L"相册", L"2024"}), true},
        {P({L"相册", L"2024", L"a.jpg"}), true},
        // A name that merely starts like an opened folder is not inside it.
        {P({L"相册", L"20245"}), false},
        {L"相册", false},
    };
    for (const auto& c : kCases) EXPECT_EQ(o.IsOpenedPath(c.rel), c.opened) << c.rel.size();
    EXPECT_TRUE(o.HoldsInside(L"文档"));
    EXPECT_TRUE(o.HoldsInside(L"相册"));
    EXPECT_FALSE(o.HoldsInside(L"文"));
}

TEST(BrowseOpened, AFileOpenedTwiceGoesBackWhenItsLastProgramEnds) {
    OpenedItems o;
    o.AddFile(L"a.txt", 11);
    o.AddFile(L"A.TXT", 12);
    EXPECT_FALSE(o.FileProgramEnded(L"a.txt", 11));
    EXPECT_TRUE(o.IsOpenedPath(L"a.txt"));
    EXPECT_TRUE(o.FileProgramEnded(L"A.TXT", 12));
    EXPECT_FALSE(o.IsOpenedPath(L"a.txt"));
    // A second report of the same program changes nothing.
    EXPECT_FALSE(o.FileProgramEnded(L"A.TXT", 12));

    // Once closing has begun, the close sequence takes everything back.
    o.AddFile(L"b.txt", 13);
    const auto set = o.BeginClosing();
    EXPECT_EQ(set.processes, std::vector<Handle>{13});
    EXPECT_FALSE(o.FileProgramEnded(L"b.txt", 13));
}

TEST(BrowseOpened, ClosedFolderWindowsFollowTheNestingRules) {
    OpenedItems o;
    const std::wstring outer = L"相册", inner = P({L"相册", L"2024"}), other = L"文档";
    o.AddFolder(outer);
    o.AddFolder(inner);
    o.AddFolder(other);
    o.AddFolder(L"未找到");  // its window is never found
    EXPECT_EQ(o.FoldersAwaitingWindow().size(), 4u);
    o.SetFolderWindow(outer, 1);
    o.SetFolderWindow(inner, 2);
    o.SetFolderWindow(other, 3);
    EXPECT_EQ(o.FoldersAwaitingWindow(), std::vector<std::wstring>{L"未找到"});

    std::set<Handle> alive = {1, 2, 3};
    auto scan = [&] { return o.ScanClosedFolders([&](Handle h) { return alive.count(h) > 0; }); };

    // The outer window closes first: it waits for the inner one.
    alive.erase(1);
    EXPECT_TRUE(scan().empty());
    EXPECT_TRUE(o.IsOpenedPath(P({outer, L"a.jpg"})));
    // The inner one closes: it is dropped (the outer takes it back), and on
    // the next tick the outer one goes back.
    alive.erase(2);
    const auto first = scan();
    const auto second = scan();
    std::vector<std::wstring> both = first;
    both.insert(both.end(), second.begin(), second.end());
    EXPECT_EQ(both, std::vector<std::wstring>{outer});
    EXPECT_FALSE(o.IsOpenedPath(outer));
    // The unrelated folder goes back as soon as its window is gone.
    alive.erase(3);
    EXPECT_EQ(scan(), std::vector<std::wstring>{other});
    // A folder whose window was never found stays until the close.
    EXPECT_TRUE(o.IsOpenedPath(L"未找到"));
}

TEST(BrowseOpened, AFolderWithAnOpenFileInsideWaitsForThatProgram) {
    OpenedItems o;
    o.AddFolder(L"相册");
    o.SetFolderWindow(L"相册", 5);
    o.AddFile(P({L"相册", L"a.jpg"}), 50);
    EXPECT_TRUE(o.ScanClosedFolders([](Handle) { return false; }).empty());
    EXPECT_TRUE(o.TakeWaiting().empty());
    EXPECT_TRUE(o.IsOpenedPath(P({L"相册", L"b.jpg"})));
    // The file's program ends: the file alone is not taken back, the folder
    // as a whole is.
    EXPECT_FALSE(o.FileProgramEnded(P({L"相册", L"a.jpg"}), 50));
    EXPECT_EQ(o.TakeWaiting(), std::vector<std::wstring>{L"相册"});
    EXPECT_FALSE(o.AnyOpen());
}

TEST(BrowseOpened, CloseTakesEveryOutermostPathOnce) {
    OpenedItems o;
    o.AddFolder(L"相册");
    o.SetFolderWindow(L"相册", 7);
    o.AddFolder(L"未找到");
    o.AddFile(P({L"相册", L"a.jpg"}), 70);
    o.AddFile(L"b.txt", 0);  // handed to a running program: no process
    o.AddFile(L"b.txt", 71);
    o.AddWaiting(L"c.txt");
    const auto set = o.BeginClosing();
    EXPECT_EQ(set.folderWindows, std::vector<Handle>{7});
    EXPECT_EQ(set.processes, (std::vector<Handle>{70, 71}));
    EXPECT_EQ(set.paths, (std::vector<std::wstring>{L"相册", L"未找到", L"b.txt", L"c.txt"}));
    EXPECT_TRUE(o.Closing());
    EXPECT_FALSE(o.AnyOpen());
    EXPECT_TRUE(o.ScanClosedFolders([](Handle) { return false; }).empty());
}

// Watcher threads end their files while the main thread opens folders,
// scans windows and asks which paths are open. Every file must be handed
// back exactly once and nothing may be left behind.
TEST(BrowseOpened, RaceOfWatchersAndTheMainThread) {
    OpenedItems o;
    constexpr int kThreads = 4, kFiles = 200;
    std::vector<int> returned(kThreads, 0);
    std::vector<std::thread> watchers;
    for (int t = 0; t < kThreads; ++t) {
        watchers.emplace_back([&o, &returned, t] {
            for (int i = 0; i < kFiles; ++i) {
                const std::wstring rel = L"w" + std::to_wstring(t) + L"_" + std::to_wstring(i);
                const Handle h = Handle(t * 100000 + i + 1);
                o.AddFile(rel, h);
                if (o.FileProgramEnded(rel, h)) ++returned[size_t(t)];
            }
        });
    }
    int scanned = 0;
    for (int i = 0; i < kFiles; ++i) {
        const std::wstring folder = L"d" + std::to_wstring(i);
        o.AddFolder(folder);
        o.SetFolderWindow(folder, Handle(i + 1));
        scanned += int(o.ScanClosedFolders([](Handle) { return false; }).size());
        (void)o.IsOpenedPath(L"w0_1");
        (void)o.FoldersAwaitingWindow();
        o.SetBrowseRelativePath(folder);
    }
    for (auto& w : watchers) w.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(returned[size_t(t)], kFiles) << t;
    EXPECT_EQ(scanned, kFiles);
    EXPECT_FALSE(o.AnyOpen());
}

}  // namespace
