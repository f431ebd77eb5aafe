// Start-up: the silent end without a skin, the single-instance rule, the login window's
// outcome and the main window with the program's title; the program itself without a skin.
#include "login_env.h"
#include "ui/qumo_app.h"
#include "ui/user_login_dlg.h"

#include <QApplication>
#include <QProcess>
#include <QTimer>
#include <QtTest/QTest>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <vector>

extern char** environ;

namespace {

using logintest::ConfigXml;
using ui::testing::MsgBoxAnswerer;

// Processes whose executable file is named as given: copies of sleep(1).
class Sleepers {
public:
    Sleepers(const logintest::fs::path& folder, const std::vector<std::string>& names) {
        for (std::size_t i = 0; i < names.size(); ++i) {
            const logintest::fs::path dir = folder / ("p" + std::to_string(i));
            logintest::fs::create_directories(dir);
            const logintest::fs::path exe = dir / names[i];
            logintest::fs::copy_file("/bin/sleep", exe);
            logintest::fs::permissions(exe, logintest::fs::perms::owner_all);
            const std::string path = exe.string();
            char* argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>("60"), nullptr};
            pid_t pid = -1;
            if (::posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ) == 0) {
                pids_.push_back(pid);
            }
        }
        // Give the children time to replace their image (exec) before anyone counts.
        QTest::qWait(200);
    }
    ~Sleepers() {
        for (pid_t pid : pids_) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    std::size_t Count() const { return pids_.size(); }

private:
    std::vector<pid_t> pids_;
};

// Clicks a control of the first visible login window once one shows.
void ClickInLoginWindowWhenShown(const char16_t* name) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, name]() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* dlg = dynamic_cast<CUserLoginDlg*>(w);
            DuStyle* style = DuAppStyle();
            DuWindow* object = dlg && style ? style->Window(dlg) : nullptr;
            if (dlg && dlg->isVisible() && object && object->Control(name)) {
                timer->stop();
                timer->deleteLater();
                QTest::mouseClick(object->Control(name)->Widget(), Qt::LeftButton);
                return;
            }
        }
    });
    timer->start(20);
}

class Startup : public ::testing::Test {
protected:
    void SetUp() override {
        char buffer[4096];
        ASSERT_NE(::getcwd(buffer, sizeof buffer), nullptr);
        cwd_ = buffer;
        logintest::ClearAccount();
    }
    void TearDown() override {
        ASSERT_EQ(::chdir(cwd_.c_str()), 0);
        DuSetAppStyle(nullptr);
    }

    std::string cwd_;
    logintest::Installation inst_;
};

TEST_F(Startup, WithoutTheSkinFileTheProgramEndsWithoutAWord) {
    inst_.WriteConfig(ConfigXml("", "", "false"));
    MsgBoxAnswerer answerer;
    CQumoApp app;
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(app.ExitInstance(), 0);
    EXPECT_EQ(app.Style(), nullptr);
    EXPECT_TRUE(answerer.Texts().empty());
    EXPECT_EQ(inst_.LogText(), "");
    for (QWidget* w : QApplication::topLevelWidgets()) {
        EXPECT_FALSE(w->isVisible()) << w->metaObject()->className();
    }
}

TEST_F(Startup, ASecondRunningCopyIsRefusedButOtherNamesAreNot) {
    inst_.InstallSkin();
    {
        // Two others named like the program: it runs already.
        Sleepers others(inst_.Root() / "others", {"QumoClient", "qumoclient"});
        ASSERT_EQ(others.Count(), 2u);
        MsgBoxAnswerer answerer;
        CQumoApp app;
        EXPECT_FALSE(app.InitInstance());
        app.ExitInstance();
        ASSERT_EQ(answerer.Records().size(), 1u);
        EXPECT_EQ(answerer.Records()[0].text, u"程序已经在运行！");
        EXPECT_EQ(answerer.Records()[0].oneButton, 1);
    }
    {
        // One of the same name (as if this were the program) and a renamed copy: start-up
        // goes on to the login window, which finds no configuration file.
        Sleepers others(inst_.Root() / "others2", {"QumoClient", "QumoClient-copy"});
        ASSERT_EQ(others.Count(), 2u);
        MsgBoxAnswerer answerer;
        CQumoApp app;
        EXPECT_FALSE(app.InitInstance());
        app.ExitInstance();
        EXPECT_EQ(answerer.Texts(), std::vector<std::u16string>{
                                        u"登录失败，原因：本地配置文件不存在，请与供应商联系！"});
    }
}

TEST_F(Startup, LoginWindowClosedEndsTheProgram) {
    inst_.InstallSkin();
    inst_.WriteConfig(ConfigXml("", "", "false"));
    MsgBoxAnswerer answerer;
    CQumoApp app;
    ClickInLoginWindowWhenShown(u"btn_loginwin_close");
    EXPECT_FALSE(app.InitInstance());
    app.ExitInstance();
    EXPECT_TRUE(answerer.Texts().empty());
    EXPECT_FALSE(app.MainWindow() && app.MainWindow()->isVisible());
}

TEST_F(Startup, AutomaticLoginLeadsToTheMainWindowFromTheInstallRoot) {
    ServiceProcess service;
    ASSERT_TRUE(service.Start({"--demo"})) << service.Error();
    hosts::SetAllServiceHosts(service.ApiHost());
    inst_.InstallSkin();
    inst_.WriteConfig(ConfigXml(logintest::DemoMobile(), "cXVtbzIwMTI=", "true"));
    ASSERT_EQ(::chdir(inst_.Bin().c_str()), 0);
    MsgBoxAnswerer answerer;
    CQumoApp app;
    ASSERT_TRUE(app.InitInstance());
    EXPECT_TRUE(answerer.Texts().empty());
    char buffer[4096];
    ASSERT_NE(::getcwd(buffer, sizeof buffer), nullptr);
    EXPECT_EQ(logintest::fs::canonical(buffer), logintest::fs::canonical(inst_.Root()));
    ASSERT_NE(app.Style(), nullptr);
    ASSERT_NE(app.MainWindow(), nullptr);
    EXPECT_TRUE(app.MainWindow()->isVisible());
    EXPECT_EQ(app.MainWindow()->windowTitle(), QStringLiteral("酷摩岚 V1.0"));
    EXPECT_EQ(CGlobalVar::m_nUploadCtrl.load(), 0);
    EXPECT_FALSE(CGlobalVar::m_strNick.empty());
    EXPECT_TRUE(logintest::fs::exists(inst_.Root() / "lib" / "tmp" / "ServerDirInfo.xml"));
    app.ExitInstance();
}

TEST_F(Startup, TheProgramWithoutItsSkinExitsAtOnce) {
    const logintest::fs::path exe = inst_.Bin() / "QumoClient";
    logintest::fs::copy_file(QUMO_CLIENT_BIN, exe);
    inst_.WriteConfig(ConfigXml("", "", "false"));
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(QString::fromStdString(inst_.Bin().string()));
    program.start(QString::fromStdString(exe.string()), {});
    ASSERT_TRUE(program.waitForStarted(10000));
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_EQ(inst_.LogText(), "");
}

} // namespace
