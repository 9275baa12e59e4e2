// Whole transfers through the window against the virtual device: the real sessions, the
// real serial code on a pseudo-terminal, and a pacer that spends no real time (where the
// product waits for an answer, it waits until the simulator has answered).
// GCC 12 takes the scripted platform's queued optional<FileChoice> for uninitialized once
// this file's inlining reaches it; it is not.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include "AppFixture.h"

#include "app/VirtualDevice.h"
#include "link/Protocol.h"
#include "link/SerialPort.h"
#include "platform/Pacer.h"
#include "sim/DeviceSimulator.h"
#include "support/CountingPort.h"
#include "support/SyncPacer.h"

#include <QComboBox>
#include <QFile>
#include <QProgressBar>
#include <QTemporaryDir>

#include <cstring>
#include <set>

namespace {

class VirtualDeviceWindow : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        CSetupDlg& w = Window();
        w.m_virtualMemoryPath = (dir.path() + "/memory.bin").toStdString();
        w.m_sessionOptions.opener = &opener;
        w.m_sessionOptions.pacer = &pacer;
        w.m_sessionOptions.dumpPath = (dir.path() + "/data.txt").toStdString();
        // The device is made on first use; the pacer finds it through the window.
        platform.onPump = [this](int) { device = Window().TheVirtualDevice(); };
        const int last = w.PortList()->count() - 1;
        ASSERT_EQ(w.PortList()->itemText(last), QStringLiteral("Виртуальный прибор"));
        w.PortList()->setCurrentIndex(last);
        device = nullptr;
    }
    // The sessions ask for the port before the first wait; make the device now.
    void Prepare() {
        Window().PortName();
        device = Window().TheVirtualDevice();
        ASSERT_NE(device, nullptr);
    }
    int Lines() {
        QFile f(dir.path() + "/data.txt");
        if (!f.open(QIODevice::ReadOnly)) return -1;
        return static_cast<int>(f.readAll().count('\n'));
    }

    QTemporaryDir dir;
    CountingOpener opener;
    VirtualDevice* device = nullptr;
    SyncPacer pacer{
        [this]() -> const DeviceSimulator* { return device ? device->Simulator() : nullptr; },
        opener.frames};
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
    platform.onPump = [&](int) {
        percents.insert(w.m_progress->value());
        stopShown = stopShown || w.m_stopButton->isVisible();
        locked = locked || !w.LineAddressEdit()->isEnabled();
    };
    w.OnStop(); // with no transfer running: the next one starts all the same
    w.m_writeButton->click();
    ASSERT_EQ(platform.Texts(), std::vector<std::string>{"Настройки загружены успешно!"});
    EXPECT_EQ(platform.messages[0].owner, &w);
    EXPECT_GE(platform.pumps, 512);
    EXPECT_TRUE(percents.count(0) && percents.count(50) && percents.count(99));
    EXPECT_TRUE(stopShown);
    EXPECT_TRUE(locked);
    EXPECT_FALSE(w.m_progress->isVisible());
    EXPECT_FALSE(w.m_stopButton->isVisible());
    EXPECT_TRUE(w.LineAddressEdit()->isEnabled());

    std::memset(&record, 0, sizeof record);
    SettingsRecord shownInSheet{};
    DriveSheets([&](CPropertySheet& s) {
        shownInSheet = record;
        PressOk(s);
    });
    w.m_readButton->click();
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

TEST_F(VirtualDeviceWindow, StopMidReadLeavesTheRecordAlone) {
    CSetupDlg& w = Window();
    Prepare();
    FillDefaults(record);
    std::memcpy(record.phoneNumbers[4], "5", 2);
    const SettingsRecord before = record;
    platform.onPump = [&](int pumps) {
        if (pumps == 101) QTest::mouseClick(w.m_stopButton, Qt::LeftButton);
    };
    DriveSheets(PressOk);
    w.OnReadDevice();
    EXPECT_EQ(sheetsShown, 0);
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0);
    EXPECT_EQ(Lines(), 400) << "blocks 0..99 arrived before the stop was seen";
    EXPECT_EQ(w.windowTitle(), kStartTitle);
    EXPECT_TRUE(w.m_readButton->isEnabled());
    EXPECT_FALSE(w.m_writeButton->isEnabled());
}

TEST_F(VirtualDeviceWindow, AnotherLineAddressGetsNoAnswer) {
    CSetupDlg& w = Window();
    Prepare();
    Type(w.LineAddressEdit(), QStringLiteral("5"));
    FillDefaults(record);
    SettingsShown = 1;
    w.OnWriteDevice();
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].message.caption, "Error");
    EXPECT_TRUE(w.m_writeButton->isEnabled());
    EXPECT_TRUE(w.m_readButton->isEnabled());
}

} // namespace
