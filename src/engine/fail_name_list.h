// The rename-failure list "renamefail.ulxjm": objects whose names could not
// be given back, kept in the store's parameter folder between passes.
//
// File format (little-endian): uint32 element count, then per element its
// path as a wide text (byte 0xFF, uint16 0xFFFE, the length in characters as
// one byte below 255, else byte 0xFF and a uint16 below 0xFFFE, else
// additionally uint16 0xFFFF and a uint32; then UTF-16LE characters) and a
// uint32 value.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace engine {

struct CFailNameStruct {
    std::wstring path;
    int32_t value = 0;
    bool operator==(const CFailNameStruct&) const = default;
};

// One entry per file that failed: a real list stays far below this.
inline constexpr uint64_t kMaxFailNameListSize = 64u << 20;

class CFailNameList {
  public:
    // A path relative to the data folder that names something inside it:
    // no root or drive letter, no ".." component, no NUL character, and
    // more than "." components.
    static bool UsablePath(const std::wstring& path);

    std::vector<CFailNameStruct> items;

    void Add(const std::wstring& path, int32_t value) { items.push_back({path, value}); }
    bool Empty() const { return items.empty(); }
    void Clear() { items.clear(); }

    std::string Serialize() const;
    // False (list left empty) for bytes that are not a whole list.
    [[nodiscard]] bool Deserialize(const std::string& bytes);

    // Loads `file`; a missing or damaged file gives an empty list. Entries
    // that do not name something inside the data folder (UsablePath) are
    // left out, and handed to `rejected` when given so the caller logs them.
    void Load(const std::wstring& file, std::vector<CFailNameStruct>* rejected = nullptr);
    // Saves to `file` through "<file>.tmp"; an empty list deletes the file.
    [[nodiscard]] bool Save(const std::wstring& file) const;
};

}  // namespace engine
