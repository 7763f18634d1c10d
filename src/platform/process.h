// The running process and others: ids and the environment.
#pragma once

#include <cstdint>
#include <string>

namespace plat {

uint32_t CurrentProcessId();
// True while a process with this id runs (or cannot be told apart from one
// that does, such as another user's); false once it has ended.
bool IsProcessRunning(uint32_t pid);
// The value of an environment variable; empty when unset.
std::wstring EnvironmentValue(const std::wstring& name);

}  // namespace plat
