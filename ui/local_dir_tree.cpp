#include "ui/local_dir_tree.h"

#include "ui/messages.h"
#include "ui/rs_header_ctrl.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QMouseEvent>

#include <algorithm>
#include <vector>

namespace {

// Visible sub-folders only, as a file manager shows them.
constexpr QDir::Filters kFolderFilter = QDir::Dirs | QDir::NoDotAndDotDot | QDir::Readable;

bool HasSubFolders(const QString& path) {
    QDirIterator it(path, kFolderFilter);
    return it.hasNext();
}

// A link whose target contains the link itself would repeat forever when followed.
bool IsLinkLoop(const QFileInfo& info) {
    if (!info.isSymLink()) {
        return false;
    }
    const QString target = info.canonicalFilePath();
    const QString home = QFileInfo(info.absolutePath()).canonicalFilePath();
    if (target.isEmpty() || home.isEmpty()) {
        return true;
    }
    return home == target || home.startsWith(target.endsWith(u'/') ? target : target + u'/');
}

} // namespace

// The order a file manager shows: runs of digits by their value, other text without regard
// to letter case, the exact text last so that the order is total.
bool NaturalLess(const QString& a, const QString& b) {
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype ei = i, ej = j;
            while (ei < a.size() && a[ei].isDigit()) {
                ++ei;
            }
            while (ej < b.size() && b[ej].isDigit()) {
                ++ej;
            }
            // Compare by value without converting: skip leading zeros, then length, then text.
            qsizetype zi = i, zj = j;
            while (zi + 1 < ei && a[zi] == u'0') {
                ++zi;
            }
            while (zj + 1 < ej && b[zj] == u'0') {
                ++zj;
            }
            const QStringView da = QStringView(a).mid(zi, ei - zi);
            const QStringView db = QStringView(b).mid(zj, ej - zj);
            if (da.size() != db.size()) {
                return da.size() < db.size();
            }
            if (const int c = da.compare(db); c != 0) {
                return c < 0;
            }
            i = ei;
            j = ej;
            continue;
        }
        const QChar ca = a[i].toCaseFolded();
        const QChar cb = b[j].toCaseFolded();
        if (ca != cb) {
            return ca < cb;
        }
        ++i;
        ++j;
    }
    if ((a.size() - i) != (b.size() - j)) {
        return (a.size() - i) < (b.size() - j);
    }
    return a < b;
}

CLocalDirTree::CLocalDirTree(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setDragDropMode(QAbstractItemView::NoDragDrop);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Text, QColor::fromRgb(kListTextColor));
    setPalette(palette);
    const QString user = qEnvironmentVariable("USER");
    m_mediaRoots = {QStringLiteral("/media/") + user, QStringLiteral("/media"),
                    QStringLiteral("/run/media/") + user, QStringLiteral("/mnt")};
    m_home = QDir::homePath();
    connect(this, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* item) { OnExpanding(item); });
}

QString CLocalDirTree::ItemPath(const QTreeWidgetItem* item) {
    return item ? item->data(0, kPathRole).toString() : QString();
}

QTreeWidgetItem* CLocalDirTree::AddFolder(QTreeWidgetItem* parent, const QString& path,
                                          const QString& text, ItemKind kind) {
    auto* item = new QTreeWidgetItem(parent);
    item->setText(0, text);
    item->setData(0, kPathRole, path);
    item->setData(0, kKindRole, kind);
    const QFileInfo info(path);
    item->setIcon(0,
                  kind == kRemovable ? m_icons.icon(QFileIconProvider::Drive) : m_icons.icon(info));
    bool expandable = false;
    if (kind == kRemovable) {
        expandable = true; // media may be slow to read: look only when opened
    } else if (kind == kFolder) {
        expandable = HasSubFolders(path);
    }
    item->setChildIndicatorPolicy(expandable ? QTreeWidgetItem::ShowIndicator
                                             : QTreeWidgetItem::DontShowIndicator);
    return item;
}

QStringList CLocalDirTree::MountedMedia() const {
    QStringList media;
    const QString user = qEnvironmentVariable("USER");
    for (const QString& root : m_mediaRoots) {
        const QDir dir(root);
        for (const QFileInfo& info : dir.entryInfoList(kFolderFilter, QDir::Name)) {
            // /media/$USER itself is a root of its own, not a medium.
            if (!user.isEmpty() && root == QStringLiteral("/media") && info.fileName() == user) {
                continue;
            }
            const QString path = info.absoluteFilePath();
            if (!media.contains(path)) {
                media << path;
            }
        }
    }
    return media;
}

void CLocalDirTree::FillTree() {
    clear();
    m_pRoot = new QTreeWidgetItem(this);
    m_pRoot->setText(0, QStringLiteral("桌面"));
    m_pRoot->setIcon(0, m_icons.icon(QFileIconProvider::Desktop));
    m_pRoot->setData(0, kPathRole, QString());
    m_pRoot->setData(0, kKindRole, kVirtual);
    m_pRoot->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    FillItem(m_pRoot);
    m_pRoot->setExpanded(true);
}

void CLocalDirTree::FillItem(QTreeWidgetItem* item) {
    m_pPending = item;
    qDeleteAll(item->takeChildren());
    const int kind = item->data(0, kKindRole).toInt();
    if (item == m_pRoot) {
        if (!m_home.isEmpty() && QFileInfo(m_home).isDir()) {
            AddFolder(item, m_home, QDir(m_home).dirName(), kFolder);
        }
        AddFolder(item, QStringLiteral("/"), QStringLiteral("文件系统"), kFolder);
        for (const QString& medium : MountedMedia()) {
            AddFolder(item, medium, QDir(medium).dirName(), kRemovable);
        }
        m_pPending = nullptr;
        return;
    }
    if (kind == kLinkLoop) {
        m_pPending = nullptr;
        return;
    }
    const QString path = ItemPath(item);
    QDir dir(path);
    std::vector<QFileInfo> folders;
    for (const QFileInfo& info : dir.entryInfoList(kFolderFilter, QDir::NoSort)) {
        folders.push_back(info);
    }
    std::sort(folders.begin(), folders.end(), [](const QFileInfo& a, const QFileInfo& b) {
        return NaturalLess(a.fileName(), b.fileName());
    });
    for (const QFileInfo& info : folders) {
        QTreeWidgetItem* child = AddFolder(item, info.absoluteFilePath(), info.fileName(), kFolder);
        if (IsLinkLoop(info)) {
            child->setData(0, kKindRole, kLinkLoop);
            child->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
        }
    }
    if (item->childCount() == 0) {
        // Removable media keep their button until they are found empty; then it goes too.
        item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
        item->setExpanded(false);
    }
    m_pPending = nullptr;
}

void CLocalDirTree::OnExpanding(QTreeWidgetItem* item) {
    if (item && item != m_pRoot && item->childCount() == 0 &&
        item->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator) {
        FillItem(item);
    }
}

void CLocalDirTree::mousePressEvent(QMouseEvent* event) {
    // Only the left button clicks: a right press belongs to the owner's menu (which selects
    // the item itself) and must neither preview the folder nor use up the first click; a
    // middle press does nothing at all.
    if (event->button() != Qt::LeftButton) {
        event->accept();
        return;
    }
    QTreeWidget::mousePressEvent(event); // expansion and the native selection first
    QTreeWidgetItem* item = itemAt(event->position().toPoint());
    if (!item) {
        clearSelection();
        return;
    }
    setCurrentItem(item);
    setFocus(Qt::MouseFocusReason);
    if (m_bFirstClick) {
        m_bFirstClick = false;
        return;
    }
    m_strCurrentPath = ItemPath(item).toStdU16String();
    QObject* target = m_notify ? m_notify.data() : static_cast<QObject*>(window());
    ui::AppMessage message(ui::kMsgLocalDirClick, 0, 0, m_strCurrentPath);
    ui::SendAppMessage(target, message);
}
