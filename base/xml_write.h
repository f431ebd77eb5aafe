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

// Children an owner keeps outside the tree (a long list held compactly): the writer asks it
// about every element and, for one it claims, has it append the text of those children,
// each written at `depth` as the writer would, before the element's own children.
class XmlChildSource {
public:
    virtual ~XmlChildSource() = default;
    // Whether `element` has children kept here.
    virtual bool HasChildren(const XmlNode& element) const = 0;
    virtual void WriteChildren(const XmlNode& element, const XmlWriteOptions& options, int depth,
                               std::u16string& out) const = 0;
};

// The node and its subtree as text; empty for a null node or null options. The options
// record is only read, so writes on several threads may share it.
std::u16string WriteXml(const XmlNode* node, const XmlWriteOptions* options);
std::u16string WriteXml(const XmlNode& node, const XmlWriteOptions& options);
// The same with children kept outside the tree.
std::u16string WriteXml(const XmlNode& node, const XmlWriteOptions& options,
                        const XmlChildSource& extra);
