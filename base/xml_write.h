// Serialisation of an XmlNode tree back to UTF-16 text.
#pragma once

#include "base/xml_node.h"

#include <string>

struct XmlWriteOptions {
    bool indent = true; // each element, comment, CDATA and DOCTYPE on its own tab-indented line
    bool encodeEntities = true;
    char16_t quoteChar = u'"';
    const XmlEntityTable* entities = &DefaultEntities;
    int depth = 0; // indentation of the node written; a write leaves it as it found it
};

// Shared by every write of the program.
extern XmlWriteOptions DefaultWriteOptions;

// The node and its subtree as text; empty for a null node or null options. The options
// record is only read, so writes on several threads may share it.
std::u16string WriteXml(const XmlNode* node, const XmlWriteOptions* options);
std::u16string WriteXml(const XmlNode& node, const XmlWriteOptions& options);
