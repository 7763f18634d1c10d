// The store inside a protected folder: every name, place and attribute, the
// decoration files, and the rule that makes a folder count as encrypted.
//
// Folder arguments are full paths of the protected folder; a trailing
// separator is optional everywhere.
#pragma once

#include <cstdint>
#include <string>

namespace store {

// Store root and its two sub-folders.
inline constexpr const wchar_t* kStoreRoot = L"ulxjm";
inline constexpr const wchar_t* kDataFolderName = L"ffffff";
inline constexpr const wchar_t* kParamFolderName = L"paramff";
// Short-name alias through which stores of earlier versions are reached; their
// real root names end in dots.
inline constexpr const wchar_t* kLegacyAlias = L"岚栩目~1";
inline constexpr const wchar_t* kLegacyRootVista = L"岚栩目录,勿删除..";
inline constexpr const wchar_t* kLegacyRootXp = L"岚栩目录,勿删除...";
// Working area of the browse window, below the data folder.
inline constexpr const wchar_t* kWorkingFolderName = L"working";
inline constexpr const wchar_t* kNotDeleteFolderName = L"NotDelete";

inline constexpr const wchar_t* kDesktopIni = L"desktop.ini";
inline constexpr const wchar_t* kReadmeTxt = L"readme.txt";
inline constexpr const wchar_t* kExeName = L"ulxjm.exe";

// Metadata files in the parameter folder; the earlier names still understood.
inline constexpr const wchar_t* kPasswordRecord = L"imimff.ulxjm";
inline constexpr const wchar_t* kSealedRecord = L"imimff.ulxjm.zpwenc0";
inline constexpr const wchar_t* kLegacySealedRecord = L"imimff.ulxjm.elxjm";
inline constexpr const wchar_t* kMailRecord = L"liamff.ulxjm";
inline constexpr const wchar_t* kKindRecord = L"typeff.ulxjm";
inline constexpr const wchar_t* kSecondPasswordRecord = L"imimtwo.ulxjm";
inline constexpr const wchar_t* kResetRecord = L"imimffreset.ulxjm";
inline constexpr const wchar_t* kRenameFailList = L"renamefail.ulxjm";
// Which decoration files this program wrote into the folder, with a digest
// of their bytes: only those are taken away again.
inline constexpr const wchar_t* kDecorationRecord = L"decorff.ulxjm";
// The store's own random identity: a journal names it, and one that names
// another store (copied in by hand, or crafted) is never applied here.
inline constexpr const wchar_t* kStoreIdRecord = L"storeidff.ulxjm";
inline constexpr const wchar_t* kOldPasswordRecord = L"imimff.dat";
inline constexpr const wchar_t* kOldLegacySealedRecord = L"imimff.dat.elxjm";
inline constexpr const wchar_t* kOldMailRecord = L"liamff.dat";
inline constexpr const wchar_t* kOldKindRecord = L"typeff.dat";
inline constexpr const wchar_t* kOldResetRecord = L"imimffreset.dat";
inline constexpr const wchar_t* kOldRenameFailList = L"renamefail.dat";

// Store kind texts handed to the engine; the kind line on disk is "ff" + text.
inline constexpr const wchar_t* kKindNormal = L"type=0";
inline constexpr const wchar_t* kKindHigher = L"type=1";
inline constexpr const wchar_t* kKindHighest = L"type=2";

// "ulxjm<sep>ffffff" and "ulxjm<sep>paramff": sub-paths of a store this
// program writes, relative to the protected folder.
std::wstring DataRel();
std::wstring ParamRel();
// Absolute data / parameter folder of `folder`'s current-form store (no
// trailing separator).
std::wstring DataDir(const std::wstring& folder);
std::wstring ParamDir(const std::wstring& folder);
// The browse window's working area: data folder + "working<sep>NotDelete<sep>".
std::wstring WorkingDir(const std::wstring& folder);

// Top-level names never moved into the store (any letter case): the store
// root, the program's name and the system's own folders. A user's
// "desktop.ini" or "readme.txt" is content like any other.
bool IsReservedName(const std::wstring& name);
// What an encryption of `folder` never moves: reserved names, the running
// program `modulePath` itself and the start-up password file beside it.
bool IsNeverMoved(const std::wstring& folder, const std::wstring& name,
                  const std::wstring& modulePath);
// The name of the program placed into a protected folder by a program
// running from `modulePath` ("ulxjm.exe" when none is placed).
std::wstring PlacedProgramName(const std::wstring& modulePath);

// True exactly when folder + "ulxjm<sep>ffffff" is an existing folder, or,
// with `withLegacyAlias`, folder + "岚栩目~1<sep>ffffff" is.
bool IsEncryptedFolder(const std::wstring& folder, bool withLegacyAlias = false);

// Creates the data and parameter folders level by level. A network path
// ("\\server\share\...") skips the server and share parts and ignores
// creation failures. False when a folder cannot be created.
[[nodiscard]] bool CreateStoreFolders(const std::wstring& folder);

// Writes "imimff.ulxjm", "liamff.ulxjm" (only for a non-empty mail address)
// and "typeff.ulxjm" ("ff" + kind text). False only when `folder` is empty.
bool WriteStoreMetadata(const std::wstring& folder, const std::wstring& password,
                        const std::wstring& mailAddress, const std::wstring& kindText);
// Writes "imimtwo.ulxjm"; false when it cannot be created.
bool WriteSecondPassword(const std::wstring& folder, const std::wstring& record);

// Store root attributes and the decoration files ("ulxjm\desktop.ini", and
// depending on the settings "desktop.ini" and "readme.txt", naming the
// program `programName`), and the record of what was written. False when a
// file or the record could not be written. `marksError` (optional) receives
// the error of the first hidden/system mark that could not be set (a drive
// that keeps none: the store shows on Windows), or 0.
[[nodiscard]] bool WriteFolderDecorations(const std::wstring& folder,
                                          const std::wstring& programName = kExeName,
                                          uint32_t* marksError = nullptr);
// Deletes the folder's "desktop.ini" and "readme.txt" where they are ours:
// listed in the decoration record of `paramFolder` with the same bytes, or,
// for a store without that record, recognisable as written by an earlier
// version. A file of the user's under either name stays. True when none of
// ours is left.
bool RemoveFolderDecorations(const std::wstring& folder, const std::wstring& paramFolder);
// True when `name` in `folder` is a decoration this program wrote there (as
// its store's decoration record says).
bool IsOurDecoration(const std::wstring& folder, const std::wstring& name);
// Deletes the store root's "desktop.ini".
bool RemoveStoreRootDecoration(const std::wstring& folder);

// End of a normal encryption: copy the program into the folder, mark the
// folder SYSTEM, write the decorations. `marksError` as above, the folder's
// SYSTEM mark (its icon) included.
bool FinishEncryption(const std::wstring& folder, const std::wstring& modulePath,
                      uint32_t* marksError = nullptr);

// Renames earlier metadata names to the current ones (deleting an earlier
// file whose current twin exists).
void MigrateMetadataNames(const std::wstring& paramFolder);
// Deletes every metadata file, earlier names first; missing files are fine.
void DeleteStoreMetadata(const std::wstring& paramFolder);
// The identity of the store whose parameter folder is `paramFolder` (16
// bytes); empty when it has none. With `create`, one is made and written
// first when missing (empty only when that fails).
std::string StoreId(const std::wstring& paramFolder, bool create);

// Text files of the store: one text in the ANSI code page, no line end.
// WriteTextFile creates or truncates; false when the file cannot be written.
bool WriteTextFile(const std::wstring& path, const std::wstring& text);
// First line of a text file (without its line end); empty when unreadable
// or not a regular file of at most kMaxRecordSize bytes.
std::wstring ReadFirstLine(const std::wstring& path);
// Records are one short line; anything bigger is not one of ours.
inline constexpr uint64_t kMaxRecordSize = 64 * 1024;

// The default text of "readme.txt" (when the profile holds no "readme"),
// telling to run `programName`.
std::wstring DefaultReadmeText(const std::wstring& programName = kExeName);
// Contents of the two "desktop.ini" files, as bytes in the ANSI code page.
std::string FolderDesktopIniBytes(const std::wstring& tip);
std::string StoreDesktopIniBytes();

}  // namespace store
