#include "app/SetupApp.h"

#include "app/SetupDlg.h"
#include "journal/Journal.h"
#include "journal/ServerJournal.h"

#include <QApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QThread>
#include <QTranslator>

#include <memory>

bool InstallRussianTranslations(QApplication& app) {
    // A static Qt's own folder is on the machine that built it: such a build carries the
    // translations in its resources.
    const QString folder = QFile::exists(QStringLiteral(":/i18n/qtbase_ru.qm"))
                               ? QStringLiteral(":/i18n")
                               : QLibraryInfo::path(QLibraryInfo::TranslationsPath);
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

int CSetupApp::InitInstance(QApplication& app, const QString& file) {
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
    if (!file.isEmpty()) dlg.OpenAtStart(file);
    dlg.exec();
    if (sender) sender->wait();
    return 0;
}
