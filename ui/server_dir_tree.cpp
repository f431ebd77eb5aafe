#include "ui/server_dir_tree.h"

#include "app/global_var.h"
#include "serverdir/server_dir_info.h"

#include <QApplication>
#include <QFileIconProvider>
#include <QHeaderView>
#include <QPalette>
#include <QStyle>
#include <QStyledItemDelegate>

#include <algorithm>

namespace {

constexpr int kRowHeight = 26;
constexpr int kIconSize = 18;

const QColor& TreeTextColour() {
    static const QColor colour(61, 88, 109);
    return colour;
}

// Rows a little taller than the font needs, so the tree reads comfortably.
class RowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(std::max(size.height(), kRowHeight));
        return size;
    }
};

QIcon FolderIcon() {
    QIcon icon = QFileIconProvider().icon(QFileIconProvider::Folder);
    if (icon.isNull()) {
        icon = QApplication::style()->standardIcon(QStyle::SP_DirIcon);
    }
    return icon;
}

} // namespace

CServerDirTree::CServerDirTree(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(1);
    setHeaderHidden(true);
    header()->setStretchLastSection(true);
    setRootIsDecorated(true);
    setItemsExpandable(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAllColumnsShowFocus(true);
    setDragDropMode(QAbstractItemView::NoDragDrop);
    setDragEnabled(false);
    setAcceptDrops(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTextElideMode(Qt::ElideRight);
    setUniformRowHeights(true);
    setIconSize(QSize(kIconSize, kIconSize));
    setIndentation(18);
    setFrameShape(QFrame::NoFrame);
    setItemDelegate(new RowDelegate(this));

    QPalette colours = palette();
    colours.setColor(QPalette::Text, TreeTextColour());
    colours.setColor(QPalette::WindowText, TreeTextColour());
    setPalette(colours);
}

TreeItemHandle CServerDirTree::InsertItem(TreeItemHandle parent, const std::u16string& text,
                                          std::intptr_t data) {
    static const QIcon folder = FolderIcon();
    auto* item = new QTreeWidgetItem();
    const QString name = QString::fromStdU16String(text);
    item->setText(0, name);
    item->setToolTip(0, name); // long names are cut at the tree's edge
    item->setData(0, kFidRole, static_cast<int>(data));
    item->setIcon(0, folder);
    if (QTreeWidgetItem* above = Item(parent)) {
        above->addChild(item);
    } else {
        addTopLevelItem(item);
    }
    return Handle(item);
}

std::u16string CServerDirTree::GetItemText(TreeItemHandle item) const {
    const QTreeWidgetItem* it = Item(item);
    return it ? it->text(0).toStdU16String() : std::u16string();
}

TreeItemHandle CServerDirTree::GetParentItem(TreeItemHandle item) const {
    const QTreeWidgetItem* it = Item(item);
    return it ? Handle(it->parent()) : nullptr;
}

void CServerDirTree::Reload(const char16_t* path) {
    clear();
    if (path) {
        LoadServerDirTree(this, path);
    }
    if (QTreeWidgetItem* top = topLevelItem(0)) {
        top->setExpanded(true);
    }
}

void CServerDirTree::ExpandAllItems() {
    for (int i = 0; i < topLevelItemCount(); ++i) {
        ExpandBelow(topLevelItem(i));
    }
}

void CServerDirTree::ExpandBelow(QTreeWidgetItem* item) {
    if (item->childCount() == 0) {
        return;
    }
    for (int i = 0; i < item->childCount(); ++i) {
        ExpandBelow(item->child(i));
    }
    item->setExpanded(true);
}

int CServerDirTree::ItemFid(const QTreeWidgetItem* item) const {
    return item ? item->data(0, kFidRole).toInt() : 0;
}

std::u16string CServerDirTree::ItemPath(const QTreeWidgetItem* item) const {
    return CGlobalVar::GetTreeItemPath(this, Handle(item));
}

std::u16string CServerDirTree::ItemCacheDir(const QTreeWidgetItem* item) const {
    return ServerFolderCacheDir(this, Handle(item));
}
