// ulxjm: protects, lists, reads and restores protected folders from a
// terminal or a script. Options are parsed by CLI11; passwords never come
// from the command line.
#include <CLI/CLI.hpp>

#include "app/globals.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "platform/env.h"
#include "platform/text.h"

namespace {

std::wstring W(const std::string& s) {
    return plat::FromUtf8(s);
}

std::vector<std::wstring> W(const std::vector<std::string>& v) {
    std::vector<std::wstring> out;
    for (const auto& s : v) out.push_back(W(s));
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    // Passwords pass through this process's memory: no crash may write it out.
    plat::KeepSecretsOutOfDumps();
    cli::InitGlobals();
    cli::InstallInterruptHandler();

    CLI::App app{"ulxjm: 岚栩只读加密的命令行程序（加密、查看、取出、解密文件夹）", "ulxjm"};
    app.require_subcommand(1);
    app.set_help_all_flag("--help-all", "所有命令的帮助");
    app.set_version_flag("--version,-V", "ulxjm " + std::to_string(app::kVersion), "显示版本号");

    std::string folder, sub, to, into, strength = "normal", mail, exe, sort = "name", point;
    std::vector<std::string> items;
    bool passwordStdin = false, yes = false, json = false, desc = false, second = false,
         foreground = false;

    auto addPassword = [&](CLI::App* c) {
        c->add_flag("--password-stdin", passwordStdin, "从标准输入读一行作为密码（不提示）");
    };

    CLI::App* enc = app.add_subcommand("encrypt", "加密文件夹");
    enc->add_option("DIR", folder, "要加密的文件夹")->required();
    enc->add_option("--strength", strength, "强度：normal（普通）、higher（较高）、highest（最高）")
        ->check(CLI::IsMember({"normal", "higher", "highest"}));
    CLI::Option* mailOpt = enc->add_option("--mail", mail, "找回密码用的邮箱");
    enc->add_flag("--second-password", second, "再设置一个只能打开文件的二级密码（仅普通强度）");
    enc->add_option("--exe", exe, "放入文件夹的 Windows 版 ulxjm.exe");
    enc->add_flag("--yes,-y", yes, "需要确认时回答“是”");
    addPassword(enc);

    CLI::App* st = app.add_subcommand("status", "显示文件夹的加密状态");
    st->add_option("DIR", folder, "文件夹")->required();

    CLI::App* ls = app.add_subcommand("list", "列出加密文件夹中的内容");
    ls->add_option("DIR", folder, "加密的文件夹")->required();
    ls->add_option("SUBPATH", sub, "存储中的子文件夹");
    ls->add_flag("--json", json, "以 JSON 输出");
    ls->add_option("--sort", sort, "排序列：name、type、size、date、flag、state");
    ls->add_flag("--desc", desc, "降序");

    CLI::App* ex = app.add_subcommand("extract", "把文件解密复制到目标文件夹（存储中保留）");
    CLI::App* tk = app.add_subcommand("take", "把文件解密并移出存储到目标文件夹");
    for (CLI::App* c : {ex, tk}) {
        c->add_option("DIR", folder, "加密的文件夹")->required();
        c->add_option("ITEM", items, "存储中的文件或文件夹（list 显示的名字）")->required();
        c->add_option("--to", to, "目标文件夹")->required();
        addPassword(c);
    }

    CLI::App* add = app.add_subcommand("add", "把文件移入加密文件夹（按存储的强度加密）");
    add->add_option("DIR", folder, "加密的文件夹")->required();
    add->add_option("FILE", items, "要移入的文件或文件夹")->required();
    add->add_option("--into", into, "存储中的子文件夹");
    addPassword(add);

    CLI::App* dec = app.add_subcommand("decrypt", "完全解密文件夹");
    dec->add_option("DIR", folder, "加密的文件夹")->required();
    addPassword(dec);

    CLI::App* ver = app.add_subcommand("verify", "检查密码和每个强度加密的文件（不写入任何东西）");
    ver->add_option("DIR", folder, "加密的文件夹")->required();
    addPassword(ver);

    CLI::App* mnt = app.add_subcommand(
        "mount", "把加密文件夹只读挂载到一个空文件夹（读取时解密，不写入任何东西）");
    mnt->add_option("DIR", folder, "加密的文件夹")->required();
    mnt->add_option("MOUNTPOINT", point, "挂载点（一个空文件夹）")->required();
    mnt->add_flag("--foreground,-f", foreground, "留在前台，直到卸载或按 Ctrl+C");
    addPassword(mnt);

    CLI::App* umnt = app.add_subcommand("umount", "卸载 ulxjm mount 挂载的文件夹");
    umnt->add_option("MOUNTPOINT", point, "挂载点")->required();

    try {
        std::vector<std::string> args = cli::Arguments(argc, argv);
        std::reverse(args.begin(), args.end());
        app.parse(args);
    } catch (const CLI::CallForHelp& e) {
        cli::Con().Out(W(app.help()));
        return cli::kExitOk;
    } catch (const CLI::CallForAllHelp& e) {
        cli::Con().Out(W(app.help("", CLI::AppFormatMode::All)));
        return cli::kExitOk;
    } catch (const CLI::CallForVersion& e) {
        cli::Con().Out(W(e.what()) + L"\n");
        return cli::kExitOk;
    } catch (const CLI::ParseError& e) {
        std::string help;
        for (CLI::App* c : app.get_subcommands()) help = c->get_name();
        cli::Con().Err(L"ulxjm: " + W(e.what()) + L"\n请用 ulxjm " + W(help) +
                       (help.empty() ? L"" : L" ") + L"--help 查看用法。\n");
        return cli::kExitRefused;
    }

    cli::Options o;
    o.folder = W(folder);
    o.subPath = W(sub);
    o.items = W(items);
    o.to = W(to);
    o.into = W(into);
    o.strength = W(strength);
    o.mail = W(mail);
    o.mailGiven = mailOpt->count() > 0;
    o.secondPassword = second;
    o.exe = W(exe);
    o.passwordStdin = passwordStdin;
    o.yes = yes;
    o.json = json;
    o.sort = W(sort);
    o.descending = desc;
    o.mountPoint = W(point);
    o.foreground = foreground;

    if (enc->parsed()) return cli::RunEncrypt(o);
    if (st->parsed()) return cli::RunStatus(o);
    if (ls->parsed()) return cli::RunList(o);
    if (ex->parsed()) return cli::RunExtract(o, false);
    if (tk->parsed()) return cli::RunExtract(o, true);
    if (add->parsed()) return cli::RunAdd(o);
    if (dec->parsed()) return cli::RunDecrypt(o);
    if (ver->parsed()) return cli::RunVerify(o);
    if (mnt->parsed()) return cli::RunMount(o);
    if (umnt->parsed()) return cli::RunUmount(o);
    return cli::kExitRefused;
}
