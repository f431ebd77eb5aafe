// A tree view the server folder tree can be loaded into. The user interface adapts its
// tree widget to this; tests use a plain in-memory tree.
#pragma once

#include <cstdint>
#include <string>

#include "app/tree_view.h"

class IServerTreeView : public ITreeView {
public:
    // Adds an item below `parent` (nullptr: a top-level item) after its last child, with
    // `text` and the item data `data`. Returns the new item, nullptr on failure.
    virtual TreeItemHandle InsertItem(TreeItemHandle parent, const std::u16string& text,
                                      std::intptr_t data) = 0;
};
