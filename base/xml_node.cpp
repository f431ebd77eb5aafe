#include "base/xml_node.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr XmlEntity kDefaultEntityRows[] = {
    {u'&', u"&amp;", 5}, {u'"', u"&quot;", 6}, {u'\'', u"&apos;", 6},
    {u'<', u"&lt;", 4},  {u'>', u"&gt;", 4},
};

char16_t FoldAscii(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
}

bool EqualNoCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

constinit const XmlEntityTable DefaultEntities{kDefaultEntityRows, std::size(kDefaultEntityRows)};

XmlParseOptions DefaultParseOptions;

XmlAttribute* CreateAttr(const char16_t* name, const char16_t* value) {
    auto* attr = new XmlAttribute;
    if (name) {
        attr->name = name;
    }
    if (value) {
        attr->value = value;
    }
    return attr;
}

XmlNode::~XmlNode() {
    Clear();
}

void XmlNode::Clear() {
    // Move the subtree out first so a destructor that looks back at this node finds it
    // already consistent.
    std::vector<std::unique_ptr<XmlNode>> oldChildren;
    oldChildren.swap(children);
    std::vector<std::unique_ptr<XmlAttribute>> oldAttributes;
    oldAttributes.swap(attributes);
    oldChildren.clear();
    oldAttributes.clear();
    name.clear();
    value.clear();
}

XmlAttribute* XmlNode::FindAttr(const char16_t* attrName) const {
    if (!attrName) {
        return nullptr;
    }
    std::u16string_view wanted(attrName);
    for (const auto& attr : attributes) {
        if (attr->name == wanted) {
            return attr.get();
        }
    }
    return nullptr;
}

XmlNode* XmlNode::FindChild(const char16_t* childName) const {
    if (!childName) {
        return nullptr;
    }
    std::u16string_view wanted(childName);
    for (const auto& child : children) {
        if (child->name == wanted) {
            return child.get();
        }
    }
    return nullptr;
}

XmlNode* XmlNode::GetChild(std::size_t index) const {
    return index < children.size() ? children[index].get() : nullptr;
}

XmlNode* XmlNode::SetChildValue(const char16_t* childName, const char16_t* newValue) {
    XmlNode* child = FindChild(childName);
    if (!child) {
        return nullptr;
    }
    if (!newValue) {
        child->value.clear();
    } else if (!EqualNoCase(child->value, newValue)) {
        child->value = newValue;
    }
    return child;
}

std::unique_ptr<XmlNode> XmlNode::Detach(XmlNode* child) {
    auto it = std::find_if(children.begin(), children.end(),
                           [child](const std::unique_ptr<XmlNode>& c) { return c.get() == child; });
    if (it == children.end()) {
        return nullptr;
    }
    std::unique_ptr<XmlNode> owned = std::move(*it);
    children.erase(it);
    owned->parent = nullptr;
    return owned;
}

std::unique_ptr<XmlAttribute> XmlNode::DetachAttr(XmlAttribute* attribute) {
    auto it = std::find_if(
        attributes.begin(), attributes.end(),
        [attribute](const std::unique_ptr<XmlAttribute>& a) { return a.get() == attribute; });
    if (it == attributes.end()) {
        return nullptr;
    }
    std::unique_ptr<XmlAttribute> owned = std::move(*it);
    attributes.erase(it);
    owned->parent = nullptr;
    return owned;
}

XmlNode* XmlNode::AppendChild(XmlNode* child) {
    if (!child) {
        return nullptr;
    }
    // A node may not become its own descendant: the tree would own itself.
    for (const XmlNode* n = this; n; n = n->parent) {
        if (n == child) {
            return nullptr;
        }
    }
    std::unique_ptr<XmlNode> owned;
    if (child->parent) {
        owned = child->parent->Detach(child);
    }
    if (!owned) {
        owned.reset(child);
    }
    owned->parent = this;
    children.push_back(std::move(owned));
    return child;
}

XmlNode* XmlNode::AppendChild(std::unique_ptr<XmlNode> child) {
    XmlNode* raw = child.release();
    XmlNode* appended = AppendChild(raw);
    if (!appended) {
        delete raw; // refused: the caller gave up ownership, so nobody else will free it
    }
    return appended;
}

XmlAttribute* XmlNode::AppendAttr(XmlAttribute* attribute) {
    if (!attribute) {
        return nullptr;
    }
    std::unique_ptr<XmlAttribute> owned;
    if (attribute->parent) {
        owned = attribute->parent->DetachAttr(attribute);
    }
    if (!owned) {
        owned.reset(attribute);
    }
    owned->parent = this;
    attributes.push_back(std::move(owned));
    return attribute;
}

XmlAttribute* XmlNode::AppendAttr(std::unique_ptr<XmlAttribute> attribute) {
    return AppendAttr(attribute.release());
}

bool XmlNode::RemoveChild(XmlNode* child) {
    if (!child) {
        return false;
    }
    std::unique_ptr<XmlNode> owned = Detach(child);
    return owned != nullptr;
}
