// Every skinned window on a 1366 x 768 screen at scale 2 (683 x 384 logical pixels): its
// minimum fits the screen, a larger one opens at the available size (the main window
// maximised), the caption is on the screen, and the main window's panes give way while its
// texts keep their size. The test's environment sets the screen and the scale.
#include "support/skin_fixture.h"
#include "ui/skin/skin_model.h"

#include <QDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QtTest/QTest>

#include <memory>

namespace {

class SmallScreen : public uitest::BlueSkin {};

QRect Area() {
    return QGuiApplication::primaryScreen()->availableGeometry();
}

QRect RectOf(DuWindow* window, const char16_t* name) {
    DuControl* control = window->Control(name);
    return control ? control->Rect() : QRect();
}

TEST_F(SmallScreen, EveryWindowFitsAndTheMainWindowKeepsItsTexts) {
    ASSERT_EQ(QGuiApplication::primaryScreen()->devicePixelRatio(), 2.0);
    ASSERT_EQ(Area().size(), QSize(683, 384));
    for (const DuWindowDef& def : m_style->Skin().windows) {
        SCOPED_TRACE(QString::fromStdU16String(def.name).toStdString());
        QDialog window;
        ASSERT_TRUE(m_style->Bind(&window, def.name.c_str()));
        window.move(Area().center() - window.rect().center());
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        EXPECT_LE(window.minimumWidth(), Area().width());
        EXPECT_LE(window.minimumHeight(), Area().height());
        EXPECT_TRUE(Area().contains(window.frameGeometry()))
            << window.frameGeometry().x() << "," << window.frameGeometry().y();
        if (def.size.width() > Area().width() || def.size.height() > Area().height()) {
            EXPECT_EQ(window.size(), def.size.boundedTo(Area().size()));
            EXPECT_EQ(window.isMaximized(), def.name == u"mainframe");
        } else {
            EXPECT_EQ(window.size(), def.size);
        }
        if (def.name != u"mainframe") {
            continue;
        }
        DuWindow* w = m_style->Window(&window);
        const QRect serverTree = RectOf(w, u"treectrl_serverdir");
        const QRect localLabel = RectOf(w, u"label_localdir");
        const QRect localTree = RectOf(w, u"treectrl_localdir");
        const QRect status = RectOf(w, u"statusbar");
        const QRect preview = RectOf(w, u"page_preview");
        const QRect uploadTab = RectOf(w, u"tab_uploadfile");
        // Panes smaller but usable, one after another, nothing pushed off the window.
        EXPECT_GE(serverTree.height(), 60);
        EXPECT_GE(localTree.height(), 60);
        EXPECT_GE(serverTree.width(), 120);
        EXPECT_LE(serverTree.bottom(), localLabel.top());
        EXPECT_LE(localLabel.bottom(), localTree.top());
        EXPECT_LT(localTree.bottom(), status.top());
        EXPECT_LT(preview.bottom(), status.top());
        EXPECT_LT(serverTree.right(), preview.left());
        EXPECT_LE(uploadTab.right(), preview.right());
        EXPECT_EQ(status.bottom(), window.height() - 2);
        EXPECT_GE(RectOf(w, u"copyright_text").width(), 200);
        // Texts and buttons keep the skin's sizes.
        EXPECT_EQ(localLabel.height(), 24);
        EXPECT_EQ(uploadTab.size(), QSize(200, 30));
        EXPECT_EQ(RectOf(w, u"tab_predirview").size(), QSize(240, 30));
        EXPECT_EQ(RectOf(w, u"btn_uploadDir").size(), QSize(128, 36));
        EXPECT_EQ(RectOf(w, u"sysClose").size(), QSize(34, 28));
        EXPECT_EQ(RectOf(w, u"version_text").height(), 30);
        // Restored, it keeps the screen's size and the caption on the screen.
        window.showNormal();
        EXPECT_TRUE(Area().contains(window.frameGeometry()));
    }
}

TEST_F(SmallScreen, PositionsOutsideEveryScreenAreBroughtBack) {
    for (const QPoint outside : {QPoint(5000, 4000), QPoint(-900, -700), QPoint(-100, 300)}) {
        QDialog window;
        ASSERT_TRUE(m_style->Bind(&window, u"loginwin_win"));
        window.move(outside);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        EXPECT_TRUE(Area().contains(window.frameGeometry()))
            << outside.x() << "," << outside.y() << " -> " << window.frameGeometry().x() << ","
            << window.frameGeometry().y();
    }
}

} // namespace
