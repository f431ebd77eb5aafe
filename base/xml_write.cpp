#include "base/xml_write.h"

XmlWriteOptions DefaultWriteOptions;

namespace {

class Writer {
public:
    Writer(const XmlWriteOptions& options, std::u16string& out,
           const XmlChildSource* extra = nullptr)
        : m_opt(options), m_out(out), m_extra(extra) {}

    void Node(const XmlNode& node, int depth) {
        switch (node.kind) {
        case XmlNodeKind::Element:
            Element(node, depth);
            break;
        case XmlNodeKind::Comment:
            Special(u"<!--", node.value, u"-->", depth);
            break;
        case XmlNodeKind::Cdata:
            Special(u"<![CDATA[", node.value, u"]]>", depth);
            break;
        case XmlNodeKind::Doctype:
            Special(u"<!DOCTYPE", node.value, u">", depth);
            break;
        }
    }

private:
    void LineStart(int depth) {
        if (m_opt.indent) {
            Break(depth);
        }
    }

    void Break(int depth) {
        m_out += u"\r\n";
        if (depth > 0) {
            m_out.append(static_cast<std::size_t>(depth), u'\t');
        }
    }

    void Encoded(const std::u16string& text) {
        if (!m_opt.encodeEntities || !m_opt.entities) {
            m_out += text;
            return;
        }
        const XmlEntityTable& table = *m_opt.entities;
        // The parser steps over the character after a backslash: a value ending in an odd
        // run of backslashes would swallow its closing quote or "<". Its last backslash is
        // written as a reference instead.
        std::size_t run = 0;
        while (run < text.size() && text[text.size() - 1 - run] == u'\\') {
            ++run;
        }
        const std::size_t raw = run % 2 == 1 ? text.size() - 1 : text.size();
        for (std::size_t i = 0; i < raw; ++i) {
            const char16_t c = text[i];
            const XmlEntity* hit = nullptr;
            for (std::size_t e = 0; e < table.count && !hit; ++e) {
                if (table.entries[e].character == c) {
                    hit = &table.entries[e];
                }
            }
            if (hit) {
                const int len = hit->length > 9 ? 9 : (hit->length < 0 ? 0 : hit->length);
                m_out.append(hit->reference, static_cast<std::size_t>(len));
            } else {
                m_out += c;
            }
        }
        if (raw < text.size()) {
            m_out += kXmlBackslashReference;
        }
    }

    void Special(const char16_t* open, const std::u16string& content, const char16_t* close,
                 int depth) {
        LineStart(depth);
        m_out += open;
        m_out += content;
        m_out += close;
    }

    void Element(const XmlNode& node, int depth) {
        LineStart(depth);
        m_out += u'<';
        m_out += node.name;
        if (!node.attributes.empty()) {
            m_out += u' ';
            for (const auto& attr : node.attributes) {
                m_out += attr->name;
                m_out += u'=';
                m_out += m_opt.quoteChar;
                Encoded(attr->value);
                m_out += m_opt.quoteChar;
                m_out += u' ';
            }
        }
        const bool kept = m_extra != nullptr && m_extra->HasChildren(node);
        const bool hasChildren = kept || !node.children.empty();
        if (!hasChildren && node.value.empty()) {
            m_out += u"/>";
            return;
        }
        m_out += u'>';
        const bool nested = m_opt.indent && hasChildren;
        const int inner = nested ? depth + 1 : depth;
        if (kept) {
            m_extra->WriteChildren(node, m_opt, inner, m_out);
        }
        for (const auto& child : node.children) {
            Node(*child, inner);
        }
        if (!node.value.empty()) {
            if (nested) {
                LineStart(inner);
            }
            Encoded(node.value);
        }
        if (nested) {
            Break(depth);
        }
        m_out += u"</";
        m_out += node.name;
        m_out += u'>';
    }

    const XmlWriteOptions& m_opt;
    std::u16string& m_out;
    const XmlChildSource* m_extra;
};

} // namespace

std::u16string WriteXml(const XmlNode* node, const XmlWriteOptions* options) {
    std::u16string out;
    if (node && options) {
        // Depth is tracked here rather than in the shared record, so concurrent writes
        // cannot disturb each other's indentation.
        Writer(*options, out).Node(*node, options->depth);
    }
    return out;
}

std::u16string WriteXml(const XmlNode& node, const XmlWriteOptions& options) {
    return WriteXml(&node, &options);
}

std::u16string WriteXml(const XmlNode& node, const XmlWriteOptions& options,
                        const XmlChildSource& extra) {
    std::u16string out;
    Writer(options, out, &extra).Node(node, options.depth);
    return out;
}
