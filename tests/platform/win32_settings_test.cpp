// The Windows settings store: the registry profile laid out as MFC keeps it
// (values where other tools and older versions look), win.ini and private
// INI files through the profile API, Explorer's hidden-file values.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <string>

#include "platform/settings.h"
#include "platform/text.h"
#include "platform/win32/win.h"
#include "support/test_files.h"

namespace {

constexpr const wchar_t* kProfile = L"Software\\ulxjm\\岚栩只读加密";

// A section of our own per test run, removed afterwards, so that a run on a
// real machine leaves the user's settings alone.
class Win32SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        section_ = L"测试-" + std::to_wstring(GetCurrentProcessId());
        key_ = std::wstring(kProfile) + L"\\" + section_;
    }
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kProfile, section_.c_str());
        WriteProfileStringW(section_.c_str(), nullptr, nullptr);
    }

    static bool RawDword(const std::wstring& key, const std::wstring& name, DWORD* out) {
        DWORD size = sizeof(*out);
        return RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name.c_str(), RRF_RT_REG_DWORD, nullptr,
                            out, &size) == ERROR_SUCCESS;
    }
    static bool RawString(const std::wstring& key, const std::wstring& name, std::wstring* out) {
        wchar_t buf[512] = {};
        DWORD size = sizeof(buf);
        if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, buf,
                         &size) != ERROR_SUCCESS)
            return false;
        *out = buf;
        return true;
    }

    plat::Settings& s_ = plat::OsUserSettings();
    std::wstring section_, key_;
};

TEST_F(Win32SettingsTest, ProfileValuesLiveWhereMfcKeepsThem) {
    // A named section is a subkey: integers are REG_DWORD, texts REG_SZ.
    ASSERT_TRUE(s_.WriteProfileInt(section_, L"AutoHide", 7));
    ASSERT_TRUE(s_.WriteProfileString(section_, L"szTips", L"双击打开"));
    DWORD d = 0;
    std::wstring text;
    ASSERT_TRUE(RawDword(key_, L"AutoHide", &d));
    EXPECT_EQ(d, 7u);
    ASSERT_TRUE(RawString(key_, L"szTips", &text));
    EXPECT_EQ(text, L"双击打开");
    EXPECT_EQ(s_.GetProfileInt(section_, L"AutoHide", 1), 7);
    EXPECT_EQ(s_.GetProfileString(section_, L"szTips", L"x"), L"双击打开");

    // The empty section is the application key itself.
    ASSERT_TRUE(s_.WriteProfileInt(L"", section_, -2));
    ASSERT_TRUE(RawDword(kProfile, section_, &d));
    EXPECT_EQ(static_cast<int>(d), -2);
    EXPECT_EQ(s_.GetProfileInt(L"", section_, 0), -2);
}

TEST_F(Win32SettingsTest, MissingOrMistypedValuesGiveTheDefault) {
    EXPECT_EQ(s_.GetProfileInt(section_, L"none", 5), 5);
    EXPECT_EQ(s_.GetProfileString(section_, L"none", L"默认"), L"默认");
    EXPECT_FALSE(s_.HasProfileValue(section_, L"none"));
    // A text where a number is read (and the reverse) is not that number.
    ASSERT_TRUE(s_.WriteProfileString(section_, L"n", L"12"));
    EXPECT_EQ(s_.GetProfileInt(section_, L"n", 5), 5);
    ASSERT_TRUE(s_.WriteProfileInt(section_, L"t", 3));
    EXPECT_EQ(s_.GetProfileString(section_, L"t", L"d"), L"d");
    // An empty stored text is a value, not a default.
    ASSERT_TRUE(s_.WriteProfileString(section_, L"empty", L""));
    EXPECT_TRUE(s_.HasProfileValue(section_, L"empty"));
    EXPECT_EQ(s_.GetProfileString(section_, L"empty", L"d"), L"");
}

TEST_F(Win32SettingsTest, WinIniAndPrivateIniKeepLongChineseTexts) {
    // Longer than the first read buffer, to exercise its growth.
    std::wstring longText;
    for (int i = 0; i < 300; ++i) longText += L"岚栩";
    ASSERT_TRUE(s_.WriteWinIniString(section_, L"mailaddr", L"a@b.cn"));
    ASSERT_TRUE(s_.WriteWinIniString(section_, L"First", L"0"));
    ASSERT_TRUE(s_.WriteWinIniString(section_, L"long", longText));
    EXPECT_EQ(s_.GetWinIniString(section_, L"mailaddr", L""), L"a@b.cn");
    EXPECT_EQ(s_.GetWinIniInt(section_, L"First", 1), 0);
    EXPECT_EQ(s_.GetWinIniInt(section_, L"missing", 1), 1);
    EXPECT_EQ(s_.GetWinIniString(section_, L"long", L""), longText);
    EXPECT_EQ(s_.GetWinIniString(section_, L"missing", L"默认"), L"默认");

    testsupport::TempFolder tmp;
    const std::wstring ini = tmp / L"desktop.ini";
    ASSERT_TRUE(s_.WritePrivateString(ini, L".ShellClassInfo", L"InfoTip", L"加密的文件夹"));
    ASSERT_TRUE(s_.WritePrivateString(ini, L"节", L"数", L"42"));
    ASSERT_TRUE(s_.WritePrivateString(ini, L"节", L"long", longText));
    EXPECT_EQ(s_.GetPrivateString(ini, L".ShellClassInfo", L"InfoTip", L""), L"加密的文件夹");
    EXPECT_EQ(s_.GetPrivateInt(ini, L"节", L"数", 0), 42);
    EXPECT_EQ(s_.GetPrivateString(ini, L"节", L"long", L""), longText);
    // The file is written in the ANSI code page, as other programs read it.
    std::string bytes = testsupport::ReadFileBytes(ini);
    EXPECT_NE(bytes.find(plat::ToAnsi(L"加密的文件夹")), std::string::npos);
}

TEST_F(Win32SettingsTest, ExplorerHiddenValuesAreWrittenAsDwords) {
    const long savedHidden = s_.ReadExplorerValue(L"SuperHidden");
    const long savedShow = s_.ReadExplorerValue(L"ShowSuperHidden");
    for (uint32_t hide : {1u, 0u}) {
        SCOPED_TRACE(hide);
        ASSERT_TRUE(s_.WriteExplorerHiddenPrefs(hide, 1 - hide));
        EXPECT_EQ(s_.ReadExplorerValue(L"SuperHidden"), static_cast<long>(hide));
        EXPECT_EQ(s_.ReadExplorerValue(L"ShowSuperHidden"), static_cast<long>(1 - hide));
        DWORD d = 99;
        ASSERT_TRUE(RawDword(L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced",
                             L"ShowSuperHidden", &d));
        EXPECT_EQ(d, 1 - hide);
    }
    EXPECT_EQ(s_.ReadExplorerValue(L"NoSuchValue"), -1);
    if (savedHidden >= 0 && savedShow >= 0)
        (void)s_.WriteExplorerHiddenPrefs(static_cast<uint32_t>(savedHidden),
                                          static_cast<uint32_t>(savedShow));
}

}  // namespace

#endif  // _WIN32
