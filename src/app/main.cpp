#include "app/SetupApp.h"

#include <QApplication>
#include <QStringList>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("torvik7-setup"));
    // A settings file given by the desktop ("open with", a double-clicked "*.stg").
    const QStringList args = QApplication::arguments();
    CSetupApp theApp;
    return theApp.InitInstance(app, args.size() > 1 ? args.at(1) : QString());
}
