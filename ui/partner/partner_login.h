// The partner logins of the login window: the four partners, their buttons and pages, the
// flow that runs the sign-in window, and the completion of the login through the API.
#pragma once

#include <QWidget>

#include <string>
#include <string_view>

struct PartnerInfo {
    const char16_t* button;     // "btn_loginwin_..." (the one in the keyboard chain)
    const char16_t* logoButton; // "btn_logo_..."
    const char* path;           // page on the partner-login host
    int kind;                   // CThirdUserLogin kind
    const char16_t* failure;    // shown when the sign-in did not complete
};

// The partner of either of its two buttons; null for any other name.
const PartnerInfo* PartnerForButton(std::u16string_view buttonName);

// "http://" + partner-login host + the partner's page.
std::u16string PartnerPageUrl(const PartnerInfo& partner);

// What the login window does after a partner flow.
enum class PartnerOutcome {
    StayOpen,      // failed or nothing to do; the window stays for another try
    CloseLoggedIn, // logged in: the logged-in flag becomes 1 and the window closes
    CloseUpdate,   // an update was accepted: the flag becomes 0 and the window closes
};

// The partner flow for the button `buttonName` of `loginWindow`: the sign-in window, the
// waiting indicator, the version check and CompletePartnerLogin. The configuration file
// is never touched.
PartnerOutcome RunPartnerLogin(QWidget* loginWindow, std::u16string_view buttonName);

// With the partner cookies in CGlobalVar::m_strUid and m_strToken: the account's space,
// values and folder list. 1 when done (the folder tree file written), else 0 after a
// message was shown.
int CompletePartnerLogin();
