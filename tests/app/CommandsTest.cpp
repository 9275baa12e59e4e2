// The six record commands: enable states, titles, files and transfers.
#include "AppFixture.h"

#include "settings/SettingsFile.h"
#include "support/Records.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>

#include <cstring>

namespace {

using Commands = AppTest;

struct Buttons {
    bool edit, save, write, read;
    bool operator==(const Buttons&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Buttons& b) {
    return os << "{edit " << b.edit << ", save " << b.save << ", write " << b.write << ", read "
              << b.read << "}";
}
Buttons StateOf(CSetupDlg& w) {
    return {w.m_editButton->isEnabled(), w.m_saveButton->isEnabled(), w.m_writeButton->isEnabled(),
            w.m_readButton->isEnabled()};
}

const Buttons kStart{false, false, false, true};
const Buttons kAll{true, true, true, true};

bool SameBytes(const SettingsRecord& a, const SettingsRecord& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST_F(Commands, NewConfirmed) {
    CSetupDlg& w = Window();
    DriveSheets(PressOk);
    w.findChild<QPushButton*>("newButton")->click();
    EXPECT_EQ(sheetsShown, 1);
    EXPECT_EQ(StateOf(w), kAll);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Утилита настройки ТОРВИК-7 - [New.stg]"));
    EXPECT_TRUE(SameBytes(record, Defaults()));
}

TEST_F(Commands, NewCancelledKeepsButtonsAndTitleButNotTheRecord) {
    CSetupDlg& w = Window();
    DriveSheets(PressCancel);
    w.OnNew();
    EXPECT_EQ(StateOf(w), kStart);
    EXPECT_EQ(w.windowTitle(), kStartTitle);
    EXPECT_TRUE(SameBytes(record, Defaults())) << "defaults are not undone by Cancel";
    EXPECT_EQ(SettingsShown, 1);
}

TEST_F(Commands, EditInMemoryShowsDefaultsAfterACancelledNew) {
    CSetupDlg& w = Window();
    DriveSheets(PressOk);
    w.OnNew();
    std::memcpy(record.accountNumber, "5555", 5);
    record.dialCycles = 5;
    DriveSheets(PressCancel);
    w.OnNew();
    QString account;
    DriveSheets([&](CPropertySheet& s) {
        account = s.Page(0)->findChild<QLineEdit*>("account")->text();
        PressCancel(s);
    });
    w.m_editButton->click();
    EXPECT_EQ(account, QString());
    EXPECT_EQ(record.dialCycles, 8);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Утилита настройки ТОРВИК-7 - [New.stg]"));
}

TEST_F(Commands, EditInMemoryResultIsNotUsed) {
    CSetupDlg& w = Window();
    DriveSheets(PressOk);
    w.OnNew();
    const QString title = w.windowTitle();
    DriveSheets(PressCancel);
    w.OnEditInMemory();
    DriveSheets(PressOk);
    w.OnEditInMemory();
    EXPECT_EQ(sheetsShown, 3);
    EXPECT_EQ(StateOf(w), kAll);
    EXPECT_EQ(w.windowTitle(), title);
}

// A settings file of `size` bytes whose record bytes are a recognisable pattern.
QString WriteFile(const QTemporaryDir& dir, const QString& name, const SettingsRecord& r,
                  qint64 size = kRecordSize) {
    const QString path = dir.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    QByteArray bytes(reinterpret_cast<const char*>(&r), kRecordSize);
    bytes.resize(size, '\x11');
    f.write(bytes);
    return path;
}

TEST_F(Commands, OpenLoadsTheFileAndEnablesWhateverTheSheetSays) {
    for (bool confirm : {true, false}) {
        SetUp();
        dlg.reset();
        CSetupDlg& w = Window();
        QTemporaryDir dir;
        SettingsRecord onDisk = Defaults();
        std::memcpy(onDisk.phoneNumbers[2], "4959876543", 11);
        const QString path = WriteFile(dir, QStringLiteral("Объект 12.stg"), onDisk);
        platform.openChoices.push_back(FileChoice{path, QStringLiteral("Объект 12.stg")});
        DriveSheets(confirm ? PressOk : PressCancel);
        w.findChild<QPushButton*>("openButton")->click();
        EXPECT_EQ(platform.openDialogs, 1);
        EXPECT_EQ(sheetsShown, 1);
        EXPECT_EQ(StateOf(w), kAll) << confirm;
        EXPECT_EQ(w.windowTitle(), QStringLiteral("Утилита настройки ТОРВИК-7 - [Объект 12.stg]"));
        EXPECT_STREQ(record.phoneNumbers[2], "4959876543");
        EXPECT_TRUE(platform.messages.empty());
    }
}

TEST_F(Commands, OpenCancelledDoesNothing) {
    CSetupDlg& w = Window();
    DriveSheets(PressOk);
    w.OnOpen();
    EXPECT_EQ(platform.openDialogs, 1);
    EXPECT_EQ(sheetsShown, 0);
    EXPECT_EQ(StateOf(w), kStart);
    EXPECT_EQ(w.windowTitle(), kStartTitle);
}

TEST_F(Commands, OpenOfAMissingFileShowsTheMessageAndChangesNothing) {
    CSetupDlg& w = Window();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("нет.stg"));
    platform.openChoices.push_back(FileChoice{path, QStringLiteral("нет.stg")});
    DriveSheets(PressOk);
    w.OnOpen();
    EXPECT_EQ(sheetsShown, 0);
    EXPECT_EQ(StateOf(w), kStart);
    EXPECT_EQ(w.windowTitle(), kStartTitle);
    ASSERT_EQ(platform.messages.size(), 1u);
    const auto& m = platform.messages[0];
    EXPECT_EQ(m.owner, &w);
    EXPECT_EQ(m.message.caption, "") << "the application's own caption";
    EXPECT_EQ(m.message.icon, MessageIcon::None);
    SettingsRecord probe{};
    EXPECT_EQ(m.message.text, LoadSettingsFile(path.toStdString(), probe).message);
    EXPECT_FALSE(m.message.text.empty());
    EXPECT_TRUE(SameBytes(record, SettingsRecord{}));
}

TEST_F(Commands, OpenOfAShortFileIsRefusedAndChangesNothing) {
    CSetupDlg& w = Window();
    DriveSheets(PressOk);
    w.OnNew();
    const SettingsRecord before = record;
    QTemporaryDir dir;
    SettingsRecord other{};
    std::memset(&other, '7', sizeof other);
    const QString path = WriteFile(dir, QStringLiteral("short.stg"), other, 100);
    platform.openChoices.push_back(FileChoice{path, QStringLiteral("short.stg")});
    w.OnOpen();
    EXPECT_EQ(sheetsShown, 1) << "only the sheet of New";
    EXPECT_EQ(platform.messages.size(), 1u);
    EXPECT_TRUE(SameBytes(record, before));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Утилита настройки ТОРВИК-7 - [New.stg]"));
}

TEST_F(Commands, SaveSetsTheTitleAndWritesTheRecord) {
    CSetupDlg& w = Window();
    DriveSheets(PressOk);
    w.OnNew();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("saved.stg"));
    platform.saveChoices.push_back(FileChoice{path, QStringLiteral("saved.stg")});
    w.m_saveButton->click();
    EXPECT_EQ(platform.saveDialogs, 1);
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Утилита настройки ТОРВИК-7 - [saved.stg]"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray(reinterpret_cast<const char*>(&record), kRecordSize));
    EXPECT_EQ(StateOf(w), kAll);
}

TEST_F(Commands, FailedSaveIsReportedAndKeepsTheTitle) {
    CSetupDlg& w = Window();
    DriveSheets(PressOk);
    w.OnNew();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("no/such/folder/x.stg"));
    platform.saveChoices.push_back(FileChoice{path, QStringLiteral("x.stg")});
    w.OnSave();
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_NE(platform.messages[0].message.text.find("SaveForm();"), std::string::npos);
    EXPECT_EQ(platform.messages[0].owner, &w);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Утилита настройки ТОРВИК-7 - [New.stg]"));
}

TEST_F(Commands, SaveCancelledDoesNothing) {
    CSetupDlg& w = Window();
    w.OnSave();
    EXPECT_EQ(platform.saveDialogs, 1);
    EXPECT_EQ(w.windowTitle(), kStartTitle);
    EXPECT_TRUE(platform.messages.empty());
}

// ---- transfers, with the session replaced by a script on the worker thread ----

struct SessionSeen {
    Buttons buttons;
    bool portListEnabled, lineEnabled, unitEnabled, newEnabled, openEnabled;
    std::string port;
};

// What the window shows while a session runs, looked at on the window's thread.
SessionSeen Observe(CSetupDlg& w, TransferView& view) {
    SessionSeen seen{};
    OnWindow(w, [&] {
        seen = {StateOf(w),
                w.PortList()->isEnabled(),
                w.LineAddressEdit()->isEnabled(),
                w.UnitAddressEdit()->isEnabled(),
                w.findChild<QPushButton*>("newButton")->isEnabled(),
                w.findChild<QPushButton*>("openButton")->isEnabled(),
                {}};
    });
    seen.port = view.PortName();
    return seen;
}

TEST_F(Commands, ReadSucceededOpensTheSheetAndEnablesEverything) {
    for (bool confirm : {true, false}) {
        SetUp();
        dlg.reset();
        CSetupDlg& w = Window();
        SessionSeen seen{};
        bool onWorker = false;
        w.Testing().readSession = [&](TransferView& view, DeviceImage& image,
                                      const SessionOptions&) {
            onWorker = QThread::currentThread() != w.thread();
            seen = Observe(w, view);
            EncodeImage(Defaults(), image);
            return kSessionOk;
        };
        DriveSheets(confirm ? PressOk : PressCancel);
        w.m_readButton->click();
        WaitForTransfer(w);
        EXPECT_TRUE(onWorker);
        EXPECT_EQ(seen.buttons, (Buttons{false, false, false, false}));
        EXPECT_FALSE(seen.portListEnabled);
        EXPECT_FALSE(seen.lineEnabled);
        EXPECT_FALSE(seen.unitEnabled);
        EXPECT_TRUE(seen.newEnabled);
        EXPECT_TRUE(seen.openEnabled);
        EXPECT_EQ(seen.port, "COM1");
        EXPECT_EQ(sheetsShown, 1);
        EXPECT_EQ(StateOf(w), kAll);
        EXPECT_EQ(w.windowTitle(), QStringLiteral("Утилита настройки ТОРВИК-7 - [Current.stg]"));
        EXPECT_TRUE(w.PortList()->isEnabled());
        EXPECT_TRUE(w.LineAddressEdit()->isEnabled());
        EXPECT_TRUE(w.UnitAddressEdit()->isEnabled());
        SettingsRecord decoded{};
        DeviceImage image{};
        EncodeImage(Defaults(), image);
        DecodeImage(image, decoded);
        EXPECT_TRUE(SameBytes(record, decoded)) << "the image read is decoded into the record";
    }
}

TEST_F(Commands, FailedReadRightAfterStartLeavesWriteDisabledAndTheRecordAlone) {
    CSetupDlg& w = Window();
    w.Testing().readSession = [](TransferView&, DeviceImage& image, const SessionOptions&) {
        image.fill(0x55); // blocks that arrived before the failure
        return kSessionLinkFailed;
    };
    w.OnReadDevice();
    WaitForTransfer(w);
    EXPECT_EQ(StateOf(w), kStart);
    EXPECT_EQ(sheetsShown, 0);
    EXPECT_EQ(w.windowTitle(), kStartTitle);
    EXPECT_TRUE(SameBytes(record, SettingsRecord{}));
}

TEST_F(Commands, FailedReadAfterACancelledNewEnablesWrite) {
    CSetupDlg& w = Window();
    DriveSheets(PressCancel);
    w.OnNew();
    w.Testing().readSession = [](TransferView&, DeviceImage&, const SessionOptions&) {
        return kSessionStopped;
    };
    w.OnReadDevice();
    WaitForTransfer(w);
    EXPECT_EQ(StateOf(w), (Buttons{false, false, true, true}));
    EXPECT_EQ(sheetsShown, 1);
    EXPECT_EQ(w.windowTitle(), kStartTitle);
}

TEST_F(Commands, WriteRestoresTheTransferButtonsWhateverTheResult) {
    for (SessionResult result : {kSessionOk, kSessionPortOpenFailed, kSessionLinkFailed,
                                 kSessionStopped, kSessionConsoleUnit}) {
        for (int shown : {0, 1}) {
            SetUp();
            dlg.reset();
            CSetupDlg& w = Window();
            FillDefaults(record);
            SettingsShown = shown;
            Buttons during{};
            DeviceImage written{};
            w.Testing().writeSession = [&](TransferView&, const DeviceImage& image,
                                           const SessionOptions&) {
                OnWindow(w, [&] { during = StateOf(w); });
                written = image;
                return result;
            };
            w.m_writeButton->setEnabled(true);
            w.m_writeButton->click();
            WaitForTransfer(w);
            EXPECT_EQ(during, (Buttons{false, false, false, false}));
            DeviceImage expected{};
            EncodeImage(record, expected);
            EXPECT_EQ(written, expected) << "the record, encoded before the session started";
            EXPECT_EQ(StateOf(w), (Buttons{false, false, shown == 1, true}))
                << result << " " << shown;
            EXPECT_EQ(sheetsShown, 0);
            EXPECT_EQ(w.windowTitle(), kStartTitle);
        }
    }
}

// A record with values outside their ranges is written only after one question that names
// them; No writes nothing. A record within its ranges writes without a question.
TEST_F(Commands, OutOfRangeValuesAreNamedInOneQuestionBeforeAWrite) {
    const std::string kHead = "Настройки содержат недопустимые значения:\n";
    const std::string kTail = "\nЗагрузить их в прибор?";
    struct Case {
        std::uint8_t loopType; // loop 20's type byte; 0xD7 everywhere: a garbage file
        bool garbage;
        MessageAnswer answer;
        std::string text; // the question, or empty: none
    };
    const Case cases[] = {
        {1, false, MessageAnswer::Yes, ""},
        {215, false, MessageAnswer::No,
         kHead + "Расширитель 2, шлейф 5, тип: 215 — недопустимое значение (1..16)" + kTail},
        {215, false, MessageAnswer::Yes,
         kHead + "Расширитель 2, шлейф 5, тип: 215 — недопустимое значение (1..16)" + kTail},
        {0, true, MessageAnswer::No, ""},
    };
    for (const auto& c : cases) {
        SetUp();
        dlg.reset();
        record = Defaults();
        record.loopTypes[20] = static_cast<std::int8_t>(c.loopType);
        if (c.garbage) std::memset(&record, 0xD7, sizeof record);
        CSetupDlg& w = Window();
        SettingsShown = 1;
        w.m_writeButton->setEnabled(true);
        int writes = 0;
        w.Testing().writeSession = [&](TransferView&, const DeviceImage&, const SessionOptions&) {
            ++writes;
            return kSessionOk;
        };
        platform.answers.push_back(c.answer);
        w.m_writeButton->click();
        WaitForTransfer(w);

        const bool asked = c.garbage || !c.text.empty();
        ASSERT_EQ(platform.messages.size(), asked ? 1u : 0u) << c.text;
        EXPECT_EQ(writes, !asked || c.answer == MessageAnswer::Yes ? 1 : 0) << c.text;
        EXPECT_EQ(StateOf(w), (Buttons{false, false, true, true}));
        if (!asked) continue;
        const Message& m = platform.messages[0].message;
        EXPECT_EQ(m.icon, MessageIcon::Question);
        EXPECT_EQ(m.buttons, MessageButtons::YesNo);
        EXPECT_EQ(platform.messages[0].owner, &w);
        if (!c.garbage) {
            EXPECT_EQ(m.text, c.text);
            continue;
        }
        // Ten values, then how many more.
        EXPECT_EQ(m.text.rfind(kHead, 0), 0u) << m.text;
        EXPECT_EQ(std::count(m.text.begin(), m.text.end(), '\n'), 12) << m.text;
        EXPECT_NE(m.text.find("\nи ещё "), std::string::npos) << m.text;
        EXPECT_EQ(m.text.substr(m.text.size() - kTail.size()), kTail);
    }
}

TEST_F(Commands, StatusShowsOnlyOnRefresh) {
    CSetupDlg& w = Window();
    auto* status = qobject_cast<QLabel*>(w.StatusLine());
    QString beforeRefresh, afterRefresh, afterEmpty;
    bool barShown = false, stopShown = false;
    int barValue = -1;
    w.Testing().readSession = [&](TransferView& view, DeviceImage&, const SessionOptions&) {
        view.ShowProgress(true);
        view.SetStatus("Выполняется считывание настроек: 0 %");
        view.ShowStop(true);
        OnWindow(w, [&] { beforeRefresh = status->text(); });
        view.Refresh();
        OnWindow(w, [&] { afterRefresh = status->text(); });
        view.SetProgress(42);
        OnWindow(w, [&] {
            barValue = w.m_progress->value();
            barShown = w.m_progress->isVisible();
            stopShown = w.m_stopButton->isVisible();
        });
        view.SetStatus("");
        view.ShowStop(false);
        view.Refresh();
        view.ShowProgress(false);
        OnWindow(w, [&] { afterEmpty = status->text(); });
        return kSessionLinkFailed;
    };
    w.OnReadDevice();
    WaitForTransfer(w);
    EXPECT_EQ(beforeRefresh, QString());
    EXPECT_EQ(afterRefresh, QStringLiteral("Выполняется считывание настроек: 0 %"));
    EXPECT_EQ(barValue, 42);
    EXPECT_TRUE(barShown);
    EXPECT_TRUE(stopShown);
    EXPECT_EQ(afterEmpty, QString());
    EXPECT_FALSE(w.m_progress->isVisible());
    EXPECT_FALSE(w.m_stopButton->isVisible());
}

// The addresses go to the session with it, clamped; a refresh keeps what was typed.
TEST_F(Commands, RefreshDoesNotUndoTheAddressTexts) {
    CSetupDlg& w = Window();
    Type(w.LineAddressEdit(), QStringLiteral("99"));
    Type(w.UnitAddressEdit(), QStringLiteral("9"));
    int line = -1, unit = -1;
    w.Testing().readSession = [&](TransferView& view, DeviceImage&, const SessionOptions& options) {
        line = options.lineAddress;
        unit = options.unitAddress;
        view.PortName();
        view.Refresh();
        return kSessionLinkFailed;
    };
    w.OnReadDevice();
    WaitForTransfer(w);
    EXPECT_EQ(w.LineAddressEdit()->text(), QStringLiteral("99"));
    EXPECT_EQ(line, 63);
    EXPECT_EQ(unit, 7);
}

TEST_F(Commands, MessagesOfASessionGoThroughThePlatform) {
    record = Defaults(); // within its ranges: no question before the write
    CSetupDlg& w = Window();
    w.Testing().writeSession = [&](TransferView& view, const DeviceImage&, const SessionOptions&) {
        view.ShowMessage({MessageOwner::None, kCaptionError, "ГРЕМУС не отвечает !",
                          MessageIcon::Error, MessageButtons::Ok});
        view.ShowMessage({MessageOwner::Window, "", "Настройки загружены успешно!",
                          MessageIcon::None, MessageButtons::Ok});
        return kSessionOk;
    };
    w.OnWriteDevice();
    WaitForTransfer(w);
    ASSERT_EQ(platform.messages.size(), 2u);
    EXPECT_EQ(platform.messages[0].owner, nullptr);
    EXPECT_EQ(platform.messages[1].owner, &w);
    EXPECT_EQ(platform.messages[1].message.text, "Настройки загружены успешно!");
}

// A session shaped like the real one: 512 blocks, stopping when its stop token is set.
// `beforeBlock` runs on the worker before block k is begun.
SessionResult ScriptedBlocks(TransferView& view, const SessionOptions& options, int& blocksDone,
                             const std::function<void(int)>& beforeBlock) {
    view.ShowProgress(true);
    view.SetStatus("Выполняется загрузка настроек: 0 %");
    view.ShowStop(true);
    view.Refresh();
    for (int k = 0; k < 512; ++k) {
        beforeBlock(k);
        if (options.stop && *options.stop) {
            view.SetStatus("");
            view.ShowStop(false);
            view.Refresh();
            view.ShowProgress(false);
            return kSessionStopped;
        }
        view.SetProgress(100 * (k + 1) / 512);
        ++blocksDone;
    }
    view.SetStatus("");
    view.ShowStop(false);
    view.Refresh();
    view.ShowProgress(false);
    return kSessionOk;
}

TEST_F(Commands, StopPressedMidTransferEndsTheSession) {
    CSetupDlg& w = Window();
    DriveSheets(PressOk);
    w.OnNew();
    int blocksDone = 0;
    SessionResult result = kSessionOk;
    bool stopVisibleAtClick = false;
    w.Testing().writeSession = [&](TransferView& view, const DeviceImage&,
                                   const SessionOptions& options) {
        result = ScriptedBlocks(view, options, blocksDone, [&](int k) {
            if (k != 100) return;
            OnWindow(w, [&] {
                stopVisibleAtClick = w.m_stopButton->isVisible() && w.m_stopButton->isEnabled();
                QTest::mouseClick(w.m_stopButton, Qt::LeftButton);
            });
        });
        return result;
    };
    w.OnWriteDevice();
    WaitForTransfer(w);
    EXPECT_TRUE(stopVisibleAtClick);
    EXPECT_EQ(result, kSessionStopped);
    EXPECT_EQ(blocksDone, 100);
    EXPECT_FALSE(w.m_stopButton->isVisible());
    EXPECT_FALSE(w.m_progress->isVisible());
    EXPECT_EQ(StateOf(w), kAll);
    EXPECT_TRUE(platform.messages.empty());
}

TEST_F(Commands, OtherCommandsRunDuringATransfer) {
    CSetupDlg& w = Window();
    int blocksDone = 0;
    w.Testing().readSession = [&](TransferView& view, DeviceImage&, const SessionOptions& options) {
        return ScriptedBlocks(view, options, blocksDone, [&](int k) {
            if (k != 10) return;
            // Not waited for: the session goes on while the sheet of "Новые" is open.
            QMetaObject::invokeMethod(&w, [&] {
                DriveSheets(PressOk);
                w.findChild<QPushButton*>("newButton")->click();
            });
        });
    };
    w.OnReadDevice();
    WaitForTransfer(w);
    EXPECT_EQ(blocksDone, 512);
    EXPECT_EQ(sheetsShown, 2) << "New's sheet, then the sheet of the completed read";
    EXPECT_EQ(StateOf(w), kAll);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Утилита настройки ТОРВИК-7 - [Current.stg]"));
}

} // namespace
