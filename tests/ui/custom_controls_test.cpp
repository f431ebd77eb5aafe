// The header, the picture button and the local folder tree.
#include "support/skin_fixture.h"
#include "ui/hover_button.h"
#include "ui/local_dir_tree.h"
#include "ui/messages.h"
#include "ui/rs_header_ctrl.h"

#include <QPainter>
#include <QStandardItemModel>
#include <QTreeView>
#include <QtTest/QTest>

#include <vector>

namespace {

// Header picture with distinct regions: 4 red columns, green middle, 4 blue columns on the
// right; rows below 22 are yellow so the background stretch (top-left 30 x 22) shows.
QImage RegionPicture() {
    QImage image(40, 30, QImage::Format_RGB32);
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) {
            QColor c = x < 4 ? Qt::red : (x >= 36 ? Qt::blue : Qt::green);
            if (y >= 22) {
                c = Qt::yellow;
            }
            image.setPixelColor(x, y, c);
        }
    }
    return image;
}

class HeaderFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        QDir().mkpath(m_dir.filePath("listview"));
        ASSERT_TRUE(RegionPicture().save(m_dir.filePath("listview/headerctrl.bmp"), "BMP"));
        m_model.setHorizontalHeaderLabels({QStringLiteral("文件名"), QStringLiteral("目录")});
        m_view.setModel(&m_model);
        m_header = new CRSHeaderCtrl;
        m_view.setHeader(m_header);
        m_header->setStretchLastSection(false);
        m_header->resizeSection(0, 100);
        m_header->resizeSection(1, 80);
        m_view.resize(400, 200);
    }
    QImage Render() {
        m_view.show();
        QCoreApplication::processEvents();
        return m_header->viewport()->grab().toImage();
    }
    std::u16string Folder() { return (m_dir.path() + QStringLiteral("/")).toStdU16String(); }

    QTemporaryDir m_dir;
    QStandardItemModel m_model;
    QTreeView m_view;
    CRSHeaderCtrl* m_header = nullptr;
};

TEST_F(HeaderFixture, ThirtyPixelsHighThreePartColumnsAndFillRightOfTheLast) {
    m_header->LoadSkin(Folder());
    ASSERT_TRUE(m_header->HasBackground());
    const QImage image = Render();
    EXPECT_EQ(m_header->height(), kHeaderHeight);
    ASSERT_EQ(image.height(), kHeaderHeight);
    // Column 0 (0..99): 10-pixel edges copied unscaled, the middle stretched.
    EXPECT_EQ(image.pixelColor(0, 5), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(5, 5), QColor(Qt::green)); // bitmap columns 4..9 are green
    EXPECT_EQ(image.pixelColor(50, 5), QColor(Qt::green));
    EXPECT_EQ(image.pixelColor(95, 5), QColor(Qt::green)); // right edge: columns 30..39
    EXPECT_EQ(image.pixelColor(99, 5), QColor(Qt::blue));
    EXPECT_EQ(image.pixelColor(100, 5), QColor(Qt::red)); // column 1 starts
    // Rows from 22 down come from the picture's own lower rows (no vertical scaling).
    EXPECT_EQ(image.pixelColor(0, 25), QColor(Qt::yellow));
    // Right of the last column (180..399): 4-pixel edges.
    EXPECT_EQ(image.pixelColor(180, 5), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(183, 5), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(184, 5), QColor(Qt::green));
    const int w = image.width();
    ASSERT_GT(w, 300);
    EXPECT_EQ(image.pixelColor(w - 5, 5), QColor(Qt::green));
    EXPECT_EQ(image.pixelColor(w - 4, 5), QColor(Qt::blue));
    EXPECT_EQ(image.pixelColor(w - 1, 5), QColor(Qt::blue));

    // Some title pixels are neither picture colours: the text is drawn.
    int textPixels = 0;
    for (int x = 10; x < 90; ++x) {
        for (int y = 0; y < 22; ++y) {
            const QColor c = image.pixelColor(x, y);
            textPixels += c != QColor(Qt::green) ? 1 : 0;
        }
    }
    EXPECT_GT(textPixels, 10);

    // Loading again changes nothing, even from another folder.
    m_header->LoadSkin(u"/nonexistent/");
    EXPECT_TRUE(m_header->HasBackground());
}

TEST_F(HeaderFixture, NarrowerThanItsColumnsDrawsNoFill) {
    m_header->LoadSkin(Folder());
    m_header->resizeSection(1, 500); // columns end at 600, beyond the header
    const QImage image = Render();
    ASSERT_LT(image.width(), 600);
    // Everything right of column 0 is column 1: its left edge is red, then green, and no
    // 4-pixel fill edge appears anywhere beyond.
    EXPECT_EQ(image.pixelColor(100, 5), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(image.width() - 1, 5), QColor(Qt::green));
}

TEST_F(HeaderFixture, MissingPictureStillDrawsTexts) {
    m_header->LoadSkin(u"/nonexistent/folder/");
    EXPECT_FALSE(m_header->HasBackground());
    const QImage image = Render();
    EXPECT_EQ(image.height(), kHeaderHeight);
    // Titles in the list colour appear.
    bool found = false;
    for (int x = 0; x < 100 && !found; ++x) {
        for (int y = 0; y < 30 && !found; ++y) {
            const QColor c = image.pixelColor(x, y);
            found = std::abs(c.red() - 61) < 40 && std::abs(c.green() - 88) < 40 &&
                    std::abs(c.blue() - 109) < 40 && c.blue() > c.red();
        }
    }
    EXPECT_TRUE(found);
}

TEST_F(HeaderFixture, LongTitlesEndWithAnEllipsisAndAreCappedAt256) {
    m_header->LoadSkin(Folder());
    m_model.setHorizontalHeaderLabels({QString(300, QChar(u'长')), QStringLiteral("短")});
    const QString drawn = m_header->DisplayText(0, 60);
    EXPECT_TRUE(drawn.endsWith(QChar(0x2026)));
    EXPECT_LT(drawn.size(), 20);
    EXPECT_EQ(m_header->DisplayText(1, 60), QStringLiteral("短"));
    EXPECT_EQ(m_header->DisplayText(0, 1000000).size(), 256);
    // Drawing helper: a picture narrower than the edge draws nothing.
    QImage target(50, 30, QImage::Format_RGB32);
    target.fill(Qt::white);
    QPainter p(&target);
    CRSHeaderCtrl::DrawThreeParts(p, QPixmap::fromImage(RegionPicture().copy(0, 0, 3, 30)),
                                  target.rect(), 4);
    p.end();
    EXPECT_EQ(target.pixelColor(1, 1), QColor(Qt::white));
}

TEST(HoverButton, TakesThePictureSizeAndKeepsItsPlace) {
    QWidget parent;
    CHoverButton button(&parent, QRect(30, 40, 100, 50), 20001);
    EXPECT_EQ(button.ControlId(), 20001);
    EXPECT_TRUE(button.LoadButtonBitmap(kBitmapCancel));
    EXPECT_EQ(button.geometry(), QRect(30, 40, 14, 14));
    EXPECT_TRUE(button.LoadButtonBitmap(kBitmapUploadFloat));
    EXPECT_EQ(button.size(), QSize(64, 28));
    EXPECT_EQ(button.pos(), QPoint(30, 40));
    EXPECT_TRUE(button.LoadButtonBitmap(kBitmapPause));
    EXPECT_TRUE(button.LoadButtonBitmap(kBitmapResume));
    EXPECT_EQ(button.size(), QSize(14, 14));
    // Unknown picture: refused, nothing changes.
    EXPECT_FALSE(button.LoadButtonBitmap(999));
    EXPECT_FALSE(button.SetButtonBitmap(QPixmap()));
    EXPECT_EQ(button.size(), QSize(14, 14));

    // The picture is drawn unscaled at the origin, pressed or not.
    QImage solid(14, 14, QImage::Format_RGB32);
    solid.fill(QColor(10, 200, 30));
    ASSERT_TRUE(button.SetButtonBitmap(QPixmap::fromImage(solid)));
    button.setDown(true);
    EXPECT_EQ(button.grab().toImage().pixelColor(7, 7), QColor(10, 200, 30));

    // Clicks reach the owner.
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, [&clicks]() { ++clicks; });
    button.setDown(false);
    parent.show();
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
}

// Receives message 1257.
class Sink : public QObject {
public:
    std::vector<std::u16string> paths;

protected:
    bool event(QEvent* e) override {
        if (e->type() == ui::MessageType(ui::kMsgLocalDirClick)) {
            auto* m = static_cast<ui::AppMessage*>(e);
            paths.push_back(m->text);
            m->result = 0;
            return true;
        }
        return QObject::event(e);
    }
};

class TreeFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_home.isValid());
        ASSERT_TRUE(m_media.isValid());
        QDir home(m_home.path());
        home.mkpath("photos/2023/summer");
        home.mkpath("photos/10");
        home.mkpath("photos/9");
        home.mkpath("photos/Alpha");
        home.mkpath("empty");
        home.mkpath(".hidden/inner");
        QFile file(home.filePath("photos/not_a_folder.jpg"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.close();
        // A link back to its own parent would nest forever.
        ASSERT_TRUE(QFile::link(home.filePath("photos"), home.filePath("photos/loop")));
        QDir(m_media.path()).mkpath("USBSTICK"); // an empty medium

        m_tree.SetHomeFolder(m_home.path());
        m_tree.SetMediaRoots({m_media.path()});
        m_tree.SetNotifyTarget(&m_sink);
        m_tree.resize(400, 600);
        m_tree.FillTree();
        m_tree.show();
        QCoreApplication::processEvents();
    }
    QTreeWidgetItem* Child(QTreeWidgetItem* parent, const QString& text) {
        for (int i = 0; i < parent->childCount(); ++i) {
            if (parent->child(i)->text(0) == text) {
                return parent->child(i);
            }
        }
        return nullptr;
    }
    void Click(QTreeWidgetItem* item, Qt::MouseButton button = Qt::LeftButton) {
        const QRect r = m_tree.visualItemRect(item);
        ASSERT_TRUE(r.isValid());
        QTest::mouseClick(m_tree.viewport(), button, {}, r.center());
    }

    QTemporaryDir m_home;
    QTemporaryDir m_media;
    Sink m_sink;
    CLocalDirTree m_tree;
};

TEST_F(TreeFixture, RootHoldsHomeFileSystemAndMediaAndFillsLazily) {
    QTreeWidgetItem* root = m_tree.RootItem();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->text(0), QStringLiteral("桌面"));
    EXPECT_TRUE(root->isExpanded());
    ASSERT_EQ(root->childCount(), 3);
    QTreeWidgetItem* home = root->child(0);
    EXPECT_EQ(CLocalDirTree::ItemPath(home), m_home.path());
    EXPECT_EQ(CLocalDirTree::ItemPath(root->child(1)), QStringLiteral("/"));
    QTreeWidgetItem* stick = root->child(2);
    EXPECT_EQ(stick->text(0), QStringLiteral("USBSTICK"));
    EXPECT_EQ(stick->data(0, CLocalDirTree::kKindRole).toInt(), CLocalDirTree::kRemovable);
    EXPECT_FALSE(home->icon(0).isNull());

    // Nothing below the home folder is read before it is opened.
    EXPECT_EQ(home->childCount(), 0);
    EXPECT_EQ(home->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    // A removable medium shows its button although it is empty, until it is opened.
    EXPECT_EQ(stick->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    stick->setExpanded(true);
    EXPECT_EQ(stick->childCount(), 0);
    EXPECT_EQ(stick->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
    EXPECT_FALSE(stick->isExpanded());

    home->setExpanded(true);
    // Hidden folders and files are not listed; names sort as a file manager sorts them.
    ASSERT_EQ(home->childCount(), 2);
    EXPECT_EQ(home->child(0)->text(0), QStringLiteral("empty"));
    EXPECT_EQ(home->child(0)->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
    QTreeWidgetItem* photos = home->child(1);
    EXPECT_EQ(photos->text(0), QStringLiteral("photos"));
    EXPECT_EQ(photos->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    photos->setExpanded(true);
    QStringList names;
    for (int i = 0; i < photos->childCount(); ++i) {
        names << photos->child(i)->text(0);
    }
    EXPECT_EQ(names, QStringList({"9", "10", "2023", "Alpha", "loop"}));

    // The link to its own parent is listed but cannot be opened.
    QTreeWidgetItem* loop = Child(photos, QStringLiteral("loop"));
    ASSERT_NE(loop, nullptr);
    EXPECT_EQ(loop->data(0, CLocalDirTree::kKindRole).toInt(), CLocalDirTree::kLinkLoop);
    EXPECT_EQ(loop->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
    loop->setExpanded(true);
    EXPECT_EQ(loop->childCount(), 0);

    // Opening again does not fill twice.
    photos->setExpanded(false);
    photos->setExpanded(true);
    EXPECT_EQ(photos->childCount(), 5);

    // A folder deleted before it is opened just gets no children.
    QTreeWidgetItem* summerParent = Child(photos, QStringLiteral("2023"));
    ASSERT_TRUE(QDir(m_home.filePath("photos/2023")).removeRecursively());
    summerParent->setExpanded(true);
    EXPECT_EQ(summerParent->childCount(), 0);
    EXPECT_EQ(summerParent->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
}

TEST_F(TreeFixture, FirstClickSendsNothingLaterClicksSend1257) {
    QTreeWidgetItem* root = m_tree.RootItem();
    QTreeWidgetItem* home = root->child(0);
    EXPECT_TRUE(m_tree.FirstClickPending());
    // Right and middle presses are no clicks: no preview, the first click stays unused.
    Click(home, Qt::RightButton);
    Click(home, Qt::MiddleButton);
    EXPECT_TRUE(m_tree.FirstClickPending());
    EXPECT_TRUE(m_sink.paths.empty());
    Click(home);
    EXPECT_FALSE(m_tree.FirstClickPending());
    EXPECT_TRUE(m_sink.paths.empty());
    EXPECT_EQ(m_tree.currentItem(), home);

    Click(home);
    Click(home); // the same folder twice sends twice
    Click(root, Qt::RightButton);
    Click(root, Qt::MiddleButton);
    ASSERT_EQ(m_sink.paths.size(), 2u);
    EXPECT_EQ(m_sink.paths[0], m_home.path().toStdU16String());
    EXPECT_EQ(m_sink.paths[1], m_home.path().toStdU16String());
    EXPECT_EQ(m_tree.CurrentPath(), m_home.path().toStdU16String());

    // The virtual root sends an empty path.
    Click(root);
    ASSERT_EQ(m_sink.paths.size(), 3u);
    EXPECT_EQ(m_sink.paths[2], u"");

    // A click below the last item clears the selection and sends nothing.
    QTest::mouseClick(m_tree.viewport(), Qt::LeftButton, {},
                      QPoint(10, m_tree.viewport()->height() - 5));
    EXPECT_EQ(m_sink.paths.size(), 3u);
    EXPECT_TRUE(m_tree.selectedItems().isEmpty());

    // Filling anew keeps the first-click rule spent.
    m_tree.FillTree();
    QCoreApplication::processEvents();
    Click(m_tree.RootItem()->child(1));
    ASSERT_EQ(m_sink.paths.size(), 4u);
    EXPECT_EQ(m_sink.paths[3], u"/");
}

TEST(LocalDirTreeTarget, WithoutTargetTheMessageGoesToTheTopLevelWindow) {
    class Window : public QWidget {
    public:
        int received = 0;

    protected:
        bool event(QEvent* e) override {
            if (e->type() == ui::MessageType(ui::kMsgLocalDirClick)) {
                ++received;
                return true;
            }
            return QWidget::event(e);
        }
    } window;
    QTemporaryDir home;
    auto* tree = new CLocalDirTree(&window);
    tree->SetHomeFolder(home.path());
    tree->SetMediaRoots({});
    tree->resize(300, 300);
    tree->FillTree();
    window.resize(300, 300);
    window.show();
    QCoreApplication::processEvents();
    const QRect r = tree->visualItemRect(tree->RootItem()->child(0));
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, r.center());
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, r.center());
    EXPECT_EQ(window.received, 1);
}

} // namespace

namespace {

TEST(NaturalOrder, NumbersByValueCaseIgnoredTotalOrder) {
    EXPECT_TRUE(NaturalLess("9", "10"));
    EXPECT_FALSE(NaturalLess("10", "9"));
    EXPECT_TRUE(NaturalLess("img2", "img10"));
    EXPECT_TRUE(NaturalLess("a", "B"));
    EXPECT_TRUE(NaturalLess("B", "c"));
    EXPECT_TRUE(NaturalLess("007", "8"));
    EXPECT_TRUE(NaturalLess("abc", "abcd"));
    EXPECT_FALSE(NaturalLess("x", "x"));
    // Texts differing only in case still order one way, never both.
    EXPECT_NE(NaturalLess("Photo", "photo"), NaturalLess("photo", "Photo"));
    EXPECT_TRUE(NaturalLess("99999999999999999999998", "99999999999999999999999"));
}

} // namespace
