// Whole sessions through the system's serial-port layer on a pseudo-terminal, against the
// device simulator. The pacer spends no real time: where the product waits 20 ms for the
// answer, it waits until the simulator has answered, so a busy machine cannot make the
// answers late.
#include "LinkFakes.h"
#include "link/Protocol.h"
#include "link/TransferSession.h"
#include "sim/DeviceSimulator.h"
#include "support/CountingPort.h"
#include "support/Lines.h"
#include "support/Records.h"
#include "support/SessionSetup.h"
#include "support/SyncPacer.h"

#include <QThread>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        config.lineAddress = 12;
        config.unitAddress = 6;
        config.rate = 19200;
        dump = FreshDumpPath("torvik7-e2e");
        options = TestSessionOptions(12, 6, pacer, opener, dump);
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
    BetweenBlocks click;
    click.StopAfter(101);
    click.Join(options);
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
    BetweenBlocks cable;
    cable.onBlock = [&](int done) {
        if (done == 50) sim.DropLine();
    };
    cable.Join(options);
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
    BetweenBlocks look;
    look.onBlock = [&](int done) {
        if (done != 2) return;
        const int fd = ::open(view.portName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios t{};
        hardware = fd >= 0 && ::tcgetattr(fd, &t) == 0 && (t.c_cflag & CRTSCTS);
        if (fd >= 0) ::close(fd);
        look.stop = true;
    };
    look.Join(options);
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

// The read's time-outs on a pseudo-terminal. A loaded machine may make a read longer, never
// shorter: each upper bound holds for the best of three tries.
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
    // Opens the terminal again as a port of another kind, at `baud`.
    void ReopenAs(PortKind kind, int baud) {
        port->Close();
        PortOpening opening = SystemPortOpenerAs(kind).Open(path, PortOpenMode::Write);
        ASSERT_EQ(opening.outcome, PortOpenOutcome::Opened);
        port = std::move(opening.port);
        ASSERT_TRUE(port->SetRate(baud));
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

using Ms = std::chrono::duration<double, std::milli>;

// Never shorter than `low`, and at most `high` at least once in five tries.
template <typename F> void Within(double low, double high, F timed, const std::string& what) {
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        const double spent = timed();
        EXPECT_GE(spent, low) << what;
        best = std::min(best, spent);
    }
    EXPECT_LE(best, high) << what;
}

TEST_F(PortRead, NothingComesWithinTheTotalTimeOut) {
    std::uint8_t buffer[10];
    for (int capacity : {3, 5, 10}) {
        const double total = 10 + capacity;
        Within(
            total, total + 6,
            [&] {
                const auto start = std::chrono::steady_clock::now();
                EXPECT_EQ(port->Read(buffer, capacity), 0);
                return Ms(std::chrono::steady_clock::now() - start).count();
            },
            "capacity " + std::to_string(capacity));
    }
}

// When bytes stop short of the capacity, the read ends the port's hold after the last one:
// on a pseudo-terminal (no hold) with the total time-out, on a UART 12 characters and 1 ms
// after it. A whole answer ends it at once. Each upper bound stays below the next thing the
// read could wrongly wait for.
TEST_F(PortRead, BytesThatStopEndTheReadAfterThePortsHold) {
    struct Case {
        PortKind kind;
        int baud;
        int sent;
        int capacity;
        double low, high; // ms from the read's start (the bytes are queued before it)
    };
    const Case cases[] = {
        {PortKind::PseudoTerminal, 9600, 4, 10, 20, 26}, // the total time-out
        {PortKind::PseudoTerminal, 9600, 3, 5, 15, 21},  //
        {PortKind::Uart, 9600, 4, 10, 13.5, 19.5},       // the hold, before the total
        {PortKind::Uart, 57600, 3, 10, 3.08, 9},         //
        {PortKind::PseudoTerminal, 9600, 10, 10, 0, 6},  // whole: at once
        {PortKind::UsbAdapter, 9600, 3, 3, 0, 6},        //
    };
    for (const Case& c : cases) {
        ReopenAs(c.kind, c.baud);
        std::uint8_t buffer[10];
        Within(
            c.low, c.high,
            [&] {
                Send(Bytes(c.sent, 0x33));
                const auto start = std::chrono::steady_clock::now();
                EXPECT_EQ(ReadAfter(c.sent, buffer, c.capacity), c.sent);
                return Ms(std::chrono::steady_clock::now() - start).count();
            },
            std::to_string(static_cast<int>(c.kind)) + " at " + std::to_string(c.baud) + ", " +
                std::to_string(c.sent) + " of " + std::to_string(c.capacity));
    }
}

// A frame handed over in two pieces 8 ms apart, as a USB adapter's timer may cut it, is read
// whole in one read on a pseudo-terminal, as soon as it is complete.
TEST_F(PortRead, AFrameInPiecesIsCollectedWhole) {
    const Bytes frame = ResultFrame(0x123, {1, 2, 3, 4});
    std::uint8_t buffer[10] = {};
    Within(
        8, 19,
        [&] {
            port->Purge(PurgeKind::Clear);
            std::thread unit([&] {
                Send(Bytes(frame.begin(), frame.begin() + 3));
                std::this_thread::sleep_for(std::chrono::milliseconds(8));
                Send(Bytes(frame.begin() + 3, frame.end()));
            });
            const auto start = std::chrono::steady_clock::now();
            EXPECT_EQ(port->Read(buffer, 10), 10);
            const double spent = Ms(std::chrono::steady_clock::now() - start).count();
            unit.join();
            EXPECT_EQ(Bytes(buffer, buffer + 10), frame);
            return spent;
        },
        "two pieces");
}

// A result frame whose last 4 bytes come after the read has ended: the fetch is tried again
// (code 6 once), and those 4 bytes, queued while the next attempt waits, are not taken for
// the start of the next answer. Real waits: the tail must arrive between the two attempts.
TEST_F(PortRead, TheTailOfALateAnswerIsNeverTakenForTheNextAnswer) {
    const Bytes data = {0x21, 0x22, 0x33, 0x44}; // no XON: the terminal keeps its IXON
    const Bytes result = ResultFrame(0x123, data);
    int fetches = 0;
    std::thread unit([&] {
        Bytes heard;
        std::uint8_t chunk[64];
        while (fetches < 2) {
            const ssize_t n = ::read(master, chunk, sizeof chunk);
            if (n <= 0) return;
            heard.insert(heard.end(), chunk, chunk + n);
            while (heard.size() >= 2) {
                const std::size_t length = heard[1] == 0x80 ? 3 : 5;
                if (heard.size() < length) break;
                heard.erase(heard.begin(), heard.begin() + static_cast<long>(length));
                if (length == 5) {
                    Send(Ack(5));
                } else if (++fetches == 1) {
                    Send(Bytes(result.begin(), result.begin() + 6));
                    // The read that began 20 ms after the request ends 20 ms later.
                    std::this_thread::sleep_for(std::chrono::milliseconds(45));
                    Send(Bytes(result.begin() + 6, result.end()));
                } else {
                    Send(result);
                }
            }
        }
    });
    Bytes buffer = {0, 0, 0, 0};
    const std::uint8_t code =
        TransferBlock(*port, 0x123, buffer.data(), Direction::Read, DefaultPacer(), 5);
    unit.join();
    EXPECT_EQ(code, kLinkOk);
    EXPECT_EQ(fetches, 2);
    EXPECT_EQ(buffer, data);
}

// Short transfers with the real waits at 9600 baud, the answers handed over as each kind of
// line does: a handshake, 12 blocks read and 12 written, every one succeeding, exact. The
// cases run side by side, each with its own simulator, since they only wait.
TEST(WireModes, ShortTransfersSucceedInEveryMode) {
    struct Case {
        const char* name;
        SimWire wire;
        int latencyMs;
    };
    const Case cases[] = {{"whole", SimWire::Whole, 0},     {"bytes", SimWire::Bytes, 0},
                          {"fifo8", SimWire::Fifo8, 0},     {"usb16", SimWire::Usb16, 0},
                          {"fifo8+12", SimWire::Fifo8, 12}, {"usb16+10", SimWire::Usb16, 10}};
    constexpr int kBlocks = 12;
    // QThreads, so the serial ports find an event dispatcher where they look for one.
    std::vector<std::unique_ptr<QThread>> runs;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        runs.emplace_back(QThread::create([&, i] {
            const Case& c = cases[i];
            SimConfig config;
            config.lineAddress = 12;
            config.unitAddress = 6;
            config.wire = c.wire;
            config.latencyMs = c.latencyMs;
            config.seed = static_cast<unsigned>(i + 1);
            DeviceSimulator sim(config);
            const std::string path = sim.Start();
            ASSERT_FALSE(path.empty()) << sim.LastError();
            PortOpening opening = SystemPortOpener().Open(path, PortOpenMode::Write);
            ASSERT_EQ(opening.outcome, PortOpenOutcome::Opened) << c.name;
            SerialPort& port = *opening.port;
            const HandshakeResult handshake = UnitHandshake(port, DefaultPacer(), 6);
            EXPECT_EQ(handshake.code, kLinkOk) << c.name;
            const DeviceImage before = sim.Memory();
            for (int k = 0; k < kBlocks; ++k) {
                std::uint8_t block[4] = {};
                EXPECT_EQ(TransferBlock(port, 4 * k, block, Direction::Read, DefaultPacer(), 12),
                          kLinkOk)
                    << c.name << " read " << k;
                EXPECT_EQ(Bytes(block, block + 4), Bytes(&before[4 * k], &before[4 * k + 4]))
                    << c.name << " read " << k;
            }
            DeviceImage expected = before;
            for (int k = 0; k < kBlocks; ++k) {
                std::uint8_t block[4];
                for (int b = 0; b < 4; ++b)
                    block[b] = expected[1024 + 4 * k + b] =
                        static_cast<std::uint8_t>(0xA0 + 4 * k + b);
                EXPECT_EQ(
                    TransferBlock(port, 1024 + 4 * k, block, Direction::Write, DefaultPacer(), 12),
                    kLinkOk)
                    << c.name << " write " << k;
            }
            port.Close();
            EXPECT_EQ(sim.Memory(), expected) << c.name;
            // One handshake, one command frame and one fetch request a block. A loaded machine
            // may hold the simulator's thread up for an answer or two; a read that ended at
            // the first pause of 1 ms retried in most blocks.
            const long frames = sim.Stats().frames;
            EXPECT_GE(frames, 1 + 2 * 2 * kBlocks) << c.name;
            EXPECT_LE(frames, 1 + 2 * 2 * kBlocks + 2) << c.name;
            sim.Stop();
        }));
        runs.back()->start();
    }
    for (auto& run : runs)
        run->wait();
}

TEST(PortKinds, WhatTheSystemSaysThePortIs) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    EXPECT_EQ(PortKindOf(::ptsname(master)), PortKind::PseudoTerminal);
    ::close(master);
    EXPECT_EQ(PortKindOf("/dev/torvik7-no-such-port"), PortKind::Unknown);
    EXPECT_EQ(PortKindOf("/dev/null"), PortKind::Unknown);
    if (fs::exists("/sys/class/tty/ttyS0/device/subsystem")) {
        EXPECT_EQ(PortKindOf("/dev/ttyS0"), PortKind::Uart);
    }
    // Holds: a UART 12 characters and 1 ms, a USB adapter its timer, a USB frame, 1 ms and
    // a character; none known for a pseudo-terminal or an unknown port.
    EXPECT_DOUBLE_EQ(ReadHoldMs(PortKind::Uart, 9600, 16), 1 + 12 * 10000.0 / 9600);
    EXPECT_DOUBLE_EQ(ReadHoldMs(PortKind::Uart, 57600, 16), 1 + 12 * 10000.0 / 57600);
    EXPECT_DOUBLE_EQ(ReadHoldMs(PortKind::UsbAdapter, 9600, 16), 16 + 2 + 10000.0 / 9600);
    EXPECT_DOUBLE_EQ(ReadHoldMs(PortKind::UsbAdapter, 38400, 1), 1 + 2 + 10000.0 / 38400);
    EXPECT_EQ(ReadHoldMs(PortKind::PseudoTerminal, 9600, 16), 0);
    EXPECT_EQ(ReadHoldMs(PortKind::Unknown, 9600, 16), 0);
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

// On a real serial port the driver is asked for low latency while the port is open, and the
// flag is as it was after the close. Skipped where there is no such port to use.
TEST(PortKinds, LowLatencyWhileOpenGivenBackOnClose) {
    const char* tty = "/dev/ttyS0";
    const int probe = ::open(tty, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (probe < 0) GTEST_SKIP() << tty << " cannot be opened here";
    serial_struct serial{};
    const bool serialInfo = ::ioctl(probe, TIOCGSERIAL, &serial) == 0;
    const int before = serial.flags;
    PortOpening opening;
    if (serialInfo && !(before & ASYNC_LOW_LATENCY))
        opening = SystemPortOpener().Open(tty, PortOpenMode::Write);
    if (opening.outcome != PortOpenOutcome::Opened) {
        ::close(probe);
        GTEST_SKIP() << tty << ": no serial information, low latency already set, or busy";
    }
    ASSERT_EQ(::ioctl(probe, TIOCGSERIAL, &serial), 0);
    EXPECT_TRUE(serial.flags & ASYNC_LOW_LATENCY);
    opening.port->Close();
    ASSERT_EQ(::ioctl(probe, TIOCGSERIAL, &serial), 0);
    EXPECT_EQ(serial.flags, before);
    ::close(probe);
}

TEST(PortNames, ListNamesMapToSystemNames) {
    EXPECT_EQ(SystemPortName("COM1"), "/dev/ttyS0");
    EXPECT_EQ(SystemPortName("COM6"), "/dev/ttyS5");
    EXPECT_EQ(SystemPortName("COM7"), "COM7");
    EXPECT_EQ(SystemPortName("/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(SystemPortName("COM10"), "COM10");
}

} // namespace
