#include "engine/restore_pass.h"

#include "app/globals.h"
#include "engine/hide_pass.h"
#include "engine/naming.h"
#include "engine/pass_journal.h"
#include "engine/pass_state.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "store/layout.h"

namespace engine {

RestorePass::RestorePass(PassUi& ui, PassLog log) : ui_(ui), log_(std::move(log)) {}

RestorePass::~RestorePass() {
    Wait();
}

void RestorePass::Wait() {
    if (worker_.joinable()) worker_.join();
}

void RestorePass::SetFolder(const std::wstring& root, const std::wstring& dataFolder,
                            const std::wstring& paramFolder) {
    root_ = root;
    data_ = dataFolder.empty() ? store::DataDir(root) : plat::WithoutSep(dataFolder);
    param_ = paramFolder.empty() ? store::ParamDir(root) : plat::WithoutSep(paramFolder);
}

std::vector<std::wstring> RestorePass::Failures() const {
    std::lock_guard<std::mutex> lock(failLock_);
    return failures_;
}

bool RestorePass::Start(const std::wstring& typedPassword,
                        const std::function<bool(const std::wstring&)>& check) {
    if (check && !check(typedPassword)) {
        ui_.ShowMessage(L"输入的密码不正确。", MessageIcon::Error);
        return false;
    }
    Wait();
    {
        std::lock_guard<std::mutex> lock(failLock_);
        failures_.clear();
    }
    renamedFlag_ = false;
    State().done = false;
    State().cancelRequested = false;
    try {
        worker_ = std::thread([this] { Run(); });
    } catch (...) {
        ui_.ShowMessage(L"解密出错。", MessageIcon::Error);
        return false;
    }
    return true;
}

void RestorePass::Run() {
    PassState& st = State();
    try {
        st.moved = 0;
        st.moveFailed = 0;
        st.seen = 0;
        st.handled = 0;
        st.renamed = 0;
        // The within-file bar shows full for a pass that moves whole objects.
        st.bytesDone = 1;
        st.currentLength = 1;

        RemoveEmptyWorkingArea(data_);
        RemoveDecorations();
        std::vector<plat::DirEntry> entries;
        if (!plat::Fs().ListDir(EnumerationPath(data_), &entries)) {
            log_.Append(L"文件" + data_ + L",解密失败，原因如下：");
            log_.Append(log_.TakeError());
            std::lock_guard<std::mutex> lock(failLock_);
            failures_.push_back(data_);
            ++st.moveFailed;
        }
        st.total = int(entries.size());
        size_t sinceSync = 0;
        for (const auto& e : entries) {
            if (st.cancelRequested) break;
            ++st.seen;
            const std::wstring src = plat::JoinPath(data_, e.name);
            st.SetCurrentObject(src);
            (void)MoveBack(src, plat::JoinPath(root_, e.name));
            if (++sinceSync == kMovesPerSync) {
                (void)plat::Fs().SyncVolume(root_);
                sinceSync = 0;
            }
        }
        bool anyFailed;
        {
            std::lock_guard<std::mutex> lock(failLock_);
            anyFailed = !failures_.empty();
        }
        // Everything moved out is on the medium before the store goes: a
        // drive may keep the store's removal and lose the moves.
        (void)plat::Fs().SyncVolume(root_);
        if (!anyFailed && !st.cancelRequested) {
            (void)RemoveStore();
            (void)plat::Fs().SyncVolume(root_);
        }
    } catch (...) {
        log_.Append(L"解密出错。");
    }
    // Raised even after a cancel: the window waits for it.
    st.done = true;
}

bool RestorePass::MoveBack(const std::wstring& src, const std::wstring& dst, bool strengthPass) {
    PassState& st = State();
    if (src.empty()) {
        ui_.ShowMessage(L"没有发现需要解密的数据。", MessageIcon::Exclamation);
        return false;
    }
    NamingRule rule;
    rule.side = SideOfKind(st.kind) == NamingSide::StrengthDecrypt ? NamingSide::StrengthDecrypt
                                                                   : NamingSide::Plain;
    rule.splitAtLastDot = true;
    std::wstring target = ResolveCollision(src, dst, rule);
    if (target.empty()) target = dst;  // the move below fails and is logged
    if (target != dst &&
        !plat::EqualsNoCase(plat::LeafName(src), plat::LeafName(app::Globals().ModulePath))) {
        log_.Append(L"对象" + dst + L" 已经更名为" + target);
        ++st.renamed;
        renamedFlag_ = true;
    }
    // In a strength pass the file was already counted as handled when its
    // decryption ended.
    if (plat::Fs().Move(src, target)) {
        ++st.moved;
        if (!strengthPass) ++st.handled;
        return true;
    }
    const std::wstring error = log_.TakeError();
    {
        std::lock_guard<std::mutex> lock(failLock_);
        failures_.push_back(src);
    }
    ++st.moveFailed;
    if (!strengthPass) ++st.handled;
    log_.Append(L"文件" + src + L",解密失败，原因如下：");
    if (IsNetworkPath(src))
        log_.Append(error + (strengthPass ? L"这是由于本机不具备更改服务器上的该文件夹权限所致"
                                          : L"这是由于本机不具备更改服务器上的该文件夹权限所致，"
                                            L"该情况下您可以选择映像解密"));
    else
        log_.Append(error);
    return false;
}

void RestorePass::RemoveDecorations() {
    (void)store::RemoveFolderDecorations(root_, param_);
}

namespace {
// Removes the empty folders of a tree, deepest first; folders holding a file
// stay (removing a folder never removes content).
void RemoveEmptyFolders(const std::wstring& dir, int depth) {
    std::vector<plat::DirEntry> entries;
    if (depth > 64 || !plat::Fs().ListDir(dir, &entries)) return;
    for (const auto& e : entries)
        if (e.IsDirectory()) RemoveEmptyFolders(plat::JoinPath(dir, e.name), depth + 1);
    (void)plat::Fs().RemoveDir(dir);
}
}  // namespace

void RemoveEmptyWorkingArea(const std::wstring& dataFolder) {
    const std::wstring working = plat::JoinPath(dataFolder, store::kWorkingFolderName);
    if (plat::Fs().IsDirectory(working)) RemoveEmptyFolders(working, 0);
}

void RemoveFoldersUpward(const std::wstring& dir, const std::wstring& root) {
    plat::FileSystem& fs = plat::Fs();
    std::wstring d = plat::WithoutSep(dir);
    const std::wstring inside = plat::WithSep(root);
    if (!fs.RemoveDir(d)) return;
    for (int level = 0; level < 3; ++level) {
        d = plat::WithoutSep(plat::ParentWithSep(d));
        if (d.size() <= inside.size() || !plat::StartsWithNoCase(d, inside)) return;
        if (!fs.RemoveDir(d)) return;
    }
}

bool RestorePass::RemoveStore() {
    plat::FileSystem& fs = plat::Fs();
    // Records go only when the data folder is really empty: a store without
    // its records but with content could never be opened again.
    std::vector<plat::DirEntry> left;
    if (!fs.ListDir(data_, &left) || !left.empty()) return false;
    (void)store::RemoveStoreRootDecoration(root_);
    // Clear, not toggle: a folder that lost its SYSTEM mark must not regain it.
    const uint32_t attrs = fs.GetAttributes(plat::WithoutSep(root_));
    if (attrs != plat::kInvalidAttributes && (attrs & plat::kAttrSystem))
        (void)fs.SetAttributes(plat::WithoutSep(root_), attrs & ~plat::kAttrSystem);
    // The data folder goes first: from then on the folder no longer counts
    // as encrypted, and a run stopped here leaves only records, which the
    // next run removes. The other way round, a store with its data folder
    // but without records could not be opened any more.
    if (!fs.RemoveDir(data_)) return false;
    RemoveStoreLeftovers(root_, param_);
    return !fs.Exists(data_);
}

void RemoveStoreLeftovers(const std::wstring& root, const std::wstring& paramFolder) {
    plat::FileSystem& fs = plat::Fs();
    store::DeleteStoreMetadata(paramFolder);
    (void)fs.DeleteFile(plat::JoinPath(paramFolder, kJournalName));
    (void)fs.DeleteFile(plat::JoinPath(paramFolder, kJournalName) + L".new");
    (void)fs.DeleteFile(plat::JoinPath(paramFolder, store::kPasswordRecord) + L".tmp");
    // Sealed records an earlier re-sealing moved aside ("imimff[1].ulxjm.zpwenc0").
    std::vector<plat::DirEntry> params;
    if (fs.ListDir(paramFolder, &params))
        for (const auto& e : params)
            if (plat::StartsWithNoCase(e.name, L"imimff[") &&
                plat::EndsWithNoCase(e.name, store::kSealedRecord + 6))
                (void)fs.DeleteFile(plat::JoinPath(paramFolder, e.name));
    RemoveFoldersUpward(paramFolder, root);
}

}  // namespace engine
