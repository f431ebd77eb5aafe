// The tree of the account's server folders, filled from the server folder file: one item per
// folder, its text the folder's name and its data the folder's fid. Used by the main window
// and by the server folder picker.
#pragma once

#include "serverdir/server_tree_view.h"

#include <QTreeWidget>

#include <string>

class CServerDirTree : public QTreeWidget, public IServerTreeView {
public:
    static constexpr int kFidRole = Qt::UserRole;

    explicit CServerDirTree(QWidget* parent = nullptr);

    // IServerTreeView
    TreeItemHandle InsertItem(TreeItemHandle parent, const std::u16string& text,
                              std::intptr_t data) override;
    std::u16string GetItemText(TreeItemHandle item) const override;
    TreeItemHandle GetParentItem(TreeItemHandle item) const override;

    static TreeItemHandle Handle(const QTreeWidgetItem* item) { return item; }
    static QTreeWidgetItem* Item(TreeItemHandle handle) {
        return const_cast<QTreeWidgetItem*>(static_cast<const QTreeWidgetItem*>(handle));
    }

    // Empties the tree, fills it from the file at `path` (null: stays empty) and expands the
    // top item.
    void Reload(const char16_t* path);
    // Expands every item that has children, children before their parent.
    void ExpandAllItems();

    // The folder's fid; 0 for a null item.
    int ItemFid(const QTreeWidgetItem* item) const;
    // The names from the top item down to `item`, joined like CGlobalVar::GetTreeItemPath.
    std::u16string ItemPath(const QTreeWidgetItem* item) const;
    // The folder's thumbnail cache directory (ServerFolderCacheDir).
    std::u16string ItemCacheDir(const QTreeWidgetItem* item) const;

private:
    void ExpandBelow(QTreeWidgetItem* item);
};
