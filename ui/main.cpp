// QumoClient: start-up, the event loop while the main window lives, shutdown.
#include "ui/qumo_app.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QumoClient"));
    CQumoApp theApp;
    int code = 0;
    if (theApp.InitInstance()) {
        code = QApplication::exec();
    }
    const int exitCode = theApp.ExitInstance();
    return code != 0 ? code : exitCode;
}
