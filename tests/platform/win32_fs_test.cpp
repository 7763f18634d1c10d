// The Windows file system layer: attribute marks as both Win32 read paths
// (GetFileAttributesW and the listing) see them, sharing of open files, and
// the system's error texts.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <map>

#include "platform/fs.h"
#include "platform/private_file.h"
#include "platform/win32/win.h"
#include "support/test_files.h"

namespace {

using plat::Fs;

// ARCHIVE is left out: Wine reports it on every file.
constexpr uint32_t kMarks = plat::kAttrReadOnly | plat::kAttrHidden | plat::kAttrSystem;

bool RunningUnderWine() {
    return GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name") != nullptr;
}

TEST(Win32Fs, AttributesRoundTripAndTheListingAgrees) {
    testsupport::TempFolder tmp;
    struct Case {
        const wchar_t* name;
        bool folder;
        uint32_t set;
    };
    const Case cases[] = {
        {L"普通.txt", false, plat::kAttrNormal},
        {L"隐藏.txt", false, plat::kAttrHidden},
        {L"系统.txt", false, plat::kAttrSystem},
        {L"只读.txt", false, plat::kAttrReadOnly},
        {L"全部.txt", false, plat::kAttrReadOnly | plat::kAttrHidden | plat::kAttrSystem},
        {L"存档.txt", false, plat::kAttrArchive | plat::kAttrHidden},
        {L"隐藏目录", true, plat::kAttrHidden},
        {L"系统目录", true, plat::kAttrHidden | plat::kAttrSystem},
        {L"只读目录", true, plat::kAttrReadOnly | plat::kAttrSystem},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
        const std::wstring path = tmp / c.name;
        ASSERT_TRUE(c.folder ? Fs().CreateDir(path) : testsupport::WriteFileBytes(path, "x"));
        ASSERT_TRUE(Fs().SetAttributes(path, c.set));
    }
    std::vector<plat::DirEntry> entries;
    ASSERT_TRUE(Fs().ListDir(tmp.path(), &entries));
    std::map<std::wstring, uint32_t> listed;
    for (const auto& e : entries) listed[e.name] = e.attributes;
    ASSERT_EQ(listed.size(), std::size(cases));

    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
        uint32_t want = c.set & kMarks;
        // Wine keeps no READONLY on folders; Windows does.
        if (c.folder && RunningUnderWine()) want &= ~static_cast<uint32_t>(plat::kAttrReadOnly);
        const uint32_t got = Fs().GetAttributes(tmp / c.name);
        EXPECT_EQ(got & kMarks, want);
        if (c.set & plat::kAttrArchive) EXPECT_TRUE(got & plat::kAttrArchive);
        EXPECT_EQ((got & plat::kAttrDirectory) != 0, c.folder);
        EXPECT_EQ(listed[c.name] & (kMarks | plat::kAttrDirectory),
                  got & (kMarks | plat::kAttrDirectory))
            << "the listing and GetAttributes disagree";
        // Cleared again, nothing of the marks stays.
        ASSERT_TRUE(Fs().SetAttributes(tmp / c.name, 0));
        EXPECT_EQ(Fs().GetAttributes(tmp / c.name) &
                      (plat::kAttrReadOnly | plat::kAttrHidden | plat::kAttrSystem),
                  0u);
    }
}

TEST(Win32Fs, OpenFilesCanBeRenamedAndDeletedAsTheSharingAllows) {
    testsupport::TempFolder tmp;
    ASSERT_TRUE(testsupport::WriteFileBytes(tmp / L"a", "abc"));
    auto reader = Fs().Open(tmp / L"a", plat::Access::Read, plat::Disposition::OpenExisting);
    ASSERT_NE(reader, nullptr);
    // A second handle, a rename and a deletion while the first is open: the
    // engine moves files that a viewer may still hold.
    auto writer = Fs().Open(tmp / L"a", plat::Access::ReadWrite, plat::Disposition::OpenExisting);
    EXPECT_NE(writer, nullptr);
    writer.reset();
    ASSERT_TRUE(Fs().Move(tmp / L"a", tmp / L"b"));
    char buf[3] = {};
    EXPECT_TRUE(reader->ReadExact(buf, 3));
    EXPECT_EQ(std::string(buf, 3), "abc");
    EXPECT_TRUE(Fs().DeleteFile(tmp / L"b"));
    reader.reset();
    EXPECT_FALSE(Fs().Exists(tmp / L"b"));
}

TEST(Win32Fs, ReadOnlyFilesRefuseWritesAsOnWindowsEvenUnderWineAsRoot) {
    testsupport::TempFolder tmp;
    ASSERT_TRUE(testsupport::WriteFileBytes(tmp / L"ro", "keep"));
    ASSERT_TRUE(testsupport::WriteFileBytes(tmp / L"src", "new"));
    ASSERT_TRUE(Fs().SetAttributes(tmp / L"ro", plat::kAttrReadOnly));
    for (auto how : {plat::Disposition::OpenExisting, plat::Disposition::CreateAlways,
                     plat::Disposition::OpenAlways}) {
        EXPECT_EQ(Fs().Open(tmp / L"ro", plat::Access::ReadWrite, how), nullptr);
        EXPECT_EQ(plat::LastError(), plat::kErrAccessDenied);
    }
    EXPECT_FALSE(Fs().Copy(tmp / L"src", tmp / L"ro", false));
    EXPECT_EQ(plat::LastError(), plat::kErrAccessDenied);
    EXPECT_NE(Fs().Open(tmp / L"ro", plat::Access::Read, plat::Disposition::OpenExisting), nullptr);
    EXPECT_EQ(testsupport::ReadFileBytes(tmp / L"ro"), "keep");
    ASSERT_TRUE(Fs().SetAttributes(tmp / L"ro", plat::kAttrNormal));
    EXPECT_TRUE(Fs().Copy(tmp / L"src", tmp / L"ro", false));
    EXPECT_EQ(testsupport::ReadFileBytes(tmp / L"ro"), "new");
}

// Windows makes links for CreateSymbolicLinkW where the user may (developer
// mode or an administrator) and reports them as reparse points.
TEST(Win32Fs, LinksAreNeverOpenedCopiedOrAppendedThrough) {
    testsupport::TempFolder tmp;
    ASSERT_TRUE(testsupport::WriteFileBytes(tmp / L"victim", "victim's"));
    ASSERT_TRUE(testsupport::WriteFileBytes(tmp / L"new", "new"));
    if (!CreateSymbolicLinkW((tmp / L"link").c_str(), (tmp / L"victim").c_str(),
                             SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE))
        (void)CreateSymbolicLinkW((tmp / L"link").c_str(), (tmp / L"victim").c_str(), 0);
    // Wine 8 reports success and makes nothing, and shows Unix links as
    // what they lead to: there is no link to test with.
    const uint32_t a = Fs().GetAttributes(tmp / L"link");
    if (a == plat::kInvalidAttributes || !(a & plat::kAttrReparsePoint))
        GTEST_SKIP() << "no symbolic links can be made here";

    for (auto how : {plat::Disposition::OpenExisting, plat::Disposition::OpenAlways,
                     plat::Disposition::CreateAlways}) {
        EXPECT_EQ(Fs().Open(tmp / L"link", plat::Access::ReadWrite, how), nullptr);
        EXPECT_EQ(plat::LastError(), plat::kErrCantAccessFile);
    }
    EXPECT_EQ(Fs().Open(tmp / L"link", plat::Access::Read, plat::Disposition::OpenExisting),
              nullptr);
    EXPECT_FALSE(Fs().Copy(tmp / L"new", tmp / L"link", false));
    EXPECT_EQ(plat::LastError(), plat::kErrCantAccessFile);
    EXPECT_FALSE(Fs().Copy(tmp / L"link", tmp / L"copy", false));
    EXPECT_FALSE(Fs().Exists(tmp / L"copy"));
    EXPECT_FALSE(plat::AppendToPrivateFile(tmp / L"link", "appended"));
    std::string text;
    EXPECT_FALSE(plat::ReadPrivateFile(tmp / L"link", 100, &text));
    EXPECT_EQ(testsupport::ReadFileBytes(tmp / L"victim"), "victim's");
    EXPECT_EQ(plat::FollowLink(tmp / L"link"), tmp / L"victim");
    EXPECT_EQ(plat::FollowLink(tmp / L"new"), tmp / L"new");
}

TEST(Win32Fs, VolumeSyncWithOrWithoutTheRightToFlush) {
    testsupport::TempFolder tmp;
    ASSERT_TRUE(testsupport::WriteFileBytes(tmp / L"f", "x"));
    // Administrators flush the volume, others go on unflushed: true either way.
    EXPECT_TRUE(Fs().SyncVolume(tmp / L"f")) << plat::LastError();
    EXPECT_TRUE(Fs().SyncVolume(tmp.path())) << plat::LastError();
}

TEST(Win32Fs, ErrorsCarryTheSystemText) {
    testsupport::TempFolder tmp;
    EXPECT_EQ(Fs().GetAttributes(tmp / L"none"), plat::kInvalidAttributes);
    EXPECT_EQ(plat::LastError(), plat::kErrFileNotFound);
    const std::wstring text = plat::ErrorText(plat::kErrFileNotFound);
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text.back(), L'\n');
    EXPECT_NE(text.back(), L'\r');
    // The drive root lists without "." and "..", and is not empty.
    std::vector<plat::DirEntry> entries;
    ASSERT_TRUE(Fs().ListDir(L"C:\\", &entries));
    EXPECT_FALSE(entries.empty());
    for (const auto& e : entries) EXPECT_TRUE(e.name != L"." && e.name != L"..");
}

}  // namespace

#endif  // _WIN32
