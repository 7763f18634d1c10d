#include "cli/commands.h"

#include <map>

#include "app/globals.h"
#include "app/settings_keys.h"
#include "app/startup.h"
#include "cli/console.h"
#include "cli/listing.h"
#include "cli/progress.h"
#include "cli/store_view.h"
#include "crypto/content_cipher.h"
#include "crypto/digest.h"
#include "crypto/records.h"
#include "engine/engine.h"
#include "engine/hide_pass.h"
#include "engine/naming.h"
#include "engine/pass_log.h"
#include "engine/pass_state.h"
#include "engine/restore_pass.h"
#include "engine/strength_pass.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/lock.h"
#include "platform/text.h"
#include "store/layout.h"
#include "ui/encrypt/logic/encrypt_texts.h"
#include "ui/encrypt/logic/jiami_logic.h"

namespace cli {

namespace {

// Quotes a path the way every message names it.
std::wstring Q(const std::wstring& path) {
    return L"“" + path + L"”";
}

// `text` ended by exactly one full stop: the system's error texts carry
// their own.
std::wstring Sentence(const std::wstring& text) {
    std::wstring t = plat::Trim(text);
    if (t.empty() || t.back() == L'。' || t.back() == L'.') return t;
    return t + L"。";
}

std::wstring NoCr(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text)
        if (c != L'\r') out += c;
    return out;
}

// The folder this command works on: locked for the whole run (one pass per
// folder at a time, across processes), and what an interrupted pass left
// there settled before anything else.
struct FolderSession {
    std::wstring folder;
    std::unique_ptr<plat::FolderLock> lock;
    bool busy = false;  // another run holds the folder (read-only commands go on)
    engine::RecoveryReport report;
};

FolderSession& Session() {
    static FolderSession session;
    return session;
}

std::wstring BusyText(const std::wstring& folder);

bool LockAndSettle(const std::wstring& folder, bool readOnly, int* exitCode);

// A folder argument that must be an existing folder.
bool ResolveFolder(const std::wstring& arg, std::wstring* folder, int* exitCode) {
    if (arg.empty()) {
        *exitCode = Refuse(L"没有给出文件夹。请给出文件夹的路径。");
        return false;
    }
    *folder = AbsolutePath(arg);
    const uint32_t a = plat::Fs().GetAttributes(*folder);
    if (a == plat::kInvalidAttributes) {
        *exitCode = Refuse(L"找不到文件夹" + Q(*folder) + L"。请检查路径是否正确。");
        return false;
    }
    if (!(a & plat::kAttrDirectory)) {
        *exitCode = Refuse(Q(*folder) + L"是一个文件，不是文件夹。请给出它所在的文件夹。");
        return false;
    }
    return true;
}

std::wstring BusyText(const std::wstring& folder) {
    return L"文件夹" + Q(folder) + L"：该文件夹正在被另一个岚栩只读加密处理，请稍后再试。";
}

bool LockAndSettle(const std::wstring& folder, bool readOnly, int* exitCode) {
    FolderSession& s = Session();
    if (s.lock && plat::EqualsNoCase(s.folder, folder)) return true;
    uint32_t error = 0;
    s.folder = folder;
    s.lock = plat::TryLockFolder(folder, &error);
    if (!s.lock) {
        if (error == plat::kErrSharingViolation) {
            s.busy = true;
            if (readOnly) return true;
            *exitCode = Refuse(BusyText(folder));
            return false;
        }
        // A folder that cannot be locked (a file system without locks):
        // go on, as nothing else could lock it either.
    }
    ConsoleUi ui;
    s.report = engine::Recover(folder, FindWindowsProgram(plat::ModulePath()), ui);
    const engine::RecoveryReport& r = s.report;
    if (r.settled || r.storeRemoved || r.hidingFinished)
        Con().Err(L"文件夹" + Q(folder) + L"：上次中断的操作已经处理完毕。\n");
    if (!r.setAside.empty())
        Con().Err(L"文件夹" + Q(folder) +
                  L"：上次操作的记录不完整或不属于这个文件夹，没有使用，已另存为" + Q(r.setAside) +
                  L"。\n");
    if (r.leftAlone)
        Con().Err(L"文件夹" + Q(folder) + L"：有" + std::to_wstring(r.leftAlone) +
                  L"个文件与上次操作的记录不符，已原样保留，详见 " + engine::LogPath() + L"。\n");
    if (r.imageOpen)
        Con().Err(L"文件夹" + Q(folder) +
                  L"：上次映像解密没有正常结束，存储中的文件还没有重新加密。请运行 ulxjm encrypt "
                  L"并输入原来的密码重新加密。\n");
    else if (r.pendingStrength)
        Con().Err(L"文件夹" + Q(folder) +
                  L"：上次的加密没有完成，存储中还有文件没有强度加密。请再次运行 ulxjm encrypt "
                  L"并输入原来的密码完成加密。\n");
    if (!r.ok()) {
        Con().Err(L"ulxjm: 文件夹" + Q(folder) + L"中有上次中断的操作没能恢复，详见 " +
                  engine::LogPath() + L"。\n");
        if (!readOnly) {
            *exitCode = kExitFailures;
            return false;
        }
    }
    return true;
}

bool Confirm(const Options& o, const std::wstring& question) {
    Console& con = Con();
    if (o.yes) {
        con.Err(NoCr(question) + L"\n（--yes：继续）\n");
        return true;
    }
    std::wstring answer;
    if (!con.ReadAnswer(NoCr(question) + L" [y/N] ", &answer)) return false;
    answer = plat::Trim(answer);
    return plat::EqualsNoCase(answer, L"y") || plat::EqualsNoCase(answer, L"yes") ||
           answer == L"是";
}

// Reads a password: one line of standard input with --password-stdin,
// otherwise the hidden prompt, twice when `twice`.
bool ReadPassword(const Options& o, bool twice, const std::wstring& label, std::wstring* out,
                  int* exitCode) {
    Console& con = Con();
    if (o.passwordStdin) {
        if (!con.ReadStdinLine(out)) {
            *exitCode =
                Refuse(L"标准输入中没有密码。--password-stdin 需要在标准输入的第一行给出密码。");
            return false;
        }
    } else {
        if (!con.ReadSecret(label, out)) {
            *exitCode =
                Refuse(L"无法读取密码：没有可用的终端。请用 --password-stdin 从标准输入给出密码。");
            return false;
        }
        if (twice && !out->empty()) {
            std::wstring again;
            bool ok = con.ReadSecret(L"确认密码:", &again);
            if (!ok || again != *out) {
                plat::Wipe(again);
                plat::Wipe(*out);
                *exitCode = Refuse(ui::texts::kPasswordsDiffer);
                return false;
            }
            plat::Wipe(again);
        }
    }
    if (out->empty()) {
        *exitCode = Refuse(ui::texts::kEmptyPassword);
        return false;
    }
    return true;
}

// A protected folder opened with its password, as the decrypt window opens it.
struct OpenedStore {
    StoreLocation loc;
    crypto::StoreRecords records;
    std::wstring password;
    ~OpenedStore() {
        records.Wipe();
        plat::Wipe(password);
    }
};

bool FindStoreOrRefuse(const std::wstring& folder, StoreLocation* loc, int* exitCode) {
    if (FindStore(folder, loc)) return true;
    *exitCode = Refuse(L"文件夹" + Q(folder) + L"没有加密（其中没有 ulxjm" + plat::kSep +
                       L"ffffff）。请给出一个已加密的文件夹。");
    return false;
}

void PointGlobalsAt(const StoreLocation& loc) {
    app::AppGlobals& g = app::Globals();
    g.TargetFolder = loc.folder;
    g.FoundDataRel = loc.rootName + plat::kSep + store::kDataFolderName;
    g.FoundParamRel = loc.rootName + plat::kSep + store::kParamFolderName;
    g.StoreDataDir = loc.dataDir;
    g.StoreParamDir = loc.paramDir;
    g.LegacyStore = loc.legacy;
}

bool OpenStore(const Options& o, OpenedStore* s, int* exitCode) {
    std::wstring folder;
    if (!ResolveFolder(o.folder, &folder, exitCode)) return false;
    if (!LockAndSettle(folder, false, exitCode)) return false;
    if (!FindStoreOrRefuse(folder, &s->loc, exitCode)) return false;
    s->records = ReadRecordsReadOnly(s->loc);
    if (!ReadPassword(o, false, L"输入密码:", &s->password, exitCode)) return false;
    const std::wstring& dir = s->loc.paramDir;
    if (s->records.kind == crypto::kKindNormal) {
        if (!crypto::CheckNormalPassword(s->records, dir, s->loc.legacy, s->password)) {
            if (crypto::CheckSecondaryPassword(s->records, s->password))
                *exitCode =
                    Refuse(L"文件夹" + Q(folder) + L"：" + NoCr(crypto::kMsgSecondaryPasswordUse) +
                           L" 请输入文件夹的密码。");
            else
                *exitCode =
                    Refuse(L"文件夹" + Q(folder) + L"：输入的密码不正确。请检查密码后再试。");
            return false;
        }
    } else if (!crypto::CheckStrengthPassword(dir, s->password, s->records.legacyHash)) {
        *exitCode = Refuse(L"文件夹" + Q(folder) + L"：" + crypto::kMsgStrengthPasswordWrong +
                           L"请检查密码后再试。");
        return false;
    }
    // Opening a store brings earlier record names up to date, as the
    // decrypt window does; only after the password was accepted.
    store::MigrateMetadataNames(dir);
    PointGlobalsAt(s->loc);
    return true;
}

// The encrypt window's prompts on the terminal: a refusal is kept for the
// exit message, questions are asked (or answered by --yes).
class CommandPrompts final : public ui::logic::StartPrompts {
  public:
    CommandPrompts(const Options& o, const std::wstring& folder) : o_(o), folder_(folder) {}
    void Message(const std::wstring& text, ui::logic::Icon) override {
        refusal = Q(folder_) + L"：" + text;
    }
    bool AskYesNo(const std::wstring& text) override {
        if (Confirm(o_, Q(folder_) + L"：" + text)) return true;
        refusal =
            Q(folder_) + L"：" + text + L"\n没有加密" + Q(folder_) + L"。确定要加密时请加 --yes。";
        return false;
    }
    void FocusPassword() override {}

    std::wstring refusal;

  private:
    const Options& o_;
    std::wstring folder_;
};

// The folder the system calls its own: the parent of the system folder
// ("C:\Windows" beside "C:\Windows\system32"; "/usr" on posix).
std::wstring WindowsDir() {
    const std::wstring system = plat::WithoutSep(plat::SystemDir());
    const std::wstring parent = plat::ParentWithSep(system);
    return parent.empty() ? L"" : plat::WithoutSep(parent);
}

void StartLog() {
    // The log holds only the latest operation, as after every start.
    const std::wstring log = engine::LogPath();
    if (!log.empty()) (void)plat::Fs().DeleteFile(log);
}

}  // namespace

int Refuse(const std::wstring& message) {
    Con().Err(L"ulxjm: " + NoCr(message) + L"\n");
    return kExitRefused;
}

void InitGlobals() {
    app::AppGlobals& g = app::Globals();
    std::wstring text;
    (void)app::GetOsVersionText(g, plat::GetOsVersion(), &text);
    g.ModulePath.clear();  // the program placed into folders is the Windows one, see encrypt
    g.SystemDir = plat::SystemDir();
    g.StoreDataRel = store::DataRel();
    g.StoreParamRel = store::ParamRel();
    g.LogFilePath = engine::DefaultLogPath();
}

std::wstring FindWindowsProgram(const std::wstring& selfPath) {
    plat::FileSystem& fs = plat::Fs();
    std::wstring dir = plat::WithoutSep(plat::ParentWithSep(selfPath));
    const std::wstring beside = plat::JoinPath(dir, store::kExeName);
    if (fs.IsFile(beside) && !plat::EqualsNoCase(beside, selfPath)) return beside;
    // build/<preset>/src/cli/ulxjm finds build/win/src/ui/ulxjm.exe.
    const std::wstring rel = std::wstring(L"win") + plat::kSep + L"src" + plat::kSep + L"ui" +
                             plat::kSep + store::kExeName;
    for (int up = 0; up < 4 && !dir.empty(); ++up) {
        dir = plat::WithoutSep(plat::ParentWithSep(dir));
        if (dir.empty()) break;
        const std::wstring candidate = plat::JoinPath(dir, rel);
        if (fs.IsFile(candidate)) return candidate;
    }
    return L"";
}

// ---------------------------------------------------------------- encrypt

int ResumeEncrypt(const Options& o, const std::wstring& folder);

int RunEncrypt(const Options& o) {
    int code = 0;
    std::wstring folder;
    if (!ResolveFolder(o.folder, &folder, &code)) return code;
    if (!LockAndSettle(folder, false, &code)) return code;

    int kindText = -1;
    if (o.strength == L"normal") kindText = 0;
    if (o.strength == L"higher") kindText = 1;
    if (o.strength == L"highest") kindText = 2;
    if (kindText < 0)
        return Refuse(L"未知的强度" + Q(o.strength) + L"。请用 normal、higher 或 highest。");
    if (o.secondPassword && kindText != 0)
        return Refuse(NoCr(crypto::kMsgSecondaryPasswordUse) +
                      L" 请去掉 --second-password 或用 normal。");

    std::wstring exe;
    // The program may be reached through a link (an installed copy, say):
    // the copy placed into the folder is made from where the link leads.
    if (!o.exe.empty()) {
        exe = plat::FollowLink(AbsolutePath(o.exe));
        if (!plat::Fs().IsFile(exe))
            return Refuse(L"找不到 --exe 指定的程序" + Q(exe) +
                          L"。请给出 Windows 版 ulxjm.exe 的路径。");
    } else {
        exe = FindWindowsProgram(plat::ModulePath());
        if (!exe.empty()) exe = plat::FollowLink(exe);
    }

    // The encrypt window's checks, in its order.
    StoreLocation existing;
    if (FindStore(folder, &existing)) {
        if (Session().report.pendingStrength) return ResumeEncrypt(o, folder);
        return Refuse(Q(folder) + L"：" + ui::texts::kAlreadyEncrypted);
    }
    const std::wstring placed = plat::JoinPath(folder, store::kExeName);
    CommandPrompts prompts(o, folder);
    bool unhide = false;
    if (!ui::logic::CheckFolder(folder, ui::logic::SystemPlaces::Current(WindowsDir()), prompts,
                                &unhide))
        return Refuse(prompts.refusal);

    std::wstring password, second;
    if (!ReadPassword(o, true, L"输入密码:", &password, &code)) return code;
    if (!ui::logic::CheckPasswords(password, password, kindText != 0, prompts)) {
        plat::Wipe(password);
        return Refuse(prompts.refusal);
    }
    if (o.secondPassword) {
        bool ok = o.passwordStdin ? Con().ReadStdinLine(&second)
                                  : Con().ReadSecret(L"二级密码:", &second);
        if (!ok || second.empty()) {
            plat::Wipe(password);
            return Refuse(L"没有读到二级密码。--second-password 需要再输入一行二级密码。");
        }
        if (!plat::FitsAnsi(second)) {
            plat::Wipe(password);
            plat::Wipe(second);
            return Refuse(Q(folder) + L"：二级" + ui::texts::kPasswordNotAnsi);
        }
    }
    // Only now does anything change on disk.
    if (unhide && !ui::logic::Unhide(folder, prompts)) {
        plat::Wipe(password);
        plat::Wipe(second);
        return Refuse(prompts.refusal);
    }
    StartLog();
    std::wstring mail = o.mailGiven ? o.mail : app::Settings::MailAddress();
    app::Globals().TargetFolder = folder;

    ConsoleUi ui;
    static const int kDisplay[] = {engine::kKindNormalEncrypt, engine::kKindHigherEncrypt,
                                   engine::kKindHighestEncrypt};
    engine::PassSummary summary;
    PassCounts c = RunPass(kDisplay[kindText], engine::kOpEncrypt, [&] {
        summary = engine::EncryptFolder(folder, password, mail, kindText, ui);
    });
    plat::Wipe(password);
    const bool started = summary.started;
    if (!started) {
        plat::Wipe(second);
        // Nothing was changed: the store was taken away again; so is the
        // hidden mark's change.
        if (unhide) {
            const uint32_t a = plat::Fs().GetAttributes(folder);
            (void)plat::Fs().SetAttributes(folder, a | uint32_t(plat::kAttrHidden));
        }
        std::wstring why;
        for (const auto& line : engine::LogLinesOf(engine::LogPath())) why += L"\n  " + line;
        return Refuse(L"文件夹" + Q(folder) +
                      L"：建立基本目录失败，文件夹没有改变。请检查是否有写入权限和足够的空间。" +
                      why);
    }
    if (!second.empty()) {
        if (!store::WriteSecondPassword(folder, second)) {
            Con().Err(L"ulxjm: 二级密码没有写入" + Q(store::ParamDir(folder)) + L"。\n");
            ++c.moveFailed;
        }
        plat::Wipe(second);
    }

    int result = PrintSummary(c, L"加密", kindText != 0 ? L"加密" : L"");
    if (exe.empty()) {
        Con().Err(
            L"ulxjm: 没有找到 Windows 版 ulxjm.exe，文件夹" + Q(folder) +
            L"中没有放入 ulxjm.exe。Windows 用户需要把 ulxjm.exe 复制到该文件夹后运行它来解密；"
            L"也可以用 --exe 指定它的路径。\n");
    } else if (!plat::EqualsNoCase(exe, placed)) {
        if (plat::Fs().Copy(exe, placed, false)) {
            Con().Err(L"已放入 " + placed + L"（来自 " + exe + L"）。\n");
        } else {
            Con().Err(L"ulxjm: 不能把 " + exe + L" 复制为 " + placed + L"：" +
                      Sentence(engine::LastErrorText()) + L"请手动复制。\n");
            result = kExitFailures;
        }
    }
    return result;
}

// Finishes an encryption that was interrupted after its store was made.
int ResumeEncrypt(const Options& o, const std::wstring& folder) {
    int code = 0;
    Con().Err(L"文件夹" + Q(folder) + L"：继续完成上次没有完成的加密。\n");
    std::wstring password;
    if (!ReadPassword(o, false, L"输入原来的密码:", &password, &code)) return code;
    StartLog();
    ConsoleUi ui;
    const int kind = Session().report.pendingStrengthKind == 1 ? engine::kKindHigherEncrypt
                                                               : engine::kKindHighestEncrypt;
    engine::PassSummary summary;
    PassCounts c = RunPass(kind, engine::kOpEncrypt,
                           [&] { summary = engine::ResumeEncryption(folder, password, ui); });
    plat::Wipe(password);
    if (!summary.started)
        return Refuse(L"文件夹" + Q(folder) + L"：" + crypto::kMsgStrengthPasswordWrong +
                      L"请检查密码后再试。");
    return PrintSummary(c, L"加密", L"加密");
}

// ---------------------------------------------------------------- status

int RunStatus(const Options& o) {
    int code = 0;
    std::wstring folder;
    if (!ResolveFolder(o.folder, &folder, &code)) return code;
    if (!LockAndSettle(folder, true, &code)) return code;
    Console& con = Con();
    StoreLocation loc;
    con.Out(L"文件夹: " + folder + L"\n");
    if (Session().busy)
        con.Out(L"注意: 该文件夹正在被另一个岚栩只读加密处理，以下内容可能正在变化。\n");
    if (!FindStore(folder, &loc)) {
        con.Out(L"状态: 未加密\n");
        return kExitOk;
    }
    crypto::StoreRecords rec = ReadRecordsReadOnly(loc);
    con.Out(L"状态: 已加密\n");
    con.Out(L"存储: " + loc.rootName + (loc.legacy ? L"（旧版本的存储）" : L"") + L"\n");
    con.Out(L"强度: " + KindName(rec.kind) +
            (rec.kindLine.empty() ? L"（没有类型记录）" : L"（" + rec.kindLine + L"）") + L"\n");
    std::wstring names;
    for (const auto& n : RecordFilesPresent(loc.paramDir))
        names += (names.empty() ? L"" : L", ") + n;
    con.Out(L"记录: " + (names.empty() ? std::wstring(L"无") : names) + L"\n");
    if (!rec.mail.empty()) con.Out(L"邮箱: " + rec.mail + L"\n");
    con.Out(std::wstring(L"二级密码: ") + (rec.second.empty() ? L"无" : L"有") + L"\n");
    const StoreCounts c = CountStore(loc.dataDir);
    con.Out(L"对象: " + std::to_wstring(c.folders) + L" 个文件夹, " + std::to_wstring(c.files) +
            L" 个文件, 共 " + SizeText(c.bytes) + L"\n");
    con.Out(L"强度加密的文件: " + std::to_wstring(c.strengthFiles) + L"\n");
    if (c.workingItems) con.Out(L"工作区中的文件: " + std::to_wstring(c.workingItems) + L"\n");
    if (Session().report.pendingStrength)
        con.Out(L"加密没有完成: 存储中还有文件没有强度加密，请再次运行 ulxjm encrypt。\n");
    if (!Session().report.ok()) con.Out(L"恢复: 上次中断的操作没能恢复，详见日志。\n");
    if (c.unreadable) con.Out(L"无法读取的文件夹: " + std::to_wstring(c.unreadable) + L"\n");
    con.Out(std::wstring(L"ulxjm.exe: ") +
            (plat::Fs().IsFile(plat::JoinPath(folder, store::kExeName)) ? L"有" : L"无") + L"\n");
    rec.Wipe();
    return Session().report.pendingStrength || !Session().report.ok() || c.unreadable
               ? kExitFailures
               : kExitOk;
}

// ---------------------------------------------------------------- list

int RunList(const Options& o) {
    int code = 0;
    std::wstring folder;
    if (!ResolveFolder(o.folder, &folder, &code)) return code;
    if (!LockAndSettle(folder, true, &code)) return code;
    StoreLocation loc;
    if (!FindStoreOrRefuse(folder, &loc, &code)) return code;
    const int column = ColumnByName(o.sort);
    if (column < 0)
        return Refuse(L"不能按" + Q(o.sort) +
                      L"排序。请用 name、type、size、date、flag 或 state。");
    std::wstring dir = loc.dataDir;
    std::wstring working =
        plat::JoinPath(loc.dataDir, std::wstring(store::kWorkingFolderName) + plat::kSep +
                                        store::kNotDeleteFolderName);
    const bool atRoot = o.subPath.empty() || AbsolutePath(L"/" + o.subPath).size() <= 1;
    if (!atRoot) {
        std::wstring stored = StoredItemPath(loc, o.subPath);
        if (stored.empty() || !plat::Fs().IsDirectory(stored))
            return Refuse(L"文件夹" + Q(folder) + L"的存储中没有文件夹" + Q(o.subPath) +
                          L"。请用 ulxjm list 查看有哪些文件夹。");
        working = plat::JoinPath(working, stored.substr(loc.dataDir.size() + 1));
        dir = stored;
    }
    if (!plat::Fs().IsDirectory(working)) working.clear();
    std::vector<ListRow> rows = ListFolder(dir, atRoot, working);
    SortRows(rows, column, !o.descending);
    if (o.json) {
        Con().Out(RowsToJson(rows));
        return kExitOk;
    }
    Con().Out(RowsToTable(rows));
    int files = 0, folders = 0;
    uint64_t bytes = 0;
    for (const auto& r : rows) {
        if (r.folder) {
            ++folders;
        } else {
            ++files;
            bytes += r.bytes;
        }
    }
    Con().Out(std::to_wstring(folders) + L" 个文件夹, " + std::to_wstring(files) + L" 个文件, 共 " +
              SizeText(bytes) + L"\n");
    return kExitOk;
}

// ---------------------------------------------------------------- extract / take

int RunExtract(const Options& o, bool take) {
    int code = 0;
    std::wstring folder;
    if (!ResolveFolder(o.folder, &folder, &code)) return code;
    if (!LockAndSettle(folder, false, &code)) return code;
    StoreLocation loc;
    if (!FindStoreOrRefuse(folder, &loc, &code)) return code;
    if (o.to.empty()) return Refuse(L"没有给出目标文件夹。请用 --to 给出。");
    const std::wstring dest = AbsolutePath(o.to);
    if (plat::Fs().IsFile(dest))
        return Refuse(Q(dest) + L"是一个文件，不是文件夹。请给出目标文件夹。");
    const std::wstring storeRoot = plat::WithSep(plat::JoinPath(folder, loc.rootName));
    if (plat::StartsWithNoCase(plat::WithSep(dest), storeRoot))
        return Refuse(L"目标文件夹" + Q(dest) + L"在存储之中。请选择存储以外的文件夹。");

    // Items grouped by their folder in the store: the browse window works on
    // one folder at a time, and copies mirror what lies below that folder.
    std::map<std::wstring, std::vector<std::wstring>> groups;
    for (const auto& item : o.items) {
        const std::wstring stored = StoredItemPath(loc, item);
        if (stored.empty())
            return Refuse(L"文件夹" + Q(folder) + L"的存储中没有" + Q(item) +
                          L"。请用 ulxjm list 查看其中的名字。");
        const std::wstring rel = stored.substr(loc.dataDir.size() + 1);
        const std::wstring parent = plat::WithoutSep(plat::ParentWithSep(rel));
        groups[parent == rel ? L"" : parent].push_back(plat::LeafName(rel));
    }

    OpenedStore s;
    if (!OpenStore(o, &s, &code)) return code;
    if (!plat::Fs().IsDirectory(dest) && !engine::MakeDirs(dest))
        return Refuse(L"不能建立目标文件夹" + Q(dest) + L"：" + engine::LastErrorText());
    StartLog();
    ConsoleUi ui;
    const bool strength = s.records.kind != crypto::kKindNormal;
    const int display = s.records.kind == crypto::kKindHigher    ? engine::kKindHigherDecrypt
                        : s.records.kind == crypto::kKindHighest ? engine::kKindHighestDecrypt
                                                                 : engine::kKindNormalDecrypt;
    PassCounts total;
    for (const auto& [sub, names] : groups) {
        engine::DecryptJob job;
        job.root = folder;
        job.items = names;
        job.password = s.password;
        job.destination = dest;
        job.jobMode = take ? 2 : 1;
        job.subPath = sub;
        job.legacyHash = s.records.legacyHash;
        job.dataFolder = loc.dataDir;
        job.paramFolder = loc.paramDir;
        PassCounts c = RunPass(display, engine::kOpBrowse, [&] {
            engine::CCryptAndDe_old pass(ui);
            (void)pass.RunDecryption(job);
        });
        plat::Wipe(job.password);
        total.total += c.total;
        total.handled += c.handled;
        total.moved += c.moved;
        total.moveFailed += c.moveFailed;
        total.renamed += c.renamed;
        total.strengthDone += c.strengthDone;
        total.strengthSkipped += c.strengthSkipped;
        total.cancelled = total.cancelled || c.cancelled;
    }
    return PrintSummary(total, take ? L"取出" : L"解密复制", strength ? L"解密" : L"");
}

// ---------------------------------------------------------------- add

int RunAdd(const Options& o) {
    int code = 0;
    std::wstring folder;
    if (!ResolveFolder(o.folder, &folder, &code)) return code;
    if (!LockAndSettle(folder, false, &code)) return code;
    StoreLocation loc;
    if (!FindStoreOrRefuse(folder, &loc, &code)) return code;
    if (o.items.empty()) return Refuse(L"没有给出要移入的文件。");

    // Sources grouped by their folder: one pass moves the items of one folder.
    std::map<std::wstring, std::vector<std::wstring>> groups;
    const std::wstring storeRoot = plat::WithSep(plat::JoinPath(folder, loc.rootName));
    for (const auto& item : o.items) {
        const std::wstring path = AbsolutePath(item);
        if (!plat::Fs().Exists(path))
            return Refuse(L"找不到" + Q(path) + L"。请检查路径是否正确。");
        if (plat::StartsWithNoCase(storeRoot, plat::WithSep(path)) ||
            plat::StartsWithNoCase(plat::WithSep(path), storeRoot))
            return Refuse(Q(path) + L"是加密文件夹本身或它的存储，不能移入。");
        const std::wstring parent = plat::WithoutSep(plat::ParentWithSep(path));
        groups[parent].push_back(plat::LeafName(path));
    }
    std::wstring sub;
    if (!o.into.empty()) {
        const std::wstring stored = StoredItemPath(loc, o.into);
        if (stored.empty() || !plat::Fs().IsDirectory(stored))
            return Refuse(L"文件夹" + Q(folder) + L"的存储中没有文件夹" + Q(o.into) +
                          L"。请用 ulxjm list 查看有哪些文件夹。");
        sub = stored.substr(loc.dataDir.size() + 1);
    }

    OpenedStore s;
    if (!OpenStore(o, &s, &code)) return code;
    if (loc.legacy)
        return Refuse(Q(folder) + L"是旧版本的存储，不能移入。请先完全解密再重新加密。");
    const int kind = s.records.kind;
    StartLog();

    ConsoleUi ui;
    PassCounts total;
    for (const auto& [parent, names] : groups) {
        PassCounts c;
        if (kind == crypto::kKindNormal) {
            engine::HideJob job;
            job.root = parent;
            job.items = names;
            job.password = s.password;
            job.kindText = store::kKindNormal;
            job.mode = 2;
            job.storeFolder = folder;
            job.subPath = sub;
            c = RunPass(engine::kKindNormalEncrypt, engine::kOpBrowse, [&] {
                engine::CJiaMiWeiZhuang pass(ui);
                (void)pass.Run(job);
            });
            plat::Wipe(job.password);
        } else {
            engine::StrengthJob job;
            job.root = parent;
            job.items = names;
            job.password = s.password;
            job.kindText = kind == crypto::kKindHigher ? store::kKindHigher : store::kKindHighest;
            job.jobMode = 2;
            job.storeFolder = folder;
            job.subPath = sub;
            const int display = kind == crypto::kKindHigher ? engine::kKindHigherEncrypt
                                                            : engine::kKindHighestEncrypt;
            c = RunPass(display, engine::kOpBrowse, [&] {
                engine::CCryptAndDe_old pass(ui);
                (void)pass.RunEncryption(job);
            });
            plat::Wipe(job.password);
        }
        total.total += c.total;
        total.handled += c.handled;
        total.moved += c.moved;
        total.moveFailed += c.moveFailed;
        total.strengthDone += c.strengthDone;
        total.strengthSkipped += c.strengthSkipped;
        total.cancelled = total.cancelled || c.cancelled;
    }
    return PrintSummary(total, L"移入", kind != crypto::kKindNormal ? L"加密" : L"");
}

// ---------------------------------------------------------------- decrypt

int RunDecrypt(const Options& o) {
    int code = 0;
    OpenedStore s;
    if (!OpenStore(o, &s, &code)) return code;
    StartLog();
    ConsoleUi ui;
    const int kind = s.records.kind;
    PassCounts c;
    if (kind == crypto::kKindNormal) {
        c = RunPass(engine::kKindNormalDecrypt, engine::kOpFullDecrypt, [&] {
            engine::RestorePass pass(ui);
            pass.SetFolder(s.loc.folder, s.loc.dataDir, s.loc.paramDir);
            pass.Run();
        });
    } else {
        engine::DecryptJob job;
        job.root = s.loc.folder;
        job.password = s.password;
        job.jobMode = 2;
        job.legacyHash = s.records.legacyHash;
        job.dataFolder = s.loc.dataDir;
        job.paramFolder = s.loc.paramDir;
        const int display =
            kind == crypto::kKindHigher ? engine::kKindHigherDecrypt : engine::kKindHighestDecrypt;
        c = RunPass(display, engine::kOpFullDecrypt, [&] {
            engine::CCryptAndDe_old pass(ui);
            (void)pass.RunDecryption(job);
        });
        plat::Wipe(job.password);
    }
    int result = PrintSummary(c, L"解密", kind != crypto::kKindNormal ? L"解密" : L"");
    if (result == kExitOk && plat::Fs().IsDirectory(s.loc.dataDir)) {
        Con().Err(L"ulxjm: 存储" + Q(s.loc.dataDir) + L"没有完全移除。请查看其中剩下的内容。\n");
        result = kExitFailures;
    }
    return result;
}

// ---------------------------------------------------------------- verify

namespace {

struct VerifyTally {
    int checked = 0;
    int plain = 0;
    std::vector<std::pair<std::wstring, std::wstring>> failures;  // path, reason
};

std::wstring CheckStrengthFile(const std::wstring& path, const std::wstring& password,
                               bool legacyHash) {
    auto file = plat::Fs().Open(path, plat::Access::Read, plat::Disposition::OpenExisting);
    if (!file) return L" 不能打开：" + engine::LastErrorText();
    uint64_t size = 0;
    if (!file->Size(&size)) return crypto::kReasonRead;
    if (crypto::ClassifyName(path) == crypto::kClassLegacy) {
        if (size < crypto::kLegacyTrailerSize) return L" 文件太短，不是强度加密的格式";
        std::string tail(crypto::kLegacyTrailerSize, '\0');
        if (!file->Seek(int64_t(size - crypto::kLegacyTrailerSize), 0) ||
            !file->ReadExact(tail.data(), uint32_t(tail.size())))
            return crypto::kReasonRead;
        if (!plat::EqualsNoCase(plat::FromAnsi(tail.substr(9)),
                                plat::FromAnsi(crypto::kLegacyMarker)))
            return L" 没有加密信息，不是强度加密的格式";
        crypto::Rc4 rc4;
        crypto::InitLegacyRc4(rc4, password, legacyHash);
        std::string word = tail.substr(0, 8);
        rc4.Process(reinterpret_cast<uint8_t*>(word.data()), word.size());
        if (word.compare(0, 7, crypto::kLegacyCheckWord) != 0) return crypto::kReasonWrongPassword;
        if (word[7] != '1' && word[7] != '9') return L" " + NoCr(crypto::kMsgLegacyUnknownMode);
        return L"";
    }
    const std::optional<crypto::Trailer> t = crypto::ReadTrailer(*file);
    if (!t || t->maker != crypto::kMakerWord) return L" 没有加密信息，不是强度加密的格式";
    if (!crypto::VerifyFile(*file, password)) return crypto::kReasonWrongPassword;
    if (t->mode != crypto::kModeFirstBlock && t->mode != crypto::kModeWhole)
        return L" " + NoCr(crypto::kMsgLegacyUnknownMode);
    if (t->plainLength + t->length != size) return L" 文件长度与加密信息不符，文件可能不完整";
    return L"";
}

void VerifyWalk(const std::wstring& dir, const std::wstring& rel, const OpenedStore& s,
                VerifyTally* tally, bool top) {
    std::vector<plat::DirEntry> entries;
    if (!plat::Fs().ListDir(dir, &entries)) {
        tally->failures.push_back(
            {rel.empty() ? dir : rel, L" 不能列出：" + engine::LastErrorText()});
        return;
    }
    for (const auto& e : entries) {
        const std::wstring path = plat::JoinPath(dir, e.name);
        const std::wstring r = rel.empty() ? e.name : rel + plat::kSep + e.name;
        if (e.IsDirectory() && !(e.attributes & plat::kAttrReparsePoint)) {
            if (top && plat::EqualsNoCase(e.name, store::kWorkingFolderName)) continue;
            VerifyWalk(path, r, s, tally, false);
            continue;
        }
        // A link is never followed, and was never encrypted.
        if ((e.attributes & plat::kAttrReparsePoint) ||
            crypto::ClassifyName(e.name) == crypto::kClassPlain) {
            ++tally->plain;
            continue;
        }
        ++tally->checked;
        engine::State().SetCurrentObject(path);
        std::wstring reason = CheckStrengthFile(path, s.password, s.records.legacyHash);
        if (!reason.empty()) tally->failures.push_back({r, reason});
    }
}

}  // namespace

int RunVerify(const Options& o) {
    int code = 0;
    OpenedStore s;
    if (!OpenStore(o, &s, &code)) return code;
    Console& con = Con();
    con.Err(L"密码正确。\n");
    VerifyTally tally;
    VerifyWalk(s.loc.dataDir, L"", s, &tally, true);
    for (const auto& [path, reason] : tally.failures) con.Out(path + reason + L"\n");
    con.Out(L"校验完成：" + std::to_wstring(tally.checked) + L" 个强度加密的文件，" +
            std::to_wstring(tally.checked - int(tally.failures.size())) + L" 个可以解密，" +
            std::to_wstring(tally.failures.size()) + L" 个会失败；" + std::to_wstring(tally.plain) +
            L" 个文件没有强度加密。\n");
    // Plain files a strength encryption still owes are not a sound store.
    const bool pending = Session().report.pendingStrength;
    if (pending) con.Out(L"加密没有完成: 存储中还有文件没有强度加密，请再次运行 ulxjm encrypt。\n");
    return tally.failures.empty() && !pending ? kExitOk : kExitFailures;
}

}  // namespace cli
