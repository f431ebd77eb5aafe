// The tree of the computer's folders in the main window: a root standing for the desktop
// with the home folder, the file system root and mounted removable media below it. Items
// are filled when they are first expanded; a left click (after the very first one) sends
// message 1257 with the clicked folder's path to the main window.
#pragma once

#include <QFileIconProvider>
#include <QPointer>
#include <QStringList>
#include <QTreeWidget>

#include <string>

// Folder names in the order a file manager shows them ("9" before "10", case ignored).
bool NaturalLess(const QString& a, const QString& b);

class CLocalDirTree : public QTreeWidget {
public:
    // What an item stands for (kept in the item's data).
    enum ItemKind { kVirtual = 0, kFolder = 1, kRemovable = 2, kLinkLoop = 3 };
    static constexpr int kPathRole = Qt::UserRole;
    static constexpr int kKindRole = Qt::UserRole + 1;

    explicit CLocalDirTree(QWidget* parent = nullptr);

    // Inserts the root item, fills it and expands it.
    void FillTree();

    // Where message 1257 goes; by default the tree's top-level window.
    void SetNotifyTarget(QObject* target) { m_notify = target; }
    // The folders whose sub-folders are mounted media; by default /media/$USER, /media,
    // /run/media/$USER and /mnt.
    void SetMediaRoots(const QStringList& roots) { m_mediaRoots = roots; }
    // The home folder shown below the root; by default QDir::homePath().
    void SetHomeFolder(const QString& home) { m_home = home; }

    QTreeWidgetItem* RootItem() const { return m_pRoot; }
    const std::u16string& CurrentPath() const { return m_strCurrentPath; }
    bool FirstClickPending() const { return m_bFirstClick; }
    // The file-system path of an item; empty for the virtual root.
    static QString ItemPath(const QTreeWidgetItem* item);

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    void FillItem(QTreeWidgetItem* item);
    void OnExpanding(QTreeWidgetItem* item);
    QTreeWidgetItem* AddFolder(QTreeWidgetItem* parent, const QString& path, const QString& text,
                               ItemKind kind);
    QStringList MountedMedia() const;

    QFileIconProvider m_icons;
    QTreeWidgetItem* m_pRoot = nullptr;
    QTreeWidgetItem* m_pPending = nullptr;
    std::u16string m_strCurrentPath;
    bool m_bFirstClick = true;
    QPointer<QObject> m_notify;
    QStringList m_mediaRoots;
    QString m_home;
};
