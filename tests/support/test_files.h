// Test helpers for files: a scratch folder per test and whole-file access.
#pragma once

#include <string>

#include "platform/fs.h"

namespace testsupport {

// A new, empty, uniquely named folder under the temporary-files folder,
// removed with everything inside when the object goes. path() ends with
// plat::kSep. Always works on the OS file system, whatever Fs() is.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::wstring& path() const { return path_; }
    // path() + name.
    std::wstring operator/(const std::wstring& name) const { return path_ + name; }

  private:
    std::wstring path_;
};

// Removes a file or a folder tree through the OS file system, clearing
// READONLY/HIDDEN/SYSTEM first; symbolic links are removed, not followed.
bool RemoveTree(const std::wstring& path);

// Writes `bytes` as the whole content of `path` through plat::Fs()
// (created or truncated). False when anything failed.
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);

// The whole content of `path` read through plat::Fs(); "<missing>" when the
// file cannot be opened or read, so an empty file is told from a missing one.
std::string ReadFileBytes(const std::wstring& path);
bool ReadFileBytes(const std::wstring& path, std::string* out);

}  // namespace testsupport
