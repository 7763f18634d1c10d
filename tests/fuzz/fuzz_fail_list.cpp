// The rename-failure list "renamefail.ulxjm": input = the whole file.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/fail_name_list.h"
#include "fuzz_check.h"
#include "mem_fs.h"
#include "platform/fs.h"

namespace {

// Where `rel` leads from "/d" once "." and ".." are resolved, splitting at
// `seps`; with `trim`, components lose trailing dots and spaces first, as
// Windows may do. Empty when it climbs above the root.
std::wstring Resolve(const std::wstring& rel, const std::wstring& seps, bool trim) {
    std::vector<std::wstring> parts = {L"d"};
    size_t start = 0;
    while (start <= rel.size()) {
        size_t end = rel.find_first_of(seps, start);
        if (end == std::wstring::npos) end = rel.size();
        std::wstring part = rel.substr(start, end - start);
        if (trim && part != L"." && part != L"..")
            while (!part.empty() && (part.back() == L'.' || part.back() == L' ')) part.pop_back();
        if (part == L"..") {
            if (parts.empty()) return L"";
            parts.pop_back();
        } else if (!part.empty() && part != L".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::wstring out;
    for (const auto& p : parts) out += L"/" + p;
    return out;
}

bool StaysInside(const std::wstring& rel) {
    for (bool windows : {false, true}) {
        const std::wstring to = Resolve(rel, windows ? L"/\\" : L"/", windows);
        if (to.compare(0, 3, L"/d/") != 0) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    fuzzsupport::MemFs fs;
    plat::ScopedFileSystem use(fs);
    fs.MakeDirs(L"/s");
    const std::wstring file = L"/s/renamefail.ulxjm";
    fs.Put(file, bytes);

    engine::CFailNameList loaded;
    std::vector<engine::CFailNameStruct> rejected;
    loaded.Load(file, &rejected);
    // Every usable entry names something below the data folder, on either system.
    for (const auto& item : loaded.items) {
        FUZZ_CHECK(engine::CFailNameList::UsablePath(item.path));
        FUZZ_CHECK(StaysInside(item.path));
    }
    for (const auto& item : rejected) FUZZ_CHECK(!engine::CFailNameList::UsablePath(item.path));

    // Load keeps or rejects every entry of a whole list, and nothing of a damaged one.
    engine::CFailNameList all;
    if (all.Deserialize(bytes)) {
        FUZZ_CHECK(loaded.items.size() + rejected.size() == all.items.size());
        engine::CFailNameList back;
        FUZZ_CHECK(back.Deserialize(all.Serialize()));
        FUZZ_CHECK(back.items == all.items);
    } else {
        FUZZ_CHECK(all.Empty() && loaded.Empty() && rejected.empty());
    }

    // What was loaded saves and loads back the same.
    FUZZ_CHECK(loaded.Save(file));
    engine::CFailNameList again;
    again.Load(file);
    FUZZ_CHECK(again.items == loaded.items);
    return 0;
}
