#include "ui/browse/logic/browse_logic.h"

#include <algorithm>

#include "engine/pass_state.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/settings.h"
#include "platform/text.h"
#include "store/layout.h"
#include "ui/browse/logic/browse_texts.h"
#include "ui/browse/logic/file_list.h"

namespace ui::browse {

namespace {

int NonNegative(int v) {
    return v < 0 ? 0 : v;
}

Rect Box(int x, int y, int w, int h) {
    return Rect{x, y, NonNegative(w), NonNegative(h)};
}

const wchar_t* const kLogSection = L"PARAM";

}  // namespace

Layout ComputeLayout(const LayoutInput& in) {
    Layout l;
    const int W = in.clientW, H = in.clientH;
    for (int i = 0; i < 8; ++i)
        l.buttons[i] = Box(8 + i * (in.button.w + 8), 6, in.button.w, in.button.h);
    const int B = 6 + in.button.h;
    l.pathLabel = Box(3, B + 8, in.pathLabel.w, 16);
    const int boxX = in.pathLabel.w + 6;
    l.pathBox = Box(boxX, B + 4, W - 3 - boxX, 22);
    const int treeTop = B + 28;
    const int treeBottom = H - H / 4 - 88;
    l.tree = Box(3, treeTop, 218, treeBottom - treeTop);
    const int labelY = treeBottom + 8;
    l.folderLabel = Box(3, labelY, in.folderLabel.w, in.folderLabel.h);
    l.refreshLink = Box(in.folderLabel.w + 38, labelY, in.refreshLink.w, in.refreshLink.h);
    const int listTop = labelY + in.folderLabel.h + 8;
    l.folderList = Box(3, listTop, 218, H - 28 - listTop);
    l.totals = Box(3, H - 6 - in.totalsText.h, in.totalsText.w, in.totalsText.h);
    l.selection = Box(3 + in.totalsText.w + 38, l.totals.y, in.selectionText.w, in.selectionText.h);
    l.fileList = Box(223, treeTop, W - 226, H - 28 - treeTop);
    return l;
}

std::wstring DrivePath(const std::wstring& drive, const std::wstring& rel) {
    return drive + plat::kSep + store::kNotDeleteFolderName + plat::kSep + rel;
}

std::vector<std::wstring> FolderWindowTitles(const std::wstring& rel, const std::wstring& drive) {
    return {plat::LeafName(plat::WithoutSep(rel)), plat::WithoutSep(DrivePath(drive, rel))};
}

std::vector<Handle> FolderWindowsShown(BrowsePlatform& platform, const std::wstring& rel,
                                       const std::wstring& drive) {
    std::vector<Handle> out;
    for (const auto& title : FolderWindowTitles(rel, drive))
        for (const Handle w : platform.FolderWindowsTitled(title)) out.push_back(w);
    return out;
}

bool IdleLockDue(uint32_t nowMs, uint32_t lastInputMs, bool lockShown, uint32_t idleSeconds) {
    // Unsigned: the tick count wraps after 49.7 days.
    return !lockShown && uint32_t(nowMs - lastInputMs) / 1000 >= idleSeconds;
}

TimerResult TimerTick(OpenedItems& opened, BrowsePlatform& platform, const std::wstring& drive,
                      bool lockShown) {
    TimerResult r;
    r.toReturn = opened.ScanClosedFolders([&](Handle w) { return platform.IsWindow(w); });
    for (const auto& rel : opened.FoldersAwaitingWindow()) {
        bool found = false;
        for (const auto& title : FolderWindowTitles(rel, drive)) {
            for (const Handle w : platform.FolderWindowsTitled(title))
                if ((found = opened.SetFolderWindow(rel, w))) break;
            if (found) break;
        }
    }
    for (auto& rel : opened.TakeWaiting())
        if (std::none_of(r.toReturn.begin(), r.toReturn.end(),
                         [&](const std::wstring& p) { return plat::EqualsNoCase(p, rel); }))
            r.toReturn.push_back(rel);
    r.lock = IdleLockDue(platform.TickMs(), platform.LastInputMs(), lockShown,
                         platform.IdleLockSeconds());
    return r;
}

std::wstring WorkingCopyRoot(const std::wstring& dataDir) {
    return plat::WithSep(plat::JoinPath(plat::JoinPath(dataDir, store::kWorkingFolderName),
                                        store::kNotDeleteFolderName));
}

namespace {

StorePassPlan KindPlan(const StoreAccess& store) {
    StorePassPlan p;
    switch (store.kind) {
        case kStoreNormal:
            p.engineKind = 0;
            p.hide.kindText = store::kKindNormal;
            break;
        case kStoreHigher:
            p.engineKind = 1;
            p.contentPass = true;
            p.strength.kindText = store::kKindHigher;
            break;
        case kStoreHighest:
            p.engineKind = 2;
            p.contentPass = true;
            p.strength.kindText = store::kKindHighest;
            break;
        default:
            return p;  // an unknown kind never guesses a strength
    }
    p.valid = true;
    p.hide.password = p.strength.password = store.password;
    p.hide.mail = p.strength.mail = store.mail;
    p.hide.storeFolder = p.strength.storeFolder = store.folder;
    return p;
}

}  // namespace

StorePassPlan PlanReturn(const StoreAccess& store, const std::vector<std::wstring>& rels,
                         BrowsePlatform& platform) {
    StorePassPlan p = KindPlan(store);
    const std::wstring root = WorkingCopyRoot(store.dataDir);
    std::vector<std::wstring> items;
    for (const auto& rel : rels) {
        const std::wstring copy = plat::WithoutSep(root + rel);
        if (rel.empty() || !plat::Fs().Exists(copy)) continue;  // gone back already
        if (platform.InUse(copy))
            p.stillHeld.push_back(rel);
        else
            items.push_back(rel);
    }
    p.hide.root = p.strength.root = root;
    p.hide.mode = 1;
    p.strength.jobMode = 1;
    p.hide.items = p.strength.items = items;
    p.valid = p.valid && !items.empty();
    return p;
}

engine::DecryptOptions PlanDecrypt(const std::vector<std::wstring>& storedNames,
                                   const std::wstring& destination, const std::wstring& browseRel) {
    engine::DecryptOptions o;
    o.items = storedNames;
    o.destination = plat::WithoutSep(destination);
    o.subPath = plat::WithoutSep(browseRel);
    o.operation = engine::kOpBrowse;
    return o;
}

StorePassPlan PlanMoveIn(const StoreAccess& store, const std::wstring& sourceFolder,
                         const std::vector<std::wstring>& names, const std::wstring& browseRel) {
    StorePassPlan p = KindPlan(store);
    // The store (working area included) is never a source: its files would
    // be moved onto themselves or out from under an open program.
    const std::wstring storeRoot = plat::ParentWithSep(plat::WithoutSep(store.dataDir));
    if (plat::StartsWithNoCase(plat::WithSep(sourceFolder), storeRoot)) {
        p.valid = false;
        p.refusal = ui::texts::browse::kMoveInFromStore;
        return p;
    }
    p.hide.root = p.strength.root = plat::WithoutSep(sourceFolder);
    p.hide.items = p.strength.items = names;
    p.hide.mode = 2;
    p.strength.jobMode = 2;
    p.hide.subPath = p.strength.subPath = plat::WithoutSep(browseRel);
    p.valid = p.valid && !names.empty();
    return p;
}

bool CloseNeedsQuestion(const OpenedItems& opened) {
    return opened.AnyOpen();
}

ClosePlan PlanClose(OpenedItems& opened, CloseAnswer answer) {
    ClosePlan plan;
    if (!opened.AnyOpen()) {
        (void)opened.BeginClosing();
        return plan;
    }
    if (answer == CloseAnswer::Cancel) {
        plan.stay = true;
        return plan;
    }
    OpenedItems::CloseSet set = opened.BeginClosing();
    // No: what the user keeps working on stays, and the next start puts it
    // back; copies whose programs have ended go back now.
    if (answer == CloseAnswer::No) {
        for (const auto& p : set.paths)
            if (std::none_of(set.idle.begin(), set.idle.end(),
                             [&](const std::wstring& i) { return plat::EqualsNoCase(i, p); }))
                plan.leftOpen.push_back(p);
        plan.toReturn = std::move(set.idle);
        return plan;
    }
    plan.windowsToClose = std::move(set.folderWindows);
    plan.processesToEnd = std::move(set.processes);
    plan.toReturn = std::move(set.paths);
    return plan;
}

std::wstring StillHeldText(const std::vector<std::wstring>& rels) {
    constexpr size_t kNamed = 5;
    std::wstring names;
    for (size_t i = 0; i < rels.size() && i < kNamed; ++i)
        names += FormatText(ui::texts::browse::kStillHeldLine, {rels[i]});
    if (rels.size() > kNamed)
        names += FormatText(ui::texts::browse::kStillHeldMore,
                            {std::to_wstring(rels.size() - kNamed)});
    return FormatText(ui::texts::browse::kCopiesStillHeld, {std::to_wstring(rels.size()), names});
}

std::wstring NoProgramText(const std::wstring& rel) {
    return FormatText(ui::texts::browse::kNoProgram, {plat::LeafName(rel)});
}

std::wstring ProgramCommandLine(const std::wstring& program, const std::wstring& file) {
    // Windows paths hold no quotes, so plain quoting is enough.
    return L"\"" + program + L"\" \"" + file + L"\"";
}

CloseOutcome OutcomeOfClose(const ClosePlan& plan, const StorePassPlan* back, bool passComplete) {
    CloseOutcome o;
    o.leftPlain = plan.leftOpen.size() + (back ? back->stillHeld.size() : 0);
    o.returnComplete = !back || !back->valid || passComplete;
    return o;
}

namespace {

void CollectFolders(const std::wstring& dir, std::vector<std::wstring>& out) {
    out.push_back(dir);
    std::vector<plat::DirEntry> entries;
    if (!plat::Fs().ListDir(dir, &entries)) return;
    for (const auto& e : entries)
        if (e.IsDirectory() && !(e.attributes & plat::kAttrReparsePoint))
            CollectFolders(plat::JoinPath(dir, e.name), out);
}

}  // namespace

void RemoveEmptyFolders(const std::wstring& workingArea) {
    if (!plat::Fs().IsDirectory(workingArea)) return;
    std::vector<std::wstring> folders;
    CollectFolders(plat::WithoutSep(workingArea), folders);
    for (auto it = folders.rbegin(); it != folders.rend(); ++it)
        (void)plat::Fs().RemoveDir(*it);  // a folder still holding something stays
}

std::wstring OpenFolderLogPath() {
    return plat::WithSep(plat::TempDir()) + kOpenFolderLogName;
}

std::vector<std::wstring> ReadOpenFolderLog(const std::wstring& logPath) {
    plat::Settings& s = plat::UserSettings();
    const int count = s.GetPrivateInt(logPath, kLogSection, L"counts", 0);
    std::vector<std::wstring> names;
    // A damaged count must not make the window read for ever.
    for (int i = 0; i < count && i < 4096; ++i)
        names.push_back(
            s.GetPrivateString(logPath, kLogSection, L"NAME" + std::to_wstring(i), L""));
    return names;
}

void WriteOpenFolderLog(const std::wstring& logPath, const std::vector<std::wstring>& names) {
    plat::Settings& s = plat::UserSettings();
    (void)s.WritePrivateString(logPath, kLogSection, L"counts", std::to_wstring(names.size()));
    for (size_t i = 0; i < names.size(); ++i)
        (void)s.WritePrivateString(logPath, kLogSection, L"NAME" + std::to_wstring(i), names[i]);
}

void AddOpenFolder(std::vector<std::wstring>& names, const std::wstring& moduleFolder) {
    for (const auto& n : names)
        if (plat::EqualsNoCase(n, moduleFolder)) return;
    names.push_back(moduleFolder);
}

void RemoveOpenFolder(std::vector<std::wstring>& names, const std::wstring& moduleFolder) {
    auto it = std::find_if(names.begin(), names.end(), [&](const std::wstring& n) {
        return plat::EqualsNoCase(n, moduleFolder);
    });
    if (it != names.end()) names.erase(it);
}

}  // namespace ui::browse
