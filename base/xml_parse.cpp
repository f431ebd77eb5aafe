// The forgiving parser behind XmlNode::Load. Every search stops at the terminating zero,
// so no input, however malformed, makes it read past the end of the text.
#include "base/format.h"
#include "base/xml_node.h"

#include <iterator>
#include <mutex>
#include <string_view>

namespace {

// Deeper documents are refused: recursion (parse, destruction, writing) must not be able
// to exhaust the stack on a hostile file. The program's own files are a few levels deep.
constexpr int kMaxDepth = kMaxXmlDepth;

// The error report is shared by parses on every thread; recording it is rare, so one lock.
std::mutex g_errorMutex;

bool IsSpace(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

bool IsBlank(const std::u16string& s) {
    return s.find_first_not_of(u' ') == std::u16string::npos;
}

char16_t FoldAscii(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
}

const char16_t* SkipSpace(const char16_t* p) {
    while (IsSpace(*p)) {
        ++p;
    }
    return p;
}

// The comparison stops at the text's zero before looking any further.
bool StartsWithNoCase(const char16_t* p, std::u16string_view marker) {
    for (std::size_t i = 0; i < marker.size(); ++i) {
        if (!p[i] || FoldAscii(p[i]) != FoldAscii(marker[i])) {
            return false;
        }
    }
    return true;
}

const char16_t* FindMarker(const char16_t* p, std::u16string_view marker) {
    for (; *p; ++p) {
        if (StartsWithNoCase(p, marker)) {
            return p;
        }
    }
    return nullptr;
}

const char16_t* FindChar(const char16_t* p, char16_t c) {
    while (*p && *p != c) {
        ++p;
    }
    return *p ? p : nullptr;
}

// Finds `c`, stepping over the character after each backslash; a backslash at the very end
// stops the search there. Returns the position of `c` or of the terminating zero.
const char16_t* FindUnescaped(const char16_t* p, char16_t c) {
    while (*p && *p != c) {
        if (*p == u'\\') {
            if (!p[1]) {
                return p + 1;
            }
            p += 2;
        } else {
            ++p;
        }
    }
    return p;
}

bool IsNameEnd(char16_t c) {
    return c == u' ' || c == u'/' || c == u'>' || c == u'\t' || c == u'\r' || c == u'\n';
}

void DecodeEntities(std::u16string& s, const XmlEntityTable& table) {
    if (s.find(u'&') == std::u16string::npos) {
        return;
    }
    std::u16string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        bool replaced = false;
        for (std::size_t e = 0; e < table.count; ++e) {
            const XmlEntity& row = table.entries[e];
            const std::size_t len = row.length > 9 ? 9 : (row.length < 1 ? 0 : row.length);
            if (len && s.compare(i, len, row.reference, len) == 0) {
                out.push_back(row.character);
                i += len;
                replaced = true;
                break;
            }
        }
        if (!replaced &&
            s.compare(i, std::size(kXmlBackslashReference) - 1, kXmlBackslashReference) == 0) {
            out.push_back(u'\\');
            i += std::size(kXmlBackslashReference) - 1;
            replaced = true;
        }
        if (!replaced) {
            out.push_back(s[i++]);
        }
    }
    s.swap(out);
}

void TakeValue(std::u16string& out, const char16_t* begin, const char16_t* end,
               const XmlParseOptions& options) {
    if (options.trimValues) {
        while (begin < end && IsSpace(*begin)) {
            ++begin;
        }
        while (end > begin && IsSpace(end[-1])) {
            --end;
        }
    }
    if (begin == end) {
        return;
    }
    out.append(begin, end);
    if (options.decodeEntities && options.entities) {
        DecodeEntities(out, *options.entities);
    }
}

void RecordError(XmlParseOptions& options, XmlParseError code, const char16_t* position,
                 const char16_t* format, const std::u16string& first,
                 const std::u16string& second = std::u16string()) {
    std::lock_guard<std::mutex> lock(g_errorMutex);
    if (options.errorOccurred) {
        return;
    }
    options.errorOccurred = true;
    options.errorPosition = position;
    options.errorCode = code;
    char16_t message[100];
    FormatToBuffer(message, std::size(message), format, first.c_str(), second.c_str());
    options.errorText += message;
}

enum class Leading { Element, ForParent, Fail };

// Comments, CDATA sections and DOCTYPEs inside an element belong to the parent's
// children; at the top of a document they are dropped. True when the node was handed over.
bool HandOver(XmlNode& node, XmlNodeKind kind, const char16_t* name, const char16_t* begin,
              const char16_t* end) {
    if (!node.parent) {
        return false;
    }
    auto special = std::make_unique<XmlNode>();
    special->kind = kind;
    special->name = name;
    special->value.assign(begin, end);
    node.parent->AppendChild(std::move(special));
    return true;
}

// Reads over processing instructions, comments, CDATA sections and DOCTYPEs from `p`.
Leading ReadLeading(XmlNode& node, const char16_t*& p) {
    bool again = true;
    while (again) {
        again = false;
        p = SkipSpace(p);
        if (StartsWithNoCase(p, u"<?")) {
            const char16_t* end = FindMarker(p + 2, u"?>");
            if (!end) {
                return Leading::Fail;
            }
            p = end + 2;
            again = true;
        }
        p = SkipSpace(p);
        if (StartsWithNoCase(p, u"<!--")) {
            const char16_t* end = FindMarker(p + 4, u"-->");
            if (!end) {
                return Leading::Fail;
            }
            const char16_t* begin = p + 4;
            p = end + 3;
            if (HandOver(node, XmlNodeKind::Comment, u"#COMMENT", begin, end)) {
                return Leading::ForParent;
            }
            again = true;
        }
        p = SkipSpace(p);
        if (StartsWithNoCase(p, u"<![CDATA[")) {
            const char16_t* end = FindMarker(p + 9, u"]]>");
            if (!end) {
                return Leading::Fail;
            }
            const char16_t* begin = p + 9;
            p = end + 3;
            if (HandOver(node, XmlNodeKind::Cdata, u"#CDATA", begin, end)) {
                return Leading::ForParent;
            }
        }
        p = SkipSpace(p);
        if (StartsWithNoCase(p, u"<!DOCTYPE")) {
            const char16_t* end = FindMarker(p + 9, u">");
            if (!end) {
                return Leading::Fail;
            }
            const char16_t* begin = p + 9;
            p = end + 1;
            if (HandOver(node, XmlNodeKind::Doctype, u"#DOCTYPE", begin, end)) {
                return Leading::ForParent;
            }
            again = true;
        }
    }
    return Leading::Element;
}

// Attributes from just after the name up to the ">" or "/" that ends them.
const char16_t* ParseAttributes(XmlNode& node, const char16_t* p, XmlParseOptions& options) {
    for (;;) {
        p = SkipSpace(p);
        if (!*p) {
            return nullptr;
        }
        if (*p == u'>' || *p == u'/') {
            return p;
        }
        const char16_t* start = p;
        const char16_t* end = p;
        while (*end && *end != u' ' && *end != u'=') {
            ++end;
        }
        if (!*end) {
            RecordError(options, XmlParseError::AttributeNoValue, start,
                        u"<%s> attribute has error ", node.name);
            return nullptr;
        }
        XmlAttribute* attr = node.AppendAttr(std::make_unique<XmlAttribute>());
        attr->name.assign(start, end);
        p = SkipSpace(end);
        if (*p != u'=') {
            continue;
        }
        p = SkipSpace(p + 1);
        if (*p == u'"' || *p == u'\'') {
            const char16_t* begin = p + 1;
            const char16_t* close = FindUnescaped(begin, *p);
            TakeValue(attr->value, begin, close, options);
            p = *close ? close + 1 : close;
        } else {
            const char16_t* close = p;
            while (*close && *close != u' ' && *close != u'>') {
                ++close;
            }
            TakeValue(attr->value, p, close, options);
            p = close;
        }
    }
}

// Children, text and the closing tag of an element whose start tag ended at `p` (a "<").
const char16_t* ParseContent(XmlNode& node, const char16_t* p, XmlParseOptions& options) {
    static const char16_t kItMustBeClosed[] = u"it must be closed with </%s>";
    for (;;) {
        if (!*p) {
            return p;
        }
        auto child = std::make_unique<XmlNode>();
        child->parent = &node;
        XmlNode* raw = child.get();
        const char16_t* next = raw->Load(p, &options);
        if (!raw->name.empty()) {
            // Not yet among the children: appending must not search them for it, or a
            // list of many children would take the square of their number to read.
            child->parent = nullptr;
            node.AppendChild(std::move(child));
        }
        if (!next) {
            return nullptr;
        }
        p = next;
        if (p[0] == u'<' && p[1] == u'/') {
            const char16_t* closeName = SkipSpace(p + 2);
            const char16_t* end = closeName;
            while (*end && *end != u' ' && *end != u'>') {
                ++end;
            }
            if (!*end) {
                RecordError(options, XmlParseError::NotClosed, closeName, kItMustBeClosed,
                            node.name);
                return nullptr;
            }
            if (std::u16string_view(closeName, end - closeName) == node.name) {
                return end + 1;
            }
            RecordError(options, XmlParseError::NotNested, end + 1,
                        u"'<%s> ... </%s>' is not wel-formed.", node.name,
                        std::u16string(closeName, end));
            return nullptr;
        }
        if (IsBlank(node.value) && *p != u'<') {
            const char16_t* lt = FindUnescaped(p, u'<');
            if (*lt != u'<') {
                RecordError(options, XmlParseError::NotClosed, p, kItMustBeClosed, node.name);
                return nullptr;
            }
            TakeValue(node.value, p, lt, options);
            p = lt;
        }
    }
}

} // namespace

const char16_t* XmlNode::Load(const char16_t* text, XmlParseOptions* options) {
    Clear();
    if (!text || !options) {
        return nullptr;
    }
    int depth = 0;
    for (const XmlNode* n = parent; n; n = n->parent) {
        if (++depth > kMaxDepth) {
            return nullptr;
        }
    }

    // Find the element's "<", reading over whatever precedes it.
    const char16_t* p = text;
    for (;;) {
        p = FindChar(p, u'<');
        if (!p) {
            return nullptr;
        }
        if (p[1] == u'/') {
            return p; // a closing tag: the parent's to read
        }
        switch (ReadLeading(*this, p)) {
        case Leading::Fail:
            return nullptr;
        case Leading::ForParent:
            return p;
        case Leading::Element:
            break;
        }
        if (*p == u'<') {
            break;
        }
    }

    const char16_t* nameEnd = p + 1;
    while (*nameEnd && !IsNameEnd(*nameEnd)) {
        ++nameEnd;
    }
    if (!*nameEnd) {
        return nullptr;
    }
    name.assign(p + 1, nameEnd);

    p = ParseAttributes(*this, nameEnd, *options);
    if (!p) {
        return nullptr;
    }
    if (*p == u'/') {
        if (p[1] == u'>') {
            return p + 2;
        }
        RecordError(*options, XmlParseError::ElementNotClosed, p + 1, u"Element must be closed.",
                    name);
        return nullptr;
    }

    const char16_t* lt = FindUnescaped(p + 1, u'<');
    if (*lt != u'<') {
        RecordError(*options, XmlParseError::NotClosed, p + 1, u"%s must be closed with </%s>",
                    name, name);
        return nullptr;
    }
    TakeValue(value, p + 1, lt, *options);
    return ParseContent(*this, lt, *options);
}
