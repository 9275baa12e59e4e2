// A record replaced in memory is never lost: "Новые", "Открыть", "Просмотр <=", opening a
// journal entry and exit each keep the record they replace in the journal when it differs
// from what was last kept; a crashed run's record is named in the next start's status line.
#include "AppFixture.h"

#include "app/CompareDlg.h"
#include "app/JournalDlg.h"
#include "card/SettingsCard.h"
#include "journal/Journal.h"
#include "settings/DeviceImage.h"
#include "settings/SettingsFile.h"
#include "support/Records.h"

#include <QLabel>
#include <QTableView>
#include <QTemporaryDir>

#include <cstring>

namespace {

class ReplacedRecord : public JournaledAppTest {
public:
    CSetupDlg& JournaledWindow() {
        CSetupDlg& w = JournaledAppTest::JournaledWindow();
        // A read gives `deviceHolds`, told to the observers as the link's session does.
        w.Testing().readSession = [this](TransferView&, DeviceImage& image,
                                         const SessionOptions& o) {
            EncodeImage(deviceHolds, image);
            SessionEnd end;
            end.blocksDone = 512;
            end.blockLoop = true;
            end.image = &image;
            for (SessionObserver* observer : o.observers)
                observer->SessionEnded(end);
            return kSessionOk;
        };
        return w;
    }
    // The unsaved entries, oldest first, with their records.
    std::vector<JournalEntry> Unsaved() {
        std::vector<JournalEntry> out;
        for (const JournalEntry& e : journal->List())
            if (IsUnsaved(e.action)) out.insert(out.begin(), *journal->Find(e.uuid));
        return out;
    }
    // The next sheet: the account typed on "Общие", then OK.
    void NextSheetSetsAccount(const char* account) {
        DriveSheets([account](CPropertySheet& sheet) {
            Type(sheet.Page(0)->findChild<QLineEdit*>("account"), QString::fromLatin1(account));
            PressOk(sheet);
        });
    }
    void ChooseFile(const char* name, const SettingsRecord& content) {
        ASSERT_TRUE(SaveSettingsFile(Path(name).toStdString(), content).ok());
        platform.openChoices.push_back(FileChoice{Path(name), QString::fromUtf8(name)});
    }

    SettingsRecord deviceHolds = EditedRecord("0777");
};

// ---- one entry for each replacement of a changed record, none otherwise ----

struct ReplaceCase {
    const char* name;
    // Leaves a record in memory, changed or not since it was last kept.
    std::function<void(ReplacedRecord&, CSetupDlg&)> before;
    // Replaces it.
    std::function<void(ReplacedRecord&, CSetupDlg&)> replace;
    bool kept;
};

void Edited(ReplacedRecord& t, CSetupDlg& w) {
    t.NextSheetSetsAccount("8888");
    w.OnNew();
}
void PlainDefaults(ReplacedRecord& t, CSetupDlg& w) {
    t.DriveSheets(AppTest::PressOk);
    w.OnNew();
}
void SavedAfterEdit(ReplacedRecord& t, CSetupDlg& w) {
    Edited(t, w);
    t.platform.saveChoices.push_back(FileChoice{t.Path("s.stg"), QStringLiteral("s.stg")});
    w.OnSave();
}
void ReadFromDevice(ReplacedRecord& t, CSetupDlg& w) {
    t.DriveSheets(AppTest::PressCancel);
    w.OnReadDevice();
    WaitForTransfer(w);
}
void ReadThenEdited(ReplacedRecord& t, CSetupDlg& w) {
    ReadFromDevice(t, w);
    t.NextSheetSetsAccount("8890");
    w.OnEditInMemory();
}

void ByNew(ReplacedRecord& t, CSetupDlg& w) {
    t.DriveSheets(AppTest::PressCancel);
    w.OnNew();
}
void ByOpen(ReplacedRecord& t, CSetupDlg& w) {
    t.ChooseFile("other.stg", EditedRecord("0042"));
    t.DriveSheets(AppTest::PressCancel);
    w.OnOpen();
}
void ByOpenOfTheSameRecord(ReplacedRecord& t, CSetupDlg& w) {
    t.ChooseFile("same.stg", t.record);
    t.DriveSheets(AppTest::PressCancel);
    w.OnOpen();
}
void ByOpenThatFails(ReplacedRecord& t, CSetupDlg& w) {
    t.platform.openChoices.push_back(FileChoice{t.Path("missing.stg"), "missing.stg"});
    w.OnOpen();
}
void ByRead(ReplacedRecord& t, CSetupDlg& w) {
    ReadFromDevice(t, w);
}
void ByJournalEntry(ReplacedRecord& t, CSetupDlg& w) {
    t.DriveSheets(AppTest::PressCancel);
    w.OpenJournalEntry(QDateTime::currentDateTimeUtc(), EditedRecord("0043"));
}

class ReplacedRecordCases : public ReplacedRecord,
                            public ::testing::WithParamInterface<ReplaceCase> {};

TEST_P(ReplacedRecordCases, KeptOnlyWhenItDiffersFromWhatWasKept) {
    const ReplaceCase& c = GetParam();
    CSetupDlg& w = JournaledWindow();
    c.before(*this, w);
    const SettingsRecord replaced = record;
    const std::size_t entriesBefore = journal->List().size();
    c.replace(*this, w);
    const auto unsaved = Unsaved();
    ASSERT_EQ(unsaved.size(), c.kept ? 1u : 0u);
    if (c.kept) {
        SettingsRecord kept;
        ASSERT_TRUE(RecordFromEntry(unsaved[0], kept));
        EXPECT_EQ(std::memcmp(&kept, &replaced, sizeof kept), 0);
        EXPECT_FALSE(unsaved[0].resultText.isEmpty()); // says what replaced it
        EXPECT_EQ(unsaved[0].action, JournalAction::Replaced);
    }
    // Nothing else was added or asked on the way (a read adds its own entry).
    EXPECT_LE(journal->List().size(), entriesBefore + 2);
    for (const auto& m : platform.messages)
        EXPECT_NE(m.message.buttons, MessageButtons::YesNo) << m.message.text;
}

INSTANTIATE_TEST_SUITE_P(
    Window, ReplacedRecordCases,
    ::testing::Values(ReplaceCase{"EditedByNew", Edited, ByNew, true},
                      ReplaceCase{"EditedByOpen", Edited, ByOpen, true},
                      ReplaceCase{"EditedByRead", Edited, ByRead, true},
                      ReplaceCase{"EditedByJournalEntry", Edited, ByJournalEntry, true},
                      ReplaceCase{"ReadThenEditedByNew", ReadThenEdited, ByNew, true},
                      ReplaceCase{"DefaultsByNew", PlainDefaults, ByNew, false},
                      ReplaceCase{"DefaultsByOpen", PlainDefaults, ByOpen, false},
                      ReplaceCase{"SavedByNew", SavedAfterEdit, ByNew, false},
                      ReplaceCase{"SavedByRead", SavedAfterEdit, ByRead, false},
                      ReplaceCase{"ReadByOpen", ReadFromDevice, ByOpen, false},
                      ReplaceCase{"ReadByJournalEntry", ReadFromDevice, ByJournalEntry, false},
                      ReplaceCase{"EditedByOpenOfTheSameRecord", Edited, ByOpenOfTheSameRecord,
                                  false},
                      ReplaceCase{"EditedByOpenThatFails", Edited, ByOpenThatFails, false}),
    [](const auto& info) { return std::string(info.param.name); });

// "Новые" → edit → "Новые" → edit → "Просмотр <=" → edit → exit: the three edited records,
// each whole in the journal.
TEST_F(ReplacedRecord, ADayOfReplacementsLeavesEveryEditedRecord) {
    CSetupDlg& w = JournaledWindow();
    std::vector<SettingsRecord> edited;
    NextSheetSetsAccount("8888");
    w.OnNew();
    edited.push_back(record);
    NextSheetSetsAccount("8889");
    w.OnNew();
    edited.push_back(record);
    NextSheetSetsAccount("8890");
    w.OnReadDevice();
    WaitForTransfer(w);
    edited.push_back(record);
    w.reject();
    EXPECT_FALSE(w.isVisible());

    const auto unsaved = Unsaved();
    ASSERT_EQ(unsaved.size(), edited.size());
    for (std::size_t i = 0; i < unsaved.size(); ++i) {
        SettingsRecord kept;
        ASSERT_TRUE(RecordFromEntry(unsaved[i], kept)) << i;
        EXPECT_EQ(std::memcmp(&kept, &edited[i], sizeof kept), 0) << i;
        EXPECT_EQ(unsaved[i].account, QString::fromLatin1(edited[i].accountNumber)) << i;
    }
    EXPECT_TRUE(platform.messages.empty());
}

// ---- edits made while a write runs ----

struct WriteEditCase {
    const char* name;
    bool editDuringWrite;
    SessionResult result;
};

class EditsDuringAWrite : public ReplacedRecord,
                          public ::testing::WithParamInterface<WriteEditCase> {};

TEST_P(EditsDuringAWrite, TheStatusLineSaysTheDeviceMissedThem) {
    const WriteEditCase& c = GetParam();
    CSetupDlg& w = JournaledWindow();
    NextSheetSetsAccount("8888");
    w.OnNew();
    SettingsRecord received{};
    w.Testing().writeSession = [&](TransferView&, const DeviceImage& image, const SessionOptions&) {
        DecodeImage(image, received);
        // The sheet, open meanwhile, confirms a new account.
        if (c.editDuringWrite) OnWindow(w, [&] { std::memcpy(record.accountNumber, "8889", 5); });
        return c.result;
    };
    platform.answers.push_back(MessageAnswer::Ok);
    w.OnWriteDevice();
    WaitForTransfer(w);
    EXPECT_EQ(QString::fromLatin1(received.accountNumber), "8888");
    const QString status = static_cast<QLabel*>(w.StatusLine())->text();
    EXPECT_EQ(status == kWriteMissedEdits, c.editDuringWrite) << status.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Window, EditsDuringAWrite,
                         ::testing::Values(WriteEditCase{"Edited", true, kSessionOk},
                                           WriteEditCase{"EditedAndStopped", true, kSessionStopped},
                                           WriteEditCase{"Untouched", false, kSessionOk}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- a stopped write's record says so wherever it goes ----

struct HalfCase {
    const char* name;
    bool halfWritten;
};

class HalfWrittenEntry : public ReplacedRecord, public ::testing::WithParamInterface<HalfCase> {};

TEST_P(HalfWrittenEntry, OpenCardAndCompareCarryTheBlocksWritten) {
    const HalfCase& c = GetParam();
    JournalEntry e;
    e.action = JournalAction::Write;
    e.result = c.halfWritten ? kSessionStopped : kSessionOk;
    e.blocksDone = c.halfWritten ? 257 : 512;
    e.halfWritten = c.halfWritten;
    e.SetRecord(EditedRecord("0005"));
    ASSERT_TRUE(journal->Add(e));
    const std::string mark = HalfWrittenText(257);

    CSetupDlg& w = JournaledWindow();
    DriveSheets(PressCancel);
    w.Testing().onJournalShown = [](CJournalDlg& d) {
        d.Table()->selectRow(0);
        d.OpenButton()->click();
    };
    w.JournalButton()->click();
    ASSERT_EQ(sheetsShown, 1);
    EXPECT_EQ(QString::fromLatin1(record.accountNumber), "0005");
    const QString status = static_cast<QLabel*>(w.StatusLine())->text();
    EXPECT_EQ(status.contains(QString::fromStdString(mark)), c.halfWritten) << status.toStdString();
    const std::string card = CardHtml(record, w.CurrentCardInfo());
    EXPECT_EQ(card.find(mark) != std::string::npos, c.halfWritten);

    // The entry against what is now in memory, from the journal window.
    platform.menuChoices = {CJournalDlg::kCompareMemory};
    w.Testing().onJournalShown = [](CJournalDlg& d) {
        d.Table()->selectRow(0);
        d.CompareButton()->click();
        d.reject();
    };
    std::string compared;
    w.Testing().onComparisonShown = [&compared](CCompareDlg& d) {
        compared = d.Text().toStdString();
        d.accept();
    };
    w.JournalButton()->click();
    ASSERT_FALSE(compared.empty());
    EXPECT_EQ(compared.find(mark) != std::string::npos, c.halfWritten) << compared;

    // Anything else put into memory leaves the mark behind.
    DriveSheets(PressCancel);
    w.OnNew();
    EXPECT_EQ(CardHtml(record, w.CurrentCardInfo()).find(mark), std::string::npos);
}

TEST_P(HalfWrittenEntry, PrintAndPdfStraightFromTheRow) {
    const HalfCase& c = GetParam();
    JournalEntry e;
    e.action = JournalAction::Write;
    e.blocksDone = c.halfWritten ? 257 : 512;
    e.halfWritten = c.halfWritten;
    e.SetRecord(EditedRecord("0006"));
    ASSERT_TRUE(journal->Add(e));
    const QString mark = QString::fromStdString(HalfWrittenText(257));
    const QString pdf = Path("card.pdf");
    platform.cardChoices.push_back(FileChoice{pdf, QStringLiteral("card.pdf")});

    CSetupDlg& w = JournaledWindow();
    bool enabledBeforeSelecting = true;
    w.Testing().onJournalShown = [&](CJournalDlg& d) {
        d.Table()->clearSelection();
        enabledBeforeSelecting = d.PrintButton()->isEnabled() || d.PdfButton()->isEnabled();
        d.Table()->selectRow(0);
        d.PrintButton()->click();
        d.PdfButton()->click();
        d.reject();
    };
    w.JournalButton()->click();
    EXPECT_FALSE(enabledBeforeSelecting);
    ASSERT_EQ(platform.previews.size(), 1u);
    EXPECT_TRUE(platform.previews[0].contains("0006"));
    EXPECT_EQ(platform.previews[0].contains(mark), c.halfWritten);
    ASSERT_EQ(platform.cardSuggestions.size(), 1u);
    EXPECT_EQ(platform.cardSuggestions[0], "Карточка 0006.pdf");
    EXPECT_GT(QFileInfo(pdf).size(), 0);
    // Nothing was put into memory.
    EXPECT_EQ(sheetsShown, 0);
    EXPECT_EQ(record.accountNumber[0], '\0');
}

INSTANTIATE_TEST_SUITE_P(Window, HalfWrittenEntry,
                         ::testing::Values(HalfCase{"StoppedWrite", true},
                                           HalfCase{"WholeWrite", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- after a crash ----

TEST_F(ReplacedRecord, TheNextStartAfterACrashSaysWhatWasRecoveredOnce) {
    CSetupDlg& w = JournaledWindow();
    NextSheetSetsAccount("8888");
    w.OnNew();
    dlg.reset(); // gone without closing

    for (int start = 0; start < 2; ++start) {
        Journal next(Path("journal.sqlite"));
        CSetupDlg again(nullptr, &record);
        again.SetJournal(&next);
        again.RecoverUnsaved();
        const QString status = static_cast<QLabel*>(again.StatusLine())->text();
        if (start == 0) {
            EXPECT_TRUE(status.contains("8888")) << status.toStdString();
            EXPECT_TRUE(status.contains("Журнал")) << status.toStdString();
        } else {
            EXPECT_TRUE(status.isEmpty()) << status.toStdString();
        }
        EXPECT_EQ(next.List().size(), 1u);
    }
}

} // namespace
