#include "app/SetupApp.h"

#include "app/SetupDlg.h"
#include "journal/Journal.h"
#include "journal/ServerJournal.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QThread>
#include <QTranslator>

#include <memory>

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
    // Entries kept while the team's journal server was out of reach go now, beside the
    // window, so its start never waits on the network.
    std::unique_ptr<QThread> sender;
    if (journal.Server()) {
        sender.reset(QThread::create([location = journal.Location()] {
            Journal own(location);
            own.Push();
        }));
        sender->start();
    }
    app.setWindowIcon(dlg.m_hIcon);
    dlg.exec();
    if (sender) sender->wait();
    return 0;
}
