// Builds the utility's window as an operator would see it and saves pictures of it: the
// main window at start, during a transfer, and each tab of the settings sheet.
// Usage: torvik7-screenshots <folder>
#include "app/SetupApp.h"
#include "app/SetupDlg.h"
#include "platform/Platform.h"
#include "platform/PropertySheet.h"

#include <QApplication>
#include <QDir>
#include <QTabBar>
#include <QTimer>

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

    CSetupDlg dlg(nullptr, &record);
    dlg.show();
    bool ok = Save(dlg, dir, QStringLiteral("main-window.png"));

    static const char* const kTabs[] = {"tab-1-general.png", "tab-2-phones.png", "tab-3-loops.png",
                                        "tab-4-groups.png", "tab-5-codes.png"};
    dlg.m_onSheetShown = [&](CPropertySheet& sheet) {
        for (int i = 0; i < sheet.PageCount() && i < 5; ++i) {
            sheet.SetActivePage(i);
            ok = Save(sheet, dir, QString::fromLatin1(kTabs[i])) && ok;
        }
        sheet.reject();
    };
    dlg.EditSettings(record);

    // The window during a read, as the session shows it.
    dlg.m_readSession = [&](TransferView& view, SettingsRecord&, const SessionOptions&) {
        view.ShowProgress(true);
        view.SetProgress(37);
        view.SetStatus("Выполняется считывание настроек: 37 %");
        view.ShowStop(true);
        view.Refresh();
        ok = Save(dlg, dir, QStringLiteral("main-window-transfer.png")) && ok;
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
    grabModal(QStringLiteral("open-dialog.png"));
    ThePlatform().OpenFileDialog(&dlg);
    grabModal(QStringLiteral("help-not-found.png"));
    dlg.m_helpFolders = {dir.filePath(QStringLiteral("no-such-folder"))};
    QDir::setCurrent(dir.filePath(QStringLiteral("..")));
    dlg.OnCodesHelpFile();
    return ok ? 0 : 1;
}
