// Builds the utility's window as an operator would see it and saves pictures of it: the
// main window at start, during a transfer, each tab of the settings sheet and the add-loop
// dialog, the print preview of the settings card and the guide opened by "Справка" on each
// tab.
// Usage: torvik7-screenshots <folder>
#include "app/SetupApp.h"
#include "app/SetupDlg.h"
#include "pages/AddLoopDlg.h"
#include "pages/Events.h"
#include "pages/Loops.h"
#include "platform/HelpViewer.h"
#include "platform/Platform.h"
#include "platform/PropertySheet.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <cstring>

namespace {

bool Save(QWidget& w, const QDir& dir, const QString& name) {
    QApplication::processEvents();
    const QString path = dir.filePath(name);
    const bool ok = w.grab().save(path);
    std::printf("%s %s\n", ok ? "saved" : "FAILED", qPrintable(path));
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("torvik7-setup"));
    InstallRussianTranslations(app);
    const QDir dir(
        QDir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".")).absolutePath());
    QDir().mkpath(dir.path());

    SettingsRecord record{};
    FillDefaults(record);
    std::memcpy(record.phoneNumbers[0], "84951234567", 12);
    std::memcpy(record.phoneNumbers[1], "84957654321", 12);
    std::memcpy(record.accountNumber, "0123", 5);
    for (int n = 8; n < 16; ++n)
        record.loopTypes[n] = 10;
    record.loopTypes[2] = 8;
    record.relayTypes[1] = 13;
    record.loopGroups[0][0] = 0x0F;
    record.loopGroups[0][1] = 0x81;
    record.loopGroups[1][5] = 0x30;

    CSetupDlg dlg(nullptr, &record);
    dlg.m_helpFolders = {QStringLiteral(TORVIK7_GUIDE_DIR)};
    dlg.SetRecordSource(CardSource::Kind::File, QStringLiteral("Объект 0123.stg"));
    dlg.show();
    bool ok = Save(dlg, dir, QStringLiteral("main-window.png"));

    static const char* const kTabs[] = {"tab-1-general.png", "tab-2-phones.png", "tab-3-loops.png",
                                        "tab-4-groups.png", "tab-5-codes.png"};
    dlg.Testing().onSheetShown = [&](CPropertySheet& sheet) {
        for (int i = 0; i < sheet.PageCount() && i < 5; ++i) {
            sheet.SetActivePage(i);
            // The trees as an operator leaves them after a look: one branch open, one item chosen.
            if (auto* loops = dynamic_cast<Loops*>(sheet.Page(i))) {
                QTreeWidget* tree = loops->Tree();
                tree->topLevelItem(0)->setExpanded(true);
                tree->topLevelItem(0)->child(0)->setExpanded(true);
                tree->topLevelItem(0)->child(0)->child(2)->setSelected(true);
            } else if (auto* events = dynamic_cast<Events*>(sheet.Page(i))) {
                events->Rebuild(1);
                events->Tree()->topLevelItem(0)->child(0)->child(4)->setSelected(true);
            }
            ok = Save(sheet, dir, QString::fromLatin1(kTabs[i])) && ok;
        }
        // "Справка" on each tab: the guide at that page's section, in the utility's own
        // viewer when the desktop has no program for HTML.
        for (int i = 0; i < sheet.PageCount() && i < 5; ++i) {
            sheet.SetActivePage(i);
            sheet.HelpButton()->click();
            QApplication::processEvents();
            if (auto* viewer = sheet.findChild<HelpViewer*>()) {
                ok = Save(*viewer, dir, QStringLiteral("help-tab-%1.png").arg(i + 1)) && ok;
            }
        }
        if (auto* viewer = sheet.findChild<HelpViewer*>()) viewer->close();
        sheet.reject();
    };
    dlg.EditSettings(record);

    CAddLoopDlg addLoop;
    addLoop.findChild<QLabel*>(QStringLiteral("groupTitle"))->setText(QStringLiteral("Группа 1"));
    addLoop.findChild<QLineEdit*>(QStringLiteral("expander"))->setText(QStringLiteral("12"));
    addLoop.findChild<QCheckBox*>(QStringLiteral("loop3"))->setChecked(true);
    addLoop.findChild<QCheckBox*>(QStringLiteral("loop4"))->setChecked(true);
    addLoop.show();
    ok = Save(addLoop, dir, QStringLiteral("add-loop.png")) && ok;
    addLoop.close();

    // The window during a read, as the session shows it.
    dlg.Testing().readSession = [&](TransferView& view, DeviceImage&, const SessionOptions&) {
        view.ShowProgress(true);
        view.SetProgress(37);
        view.SetStatus("Выполняется считывание настроек: 37 %");
        view.ShowStop(true);
        view.Refresh();
        // The session runs on a worker; the window is grabbed on its own thread once the
        // calls above have reached it.
        QMetaObject::invokeMethod(
            &dlg, [&] { ok = Save(dlg, dir, QStringLiteral("main-window-transfer.png")) && ok; },
            Qt::BlockingQueuedConnection);
        view.SetStatus("");
        view.ShowStop(false);
        view.Refresh();
        view.ShowProgress(false);
        return kSessionStopped;
    };
    dlg.OnReadDevice();

    // Modal windows of the platform layer: grabbed once shown, then closed.
    auto grabModal = [&](const QString& name) {
        QTimer::singleShot(200, [&ok, &dir, name] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal) {
                ok = false;
                return;
            }
            ok = Save(*modal, dir, name) && ok;
            modal->close();
        });
    };
    grabModal(QStringLiteral("card-preview.png"));
    dlg.OnPrintCard();
    grabModal(QStringLiteral("open-dialog.png"));
    ThePlatform().OpenFileDialog(&dlg);
    grabModal(QStringLiteral("help-not-found.png"));
    dlg.m_helpFolders = {dir.filePath(QStringLiteral("no-such-folder"))};
    QDir::setCurrent(dir.filePath(QStringLiteral("..")));
    dlg.OnCodesHelpFile();
    return ok ? 0 : 1;
}
