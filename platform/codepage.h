// Conversions between internal UTF-16 text and the narrow ("ANSI") encoding of the
// system, which is UTF-8 here. Surrogate pairs are converted as pairs; a lone surrogate
// or an invalid byte becomes U+FFFD.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

std::string ToNarrow(std::u16string_view text);
std::u16string FromNarrow(std::string_view bytes);

// The fixed-capacity forms the program's buffers use, like the system calls they
// replace: `src` is zero-terminated, `cap` counts destination units including the
// terminator. Returns the units written including the terminator, or 0 when the text
// does not fit (the destination then holds an empty string when cap > 0).
int WideToNarrow(const char16_t* src, char* dst, int cap);
int NarrowToWide(const char* src, char16_t* dst, int cap);

// Length of a zero-terminated UTF-16 string.
std::size_t U16Len(const char16_t* s);

} // namespace platform
