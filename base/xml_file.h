// Reading XML documents from disk and writing them back. Files written are UTF-16LE with
// a byte order mark and the declaration <?xml version="1.0" encoding="UTF-16"?>.
#pragma once

#include "base/xml_node.h"

#include <cstddef>
#include <string>

// The largest file LoadFile reads; SaveFile refuses to write more, so whatever it writes
// can be read back.
inline constexpr std::size_t kMaxXmlFileBytes = std::size_t{256} << 20;

// Parses the file at `path` into `node` with DefaultParseOptions. A file starting with
// FF FE is read as UTF-16LE, any other as narrow text. False for a missing, unreadable or
// empty file (last error from the file system) and for a parse failure (last error left).
bool LoadFile(const char16_t* path, XmlNode* node);
bool LoadFile(const std::u16string& path, XmlNode& node);

// The parse half of LoadFile, for bytes already in memory.
bool LoadXmlBytes(const void* data, std::size_t n, XmlNode* node);

// Replaces the file at `path` with the byte order mark, the declaration and `text`. The
// old file stays intact unless the whole new content reached the disk. Null arguments
// fail with last error 87. `mode` -1 keeps the permission bits of the file replaced; any
// other value is given to the new file (0600 for a file that holds a password). A document
// of more than kMaxXmlFileBytes is not written (last error kErrFileTooLarge).
bool SaveFile(const char16_t* text, const char16_t* path, int mode = -1);
bool SaveFile(const std::u16string& text, const std::u16string& path, int mode = -1);
