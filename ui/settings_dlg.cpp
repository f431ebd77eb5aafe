#include "ui/settings_dlg.h"

#include "base/log.h"
#include "ui/show_msg_dlg.h"
#include "ui/skin/du_style.h"
#include "ui/skin/skin_font.h"

#include <QSpinBox>

namespace {

constexpr char16_t kTrayCheck[] = u"checkbox_settings_tray";
constexpr char16_t kNotifyCheck[] = u"checkbox_settings_notify";

} // namespace

const std::array<DuEventRow<CSettingsDlg>, 2> CSettingsDlg::s_events = {{
    {u"btn_settings_ok", kDuEventClick, &CSettingsDlg::OnOk},
    {u"btn_settings_cancel", kDuEventClick, &CSettingsDlg::OnCancel},
}};

CSettingsDlg::CSettingsDlg(QWidget* owner, std::u16string path)
    : QDialog(owner), m_strPath(std::move(path)), m_pOwner(owner) {
    setWindowTitle(QStringLiteral("设置"));
}

CSettingsDlg::~CSettingsDlg() {
    if (m_bBound) {
        if (DuStyle* style = DuAppStyle()) {
            style->Unbind(this);
        }
    }
}

DuControl* CSettingsDlg::Control(const char16_t* name) const {
    DuStyle* style = DuAppStyle();
    DuWindow* window = style ? style->Window(const_cast<CSettingsDlg*>(this)) : nullptr;
    return window ? window->Control(name) : nullptr;
}

bool CSettingsDlg::OnInitDialog() {
    if (m_bBound) {
        return true;
    }
    DuStyle* style = DuAppStyle();
    if (!style || !style->Bind(this, u"settings_win")) {
        return false;
    }
    m_bBound = true;
    CentreWindowOn(this, m_pOwner);
    DuWindow* window = style->Window(this);
    if (!window) {
        return false;
    }
    struct SpinSpec {
        const char16_t* host;
        QPointer<QSpinBox>* spin;
        int min;
        int max;
    };
    const SpinSpec spins[] = {
        {u"edit_settings_transfers", &m_pTransfersEdit, prefs::kMinTransfers, prefs::kMaxTransfers},
        {u"edit_settings_cap", &m_pCapEdit, 0, prefs::kMaxCapKBps},
    };
    for (const SpinSpec& s : spins) {
        DuControl* host = window->Control(s.host);
        if (!host) {
            return false;
        }
        auto* spin = new QSpinBox(this);
        spin->setObjectName(QString::fromStdU16String(s.host));
        spin->setRange(s.min, s.max);
        spin->setFrame(false);
        spin->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        spin->setFont(SkinFont(QStringLiteral("宋体"), 13, 500));
        spin->setStyleSheet(QStringLiteral("QSpinBox { background: transparent; border: none;"
                                           " color: rgb(61, 88, 109); padding-right: 4px; }"));
        host->Adopt(spin);
        *s.spin = spin;
    }
    ShowPrefs(prefs::Current());
    return true;
}

prefs::UserPrefs CSettingsDlg::ShownPrefs() const {
    prefs::UserPrefs p = prefs::Current();
    if (m_pTransfersEdit) {
        p.transfers = m_pTransfersEdit->value();
    }
    if (m_pCapEdit) {
        p.capKBps = m_pCapEdit->value();
    }
    if (DuControl* tray = Control(kTrayCheck)) {
        p.trayWhileUploading = tray->CheckState();
    }
    if (DuControl* notify = Control(kNotifyCheck)) {
        p.notifyWhenDone = notify->CheckState();
    }
    return p;
}

void CSettingsDlg::ShowPrefs(const prefs::UserPrefs& p) {
    if (m_pTransfersEdit) {
        m_pTransfersEdit->setValue(p.transfers);
    }
    if (m_pCapEdit) {
        m_pCapEdit->setValue(p.capKBps);
    }
    for (auto [name, on] :
         {std::pair{kTrayCheck, p.trayWhileUploading}, std::pair{kNotifyCheck, p.notifyWhenDone}}) {
        if (DuControl* check = Control(name)) {
            check->SetCheckState(on);
            check->Redraw();
        }
    }
}

int CSettingsDlg::DoModal() {
    m_nResult = 0;
    if (!OnInitDialog()) {
        return 0;
    }
    return exec();
}

bool CSettingsDlg::event(QEvent* e) {
    if (SkinEvent* skin = AsSkinEvent(e)) {
        DuDispatchEvent<CSettingsDlg>(this, s_events, *skin);
        return true;
    }
    return QDialog::event(e);
}

void CSettingsDlg::OnOk(DuControl*, std::intptr_t, std::intptr_t) {
    const prefs::UserPrefs p = ShownPrefs();
    // In force even when the file cannot be written: the user asked for it now; the next
    // start then reads the old values, which the message says.
    prefs::Apply(p);
    if (!prefs::SavePrefs(m_strPath, p)) {
        ShowMessageBox(this, u"设置无法保存，本次运行仍按新设置进行。", 1);
    }
    m_nResult = 1;
    if (DuStyle* style = DuAppStyle()) {
        style->Close(this);
    }
}

void CSettingsDlg::OnCancel(DuControl*, std::intptr_t, std::intptr_t) {
    m_nResult = 0;
    if (DuStyle* style = DuAppStyle()) {
        style->Close(this);
    }
}
