// The INI settings reader: input = the whole "profile.ini" (and "win.ini").
// A value written can be read back, and writing one key leaves the others.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "mem_fs.h"
#include "platform/fs.h"
#include "platform/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    fuzzsupport::MemFs fs;
    plat::ScopedFileSystem use(fs);
    fs.MakeDirs(L"/cfg");
    fs.Put(L"/cfg/profile.ini", bytes);
    fs.Put(L"/cfg/win.ini", bytes);
    auto s = plat::MakeIniSettings(L"/cfg");

    (void)s->GetProfileInt(L"", L"AutoHide", 1);
    (void)s->HasProfileValue(L"", L"readme");
    (void)s->GetWinIniInt(L"岚栩只读加密", L"First", 1);
    (void)s->ReadExplorerValue(L"SuperHidden");
    const std::wstring other = s->GetProfileString(L"", L"AutoHide", L"<none>");
    const std::wstring otherSection = s->GetProfileString(L"Sub", L"szTips", L"<none>");

    FUZZ_CHECK(s->WriteProfileString(L"", L"szTips", L"岚栩=提示"));
    FUZZ_CHECK(s->GetProfileString(L"", L"szTips", L"") == L"岚栩=提示");
    FUZZ_CHECK(s->GetProfileString(L"", L"AutoHide", L"<none>") == other);
    FUZZ_CHECK(s->GetProfileString(L"Sub", L"szTips", L"<none>") == otherSection);

    FUZZ_CHECK(s->WriteWinIniString(L"岚栩只读加密", L"First", L"0"));
    FUZZ_CHECK(s->GetWinIniInt(L"岚栩只读加密", L"First", 1) == 0);
    return 0;
}
