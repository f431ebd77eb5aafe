// The in-memory XML tree every document of the program is held in, and the options the
// forgiving parser takes. Text is UTF-16; positions are pointers into the parsed text.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

enum class XmlNodeKind { Element, Comment, Cdata, Doctype };

enum class XmlParseError {
    None = 0,
    ElementNotClosed = 1,
    NotClosed = 2,
    NotNested = 3,
    AttributeNoValue = 4,
};

// One row of an entity table: the character and the reference text standing for it.
struct XmlEntity {
    char16_t character;
    char16_t reference[10]; // at most 9 characters and a terminator
    int length;
};

// An ordered list of entities; the first matching row wins, both ways.
struct XmlEntityTable {
    const XmlEntity* entries = nullptr;
    std::size_t count = 0;
};

// "&amp;" "&quot;" "&apos;" "&lt;" "&gt;", in that order.
extern const XmlEntityTable DefaultEntities;

// The reference a writer puts in place of a value's last backslash when that backslash
// would hide the closing quote or "<" from the parser (a value ending in an odd run of
// backslashes). Every other backslash is written as it is, so files without such a
// value keep their bytes. A parse that decodes entities turns it back into "\".
// The deepest nesting the parser reads: an element with more enclosing elements than this
// fails to load. Writers of documents meant to be read back stay within it.
inline constexpr int kMaxXmlDepth = 256;

inline constexpr char16_t kXmlBackslashReference[] = u"&#92;";

struct XmlParseOptions {
    bool trimValues = true;
    bool decodeEntities = true;
    const XmlEntityTable* entities = &DefaultEntities;
    // The first error of every parse made with this record; later errors leave it alone.
    bool errorOccurred = false;
    const char16_t* errorPosition = nullptr;
    XmlParseError errorCode = XmlParseError::None;
    std::u16string errorText;
};

// Shared by every parse of the program.
extern XmlParseOptions DefaultParseOptions;

class XmlNode;

struct XmlAttribute {
    std::u16string name;
    std::u16string value;
    XmlNode* parent = nullptr;
};

// A new attribute owned by the caller until it is appended to a node.
XmlAttribute* CreateAttr(const char16_t* name, const char16_t* value);

class XmlNode {
public:
    XmlNode() = default;
    XmlNode(const XmlNode&) = delete;
    XmlNode& operator=(const XmlNode&) = delete;
    virtual ~XmlNode();

    // Clears the node and parses the first element of `text` into it. Returns the position
    // just past what was consumed, or nullptr on failure. `text` ends with a zero.
    virtual const char16_t* Load(const char16_t* text, XmlParseOptions* options);

    // Destroys children and attributes and empties name and value; kind and parent stay.
    void Clear();

    XmlAttribute* FindAttr(const char16_t* name) const;
    XmlNode* FindChild(const char16_t* name) const;
    XmlNode* GetChild(std::size_t index) const;
    std::size_t ChildCount() const { return children.size(); }
    std::size_t AttrCount() const { return attributes.size(); }

    // Finds the child named `name`; a null `value` empties its value, any other value
    // replaces it unless the two differ only in letter case.
    XmlNode* SetChildValue(const char16_t* name, const char16_t* value);

    // Take ownership; a node or attribute that already belongs to another node is moved
    // over. Returns the argument, or nullptr when it is null or appending would make a cycle.
    XmlNode* AppendChild(XmlNode* child);
    XmlNode* AppendChild(std::unique_ptr<XmlNode> child);
    XmlAttribute* AppendAttr(XmlAttribute* attribute);
    XmlAttribute* AppendAttr(std::unique_ptr<XmlAttribute> attribute);

    // Destroys `child` with its subtree when it is one of the children.
    bool RemoveChild(XmlNode* child);

    std::u16string name;
    std::u16string value;
    XmlNode* parent = nullptr;
    std::vector<std::unique_ptr<XmlNode>> children;
    std::vector<std::unique_ptr<XmlAttribute>> attributes;
    XmlNodeKind kind = XmlNodeKind::Element;

private:
    std::unique_ptr<XmlNode> Detach(XmlNode* child);
    std::unique_ptr<XmlAttribute> DetachAttr(XmlAttribute* attribute);
};
