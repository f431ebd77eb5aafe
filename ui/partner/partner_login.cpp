#include "ui/partner/partner_login.h"

#include "app/app_settings.h"
#include "app/global_var.h"
#include "base/log.h"
#include "net/api_calls.h"
#include "net/api_url.h"
#include "net/hosts.h"
#include "serverdir/server_dir_info.h"
#include "ui/check_version.h"
#include "ui/partner/third_user_login.h"
#include "ui/show_msg_dlg.h"
#include "ui/skin/du_control.h"
#include "ui/skin/du_style.h"
#include "ui/skin/du_window.h"

#include <QString>

namespace {

const PartnerInfo kPartners[] = {
    {u"btn_loginwin_sinablog", u"btn_logo_sinablog", "/openuser/sina", CThirdUserLogin::kKindSina,
     u"新浪微博账户登录失败，请重试！"},
    {u"btn_loginwin_renblog", u"btn_logo_renblog", "/openuser/renren", CThirdUserLogin::kKindRenren,
     u"人人网账户登录失败，请重试！"},
    {u"btn_loginwin_qqblog", u"btn_logo_qqblog", "/openuser/qweibo", CThirdUserLogin::kKindQqBlog,
     u"腾讯微博账户登录失败，请重试！"},
    {u"btn_loginwin_qq", u"btn_logo_qq", "/qq/login", CThirdUserLogin::kKindQq,
     u"QQ账户登录失败，请重试！"},
};

void ShowWaiting(DuWindow* window, bool visible) {
    if (DuControl* waiting = window->Control(u"static_loginwin_waiting")) {
        waiting->SetVisible(visible);
        waiting->Redraw();
    }
}

} // namespace

const PartnerInfo* PartnerForButton(std::u16string_view buttonName) {
    for (const PartnerInfo& p : kPartners) {
        if (buttonName == p.button || buttonName == p.logoButton) {
            return &p;
        }
    }
    return nullptr;
}

std::u16string PartnerPageUrl(const PartnerInfo& partner) {
    const std::string url = hosts::PartnerLoginBase() + partner.path;
    return QString::fromStdString(url).toStdU16String();
}

PartnerOutcome RunPartnerLogin(QWidget* loginWindow, std::u16string_view buttonName) {
    const PartnerInfo* partner = PartnerForButton(buttonName);
    if (!partner) {
        return PartnerOutcome::StayOpen;
    }
    std::u16string uid, utoken;
    int succeeded = 0;
    {
        CThirdUserLogin dlg(loginWindow, PartnerPageUrl(*partner), partner->kind);
        dlg.DoModal();
        succeeded = dlg.m_nSucceeded;
        uid = dlg.m_strUid;
        utoken = dlg.m_strUtoken;
    }

    DuStyle* style = DuAppStyle();
    DuWindow* window = style ? style->Window(loginWindow) : nullptr;
    if (!window) {
        return PartnerOutcome::StayOpen;
    }
    if (succeeded == 0) {
        ShowMessageBox(nullptr, partner->failure, 1);
        ShowWaiting(window, false);
        return PartnerOutcome::StayOpen;
    }
    ShowWaiting(window, true);
    CGlobalVar::m_strUid = uid;
    CGlobalVar::m_strToken = utoken;

    if (CheckVersionUpdate(true) == 1) {
        return PartnerOutcome::CloseUpdate;
    }
    return CompletePartnerLogin() == 1 ? PartnerOutcome::CloseLoggedIn : PartnerOutcome::StayOpen;
}

int CompletePartnerLogin() {
    // Later requests insert the escaped cookie values; one that does not fit the store
    // would be cut into a different account's name, so it is refused before anything is sent.
    const std::size_t uidBytes = api_url::EscapeUtf8(CGlobalVar::m_strUid).size();
    const std::size_t tokenBytes = api_url::EscapeUtf8(CGlobalVar::m_strToken).size();
    if (uidBytes >= CAppSettings::kUidCap || tokenBytes >= CAppSettings::kTokenCap) {
        LogError(u"ThirdUserLogin: the uid or utoken cookie is too long (%d, %d bytes)",
                 static_cast<int>(uidBytes), static_cast<int>(tokenBytes));
        ShowMessageBox(nullptr, u"登录失败，请检查用户名和密码！", 1);
        return 0;
    }

    const SpaceAnswer space = ApiGetSpace(CGlobalVar::m_strUid, CGlobalVar::m_strToken);
    if (space.outcome != ApiOutcome::Ok) {
        ShowMessageBox(nullptr, SpaceFailureText(space), 1);
        return 0;
    }
    GetAppSettings().SetUserInfo(space.escUid.c_str(), space.escToken.c_str(), space.nick.c_str(),
                                 space.headface.c_str(), static_cast<int>(space.usedSpace),
                                 static_cast<int>(space.totalSpace));

    const FolderListAnswer folders = ApiGetFolderList(LoginKind::Partner);
    const std::u16string failure = FolderListFailureText(folders, LoginKind::Partner);
    if (!failure.empty()) {
        ShowMessageBox(nullptr, failure, 1);
        return 0;
    }
    if (folders.hasList) {
        WriteServerDirInfo(folders.folders);
    }
    return 1;
}
