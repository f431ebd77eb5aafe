// The skin toolkit: loading, lookups, event tables, real clicks, resizing and adoption.
#include "support/skin_fixture.h"
#include "ui/skin/du_style.h"
#include "ui/skin/du_surface.h"
#include "ui/skin/skin_model.h"

#include <QLineEdit>
#include <QPointer>
#include <QSignalSpy>
#include <QtTest/QTest>

#include <array>
#include <thread>
#include <vector>

namespace {

using uitest::WriteFile;

const char kSmallSkin[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<skin name="t" fontsize="12">
  <!-- a comment between windows is not a window -->
  <window name="win" title="标题" width="300" height="200" minwidth="200" minheight="150"
          resizable="true" maximizable="true" caption="30">
    <button name="btn_a" left="10" top="40" width="60" height="24" text="A"/>
    <button name="btn_corner" right="10" bottom="10" width="50" height="20" text="B"/>
    <checkbutton name="chk" left="10" top="70" width="80" height="20" text="记住"/>
    <tabbutton name="tab1" left="10" top="100" width="50" height="20" tabgroup="g" page="page1" checked="true"/>
    <tabbutton name="tab2" left="70" top="100" width="50" height="20" tabgroup="g" page="page2"/>
    <group name="page1" left="10" right="10" top="125" bottom="40"/>
    <group name="page2" left="10" right="10" top="125" bottom="40"/>
    <host name="area" left="150" right="20" top="40" height="26"/>
    <group name="grp" width="100" height="30" bottom="5">
      <button name="inner" right="0" top="0" width="40" height="30"/>
    </group>
    <text name="BTN_a" left="0" top="0" width="1" height="1"/>
  </window>
</skin>
)";

// Records every skin event a window receives and answers through a table.
class Recorder : public QWidget {
public:
    struct Seen {
        std::u16string name;
        int code;
        std::intptr_t p1;
        int row;
    };
    std::vector<Seen> seen;

    void Row0(DuControl* c, std::intptr_t p1, std::intptr_t) {
        seen.push_back({c->Name(), 0, p1, 0});
    }
    void Row1(DuControl* c, std::intptr_t p1, std::intptr_t) {
        seen.push_back({c->Name(), 0, p1, 1});
    }
    void Row2(DuControl* c, std::intptr_t p1, std::intptr_t) {
        seen.push_back({c->Name(), 0, p1, 2});
    }
    void Row3(DuControl* c, std::intptr_t p1, std::intptr_t) {
        seen.push_back({c->Name(), 0, p1, 3});
    }

protected:
    bool event(QEvent* e) override {
        if (SkinEvent* skin = AsSkinEvent(e)) {
            static const std::array<DuEventRow<Recorder>, 6> rows = {{
                {u"btn_a", kDuEventClick, &Recorder::Row0},
                {u"btn_a", kDuEventClick, &Recorder::Row1}, // never reached: first row wins
                {u"chk", kDuEventStateChange, &Recorder::Row2},
                {u"tab1", kDuEventStateChange, &Recorder::Row2},
                {u"tab2", kDuEventStateChange, &Recorder::Row3},
                {u"win", kDuEventMaximizeToggle, &Recorder::Row3},
            }};
            if (!DuDispatchEvent<Recorder>(this, rows, *skin)) {
                seen.push_back({skin->control->Name(), skin->record.code, skin->record.p1, -1});
            }
            return true;
        }
        return QWidget::event(e);
    }
};

class SmallSkin : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        const std::u16string path = WriteFile(m_dir, QStringLiteral("config.xml"), kSmallSkin);
        m_style = duLoadStyleW(path.c_str());
        ASSERT_NE(m_style, nullptr);
        m_window = std::make_unique<Recorder>();
        ASSERT_TRUE(m_style->Bind(m_window.get(), u"win"));
        m_object = m_style->Window(m_window.get());
        ASSERT_NE(m_object, nullptr);
    }
    void TearDown() override {
        m_window.reset();
        m_style.reset();
    }
    DuControl* C(const char16_t* name) { return m_object->Control(name); }

    QTemporaryDir m_dir;
    std::unique_ptr<DuStyle> m_style;
    std::unique_ptr<Recorder> m_window;
    DuWindow* m_object = nullptr;
};

TEST(SkinLoad, BlueSkinDefinesEveryWindowAndControlTheProgramLooksUp) {
    auto style = duLoadStyleW(uitest::BlueSkinPath().c_str());
    ASSERT_NE(style, nullptr);
    const std::vector<std::pair<const char16_t*, std::vector<const char16_t*>>> expected = {
        {u"mainframe",
         {u"sysClose", u"sysMax", u"sysMenu", u"link_username", u"link_useMemory", u"btn_selfimage",
          u"btn_getmorememory", u"btn_uploadDir", u"treectrl_serverdir", u"treectrl_localdir",
          u"listview_preview_dir", u"listview_file_upload", u"tab_predirview", u"tab_uploadfile",
          u"version_text", u"copyright_text"}},
        {u"loginwin_win",
         {u"edit_loginwin_username", u"edit_loginwin_pwd", u"checkbox_loginwin_remeberpwd",
          u"checkbox_loginwin_autologin", u"btn_login", u"btn_reg", u"btn_loginwin_forgetpwd",
          u"btn_loginwin_sinablog", u"btn_logo_sinablog", u"btn_loginwin_renblog",
          u"btn_logo_renblog", u"btn_loginwin_qqblog", u"btn_logo_qqblog", u"btn_loginwin_qq",
          u"btn_logo_qq", u"static_loginwin_waiting"}},
        {u"SelNetDirDlg_win", {u"group_treectrl_Addr", u"btn_true", u"btn_winclose"}},
        {u"showmsg_win",
         {u"btn_yes", u"btn_no", u"btn_true", u"layout_showmsg_cmdbtn", u"layout_showmsg_onebtn"}},
    };
    for (const auto& [windowName, controls] : expected) {
        QWidget w;
        ASSERT_TRUE(style->Bind(&w, windowName)) << QString::fromUtf16(windowName).toStdString();
        DuWindow* object = style->Window(&w);
        ASSERT_NE(object, nullptr);
        for (const char16_t* name : controls) {
            EXPECT_NE(object->Control(name), nullptr) << QString::fromUtf16(name).toStdString();
        }
        style->Unbind(&w);
    }
    // Kinds the program relies on.
    QWidget w;
    ASSERT_TRUE(style->Bind(&w, u"mainframe"));
    DuWindow* main = style->Window(&w);
    EXPECT_EQ(main->Control(u"sysMax")->Kind(), DuKind::CheckButton);
    EXPECT_EQ(main->Control(u"tab_predirview")->Kind(), DuKind::TabButton);
    EXPECT_TRUE(main->Control(u"tab_predirview")->IsSelected());
    EXPECT_EQ(main->Control(u"treectrl_localdir")->Kind(), DuKind::Host);
    EXPECT_EQ(style->SkinFolder().substr(style->SkinFolder().size() - 10), u"skin/blue/");
}

TEST(SkinLoad, MissingUnreadableOrMalformedSkinGivesNull) {
    QTemporaryDir dir;
    EXPECT_EQ(duLoadStyleW(nullptr), nullptr);
    EXPECT_EQ(duLoadStyleW(u""), nullptr);
    EXPECT_EQ(duLoadStyleW(dir.filePath("nothere.xml").toStdU16String().c_str()), nullptr);
    EXPECT_EQ(duLoadStyleW(dir.path().toStdU16String().c_str()), nullptr); // a folder
    const std::vector<QByteArray> bad = {
        "",
        "\x89PNG\r\n\x1a\n binary",
        "<notskin><window name=\"a\" width=\"1\" height=\"1\"/></notskin>",
        "<skin></skin>",                                                // no window
        "<skin><window width=\"10\" height=\"10\"/></skin>",            // no name
        "<skin><window name=\"a\" width=\"x\" height=\"10\"/></skin>",  // bad size
        "<skin><window name=\"a\" width=\"-5\" height=\"10\"/></skin>", // negative size
        "<skin><window name=\"a\" width=\"5\" height=\"5\"/>"
        "<window name=\"a\" width=\"5\" height=\"5\"/></skin>", // twice
        "<skin><window name=\"a\" width=\"5\" height=\"5\">",   // not closed
    };
    int i = 0;
    for (const QByteArray& content : bad) {
        const std::u16string path = WriteFile(dir, QStringLiteral("bad%1.xml").arg(i++), content);
        EXPECT_EQ(duLoadStyleW(path.c_str()), nullptr) << content.toStdString();
    }
    // Unreadable file.
    const std::u16string locked = WriteFile(dir, QStringLiteral("locked.xml"), kSmallSkin);
    QFile::setPermissions(QString::fromStdU16String(locked), QFileDevice::Permissions());
    if (!QFile(QString::fromStdU16String(locked)).open(QIODevice::ReadOnly)) {
        EXPECT_EQ(duLoadStyleW(locked.c_str()), nullptr);
    }
}

TEST(SkinLoad, Utf16FilesDeepNestingAndHugeNumbers) {
    QTemporaryDir dir;
    // UTF-16LE with a byte order mark, as the program's own XML files are written.
    const QString text =
        QString::fromUtf8(kSmallSkin)
            .replace(QStringLiteral("encoding=\"UTF-8\""), QStringLiteral("encoding=\"UTF-16\""));
    QByteArray wide("\xFF\xFE", 2);
    wide.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    const std::u16string widePath = WriteFile(dir, QStringLiteral("wide.xml"), wide);
    auto style = duLoadStyleW(widePath.c_str());
    ASSERT_NE(style, nullptr);
    QWidget w;
    ASSERT_TRUE(style->Bind(&w, u"win"));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("标题"));
    EXPECT_NE(style->Window(&w)->Control(u"chk"), nullptr);

    // Nesting deeper than any layout needs is cut off; numbers are clamped, not wrapped.
    QByteArray deep = "<skin><window name=\"d\" width=\"99999999999\" height=\"100\">";
    for (int i = 0; i < 40; ++i) {
        deep += "<group name=\"g" + QByteArray::number(i) + "\" left=\"-2147483649\">";
    }
    for (int i = 0; i < 40; ++i) {
        deep += "</group>";
    }
    deep += "</window></skin>";
    const std::u16string deepPath = WriteFile(dir, QStringLiteral("deep.xml"), deep);
    auto deepStyle = duLoadStyleW(deepPath.c_str());
    // A width beyond any number the parser accepts makes the window invalid.
    EXPECT_EQ(deepStyle, nullptr);
    deep.replace("99999999999", "20000");
    const std::u16string clampedPath = WriteFile(dir, QStringLiteral("clamped.xml"), deep);
    deepStyle = duLoadStyleW(clampedPath.c_str());
    ASSERT_NE(deepStyle, nullptr);
    QWidget d;
    ASSERT_TRUE(deepStyle->Bind(&d, u"d"));
    EXPECT_NE(deepStyle->Window(&d)->Control(u"g16"), nullptr);
    EXPECT_EQ(deepStyle->Window(&d)->Control(u"g17"), nullptr);
    EXPECT_LE(d.width(), 10000);
}

// Shrink bands from the file: bad, overlapping and outside ones are dropped; below the
// minimum the bands give way, areas narrow and sized controls keep their size.
TEST(SkinLoad, ShrinkBandsSqueezeAreasAndMoveSizedControls) {
    QTemporaryDir dir;
    const std::u16string path = uitest::WriteFile(
        dir, QStringLiteral("config.xml"),
        "<skin><window name=\"w\" width=\"400\" height=\"300\" minwidth=\"300\" "
        "minheight=\"200\" resizable=\"true\" shrinkx=\"100-200,150-250,x-9,280-999,-5-3\" "
        "shrinky=\"\"><host name=\"pane\" left=\"50\" right=\"50\" top=\"0\" "
        "bottom=\"0\"/><button name=\"b\" right=\"10\" width=\"40\" top=\"0\" "
        "height=\"20\"/></window></skin>");
    auto style = duLoadStyleW(path.c_str());
    ASSERT_NE(style, nullptr);
    const DuWindowDef* w = style->Skin().FindWindow(u"w");
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(w->shrinkX.size(), 1u);
    EXPECT_EQ(w->shrinkX[0].from, 100);
    EXPECT_EQ(w->shrinkX[0].to, 200);
    EXPECT_TRUE(w->shrinkY.empty());
    const DuControlDef& pane = w->controls[0];
    const DuControlDef& button = w->controls[1];
    // At or above the minimum: the plain anchored layout.
    EXPECT_EQ(w->PlaceControl(pane, QSize(300, 200)), QRect(50, 0, 200, 200));
    EXPECT_EQ(w->PlaceControl(pane, QSize(500, 200)), pane.geometry.Place(QSize(500, 200)));
    // 50 pixels short: the band gives half of itself; the button keeps 40 and moves.
    EXPECT_EQ(w->PlaceControl(pane, QSize(250, 200)), QRect(50, 0, 150, 200));
    EXPECT_EQ(w->PlaceControl(button, QSize(250, 200)), QRect(200, 0, 40, 20));
    // Shorter than the bands can give: they are gone, nothing is negative.
    EXPECT_EQ(w->PlaceControl(pane, QSize(120, 200)).width(), 100);
}

TEST(SkinLoad, GeometryAndColoursParse) {
    DuGeometry g;
    g.left = 10;
    g.right = 20;
    g.top = 5;
    g.height = 30;
    EXPECT_EQ(g.Place(QSize(200, 100)), QRect(10, 5, 170, 30));
    DuGeometry corner;
    corner.right = 10;
    corner.bottom = 10;
    corner.width = 50;
    corner.height = 20;
    EXPECT_EQ(corner.Place(QSize(300, 200)), QRect(240, 170, 50, 20));
    DuGeometry centred;
    centred.width = 100;
    centred.height = 30;
    centred.bottom = 5;
    EXPECT_EQ(centred.Place(QSize(300, 200)), QRect(100, 165, 100, 30));
    DuGeometry squeezed; // a parent smaller than the margins gives an empty, not negative, box
    squeezed.left = 50;
    squeezed.right = 50;
    EXPECT_EQ(squeezed.Place(QSize(60, 10)).width(), 0);

    EXPECT_EQ(ParseSkinColor(u"61,88,109"), QColor(61, 88, 109));
    EXPECT_EQ(ParseSkinColor(u"#74828f"), QColor(116, 130, 143));
    EXPECT_FALSE(ParseSkinColor(u"").isValid());
    EXPECT_FALSE(ParseSkinColor(u"256,0,0").isValid());
    EXPECT_FALSE(ParseSkinColor(u"1,2").isValid());
    EXPECT_FALSE(ParseSkinColor(u"1,2,3,4").isValid());
    EXPECT_FALSE(ParseSkinColor(u"#zzzzzz").isValid());
    EXPECT_FALSE(ParseSkinColor(u"red").isValid());
}

TEST_F(SmallSkin, UnknownNamesGiveNullAndBindingRules) {
    EXPECT_EQ(C(u"nothing"), nullptr);
    EXPECT_EQ(C(nullptr), nullptr);
    EXPECT_EQ(C(u"Btn_a"), nullptr); // names are case-sensitive
    EXPECT_NE(C(u"inner"), nullptr); // nested controls are found by name too
    EXPECT_EQ(C(u"win"), m_object->Self());

    QWidget other;
    EXPECT_EQ(m_style->Window(&other), nullptr);
    EXPECT_EQ(m_style->Window(nullptr), nullptr);
    EXPECT_FALSE(m_style->Bind(&other, u"nosuchwindow"));
    EXPECT_FALSE(m_style->Bind(nullptr, u"win"));
    EXPECT_FALSE(m_style->Bind(&other, nullptr));
    EXPECT_EQ(m_style->Window(&other), nullptr);
    EXPECT_FALSE(m_style->Bind(m_window.get(), u"win")); // bound already
    EXPECT_FALSE(m_style->Show(&other, kDuShowNormal));
    EXPECT_FALSE(m_style->Close(&other));
    EXPECT_FALSE(m_style->Show(m_window.get(), 42));

    // Frameless, sized and titled by the skin; a window destroyed while bound unbinds itself.
    EXPECT_TRUE(m_window->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(m_window->size(), QSize(300, 200));
    EXPECT_EQ(m_window->windowTitle(), QStringLiteral("标题"));
    auto* temporary = new QWidget;
    ASSERT_TRUE(m_style->Bind(temporary, u"win"));
    const QWidget* address = temporary;
    delete temporary;
    EXPECT_EQ(m_style->Window(const_cast<QWidget*>(address)), nullptr);
}

TEST_F(SmallSkin, RealClicksReachTheFirstMatchingRow) {
    m_window->show();
    QTest::mouseClick(C(u"btn_a")->Widget(), Qt::LeftButton);
    ASSERT_EQ(m_window->seen.size(), 1u);
    EXPECT_EQ(m_window->seen[0].name, u"btn_a");
    EXPECT_EQ(m_window->seen[0].row, 0);

    // A button without a row still sends the click; nobody handles it.
    QTest::mouseClick(C(u"inner")->Widget(), Qt::LeftButton);
    ASSERT_EQ(m_window->seen.size(), 2u);
    EXPECT_EQ(m_window->seen[1].name, u"inner");
    EXPECT_EQ(m_window->seen[1].code, kDuEventClick);
    EXPECT_EQ(m_window->seen[1].row, -1);

    // Press inside, release outside: no click.
    QWidget* a = C(u"btn_a")->Widget();
    QTest::mousePress(a, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(a, Qt::LeftButton, {}, QPoint(a->width() + 30, 5));
    EXPECT_EQ(m_window->seen.size(), 2u);

    // Check button: state changes with the new state; setting it by program sends nothing.
    QTest::mouseClick(C(u"chk")->Widget(), Qt::LeftButton);
    QTest::mouseClick(C(u"chk")->Widget(), Qt::LeftButton);
    ASSERT_EQ(m_window->seen.size(), 4u);
    EXPECT_EQ(m_window->seen[2].p1, 1);
    EXPECT_EQ(m_window->seen[3].p1, 0);
    EXPECT_FALSE(C(u"chk")->CheckState());
    C(u"chk")->SetCheckState(true);
    EXPECT_TRUE(C(u"chk")->CheckState());
    EXPECT_EQ(m_window->seen.size(), 4u);
    // Check state on another kind is always off and cannot be set.
    C(u"btn_a")->SetCheckState(true);
    EXPECT_FALSE(C(u"btn_a")->CheckState());

    // Caption double click: the maximise toggle on the window's own name.
    QTest::mouseDClick(m_object->Surface(), Qt::LeftButton, {}, QPoint(150, 10));
    ASSERT_EQ(m_window->seen.size(), 5u);
    EXPECT_EQ(m_window->seen[4].name, u"win");
    EXPECT_EQ(m_window->seen[4].row, 3);
}

TEST_F(SmallSkin, TabsSwitchPagesAndReportBothStates) {
    DuControl* tab1 = C(u"tab1");
    DuControl* tab2 = C(u"tab2");
    m_window->show();
    EXPECT_TRUE(tab1->IsSelected());
    EXPECT_TRUE(C(u"page1")->Widget()->isVisible());
    EXPECT_FALSE(C(u"page2")->Widget()->isVisible());

    QTest::mouseClick(tab2->Widget(), Qt::LeftButton);
    EXPECT_FALSE(tab1->IsSelected());
    EXPECT_TRUE(tab2->IsSelected());
    EXPECT_FALSE(C(u"page1")->Widget()->isVisible());
    EXPECT_TRUE(C(u"page2")->Widget()->isVisible());
    ASSERT_EQ(m_window->seen.size(), 2u);
    EXPECT_EQ(m_window->seen[0].name, u"tab1");
    EXPECT_EQ(m_window->seen[0].p1, 0);
    EXPECT_EQ(m_window->seen[1].name, u"tab2");
    EXPECT_EQ(m_window->seen[1].p1, 1);

    // Selecting the selected tab again changes nothing; Select by program reports too.
    QTest::mouseClick(tab2->Widget(), Qt::LeftButton);
    EXPECT_EQ(m_window->seen.size(), 2u);
    tab1->Select();
    EXPECT_TRUE(tab1->IsSelected());
    EXPECT_EQ(m_window->seen.size(), 4u);
    C(u"btn_a")->Select(); // not a tab: nothing
    EXPECT_EQ(m_window->seen.size(), 4u);
}

TEST_F(SmallSkin, ResizingKeepsAnchoredControlsInPlace) {
    EXPECT_EQ(C(u"btn_a")->Rect(), QRect(10, 40, 60, 24));
    EXPECT_EQ(C(u"btn_corner")->Rect(), QRect(240, 170, 50, 20));
    EXPECT_EQ(C(u"area")->Rect(), QRect(150, 40, 130, 26));
    EXPECT_EQ(C(u"inner")->Rect(), QRect(160, 165, 40, 30)); // inside the centred group

    m_window->show();
    m_window->resize(500, 350);
    QCoreApplication::processEvents();
    EXPECT_EQ(C(u"btn_a")->Rect(), QRect(10, 40, 60, 24));
    EXPECT_EQ(C(u"btn_corner")->Rect(), QRect(440, 320, 50, 20));
    EXPECT_EQ(C(u"area")->Rect(), QRect(150, 40, 330, 26));
    EXPECT_EQ(C(u"page1")->Rect(), QRect(10, 125, 480, 185));
    EXPECT_EQ(C(u"inner")->Rect(), QRect(260, 315, 40, 30));

    // The skin's minimum size holds.
    m_window->resize(50, 50);
    QCoreApplication::processEvents();
    EXPECT_EQ(m_window->size(), QSize(200, 150));
}

TEST_F(SmallSkin, HostAreaAdoptsANativeWidgetAndKeepsItFitted) {
    auto* edit = new QLineEdit(m_window.get());
    edit->setGeometry(C(u"area")->Rect());
    EXPECT_TRUE(C(u"area")->Adopt(edit));
    EXPECT_EQ(C(u"area")->Adopted(), edit);
    EXPECT_EQ(edit->parentWidget(), C(u"area")->Widget());
    EXPECT_EQ(QRect(edit->mapTo(m_window.get(), QPoint(0, 0)), edit->size()),
              QRect(150, 40, 130, 26));
    m_window->show();
    m_window->resize(400, 200);
    QCoreApplication::processEvents();
    EXPECT_EQ(edit->width(), 230);
    EXPECT_TRUE(edit->isVisible());

    // Only host areas adopt.
    QLineEdit stray;
    EXPECT_FALSE(C(u"btn_a")->Adopt(&stray));
    EXPECT_FALSE(C(u"area")->Adopt(nullptr));
}

TEST_F(SmallSkin, TextVisibilityFocusAndWorkerThreadUpdates) {
    DuControl* a = C(u"btn_a");
    a->SetText(u"新的文字");
    EXPECT_EQ(a->Text(), u"新的文字");
    a->SetVisible(false);
    EXPECT_FALSE(a->IsVisible());
    EXPECT_TRUE(a->Widget()->isHidden());
    a->SetVisible(true);
    EXPECT_FALSE(a->Widget()->isHidden());

    // Hiding a group hides what is inside it.
    m_window->show();
    C(u"grp")->SetVisible(false);
    EXPECT_FALSE(C(u"inner")->Widget()->isVisible());

    // The skin focus moves; the previous control loses its focused look.
    a->SetFocusedLook(true);
    EXPECT_EQ(m_object->FocusedControl(), a);
    C(u"chk")->SetFocusedLook(true);
    EXPECT_EQ(m_object->FocusedControl(), C(u"chk"));
    EXPECT_FALSE(a->HasFocusedLook());
    C(u"chk")->SetFocusedLook(false);
    EXPECT_EQ(m_object->FocusedControl(), nullptr);
    m_object->SetFocusedControl(a);
    EXPECT_TRUE(a->HasFocusedLook());

    // Workers change texts while the user-interface thread draws.
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([a, t]() {
            for (int i = 0; i < 200; ++i) {
                a->SetText(u"worker " + std::u16string(1, u'0' + t));
                a->Redraw();
                a->SetVisible(i % 2 == 0);
            }
        });
    }
    for (int i = 0; i < 50; ++i) {
        a->Widget()->repaint();
        QCoreApplication::processEvents();
    }
    for (auto& w : workers) {
        w.join();
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(a->Text().substr(0, 7), u"worker ");
    EXPECT_TRUE(a->Widget()->isVisible() == false || a->Widget()->isVisible() == true);
}

TEST_F(SmallSkin, UnbindRemovesTheSkinAndItsAdoptedWidgetsAndAllowsBindingAgain) {
    m_window->show();
    QPointer<QLineEdit> edit = new QLineEdit;
    ASSERT_TRUE(C(u"area")->Adopt(edit));
    QTest::mouseMove(C(u"btn_a")->Widget(), QPoint(5, 5)); // hovered while it goes
    C(u"btn_a")->SetFocusedLook(true);
    m_style->Unbind(m_window.get());
    QCoreApplication::processEvents();
    EXPECT_EQ(m_style->Window(m_window.get()), nullptr);
    EXPECT_TRUE(edit.isNull());
    EXPECT_TRUE(m_window->findChildren<DuSurface*>().isEmpty());
    m_style->Unbind(m_window.get()); // twice is harmless
    ASSERT_TRUE(m_style->Bind(m_window.get(), u"win"));
    m_object = m_style->Window(m_window.get());
    ASSERT_NE(m_object, nullptr);
    QTest::mouseClick(C(u"btn_a")->Widget(), Qt::LeftButton);
    ASSERT_EQ(m_window->seen.size(), 1u);
}

TEST(SkinStyle, DestroyingTheStyleFirstLeavesWindowsUsable) {
    QTemporaryDir dir;
    const std::u16string path = WriteFile(dir, QStringLiteral("config.xml"), kSmallSkin);
    auto style = duLoadStyleW(path.c_str());
    ASSERT_NE(style, nullptr);
    QWidget window;
    ASSERT_TRUE(style->Bind(&window, u"win"));
    style.reset(); // the window outlives the style: its skin goes, the window stays
    EXPECT_TRUE(window.findChildren<DuSurface*>().isEmpty());
    window.show();
    window.resize(250, 180);
    QCoreApplication::processEvents();
}

TEST(SkinImages, RemoveCreateLoadRegister) {
    QTemporaryDir dir;
    QImage picture(8, 6, QImage::Format_RGB32);
    picture.fill(Qt::red);
    const QString file = dir.filePath("a.jpg");
    ASSERT_TRUE(picture.save(file, "PNG")); // a PNG under a .jpg name still loads
    const std::u16string junk = WriteFile(dir, QStringLiteral("junk.jpg"), "not a picture");

    DuImageManager images;
    EXPECT_FALSE(images.Remove(u"btn_selfimage"));
    DuImage* image = images.Create(u"btn_selfimage");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(images.Find(u"btn_selfimage"), nullptr); // not registered yet
    EXPECT_FALSE(image->Load(junk));
    EXPECT_FALSE(image->Load(u""));
    EXPECT_TRUE(image->Load(file.toStdU16String()));
    EXPECT_EQ(image->Pixmap().size(), QSize(8, 6));
    EXPECT_TRUE(images.Register(image));
    EXPECT_EQ(images.Find(u"btn_selfimage"), image);
    EXPECT_FALSE(images.Register(image)); // already registered
    EXPECT_FALSE(images.Register(nullptr));
    EXPECT_TRUE(images.Remove(u"btn_selfimage"));
    EXPECT_EQ(images.Find(u"btn_selfimage"), nullptr);
}

} // namespace
