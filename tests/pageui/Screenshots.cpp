// Renders the loop types, loop groups and event codes tabs as the settings sheet shows
// them, into PNG files for the documentation:
//   pages_screenshots <output-dir>
#include "pages/AddLoopDlg.h"
#include "pages/Codes.h"
#include "pages/Events.h"
#include "pages/Loops.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QTreeWidget>

#include <cstdio>
#include <cstring>

namespace {

bool Save(QTabWidget& sheet, CPropertyPage& page, const QString& path) {
    sheet.setCurrentWidget(&page);
    QApplication::processEvents();
    const bool ok = sheet.grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));

    static SettingsRecord record;
    std::memset(&record, 0, sizeof record);
    FillDefaults(record);
    for (int n = 8; n < 16; ++n)
        record.loopTypes[n] = 10;
    record.loopTypes[2] = 8;
    record.relayTypes[1] = 13;
    record.loopGroups[0][0] = 0x0F;
    record.loopGroups[0][1] = 0x81;
    record.loopGroups[1][5] = 0x30;

    QTabWidget sheet;
    sheet.setWindowTitle(QStringLiteral("Настройки ТОРВИК-7"));
    sheet.resize(560, 440);
    sheet.addTab(new QWidget, QStringLiteral("Общие"));
    sheet.addTab(new QWidget, QStringLiteral("Телефоны"));
    auto* loops = new Loops;
    auto* events = new Events;
    auto* codes = new CCodes;
    loops->m_record = events->m_record = codes->m_record = &record;
    for (CPropertyPage* page :
         {static_cast<CPropertyPage*>(loops), static_cast<CPropertyPage*>(events),
          static_cast<CPropertyPage*>(codes)}) {
        sheet.addTab(page, page->Caption());
        page->EnsureCreated();
    }
    sheet.show();

    QTreeWidget* tree = loops->Tree();
    tree->topLevelItem(0)->setExpanded(true);
    tree->topLevelItem(0)->child(0)->setExpanded(true);
    tree->topLevelItem(0)->child(0)->child(2)->setSelected(true);
    events->Rebuild(1);
    events->Tree()->topLevelItem(0)->child(0)->child(4)->setSelected(true);

    bool ok = Save(sheet, *loops, out.filePath(QStringLiteral("tab3-loops.png")));
    ok = Save(sheet, *events, out.filePath(QStringLiteral("tab4-groups.png"))) && ok;
    ok = Save(sheet, *codes, out.filePath(QStringLiteral("tab5-codes.png"))) && ok;

    CAddLoopDlg dialog;
    dialog.findChild<QLabel*>(QStringLiteral("groupTitle"))->setText(QStringLiteral("Группа 1"));
    dialog.findChild<QLineEdit*>(QStringLiteral("expander"))->setText(QStringLiteral("12"));
    dialog.findChild<QCheckBox*>(QStringLiteral("loop3"))->setChecked(true);
    dialog.findChild<QCheckBox*>(QStringLiteral("loop4"))->setChecked(true);
    dialog.show();
    QApplication::processEvents();
    const QString dialogPath = out.filePath(QStringLiteral("add-loop.png"));
    const bool dialogOk = dialog.grab().save(dialogPath);
    std::printf("%s %s\n", dialogOk ? "wrote" : "could not write", qPrintable(dialogPath));
    return ok && dialogOk ? 0 : 1;
}
