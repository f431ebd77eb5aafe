// The main window with its folder trees and preview against a real qumo-service: a home
// folder of our own with pictures in it, the account's folder tree file written as the
// login window writes it, and ways to click the trees as a user does.
#pragma once

#include "frame_fixture.h"

#include "serverdir/server_dir_info.h"
#include "ui/hover_button.h"
#include "ui/local_dir_tree.h"
#include "ui/mainframe/preview_list.h"
#include "ui/server_dir_tree.h"
#include "ui/test_hooks_picker.h"

#include <QImage>
#include <QPainter>

namespace mftest {

class PreviewTest : public FrameTest {
protected:
    void SetUp() override {
        FrameTest::SetUp();
        if (HasFatalFailure())
            return;
        m_oldHome = qgetenv("HOME");
        m_home = m_root.path() + "/home";
        ASSERT_TRUE(QDir().mkpath(m_home));
        qputenv("HOME", m_home.toUtf8());
        // The desktop's thumbnail cache of the test's own.
        m_oldCache = qgetenv("XDG_CACHE_HOME");
        qputenv("XDG_CACHE_HOME", (m_home + "/.cache").toUtf8());
        FolderListAnswer folders = ApiGetFolderList(LoginKind::Account);
        ASSERT_FALSE(folders.folders.empty());
        ASSERT_EQ(WriteServerDirInfo(folders.folders), 1);
    }
    void TearDown() override {
        FrameTest::TearDown();
        qputenv("HOME", m_oldHome);
        if (m_oldCache.isEmpty())
            qunsetenv("XDG_CACHE_HOME");
        else
            qputenv("XDG_CACHE_HOME", m_oldCache);
    }

    // A JPEG of w x h in one colour with a stripe, so each file has its own bytes.
    static void WriteJpeg(const QString& path, int seed, int w = 320, int h = 240) {
        QImage img(w, h, QImage::Format_RGB32);
        img.fill(QColor::fromHsv((seed * 37) % 360, 160, 220));
        QPainter p(&img);
        p.fillRect(0, (seed * 13) % h, w, 9, Qt::white);
        p.end();
        ASSERT_TRUE(img.save(path, "JPEG", 85)) << path.toStdString();
    }
    // `n` pictures named <stem>NN.jpg in `folder` (made if needed); their full paths.
    std::vector<std::u16string> Pictures(const QString& folder, const QString& stem, int n,
                                         int seed = 0) {
        EXPECT_TRUE(QDir().mkpath(folder));
        std::vector<std::u16string> paths;
        for (int i = 0; i < n; ++i) {
            const QString path = folder + "/" + stem + QString::asprintf("%02d.jpg", i);
            WriteJpeg(path, seed * 100 + i + static_cast<int>(::getpid() % 97));
            paths.push_back(path.toStdU16String());
        }
        return paths;
    }

    // The local tree's item of `path` below the home folder, expanding its way there.
    QTreeWidgetItem* LocalItem(const QString& path) {
        CLocalDirTree* tree = m_frame->m_pLocalDirTree;
        QTreeWidgetItem* item = tree->RootItem();
        while (item) {
            if (CLocalDirTree::ItemPath(item) == path)
                return item;
            item->setExpanded(true);
            QTreeWidgetItem* next = nullptr;
            for (int i = 0; i < item->childCount() && !next; ++i) {
                const QString p = CLocalDirTree::ItemPath(item->child(i));
                if (!p.isEmpty() && (path == p || path.startsWith(p + "/")))
                    next = item->child(i);
            }
            item = next;
        }
        return nullptr;
    }
    // Clicks an item of a tree in the middle of its row.
    static void ClickItem(QTreeWidget* tree, QTreeWidgetItem* item,
                          Qt::MouseButton button = Qt::LeftButton) {
        tree->scrollToItem(item);
        QTest::mouseClick(tree->viewport(), button, {}, tree->visualItemRect(item).center());
    }
    // Selects a local folder as a user does; the tree ignores its very first click.
    void ClickLocalFolder(const QString& path) {
        QTreeWidgetItem* item = LocalItem(path);
        ASSERT_NE(item, nullptr) << path.toStdString();
        if (m_frame->m_pLocalDirTree->FirstClickPending())
            ClickItem(m_frame->m_pLocalDirTree, item);
        ClickItem(m_frame->m_pLocalDirTree, item);
    }
    // The server tree's item with this text.
    QTreeWidgetItem* ServerItem(const QString& text) {
        const auto found =
            m_frame->m_pServerDirTree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? nullptr : found.front();
    }
    bool WaitPreviewDone(int ms = 60000) {
        return QTest::qWaitFor([&] { return !m_frame->PreviewWorkerRunning(); }, ms);
    }
    CPreviewList* Preview() const { return m_frame->m_pPreviewList; }

    QString m_home;
    QByteArray m_oldHome;
    QByteArray m_oldCache;
};

} // namespace mftest
