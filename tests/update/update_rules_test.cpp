// The self-update's trust rules: the description as read, the addresses it
// accepts, the names it writes and the program files it installs.
#include "update/update_rules.h"

#include <gtest/gtest.h>

#include "support/pe_image.h"

namespace {

using update::AcceptedBase;
using update::IsUnderBase;

const std::wstring kRealBase = L"https://www.ulxjm.example";

TEST(UpdateDescription, MissingValuesTakeTheirDefaults) {
    const update::Description d = update::ParseDescription("");
    EXPECT_EQ(d.dllVersion, 1658);
    EXPECT_EQ(d.version, -1);
    EXPECT_EQ(d.counts, 0);
    EXPECT_EQ(d.bcounts, 0);
    EXPECT_TRUE(d.urls.empty());

    // Listed entries missing from their sections: empty address, no size check.
    const update::Description two = update::ParseDescription("[VERSION]\nVER=3070\nCOUNTS=2\n");
    EXPECT_EQ(two.urls, (std::vector<std::wstring>{L"", L""}));
    EXPECT_EQ(two.lengths, (std::vector<uint32_t>{0, 0}));
}

TEST(UpdateDescription, ReadsAsTheProfileFunctionsWould) {
    const std::string text =
        "; comment\r\n"
        "[version]\r\n"
        "  Ver = 3071 \r\n"
        "VER=1\r\n"  // the first one counts
        "DLLVER=12abc\r\n"
        "COUNTS=3\r\n"
        "[FF]\r\nBCOUNTS=-4\r\n"
        "[SOURCE]\r\nURL0=\"https://h/a.exe\"\r\nurl1=https://h/b.txt\r\nURL2=x\r\n"
        "[LENGTH]\r\nLEN0=1000\r\nLEN1=abc\r\nLEN2=99999999999\r\n";
    const update::Description d = update::ParseDescription(text);
    EXPECT_EQ(d.version, 3071);
    EXPECT_EQ(d.dllVersion, 12);
    EXPECT_EQ(d.counts, 3);
    EXPECT_EQ(d.bcounts, -4);
    EXPECT_EQ(d.urls, (std::vector<std::wstring>{L"https://h/a.exe", L"https://h/b.txt", L"x"}));
    EXPECT_EQ(d.lengths, (std::vector<uint32_t>{1000, 0, 0xFFFFFFFFu}));
}

TEST(UpdateDescription, HostileSizesStayBounded) {
    std::string text = "[VERSION]\nVER=3070\nCOUNTS=2147483647\n[SOURCE]\nURL0=https://h/";
    text += std::string(1000, 'a') + "\n";
    const update::Description d = update::ParseDescription(text);
    EXPECT_EQ(d.counts, 2147483647);
    EXPECT_EQ(d.urls.size(), size_t(update::kMaxListedFiles));
    EXPECT_EQ(d.lengths.size(), size_t(update::kMaxListedFiles));
    EXPECT_EQ(d.urls[0].size(), 254u);

    EXPECT_EQ(update::ParseDescription("[VERSION]\nCOUNTS=-3\n").urls.size(), 0u);
    EXPECT_EQ(update::ParseDescription("[VERSION]\nVER=99999999999999\n").version, 2147483647);
}

TEST(UpdateDescription, UnicodeFilesWithAByteOrderMark) {
    const std::string utf8 = "\xEF\xBB\xBF[VERSION]\nVER=3080\n";
    EXPECT_EQ(update::ParseDescription(utf8).version, 3080);
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string("[VERSION]\r\nVER=3081\r\n")) {
        utf16 += c;
        utf16 += '\0';
    }
    EXPECT_EQ(update::ParseDescription(utf16).version, 3081);
}

TEST(UpdateBase, OnlyLoopbackOverridesAreTaken) {
    struct Case {
        const wchar_t* overrideText;
        std::wstring expected;
    };
    const Case cases[] = {
        {L"", kRealBase},
        {L"http://127.0.0.1:8080", L"http://127.0.0.1:8080"},
        {L"https://127.0.0.1", L"https://127.0.0.1"},
        {L"HTTP://LocalHost:81/Case/", L"http://localhost:81/Case"},
        {L"http://[::1]:8000/a", L"http://[::1]:8000/a"},
        {L"http://127.0.0.1:80", L"http://127.0.0.1"},
        // Refused: the real base stands.
        {L"http://www.ulxjm.example", kRealBase},
        {L"http://example.com:8080", kRealBase},
        {L"https://10.0.0.1", kRealBase},
        {L"http://127.0.0.2", kRealBase},
        {L"http://127.0.0.1.example.com", kRealBase},
        {L"http://localhost.example.com", kRealBase},
        {L"http://evil.example@127.0.0.1", kRealBase},
        {L"http://127.0.0.1@evil.example", kRealBase},
        {L"ftp://127.0.0.1", kRealBase},
        {L"file:///C:/update", kRealBase},
        {L"127.0.0.1:8080", kRealBase},
        {L"http://127.0.0.1:0", kRealBase},
        {L"http://127.0.0.1:99999", kRealBase},
        {L"http://127.0.0.1:80x", kRealBase},
        {L"http://127.0.0.1/a/../b", kRealBase},
        {L"http://127.0.0.1/a?b", kRealBase},
        {L"http://127.0.0.1\\x", kRealBase},
        {L"http:// 127.0.0.1", kRealBase},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AcceptedBase(c.overrideText), c.expected) << c.overrideText;
    EXPECT_EQ(update::DescriptionUrl(AcceptedBase(L""), 3069),
              L"https://www.ulxjm.example/rlxjm/ver/3069.ini");
}

TEST(UpdateBase, ListedAddressesMustLieUnderTheBase) {
    struct Case {
        const wchar_t* url;
        const wchar_t* base;
        bool under;
    };
    const wchar_t* local = L"http://127.0.0.1:5000/case";
    const Case cases[] = {
        {L"https://www.ulxjm.example/rlxjm/ulxjm.exe", kRealBase.c_str(), true},
        {L"HTTPS://WWW.ULXJM.EXAMPLE:443/x.txt", kRealBase.c_str(), true},
        {L"http://www.ulxjm.example/x.exe", kRealBase.c_str(), false},
        {L"https://www.ulxjm.example:8443/x.exe", kRealBase.c_str(), false},
        {L"https://www.ulxjm.example.evil.com/x.exe", kRealBase.c_str(), false},
        {L"https://evil.com/https://www.ulxjm.example/x", kRealBase.c_str(), false},
        {L"https://www.ulxjm.example@evil.com/x.exe", kRealBase.c_str(), false},
        {L"https://www.ulxjm.example/a/../x.exe", kRealBase.c_str(), false},
        {L"https://www.ulxjm.example/%2E%2E/x.exe", kRealBase.c_str(), false},
        {L"https://www.ulxjm.example/a%2fx.exe", kRealBase.c_str(), false},
        {L"https://www.ulxjm.example/", kRealBase.c_str(), false},
        {L"https://www.ulxjm.example", kRealBase.c_str(), false},
        {L"ulxjm.exe", kRealBase.c_str(), false},
        {L"", kRealBase.c_str(), false},
        {L"http://127.0.0.1:5000/case/f/x.exe", local, true},
        {L"http://127.0.0.1:5000/casefoo/x.exe", local, false},
        {L"http://127.0.0.1:5000/x.exe", local, false},
        {L"http://127.0.0.1:5001/case/x.exe", local, false},
        {L"http://localhost:5000/case/x.exe", local, false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsUnderBase(c.url, c.base), c.under) << c.url;
}

TEST(UpdateNames, LocalNameIsWhatFollowsTheLastSlash) {
    EXPECT_EQ(update::LocalNameOf(L"https://h/a/b.exe"), L"b.exe");
    EXPECT_EQ(update::LocalNameOf(L"https://h/a/"), L"");
    EXPECT_EQ(update::LocalNameOf(L"no-slash.exe"), L"");
}

TEST(UpdateNames, NamesThatWouldWriteElsewhereOrOverOursAreRefused) {
    struct Case {
        const wchar_t* name;
        bool asProgram, asOther;
    };
    const Case cases[] = {
        {L"ulxjm.exe", true, false},
        {L"tool.exe", true, false},  // the program's own (renamed) name
        {L"tool.EXE.old", false, false},
        {L"ulxjm.exe.del", false, false},
        {L"help.chm", true, true},
        {L"说明.txt", true, true},
        {L"", false, false},
        {L".", false, false},
        {L"..", false, false},
        {L"..\\x", false, false},
        {L"a\\b", false, false},
        {L"a/b", false, false},
        {L"a:b", false, false},
        {L"c:x", false, false},
        {L"x.txt.", false, false},
        {L"x.txt ", false, false},
        {L"a*b", false, false},
        {L"a\tb", false, false},
        {L"CON", false, false},
        {L"nul.txt", false, false},
        {L"com1", false, false},
        {L"ulxjm", false, false},
        {L"ULXJM", false, false},
        {L"ffffff", false, false},
        {L"paramff", false, false},
        {L"imimff.ulxjm", false, false},
        {L"typeff.ulxjm", false, false},
        {L"decorff.ulxjm", false, false},
        {L"岚栩目~1", false, false},
        {L"mima.dat", false, false},
        {L"Desktop.ini", false, false},
        {L"readme.txt", false, false},
        {L"recycler", false, false},
        {L"~ulxjm-upd.12.0.tmp", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(update::IsAcceptableName(c.name, true, L"tool.exe"), c.asProgram) << c.name;
        EXPECT_EQ(update::IsAcceptableName(c.name, false, L"tool.exe"), c.asOther) << c.name;
    }
}

TEST(UpdateNames, TemporaryNamesAreRecognisedExactly) {
    uint32_t pid = 0;
    EXPECT_TRUE(update::IsTemporaryName(update::TemporaryName(4321, 7), &pid));
    EXPECT_EQ(pid, 4321u);
    EXPECT_TRUE(update::IsTemporaryName(L"~ULXJM-UPD.9.0.TMP"));
    for (const wchar_t* other :
         {L"~ulxjm-upd.tmp", L"~ulxjm-upd.12.tmp", L"~ulxjm-upd.a.1.tmp", L"~ulxjm-upd.1.2.tmp.txt",
          L"x~ulxjm-upd.1.2.tmp", L"~ulxjm-upd.1.2", L"~ulxjm-upd.99999999999.1.tmp", L"x.bak"})
        EXPECT_FALSE(update::IsTemporaryName(other)) << other;
}

bool Accepts(const std::string& bytes) {
    return update::IsGuiX64Executable(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

TEST(UpdateExecutable, OnlyGuiX64ProgramsPass) {
    using testsupport::PeFields;
    EXPECT_TRUE(Accepts(testsupport::PeImage()));
    auto with = [](auto change) {
        PeFields f;
        change(f);
        return testsupport::PeImage(f);
    };
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case refused[] = {
        {"i386", with([](PeFields& f) { f.machine = 0x14C; })},
        {"arm64", with([](PeFields& f) { f.machine = 0xAA64; })},
        {"PE32", with([](PeFields& f) { f.magic = 0x10B; })},
        {"console", with([](PeFields& f) { f.subsystem = 3; })},
        {"dll", with([](PeFields& f) { f.flags = 0x2022; })},
        {"not executable", with([](PeFields& f) { f.flags = 0x0020; })},
        {"no sections", with([](PeFields& f) { f.sections = 0; })},
        {"optional header too small", with([](PeFields& f) { f.optionalSize = 70; })},
        {"empty", ""},
        {"text", std::string(4096, 'x')},
        {"MZ only", "MZ"},
    };
    for (const Case& c : refused) EXPECT_FALSE(Accepts(c.bytes)) << c.what;

    std::string farHeader = testsupport::PeImage();
    for (uint32_t offset : {0xFFFFFFFFu, 0xFFFFFFF0u, 0x7FFFFFFFu, 0x1000u}) {
        farHeader[0x3C] = char(offset & 0xFF);
        farHeader[0x3D] = char((offset >> 8) & 0xFF);
        farHeader[0x3E] = char((offset >> 16) & 0xFF);
        farHeader[0x3F] = char(offset >> 24);
        EXPECT_FALSE(Accepts(farHeader)) << offset;
    }
    // Cut anywhere inside the headers: refused, never read past the end.
    const std::string good = with([](PeFields& f) { f.bodySize = 0; });
    for (size_t n = 0; n < good.size(); ++n) EXPECT_FALSE(Accepts(std::string(good, 0, n))) << n;
}

}  // namespace
