// The little the core needs from a tree view: an item's text and its parent. The user
// interface adapts its own tree widget to this, so the core does not depend on it.
#pragma once

#include <string>

// An item of a tree view, opaque to the core; nullptr is "no item".
using TreeItemHandle = const void*;

class ITreeView {
public:
    virtual ~ITreeView() = default;
    virtual std::u16string GetItemText(TreeItemHandle item) const = 0;
    // nullptr for a top-level item.
    virtual TreeItemHandle GetParentItem(TreeItemHandle item) const = 0;
};
