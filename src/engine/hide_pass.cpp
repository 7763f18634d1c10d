#include "engine/hide_pass.h"

#include <algorithm>

#include "app/globals.h"
#include "engine/naming.h"
#include "engine/pass_journal.h"
#include "engine/pass_state.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "store/layout.h"

namespace engine {

namespace {

const std::wstring& WorkingPart() {
    static const std::wstring part = std::wstring(store::kWorkingFolderName) + plat::kSep +
                                     store::kNotDeleteFolderName + plat::kSep;
    return part;
}

}  // namespace

bool IsSkippedTopLevelEntry(const std::wstring& fullPath, const std::wstring& name) {
    const std::wstring folder = plat::ParentWithSep(fullPath);
    // Our decorations from an interrupted run of this encryption stay out.
    return store::IsNeverMoved(folder, name, app::Globals().ModulePath) ||
           store::IsOurDecoration(folder, name);
}

CJiaMiWeiZhuang::CJiaMiWeiZhuang(PassUi& ui, PassLog log) : ui_(ui), log_(std::move(log)) {}

CJiaMiWeiZhuang::~CJiaMiWeiZhuang() {
    Wait();
    plat::Wipe(job_.password);
}

void CJiaMiWeiZhuang::Wait() {
    if (worker_.joinable()) worker_.join();
}

std::vector<std::wstring> CJiaMiWeiZhuang::Failures() const {
    std::lock_guard<std::mutex> lock(failLock_);
    return failures_;
}

std::wstring CJiaMiWeiZhuang::DataFolder() const {
    switch (job_.mode) {
        case 1:
            return plat::WithoutSep(ReplaceNoCase(plat::WithSep(job_.root), WorkingPart(), L""));
        case 2: {
            std::wstring d = store::DataDir(job_.storeFolder);
            return job_.subPath.empty() ? d : plat::WithoutSep(plat::JoinPath(d, job_.subPath));
        }
        default:
            return store::DataDir(job_.root);
    }
}

std::wstring CJiaMiWeiZhuang::DestinationOf(const std::wstring& src) const {
    if (job_.mode == 1) return ReplaceNoCase(src, WorkingPart(), L"");
    // Modes 0 and 2: the object's path below root, placed below the data folder.
    std::wstring rel = src.substr(std::min(src.size(), plat::WithSep(job_.root).size()));
    return plat::JoinPath(DataFolder(), rel);
}

std::vector<std::wstring> CJiaMiWeiZhuang::Destinations() const {
    std::lock_guard<std::mutex> lock(failLock_);
    return destinations_;
}

namespace {
int StrengthOfKindText(const std::wstring& kindText) {
    if (plat::EqualsNoCase(kindText, store::kKindHigher)) return 1;
    if (plat::EqualsNoCase(kindText, store::kKindHighest)) return 2;
    return 0;
}
}  // namespace

bool CJiaMiWeiZhuang::CreateBaseFolders() {
    if (job_.mode == 0) {
        // A new store: records first, durable, and only then the data
        // folder that makes the folder count as encrypted.
        // A store that exists already keeps its records.
        if (job_.storeReady || store::IsEncryptedFolder(job_.root, false)) return true;
        return CreateNewStore(job_.root, job_.password, job_.mail, job_.kindText,
                              StrengthOfKindText(job_.kindText), log_);
    }
    if (store::CreateStoreFolders(job_.storeFolder)) return true;
    log_.Append(L"建立基本目录失败。");
    return false;
}

bool CJiaMiWeiZhuang::StartThread(const HideJob& job) {
    Wait();
    job_ = job;
    {
        std::lock_guard<std::mutex> lock(failLock_);
        failures_.clear();
        destinations_.clear();
    }
    if (job_.mode != 1 && !CreateBaseFolders()) return false;
    // A done flag left from the previous pass would end the new one's
    // progress display at once.
    State().done = false;
    State().cancelRequested = false;
    try {
        worker_ = std::thread([this] { Body(false); });
    } catch (...) {
        ui_.ShowMessage(L"加密出错。", MessageIcon::Error);
        return false;
    }
    return true;
}

bool CJiaMiWeiZhuang::RunInline(const HideJob& job) {
    job_ = job;
    {
        std::lock_guard<std::mutex> lock(failLock_);
        failures_.clear();
        destinations_.clear();
    }
    if (job_.mode == 0 && !CreateBaseFolders()) return false;
    Body(true);
    return true;
}

bool CJiaMiWeiZhuang::Run(const HideJob& job) {
    job_ = job;
    {
        std::lock_guard<std::mutex> lock(failLock_);
        failures_.clear();
        destinations_.clear();
    }
    State().done = false;
    if (job_.mode != 1 && !CreateBaseFolders()) {
        State().done = true;
        return false;
    }
    Body(false);
    return true;
}

void CJiaMiWeiZhuang::Body(bool inlineRun) {
    PassState& st = State();
    try {
        st.seen = 0;
        st.moved = 0;
        st.moveFailed = 0;
        st.handled = 0;
        longPathFlag_ = 1;
        longPathShown_ = false;

        std::vector<std::wstring> sources;
        if (job_.items.empty()) {
            std::vector<plat::DirEntry> entries;
            if (plat::Fs().ListDir(EnumerationPath(job_.root), &entries)) {
                for (const auto& e : entries) {
                    const std::wstring path = plat::JoinPath(job_.root, e.name);
                    if (!IsSkippedTopLevelEntry(path, e.name)) sources.push_back(path);
                }
            } else {
                // A folder that cannot be listed is not protected: say so.
                log_.Append(job_.root + L",加密失败，原因如下：");
                log_.Append(log_.TakeError());
                Fail(job_.root);
            }
        } else {
            for (const auto& item : job_.items) sources.push_back(plat::JoinPath(job_.root, item));
        }
        st.total = int(sources.size());

        // Moves are made durable a batch at a time, not one by one.
        size_t sinceSync = 0;
        for (const auto& src : sources) {
            MoveOne(src);
            if (++sinceSync == kMovesPerSync) {
                (void)plat::Fs().SyncVolume(job_.root);
                sinceSync = 0;
            }
        }

        if (job_.mode == 0) {
            const std::wstring exe =
                job_.exePath.empty() ? app::Globals().ModulePath : job_.exePath;
            uint32_t marksError = 0;
            (void)store::FinishEncryption(job_.root, exe, &marksError);
            if (marksError != 0) {
                st.marksError = marksError;
                log_.Append(job_.root + L",不能隐藏加密存储区，原因如下：");
                log_.Append(ErrorCodeText(marksError));
            }
            // A normal store this pass made is complete now. A strength
            // pass keeps its journal until the contents are encrypted too,
            // and recovery, which finishes someone else's store, decides.
            if (!inlineRun && !job_.storeReady) (void)PassJournal(job_.root).Remove();
        }
        // "Done" means on the medium: the moves, the program copy and the
        // decorations (an inline run leaves that to its strength pass).
        if (!inlineRun) (void)plat::Fs().SyncVolume(job_.root);
    } catch (...) {
        // Out of memory: what was moved is in the store, the rest stayed;
        // the window must still learn that the pass ended.
        log_.Append(L"加密出错。");
    }
    if (!inlineRun) st.done = true;
}

void CJiaMiWeiZhuang::MoveOne(const std::wstring& src) {
    PassState& st = State();
    ++st.seen;
    st.SetCurrentObject(src);
    std::wstring dst = DestinationOf(src);
    NamingRule rule;
    rule.side = SideOfKind(st.kind);
    const std::wstring resolved = ResolveCollision(src, dst, rule);
    if (!resolved.empty()) dst = resolved;
    if (job_.mode != 0) (void)MakeDirs(plat::ParentWithSep(dst));
    if (MoveObject(src, dst)) {
        std::lock_guard<std::mutex> lock(failLock_);
        destinations_.push_back(dst);
    }
}

void CJiaMiWeiZhuang::Fail(const std::wstring& src) {
    {
        std::lock_guard<std::mutex> lock(failLock_);
        failures_.push_back(src);
    }
    ++State().moveFailed;
    ++State().handled;
}

bool CJiaMiWeiZhuang::MoveObject(const std::wstring& src, const std::wstring& dst) {
    PassState& st = State();
    if (IsTooLong(src)) {
        // One box per pass is enough: a long root makes every path long.
        if (longPathFlag_ && !longPathShown_) {
            longPathShown_ = true;
            ui_.ShowMessage(L"本次加密失败。原因是需要加密的文件夹太长。", MessageIcon::Error);
        }
        Fail(src);
        return false;
    }
    longPathFlag_ = 0;
    if (IsTooLong(dst)) {
        Fail(src);
        return false;
    }
    plat::FileSystem& fs = plat::Fs();
    // The move itself refuses a taken name (and changes nothing then): no
    // separate look first, which would cost a call per object.
    if (fs.Move(src, dst)) {
        ++st.moved;
        ++st.handled;
        return true;
    }
    const uint32_t code = plat::LastError();
    if (code == plat::kErrAlreadyExists || code == plat::kErrFileExists) {
        Fail(src);
        log_.Append(L"文件" + src + L",加密失败，原因是已经存在这样一个文件。");
        return false;
    }
    const std::wstring error = ErrorCodeText(code);
    if (code == plat::kErrNotSameDevice && fs.IsDirectory(src)) {
        MoveFolderRecursive(src, dst);
        return !fs.Exists(src);
    }
    const std::wstring root = plat::DriveRootOf(src);
    std::wstring below = plat::StartsWithNoCase(src, root) ? src.substr(root.size()) : src;
    if (store::IsReservedName(below)) return false;
    log_.Append(src + L",加密失败，原因如下：");
    log_.Append(IsNetworkPath(src) ? error + L"这是由于本机不具备更改服务器上的该文件夹权限所致"
                                   : error);
    Fail(src);
    return false;
}

void CJiaMiWeiZhuang::MoveFolderRecursive(const std::wstring& src, const std::wstring& dst) {
    plat::FileSystem& fs = plat::Fs();
    if (!fs.CreateDir(dst) && !fs.IsDirectory(dst)) {
        log_.Append(src + L",加密失败，原因如下：");
        log_.Append(log_.TakeError());
        Fail(src);
        return;
    }
    std::vector<plat::DirEntry> entries;
    if (!fs.ListDir(EnumerationPath(src), &entries)) {
        log_.Append(src + L",加密失败，原因如下：");
        log_.Append(log_.TakeError());
        Fail(src);
        return;
    }
    for (const auto& e : entries) {
        const std::wstring from = plat::JoinPath(src, e.name);
        const std::wstring to = plat::JoinPath(dst, e.name);
        if (e.IsDirectory())
            MoveFolderRecursive(from, to);
        else
            (void)MoveObject(from, to);
    }
    // Fails harmlessly when something could not be moved out.
    (void)fs.RemoveDir(src);
}

}  // namespace engine
