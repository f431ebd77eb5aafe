// The settings window: values typed and clicked in its real controls reach the preferences
// file and the values in force, and a new window shows what the file holds.
#include "support/skin_fixture.h"
#include "ui/settings_dlg.h"

#include <QSpinBox>
#include <QTimer>
#include <QtTest/QTest>

namespace {

class SettingsDlg : public uitest::BlueSkin {
protected:
    void TearDown() override {
        prefs::Apply(prefs::UserPrefs{});
        uitest::BlueSkin::TearDown();
    }
    DuControl* Control(CSettingsDlg& dlg, const char16_t* name) {
        DuWindow* w = m_style->Window(&dlg);
        return w ? w->Control(name) : nullptr;
    }
    void Click(CSettingsDlg& dlg, const char16_t* name) {
        DuControl* c = Control(dlg, name);
        ASSERT_NE(c, nullptr);
        QTest::mouseClick(c->Widget(), Qt::LeftButton);
    }
    static void Type(QSpinBox* spin, const QString& text) {
        spin->setFocus();
        spin->selectAll();
        QTest::keyClicks(spin, text);
    }
};

TEST_F(SettingsDlg, ValuesRoundTripThroughTheFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::u16string path = dir.filePath("qumoclient-prefs.conf").toStdU16String();
    prefs::Apply(prefs::UserPrefs{});

    prefs::UserPrefs wanted;
    wanted.transfers = 6;
    wanted.capKBps = 512;
    wanted.trayWhileUploading = true;
    wanted.notifyWhenDone = false;
    {
        CSettingsDlg dlg(nullptr, path);
        QTimer::singleShot(0, &dlg, [&]() {
            ASSERT_TRUE(dlg.m_pTransfersEdit && dlg.m_pCapEdit);
            EXPECT_EQ(dlg.ShownPrefs(), prefs::UserPrefs{}); // opens on the values in force
            Type(dlg.m_pTransfersEdit, "6");
            Type(dlg.m_pCapEdit, "512");
            Click(dlg, u"checkbox_settings_tray");
            Click(dlg, u"checkbox_settings_notify");
            Click(dlg, u"btn_settings_ok");
        });
        dlg.DoModal();
        EXPECT_EQ(dlg.m_nResult, 1);
    }
    EXPECT_EQ(prefs::Current(), wanted);
    QFile file(QString::fromStdU16String(path));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toStdString(), prefs::PrefsText(wanted));

    // Read back at the next start, a new window shows them; cancelling keeps the file.
    prefs::Apply(prefs::UserPrefs{});
    prefs::Apply(prefs::LoadPrefs(path));
    CSettingsDlg again(nullptr, path);
    QTimer::singleShot(0, &again, [&]() {
        EXPECT_EQ(again.ShownPrefs(), wanted);
        Type(again.m_pTransfersEdit, "2");
        Click(again, u"btn_settings_cancel");
    });
    again.DoModal();
    EXPECT_EQ(again.m_nResult, 0);
    EXPECT_EQ(prefs::LoadPrefs(path), wanted);
    EXPECT_EQ(prefs::Current(), wanted);
}

} // namespace
