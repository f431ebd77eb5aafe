// The login window: account name and password against the service, remembered
// credentials, automatic login, and the keyboard rules of the skinned window.
#pragma once

#include "ui/skin/du_events.h"

#include <QDialog>
#include <QLineEdit>
#include <QPointer>

#include <array>
#include <cstdint>
#include <string>

class DuControl;
class DuWindow;

class CUserLoginDlg : public QDialog {
public:
    static constexpr int kAccountEditId = 1201;
    static constexpr int kPasswordEditId = 1202;

    // `noAutoLogin` 1 keeps a remembered automatic login from starting (after a logout).
    CUserLoginDlg(QWidget* parent, int noAutoLogin);
    ~CUserLoginDlg() override;

    // Creates the window and, unless creation already ended it, runs it modally. Callers
    // read m_nLoggedIn afterwards.
    int DoModal();

    // Creation without the modal run: binds the skin, adopts the edits, fills in the
    // remembered values and may log in at once. False when the window cannot be used.
    bool OnInitDialog();

    // Reads the edits and logs in; on success the window closes through the toolkit.
    void RunLogin();

    QLineEdit* AccountEdit() const { return m_pAccountEdit; }
    QLineEdit* PasswordEdit() const { return m_pPasswordEdit; }
    // True once a completed login (or an accepted update) closed the window.
    bool Ended() const { return m_bEnded; }

    int m_nLoggedIn = 0;
    int m_nNoAutoLogin = 0;
    std::u16string m_strAccount;
    std::u16string m_strPassword;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum Ref {
        kRemember,
        kAutoLogin,
        kLogin,
        kRegister,
        kForgetPwd,
        kQq,
        kSina,
        kRenren,
        kQqBlog,
        kRefCount
    };

    bool CreateEdits(DuWindow* window);
    void LookUpControls(DuWindow* window);
    bool FillRememberedValues();
    void CloseThroughToolkit();
    void ShowWaiting(bool visible);
    void SaveCredentials();

    bool OnTabKey();
    void OnEnterKey();
    bool HasAllRefs() const;
    bool AnyRefFocused() const;

    void OpenPage(const char* path);
    void OnLogin(DuControl* control, std::intptr_t p1, std::intptr_t p2);
    void OnRegister(DuControl* control, std::intptr_t p1, std::intptr_t p2);
    void OnForgetPwd(DuControl* control, std::intptr_t p1, std::intptr_t p2);
    void OnPartner(DuControl* control, std::intptr_t p1, std::intptr_t p2);

    QPointer<QLineEdit> m_pAccountEdit;
    QPointer<QLineEdit> m_pPasswordEdit;
    std::array<DuControl*, kRefCount> m_refs{};
    bool m_bBound = false;
    bool m_bEnded = false;

    static const std::array<DuEventRow<CUserLoginDlg>, 11> s_events;
};
