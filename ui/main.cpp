// QumoClient: start-up, the event loop while the main window lives, shutdown.
#include "ui/qumo_app.h"

#include <QApplication>

#include <cstdio>
#include <string>
#include <vector>

#include "app/user_prefs.h"
#include "net/service_config.h"
#include "platform/codepage.h"
#include "platform/paths.h"

namespace {

// The settings file of the service addresses, beside the program.
std::string ServiceConfPath() {
    const std::string exe = platform::ToNarrow(platform::ModuleFileName());
    const std::size_t cut = exe.rfind('/');
    return cut == std::string::npos ? std::string() : exe.substr(0, cut) + "/qumoclient.conf";
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QumoClient"));
    // Qt has taken its own options out of argv; the rest choose the service.
    std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            std::fputs(service_config::UsageText(), stdout);
            return 0;
        }
    }
    std::string err;
    if (!service_config::Configure(args, ServiceConfPath(), err)) {
        std::fprintf(stderr, "QumoClient: %s\n%s", err.c_str(), service_config::UsageText());
        return 2;
    }
    prefs::Apply(prefs::LoadPrefs(prefs::PrefsPath()));
    CQumoApp theApp;
    int code = 0;
    if (theApp.InitInstance()) {
        code = QApplication::exec();
    }
    const int exitCode = theApp.ExitInstance();
    return code != 0 ? code : exitCode;
}
