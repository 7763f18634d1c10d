#include <gtest/gtest.h>

#include "platform/fs.h"
#include "support/test_files.h"

namespace {

TEST(TestFiles, TempFolderIsUniqueAndRemovedWithAnythingInside) {
    std::wstring kept;
    {
        testsupport::TempFolder a, b;
        ASSERT_FALSE(a.path().empty());
        EXPECT_NE(a.path(), b.path());
        EXPECT_EQ(a.path().back(), plat::kSep);
        kept = a.path();
        plat::FileSystem& fs = plat::OsFileSystem();
        ASSERT_TRUE(fs.CreateDir(a / L"sub"));
        ASSERT_TRUE(testsupport::WriteFileBytes(a / L"sub" + plat::kSep + L"ro", "r"));
        ASSERT_TRUE(fs.SetAttributes(a / L"sub" + plat::kSep + L"ro", plat::kAttrReadOnly));
        ASSERT_TRUE(testsupport::WriteFileBytes(a / L"h", ""));
        (void)fs.SetAttributes(a / L"h", plat::kAttrHidden | plat::kAttrSystem);
        (void)fs.SetAttributes(a / L"sub", plat::kAttrHidden | plat::kAttrSystem);
        EXPECT_EQ(testsupport::ReadFileBytes(a / L"h"), "") << "an empty file is not missing";
        EXPECT_EQ(testsupport::ReadFileBytes(a / L"none"), "<missing>");
    }
    EXPECT_FALSE(plat::OsFileSystem().Exists(kept));
}

TEST(ErrorText, GivesTheSystemsTextWithoutLineEnd) {
    for (uint32_t code : {plat::kErrFileNotFound, plat::kErrPathNotFound, plat::kErrAccessDenied,
                          plat::kErrDiskFull, plat::kErrAlreadyExists, plat::kErrFileExists}) {
        const std::wstring text = plat::ErrorText(code);
        ASSERT_FALSE(text.empty()) << code;
        EXPECT_NE(text.back(), L'\n') << code;
        EXPECT_NE(text.back(), L'\r') << code;
    }
    EXPECT_NE(plat::ErrorText(plat::kErrFileNotFound), plat::ErrorText(plat::kErrPathNotFound));
}

}  // namespace
