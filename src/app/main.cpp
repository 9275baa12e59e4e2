#include "app/SetupApp.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("torvik7-setup"));
    CSetupApp theApp;
    return theApp.InitInstance(app);
}
