#include "upload/list_task_store.h"

#include <algorithm>
#include <functional>
#include <string_view>

#include "upload/upload_list_cache.h"

namespace {

// Values are kept 8 bits to a unit where they can be (paths are mostly ASCII): each UTF-16
// unit as one to three bytes, as UTF-8 encodes a code point, surrogates one by one so that
// any text comes back unchanged. No byte of a unit is 0, the separator of the values.
void Encode(std::u16string_view text, std::string& out) {
    for (char16_t c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
}

std::u16string Decode(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        const auto at = [&](std::size_t k) {
            return i + k < bytes.size() ? static_cast<unsigned char>(bytes[i + k]) & 0x3F : 0;
        };
        if (b < 0x80) {
            out += static_cast<char16_t>(b);
            i += 1;
        } else if (b < 0xE0) {
            out += static_cast<char16_t>(((b & 0x1F) << 6) | at(1));
            i += 2;
        } else {
            out += static_cast<char16_t>(((b & 0x0F) << 12) | (at(1) << 6) | at(2));
            i += 3;
        }
    }
    return out;
}

std::u16string Field(const std::string& packed, std::size_t k) {
    std::size_t begin = 0;
    for (std::size_t i = 0; i < k; ++i)
        begin = packed.find('\0', begin) + 1;
    const std::size_t end = packed.find('\0', begin);
    return Decode(std::string_view(packed).substr(
        begin, end == std::string::npos ? std::string::npos : end - begin));
}

std::string Pack(const std::u16string_view* values) {
    std::size_t n = kListedCount - 1;
    for (std::size_t k = 0; k < kListedCount; ++k)
        n += values[k].size();
    std::string packed;
    packed.reserve(n);
    for (std::size_t k = 0; k < kListedCount; ++k) {
        if (k > 0)
            packed += '\0';
        Encode(values[k], packed);
    }
    packed.shrink_to_fit();
    return packed;
}

std::size_t KeyHash(const std::u16string& path) {
    return std::hash<std::u16string>{}(ListPathKey(path));
}

} // namespace

bool ListTaskStore::UsualShape(const XmlNode& node) {
    if (node.kind != XmlNodeKind::Element || node.name != kTaskElementName ||
        !node.children.empty() || !node.value.empty() || node.attributes.size() != kListedCount)
        return false;
    for (std::size_t k = 0; k < kListedCount; ++k) {
        const std::u16string& value = node.attributes[k]->value;
        if (node.attributes[k]->name != kListedNames[k] ||
            value.find(u'\0') != std::u16string::npos)
            return false;
    }
    return true;
}

void ListTaskStore::Adopt(XmlNode& group) {
    std::vector<std::unique_ptr<XmlNode>> children = std::move(group.children);
    group.children.clear();
    m_slots.reserve(m_slots.size() + children.size());
    for (std::unique_ptr<XmlNode>& child : children) {
        Slot slot;
        if (UsualShape(*child)) {
            std::u16string_view values[kListedCount];
            for (std::size_t k = 0; k < kListedCount; ++k)
                values[k] = child->attributes[k]->value;
            slot.packed = Pack(values);
        } else {
            child->parent = nullptr;
            slot.other = std::move(child);
        }
        m_slots.push_back(std::move(slot));
        Index(m_slots.size() - 1);
    }
    // The tree goes only now, all at once: the values made from it then lie apart from the
    // memory it leaves, which can go back to the system whole instead of staying pinned
    // by one small value per page.
}

void ListTaskStore::Append(const std::u16string (&values)[kListedCount]) {
    std::u16string_view views[kListedCount];
    std::copy(std::begin(values), std::end(values), views);
    Slot slot;
    slot.packed = Pack(views);
    m_slots.push_back(std::move(slot));
    Index(m_slots.size() - 1);
}

bool ListTaskStore::IsTask(std::size_t slot) const {
    const Slot& s = m_slots[slot];
    return !s.packed.empty() || (s.other && s.other->kind == XmlNodeKind::Element);
}

std::u16string ListTaskStore::PathOf(const Slot& slot) const {
    if (!slot.packed.empty())
        return Field(slot.packed, kListedPath);
    const XmlAttribute* a = slot.other->FindAttr(kListedNames[kListedPath]);
    return a != nullptr ? a->value : std::u16string();
}

void ListTaskStore::Index(std::size_t slot) {
    if (IsTask(slot))
        m_index.emplace(KeyHash(PathOf(m_slots[slot])), static_cast<uint32_t>(slot));
}

std::size_t ListTaskStore::Find(const std::u16string& path) const {
    const std::u16string key = ListPathKey(path);
    const auto [first, last] = m_index.equal_range(std::hash<std::u16string>{}(key));
    std::size_t found = kNone;
    // Paths that only share a hash share the range; the first in file order wins.
    for (auto it = first; it != last; ++it)
        if (it->second < found && ListPathKey(PathOf(m_slots[it->second])) == key)
            found = it->second;
    return found;
}

std::u16string ListTaskStore::Value(std::size_t slot, std::size_t k) const {
    const Slot& s = m_slots[slot];
    if (!s.packed.empty())
        return Field(s.packed, k);
    const XmlAttribute* a = s.other ? s.other->FindAttr(kListedNames[k]) : nullptr;
    return a != nullptr ? a->value : std::u16string();
}

void ListTaskStore::Replace(std::size_t slot, std::size_t k, const std::u16string& value) {
    Slot& s = m_slots[slot];
    if (!s.packed.empty()) {
        if (FoldListText(Field(s.packed, k)) == FoldListText(value) ||
            value.find(u'\0') != std::u16string::npos)
            return;
        std::u16string values[kListedCount];
        std::u16string_view views[kListedCount];
        for (std::size_t i = 0; i < kListedCount; ++i) {
            values[i] = i == k ? value : Field(s.packed, i);
            views[i] = values[i];
        }
        s.packed = Pack(views);
        return;
    }
    XmlAttribute* a = s.other ? s.other->FindAttr(kListedNames[k]) : nullptr;
    if (a != nullptr && FoldListText(a->value) != FoldListText(value))
        a->value = value;
}

bool ListTaskStore::Remove(std::size_t slot) {
    if (slot >= m_slots.size() || m_slots[slot].Hole())
        return false;
    if (IsTask(slot)) {
        const auto [first, last] = m_index.equal_range(KeyHash(PathOf(m_slots[slot])));
        for (auto it = first; it != last; ++it)
            if (it->second == slot) {
                m_index.erase(it);
                break;
            }
    }
    m_slots[slot] = Slot();
    ++m_holes;
    return true;
}

void ListTaskStore::Compact() {
    if (m_holes == 0)
        return;
    std::erase_if(m_slots, [](const Slot& s) { return s.Hole(); });
    m_slots.shrink_to_fit();
    m_holes = 0;
    m_index.clear();
    for (std::size_t i = 0; i < m_slots.size(); ++i)
        Index(i);
}

void ListTaskStore::Write(const XmlWriteOptions& options, int depth, std::u16string& out) const {
    XmlWriteOptions at = options;
    at.depth = depth;
    // One element of the usual shape, given each task's values in turn: the writer then
    // makes of them exactly what it makes of the tree they were read from.
    XmlNode task;
    task.name = kTaskElementName;
    for (const char16_t* name : kListedNames)
        task.AppendAttr(CreateAttr(name, u""));
    for (const Slot& s : m_slots) {
        if (s.Hole())
            continue;
        if (s.other) {
            out += WriteXml(*s.other, at);
            continue;
        }
        for (std::size_t k = 0; k < kListedCount; ++k)
            task.attributes[k]->value = Field(s.packed, k);
        out += WriteXml(task, at);
    }
}
