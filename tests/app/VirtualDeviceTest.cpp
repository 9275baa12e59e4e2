// Whole transfers through the window against the virtual device: the real sessions, the
// real serial code on a pseudo-terminal, and a pacer that spends no real time (where the
// product waits for an answer, it waits until the simulator has answered).
// GCC 12 takes the scripted platform's queued optional<FileChoice> for uninitialized once
// this file's inlining reaches it; it is not.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "AppFixture.h"

#include "app/VirtualDevice.h"
#include "link/Pacer.h"
#include "link/Protocol.h"
#include "link/SerialPort.h"
#include "settings/SettingsFile.h"
#include "sim/DeviceSimulator.h"
#include "support/CountingPort.h"
#include "support/SyncPacer.h"

#include <QComboBox>
#include <QFile>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <optional>
#include <set>
#include <vector>

namespace {

// Frames of a whole session against the virtual device: three handshake frames (it answers
// at the third rate), two identity reads for a write, then two frames a block.
constexpr long kHandshakeFrames = 3;
long FramesThrough(bool write, int block) {
    return kHandshakeFrames + (write ? 4 : 0) + 2L * (block + 1);
}

class VirtualDeviceWindow : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        CSetupDlg& w = Window();
        w.Testing().virtualMemoryPath = (dir.path() + "/memory.bin").toStdString();
        w.Testing().sessionOptions.opener = &opener;
        w.Testing().sessionOptions.pacer = &pacer;
        w.Testing().sessionOptions.dumpPath = (dir.path() + "/data.txt").toStdString();
        const int last = w.PortList()->count() - 1;
        ASSERT_EQ(w.PortList()->itemText(last), QStringLiteral("Виртуальный прибор"));
        w.PortList()->setCurrentIndex(last);
        device = nullptr;
        // Every session's result, as the window got it.
        const auto read = w.Testing().readSession;
        const auto write = w.Testing().writeSession;
        w.Testing().readSession = [this, read](TransferView& v, DeviceImage& i,
                                               const SessionOptions& o) {
            return results.emplace_back(read(v, i, o));
        };
        w.Testing().writeSession = [this, write](TransferView& v, const DeviceImage& i,
                                                 const SessionOptions& o) {
            return results.emplace_back(write(v, i, o));
        };
    }
    // The sessions ask for the port before the first wait; make the device now.
    void Prepare() {
        Window().PortName();
        device = Window().TheVirtualDevice();
        ASSERT_NE(device, nullptr);
        opener.inner = device->Opener(); // the simulator inside the process, where it runs there
    }
    int Lines() {
        QFile f(dir.path() + "/data.txt");
        if (!f.open(QIODevice::ReadOnly)) return -1;
        return static_cast<int>(f.readAll().count('\n'));
    }
    // Runs `act` on the window's thread once frame `frame` has been answered; the session
    // waits for it.
    void AtFrame(long frame, std::function<void()> act) {
        pacer.onFrame = [this, frame, act](long n) {
            if (n == frame) OnWindow(Window(), act);
        };
    }
    // Starts "Просмотр <=" or "Загрузка =>" and returns when the transfer has ended.
    void Transfer(bool write) {
        if (write) {
            SettingsShown = 1;
            Window().OnWriteDevice();
            WaitForTransfer(Window());
        } else {
            Window().OnReadDevice();
            WaitForTransfer(Window());
        }
    }

    QTemporaryDir dir;
    CountingOpener opener;
    VirtualDevice* device = nullptr;
    SyncPacer pacer{
        [this]() -> const DeviceSimulator* { return device ? device->Simulator() : nullptr; },
        opener.frames};
    std::vector<SessionResult> results;
};

TEST_F(VirtualDeviceWindow, WriteThenReadRoundTripsTheSettings) {
    CSetupDlg& w = Window();
    Prepare();
    DriveSheets(PressOk);
    w.OnNew();
    std::memcpy(record.phoneNumbers[0], "84951234567", 12);
    std::memcpy(record.accountNumber, "0042", 5);
    record.dialCycles = 6;
    const SettingsRecord written = record;

    std::set<int> percents;
    bool stopShown = false, locked = false;
    pacer.onFrame = [&](long) {
        OnWindow(w, [&] {
            percents.insert(w.m_progress->value());
            stopShown = stopShown || w.m_stopButton->isVisible();
            locked = locked || !w.LineAddressEdit()->isEnabled();
        });
    };
    w.OnStop(); // with no transfer running: the next one starts all the same
    w.m_writeButton->click();
    WaitForTransfer(w);
    ASSERT_EQ(platform.Texts(), std::vector<std::string>{"Настройки загружены успешно!"});
    EXPECT_EQ(platform.messages[0].owner, &w);
    EXPECT_EQ(opener.frames, FramesThrough(true, 511));
    EXPECT_TRUE(percents.count(0) && percents.count(50) && percents.count(99));
    EXPECT_TRUE(stopShown);
    EXPECT_TRUE(locked);
    EXPECT_FALSE(w.m_progress->isVisible());
    EXPECT_FALSE(w.m_stopButton->isVisible());
    EXPECT_TRUE(w.LineAddressEdit()->isEnabled());

    pacer.onFrame = nullptr;
    std::memset(&record, 0, sizeof record);
    SettingsRecord shownInSheet{};
    DriveSheets([&](CPropertySheet& s) {
        shownInSheet = record;
        PressOk(s);
    });
    w.m_readButton->click();
    WaitForTransfer(w);
    EXPECT_EQ(platform.messages.size(), 1u) << "no message after a read";
    EXPECT_EQ(sheetsShown, 2);
    EXPECT_STREQ(shownInSheet.phoneNumbers[0], "84951234567");
    EXPECT_STREQ(record.accountNumber, "0042");
    EXPECT_EQ(record.dialCycles, 6);
    EXPECT_EQ(std::memcmp(record.loopTypes, written.loopTypes, sizeof record.loopTypes), 0);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Утилита настройки ТОРВИК-7 - [Current.stg]"));
    EXPECT_EQ(Lines(), 2048);

    // The memory outlives the window.
    EXPECT_EQ(QFile(dir.path() + "/memory.bin").size(), 2048);
}

TEST_F(VirtualDeviceWindow, AnotherLineAddressGetsNoAnswer) {
    CSetupDlg& w = Window();
    Prepare();
    Type(w.LineAddressEdit(), QStringLiteral("5"));
    FillDefaults(record);
    SettingsShown = 1;
    w.OnWriteDevice();
    WaitForTransfer(w);
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].message.caption, "Error");
    EXPECT_TRUE(w.m_writeButton->isEnabled());
    EXPECT_TRUE(w.m_readButton->isEnabled());
}

// ---- while a transfer runs on its worker ----

struct StopCase {
    const char* phase;
    bool write;
    long pressAt; // the frame after whose answer "Стоп" is pressed
    long frames;  // frames the session sends in all
    SessionResult result;
    int lines; // read: lines of "data.txt"
};

class StopInEachPhase : public VirtualDeviceWindow,
                        public ::testing::WithParamInterface<StopCase> {};

// The block under way always completes; no frame of the next one is sent.
TEST_P(StopInEachPhase, EndsBeforeTheNextBlock) {
    const StopCase& c = GetParam();
    CSetupDlg& w = Window();
    Prepare();
    FillDefaults(record);
    const SettingsRecord before = record;
    DriveSheets(PressCancel);
    AtFrame(c.pressAt, [&] { w.m_stopButton->click(); });
    Transfer(c.write);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0], c.result);
    EXPECT_EQ(opener.frames, c.frames);
    EXPECT_FALSE(w.m_stopButton->isVisible());
    EXPECT_FALSE(w.m_progress->isVisible());
    EXPECT_TRUE(w.m_readButton->isEnabled());
    EXPECT_TRUE(w.PortList()->isEnabled());
    const bool completed = c.result == kSessionOk;
    // A write ends with a word either way: its success, or how far it went before "Стоп".
    ASSERT_EQ(platform.messages.size(), c.write ? 1u : 0u);
    if (c.write && !completed) {
        EXPECT_EQ(platform.messages[0].message.text.rfind("Загрузка настроек остановлена", 0), 0u);
    }
    EXPECT_EQ(w.m_writeButton->isEnabled(), c.write || completed);
    if (!c.write) {
        EXPECT_EQ(Lines(), c.lines);
        EXPECT_EQ(sheetsShown, completed ? 1 : 0);
        EXPECT_EQ(w.windowTitle(),
                  completed ? QStringLiteral("Утилита настройки ТОРВИК-7 - [Current.stg]")
                            : kStartTitle);
        if (!completed) {
            EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Phases, StopInEachPhase,
    ::testing::Values(
        // Before the block loop "Стоп" is hidden; a stop asked for then (closing the
        // window) still holds when the loop starts.
        StopCase{"handshake", false, 1, FramesThrough(false, -1), kSessionStopped, 0},
        StopCase{"identity", true, 5, FramesThrough(true, -1), kSessionStopped, 0},
        StopCase{"first", false, FramesThrough(false, 0) - 1, FramesThrough(false, 0),
                 kSessionStopped, 4},
        StopCase{"middle", false, FramesThrough(false, 99), FramesThrough(false, 99),
                 kSessionStopped, 400},
        StopCase{"middleWrite", true, FramesThrough(true, 99) - 1, FramesThrough(true, 99),
                 kSessionStopped, 0},
        StopCase{"last", false, FramesThrough(false, 511) - 1, FramesThrough(false, 511),
                 kSessionOk, 2048},
        StopCase{"lastWrite", true, FramesThrough(true, 511) - 1, FramesThrough(true, 511),
                 kSessionOk, 0}),
    [](const auto& info) { return std::string(info.param.phase); });

// The worker does not wait for the operator: it only queues the message. What it does
// after it shows only once the message is closed.
TEST_F(VirtualDeviceWindow, LinkErrorMessageHoldsTheDisplayUntilAnswered) {
    CSetupDlg& w = Window();
    Prepare();
    SimConfig config = device->Simulator()->Config();
    config.fault(SimFault::NotReady) = {.count = 1000, .after = 20};
    device->Simulator()->SetConfig(config);
    long framesAtMessage = -1, framesAfterWait = -1;
    bool barShown = false, turned = false;
    platform.onMessage = [&](const Message&) {
        framesAtMessage = pacer.answered;
        QTimer::singleShot(10, [&] { turned = true; }); // the window's loop goes on
        QTest::qWait(150);                              // the operator reads the message
        framesAfterWait = pacer.answered;
        barShown = w.m_progress->isVisible() && w.m_stopButton->isVisible();
    };
    w.OnReadDevice();
    WaitForTransfer(w);
    ASSERT_EQ(platform.Texts(), std::vector<std::string>{"Данные от ГРЕМУС не готовы !"});
    EXPECT_EQ(platform.messages[0].owner, nullptr);
    EXPECT_EQ(framesAfterWait, framesAtMessage) << "nothing goes out after a link error";
    EXPECT_TRUE(turned);
    EXPECT_TRUE(barShown) << "the display is reset only after the answer";
    EXPECT_EQ(results, std::vector<SessionResult>{kSessionLinkFailed});
    EXPECT_FALSE(w.m_progress->isVisible());
    EXPECT_FALSE(w.m_stopButton->isVisible());
    EXPECT_TRUE(w.m_readButton->isEnabled());
}

struct CloseCase {
    const char* name;
    int key;                             // Qt::Key_Escape or Qt::Key_Return; 0: the close box
    std::optional<MessageAnswer> answer; // none: the question's default, as Enter gives it
    bool write = false;
};

class ClosingMidTransfer : public VirtualDeviceWindow,
                           public ::testing::WithParamInterface<CloseCase> {};

TEST_P(ClosingMidTransfer, AsksAndStopsOnlyOnYes) {
    const CloseCase& c = GetParam();
    CSetupDlg& w = Window();
    Prepare();
    DriveSheets(PressCancel);
    if (c.write) FillDefaults(record);
    if (c.answer) platform.answers.push_back(*c.answer);
    const long pressAt = FramesThrough(c.write, 10) - 1;
    AtFrame(pressAt, [&] {
        if (c.key == 0) {
            w.close();
        } else {
            w.setFocus();
            QTest::keyClick(&w, static_cast<Qt::Key>(c.key));
        }
        EXPECT_TRUE(w.isVisible()) << "the window stays while the transfer runs";
    });
    Transfer(c.write);
    ASSERT_GE(platform.messages.size(), 1u); // a write that went on ends in its own message
    const auto& q = platform.messages[0];
    EXPECT_EQ(q.owner, &w);
    if (!c.write) {
        EXPECT_EQ(q.message.text, "Идёт обмен с прибором. Остановить обмен и выйти?");
    }
    // Stopping a write leaves the device half-written: only an explicit "Да" does it.
    EXPECT_EQ(q.message.defaultNo, c.write);
    EXPECT_EQ(q.message.icon, MessageIcon::Question);
    EXPECT_EQ(q.message.buttons, MessageButtons::YesNo);
    const bool yes =
        c.answer.value_or(c.write ? MessageAnswer::No : MessageAnswer::Yes) == MessageAnswer::Yes;
    EXPECT_EQ(results, std::vector<SessionResult>{yes ? kSessionStopped : kSessionOk});
    EXPECT_EQ(opener.frames, FramesThrough(c.write, yes ? 10 : 511));
    EXPECT_EQ(w.isVisible(), !yes);
    if (!c.write) {
        EXPECT_EQ(sheetsShown, yes ? 0 : 1);
    }
    if (yes) {
        EXPECT_EQ(w.result(), c.key == Qt::Key_Return ? QDialog::Accepted : QDialog::Rejected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, ClosingMidTransfer,
    ::testing::Values(CloseCase{"EscapeYes", Qt::Key_Escape, MessageAnswer::Yes},
                      CloseCase{"EscapeNo", Qt::Key_Escape, MessageAnswer::No},
                      CloseCase{"EnterYes", Qt::Key_Return, MessageAnswer::Yes},
                      CloseCase{"CloseBoxYes", 0, MessageAnswer::Yes},
                      CloseCase{"CloseBoxNo", 0, MessageAnswer::No},
                      CloseCase{"WriteEnterDefault", Qt::Key_Return, std::nullopt, true},
                      CloseCase{"WriteCloseBoxDefault", 0, std::nullopt, true},
                      CloseCase{"WriteEscapeYes", Qt::Key_Escape, MessageAnswer::Yes, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(VirtualDeviceWindow, SheetOpenDuringATransferDoesNotHoldIt) {
    CSetupDlg& w = Window();
    Prepare();
    DriveSheets(PressOk);
    w.OnNew();
    bool completedWhileOpen = false;
    AtFrame(FramesThrough(false, 10), [&] {
        DriveSheets([&](CPropertySheet& sheet) {
            completedWhileOpen =
                QTest::qWaitFor([&] { return pacer.answered == FramesThrough(false, 511); }, 20000);
            PressCancel(sheet);
        });
        // Queued: the sheet opens after this frame's hook has let the session go on.
        QMetaObject::invokeMethod(
            &w, [&] { w.m_editButton->click(); }, Qt::QueuedConnection);
    });
    w.OnReadDevice();
    WaitForTransfer(w);
    EXPECT_TRUE(completedWhileOpen);
    EXPECT_EQ(results, std::vector<SessionResult>{kSessionOk});
    EXPECT_EQ(sheetsShown, 3) << "New's, the one held open, then the completed read's";
    EXPECT_EQ(Lines(), 2048);
}

struct CommandCase {
    const char* name;
    bool write; // the transfer under way
    bool open;  // "Открыть" a file, else "Новые"
};

class CommandDuringATransfer : public VirtualDeviceWindow,
                               public ::testing::WithParamInterface<CommandCase> {};

// A read replaces the record when it completes, after whatever the command put there; a
// write sends the record as it was when it started.
TEST_P(CommandDuringATransfer, LeavesTheRecordAsTheCommandsSay) {
    const CommandCase& c = GetParam();
    CSetupDlg& w = Window();
    Prepare();
    FillDefaults(record);
    std::memcpy(record.accountNumber, "1111", 5);
    const SettingsRecord atStart = record;
    SettingsRecord inFile = atStart;
    std::memcpy(inFile.accountNumber, "2222", 5);
    const QString path = dir.filePath(QStringLiteral("file.stg"));
    ASSERT_TRUE(SaveSettingsFile(path.toStdString(), inFile).ok());
    platform.openChoices.push_back(FileChoice{path, QStringLiteral("file.stg")});
    DriveSheets(PressOk);
    AtFrame(FramesThrough(c.write, 10), [&] {
        QMetaObject::invokeMethod(
            &w, [&] { (c.open ? w.OnOpen() : w.OnNew()); }, Qt::QueuedConnection);
    });
    Transfer(c.write);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0], kSessionOk);
    if (c.write) {
        SettingsRecord expected = atStart;
        if (c.open)
            expected = inFile;
        else
            FillDefaults(expected);
        EXPECT_EQ(std::memcmp(&record, &expected, sizeof record), 0) << "the command's record";
        DeviceImage sent{};
        EncodeImage(atStart, sent);
        const DeviceImage memory = device->Simulator()->Memory();
        EXPECT_TRUE(std::equal(sent.begin() + 8, sent.end(), memory.begin() + 8))
            << "the device got the record as it was when the write started";
        EXPECT_EQ(sheetsShown, 1);
    } else {
        SettingsRecord fromDevice{};
        DecodeImage(device->Simulator()->Memory(), fromDevice);
        EXPECT_EQ(std::memcmp(&record, &fromDevice, sizeof record), 0) << "the read came last";
        EXPECT_EQ(sheetsShown, 2);
        EXPECT_EQ(w.windowTitle(), QStringLiteral("Утилита настройки ТОРВИК-7 - [Current.stg]"));
    }
}

INSTANTIATE_TEST_SUITE_P(Commands, CommandDuringATransfer,
                         ::testing::Values(CommandCase{"NewDuringRead", false, false},
                                           CommandCase{"OpenDuringRead", false, true},
                                           CommandCase{"NewDuringWrite", true, false},
                                           CommandCase{"OpenDuringWrite", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(VirtualDeviceWindow, SecondTransferIsRefusedWhileOneRuns) {
    for (bool write : {false, true}) {
        CSetupDlg& w = Window();
        if (!device) Prepare();
        opener.opens = 0;
        opener.frames = 0;
        results.clear();
        DriveSheets(PressCancel);
        AtFrame(FramesThrough(write, 10), [&] {
            w.m_writeButton->setEnabled(true); // as "Открыть" mid-transfer leaves it
            w.m_writeButton->click();
            w.OnReadDevice();
            EXPECT_TRUE(w.m_writeButton->isEnabled());
            EXPECT_FALSE(w.m_readButton->isEnabled());
        });
        Transfer(write);
        EXPECT_EQ(opener.opens, 1) << write;
        EXPECT_EQ(results.size(), 1u) << write;
        EXPECT_EQ(opener.frames, FramesThrough(write, 511)) << write;
    }
}

// Space on "Загрузка =>": the focus goes to "Стоп" while the write runs, then back.
TEST_F(VirtualDeviceWindow, SpaceOnATransferButtonPutsTheFocusOnStop) {
    CSetupDlg& w = Window();
    Prepare();
    FillDefaults(record);
    SettingsShown = 1;
    w.m_writeButton->setEnabled(true);
    w.m_writeButton->setFocus();
    QString focusedDuring;
    AtFrame(FramesThrough(true, 10),
            [&] { focusedDuring = w.focusWidget() ? w.focusWidget()->objectName() : QString(); });
    QTest::keyClick(w.m_writeButton, Qt::Key_Space);
    WaitForTransfer(w);
    QCoreApplication::processEvents();
    EXPECT_EQ(results, std::vector<SessionResult>{kSessionOk});
    EXPECT_EQ(focusedDuring, "stopButton");
    ASSERT_NE(w.focusWidget(), nullptr);
    EXPECT_EQ(w.focusWidget(), w.m_writeButton);
}

} // namespace
