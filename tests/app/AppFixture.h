// A fresh main window over a record of its own, on the scripted platform, with the
// shared values back at their start.
#pragma once

#include "app/SetupDlg.h"
#include "journal/Journal.h"
#include "platform/PropertyPage.h"
#include "platform/PropertySheet.h"
#include "support/ScriptedPlatform.h"
#include "support/TransferWait.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

class AppTest : public ::testing::Test {
public:
    void SetUp() override {
        std::memset(&record, 0, sizeof record);
        SettingsShown = 0;
        sheetsShown = 0;
        platform.messages.clear();
        platform.answers.clear();
        platform.menus.clear();
        platform.openChoices.clear();
        platform.saveChoices.clear();
        platform.openDialogs = platform.saveDialogs = 0;
        platform.shellOpened.clear();
        platform.helpAnchors.clear();
        platform.cardChoices.clear();
        platform.cardSuggestions.clear();
        platform.previews.clear();
        platform.shellResult = 0;
        platform.onMessage = nullptr;
    }
    void TearDown() override { dlg.reset(); }

    CSetupDlg& Window() {
        if (!dlg) {
            dlg = std::make_unique<CSetupDlg>(nullptr, &record);
            dlg->show();
        }
        return *dlg;
    }

    // Runs `drive` inside the next settings sheet, then cancels the sheet if `drive`
    // left it open. Counts the sheets shown.
    void DriveSheets(std::function<void(CPropertySheet&)> drive) {
        Window().Testing().onSheetShown = [this, drive](CPropertySheet& sheet) {
            ++sheetsShown;
            if (drive) drive(sheet);
            if (sheet.isVisible()) sheet.reject();
        };
    }
    static void PressOk(CPropertySheet& sheet) { sheet.OkButton()->click(); }
    static void PressCancel(CPropertySheet& sheet) { sheet.CancelButton()->click(); }

    // Replaces the text of `edit` as the operator would: select all, delete, type.
    static void Type(QLineEdit* edit, const QString& text) {
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        TypeChars(edit, text);
    }
    // Types each character as a key press carrying it (any alphabet).
    static void TypeChars(QWidget* w, const QString& text) {
        for (const QChar c : text) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            QApplication::sendEvent(w, &press);
            QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
            QApplication::sendEvent(w, &release);
        }
    }

    SettingsRecord record{};
    ScriptedPlatform platform;
    std::unique_ptr<CSetupDlg> dlg;
    int sheetsShown = 0;
};

// The same window keeping its journal in a real SQLite file of the test's own folder.
class JournaledAppTest : public AppTest {
public:
    void SetUp() override {
        AppTest::SetUp();
        ASSERT_TRUE(folder.isValid());
        journal = std::make_unique<Journal>(Path("journal.sqlite"));
    }
    void TearDown() override {
        AppTest::TearDown();
        journal.reset();
    }
    QString Path(const char* name) const { return folder.filePath(QString::fromUtf8(name)); }
    CSetupDlg& JournaledWindow() {
        CSetupDlg& w = Window();
        w.SetJournal(journal.get());
        return w;
    }

    QTemporaryDir folder;
    std::unique_ptr<Journal> journal;
};

// From a session on its worker thread: runs `f` on the window's thread and waits for it.
// Every view call the session made before has reached the window by then.
inline void OnWindow(QObject& window, const std::function<void()>& f) {
    QMetaObject::invokeMethod(&window, f, Qt::BlockingQueuedConnection);
}

inline std::string Title(const QWidget& w) {
    return w.windowTitle().toStdString();
}
