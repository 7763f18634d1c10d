// A store folder swapped for a link while a pass runs (somebody with write
// access to the drive, between two of the pass's calls): below a folder a
// pass works on, nothing is reached through a link, so nothing outside the
// folder changes whichever call the swap comes before.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <functional>

#include "engine/engine.h"
#include "engine/engine_fixture.h"
#include "platform/fs.h"
#include "store/layout.h"

namespace enginetest {
namespace {

// Forwards every call to the OS file system; before the `at`-th call (from
// 1) it runs `swap` once.
class SwappingFs final : public plat::FileSystem {
  public:
    int calls = 0;
    int at = 0;
    std::function<void()> swap;

    bool ListDir(const std::wstring& dir, std::vector<plat::DirEntry>* out) override {
        return Tick(), os_.ListDir(dir, out);
    }
    uint32_t GetAttributes(const std::wstring& path) override {
        return Tick(), os_.GetAttributes(path);
    }
    bool SetAttributes(const std::wstring& path, uint32_t attrs) override {
        return Tick(), os_.SetAttributes(path, attrs);
    }
    bool CreateDir(const std::wstring& path) override { return Tick(), os_.CreateDir(path); }
    bool RemoveDir(const std::wstring& path) override { return Tick(), os_.RemoveDir(path); }
    bool Move(const std::wstring& from, const std::wstring& to) override {
        return Tick(), os_.Move(from, to);
    }
    bool Copy(const std::wstring& from, const std::wstring& to, bool failIfExists) override {
        return Tick(), os_.Copy(from, to, failIfExists);
    }
    bool DeleteFile(const std::wstring& path) override { return Tick(), os_.DeleteFile(path); }
    std::unique_ptr<plat::File> Open(const std::wstring& path, plat::Access access,
                                     plat::Disposition disposition) override {
        return Tick(), os_.Open(path, access, disposition);
    }
    std::wstring LongPathName(const std::wstring& path) override {
        return Tick(), os_.LongPathName(path);
    }
    bool CopyAccess(const std::wstring& from, const std::wstring& to) override {
        return Tick(), os_.CopyAccess(from, to);
    }
    bool RestrictToOwner(const std::wstring& path) override {
        return Tick(), os_.RestrictToOwner(path);
    }
    bool SyncVolume(const std::wstring& path) override { return Tick(), os_.SyncVolume(path); }

  private:
    void Tick() {
        if (++calls == at && swap) swap();
    }
    plat::FileSystem& os_ = plat::OsFileSystem();
};

class SwappedFolderTest : public EngineTest {};

TEST_F(SwappedFolderTest, AStoreFolderSwappedForALinkMidPassLeadsNowhere) {
    const std::wstring outside = Path(L"outside");
    const std::wstring moved = Path(L"moved");
    const std::wstring sub = plat::JoinPath(store::DataDir(folder_), L"文档");
    auto make = [&] {
        RemoveTree(folder_);
        RemoveTree(outside);
        RemoveTree(moved);
        MakeDir(folder_);
        MakeDir(plat::JoinPath(folder_, L"文档"));
        WriteFile(plat::JoinPath(folder_, L"top.txt"), std::string(1500, 't'));
        WriteFile(plat::JoinPath(folder_, L"文档/a.doc"), std::string(3000, 'a'));
        WriteFile(plat::JoinPath(folder_, L"文档/b.txt"), std::string(100, 'b'));
        ASSERT_TRUE(engine::EncryptFolder(folder_, L"pw", L"", 2, ui_).ok());
        // What the link will lead to: encrypted files under the store's names.
        MakeDir(outside);
        for (const wchar_t* name : {L"a.doc.zpwenc0", L"b.txt.zpwenc0"})
            ASSERT_TRUE(plat::Fs().Copy(plat::JoinPath(sub, name), plat::JoinPath(outside, name),
                                        true));
    };
    // Once the folder has left the store there is nothing to swap.
    auto swap = [&] {
        if (rename(plat::ToUtf8(sub).c_str(), plat::ToUtf8(moved).c_str()) == 0)
            ASSERT_EQ(symlink(plat::ToUtf8(outside).c_str(), plat::ToUtf8(sub).c_str()), 0);
    };

    // How many calls a full decryption makes.
    make();
    SwappingFs counting;
    {
        plat::ScopedFileSystem scoped(counting);
        ASSERT_TRUE(engine::DecryptFolder(folder_, L"pw", ui_).ok());
    }
    ASSERT_GT(counting.calls, 10);
    for (int n = 1; n <= counting.calls; ++n) {
        make();
        const auto before = Snapshot(outside);
        SwappingFs fs;
        fs.at = n;
        fs.swap = swap;
        {
            plat::ScopedFileSystem scoped(fs);
            (void)engine::DecryptFolder(folder_, L"pw", ui_);
        }
        EXPECT_TRUE(SameTree(before, Snapshot(outside))) << "swapped before call " << n;
        if (HasFailure()) break;
    }
}

}  // namespace
}  // namespace enginetest

#endif  // _WIN32
