#include "ui/decrypt/logic/jiemi_logic.h"

#include <chrono>
#include <cwchar>
#include <thread>
#include <vector>

#include "app/settings_keys.h"
#include "platform/drive_map.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "store/layout.h"
#include "ui/decrypt/logic/decrypt_texts.h"

namespace ui::logic {

int DefaultDecryptMode(const std::wstring& kindLine) {
    return plat::EqualsNoCase(kindLine, L"type=0") || plat::EqualsNoCase(kindLine, L"fftype=0")
               ? kModeImage
               : kModeBrowse;
}

int StartDecryptMode(const std::wstring& kindLine) {
    const std::wstring remembered = app::Settings::DecryptType();
    int mode = DefaultDecryptMode(kindLine);
    if (!remembered.empty()) {
        wchar_t* end = nullptr;
        const long v = std::wcstol(remembered.c_str(), &end, 10);
        mode = end && *end == L'\0' ? int(v) : -1;
    }
    if (app::Settings::DecryptFirst() != 0) {
        (void)app::Settings::SetDecryptFirst(0);
        (void)app::Settings::SetDecryptType(L"2");
        return kModeImage;
    }
    if (mode != kModeImage && mode != kModeBrowse && mode != kModeFull) mode = kModeBrowse;
    return mode;
}

bool RememberDecryptMode(int mode) {
    return app::Settings::SetDecryptType(std::to_wstring(mode));
}

int NextDecryptMode(int mode) {
    if (mode == kModeImage) return kModeFull;
    if (mode == kModeBrowse) return kModeImage;
    return kModeBrowse;
}

JieMiKey DecryptWindowKey(unsigned virtualKey, bool ctrlDown) {
    constexpr unsigned kReturn = 0x0D, kRight = 0x27;
    if (virtualKey == kReturn) return JieMiKey::Decrypt;
    if (virtualKey == kRight && ctrlDown) return JieMiKey::CycleMode;
    return JieMiKey::None;
}

bool IsNetworkFolder(const std::wstring& folder) {
    return folder.find(L"\\\\") != std::wstring::npos;
}

Verification VerifyPassword(const std::wstring& paramDir, bool legacyStore,
                            const std::wstring& typed) {
    Verification v;
    crypto::StoreRecords records = crypto::ReadStoreRecords(paramDir, legacyStore);
    v.kind = records.kind;
    v.legacyHash = records.legacyHash;
    if (v.kind == crypto::kKindNormal) {
        if (crypto::CheckNormalPassword(records, paramDir, legacyStore, typed)) {
            v.verdict = Verdict::Accepted;
            v.password = records.password;
        } else if (crypto::CheckSecondaryPassword(records, typed)) {
            v.verdict = Verdict::OpenOnly;
        } else {
            v.message = crypto::kMsgPasswordWrong;
        }
    } else if (crypto::CheckStrengthPassword(paramDir, typed, v.legacyHash)) {
        v.verdict = Verdict::Accepted;
        v.password = typed;
    } else {
        v.message = crypto::kMsgStrengthPasswordWrong;
    }
    records.Wipe();
    return v;
}

std::wstring FreeNameIn(const std::wstring& dir, const std::wstring& name, bool folder) {
    plat::FileSystem& fs = plat::Fs();
    if (!fs.Exists(plat::JoinPath(dir, name))) return name;
    const size_t dot = name.rfind(L'.');
    const bool split = !folder && dot != std::wstring::npos;
    for (int n = 1; n < 100000; ++n) {
        const std::wstring number = L"[" + std::to_wstring(n) + L"]";
        const std::wstring candidate =
            split ? name.substr(0, dot) + number + name.substr(dot) : name + number;
        if (!fs.Exists(plat::JoinPath(dir, candidate))) return candidate;
    }
    return {};
}

namespace {

// Moves what `from` holds into `to`: a folder the store has too is merged
// into it, anything else moves under a free name. What does not move stays.
int MergeInto(const std::wstring& from, const std::wstring& to) {
    plat::FileSystem& fs = plat::Fs();
    std::vector<plat::DirEntry> entries;
    if (!fs.ListDir(from, &entries)) return 0;
    int moved = 0;
    for (const auto& e : entries) {
        const std::wstring src = plat::JoinPath(from, e.name);
        const bool folder = e.IsDirectory() && !(e.attributes & plat::kAttrReparsePoint);
        (void)fs.SetAttributes(src, e.attributes & ~(plat::kAttrHidden | plat::kAttrSystem));
        const std::wstring same = plat::JoinPath(to, e.name);
        const uint32_t there = fs.GetAttributes(same);
        if (folder && there != plat::kInvalidAttributes && (there & plat::kAttrDirectory) &&
            !(there & plat::kAttrReparsePoint)) {
            // An opened file of a sub-folder comes back into that folder.
            moved += MergeInto(src, same);
            (void)fs.RemoveDir(src);
            continue;
        }
        const std::wstring name = FreeNameIn(to, e.name, folder);
        if (!name.empty() && fs.Move(src, plat::JoinPath(to, name))) ++moved;
    }
    return moved;
}

}  // namespace

int RecoverWorkingCopies(const std::wstring& dataDir) {
    plat::FileSystem& fs = plat::Fs();
    const std::wstring working = plat::JoinPath(dataDir, store::kWorkingFolderName);
    const std::wstring notDelete = plat::JoinPath(working, store::kNotDeleteFolderName);
    const uint32_t a = fs.GetAttributes(notDelete);
    if (a == plat::kInvalidAttributes || !(a & plat::kAttrDirectory) ||
        (a & plat::kAttrReparsePoint))
        return 0;
    const int moved = MergeInto(notDelete, plat::WithoutSep(dataDir));
    (void)fs.RemoveDir(notDelete);
    (void)fs.RemoveDir(working);
    return moved;
}

// ---- drive letters

namespace {

class PlatformDriveTable final : public DriveTable {
  public:
    std::wstring LettersInUse() override { return plat::DriveLettersInUse(); }
    bool Reserve(const std::wstring& drive) override { return plat::ReserveDrive(drive); }
    bool Map(const std::wstring& drive, const std::wstring& folder) override {
        return plat::MapDrive(drive, folder);
    }
    void Release(const std::wstring& drive) override { plat::ReleaseDrive(drive); }
    std::wstring Root(const std::wstring& drive) override { return plat::DriveRootPath(drive); }
    std::wstring MappedFolder(const std::wstring& drive) override {
        return plat::MappedFolderOf(drive);
    }
};

bool WriteMapDriver(const std::wstring& text) {
    return app::Settings::Profile().WriteProfileString(L"", app::ProfileKeys::MapDriver, text);
}

}  // namespace

DriveTable& OsDriveTable() {
    static PlatformDriveTable table;
    return table;
}

std::wstring FreeDriveName(const std::wstring& inUse) {
    for (wchar_t c = L'Z'; c >= L'A'; --c)
        if (inUse.find(c) == std::wstring::npos) return std::wstring(1, c) + L":";
    return {};
}

std::wstring MapDriverWith(const std::wstring& text, const std::wstring& drive) {
    return drive + text;
}

std::wstring MapDriverWithout(const std::wstring& text, const std::wstring& drive) {
    if (drive.empty()) return text;
    std::wstring out = text;
    for (size_t at = out.find(drive); at != std::wstring::npos; at = out.find(drive, at))
        out.erase(at, drive.size());
    return out;
}

bool ImageDrive::Reserve() {
    Release();
    const std::wstring name = FreeDriveName(table_.LettersInUse());
    if (name.empty() || !table_.Reserve(name)) return false;
    name_ = name;
    (void)WriteMapDriver(MapDriverWith(app::Settings::MapDriver(), name_));
    return true;
}

bool ImageDrive::Map(const std::wstring& folder) {
    return !name_.empty() && table_.Map(name_, folder);
}

void ImageDrive::Release() {
    if (name_.empty()) return;
    // A drive in use a moment longer (a window still closing on it) is
    // tried again; one that stays is left in "MapDriver" for the next start.
    bool gone = false;
    for (int attempt = 0; attempt < 5 && !gone; ++attempt) {
        if (attempt) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        table_.Release(name_);
        gone = table_.LettersInUse().find(name_[0]) == std::wstring::npos;
    }
    if (gone) (void)WriteMapDriver(MapDriverWithout(app::Settings::MapDriver(), name_));
    name_.clear();
}

std::wstring ImageDrive::Root() const {
    return name_.empty() ? std::wstring() : table_.Root(name_);
}

bool ImageDrive::Reachable() const {
    return !name_.empty() && plat::Fs().IsDirectory(table_.Root(name_));
}

int ReleaseStaleDrives(DriveTable& table, bool (*folderIsFree)(const std::wstring& folder)) {
    const std::wstring text = app::Settings::MapDriver();
    const std::wstring inUse = table.LettersInUse();
    std::wstring kept = text;
    int released = 0;
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i + 1] != L':' || text[i] < L'A' || text[i] > L'Z') continue;
        const std::wstring drive = text.substr(i, 2);
        if (inUse.find(text[i]) == std::wstring::npos) {
            kept = MapDriverWithout(kept, drive);  // gone with the session that made it
            continue;
        }
        // Ours only when it shows a store's data folder: <folder>\ulxjm\ffffff,
        // or when our record names it and its folder is gone.
        const std::wstring target = plat::WithoutSep(table.MappedFolder(drive));
        if (target.empty() && !plat::Fs().IsDirectory(table.Root(drive))) {
            table.Release(drive);
            if (table.LettersInUse().find(text[i]) == std::wstring::npos) {
                kept = MapDriverWithout(kept, drive);
                ++released;
            }
            continue;
        }
        // The data folder (image use) or its working folder (browse window).
        const std::wstring data =
            std::wstring(store::kStoreRoot) + plat::kSep + store::kDataFolderName;
        const std::wstring working = data + plat::kSep + store::kWorkingFolderName;
        const std::wstring tail = plat::EndsWithNoCase(target, working) ? working : data;
        if (target.size() <= tail.size() + 1 || !plat::EndsWithNoCase(target, tail) ||
            target[target.size() - tail.size() - 1] != plat::kSep)
            continue;
        const std::wstring folder = target.substr(0, target.size() - tail.size() - 1);
        if (!folderIsFree(folder)) continue;  // a running image use holds it
        table.Release(drive);
        kept = MapDriverWithout(kept, drive);
        ++released;
    }
    if (kept != text) (void)WriteMapDriver(kept);
    return released;
}

// ---- the watch after image use

WatchTitles MakeWatchTitles(const std::wstring& shellDisplayName, const std::wstring& drive) {
    WatchTitles t;
    t.a = shellDisplayName;
    t.b = plat::WithSep(drive);
    const std::wstring name = t.b.substr(0, 2);
    t.c = texts::kLocalDiskFormat;
    t.c.replace(t.c.find(L"%s"), 2, name);
    return t;
}

bool TitleNamesDrive(const std::wstring& title, const std::wstring& drive) {
    if (drive.size() < 2) return false;
    const std::wstring name = drive.substr(0, 2);
    return plat::EqualsNoCase(title, name + L"\\") ||
           plat::Fold(title).find(plat::Fold(L"(" + name + L")")) != std::wstring::npos;
}

CloseWatch::Step CloseWatch::Tick(bool windowFound, bool windowAlive, bool encryptNow) {
    if (!windowFound && !encryptNow) {
        ++waited_;
        if (waited_ < 6) return Step::Wait;
    }
    if (windowAlive && !encryptNow) return Step::Wait;
    return Step::ReEncrypt;
}

bool FolderHoldsOnlyProgram(const std::wstring& folder, const std::wstring& modulePath) {
    std::vector<plat::DirEntry> entries;
    if (!plat::Fs().ListDir(plat::WithoutSep(folder), &entries)) return false;
    for (const auto& e : entries)
        if (!plat::EqualsNoCase(plat::JoinPath(plat::WithoutSep(folder), e.name), modulePath))
            return false;
    return true;
}

std::wstring ReEncryptCaption(int total, int handled, int failed, int skipped) {
    wchar_t buf[160];
    std::swprintf(buf, sizeof buf / sizeof buf[0], texts::kReEncryptFormat, total, handled, failed,
                  skipped);
    return buf;
}

int ReEncryptPercent(int handled, int total) {
    if (total <= 0) return 100;
    const double p = double(handled) * 100.0 / double(total);
    if (p < 0) return 100;
    return p > 100 ? 100 : int(p);
}

std::wstring WaitingText(int quarterSeconds) {
    wchar_t buf[96];
    std::swprintf(buf, sizeof buf / sizeof buf[0], texts::kWaitingFormat, quarterSeconds / 4);
    return buf;
}

}  // namespace ui::logic
