// The settings window "设置" on the skin window "settings_win": files sent at once, the
// bandwidth cap, keeping the program in the tray while uploading and the notification when
// uploads end. OK saves the values to the preferences file and puts them in force at once.
#pragma once

#include "app/user_prefs.h"
#include "ui/skin/du_events.h"

#include <QDialog>
#include <QPointer>

#include <array>
#include <cstdint>
#include <string>

class DuControl;
class QSpinBox;

class CSettingsDlg : public QDialog {
public:
    // `path`: the preferences file the values are saved to.
    CSettingsDlg(QWidget* owner, std::u16string path);
    ~CSettingsDlg() override;

    // Creates the skinned window filled with the values in force and runs it modally.
    // m_nResult is 1 when the values were saved.
    int DoModal();
    // Creates the skinned window without running it (tests, screenshots); false without it.
    bool OnInitDialog();

    // The values the window's controls show now.
    prefs::UserPrefs ShownPrefs() const;
    void ShowPrefs(const prefs::UserPrefs& p);

    int m_nResult = 0;
    QPointer<QSpinBox> m_pTransfersEdit;
    QPointer<QSpinBox> m_pCapEdit;

protected:
    bool event(QEvent* event) override;

private:
    void OnOk(DuControl* control, std::intptr_t p1, std::intptr_t p2);
    void OnCancel(DuControl* control, std::intptr_t p1, std::intptr_t p2);
    DuControl* Control(const char16_t* name) const;

    std::u16string m_strPath;
    QPointer<QWidget> m_pOwner;
    bool m_bBound = false;

    static const std::array<DuEventRow<CSettingsDlg>, 2> s_events;
};
