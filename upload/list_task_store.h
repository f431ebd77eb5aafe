// The task elements of one group of the upload list file, held compactly. A task element of
// the usual shape (QumoFileInfo with the eleven attributes in their order and nothing else)
// is kept as its values alone, coded 8 bits to a unit where they can be: about a tenth
// of its tree; any other child keeps its tree.
// Written back, both give the bytes the whole tree would. Removing a task leaves a hole
// that the next compaction fills, so the end of a task moves no other task.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/xml.h"

// The attributes of a task element, in the order the file has them.
inline constexpr const char16_t* kListedNames[] = {
    u"FileName",     u"FileAllPath", u"FileExt",   u"FileSize", u"NetDirId",  u"NetDirPath",
    u"UploadStatus", u"UploadId",    u"UploadMid", u"UploadIp", u"UploadPort"};
inline constexpr std::size_t kListedCount = std::size(kListedNames);
enum ListedValue : std::size_t {
    kListedName,
    kListedPath,
    kListedExt,
    kListedSize,
    kListedDirId,
    kListedDirPath,
    kListedStatus,
    kListedId,
    kListedMid,
    kListedIp,
    kListedPort,
};
inline constexpr char16_t kTaskElementName[] = u"QumoFileInfo";

class ListTaskStore {
public:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    // Takes over every child of `group`; they leave the tree.
    void Adopt(XmlNode& group);
    // Appends a task element of the usual shape.
    void Append(const std::u16string (&values)[kListedCount]);

    // The first task element in file order whose path equals `path` as the list compares
    // paths (trimmed, any case); kNone when there is none.
    std::size_t Find(const std::u16string& path) const;
    // The value of attribute `k` of the element at `slot`; empty when it has none.
    std::u16string Value(std::size_t slot, std::size_t k) const;
    // Replaces the value of attribute `k` when the element has it and the value differs
    // other than in letter case; a missing attribute stays missing.
    void Replace(std::size_t slot, std::size_t k, const std::u16string& value);
    bool Remove(std::size_t slot);

    // Slots in file order, holes included; IsTask tells the task elements among them.
    std::size_t Slots() const { return m_slots.size(); }
    bool IsTask(std::size_t slot) const;
    // Children held (holes excluded).
    std::size_t Count() const { return m_slots.size() - m_holes; }

    // Fills the holes (slots are renumbered).
    void Compact();
    // Appends every child's text, each written at `depth`.
    void Write(const XmlWriteOptions& options, int depth, std::u16string& out) const;

private:
    struct Slot {
        std::string packed;             // the values, 8-bit coded, joined by 0 (no value holds one)
        std::unique_ptr<XmlNode> other; // a child of another shape
        bool Hole() const { return packed.empty() && !other; }
    };
    static bool UsualShape(const XmlNode& node);
    std::u16string PathOf(const Slot& slot) const;
    void Index(std::size_t slot);

    std::vector<Slot> m_slots;
    std::size_t m_holes = 0;
    // Task elements by the hash of their path key (not the key itself, which would hold
    // every path a second time).
    std::unordered_multimap<std::size_t, uint32_t> m_index;
};
