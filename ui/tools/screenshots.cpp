// Renders the program's windows offscreen into PNG files for the documentation.
//   qumo_screenshots <repository root> <output folder>
// Run through scripts/screenshots.
#include "app/global_var.h"
#include "serverdir/server_dir_info.h"
#include "ui/sel_net_dir_dlg.h"
#include "ui/show_msg_dlg.h"
#include "ui/skin/du_style.h"
#include "ui/skin/skin_model.h"
#include "ui/user_login_dlg.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPixmap>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

// Opens the box's window without the modal run, so it can be photographed.
class ShownMsgDlg : public CShowMsgDlg {
public:
    using CShowMsgDlg::CShowMsgDlg;
    bool Open() {
        if (!OnInitDialog()) {
            return false;
        }
        show();
        return true;
    }
};

// Opens the picker's window without the modal run.
class ShownSelNetDirDlg : public CSelNetDirDlg {
public:
    using CSelNetDirDlg::CSelNetDirDlg;
    bool Open() {
        if (!OnInitDialog()) {
            return false;
        }
        show();
        return true;
    }
};

bool Save(QWidget& window, const QString& path) {
    QCoreApplication::processEvents();
    const bool ok = window.grab().save(path, "PNG");
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

bool MessageBox(const QString& path, const char16_t* text, int oneButton) {
    ShownMsgDlg box(nullptr, text, oneButton);
    if (!box.Open()) {
        return false;
    }
    const bool ok = Save(box, path);
    box.hide();
    return ok;
}

// The login window as a returning user sees it: the account and the remembered password
// filled in from a configuration file, the remember box set.
bool LoginWindow(const QString& path) {
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("QumolanLocalConfig.xml"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    file.write("<QumolanLocalConfig><UserName>13800138000</UserName>"
               "<UserPwd>cXVtbzIwMTI=</UserPwd><AutoLogin>false</AutoLogin>"
               "<Version>1.0.0</Version></QumolanLocalConfig>");
    file.close();
    CGlobalVar::m_strLocalConfigPath = config.toStdU16String();
    CUserLoginDlg login(nullptr, 1);
    if (!login.OnInitDialog()) {
        return false;
    }
    login.show();
    return Save(login, path);
}

ServerFolder Folder(const char16_t* name, int fid, int parent) {
    ServerFolder folder;
    const std::u16string text(name);
    text.copy(folder.name, std::size(folder.name) - 1);
    folder.fid = fid;
    folder.parenterid = parent;
    return folder;
}

// The picker on an account with a few years of albums, opened on the folder chosen last.
bool Picker(const QString& path) {
    QTemporaryDir dir;
    const std::u16string savedRoot = CGlobalVar::m_strInstallRoot;
    CGlobalVar::m_strInstallRoot = (dir.path() + QStringLiteral("/")).toStdU16String();
    const std::vector<ServerFolder> folders = {
        Folder(u"我的相册", 0, -1),   Folder(u"旅行", 11, 0),        Folder(u"家人", 12, 0),
        Folder(u"同学聚会", 13, 0),   Folder(u"视频", 14, 0),        Folder(u"2012 春节", 21, 11),
        Folder(u"2013 三亚", 22, 11), Folder(u"宝宝成长记", 23, 12), Folder(u"婚礼录像", 24, 14),
        Folder(u"手机相册", 15, 0),
    };
    WriteServerDirInfo(folders);
    CGlobalVar::m_strNetDirPath = u"我的相册/旅行/2012 春节";
    bool ok = false;
    {
        ShownSelNetDirDlg picker;
        if (picker.Open()) {
            ok = Save(picker, path);
            picker.hide();
        }
    }
    CGlobalVar::m_strNetDirPath.clear();
    CGlobalVar::m_strInstallRoot = savedRoot;
    return ok;
}

// Every skin window bare, with plain widgets in its host areas: for reviewing the skin.
bool SkinPreview(DuStyle& style, const QString& out) {
    bool ok = true;
    for (const DuWindowDef& def : style.Skin().windows) {
        QWidget window;
        if (!style.Bind(&window, def.name.c_str())) {
            return false;
        }
        DuWindow* object = style.Window(&window);
        std::function<void(const DuControl&)> fill = [&](const DuControl& control) {
            if (control.Kind() == DuKind::Host) {
                DuControl* host = object->Control(control.Name());
                host->Adopt(new QLineEdit(QString::fromStdU16String(control.Name())));
            }
            for (const auto& child : control.Children()) {
                fill(*child);
            }
        };
        fill(*object->Self());
        window.show();
        ok &= Save(window, out + QStringLiteral("/skin_") + QString::fromStdU16String(def.name) +
                               QStringLiteral(".png"));
        style.Unbind(&window);
    }
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: qumo_screenshots <repository root> <output folder> "
                             "[--skin-preview]\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    const QString out = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(out);
    auto style =
        duLoadStyleW((root + QStringLiteral("/skin/blue/config.xml")).toStdU16String().c_str());
    if (!style) {
        std::fprintf(stderr, "cannot load the skin below %s\n", argv[1]);
        return 1;
    }
    DuSetAppStyle(style.get());
    if (argc == 4 && QByteArray(argv[3]) == "--skin-preview") {
        return SkinPreview(*style, out) ? 0 : 1;
    }
    bool ok = true;
    ok &= LoginWindow(out + QStringLiteral("/login.png"));
    ok &= MessageBox(out + QStringLiteral("/msgbox_notice.png"), u"登录失败，请检查网络！", 1);
    ok &= MessageBox(out + QStringLiteral("/msgbox_question.png"),
                     u"确定退出系统吗,点[否]取消退出?", 0);
    ok &= Picker(out + QStringLiteral("/picker.png"));
    DuSetAppStyle(nullptr);
    return ok ? 0 : 1;
}
