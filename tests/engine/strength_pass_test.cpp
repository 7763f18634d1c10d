// Strength encryption and decryption over real temporary folders.
#include "engine/strength_pass.h"

#include <gtest/gtest.h>

#include "app/settings_keys.h"
#include "crypto/content_cipher.h"
#include "engine/engine.h"
#include "engine/engine_fixture.h"
#include "engine/hooked_fs.h"
#include "engine/progress_model.h"
#include "store/layout.h"

namespace enginetest {
namespace {

class StrengthPassTest : public EngineTest {
  protected:
    void Fill() {
        WriteFile(plat::JoinPath(folder_, L"empty.bin"), "");
        WriteFile(plat::JoinPath(folder_, L"b1023.bin"), Bytes(1023, 1));
        WriteFile(plat::JoinPath(folder_, L"b1024.dat"), Bytes(1024, 2));
        WriteFile(plat::JoinPath(folder_, L"b1025.jpg"), Bytes(1025, 3));
        WriteFile(plat::JoinPath(folder_, L"notes.TXT"), Bytes(3000, 4));
        MakeDir(plat::JoinPath(folder_, L"相册"));
        MakeDir(plat::JoinPath(folder_, L"相册/2020.v[1]"));
        WriteFile(plat::JoinPath(folder_, L"相册/2020.v[1]/deep.html"), Bytes(2049, 5));
        WriteFile(plat::JoinPath(folder_, L"相册/a.b.c"), Bytes(10, 6));
    }
    static std::string Bytes(size_t n, int seed) {
        std::string s(n, '\0');
        for (size_t i = 0; i < n; ++i) s[i] = char((i * 131 + seed * 17) & 0xFF);
        return s;
    }
    std::wstring Data(const std::wstring& rel) const {
        return plat::JoinPath(store::DataDir(folder_), rel);
    }
    std::wstring Param(const std::wstring& rel) const {
        return plat::JoinPath(store::ParamDir(folder_), rel);
    }
    std::map<std::wstring, std::string> Content() const {
        auto m = Snapshot(folder_);
        m.erase(L"ulxjm.exe");
        return m;
    }
    std::wstring Marker() {
        return plat::UserSettings().GetWinIniString(app::kWinIniSection, app::WinIniKeys::Error,
                                                    L"<none>");
    }
};

TEST_F(StrengthPassTest, HighestStrengthRoundTrip) {
    Fill();
    const auto before = Content();
    auto enc = engine::EncryptFolder(folder_, L"密码pw", L"me@example.com", 2, ui_);
    EXPECT_TRUE(enc.ok());
    EXPECT_EQ(7, enc.total);
    EXPECT_EQ(7, enc.strengthDone);
    // Every file is in the store under its suffixed name, none in plain.
    EXPECT_EQ("<missing>", ReadFile(Data(L"b1025.jpg")));
    const std::string enc1025 = ReadFile(Data(L"b1025.jpg.zpwenc0"));
    ASSERT_GT(enc1025.size(), 1025u);
    EXPECT_NE(Bytes(1025, 3).substr(0, 1024), enc1025.substr(0, 1024));
    EXPECT_EQ(Bytes(1025, 3)[1024], enc1025[1024]);  // first-block mode: the rest stays
    EXPECT_NE("<missing>", ReadFile(Data(L"相册/2020.v[1]/deep.html.zpwenc0")));
    // Records: sealed password, kind, mail; no plain password left.
    EXPECT_EQ(18u, ReadFile(Param(L"imimff.ulxjm.zpwenc0")).size());
    EXPECT_EQ("<missing>", ReadFile(Param(L"imimff.ulxjm")));
    EXPECT_EQ(L"fftype=2", store::ReadFirstLine(Param(L"typeff.ulxjm")));
    EXPECT_EQ("<missing>", ReadFile(Param(L"renamefail.ulxjm")));
    EXPECT_TRUE(plat::Fs().GetAttributes(folder_) & plat::kAttrSystem);

    EXPECT_FALSE(engine::DecryptFolder(folder_, L"wrong", ui_).started);
    EXPECT_EQ(1, ui_.Count(L"密码不正确，本次解密失败。"));

    auto dec = engine::DecryptFolder(folder_, L"密码pw", ui_);
    EXPECT_TRUE(dec.ok());
    EXPECT_EQ(7, dec.strengthDone);
    EXPECT_TRUE(SameTree(before, Content()));
    EXPECT_FALSE(store::IsEncryptedFolder(folder_));
    EXPECT_TRUE(LogLines(log_).empty());
}

TEST_F(StrengthPassTest, StoreWithoutFilesStillGetsSealedRecords) {
    auto enc = engine::EncryptFolder(folder_, L"pw", L"", 1, ui_);
    EXPECT_TRUE(enc.ok());
    EXPECT_EQ(0, enc.total);
    EXPECT_EQ(18u, ReadFile(Param(L"imimff.ulxjm.zpwenc0")).size());
    EXPECT_EQ(L"fftype=1", store::ReadFirstLine(Param(L"typeff.ulxjm")));
    engine::ProgressModel model;
    auto view = model.Poll();
    EXPECT_EQ(100, view.overallPercent);
    EXPECT_EQ(engine::EndAction::CloseWindow, view.end);
}

TEST_F(StrengthPassTest, CancelKeepsEncryptedFilesAndLeavesTheRestPlainAndCounted) {
    Fill();
    const auto before = Content();
    HookedFs fs;
    plat::ScopedFileSystem use(fs);
    // The user presses cancel while the first file encrypted whole
    // (notes.TXT, fifth in order) is being written.
    fs.hook = [&](FsOp op, const std::wstring& path) -> uint32_t {
        if (op == FsOp::OpenWrite && path.find(L"ffffff") != std::wstring::npos &&
            plat::EndsWithNoCase(path, L".tmp"))
            engine::State().cancelRequested = true;
        return 0;
    };
    auto enc = engine::EncryptFolder(folder_, L"pw", L"", 2, ui_);
    EXPECT_TRUE(enc.cancelled);
    EXPECT_EQ(1, ui_.Count(L"操作已被取消。"));
    // The file in hand when cancel came is put back; the ones before it are
    // encrypted, the rest skipped.
    EXPECT_EQ(4, enc.strengthDone);
    EXPECT_EQ(7, enc.strengthDone + enc.strengthSkipped);
    // Everything is hidden; exactly the encrypted ones carry the suffix.
    int suffixed = 0, plain = 0;
    for (const auto& [rel, bytes] : Snapshot(store::DataDir(folder_))) {
        if (rel.back() == L'/') continue;
        (plat::EndsWithNoCase(rel, L".zpwenc0") ? suffixed : plain)++;
    }
    EXPECT_EQ(enc.strengthDone, suffixed);
    EXPECT_EQ(enc.strengthSkipped, plain);
    fs.hook = nullptr;
    EXPECT_TRUE(engine::DecryptFolder(folder_, L"pw", ui_).ok());
    EXPECT_TRUE(SameTree(before, Content()));
}

TEST_F(StrengthPassTest, ReadOnlyFileThatStaysReadOnlyIsSkippedOnce) {
    WriteFile(plat::JoinPath(folder_, L"ro.doc"), "read only");
    WriteFile(plat::JoinPath(folder_, L"rw.doc"), "writable");
    ASSERT_TRUE(plat::Fs().SetAttributes(plat::JoinPath(folder_, L"ro.doc"), plat::kAttrReadOnly));
    HookedFs fs;
    plat::ScopedFileSystem use(fs);
    fs.hook = [](FsOp op, const std::wstring& path) -> uint32_t {
        return op == FsOp::SetAttributes && plat::LeafName(path) == L"ro.doc"
                   ? uint32_t(plat::kErrAccessDenied)
                   : 0;
    };
    auto enc = engine::EncryptFolder(folder_, L"pw", L"", 1, ui_);
    EXPECT_EQ(1, enc.strengthSkipped);
    EXPECT_EQ(1, enc.strengthDone);
    EXPECT_EQ("read only", ReadFile(Data(L"ro.doc")));
    EXPECT_EQ(std::vector<std::wstring>{plat::JoinPath(folder_, L"ro.doc") + L" 为只读,未强度加密"},
              LogLines(log_));
    engine::ProgressModel model;
    EXPECT_EQ(engine::EndAction::OpenLogAndClose, model.Poll().end);
    fs.hook = nullptr;
    EXPECT_TRUE(engine::DecryptFolder(folder_, L"pw", ui_).ok());
    EXPECT_EQ("read only", ReadFile(plat::JoinPath(folder_, L"ro.doc")));
    EXPECT_EQ("writable", ReadFile(plat::JoinPath(folder_, L"rw.doc")));
}

TEST_F(StrengthPassTest, RunningProgramInsideTheStoreIsNeverEncrypted) {
    WriteFile(plat::JoinPath(folder_, L"x.bin"), "x");
    ASSERT_TRUE(store::CreateStoreFolders(folder_));
    app::Globals().ModulePath = Data(L"tool.exe");
    WriteFile(app::Globals().ModulePath, "MZ self");
    auto enc = engine::EncryptFolder(folder_, L"pw", L"", 2, ui_);
    EXPECT_TRUE(enc.ok());
    EXPECT_EQ(1, enc.total);
    EXPECT_EQ("MZ self", ReadFile(Data(L"tool.exe")));
}

// The profile's crash marker of older versions belongs to no folder: a
// value left there by another folder's interrupted run skips nothing here.
TEST_F(StrengthPassTest, ProfileCrashMarkerNeverSkipsFiles) {
    Fill();
    const auto before = Content();
    ASSERT_TRUE(engine::EncryptFolder(folder_, L"pw", L"", 1, ui_).ok());
    ASSERT_TRUE(
        plat::UserSettings().WriteWinIniString(app::kWinIniSection, app::WinIniKeys::Error, L"3"));
    auto dec = engine::DecryptFolder(folder_, L"pw", ui_);
    EXPECT_TRUE(dec.ok());
    EXPECT_EQ(0, dec.strengthSkipped);
    EXPECT_TRUE(ui_.Messages().empty());
    EXPECT_FALSE(store::IsEncryptedFolder(folder_));
    EXPECT_TRUE(SameTree(before, Content()));
}

TEST_F(StrengthPassTest, CopyOutLeavesTheStoreAsItIs) {
    Fill();
    const auto before = Content();
    ASSERT_TRUE(engine::EncryptFolder(folder_, L"pw", L"", 2, ui_).ok());
    const auto store = Snapshot(store::DataDir(folder_));
    engine::DecryptOptions o;
    o.destination = Path(L"out");
    MakeDir(o.destination);
    WriteFile(plat::JoinPath(o.destination, L"empty.bin"), "mine");  // never overwritten
    auto dec = engine::DecryptStore(folder_, L"pw", 1, ui_, o);
    EXPECT_TRUE(dec.ok());
    EXPECT_TRUE(SameTree(store, Snapshot(store::DataDir(folder_))));
    auto out = Snapshot(o.destination);
    EXPECT_EQ("mine", out[L"empty.bin"]);
    EXPECT_EQ("", out[L"empty[1].bin"]);
    out.erase(L"empty[1].bin");
    out[L"empty.bin"] = "";
    EXPECT_TRUE(SameTree(before, out));
}

TEST_F(StrengthPassTest, ImageModeDecryptsInsideTheStoreAndReEncryptionRestoresIt) {
    Fill();
    ASSERT_TRUE(engine::EncryptFolder(folder_, L"pw", L"", 2, ui_).ok());
    const auto encrypted = Snapshot(store::DataDir(folder_));
    auto dec = engine::DecryptStore(folder_, L"pw", 0, ui_);
    EXPECT_TRUE(dec.ok());
    EXPECT_EQ(Bytes(1025, 3), ReadFile(Data(L"b1025.jpg")));
    EXPECT_TRUE(store::IsEncryptedFolder(folder_));
    // The watch window re-encrypts the whole store in operation type 0.
    engine::State().Reset();
    engine::State().kind = engine::kKindHighestEncrypt;
    engine::State().operation = engine::kOpImageDecrypt;
    engine::CCryptAndDe_old pass(ui_);
    engine::StrengthJob job;
    job.root = folder_;
    job.password = L"pw";
    job.kindText = L"type=2";
    ASSERT_TRUE(pass.StartEncryption(job));
    pass.Wait();
    EXPECT_TRUE(engine::State().done);
    auto again = Snapshot(store::DataDir(folder_));
    ASSERT_EQ(encrypted.size(), again.size());
    for (const auto& [rel, bytes] : encrypted) EXPECT_TRUE(again.count(rel)) << plat::ToUtf8(rel);
}

// Browse window: selected items move out of the store into a chosen folder at
// their place relative to the store.
TEST_F(StrengthPassTest, SelectedFolderMovesOutWithItsContent) {
    Fill();
    ASSERT_TRUE(engine::EncryptFolder(folder_, L"pw", L"", 2, ui_).ok());
    engine::DecryptOptions o;
    o.items = {L"相册"};
    o.destination = Path(L"chosen");
    MakeDir(o.destination);
    auto dec = engine::DecryptStore(folder_, L"pw", 2, ui_, o);
    EXPECT_TRUE(dec.ok());
    EXPECT_EQ(Bytes(2049, 5), ReadFile(Path(L"chosen/相册/2020.v[1]/deep.html")));
    EXPECT_EQ(Bytes(10, 6), ReadFile(Path(L"chosen/相册/a.b.c")));
    EXPECT_FALSE(plat::Fs().Exists(Data(L"相册")));
    EXPECT_NE("<missing>", ReadFile(Data(L"b1025.jpg.zpwenc0")));
    EXPECT_TRUE(store::IsEncryptedFolder(folder_));
}

}  // namespace
}  // namespace enginetest

namespace enginetest {
namespace {

// The browse window's round trips: a file decrypted into the working area
// comes back encrypted to its own place (job mode 1), and files from another
// folder are added below the position shown (job mode 2).
TEST_F(StrengthPassTest, BrowseReturnsWorkingCopiesAndAddsNewFiles) {
    Fill();
    ASSERT_TRUE(engine::EncryptFolder(folder_, L"pw", L"", 2, ui_).ok());
    const std::wstring work = store::WorkingDir(folder_);
    engine::DecryptOptions o;
    o.items = {L"相册" + std::wstring(1, plat::kSep) + L"a.b.c.zpwenc0"};
    o.destination = work;
    o.operation = engine::kOpBrowse;
    ASSERT_TRUE(engine::DecryptStore(folder_, L"pw", 2, ui_, o).ok());
    const std::wstring copy = plat::JoinPath(work, L"相册/a.b.c");
    ASSERT_EQ(Bytes(10, 6), ReadFile(copy));
    WriteFile(copy, "edited");

    engine::State().Reset();
    engine::State().kind = engine::kKindHighestEncrypt;
    engine::State().operation = engine::kOpBrowse;
    {
        engine::CCryptAndDe_old pass(ui_);
        engine::StrengthJob job;
        job.root = work;
        job.items = {L"相册" + std::wstring(1, plat::kSep) + L"a.b.c"};
        job.password = L"pw";
        job.kindText = L"type=2";
        job.jobMode = 1;
        job.storeFolder = folder_;
        ASSERT_TRUE(pass.RunEncryption(job));
    }
    EXPECT_EQ(1, engine::State().strengthDone);
    EXPECT_FALSE(plat::Fs().Exists(copy));
    EXPECT_NE("<missing>", ReadFile(Data(L"相册/a.b.c.zpwenc0")));

    MakeDir(Path(L"incoming"));
    WriteFile(Path(L"incoming/new.txt"), "brand new");
    engine::State().Reset();
    engine::State().kind = engine::kKindHighestEncrypt;
    engine::State().operation = engine::kOpBrowse;
    {
        engine::CCryptAndDe_old pass(ui_);
        engine::StrengthJob job;
        job.root = Path(L"incoming");
        job.items = {L"new.txt"};
        job.password = L"pw";
        job.kindText = L"type=2";
        job.jobMode = 2;
        job.storeFolder = folder_;
        job.subPath = L"相册";
        ASSERT_TRUE(pass.RunEncryption(job));
    }
    EXPECT_FALSE(plat::Fs().Exists(Path(L"incoming/new.txt")));
    EXPECT_FALSE(store::IsEncryptedFolder(Path(L"incoming")));
    EXPECT_NE("<missing>", ReadFile(Data(L"相册/new.txt.zpwenc0")));

    ASSERT_TRUE(engine::DecryptFolder(folder_, L"pw", ui_).ok());
    // The emptied working area does not follow the files into the folder.
    EXPECT_FALSE(plat::Fs().Exists(plat::JoinPath(folder_, L"working")));
    EXPECT_EQ("edited", ReadFile(plat::JoinPath(folder_, L"相册/a.b.c")));
    EXPECT_EQ("brand new", ReadFile(plat::JoinPath(folder_, L"相册/new.txt")));
}

}  // namespace
}  // namespace enginetest

namespace enginetest {
namespace {

// No memory for the work buffer: the pass says so, touches nothing and still
// ends, so that the progress display does not wait forever.
class NoMemoryPass : public engine::CCryptAndDe_old {
  public:
    using CCryptAndDe_old::CCryptAndDe_old;

  protected:
    std::unique_ptr<crypto::ContentCipher> MakeCipher(
        const std::wstring&, const crypto::ContentCipher::Options&) override {
        throw std::bad_alloc();
    }
};

TEST_F(StrengthPassTest, WorkBufferFailureStillEndsThePass) {
    WriteFile(plat::JoinPath(folder_, L"keep.doc"), "keep");
    engine::State().kind = engine::kKindHigherEncrypt;
    engine::State().operation = engine::kOpEncrypt;
    {
        NoMemoryPass pass(ui_);
        engine::StrengthJob job;
        job.root = folder_;
        job.password = L"pw";
        ASSERT_TRUE(pass.StartEncryption(job));
        pass.Wait();
    }
    EXPECT_TRUE(engine::State().done);
    EXPECT_EQ(
        1, ui_.Count(
               L"分配内存出错，本次加密失败。\r\n\r\n但是所有的文件已经采用快速方式进行了加密。"));
    EXPECT_EQ("keep", ReadFile(plat::JoinPath(folder_, L"keep.doc")));

    engine::State().kind = engine::kKindHigherDecrypt;
    {
        NoMemoryPass pass(ui_);
        engine::DecryptJob job;
        job.root = folder_;
        job.password = L"pw";
        ASSERT_TRUE(pass.StartDecryption(job));
        pass.Wait();
    }
    EXPECT_TRUE(engine::State().done);
    EXPECT_EQ(1, ui_.Count(L"分配内存出错，本次解密失败。"));
}

}  // namespace
}  // namespace enginetest
