// The program's message box: a skinned modal dialog on "showmsg_win" with one button (a
// notice) or two (a question). Callers read m_nResult after the modal run: 1 when the user
// confirmed, 0 otherwise.
#pragma once

#include "ui/skin/du_events.h"

#include <QDialog>
#include <QPointer>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

class DuControl;

class CShowMsgDlg : public QDialog {
public:
    // `owner` may be null (the box is then centred on the screen).
    CShowMsgDlg(QWidget* owner, std::u16string_view text, int oneButton);
    ~CShowMsgDlg() override;

    // Creates the skinned window and runs it modally. When creation fails the run ends at
    // once with m_nResult 0. Returns the framework's value, which callers do not use.
    int DoModal();

    int m_nResult = 0;
    int m_nOneButton = 0;
    std::u16string m_strText;
    QPointer<QWidget> m_pOwner;

protected:
    bool OnInitDialog();
    bool event(QEvent* event) override;

private:
    void OnYes(DuControl* control, std::intptr_t p1, std::intptr_t p2);
    void OnNo(DuControl* control, std::intptr_t p1, std::intptr_t p2);
    void OnTrue(DuControl* control, std::intptr_t p1, std::intptr_t p2);

    bool m_bBound = false;

    static const std::array<DuEventRow<CShowMsgDlg>, 3> s_events;
};

// Shows a message box and returns its result. From a worker thread the box is shown on the
// user-interface thread while the worker waits for the answer.
int ShowMessageBox(QWidget* owner, std::u16string_view text, int oneButton);

// Centres a dialog on its owner's window, or on the screen without a visible owner.
void CentreWindowOn(QWidget* window, QWidget* owner);
