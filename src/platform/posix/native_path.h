// File names on Linux are bytes, not text. Names that are not valid UTF-8
// still have to round-trip through the wide paths of the program, so every
// byte that cannot be decoded travels as U+DC80..U+DCFF (a lone low
// surrogate, which no real text holds) and turns back into the same byte.
#pragma once

#include <string>

namespace plat::posix {

std::string NativePath(const std::wstring& path);
std::wstring WidePath(const std::string& bytes);

}  // namespace plat::posix
