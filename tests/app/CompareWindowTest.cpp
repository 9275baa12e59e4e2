// The comparison window for a table of record pairs, and "Объекты" of the journal window over
// reads, writes and failures.
#include "AppFixture.h"

#include "app/CompareDlg.h"
#include "app/JournalDlg.h"
#include "settings/SettingsFile.h"
#include "support/ObjectsJournal.h"
#include "support/Records.h"

#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>

namespace {

// ---- the comparison window's rows ----

struct PairCase {
    const char* name;
    std::function<void(SettingsRecord&)> edit; // makes the right side from the left
    int rows;
    // The first row: its setting starts with, and each side's value starts with; null: any.
    const char* label;
    const char* left;
    const char* right;
};

std::string Cell(const CCompareDlg& d, int row, int column) {
    return d.Table()->item(row, column)->text().toStdString();
}

class ComparisonRows : public AppTest, public ::testing::WithParamInterface<PairCase> {};

TEST_P(ComparisonRows, EverySettingThatDiffersIsOneRow) {
    const PairCase& c = GetParam();
    const SettingsRecord left = EditedRecord("0001");
    SettingsRecord right = left;
    c.edit(right);
    CCompareDlg d(CompareSide{"A", left}, CompareSide{"B", right});
    ASSERT_EQ(d.Table()->rowCount(), c.rows);
    EXPECT_EQ(d.Table()->horizontalHeaderItem(CCompareDlg::Left)->text(), "A");
    EXPECT_EQ(d.Table()->horizontalHeaderItem(CCompareDlg::Right)->text(), "B");
    if (c.rows > 0) {
        for (const auto& [column, start] : {std::pair{CCompareDlg::Setting, c.label},
                                            {CCompareDlg::Left, c.left},
                                            {CCompareDlg::Right, c.right}})
            if (start) {
                EXPECT_EQ(Cell(d, 0, column).rfind(start, 0), 0u) << Cell(d, 0, column);
            }
    }
    // Copy and print take every row, the last one too.
    d.CopyButton()->click();
    EXPECT_EQ(QApplication::clipboard()->text(), d.Text());
    d.PrintButton()->click();
    ASSERT_EQ(platform.previews.size(), 1u);
    if (c.rows > 0) {
        const int last = c.rows - 1;
        for (int column = 0; column < CCompareDlg::ColumnCount; ++column) {
            const QString text = d.Table()->item(last, column)->text();
            EXPECT_TRUE(d.Text().contains(text)) << text.toStdString();
            EXPECT_TRUE(platform.previews[0].contains(text)) << text.toStdString();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Window, ComparisonRows,
    ::testing::Values(
        PairCase{"Same", [](SettingsRecord&) {}, 0, nullptr, nullptr, nullptr},
        PairCase{"Account", [](SettingsRecord& r) { std::memcpy(r.accountNumber, "0002", 5); }, 1,
                 nullptr, "0001", "0002"},
        // A loop type with its name on both sides.
        PairCase{"OneLoop", [](SettingsRecord& r) { r.loopTypes[9] = 15; }, 1,
                 "Расширитель 1, шлейф 2", "тип 1 (", "тип 15 ("},
        // No cap: every loop is a row.
        PairCase{"EveryLoop",
                 [](SettingsRecord& r) {
                     for (auto& t : r.loopTypes)
                         t = static_cast<std::int8_t>(t % 16 + 1);
                 },
                 kLoopCount, "Расширитель 0, шлейф 1", nullptr, nullptr},
        // A changed event code is one row on its type, not one on each loop of that type.
        PairCase{"EventCode", [](SettingsRecord& r) { r.eventCodes[2][2] ^= 1; }, 1, nullptr,
                 nullptr, nullptr},
        // A group's members on both sides.
        PairCase{"Group", [](SettingsRecord& r) { r.loopGroups[3][0] = 0x05; }, 1, "Группа 4",
                 "нет шлейфов", "0/1,3"},
        PairCase{"OutOfRange", [](SettingsRecord& r) { r.relayTypes[1] = 40; }, 1, nullptr, nullptr,
                 "тип 40"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- opened from the journal window and the main window ----

class CompareFrom : public JournaledAppTest {
public:
    // The rows of each comparison window shown: first side, second side, per row.
    std::vector<std::vector<std::string>> shown;
    QStringList headers;
    QString summary;

    void Watch(CSetupDlg& w) {
        w.Testing().onComparisonShown = [this](CCompareDlg& d) {
            std::vector<std::string> rows;
            for (int row = 0; row < d.Table()->rowCount(); ++row)
                rows.push_back(Cell(d, row, CCompareDlg::Setting));
            shown.push_back(rows);
            headers = {d.Table()->horizontalHeaderItem(CCompareDlg::Left)->text(),
                       d.Table()->horizontalHeaderItem(CCompareDlg::Right)->text()};
            summary = d.Summary()->text();
            d.accept();
        };
    }
};

TEST_F(CompareFrom, MainWindowRecordAgainstAFile) {
    CSetupDlg& w = JournaledWindow();
    Watch(w);
    QPushButton* compare = w.findChild<QPushButton*>("compareButton");
    ASSERT_NE(compare, nullptr);
    EXPECT_FALSE(compare->isEnabled()); // nothing in memory yet
    DriveSheets(PressOk);
    w.OnNew();
    ASSERT_TRUE(compare->isEnabled());
    SettingsRecord other = record;
    other.loopTypes[0] = 7;
    other.loopTypes[511] = 7;
    ASSERT_TRUE(SaveSettingsFile(Path("other.stg").toStdString(), other).ok());
    platform.openChoices.push_back(FileChoice{Path("other.stg"), QStringLiteral("other.stg")});
    compare->click();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].size(), 2u);
    EXPECT_TRUE(headers[1].contains("other.stg")) << headers[1].toStdString();
    EXPECT_TRUE(platform.messages.empty());
}

TEST_F(CompareFrom, TwoJournalEntriesOlderFirst) {
    JournalEntry older, newer;
    older.time = QDateTime::currentDateTimeUtc().addSecs(-600);
    older.SetRecord(EditedRecord("0001"));
    newer.SetRecord(EditedRecord("0002"));
    ASSERT_TRUE(journal->Add(older));
    ASSERT_TRUE(journal->Add(newer));
    CSetupDlg& w = JournaledWindow();
    Watch(w);
    w.Testing().onJournalShown = [](CJournalDlg& d) {
        d.Table()->selectAll();
        d.CompareButton()->click();
        d.reject();
    };
    w.JournalButton()->click();
    ASSERT_EQ(shown.size(), 1u);
    ASSERT_EQ(shown[0].size(), 1u);
    const QString olderTime = JournalModel::CellText(older, JournalModel::Time);
    EXPECT_TRUE(headers[0].contains(olderTime)) << headers[0].toStdString();
}

// ---- "Объекты" ----

class ObjectsView : public JournaledAppTest {};

TEST_F(ObjectsView, EachAccountsLastWriteAndReadAndWhetherTheyAgree) {
    const std::vector<JournalEntry> kept = objects_journal::Fill(*journal);
    CSetupDlg& w = JournaledWindow();
    DriveSheets(PressCancel);
    bool ran = false;
    w.Testing().onJournalShown = [&](CJournalDlg& d) {
        ran = true;
        d.Tabs()->setCurrentWidget(d.ObjectsTable());
        JournalObjectsModel& m = d.Objects();
        const auto& expected = objects_journal::kExpected;
        ASSERT_EQ(m.rowCount(), static_cast<int>(expected.size()));
        for (int row = 0; row < m.rowCount(); ++row) {
            const auto& e = expected[static_cast<std::size_t>(row)];
            SCOPED_TRACE(e.account);
            const JournalObject* o = m.ObjectAt(row);
            EXPECT_EQ(o->account, e.account);
            EXPECT_EQ(o->Agree(), e.agree);
            const auto uuid = [&](int i) { return i < 0 ? QString() : kept[i].uuid; };
            EXPECT_EQ(o->write ? o->write->uuid : QString(), uuid(e.write));
            EXPECT_EQ(o->read ? o->read->uuid : QString(), uuid(e.read));
            // The window shows the times of the two it names.
            EXPECT_EQ(m.index(row, JournalObjectsModel::ReadTime).data().toString(),
                      e.read < 0 ? QString()
                                 : JournalModel::CellText(kept[e.read], JournalModel::Time));
        }
        // The account filter narrows it.
        d.AccountFilter()->setText("0002");
        ASSERT_EQ(m.rowCount(), 1);
        // A click on the read's cell, and "Открыть" opens that read's record.
        d.ObjectsTable()->setCurrentIndex(m.index(0, JournalObjectsModel::ReadTime));
        EXPECT_TRUE(d.OpenButton()->isEnabled());
        d.OpenButton()->click();
    };
    w.JournalButton()->click();
    ASSERT_TRUE(ran);
    EXPECT_EQ(sheetsShown, 1);
    SettingsRecord read;
    ASSERT_TRUE(RecordFromEntry(*journal->Find(kept[5].uuid), read));
    EXPECT_EQ(std::memcmp(&record, &read, sizeof record), 0);
}

} // namespace
