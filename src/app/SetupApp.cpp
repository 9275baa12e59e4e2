#include "app/SetupApp.h"

#include "app/SetupDlg.h"
#include "journal/Journal.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

bool InstallRussianTranslations(QApplication& app) {
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    bool any = false;
    for (const char* name : {"qtbase_ru", "qtserialport_ru"}) {
        auto* translator = new QTranslator(&app);
        if (translator->load(QString::fromLatin1(name), folder)) {
            QCoreApplication::installTranslator(translator);
            any = true;
        } else {
            delete translator;
        }
    }
    return any;
}

int CSetupApp::InitInstance(QApplication& app) {
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    InstallRussianTranslations(app);
    Journal journal;
    CSetupDlg dlg;
    dlg.SetJournal(&journal);
    dlg.RecoverUnsaved();
    app.setWindowIcon(dlg.m_hIcon);
    dlg.exec();
    return 0;
}
