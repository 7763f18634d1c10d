#include "store/layout.h"

#include <array>

#include "app/globals.h"
#include "app/settings_keys.h"
#include "platform/fs.h"
#include "platform/text.h"

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
    static const std::array<const wchar_t*, 8> kReserved = {L"ulxjm,NotDelete.",
                                                            L"ulxjm",
                                                            L"recycler88",
                                                            L"ulxjm.exe",
                                                            L"desktop.ini",
                                                            L"$RECYCLE.BIN",
                                                            L"system volume information",
                                                            L"recycler"};
    for (const wchar_t* r : kReserved)
        if (plat::EqualsNoCase(name, r)) return true;
    return false;
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

std::wstring DefaultReadmeText() {
    return std::wstring(
               L"这是一个通过岚栩只读加密过的文件夹。\r\n\r\n如需使用该文件夹的内容，请解密。\r\n\r"
               L"\n"
               L"解密方法：\r\n请运行该文件夹下的rlxjm.exe输入密码解密。如不存在rlxjm."
               L"exe，请从官网 ") +
           L"http://" + app::kWebHost + L"/rlxjm.exe " +
           L"下载该文件到该目录下后，再运行rlxjm."
           L"exe。\r\n\r\n友情提示：请一定是运行该文件夹下的rlxjm.exe";
}

bool WriteFolderDecorations(const std::wstring& folder, uint32_t* marksError) {
    if (folder.empty()) return false;
    const std::wstring root = plat::JoinPath(folder, kStoreRoot);
    SetAttributesIfAny(root, kHiddenSystem, marksError);

    const std::wstring storeIni = plat::JoinPath(root, kDesktopIni);
    if (WriteBytes(storeIni, StoreDesktopIniBytes()))
        SetAttributesIfAny(storeIni, kHiddenSystem, marksError);

    if (app::Settings::JiamiFlag() == 1) {
        const std::wstring ini = plat::JoinPath(folder, kDesktopIni);
        if (!WriteBytes(ini, FolderDesktopIniBytes(app::Settings::Tips()))) return false;
        SetAttributesIfAny(ini, kHiddenSystem, marksError);
    }
    if (app::Settings::ReadMeFlag() == 1) {
        const std::wstring text = app::Settings::ReadmeText(DefaultReadmeText());
        if (!WriteTextFile(plat::JoinPath(folder, kReadmeTxt), text)) return false;
    }
    return true;
}

bool RemoveFolderDecorations(const std::wstring& folder) {
    bool ok = true;
    for (const std::wstring& path :
         {plat::JoinPath(folder, kDesktopIni), plat::JoinPath(folder, kReadmeTxt),
          plat::JoinPath(plat::JoinPath(folder, kStoreRoot), kDesktopIni)}) {
        MakeRewritable(path);
        ok = Fs().DeleteFile(path) && ok;
    }
    return ok;
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
    return WriteFolderDecorations(folder, marksError);
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
        kSecondPasswordRecord, kSealedRecord};
    for (const wchar_t* name : kNames) {
        const std::wstring path = plat::JoinPath(paramFolder, name);
        if (!Fs().Exists(path)) continue;
        MakeRewritable(path);
        (void)Fs().DeleteFile(path);
    }
}

}  // namespace store
