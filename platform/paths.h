// Where the running program lives.
#pragma once

#include <string>

namespace platform {

// The running executable's full path (from /proc/self/exe), with "/" separators; empty
// when it cannot be read. Tests may pretend another location.
std::u16string ModuleFileName();
void OverrideModuleFileName(const std::u16string& path); // empty restores the real one

// The executable's folder without a trailing separator ("" when unknown).
std::u16string ModuleFolder();

// The separator between path components on this platform.
inline constexpr char16_t kPathSep = u'/';

} // namespace platform
