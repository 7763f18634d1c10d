#include "store/layout.h"

#include <array>
#include <random>
#include <vector>

#include "app/globals.h"
#include "app/settings_keys.h"
#include "app/startup.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "update/update_rules.h"

namespace store {
namespace {

using plat::Fs;

constexpr uint32_t kHiddenSystem = plat::kAttrHidden | plat::kAttrSystem;

// Keeps the first failure in `error` (when given).
void NoteFailure(uint32_t* error) {
    if (error && *error == 0)
        *error = plat::LastError() ? plat::LastError() : plat::kErrNotSupported;
}

void AddAttributes(const std::wstring& path, uint32_t bits, uint32_t* error = nullptr) {
    if (path.empty()) return;
    uint32_t a = Fs().GetAttributes(path);
    if (a == plat::kInvalidAttributes) return;
    if (!Fs().SetAttributes(path, (a & ~plat::kAttrDirectory) | bits)) NoteFailure(error);
}

void SetAttributesIfAny(const std::wstring& path, uint32_t attrs, uint32_t* error) {
    if (path.empty()) return;
    if (!Fs().SetAttributes(path, attrs)) NoteFailure(error);
}

// Creating or truncating a file that carries HIDDEN or SYSTEM fails on
// Windows unless the same bits are asked for; decoration files left by an
// earlier encryption carry both, so their marks are dropped first.
void MakeRewritable(const std::wstring& path) {
    uint32_t a = Fs().GetAttributes(path);
    if (a == plat::kInvalidAttributes || (a & plat::kAttrDirectory)) return;
    if (a & (plat::kAttrHidden | plat::kAttrSystem | plat::kAttrReadOnly))
        (void)Fs().SetAttributes(
            path, a & ~(plat::kAttrHidden | plat::kAttrSystem | plat::kAttrReadOnly));
}

bool WriteBytes(const std::wstring& path, const std::string& bytes, bool ownerOnly = false) {
    MakeRewritable(path);
    auto f = Fs().Open(path, plat::Access::ReadWrite, plat::Disposition::CreateAlways);
    if (!f) return false;
    // Records hold passwords: nobody else may read them, not even briefly.
    if (ownerOnly && !Fs().RestrictToOwner(path)) return false;
    return f->WriteAll(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

bool CreateLevels(const std::wstring& target) {
    // A network path cannot create its server and share parts: start after
    // them and let failures pass.
    const std::wstring dbl(2, plat::kSep);
    const bool network = target.find(dbl) != std::wstring::npos;
    size_t start = network ? 3 : 0;
    for (size_t pos = target.find(plat::kSep, start); pos != std::wstring::npos;
         pos = target.find(plat::kSep, pos + 1)) {
        std::wstring prefix = target.substr(0, pos + 1);
        if (prefix.size() == 1 && prefix[0] == plat::kSep) continue;  // posix root
        if (!Fs().IsDirectory(prefix)) {
            if (!Fs().CreateDir(prefix) && !network && !Fs().IsDirectory(prefix)) return false;
        }
        if (prefix.size() >= 9 && prefix.find(L"ulxjm,NotDelete") != std::wstring::npos)
            AddAttributes(prefix, kHiddenSystem);
    }
    return true;
}

std::wstring Param(const std::wstring& folder, const wchar_t* name) {
    return plat::JoinPath(ParamDir(folder), name);
}

}  // namespace

std::wstring DataRel() {
    return std::wstring(kStoreRoot) + plat::kSep + kDataFolderName;
}
std::wstring ParamRel() {
    return std::wstring(kStoreRoot) + plat::kSep + kParamFolderName;
}
std::wstring DataDir(const std::wstring& folder) {
    return plat::JoinPath(folder, DataRel());
}
std::wstring ParamDir(const std::wstring& folder) {
    return plat::JoinPath(folder, ParamRel());
}
std::wstring WorkingDir(const std::wstring& folder) {
    return plat::WithSep(
        plat::JoinPath(plat::JoinPath(DataDir(folder), kWorkingFolderName), kNotDeleteFolderName));
}

bool IsReservedName(const std::wstring& name) {
    static const std::array<const wchar_t*, 7> kReserved = {
        L"ulxjm,NotDelete.",          L"ulxjm",   L"recycler88", L"ulxjm.exe", L"$RECYCLE.BIN",
        L"system volume information", L"recycler"};
    for (const wchar_t* r : kReserved)
        if (plat::EqualsNoCase(name, r)) return true;
    return false;
}

bool IsNeverMoved(const std::wstring& folder, const std::wstring& name,
                  const std::wstring& modulePath) {
    if (IsReservedName(name)) return true;
    if (modulePath.empty()) return false;
    const std::wstring path = plat::JoinPath(folder, name);
    if (plat::EqualsNoCase(path, modulePath)) return true;
    if (!plat::EqualsNoCase(plat::WithSep(folder), plat::ParentWithSep(modulePath))) return false;
    // The start-up password guards the program beside it: moved away, the
    // guard would be gone and its text would travel with the data. A new
    // program being downloaded beside it must stay there to take its place.
    return plat::EqualsNoCase(name, app::kStartupPasswordFile) || update::IsTemporaryName(name);
}

std::wstring PlacedProgramName(const std::wstring& modulePath) {
    const std::wstring leaf = plat::LeafName(modulePath);
    return leaf.empty() ? std::wstring(kExeName) : leaf;
}

bool IsEncryptedFolder(const std::wstring& folder, bool withLegacyAlias) {
    if (folder.empty()) return false;
    if (Fs().IsDirectory(DataDir(folder))) return true;
    if (!withLegacyAlias) return false;
    return Fs().IsDirectory(plat::JoinPath(plat::JoinPath(folder, kLegacyAlias), kDataFolderName));
}

bool CreateStoreFolders(const std::wstring& folder) {
    if (folder.empty()) return false;
    return CreateLevels(plat::WithSep(DataDir(folder))) &&
           CreateLevels(plat::WithSep(ParamDir(folder)));
}

bool WriteTextFile(const std::wstring& path, const std::wstring& text) {
    return WriteBytes(path, plat::ToAnsi(text));
}

std::wstring ReadFirstLine(const std::wstring& path) {
    std::string bytes;
    if (!plat::ReadSmallFile(path, kMaxRecordSize, &bytes)) return {};
    size_t end = bytes.find('\n');
    if (end != std::string::npos) bytes.resize(end);
    if (!bytes.empty() && bytes.back() == '\r') bytes.pop_back();
    std::wstring line = plat::FromAnsi(bytes);
    plat::Wipe(bytes);
    return line;
}

bool WriteStoreMetadata(const std::wstring& folder, const std::wstring& password,
                        const std::wstring& mailAddress, const std::wstring& kindText) {
    if (folder.empty()) return false;
    // Every record must land: a store whose password record is missing or
    // empty could not be opened again (or would open with anything).
    auto record = [&](const wchar_t* name, const std::wstring& text) {
        std::string bytes = plat::ToAnsi(text);
        bool ok = WriteBytes(Param(folder, name), bytes, true);
        plat::Wipe(bytes);
        return ok;
    };
    bool ok = record(kPasswordRecord, password);
    if (ok && !mailAddress.empty()) ok = record(kMailRecord, mailAddress);
    if (ok) ok = record(kKindRecord, L"ff" + kindText);
    return ok;
}

bool WriteSecondPassword(const std::wstring& folder, const std::wstring& record) {
    if (folder.empty()) return false;
    std::string bytes = plat::ToAnsi(record);
    bool ok = WriteBytes(Param(folder, kSecondPasswordRecord), bytes, true);
    plat::Wipe(bytes);
    return ok;
}

std::string FolderDesktopIniBytes(const std::wstring& tip) {
    return "[.ShellClassInfo]\r\nIconIndex=0\r\nIconFile=ulxjm.exe\r\nInfoTip=" + plat::ToAnsi(tip);
}

std::string StoreDesktopIniBytes() {
    return "[.ShellClassInfo]\r\nCLSID={20D04FE0-3AEA-1069-A2D8-08002B30309D}";
}

std::wstring DefaultReadmeText(const std::wstring& programName) {
    const std::wstring& p = programName;
    return L"这是一个通过岚栩只读加密过的文件夹。\r\n\r\n如需使用该文件夹的内容，请解密。\r\n\r\n"
           L"解密方法：\r\n请运行该文件夹下的" +
           p + L"输入密码解密。如不存在" + p + L"，请从官网 http://" + app::kWebHost + L"/" +
           kExeName + L" 下载该文件到该目录下后，再运行" + p +
           L"。\r\n\r\n友情提示：请一定是运行该文件夹下的" + p;
}

namespace {

// Whole content of a decoration or the record; false when it cannot be read
// (or is no regular file of at most 1 MiB).
bool ReadSmallFile(const std::wstring& path, std::string* bytes) {
    bytes->clear();
    return plat::ReadSmallFile(path, 1u << 20, bytes);
}

// The decoration record: for each file written, "name\n" + its length in
// decimal + "\n" + its exact bytes. Entries are only ever added.
std::string RecordEntry(const wchar_t* name, const std::string& bytes) {
    return plat::ToAnsi(name) + "\n" + std::to_string(bytes.size()) + "\n" + bytes;
}

// The recorded bytes of `name`, every entry of it; an entry cut short at
// the end (a run stopped while writing) is left out.
std::vector<std::string> RecordedBytes(const std::string& record, const wchar_t* name) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < record.size()) {
        const size_t nl1 = record.find('\n', at);
        if (nl1 == std::string::npos) break;
        const size_t nl2 = record.find('\n', nl1 + 1);
        if (nl2 == std::string::npos || nl2 == nl1 + 1 || nl2 - nl1 > 12) break;
        size_t len = 0;
        for (size_t k = nl1 + 1; k < nl2; ++k) {
            if (record[k] < '0' || record[k] > '9') return out;
            len = len * 10 + size_t(record[k] - '0');
        }
        if (len > record.size() - nl2 - 1) break;
        if (plat::EqualsNoCase(plat::FromAnsi(record.substr(at, nl1 - at)), name))
            out.push_back(record.substr(nl2 + 1, len));
        at = nl2 + 1 + len;
    }
    return out;
}

// Ours while an encryption is being finished: the recorded bytes, or the
// start of them (a write cut short, written again whole).
bool IsRecorded(const std::string& record, const wchar_t* name, const std::string& bytes) {
    for (const std::string& r : RecordedBytes(record, name))
        if (r.compare(0, bytes.size(), bytes) == 0 && bytes.size() <= r.size()) return true;
    return false;
}

// Ours to delete: exactly the recorded bytes. A user's file that is empty or
// happens to start like ours is not.
bool IsRecordedExactly(const std::string& record, const wchar_t* name, const std::string& bytes) {
    for (const std::string& r : RecordedBytes(record, name))
        if (r == bytes) return true;
    return false;
}

// Writes `bytes` from the start of `path` without truncating first: the
// record only grows, so a run stopped in the middle keeps every earlier
// entry intact.
bool WriteGrowing(const std::wstring& path, const std::string& bytes) {
    MakeRewritable(path);
    auto f = Fs().Open(path, plat::Access::ReadWrite, plat::Disposition::OpenAlways);
    return f && f->WriteAll(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

// Files written by versions that kept no record: the folder tip with its
// fixed first lines, or a readme with one of the default texts.
bool LooksLikeEarlierDecoration(const wchar_t* name, const std::string& bytes) {
    if (plat::EqualsNoCase(name, kDesktopIni)) {
        // Our fixed lines and a one-line tip, nothing else.
        const std::string fixed = FolderDesktopIniBytes(L"");
        return bytes.size() >= fixed.size() && bytes.compare(0, fixed.size(), fixed) == 0 &&
               bytes.find_first_of("\r\n", fixed.size()) == std::string::npos;
    }
    const std::wstring earlierDefault =
        L"这是一个通过岚栩只读加密过的文件夹。\r\n\r\n如需使用该文件夹的内容，请解密。\r\n\r\n"
        L"解密方法：\r\n请运行该文件夹下的rlxjm.exe输入密码解密。如不存在rlxjm.exe，请从官网 "
        L"http://" +
        std::wstring(app::kWebHost) +
        L"/rlxjm.exe 下载该文件到该目录下后，再运行rlxjm.exe。\r\n\r\n"
        L"友情提示：请一定是运行该文件夹下的rlxjm.exe";
    return bytes == plat::ToAnsi(earlierDefault) || bytes == plat::ToAnsi(DefaultReadmeText());
}

}  // namespace

bool WriteFolderDecorations(const std::wstring& folder, const std::wstring& programName,
                            uint32_t* marksError) {
    if (folder.empty()) return false;
    const std::wstring root = plat::JoinPath(folder, kStoreRoot);
    SetAttributesIfAny(root, kHiddenSystem, marksError);

    const std::wstring storeIni = plat::JoinPath(root, kDesktopIni);
    if (WriteBytes(storeIni, StoreDesktopIniBytes()))
        SetAttributesIfAny(storeIni, kHiddenSystem, marksError);

    // Every decoration is recorded before it is written: a run stopped while
    // writing one still knows it as ours.
    struct Decoration {
        const wchar_t* name;
        std::string bytes;
    };
    std::vector<Decoration> decorations;
    if (app::Settings::JiamiFlag() == 1)
        decorations.push_back({kDesktopIni, FolderDesktopIniBytes(app::Settings::Tips())});
    if (app::Settings::ReadMeFlag() == 1)
        decorations.push_back(
            {kReadmeTxt, plat::ToAnsi(app::Settings::ReadmeText(DefaultReadmeText(programName)))});
    if (decorations.empty()) return true;

    const std::wstring recordPath = Param(folder, kDecorationRecord);
    std::string record;
    (void)ReadSmallFile(recordPath, &record);
    for (const Decoration& d : decorations) {
        // A file standing there now is ours from an earlier run of this
        // finishing, or the user's that could not be moved into the store:
        // that one is not ours to overwrite.
        std::string present;
        const std::wstring path = plat::JoinPath(folder, d.name);
        if (Fs().Exists(path) &&
            !(ReadSmallFile(path, &present) && IsRecorded(record, d.name, present)))
            return false;
        if (!IsRecorded(record, d.name, d.bytes)) record += RecordEntry(d.name, d.bytes);
    }
    if (!WriteGrowing(recordPath, record)) return false;
    for (const Decoration& d : decorations) {
        const std::wstring path = plat::JoinPath(folder, d.name);
        if (!WriteBytes(path, d.bytes)) return false;
        if (plat::EqualsNoCase(d.name, kDesktopIni))
            SetAttributesIfAny(path, kHiddenSystem, marksError);
    }
    return true;
}

bool RemoveFolderDecorations(const std::wstring& folder, const std::wstring& paramFolder) {
    std::string record;
    const bool haveRecord = ReadSmallFile(plat::JoinPath(paramFolder, kDecorationRecord), &record);
    bool ok = true;
    for (const wchar_t* name : {kDesktopIni, kReadmeTxt}) {
        const std::wstring path = plat::JoinPath(folder, name);
        std::string bytes;
        if (!ReadSmallFile(path, &bytes)) continue;
        const bool ours =
            haveRecord ? IsRecordedExactly(record, name, bytes) : LooksLikeEarlierDecoration(name, bytes);
        if (!ours) continue;
        MakeRewritable(path);
        ok = Fs().DeleteFile(path) && ok;
    }
    return ok;
}

bool IsOurDecoration(const std::wstring& folder, const std::wstring& name) {
    for (const wchar_t* d : {kDesktopIni, kReadmeTxt}) {
        if (!plat::EqualsNoCase(name, d)) continue;
        std::string record, bytes;
        return ReadSmallFile(plat::JoinPath(ParamDir(folder), kDecorationRecord), &record) &&
               ReadSmallFile(plat::JoinPath(folder, d), &bytes) && IsRecorded(record, d, bytes);
    }
    return false;
}

bool RemoveStoreRootDecoration(const std::wstring& folder) {
    const std::wstring path = plat::JoinPath(plat::JoinPath(folder, kStoreRoot), kDesktopIni);
    MakeRewritable(path);
    return Fs().DeleteFile(path);
}

bool FinishEncryption(const std::wstring& folder, const std::wstring& modulePath,
                      uint32_t* marksError) {
    if (folder.empty()) return false;
    const std::wstring copy = plat::JoinPath(folder, plat::LeafName(modulePath));
    // Copying the program onto itself (it runs from this folder) would at
    // best fail and at worst truncate it.
    // A program started through a link is copied from where the link leads.
    if (!modulePath.empty() && !plat::EqualsNoCase(copy, modulePath))
        (void)Fs().Copy(plat::FollowLink(modulePath), copy, false);
    AddAttributes(plat::WithoutSep(folder), plat::kAttrSystem, marksError);
    return WriteFolderDecorations(folder, PlacedProgramName(modulePath), marksError);
}

void MigrateMetadataNames(const std::wstring& paramFolder) {
    struct Pair {
        const wchar_t* earlier;
        const wchar_t* current;
    };
    static const Pair kPairs[] = {
        {kOldPasswordRecord, kPasswordRecord},
        {kOldMailRecord, kMailRecord},
        {kOldResetRecord, kResetRecord},
        {kOldKindRecord, kKindRecord},
        {kOldLegacySealedRecord, kLegacySealedRecord},
    };
    for (const Pair& p : kPairs) {
        const std::wstring earlier = plat::JoinPath(paramFolder, p.earlier);
        if (Fs().Exists(plat::JoinPath(paramFolder, p.current)) && Fs().Exists(earlier)) {
            MakeRewritable(earlier);
            (void)Fs().DeleteFile(earlier);
        }
    }
    for (const Pair& p : kPairs) {
        const std::wstring earlier = plat::JoinPath(paramFolder, p.earlier);
        const std::wstring current = plat::JoinPath(paramFolder, p.current);
        if (Fs().Exists(earlier) && !Fs().Exists(current)) (void)Fs().Move(earlier, current);
    }
}

void DeleteStoreMetadata(const std::wstring& paramFolder) {
    static const wchar_t* const kNames[] = {
        kOldResetRecord,       kOldPasswordRecord, kOldLegacySealedRecord,
        kOldMailRecord,        kOldKindRecord,     kOldRenameFailList,
        kResetRecord,          kPasswordRecord,    kLegacySealedRecord,
        kMailRecord,           kKindRecord,        kRenameFailList,
        kSecondPasswordRecord, kSealedRecord,      kDecorationRecord,
        kStoreIdRecord};
    for (const wchar_t* name : kNames) {
        const std::wstring path = plat::JoinPath(paramFolder, name);
        if (!Fs().Exists(path)) continue;
        MakeRewritable(path);
        (void)Fs().DeleteFile(path);
    }
}

std::string StoreId(const std::wstring& paramFolder, bool create) {
    constexpr size_t kIdSize = 16;
    const std::wstring path = plat::JoinPath(paramFolder, kStoreIdRecord);
    std::string id;
    if (ReadSmallFile(path, &id) && id.size() == kIdSize) return id;
    if (!create) return {};
    std::random_device source;
    id.clear();
    while (id.size() < kIdSize) {
        const uint32_t r = source();
        for (int k = 0; k < 4 && id.size() < kIdSize; ++k) id.push_back(char(r >> (8 * k)));
    }
    if (!WriteBytes(path, id, true)) return {};
    return id;
}

}  // namespace store
