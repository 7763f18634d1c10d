// What the self-update trusts: the description it downloads, the addresses
// it fetches from, the names it writes and the executable it installs.
// Plain functions over text and bytes, so the tests and the fuzzer reach
// them without a network.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace update {

// Where a base-address override for tests is read from. Only http(s) to
// 127.0.0.1, localhost or [::1] is taken; anything else is ignored.
inline constexpr const wchar_t* kBaseVariable = L"ULXJM_UPDATE_BASE";
// The description of the version after ours: base + this, with our version.
inline constexpr const wchar_t* kDescriptionPath = L"/rlxjm/ver/%d.ini";
// More files than this in one description are not looked at.
inline constexpr int kMaxListedFiles = 64;
// A description is a few lines; anything bigger is not one.
inline constexpr uint64_t kMaxDescriptionSize = 64 * 1024;

// "update.ini" as read: the values its profile functions would give.
struct Description {
    int dllVersion = 1658;  // read, not used
    int version = -1;       // -1: none offered
    int counts = 0;
    int bcounts = 0;                 // read, not used
    std::vector<std::wstring> urls;  // "URL%d" of section SOURCE, at most 254 characters
    std::vector<uint32_t> lengths;   // "LEN%d" of section LENGTH, 0 = no size check
};
// Bytes in the ANSI code page (or UTF-16LE / UTF-8 with a byte-order mark).
// Sections and keys ignore case; the first of a repeated one counts; a
// present key that holds no number reads 0, a missing one its default.
Description ParseDescription(const std::string& bytes);

// The base address downloads come from: "https://" + the program's host, or
// the override `overrideText` when it is http(s) to a loopback name
// (normalised, without a trailing "/"). Anything else gives the real base.
std::wstring AcceptedBase(const std::wstring& overrideText);
// The description's address for `version` under `base`.
std::wstring DescriptionUrl(const std::wstring& base, int version);
// True when `url` is an http(s) address with the base's scheme, host and
// port, below the base's path, without "." / ".." steps, escaped
// separators, user names or blanks.
bool IsUnderBase(const std::wstring& url, const std::wstring& base);

// The local name of a listed file: its URL after the last "/" (empty when
// there is none).
std::wstring LocalNameOf(const std::wstring& url);
// False for a name that would write elsewhere or over something of ours:
// empty, "." or "..", separators, ":" and other characters Windows refuses,
// a trailing dot or blank, device names, the store's folders and records,
// "mima.dat", "desktop.ini", "readme.txt", our temporary names, and, for
// other files than the program itself (`isProgram` false), the program's
// name `programName` with its ".old" / ".del" forms.
bool IsAcceptableName(const std::wstring& name, bool isProgram, const std::wstring& programName);

// Names of the files a download is written to before it takes its place:
// "~ulxjm-upd.<process id>.<n>.tmp".
std::wstring TemporaryName(uint32_t pid, uint32_t n);
// True for a name TemporaryName gives (any letter case); `pid` gets the id.
bool IsTemporaryName(const std::wstring& name, uint32_t* pid = nullptr);

// True when `bytes` start like a Windows executable this program can
// replace itself with: PE32+, machine x64, an executable image (not a DLL),
// GUI subsystem. Every field is read only inside `size`.
bool IsGuiX64Executable(const uint8_t* bytes, size_t size);
// Header bytes enough for IsGuiX64Executable.
inline constexpr uint32_t kExecutableHeadSize = 64 * 1024;

}  // namespace update
