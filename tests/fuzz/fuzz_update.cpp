// What the self-update reads from the web: input = a downloaded file, read
// both as the update description and as the head of a program file.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "update/update_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy: any read past the end is a heap overflow.
    const std::vector<uint8_t> bytes(data, data + size);
    const bool program = update::IsGuiX64Executable(bytes.data(), bytes.size());
    if (program) {
        FUZZ_CHECK(size >= 64 && data[0] == 'M' && data[1] == 'Z');
        // Whatever follows the headers does not matter.
        std::vector<uint8_t> longer(bytes);
        longer.resize(size + 100, 0xCC);
        FUZZ_CHECK(update::IsGuiX64Executable(longer.data(), longer.size()));
    }

    const update::Description d =
        update::ParseDescription(std::string(reinterpret_cast<const char*>(data), size));
    FUZZ_CHECK(d.urls.size() == d.lengths.size());
    FUZZ_CHECK(d.urls.size() <= size_t(update::kMaxListedFiles));
    FUZZ_CHECK(d.urls.size() == size_t(std::max(0, std::min(d.counts, update::kMaxListedFiles))));
    const std::wstring base = update::AcceptedBase(L"");
    for (const std::wstring& url : d.urls) {
        FUZZ_CHECK(url.size() <= 254);
        // A name we would write is always a plain name in the program's folder.
        const std::wstring name = update::LocalNameOf(url);
        if (update::IsUnderBase(url, base) && update::IsAcceptableName(name, false, L"ulxjm.exe"))
            FUZZ_CHECK(name.find_first_of(L"\\/:") == std::wstring::npos && name != L".." &&
                       name != L"." && !name.empty());
    }
    return 0;
}
