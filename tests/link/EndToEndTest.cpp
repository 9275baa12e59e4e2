// Whole sessions through the system's serial-port layer on a pseudo-terminal, against the
// device simulator. The pacer spends no real time: where the product waits 20 ms for the
// answer, it waits until the simulator has answered, so a busy machine cannot make the
// answers late.
#include "LinkFakes.h"
#include "link/Protocol.h"
#include "link/TransferSession.h"
#include "sim/DeviceSimulator.h"
#include "support/CountingPort.h"
#include "support/Records.h"
#include "support/SyncPacer.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const fs::path& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        config.lineAddress = 12;
        config.unitAddress = 6;
        config.rate = 19200;
        dump = fs::temp_directory_path() /
               ("torvik7-e2e-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt");
        fs::remove(dump);
        options.pacer = &pacer;
        options.opener = &opener;
        options.dumpPath = dump.string();
    }
    void TearDown() override {
        sim.Stop();
        fs::remove(dump);
    }
    void StartSim() {
        sim.SetConfig(config);
        view.portName = sim.Start();
        ASSERT_FALSE(view.portName.empty()) << sim.LastError();
    }

    GlobalsGuard globals{12, 6};
    SimConfig config;
    DeviceSimulator sim;
    CountingOpener opener;
    SyncPacer pacer{sim, opener.frames};
    RecordingView view;
    SessionOptions options;
    fs::path dump;
};

TEST_F(EndToEnd, ReadWholeDevice) {
    StartSim();
    const DeviceImage memory = sim.Memory();
    SettingsRecord record{};
    SettingsRecord expected{};
    DecodeImage(memory, expected);
    EXPECT_EQ(ReadDevice(view, record, options), kSessionOk);
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(std::memcmp(&record, &expected, sizeof record), 0);
    const auto lines = Lines(dump);
    ASSERT_EQ(lines.size(), 2048u);
    EXPECT_EQ(lines[4], "4 1 ");
    const SimStats stats = sim.Stats();
    EXPECT_EQ(stats.handshakes, 2); // 9600 unanswered, then 19200
    EXPECT_EQ(stats.handshakesAnswered, 1);
    EXPECT_EQ(stats.readCommands, 512);
    EXPECT_EQ(stats.fetches, 512);
    // The port is free again at once.
    PortOpening again = SystemPortOpener().Open(view.portName, PortOpenMode::Write);
    EXPECT_EQ(again.outcome, PortOpenOutcome::Opened);
    if (again.port) again.port->Close();
}

TEST_F(EndToEnd, WriteThenReadBack) {
    config.rate = 57600; // the last rate of the search
    StartSim();
    SettingsRecord record = Defaults();
    record.dialCycles = 7;
    record.accountNumber[0] = '4';
    DeviceImage expected{};
    EncodeImage(record, expected);
    expected[0] = 0x07;
    expected[4] = 0x01;

    EXPECT_EQ(WriteDevice(view, record, options), kSessionOk);
    EXPECT_EQ(view.Texts(), (std::vector<std::string>{"Настройки загружены успешно!"}));
    EXPECT_EQ(sim.Memory(), expected);

    RecordingView readView;
    readView.portName = view.portName;
    SettingsRecord back{};
    SettingsRecord decoded{};
    DecodeImage(expected, decoded);
    EXPECT_EQ(ReadDevice(readView, back, options), kSessionOk);
    EXPECT_EQ(std::memcmp(&back, &decoded, sizeof back), 0);
    EXPECT_EQ(sim.Stats().handshakes, 8);
}

struct E2eFault {
    const char* name;
    SimFault fault;
    FaultRule rule;
    bool write;
    int result;
    const char* message;
};

class EndToEndFaults : public EndToEnd, public ::testing::WithParamInterface<E2eFault> {};

TEST_P(EndToEndFaults, EndAsTheyShould) {
    const E2eFault& c = GetParam();
    config.fault(c.fault) = c.rule;
    StartSim();
    SettingsRecord record = Defaults();
    const SettingsRecord original = record;
    const int result =
        c.write ? WriteDevice(view, record, options) : ReadDevice(view, record, options);
    EXPECT_EQ(result, c.result);
    std::vector<std::string> expected;
    if (*c.message) expected.push_back(c.message);
    if (c.write && c.result == kSessionOk) expected.push_back("Настройки загружены успешно!");
    EXPECT_EQ(view.Texts(), expected);
    EXPECT_EQ(std::memcmp(&record, &original, sizeof record) == 0,
              c.write || c.result != kSessionOk);
    EXPECT_EQ(opener.opens, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, EndToEndFaults,
    ::testing::Values(
        E2eFault{"NoAnswerRecovered", SimFault::NoAnswer, {.count = 9, .after = 40}, false, 0, ""},
        E2eFault{"NoAnswer",
                 SimFault::NoAnswer,
                 {.count = 10, .after = 40},
                 false,
                 4,
                 "ГРЕМУС не отвечает !"},
        E2eFault{"CorruptXor",
                 SimFault::CorruptXor,
                 {.count = 10, .after = 1},
                 true,
                 4,
                 "Ошибка контрольной суммы !"},
        E2eFault{
            "CorruptXorRecovered", SimFault::CorruptXor, {.count = 3, .after = 9}, true, 0, ""},
        E2eFault{"NotReady",
                 SimFault::NotReady,
                 {.count = 10, .after = 5},
                 false,
                 4,
                 "Данные от ГРЕМУС не готовы !"},
        E2eFault{"TooShort",
                 SimFault::TooShort,
                 {.count = 10, .after = 5},
                 true,
                 4,
                 "Слишком малое количество данных !"},
        E2eFault{"WrongSum",
                 SimFault::WrongSum,
                 {.count = 5, .after = 20},
                 false,
                 4,
                 "Ошибка ответа ТОРВИК-7 с указанным адресом !"},
        E2eFault{"WrongAddress",
                 SimFault::WrongAddress,
                 {.count = 5, .after = 20},
                 true,
                 4,
                 "Различаются адреса памяти !"},
        E2eFault{"VerifyMismatch",
                 SimFault::VerifyMismatch,
                 {.count = 5, .after = 20},
                 true,
                 4,
                 "Считанные данные не соответствуют записанным !"},
        E2eFault{"VerifyMismatchRecovered",
                 SimFault::VerifyMismatch,
                 {.count = 4, .after = 20},
                 true,
                 0,
                 ""},
        E2eFault{"SeededNoise", SimFault::NotReady, {.probability = 0.1}, false, 0, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EndToEnd, ConsoleSideUnit) {
    config.consoleSide = true;
    StartSim();
    const DeviceImage before = sim.Memory();
    EXPECT_EQ(WriteDevice(view, Defaults(), options), kSessionConsoleUnit);
    EXPECT_EQ(view.Texts(), (std::vector<std::string>{
                                "Получен идентификатор пультового блока вместо идентификатора "
                                "объектового !"}));
    EXPECT_EQ(sim.Stats().writeCommands, 0);
    EXPECT_EQ(sim.Memory(), before);
}

TEST_F(EndToEnd, StopAtBlock100) {
    StartSim();
    view.onPump = [](int pump) {
        if (pump == 102) TransferRunning = 0;
    };
    SettingsRecord record = Defaults();
    const SettingsRecord original = record;
    EXPECT_EQ(ReadDevice(view, record, options), kSessionStopped);
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(Lines(dump).size(), 404u);
    EXPECT_EQ(std::memcmp(&record, &original, sizeof record), 0);
    EXPECT_EQ(sim.Stats().readCommands, 101);
}

TEST_F(EndToEnd, NoUnitOnTheLine) {
    config.unitAddress = 1;
    StartSim();
    SettingsRecord record{};
    EXPECT_EQ(ReadDevice(view, record, options), kSessionLinkFailed);
    EXPECT_EQ(view.Texts(), (std::vector<std::string>{"ГРЕМУС не отвечает !"}));
    EXPECT_EQ(sim.Stats().handshakes, 4);
    EXPECT_EQ(sim.Stats().handshakesAnswered, 0);
}

TEST_F(EndToEnd, LineDropsMidSession) {
    config.dropLineAfter = 2 + 2 * 150; // at the command of block 150
    StartSim();
    SettingsRecord record = Defaults();
    const SettingsRecord original = record;
    EXPECT_EQ(ReadDevice(view, record, options), kSessionLinkFailed);
    EXPECT_EQ(view.Texts(), (std::vector<std::string>{"ГРЕМУС не отвечает !"}));
    EXPECT_EQ(std::memcmp(&record, &original, sizeof record), 0);
    EXPECT_EQ(Lines(dump).size(), 600u);
    EXPECT_TRUE(sim.LineDropped());
}

TEST_F(EndToEnd, CableUnpluggedBetweenBlocks) {
    StartSim();
    view.onPump = [&](int pump) {
        if (pump == 51) sim.DropLine();
    };
    SettingsRecord record = Defaults();
    const SettingsRecord original = record;
    EXPECT_EQ(ReadDevice(view, record, options), kSessionLinkFailed);
    EXPECT_EQ(view.Texts(), (std::vector<std::string>{"ГРЕМУС не отвечает !"}));
    EXPECT_EQ(std::memcmp(&record, &original, sizeof record), 0);
    EXPECT_EQ(Lines(dump).size(), 200u);
    EXPECT_FALSE(view.progressVisible);
    // The terminal is gone: a new session cannot open it.
    RecordingView again;
    again.portName = view.portName;
    EXPECT_EQ(ReadDevice(again, record, options), kSessionPortOpenFailed);
}

TEST_F(EndToEnd, PortKeepsItsFlowControl) {
    StartSim();
    {
        const int fd = ::open(view.portName.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        termios t{};
        ASSERT_EQ(::tcgetattr(fd, &t), 0);
        t.c_cflag |= CRTSCTS;
        ASSERT_EQ(::tcsetattr(fd, TCSANOW, &t), 0);
        ::close(fd);
    }
    bool hardware = false;
    view.onPump = [&](int pump) {
        if (pump != 3) return;
        const int fd = ::open(view.portName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios t{};
        hardware = fd >= 0 && ::tcgetattr(fd, &t) == 0 && (t.c_cflag & CRTSCTS);
        if (fd >= 0) ::close(fd);
        TransferRunning = 0;
    };
    SettingsRecord record{};
    EXPECT_EQ(ReadDevice(view, record, options), kSessionStopped);
    EXPECT_TRUE(hardware);
}

TEST_F(EndToEnd, MissingPort) {
    view.portName = "/dev/torvik7-no-such-port";
    SettingsRecord record{};
    EXPECT_EQ(ReadDevice(view, record, options), kSessionPortOpenFailed);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "Не удаётся обнаружить /dev/torvik7-no-such-port !\n "
                                     "Возможно, ресурс используется другой программой.\n"
                                     "Причина: порт не найден в системе.");
    EXPECT_EQ(view.messages[0].caption, "Ошибка");
    EXPECT_TRUE(fs::exists(dump));
}

TEST_F(EndToEnd, PortIsOpenedForOneUserOnly) {
    StartSim();
    PortOpening first = SystemPortOpener().Open(view.portName, PortOpenMode::Read);
    ASSERT_EQ(first.outcome, PortOpenOutcome::Opened);
    SettingsRecord record{};
    EXPECT_EQ(ReadDevice(view, record, options), kSessionPortOpenFailed);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "Не удаётся обнаружить " + view.portName +
                                         " !\n Возможно, ресурс используется другой "
                                         "программой.\nПричина: порт уже занят (заблокирован "
                                         "другой программой).");
    first.port->Close();
    PortOpening after = SystemPortOpener().Open(view.portName, PortOpenMode::Read);
    EXPECT_EQ(after.outcome, PortOpenOutcome::Opened);
    after.port->Close();
}

// The read's time-outs, judged only from below: a loaded machine may make them longer,
// never shorter.
class PortRead : public ::testing::Test {
protected:
    void SetUp() override {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(::grantpt(master), 0);
        ASSERT_EQ(::unlockpt(master), 0);
        path = ::ptsname(master);
        keep = ::open(path.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(keep, 0);
        PortOpening opening = SystemPortOpener().Open(path, PortOpenMode::Write);
        ASSERT_EQ(opening.outcome, PortOpenOutcome::Opened);
        port = std::move(opening.port);
    }
    void TearDown() override {
        if (port) port->Close();
        ::close(keep);
        ::close(master);
    }
    void Send(const Bytes& bytes) {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        ::tcdrain(master);
    }
    // Reads once, waiting for the bytes to reach the port first.
    int ReadAfter(int queued, std::uint8_t* buffer, int capacity) {
        for (int i = 0; i < 2000; ++i) {
            int n = 0;
            ::ioctl(keep, FIONREAD, &n);
            if (n >= queued) break;
            ::usleep(500);
        }
        return port->Read(buffer, capacity);
    }
    int master = -1;
    int keep = -1;
    std::string path;
    std::unique_ptr<SerialPort> port;
};

TEST_F(PortRead, NothingComesAfterTheTotalTimeOut) {
    std::uint8_t buffer[10];
    for (int capacity : {3, 10}) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(port->Read(buffer, capacity), 0);
        const auto spent = std::chrono::steady_clock::now() - start;
        EXPECT_GE(spent, std::chrono::milliseconds(10 + capacity)) << capacity;
    }
}

TEST_F(PortRead, TakesAtMostTheCapacityAndKeepsTheRest) {
    Send({1, 2, 3, 4, 5});
    std::uint8_t buffer[10] = {};
    EXPECT_EQ(ReadAfter(5, buffer, 3), 3);
    EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{1, 2, 3}));
    EXPECT_EQ(port->Read(buffer, 10), 2);
    EXPECT_EQ(Bytes(buffer, buffer + 2), (Bytes{4, 5}));
}

TEST_F(PortRead, PurgeDropsWhatArrived) {
    Send({9, 9, 9, 9, 9});
    std::uint8_t buffer[3];
    // Part of it already in the port's own buffer, part still in the system's queue.
    EXPECT_EQ(ReadAfter(5, buffer, 1), 1);
    port->Purge(PurgeKind::AbortAndClear);
    EXPECT_EQ(port->Read(buffer, 3), 0);
}

TEST_F(PortRead, WritesReachTheLine) {
    const std::uint8_t frame[] = {0x05, 0x6E, 0x79, 0x23, 0x11, 0x22, 0x33, 0x44, 0x75};
    port->Write(frame, 9);
    std::uint8_t got[16] = {};
    ssize_t n = 0;
    for (int i = 0; i < 2000 && n < 9; ++i) {
        const ssize_t r = ::read(master, got + n, sizeof got - n);
        if (r > 0) n += r;
    }
    EXPECT_EQ(Bytes(got, got + n), Bytes(frame, frame + 9));
}

TEST_F(PortRead, HangUpIsNoStorm) {
    ::close(master);
    master = ::open("/dev/null", O_RDONLY);
    std::uint8_t buffer[10];
    const std::uint8_t frame[] = {0x05, 0x80, 0x85};
    for (int i = 0; i < 5; ++i) {
        port->Write(frame, 3);
        EXPECT_EQ(port->Read(buffer, 10), 0);
    }
}

TEST(PortNames, ListNamesMapToSystemNames) {
    EXPECT_EQ(SystemPortName("COM1"), "/dev/ttyS0");
    EXPECT_EQ(SystemPortName("COM6"), "/dev/ttyS5");
    EXPECT_EQ(SystemPortName("COM7"), "COM7");
    EXPECT_EQ(SystemPortName("/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(SystemPortName("COM10"), "COM10");
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
