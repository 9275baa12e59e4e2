#include "LinkFakes.h"
#include "link/Protocol.h"
#include "link/TransferSession.h"
#include "settings/DeviceImage.h"
#include "sim/DeviceSimulator.h"
#include "support/Lines.h"
#include "support/Records.h"
#include "support/SessionSetup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

SettingsRecord Pattern() {
    SettingsRecord record;
    auto bytes = RecordBytes(record);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return record;
}

bool SameRecord(const SettingsRecord& a, const SettingsRecord& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

class SessionTest : public ::testing::Test {
protected:
    SessionTest() : opener(Config()) {}

    static SimConfig Config() {
        SimConfig config;
        config.lineAddress = 9;
        config.unitAddress = 2;
        config.rate = 38400;
        return config;
    }
    void SetUp() override {
        dump = FreshDumpPath("torvik7-link");
        options = TestSessionOptions(9, 2, pacer, opener, dump);
    }
    void TearDown() override { fs::remove(dump); }

    void Configure(const std::function<void(SimConfig&)>& change) {
        SimConfig config = opener.model.config();
        change(config);
        opener.model.SetConfig(config);
    }
    int Read(SettingsRecord& record) { return ReadDevice(view, record, options); }
    int Write(const SettingsRecord& record) { return WriteDevice(view, record, options); }

    ModelOpener opener;
    CountingPacer pacer;
    RecordingView view;
    SessionOptions options;
    fs::path dump;
};

TEST_F(SessionTest, ReadFillsRecordAndDump) {
    DeviceImage memory = opener.model.memory();
    for (std::size_t i = 0; i < memory.size(); ++i)
        memory[i] = static_cast<std::uint8_t>(255 - i % 251);
    opener.model.memory() = memory;
    SettingsRecord record = Pattern();
    SettingsRecord expected = Pattern();
    DecodeImage(memory, expected);

    EXPECT_EQ(Read(record), kSessionOk);
    EXPECT_TRUE(SameRecord(record, expected));
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(opener.names, (std::vector<std::string>{"/dev/ttyS2"}));
    EXPECT_EQ(opener.modes, (std::vector<PortOpenMode>{PortOpenMode::Read}));

    const auto lines = Lines(dump);
    ASSERT_EQ(lines.size(), 2048u);
    EXPECT_EQ(lines[0], "0 255 ");
    EXPECT_EQ(lines[5], "5 250 ");
    EXPECT_EQ(lines[2047], "2047 " + std::to_string(memory[2047]) + " ");

    // Rate search found 38400 as the third rate; one read per block, each purged once,
    // and the completed session purges twice more before closing.
    EXPECT_EQ(opener.log.rates, (std::vector<int>{9600, 19200, 38400}));
    EXPECT_EQ(opener.model.stats().readCommands, 512);
    EXPECT_EQ(opener.model.stats().writeCommands, 0);
    EXPECT_EQ(opener.log.Purges(PurgeKind::AbortAndClear), 512 + 2);
    EXPECT_EQ(opener.log.closes, 1);
    EXPECT_EQ(opener.log.events.back(), "close");
    EXPECT_EQ(pacer.Count(70), 2 * 512);
    EXPECT_EQ(pacer.Count(20), 3 + 2 * 512);
    EXPECT_FALSE(view.progressVisible);
    EXPECT_FALSE(view.stopVisible);
    EXPECT_EQ(view.statusShown.back(), "");
}

TEST_F(SessionTest, ReadProgress) {
    SettingsRecord record{};
    ASSERT_EQ(Read(record), kSessionOk);
    // Refreshes: the port name, the loop start, one per block, the end.
    ASSERT_EQ(view.statusShown.size(), 1u + 1 + 512 + 1);
    EXPECT_EQ(view.statusShown[1], "Выполняется считывание настроек: 0 %");
    auto before = [&](int block) { return view.statusShown[2 + block]; };
    EXPECT_EQ(before(0), "Выполняется считывание настроек: 0 %");
    EXPECT_EQ(before(4), "Выполняется считывание настроек: 0 %");
    EXPECT_EQ(before(5), "Выполняется считывание настроек: 1 %");
    EXPECT_EQ(before(255), "Выполняется считывание настроек: 50 %");
    EXPECT_EQ(before(510), "Выполняется считывание настроек: 99 %");
    EXPECT_EQ(before(511), "Выполняется считывание настроек: 100 %");
    ASSERT_EQ(view.progress.size(), 513u);
    for (int k = 0; k < 512; ++k)
        ASSERT_EQ(view.progress[k], 100 * (k + 1) / 512) << k;
    EXPECT_EQ(view.progress.back(), 100);
}

TEST_F(SessionTest, StopDuringBlock100) {
    for (auto& b : opener.model.memory())
        b = 0x5A;
    // The click during block 100 is seen before block 101.
    BetweenBlocks click;
    click.StopAfter(101);
    click.Join(options);
    const SettingsRecord original = Pattern();
    SettingsRecord record = original;
    EXPECT_EQ(Read(record), kSessionStopped);
    EXPECT_TRUE(SameRecord(record, original));
    EXPECT_TRUE(view.messages.empty());
    const auto lines = Lines(dump);
    ASSERT_EQ(lines.size(), 404u);
    EXPECT_EQ(lines.back(), "403 90 ");
    EXPECT_EQ(opener.model.stats().readCommands, 101);
    EXPECT_EQ(opener.log.closes, 1);
    EXPECT_EQ(opener.log.Purges(PurgeKind::AbortAndClear), 101); // no completion purges
    EXPECT_FALSE(view.progressVisible);
    EXPECT_FALSE(view.stopVisible);
    EXPECT_EQ(view.statusShown.back(), "");
}

// A stop pressed before the session reaches its first block (a window closed while the
// port opens): not one block frame goes out, a write's identity reads included.
TEST_F(SessionTest, StopBeforeFirstBlockSendsNoBlockFrame) {
    for (const bool write : {false, true}) {
        SCOPED_TRACE(write ? "write" : "read");
        BetweenBlocks click;
        click.StopAfter(0);
        SessionOptions stopped = options;
        click.Join(stopped);
        const DeviceImage before = opener.model.memory();
        SettingsRecord record = Pattern();
        const int result =
            write ? WriteDevice(view, Defaults(), stopped) : ReadDevice(view, record, stopped);
        EXPECT_EQ(result, kSessionStopped);
        EXPECT_EQ(opener.model.stats().readCommands + opener.model.stats().writeCommands, 0);
        EXPECT_EQ(opener.model.memory(), before);
        EXPECT_TRUE(SameRecord(record, Pattern()));
        EXPECT_TRUE(view.messages.empty());
        EXPECT_FALSE(view.progressVisible);
        EXPECT_EQ(click.done, 0);
    }
    EXPECT_EQ(opener.log.closes, 2);
}

TEST_F(SessionTest, WriteKeepsDeviceBytesAndConfirms) {
    opener.model.memory()[0] = 0x33;
    opener.model.memory()[4] = 0x7F;
    const SettingsRecord record = Defaults();
    DeviceImage expected{};
    EncodeImage(record, expected);
    expected[0] = 0x33;
    expected[4] = 0x7F;
    view.onMessage = [&](const Message&) {
        // The port is still open while the operator reads the confirmation.
        EXPECT_EQ(opener.log.closes, 0);
    };

    EXPECT_EQ(Write(record), kSessionOk);
    EXPECT_EQ(opener.model.memory(), expected);
    EXPECT_EQ(opener.modes, (std::vector<PortOpenMode>{PortOpenMode::Write}));
    ASSERT_EQ(view.messages.size(), 1u);
    const Message& m = view.messages[0];
    EXPECT_EQ(m.text, "Настройки загружены успешно!");
    EXPECT_EQ(m.caption, "");
    EXPECT_EQ(m.owner, MessageOwner::Window);
    EXPECT_EQ(m.icon, MessageIcon::None);
    EXPECT_EQ(m.buttons, MessageButtons::Ok);
    EXPECT_EQ(opener.model.stats().readCommands, 2); // the identity reads
    EXPECT_EQ(opener.model.stats().writeCommands, 512);
    EXPECT_EQ(opener.log.closes, 1);
    EXPECT_EQ(opener.log.events.end()[-2], "purge abort");
    EXPECT_EQ(view.statusShown[2], "Выполняется загрузка настроек: 0 %");
    EXPECT_EQ(view.statusShown.back(), "");
    EXPECT_EQ(pacer.Count(70), 2 * 514);
    EXPECT_FALSE(view.progressVisible);

    // Reading it back gives the same own bytes.
    RecordingView again;
    SettingsRecord back{};
    EXPECT_EQ(ReadDevice(again, back, options), kSessionOk);
    const auto lines = Lines(dump);
    EXPECT_EQ(lines[0], "0 51 ");
    EXPECT_EQ(lines[4], "4 127 ");
}

TEST_F(SessionTest, ConsoleSideUnitIsRefused) {
    Configure([](SimConfig& c) { c.consoleSide = true; });
    const DeviceImage before = opener.model.memory();
    EXPECT_EQ(Write(Defaults()), kSessionConsoleUnit);
    ASSERT_EQ(view.messages.size(), 1u);
    const Message& m = view.messages[0];
    EXPECT_EQ(m.text, "Получен идентификатор пультового блока вместо идентификатора объектового !");
    EXPECT_EQ(m.caption, "Ошибка");
    EXPECT_EQ(m.owner, MessageOwner::Window);
    EXPECT_EQ(m.icon, MessageIcon::Error);
    EXPECT_EQ(opener.model.stats().writeCommands, 0);
    EXPECT_EQ(opener.model.memory(), before);
    EXPECT_EQ(opener.log.closes, 1);
    EXPECT_TRUE(view.progress.empty()); // the block loop never began
}

TEST_F(SessionTest, IdentityReadRepeatsTenTransactions) {
    Configure([](SimConfig& c) { c.fault(SimFault::WrongSum) = {.count = 9}; });
    EXPECT_EQ(Write(Defaults()), kSessionOk);
    EXPECT_EQ(opener.model.stats().readCommands, 11);
    // Every transaction that came back with 7 was silent: only the confirmation shows.
    EXPECT_EQ(view.messages.size(), 1u);
}

TEST_F(SessionTest, IdentityReadFailsAfterTenTransactions) {
    Configure([](SimConfig& c) { c.fault(SimFault::WrongAddress) = {.count = 10}; });
    EXPECT_EQ(Write(Defaults()), kSessionLinkFailed);
    EXPECT_EQ(opener.model.stats().readCommands, 10);
    EXPECT_EQ(opener.model.stats().writeCommands, 0);
    EXPECT_EQ(view.Texts(), (std::vector<std::string>{"Различаются адреса памяти !"}));
    EXPECT_EQ(view.messages[0].caption, "Error");
    EXPECT_EQ(view.messages[0].owner, MessageOwner::None);
    EXPECT_EQ(opener.log.closes, 1);
    EXPECT_FALSE(view.progressVisible);
}

TEST_F(SessionTest, SecondIdentityReadFailureAlsoEnds) {
    Configure([](SimConfig& c) { c.fault(SimFault::NoAnswer) = {.count = 10, .after = 2}; });
    EXPECT_EQ(Write(Defaults()), kSessionLinkFailed);
    EXPECT_EQ(opener.model.stats().readCommands, 1);
    EXPECT_EQ(view.Texts(), (std::vector<std::string>{"ГРЕМУС не отвечает !"}));
}

TEST_F(SessionTest, VerifyMismatchThreeTimesThenAccepted) {
    Configure([](SimConfig& c) { c.fault(SimFault::VerifyMismatch) = {.count = 3, .after = 7}; });
    const SettingsRecord record = Defaults();
    EXPECT_EQ(Write(record), kSessionOk);
    EXPECT_EQ(opener.model.stats().writeCommands, 512 + 3);
    DeviceImage expected{};
    EncodeImage(record, expected);
    expected[0] = 0x07;
    expected[4] = 0x01;
    EXPECT_EQ(opener.model.memory(), expected);
}

TEST_F(SessionTest, DataBlockGivesUpAfterFiveTransactions) {
    Configure([](SimConfig& c) { c.fault(SimFault::VerifyMismatch) = {.count = 5, .after = 7}; });
    EXPECT_EQ(Write(Defaults()), kSessionLinkFailed);
    EXPECT_EQ(opener.model.stats().writeCommands, 7 + 5);
    EXPECT_EQ(view.Texts(),
              (std::vector<std::string>{"Считанные данные не соответствуют записанным !"}));
    EXPECT_FALSE(view.stopVisible);
    EXPECT_FALSE(view.progressVisible);
    EXPECT_EQ(view.statusShown.back(), "");
    EXPECT_EQ(opener.log.closes, 1);
}

TEST_F(SessionTest, NotReadyEndsBlockAfterOneTransaction) {
    Configure([](SimConfig& c) { c.fault(SimFault::NotReady) = {.count = 10}; });
    const SettingsRecord original = Pattern();
    SettingsRecord record = original;
    EXPECT_EQ(Read(record), kSessionLinkFailed);
    EXPECT_EQ(opener.model.stats().readCommands, 1);
    EXPECT_EQ(opener.model.stats().fetches, 10);
    EXPECT_EQ(view.Texts(), (std::vector<std::string>{"Данные от ГРЕМУС не готовы !"}));
    EXPECT_TRUE(SameRecord(record, original));
    EXPECT_TRUE(Lines(dump).empty());
}

struct FaultCase {
    const char* name;
    SimFault fault;
    FaultRule rule;
    int result;
    const char* message; // "" when none
};

class SessionFaults : public SessionTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(SessionFaults, Read) {
    const FaultCase& c = GetParam();
    Configure([&](SimConfig& config) { config.fault(c.fault) = c.rule; });
    const SettingsRecord original = Pattern();
    SettingsRecord record = original;
    EXPECT_EQ(Read(record), c.result);
    if (*c.message) {
        EXPECT_EQ(view.Texts(), (std::vector<std::string>{c.message}));
    } else {
        EXPECT_TRUE(view.messages.empty());
    }
    if (c.result != kSessionOk) {
        EXPECT_TRUE(SameRecord(record, original));
    }
    EXPECT_EQ(opener.log.closes, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SessionFaults,
    ::testing::Values(
        FaultCase{"NoAnswerNine", SimFault::NoAnswer, {.count = 9}, 0, ""},
        FaultCase{"NoAnswerTen", SimFault::NoAnswer, {.count = 10}, 4, "ГРЕМУС не отвечает !"},
        FaultCase{
            "CorruptXorTen", SimFault::CorruptXor, {.count = 10}, 4, "Ошибка контрольной суммы !"},
        FaultCase{"CorruptXorSome", SimFault::CorruptXor, {.count = 9, .after = 100}, 0, ""},
        FaultCase{"TooShortTen",
                  SimFault::TooShort,
                  {.count = 10, .after = 30},
                  4,
                  "Слишком малое количество данных !"},
        FaultCase{"WrongSumFour", SimFault::WrongSum, {.count = 4, .after = 3}, 0, ""},
        FaultCase{"WrongSumFive",
                  SimFault::WrongSum,
                  {.count = 5, .after = 3},
                  4,
                  "Ошибка ответа ТОРВИК-7 с указанным адресом !"},
        FaultCase{"WrongAddressFive",
                  SimFault::WrongAddress,
                  {.count = 5},
                  4,
                  "Различаются адреса памяти !"},
        FaultCase{"RandomFaults", SimFault::NotReady, {.probability = 0.2}, 0, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SessionTest, NoUnitOnTheLine) {
    Configure([](SimConfig& c) { c.unitAddress = 5; });
    SettingsRecord record{};
    EXPECT_EQ(Read(record), kSessionLinkFailed);
    EXPECT_EQ(opener.model.stats().handshakes, 4);
    EXPECT_EQ(opener.log.rates, (std::vector<int>{9600, 19200, 38400, 57600}));
    EXPECT_EQ(view.Texts(), (std::vector<std::string>{"ГРЕМУС не отвечает !"}));
    EXPECT_EQ(view.messages[0].caption, "Error");
    EXPECT_EQ(opener.log.closes, 1);
    EXPECT_TRUE(view.progress.empty());
    EXPECT_FALSE(view.progressVisible);

    RecordingView writeView;
    EXPECT_EQ(WriteDevice(writeView, Defaults(), options), kSessionLinkFailed);
    EXPECT_EQ(writeView.Texts(), (std::vector<std::string>{"ГРЕМУС не отвечает !"}));
    EXPECT_EQ(opener.model.stats().handshakes, 8);
}

TEST_F(SessionTest, NoDeviceAtLineAddress) {
    options.lineAddress = 10;
    EXPECT_EQ(Write(Defaults()), kSessionLinkFailed);
    EXPECT_EQ(view.Texts(), (std::vector<std::string>{"Команда не принята ГРЕМУС !"}));
    EXPECT_EQ(opener.model.stats().refusedCommands, 10);
}

TEST_F(SessionTest, PortThatCannotOpen) {
    std::ofstream(dump) << "old lines\n";
    opener.outcome = PortOpenOutcome::CannotOpen;
    opener.reason = "Причина: порт уже занят.";
    const SettingsRecord original = Pattern();
    SettingsRecord record = original;
    EXPECT_EQ(Read(record), kSessionPortOpenFailed);
    ASSERT_EQ(view.messages.size(), 1u);
    const Message& m = view.messages[0];
    EXPECT_EQ(m.text, "Не удаётся обнаружить /dev/ttyS2 !\n Возможно, ресурс используется другой "
                      "программой.\nПричина: порт уже занят.");
    EXPECT_EQ(m.caption, "Ошибка");
    EXPECT_EQ(m.owner, MessageOwner::Window);
    EXPECT_EQ(m.icon, MessageIcon::Error);
    EXPECT_TRUE(fs::exists(dump));
    EXPECT_EQ(fs::file_size(dump), 0u);
    EXPECT_TRUE(SameRecord(record, original));
    EXPECT_FALSE(view.progressVisible);
    EXPECT_EQ(opener.log.closes, 0);

    opener.reason.clear();
    RecordingView writeView;
    writeView.portName = "COM3";
    EXPECT_EQ(WriteDevice(writeView, record, options), kSessionPortOpenFailed);
    EXPECT_EQ(writeView.Texts(),
              (std::vector<std::string>{"Не удаётся обнаружить COM3 !\n Возможно, ресурс "
                                        "используется другой программой."}));
}

TEST_F(SessionTest, WriteStopsOnUnreadableState) {
    opener.outcome = PortOpenOutcome::StateUnreadable;
    EXPECT_EQ(Write(Defaults()), kSessionPortStateFailed);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "Ошибка в конфигурировании COM - порта!");
    EXPECT_EQ(view.messages[0].caption, "");
    EXPECT_EQ(view.messages[0].owner, MessageOwner::Window);
    EXPECT_EQ(view.messages[0].icon, MessageIcon::None);
    EXPECT_EQ(opener.log.closes, 1);
    EXPECT_TRUE(opener.log.written.empty());
    EXPECT_FALSE(view.progressVisible);
}

TEST_F(SessionTest, EventMaskRefused) {
    opener.outcome = PortOpenOutcome::EventMaskRefused;
    EXPECT_EQ(Write(Defaults()), kSessionPortConfigFailed);
    EXPECT_EQ(view.Texts(), (std::vector<std::string>{"Ошибка в конфигурировании COM - порта!"}));
    EXPECT_EQ(opener.log.closes, 1);

    // A read reports it and goes on.
    RecordingView readView;
    SettingsRecord record{};
    EXPECT_EQ(ReadDevice(readView, record, options), kSessionOk);
    ASSERT_EQ(readView.messages.size(), 1u);
    EXPECT_EQ(readView.messages[0].text, "Error!");
    EXPECT_EQ(readView.messages[0].caption, "Error");
    EXPECT_EQ(readView.messages[0].owner, MessageOwner::Window);
    EXPECT_EQ(readView.messages[0].icon, MessageIcon::Error);
}

// An opener that hands back ports refusing one rate.
class RefusingOpener final : public PortOpener {
public:
    PortOpening Open(const std::string&, PortOpenMode) override {
        auto port = std::make_unique<ScriptedPort>(log);
        port->refusedRates = {19200};
        return {PortOpenOutcome::Opened, std::move(port), ""};
    }
    PortLog log;
};

TEST_F(SessionTest, RefusedRateIsAConfigurationFailure) {
    RefusingOpener refusing;
    options.opener = &refusing;
    SettingsRecord record{};
    EXPECT_EQ(Read(record), kSessionPortConfigFailed);
    EXPECT_EQ(view.Texts(), (std::vector<std::string>{"Ошибка в конфигурировании COM - порта!"}));
    EXPECT_EQ(refusing.log.closes, 1);
    EXPECT_FALSE(view.progressVisible);
}

TEST_F(SessionTest, LineDroppedMidSessionEndsOnce) {
    Configure([](SimConfig& c) { c.dropLineAfter = 3 + 2 * 200; });
    const SettingsRecord original = Pattern();
    SettingsRecord record = original;
    EXPECT_EQ(Read(record), kSessionLinkFailed);
    EXPECT_EQ(view.Texts(), (std::vector<std::string>{"ГРЕМУС не отвечает !"}));
    EXPECT_TRUE(SameRecord(record, original));
    EXPECT_EQ(Lines(dump).size(), 800u);
    EXPECT_EQ(opener.log.closes, 1);
}

TEST_F(SessionTest, DumpThatCannotBeWrittenIsIgnored) {
    options.dumpPath = (fs::temp_directory_path() / "no-such-dir" / "data.txt").string();
    SettingsRecord record{};
    EXPECT_EQ(Read(record), kSessionOk);
    EXPECT_TRUE(view.messages.empty());
}

// The virtual device as Windows reaches it: joined to the session inside the process, its
// answers handed over by the configured wire. Whole and in pieces, read and written back
// byte for byte.
class InProcessDevice : public ::testing::TestWithParam<SimWire> {};

TEST_P(InProcessDevice, ReadsAndWritesTheWholeDevice) {
    SimConfig config;
    config.lineAddress = 5;
    config.unitAddress = 3;
    config.rate = 57600;
    config.wire = GetParam();
    DeviceSimulator sim(config);
    DeviceImage memory{};
    for (std::size_t i = 0; i < memory.size(); ++i)
        memory[i] = static_cast<std::uint8_t>(i * 13 + 1);
    memory[4] = 0x12; // a reporting device, not a console-side unit
    sim.SetMemory(memory);
    CountingPacer pacer;
    RecordingView view;
    SessionOptions options;
    options.lineAddress = 5;
    options.unitAddress = 3;
    options.pacer = &pacer;
    options.opener = &sim.InProcessOpener();
    options.dumpPath.clear();

    DeviceImage read{};
    ASSERT_EQ(ReadImage(view, read, options), kSessionOk);
    EXPECT_EQ(read, memory);

    DeviceImage written = memory;
    for (std::size_t i = 8; i < written.size(); ++i)
        written[i] = static_cast<std::uint8_t>(255 - i % 251);
    ASSERT_EQ(WriteImage(view, written, options), kSessionOk);
    EXPECT_EQ(sim.Memory(), written);
    EXPECT_EQ(sim.Stats().writeCommands, 512);
}

INSTANTIATE_TEST_SUITE_P(Wires, InProcessDevice, ::testing::Values(SimWire::Whole, SimWire::Fifo8));

} // namespace
