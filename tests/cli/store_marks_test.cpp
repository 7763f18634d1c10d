// A drive that keeps no hidden/system marks (exFAT under a Linux driver
// without the FAT ioctls): the store is made, nothing is lost, and the
// command says that Windows users will see it and ends with exit code 1.
#include <gtest/gtest.h>

#include "cli/commands.h"
#include "cli/console.h"
#include "engine/engine.h"
#include "engine/engine_fixture.h"
#include "engine/hooked_fs.h"
#include "store/layout.h"

namespace {

using enginetest::FsOp;

class CapturingConsole : public cli::Console {
  public:
    std::wstring err;
    std::wstring input;
    void Out(const std::wstring&) override {}
    void Err(const std::wstring& text) override { err += text; }
    bool StdinIsTerminal() override { return false; }
    bool StderrIsTerminal() override { return false; }
    int Width() override { return 80; }
    bool ReadSecret(const std::wstring&, std::wstring*) override { return false; }
    bool ReadAnswer(const std::wstring&, std::wstring*) override { return false; }
    bool ReadStdinLine(std::wstring* out) override {
        if (input.empty()) return false;
        *out = input;
        input.clear();
        return true;
    }
};

class StoreMarksTest : public enginetest::EngineTest {};

TEST_F(StoreMarksTest, AStoreTheDriveCannotHideIsReportedAndKept) {
    const std::wstring exe = Path(L"ulxjm.exe");
    enginetest::WriteFile(exe, "MZ");
    enginetest::MakeDir(plat::JoinPath(folder_, L"文档"));
    enginetest::WriteFile(plat::JoinPath(folder_, L"文档/报告.txt"), std::string(3000, 'r'));
    enginetest::WriteFile(plat::JoinPath(folder_, L"a.bin"), std::string(2000, 'a'));
    const auto before = enginetest::Snapshot(folder_);

    // What the exFAT driver does: every hidden/system mark is refused.
    enginetest::HookedFs fs;
    fs.hook = [&](FsOp op, const std::wstring& path) -> uint32_t {
        const std::wstring leaf = plat::LeafName(plat::WithoutSep(path));
        const bool marked = plat::EqualsNoCase(plat::WithoutSep(path), plat::WithoutSep(folder_)) ||
                            leaf == store::kStoreRoot || leaf == store::kDesktopIni;
        return op == FsOp::SetAttributes && marked ? uint32_t{plat::kErrNotSupported} : 0u;
    };
    for (const wchar_t* strength : {L"normal", L"highest"}) {
        SCOPED_TRACE(plat::ToUtf8(strength));
        CapturingConsole con;
        con.input = L"pw";
        cli::Options o;
        o.folder = folder_;
        o.strength = strength;
        o.passwordStdin = true;
        o.exe = exe;
        int code;
        {
            cli::ScopedConsole useConsole(con);
            plat::ScopedFileSystem useFs(fs);
            code = cli::RunEncrypt(o);
        }
        EXPECT_EQ(code, cli::kExitFailures) << plat::ToUtf8(con.err);
        EXPECT_NE(con.err.find(L"该磁盘不能隐藏加密存储区，Windows 用户将能看到它。"),
                  std::wstring::npos)
            << plat::ToUtf8(con.err);
        EXPECT_NE(con.err.find(L"不能隐藏加密存储区，原因如下"), std::wstring::npos)
            << "the log's reason is shown";
        EXPECT_TRUE(store::IsEncryptedFolder(folder_));
        EXPECT_EQ(enginetest::ReadFile(plat::JoinPath(folder_, L"a.bin")), "<missing>");

        auto dec = engine::DecryptFolder(folder_, L"pw", ui_);
        EXPECT_TRUE(dec.ok());
        (void)plat::Fs().DeleteFile(plat::JoinPath(folder_, store::kExeName));
        (void)plat::Fs().DeleteFile(plat::JoinPath(folder_, store::kReadmeTxt));
        EXPECT_TRUE(enginetest::SameTree(before, enginetest::Snapshot(folder_)));
    }
}

}  // namespace
