// The folder trees and the preview: a local folder's thumbnails, a server folder's files
// with their records, the resize rule, the floating upload button and the preview's
// double click.
#include "preview_fixture.h"

#include "media/show_img_by_size_thread.h"

#include <QFile>
#include <QMenu>
#include <QTextStream>
#include <QTimer>

using namespace mftest;

namespace {

class PreviewIt : public PreviewTest {};

// Thumbnails that are not all white: a picture was drawn.
bool HasPicture(CPreviewList* list, int row) {
    const QIcon icon = list->item(row)->icon();
    const QImage img = icon.pixmap(CPreviewList::kThumbWidth, CPreviewList::kThumbHeight).toImage();
    for (int y = 0; y < img.height(); y += 7)
        for (int x = 0; x < img.width(); x += 7)
            if (img.pixel(x, y) != qRgb(255, 255, 255))
                return true;
    return false;
}

TEST_F(PreviewIt, LocalFolderThumbnailsCountTabAndEmptyFolder) {
    const QString album = m_home + "/相册";
    Pictures(album, "春游", 23);
    QFile notes(album + "/说明.txt");
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write("not a picture");
    notes.close();
    ASSERT_TRUE(QDir().mkpath(m_home + "/空目录"));
    ASSERT_NE(OpenFrame(), nullptr);

    ClickLocalFolder(album);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Preview()->count() == 23; }, 60000));
    ASSERT_TRUE(WaitPreviewDone());
    EXPECT_EQ(Text(u"version_text"), u"23个文件");
    EXPECT_EQ(Text(u"tab_predirview"), u"        " + album.toStdU16String());
    EXPECT_EQ(m_frame->m_nServerPreview, 0);
    EXPECT_EQ(Preview()->RecordCount(), 0);
    EXPECT_EQ(Preview()->ImageCount(), 23);
    // The worker's last pictures reach the list through posted calls, after it ended.
    for (int row : {0, 11, 22})
        EXPECT_TRUE(QTest::qWaitFor([&] { return HasPicture(Preview(), row); }, 10000)) << row;
    // Laid out on the grid: the second item right of the first, in the same row.
    const QRect a = Preview()->visualItemRect(Preview()->item(0));
    const QRect b = Preview()->visualItemRect(Preview()->item(1));
    EXPECT_EQ(a.top(), b.top());
    EXPECT_EQ(b.left() - a.left(), 200);

    // A folder without media empties the preview.
    ClickLocalFolder(m_home + "/空目录");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Preview()->count() == 0; }, 10000));
    EXPECT_EQ(Text(u"version_text"), u"0个文件");
    EXPECT_TRUE(m_frame->m_preview.names.empty());

    // A path that trims to nothing stops the workers and leaves the preview as it was.
    ClickLocalFolder(album);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Preview()->count() == 23; }, 60000));
    ASSERT_TRUE(WaitPreviewDone());
    m_frame->OnLocalDirClick(u"   ");
    EXPECT_EQ(Preview()->count(), 23);
    EXPECT_EQ(Text(u"version_text"), u"23个文件");
}

TEST_F(PreviewIt, ServerFolderListsRecordsThenLocalPreviewFreesThem) {
    Pictures(m_home + "/本地", "家", 3);
    ASSERT_NE(OpenFrame(), nullptr);
    QTreeWidgetItem* family = ServerItem("家庭相册");
    ASSERT_NE(family, nullptr);
    const int fid = m_frame->m_pServerDirTree->ItemFid(family);
    int files = 0;
    for (const ServerFileEntry& e : service->ListFolder(fid))
        files += e.type != 100 ? 1 : 0;
    ASSERT_GT(files, 0);

    // From the queue tab: the click brings the preview back.
    DuControl* queueTab = m_frame->WindowObject()->Control(u"tab_uploadfile");
    QTest::mouseClick(queueTab->Widget(), Qt::LeftButton);
    ASSERT_EQ(m_frame->m_nPreviewTabActive, 0);
    ClickItem(m_frame->m_pServerDirTree, family);
    EXPECT_EQ(m_frame->m_nServerPreview, 1);
    EXPECT_TRUE(m_frame->WindowObject()->Control(u"tab_predirview")->IsSelected());
    EXPECT_EQ(m_frame->m_nPreviewTabActive, 1);
    EXPECT_TRUE(Preview()->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return Preview()->RecordCount() >= files; }, 60000));
    ASSERT_TRUE(WaitPreviewDone());
    EXPECT_EQ(Text(u"tab_predirview"), u"        " + m_frame->m_pServerDirTree->ItemPath(family));
    EXPECT_TRUE(HasPicture(Preview(), 0));
    // The thumbnails are cached under the folder's own cache directory.
    const QString cache =
        QString::fromStdU16String(m_frame->m_pServerDirTree->ItemCacheDir(family));
    EXPECT_GE(QDir(cache).entryList(QDir::Files).size(), files);

    // No menu and no floating button over a server preview.
    const QPoint centre = Preview()->visualItemRect(Preview()->item(0)).center();
    QTest::mouseMove(Preview()->viewport(), centre);
    m_frame->PlaceFloatUploadButton(centre);
    EXPECT_FALSE(m_frame->m_pFloatUploadBtn->isVisible());

    // A click beside every folder clears the selection and keeps the preview.
    const int shown = Preview()->count();
    const QPoint empty(5, m_frame->m_pServerDirTree->viewport()->height() - 3);
    ASSERT_EQ(m_frame->m_pServerDirTree->itemAt(empty), nullptr);
    QTest::mouseClick(m_frame->m_pServerDirTree->viewport(), Qt::LeftButton, {}, empty);
    EXPECT_TRUE(m_frame->m_pServerDirTree->selectedItems().isEmpty());
    EXPECT_EQ(Preview()->count(), shown);

    // A local preview next: the server records are freed.
    ClickLocalFolder(m_home + "/本地");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Preview()->count() == 3; }, 30000));
    EXPECT_EQ(Preview()->RecordCount(), 0);
    EXPECT_TRUE(m_frame->m_preview.records.empty());
}

TEST_F(PreviewIt, DoubleClickOpensThePictureOrVideoOnlyInAServerPreview) {
    const QString log = m_root.path() + "/opened.txt";
    const QString opener = m_root.path() + "/opener.sh";
    QFile script(opener);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(("#!/bin/sh\necho \"$1\" >> '" + log + "'\n").toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    platform::SetDesktopOpener(opener.toStdString());
    Pictures(m_home + "/本地", "图", 2);
    ASSERT_NE(OpenFrame(), nullptr);

    // The family album holds pictures and a video.
    QTreeWidgetItem* family = ServerItem("家庭相册");
    ASSERT_NE(family, nullptr);
    ClickItem(m_frame->m_pServerDirTree, family);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Preview()->RecordCount() >= 13; }, 60000));
    ASSERT_TRUE(WaitPreviewDone());
    int video = -1, picture = -1;
    for (int row = 0; row < Preview()->count(); ++row) {
        const UpInfo* r = Preview()->RecordAt(row);
        ASSERT_NE(r, nullptr);
        (r->m_entry->m_nItemType == 200 ? video : picture) = row;
    }
    ASSERT_GE(video, 0);
    ASSERT_GE(picture, 0);
    auto opened = [&]() {
        if (!QTest::qWaitFor([&] { return QFile::exists(log); }, 10000))
            return QString();
        QTest::qWait(100);
        QFile f(log);
        f.open(QIODevice::ReadOnly);
        const QString url = QString::fromUtf8(f.readAll()).trimmed();
        f.close();
        QFile::remove(log);
        return url;
    };
    // A picture opens its source, a video its play address, each as a whole address.
    const QPoint at = Preview()->visualItemRect(Preview()->item(picture)).center();
    QTest::mouseClick(Preview()->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(Preview()->viewport(), Qt::LeftButton, {}, at);
    const QString source =
        QString::fromStdU16String(Preview()->RecordAt(picture)->m_entry->m_tcSource);
    EXPECT_EQ(opened(), source);
    EXPECT_TRUE(source.startsWith("http://")) << source.toStdString();
    m_frame->OnPreviewDoubleClick(video);
    const QString play =
        QString::fromStdU16String(Preview()->RecordAt(video)->m_entry->m_tcPlayUrl);
    EXPECT_FALSE(play.isEmpty());
    EXPECT_EQ(opened(), play);

    // Nothing for a local preview.
    ClickLocalFolder(m_home + "/本地");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Preview()->count() == 2; }, 30000));
    m_frame->OnPreviewDoubleClick(0);
    QTest::qWait(300);
    EXPECT_FALSE(QFile::exists(log));
    platform::SetDesktopOpener("true");
}

TEST_F(PreviewIt, ResizeRuleAndFloatingButton) {
    Pictures(m_home + "/相册", "夏", 8);
    ASSERT_NE(OpenFrame(), nullptr);
    m_frame->resize(1000, 700);
    ClickLocalFolder(m_home + "/相册");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Preview()->count() == 8; }, 30000));
    ASSERT_TRUE(WaitPreviewDone());

    // The stored width starts at -1: the first size message stores it and lays out.
    m_frame->m_nLastPreviewWidth = -1;
    m_frame->resize(1010, 700);
    EXPECT_EQ(m_frame->m_nLastPreviewWidth, 1010 - 280);
    ASSERT_NE(m_frame->m_pImgBySizeThread, nullptr);
    ASSERT_TRUE(WaitPreviewDone());
    // 100 pixels: no new layout.
    m_frame->m_pImgBySizeThread.reset();
    m_frame->resize(1110, 700);
    EXPECT_EQ(m_frame->m_pImgBySizeThread, nullptr);
    EXPECT_EQ(m_frame->m_nLastPreviewWidth, 1010 - 280);
    // 200 pixels: laid out again for the new width.
    m_frame->resize(1210, 700);
    ASSERT_NE(m_frame->m_pImgBySizeThread, nullptr);
    EXPECT_EQ(m_frame->m_nLastPreviewWidth, 1210 - 280);
    ASSERT_TRUE(WaitPreviewDone());
    // The same width again lays out again.
    m_frame->m_pImgBySizeThread.reset();
    m_frame->OnPreviewResize(m_frame->width(), m_frame->height());
    EXPECT_NE(m_frame->m_pImgBySizeThread, nullptr);
    ASSERT_TRUE(WaitPreviewDone());
    ASSERT_EQ(Preview()->count(), 8);

    // The floating button sits over the hovered thumbnail, inside it.
    const QPoint centre = Preview()->visualItemRect(Preview()->item(2)).center();
    QTest::mouseMove(Preview()->viewport(), centre);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_frame->m_pFloatUploadBtn->isVisible(); }, 2000));
    const QRect button = m_frame->m_pFloatUploadBtn->geometry();
    const QRect icon(Preview()->viewport()->mapTo(m_frame.get(), Preview()->IconRect(2).topLeft()),
                     Preview()->IconRect(2).size());
    EXPECT_TRUE(icon.contains(button)) << "button outside the thumbnail";
    EXPECT_EQ(m_frame->FloatButtonItem(), 2);
    // Off the items: hidden.
    m_frame->PlaceFloatUploadButton(QPoint(2, Preview()->viewport()->height() - 2));
    EXPECT_FALSE(m_frame->m_pFloatUploadBtn->isVisible());
    // The queue tab hides it and keeps it hidden.
    m_frame->PlaceFloatUploadButton(centre);
    EXPECT_TRUE(m_frame->m_pFloatUploadBtn->isVisible());
    DuControl* tab = m_frame->WindowObject()->Control(u"tab_uploadfile");
    ASSERT_NE(tab, nullptr);
    QTest::mouseClick(tab->Widget(), Qt::LeftButton);
    EXPECT_EQ(m_frame->m_nPreviewTabActive, 0);
    EXPECT_FALSE(m_frame->m_pFloatUploadBtn->isVisible());
    m_frame->PlaceFloatUploadButton(centre);
    EXPECT_FALSE(m_frame->m_pFloatUploadBtn->isVisible());
}

} // namespace

namespace {

// The actions of the next popup menu, which is then closed without a choice.
class PopupRecorder : public QObject {
public:
    PopupRecorder() { Arm(); }
    void Arm() {
        QTimer::singleShot(50, this, [this] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                for (QAction* a : menu->actions())
                    actions.push_back({a->text(), a->data().toInt(), a->isEnabled()});
                ++shown;
                menu->close();
            } else if (++polls < 40) {
                Arm();
            }
        });
    }
    struct Item {
        QString text;
        int command;
        bool enabled;
    };
    std::vector<Item> actions;
    int shown = 0;
    int polls = 0;
};

TEST_F(PreviewIt, RightClickMenusOfTheLocalPreviewAndTree) {
    Pictures(m_home + "/相册", "菜单", 3);
    ASSERT_NE(OpenFrame(), nullptr);
    ClickLocalFolder(m_home + "/相册");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Preview()->count() == 3; }, 30000));
    ASSERT_TRUE(WaitPreviewDone());

    // On a thumbnail: "上传" of the preview.
    {
        PopupRecorder popup;
        m_frame->OnPreviewRightClick(Preview()->visualItemRect(Preview()->item(1)).center());
        ASSERT_EQ(popup.shown, 1);
        ASSERT_EQ(popup.actions.size(), 1u);
        EXPECT_EQ(popup.actions[0].text, QStringLiteral("上传"));
        EXPECT_EQ(popup.actions[0].command, kCmdUploadFromPreview);
        EXPECT_TRUE(popup.actions[0].enabled);
    }
    // Beside every thumbnail: no menu.
    {
        PopupRecorder popup;
        m_frame->OnPreviewRightClick(QPoint(3, Preview()->viewport()->height() - 3));
        QTest::qWait(300);
        EXPECT_EQ(popup.shown, 0);
    }
    // On a local folder: it becomes the current item and "上传" of the tree is offered.
    {
        QTreeWidgetItem* home = LocalItem(m_home);
        ASSERT_NE(home, nullptr);
        CLocalDirTree* tree = m_frame->m_pLocalDirTree;
        PopupRecorder popup;
        m_frame->OnLocalTreeRightClick(tree->visualItemRect(home).center());
        ASSERT_EQ(popup.shown, 1);
        EXPECT_EQ(tree->currentItem(), home);
        ASSERT_EQ(popup.actions.size(), 1u);
        EXPECT_EQ(popup.actions[0].command, kCmdUploadFromLocalTree);
    }
    // A server preview offers no menu.
    QTreeWidgetItem* family = ServerItem("家庭相册");
    ClickItem(m_frame->m_pServerDirTree, family);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Preview()->RecordCount() > 0; }, 60000));
    ASSERT_TRUE(WaitPreviewDone());
    {
        PopupRecorder popup;
        m_frame->OnPreviewRightClick(Preview()->visualItemRect(Preview()->item(0)).center());
        QTest::qWait(300);
        EXPECT_EQ(popup.shown, 0);
    }
}

} // namespace
