// Text conversions and comparisons shared by the whole program.
//
// Text files on disk (store records, decoration files, pass log) are in the
// ANSI code page: the system's on Windows, 936 (GBK) on posix unless
// ULXJM_ACP names another code page number.
#pragma once

#include <cstdint>
#include <string>

namespace plat {

// Wide text to the ANSI code page. Characters the code page lacks become '?',
// as WideCharToMultiByte does with the default character.
std::string ToAnsi(const std::wstring& text);
std::wstring FromAnsi(const std::string& bytes);
// True when the ANSI code page holds every character of `text` (it comes
// back unchanged from ToAnsi and FromAnsi).
bool FitsAnsi(const std::wstring& text);
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& bytes);
uint32_t AnsiCodePage();

// Case-insensitive comparisons of names (ASCII letters fold, like the
// Windows file system does for the names this program compares).
wchar_t FoldChar(wchar_t c);
std::wstring Fold(std::wstring text);
bool EqualsNoCase(const std::wstring& a, const std::wstring& b);
bool EndsWithNoCase(const std::wstring& text, const std::wstring& suffix);
bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix);
// Position of `needle` in `hay` ignoring case, or npos.
size_t FindNoCase(const std::wstring& hay, const std::wstring& needle);

// Trims blanks, tabs and line ends at both ends.
std::wstring Trim(const std::wstring& text);

// Overwrites a secret before it is freed.
void Wipe(std::wstring& secret);
void Wipe(std::string& secret);

}  // namespace plat
