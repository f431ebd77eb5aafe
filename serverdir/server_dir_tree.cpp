// Reading the server folder tree file back into a tree view.
#include <climits>
#include <cstdint>
#include <vector>

#include "base/log.h"
#include "base/xml.h"
#include "platform/files.h"
#include "platform/lasterror.h"
#include "serverdir/server_dir_info.h"

namespace {

bool IsWideSpace(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

// wcstol(text, nullptr, 10) of a system whose long has 32 bits: leading white space, an
// optional sign, decimal digits; out of range saturates; anything else reads 0.
std::intptr_t WideToLong(const std::u16string& text) {
    std::size_t i = 0;
    while (i < text.size() && IsWideSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        negative = text[i++] == u'-';
    std::int64_t v = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        v = v * 10 + (text[i] - u'0');
        if (v > static_cast<std::int64_t>(INT32_MAX) + 1)
            v = static_cast<std::int64_t>(INT32_MAX) + 1; // already out of range
    }
    if (negative)
        v = -v;
    if (v > INT32_MAX)
        v = INT32_MAX;
    if (v < INT32_MIN)
        v = INT32_MIN;
    return static_cast<std::intptr_t>(v);
}

std::u16string AttrText(const XmlNode& node, const char16_t* name) {
    const XmlAttribute* a = node.FindAttr(name);
    return a ? a->value : std::u16string();
}

TreeItemHandle InsertFolder(IServerTreeView& tree, TreeItemHandle parent, const XmlNode& node) {
    return tree.InsertItem(parent, AttrText(node, u"name"), WideToLong(AttrText(node, u"fid")));
}

} // namespace

void LoadServerDirTree(IServerTreeView* tree, const char16_t* path) {
    if (!tree || !path)
        return;
    platform::FileAttributes attr;
    if (!platform::GetFileAttributesEx(path, attr))
        return;
    XmlNode doc;
    if (!LoadFile(path, &doc)) {
        LogError(u"[Qumolan] Failed to call xml.Load, errorcode is %d",
                 platform::GetLastErrorCode());
        return;
    }
    if (doc.ChildCount() == 0)
        return;
    const XmlNode* top = doc.GetChild(0);
    if (!top) {
        LogError(u"[Qumolan] Failed to call GetChild");
        return;
    }

    // Depth first in document order, with a stack of our own: the file comes from disk and
    // its nesting is not trusted to fit the thread's stack.
    struct Frame {
        const XmlNode* node;
        TreeItemHandle item;
        std::size_t next;
    };
    TreeItemHandle topItem = InsertFolder(*tree, nullptr, *top);
    if (!topItem)
        return;
    std::vector<Frame> stack{{top, topItem, 0}};
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.next >= f.node->ChildCount()) {
            stack.pop_back();
            continue;
        }
        const XmlNode* child = f.node->GetChild(f.next++);
        if (!child || child->kind != XmlNodeKind::Element)
            continue;
        TreeItemHandle item = InsertFolder(*tree, f.item, *child);
        if (item)
            stack.push_back({child, item, 0});
    }
}
