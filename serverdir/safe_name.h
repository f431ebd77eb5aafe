// Server-supplied names become names of local files and directories in the thumbnail
// cache. The name shown to the user stays as the server sent it; only the name used on
// disk goes through SafeDiskName.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Longest disk name SafeDiskName produces, in UTF-8 bytes (file systems allow 255).
inline constexpr std::size_t kSafeNameMaxBytes = 240;

// Maps any name to exactly one path component that stays inside its parent directory:
//  - "%", "/", "\", and characters below 0x20 (NUL included) and 0x7F become "%XX" (two
//    upper-case hex digits); a lone surrogate becomes "%uXXXX";
//  - "." and ".." get their first dot written as "%2E"; the empty name becomes "%";
//  - a result longer than kSafeNameMaxBytes is cut and marked with "~" and eight hex
//    digits of a hash of the whole name, keeping a short extension.
// Since "%" itself is always escaped, two different names (short enough not to be cut)
// never map to the same disk name.
std::u16string SafeDiskName(std::u16string_view name);
