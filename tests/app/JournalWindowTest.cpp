// The window and the exchange journal: unsaved records at exit, the recovery slot, the
// message after a stopped write, and "Журнал" with its actions, on a real SQLite file.
#include "AppFixture.h"

#include "app/CompareDlg.h"
#include "app/JournalDlg.h"
#include "app/VirtualDevice.h"
#include "journal/Journal.h"
#include "settings/DeviceImage.h"
#include "settings/SettingsFile.h"
#include "support/CountingPort.h"
#include "support/Records.h"
#include "support/SyncPacer.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>

#include <cstring>
#include <fstream>

namespace {

class JournalWindow : public JournaledAppTest {
public:
    std::vector<JournalEntry> Entries() { return journal->List(); }
};

// ---- unsaved at exit ----

struct ExitCase {
    const char* name;
    std::function<void(JournalWindow&, CSetupDlg&)> before;
    std::function<void(CSetupDlg&)> close;
    int entries;
};

void EscapeKey(CSetupDlg& w) {
    QTest::keyClick(&w, Qt::Key_Escape);
}
void CloseBox(CSetupDlg& w) {
    w.close();
}
void EnterKey(CSetupDlg& w) {
    w.setFocus();
    QTest::keyClick(&w, Qt::Key_Return);
}

void NewConfirmed(JournalWindow& t, CSetupDlg& w) {
    t.DriveSheets(AppTest::PressOk);
    w.OnNew();
}
void NewEdited(JournalWindow& t, CSetupDlg& w) {
    NewConfirmed(t, w);
    t.record.loopTypes[7] = 9;
}
void Saved(JournalWindow& t, CSetupDlg& w) {
    NewEdited(t, w);
    t.platform.saveChoices.push_back(FileChoice{t.Path("a.stg"), QStringLiteral("a.stg")});
    w.OnSave();
}
void EditedAfterSave(JournalWindow& t, CSetupDlg& w) {
    Saved(t, w);
    t.record.loopTypes[8] = 4;
}
void Loaded(JournalWindow& t, CSetupDlg& w) {
    SaveSettingsFile(t.Path("b.stg").toStdString(), EditedRecord("0042"));
    t.platform.openChoices.push_back(FileChoice{t.Path("b.stg"), QStringLiteral("b.stg")});
    t.DriveSheets(AppTest::PressCancel);
    w.OnOpen();
}

class UnsavedAtExit : public JournalWindow, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(UnsavedAtExit, OnlyWhenTheRecordDiffers) {
    const ExitCase& c = GetParam();
    CSetupDlg& w = JournaledWindow();
    if (c.before) c.before(*this, w);
    c.close(w);
    EXPECT_FALSE(w.isVisible());
    const auto entries = Entries();
    ASSERT_EQ(static_cast<int>(entries.size()), c.entries);
    if (c.entries == 1) {
        EXPECT_EQ(entries[0].action, JournalAction::UnsavedAtExit);
        const auto full = journal->Find(entries[0].uuid);
        SettingsRecord kept;
        ASSERT_TRUE(full && RecordFromEntry(*full, kept));
        EXPECT_EQ(std::memcmp(&kept, &record, sizeof kept), 0);
    }
    EXPECT_TRUE(platform.messages.empty()); // no question, no word
}

INSTANTIATE_TEST_SUITE_P(Window, UnsavedAtExit,
                         ::testing::Values(ExitCase{"ZeroRecord", nullptr, EscapeKey, 0},
                                           ExitCase{"PlainDefaults", NewConfirmed, CloseBox, 0},
                                           ExitCase{"EditedEscape", NewEdited, EscapeKey, 1},
                                           ExitCase{"EditedCloseBox", NewEdited, CloseBox, 1},
                                           ExitCase{"EditedEnter", NewEdited, EnterKey, 1},
                                           ExitCase{"Saved", Saved, EscapeKey, 0},
                                           ExitCase{"EditedAfterSave", EditedAfterSave, EscapeKey,
                                                    1},
                                           ExitCase{"LoadedFromFile", Loaded, EscapeKey, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(JournalWindow, RecoverySlotOfARunThatDidNotEndBecomesAnEntry) {
    CSetupDlg& w = JournaledWindow();
    DriveSheets([this](CPropertySheet& sheet) {
        record.loopTypes[3] = 11; // the Loops page changes the record in place
        PressOk(sheet);
    });
    w.OnNew();
    dlg.reset(); // gone without closing: a crash or a power cut
    EXPECT_TRUE(Entries().empty());

    Journal next(Path("journal.sqlite"));
    CSetupDlg again(nullptr, &record);
    again.SetJournal(&next);
    again.RecoverUnsaved();
    const auto entries = next.List();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].action, JournalAction::UnsavedAtExit);
    const auto full = next.Find(entries[0].uuid);
    ASSERT_TRUE(full);
    EXPECT_EQ(static_cast<unsigned char>(full->record[195 + 3]), 11);
    again.RecoverUnsaved(); // once only
    EXPECT_EQ(next.List().size(), 1u);
}

// ---- a stopped write ----

TEST_F(JournalWindow, StoppedWriteNamesTheBlocksWritten) {
    CSetupDlg& w = JournaledWindow();
    record = EditedRecord("0005");
    bool journalButtonDuring = true;
    w.Testing().writeSession = [&](TransferView&, const DeviceImage& image,
                                   const SessionOptions& o) {
        journalButtonDuring = w.JournalButton()->isEnabled();
        SessionEnd end;
        end.kind = SessionKind::Write;
        end.result = kSessionStopped;
        end.blocksDone = 137;
        end.blockLoop = true;
        end.image = &image;
        for (SessionObserver* observer : o.observers)
            observer->SessionEnded(end);
        return kSessionStopped;
    };
    w.OnWriteDevice();
    WaitForTransfer(w);
    EXPECT_FALSE(journalButtonDuring);
    EXPECT_TRUE(w.JournalButton()->isEnabled());
    ASSERT_EQ(platform.Texts(),
              (std::vector<std::string>{
                  "Загрузка настроек остановлена: записано 137 блоков из 512.\nВ приборе теперь "
                  "смесь старых и новых настроек, пока настройки не будут загружены полностью."}));
    const auto entries = Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_TRUE(entries[0].halfWritten);
    EXPECT_EQ(entries[0].blocksDone, 137);
    EXPECT_EQ(entries[0].account, "0005");
}

TEST_F(JournalWindow, UnavailableJournalIsOneMessagePerRunAndNeverStopsTheWork) {
    // A file stands where the journal's folder should be.
    std::ofstream(Path("blocker").toStdString()) << "x";
    journal = std::make_unique<Journal>(Path("blocker") + "/journal.sqlite");
    CSetupDlg& w = JournaledWindow();
    int sessions = 0;
    w.Testing().readSession = [&](TransferView&, DeviceImage& image, const SessionOptions& o) {
        ++sessions;
        SessionEnd end;
        end.blocksDone = 512;
        end.blockLoop = true;
        EncodeImage(EditedRecord("0006"), image);
        end.image = &image;
        for (SessionObserver* observer : o.observers)
            observer->SessionEnded(end);
        return kSessionOk;
    };
    DriveSheets(PressCancel);
    w.OnReadDevice();
    WaitForTransfer(w);
    w.OnReadDevice();
    WaitForTransfer(w);
    QCoreApplication::processEvents();
    EXPECT_EQ(sessions, 2);
    EXPECT_EQ(sheetsShown, 2); // both reads went on to the sheet
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].message.text.rfind("Журнал обменов недоступен (", 0), 0u)
        << platform.messages[0].message.text;
    EXPECT_EQ(platform.messages[0].message.icon, MessageIcon::Information);
    record.loopTypes[1] = 5;
    EscapeKey(w); // the unsaved record cannot be kept: the window closes all the same
    EXPECT_FALSE(w.isVisible());
    QCoreApplication::processEvents();
    EXPECT_EQ(platform.messages.size(), 1u);
}

// ---- "Журнал" ----

class JournalDialog : public JournalWindow {
public:
    void SetUp() override {
        JournalWindow::SetUp();
        auto add = [this](JournalAction action, int result, const char* account, int blocks,
                          bool half, int minutesAgo) {
            JournalEntry e;
            e.action = action;
            e.result = result;
            e.port = QStringLiteral("COM2");
            e.lineAddress = 12;
            e.unitAddress = 1;
            e.blocksDone = blocks;
            e.halfWritten = half;
            e.time = QDateTime::currentDateTimeUtc().addSecs(-60 * minutesAgo);
            if (account) e.SetRecord(EditedRecord(account));
            EXPECT_TRUE(journal->Add(e));
            return e;
        };
        read = add(JournalAction::Read, 0, "0001", 512, false, 30);
        add(JournalAction::Read, 4, nullptr, 17, false, 20);
        half = add(JournalAction::Write, 5, "0002", 100, true, 10);
    }
    // Runs `drive` inside the journal window, then closes it if `drive` left it open.
    void Drive(const std::function<void(CJournalDlg&)>& drive) {
        CSetupDlg& w = JournaledWindow();
        w.Testing().onJournalShown = [drive](CJournalDlg& d) {
            drive(d);
            if (d.isVisible()) d.reject();
        };
        w.JournalButton()->click();
    }
    static void Select(CJournalDlg& d, int row) {
        d.Table()->selectionModel()->select(d.Model().index(row, 0),
                                            QItemSelectionModel::ClearAndSelect |
                                                QItemSelectionModel::Rows);
    }

    JournalEntry read, half;
};

TEST_F(JournalDialog, ListsNewestFirstAndFilters) {
    bool ran = false;
    Drive([&](CJournalDlg& d) {
        ran = true;
        EXPECT_EQ(d.Model().rowCount(), 3);
        EXPECT_EQ(d.Count()->text(), "Строк: 3");
        EXPECT_EQ(d.Model().EntryAt(0)->uuid, half.uuid);
        // The half-written write stands out by icon and text.
        const QModelIndex action = d.Model().index(0, JournalModel::Action);
        EXPECT_TRUE(action.data().toString().contains("записан частично"));
        EXPECT_TRUE(action.data().toString().contains("100 из 512"));
        EXPECT_FALSE(action.data(Qt::DecorationRole).value<QIcon>().isNull());
        EXPECT_EQ(d.Model().index(0, JournalModel::Phone1).data().toString(), "84951234567");

        d.AccountFilter()->setText("0001");
        EXPECT_EQ(d.Model().rowCount(), 1);
        EXPECT_EQ(d.Count()->text(), "Строк: 1 из 3");
        d.AccountFilter()->clear();
        d.TextFilter()->setText("ошибка СВЯЗИ");
        ASSERT_EQ(d.Model().rowCount(), 1);
        EXPECT_FALSE(d.OpenButton()->isEnabled()); // a failed read kept no record
        d.TextFilter()->setText("нет такого");
        EXPECT_EQ(d.Model().rowCount(), 0);
        EXPECT_EQ(d.Count()->text(), "Строк: 0 из 3");
    });
    EXPECT_TRUE(ran);
}

TEST_F(JournalDialog, OpenPutsTheRecordIntoMemoryAndOpensTheSheet) {
    DriveSheets(PressCancel);
    Drive([&](CJournalDlg& d) {
        Select(d, 2);
        d.OpenButton()->click();
    });
    EXPECT_EQ(sheetsShown, 1);
    const SettingsRecord expected = EditedRecord("0001");
    EXPECT_EQ(std::memcmp(&record, &expected, sizeof record), 0);
    EXPECT_EQ(dlg->windowTitle(), kTitleStem + "Журнал " +
                                      read.time.toLocalTime().toString("dd.MM.yyyy HH:mm:ss") +
                                      "]");
    EXPECT_TRUE(dlg->m_editButton->isEnabled());
    EXPECT_TRUE(dlg->m_saveButton->isEnabled());
    EXPECT_TRUE(dlg->m_writeButton->isEnabled());
    // Closing now keeps nothing: the record is in the journal already.
    dlg->reject();
    EXPECT_EQ(Entries().size(), 3u);
}

TEST_F(JournalDialog, SaveAsWritesTheEntrysRecord) {
    platform.saveChoices.push_back(FileChoice{Path("out.stg"), QStringLiteral("out.stg")});
    Drive([&](CJournalDlg& d) {
        Select(d, 0);
        d.SaveButton()->click();
    });
    std::ifstream in(Path("out.stg").toStdString(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    const SettingsRecord expected = EditedRecord("0002");
    ASSERT_EQ(bytes.size(), kRecordSize);
    EXPECT_EQ(std::memcmp(bytes.data(), &expected, kRecordSize), 0);
    EXPECT_EQ(dlg->windowTitle(), kStartTitle); // the record in memory was not saved
}

TEST_F(JournalDialog, CompareShowsTheDifferingFieldsInAWindow) {
    platform.menuChoices = {CJournalDlg::kCompareFile};
    SettingsRecord other = EditedRecord("0001");
    other.loopTypes[9] = 15;
    SaveSettingsFile(Path("other.stg").toStdString(), other);
    platform.openChoices.push_back(FileChoice{Path("other.stg"), QStringLiteral("other.stg")});
    std::vector<std::vector<QString>> compared; // the headings, then each row's setting
    JournaledWindow().Testing().onComparisonShown = [&](CCompareDlg& c) {
        std::vector<QString> texts = {c.Table()->horizontalHeaderItem(1)->text(),
                                      c.Table()->horizontalHeaderItem(2)->text()};
        for (int row = 0; row < c.Table()->rowCount(); ++row)
            texts.push_back(c.Table()->item(row, 0)->text());
        compared.push_back(texts);
        c.accept();
    };
    Drive([&](CJournalDlg& d) {
        Select(d, 2);
        d.CompareButton()->click();
        // Two entries at once compare with each other.
        d.Table()->selectionModel()->select(d.Model().index(0, 0), QItemSelectionModel::Select |
                                                                       QItemSelectionModel::Rows);
        d.CompareButton()->click();
    });
    EXPECT_TRUE(platform.messages.empty());
    ASSERT_EQ(compared.size(), 2u);
    ASSERT_EQ(compared[0].size(), 3u);
    EXPECT_TRUE(compared[0][1].contains("other.stg"));
    EXPECT_TRUE(compared[0][2].startsWith("Расширитель 1, шлейф 2"));
    ASSERT_GE(compared[1].size(), 3u);
    EXPECT_TRUE(compared[1][0].contains(JournalModel::CellText(read, JournalModel::Time)));
}

TEST_F(JournalDialog, WrongSizeRecordIsRefusedWithAMessage) {
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "tamper");
        db.setDatabaseName(Path("journal.sqlite"));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        q.prepare(QStringLiteral("UPDATE records SET record = ? WHERE sha256 = ?"));
        q.addBindValue(QByteArray(900, '\7'));
        q.addBindValue(read.sha256);
        ASSERT_TRUE(q.exec());
    }
    QSqlDatabase::removeDatabase("tamper");
    DriveSheets(PressCancel);
    Drive([&](CJournalDlg& d) {
        Select(d, 2);
        d.OpenButton()->click();
    });
    EXPECT_EQ(sheetsShown, 0);
    EXPECT_EQ(platform.Texts(),
              (std::vector<std::string>{"Настройки в журнале повреждены: 900 байт вместо 1800."}));
    SettingsRecord zero{};
    EXPECT_EQ(std::memcmp(&record, &zero, sizeof zero), 0);
}

// Read the virtual device, press Escape, start again: the record is one click away.
TEST_F(JournalWindow, ReadEscapeStartAgainOpenFromTheJournal) {
    CountingOpener opener;
    VirtualDevice* device = nullptr;
    SyncPacer pacer(
        [&]() -> const DeviceSimulator* { return device ? device->Simulator() : nullptr; },
        opener.frames);
    CSetupDlg& w = JournaledWindow();
    w.Testing().virtualMemoryPath = Path("memory.bin").toStdString();
    w.Testing().sessionOptions.opener = &opener;
    w.Testing().sessionOptions.pacer = &pacer;
    w.Testing().sessionOptions.dumpPath = Path("data.txt").toStdString();
    w.PortList()->setCurrentIndex(w.PortList()->count() - 1); // "Виртуальный прибор"
    w.PortName();
    device = w.TheVirtualDevice();
    ASSERT_NE(device, nullptr);
    opener.inner = device->Opener();
    DriveSheets(PressCancel);
    w.OnReadDevice();
    WaitForTransfer(w);
    ASSERT_EQ(sheetsShown, 1);
    const SettingsRecord read = record;
    EscapeKey(w);
    dlg.reset();

    // The next run: a fresh window over a zero record and the same journal file.
    std::memset(&record, 0, sizeof record);
    sheetsShown = 0;
    journal = std::make_unique<Journal>(Path("journal.sqlite"));
    CSetupDlg& again = JournaledWindow();
    again.Testing().onJournalShown = [](CJournalDlg& d) {
        ASSERT_EQ(d.Model().rowCount(), 1);
        EXPECT_EQ(d.Model().EntryAt(0)->action, JournalAction::Read);
        EXPECT_EQ(d.Model().EntryAt(0)->port, "Виртуальный прибор");
        d.OpenButton()->click();
    };
    DriveSheets(PressCancel);
    again.JournalButton()->click();
    EXPECT_EQ(sheetsShown, 1);
    EXPECT_EQ(std::memcmp(&record, &read, sizeof record), 0);
    EXPECT_TRUE(again.windowTitle().startsWith(kTitleStem + "Журнал "));
}

} // namespace
