#include "upload/list_task_store.h"

#include <algorithm>
#include <functional>

#include "upload/upload_list_cache.h"

namespace {

std::u16string_view Field(const std::u16string& packed, std::size_t k) {
    std::size_t begin = 0;
    for (std::size_t i = 0; i < k; ++i)
        begin = packed.find(u'\0', begin) + 1;
    const std::size_t end = packed.find(u'\0', begin);
    return std::u16string_view(packed).substr(
        begin, end == std::u16string::npos ? std::u16string::npos : end - begin);
}

std::u16string Pack(const std::u16string* values) {
    std::size_t n = kListedCount - 1;
    for (std::size_t k = 0; k < kListedCount; ++k)
        n += values[k].size();
    std::u16string packed;
    packed.reserve(n);
    for (std::size_t k = 0; k < kListedCount; ++k) {
        if (k > 0)
            packed += u'\0';
        packed += values[k];
    }
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
            std::u16string values[kListedCount];
            for (std::size_t k = 0; k < kListedCount; ++k)
                values[k] = std::move(child->attributes[k]->value);
            slot.packed = Pack(values);
            child.reset(); // freed as we go: the tree of a long list is large
        } else {
            child->parent = nullptr;
            slot.other = std::move(child);
        }
        m_slots.push_back(std::move(slot));
        Index(m_slots.size() - 1);
    }
}

void ListTaskStore::Append(const std::u16string (&values)[kListedCount]) {
    Slot slot;
    slot.packed = Pack(values);
    m_slots.push_back(std::move(slot));
    Index(m_slots.size() - 1);
}

bool ListTaskStore::IsTask(std::size_t slot) const {
    const Slot& s = m_slots[slot];
    return !s.packed.empty() || (s.other && s.other->kind == XmlNodeKind::Element);
}

std::u16string ListTaskStore::PathOf(const Slot& slot) const {
    if (!slot.packed.empty())
        return std::u16string(Field(slot.packed, kListedPath));
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
        return std::u16string(Field(s.packed, k));
    const XmlAttribute* a = s.other ? s.other->FindAttr(kListedNames[k]) : nullptr;
    return a != nullptr ? a->value : std::u16string();
}

void ListTaskStore::Replace(std::size_t slot, std::size_t k, const std::u16string& value) {
    Slot& s = m_slots[slot];
    if (!s.packed.empty()) {
        if (FoldListText(std::u16string(Field(s.packed, k))) == FoldListText(value) ||
            value.find(u'\0') != std::u16string::npos)
            return;
        std::u16string values[kListedCount];
        for (std::size_t i = 0; i < kListedCount; ++i)
            values[i] = i == k ? value : std::u16string(Field(s.packed, i));
        s.packed = Pack(values);
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
            task.attributes[k]->value.assign(Field(s.packed, k));
        out += WriteXml(task, at);
    }
}
