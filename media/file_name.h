// A path of the program's text as Qt's file functions must get it.
#pragma once

#include <QString>

#include <string>
#include <string_view>

#include "platform/codepage.h"

namespace media {

// The string whose local form is the very bytes platform::ToNarrow gives: a lone surrogate
// in a name then finds its file (Qt alone would write U+FFFD for it) and the thumbnail
// cache's URI names those bytes. Any other name is the same string as before.
inline QString QtFileName(std::u16string_view path) {
    const std::string bytes = platform::ToNarrow(path);
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

} // namespace media
