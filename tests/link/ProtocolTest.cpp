#include "link/Protocol.h"
#include "LinkFakes.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

class ProtocolTest : public ::testing::Test {
protected:
    PortLog log;
    ScriptedPort port{log};
    CountingPacer pacer;
    int line = 5; // the device's line address
    int unit = 3; // the interface unit's address

    void Script(std::initializer_list<Bytes> answers) {
        for (const auto& a : answers)
            port.answers.push_back(a);
    }
    // n answers of the same kind
    void Repeat(int n, const Bytes& answer) {
        for (int i = 0; i < n; ++i)
            port.answers.push_back(answer);
    }
    std::uint8_t Read(int address, Bytes& buffer) {
        return TransferBlock(port, address, buffer.data(), Direction::Read, pacer, line);
    }
    std::uint8_t Write(int address, Bytes data) {
        return TransferBlock(port, address, data.data(), Direction::Write, pacer, line);
    }
};

const Bytes kData = {0x11, 0x22, 0x33, 0x44};
const Bytes kUntouched = {0xAA, 0xBB, 0xCC, 0xDD};

TEST(XorTest, ChecksumAndCheck) {
    const std::uint8_t fetch[] = {0x05, 0x80, 0x85};
    const std::uint8_t bad[] = {0x05, 0x80, 0x84};
    EXPECT_TRUE(XorCheck(fetch, 3));
    EXPECT_FALSE(XorCheck(bad, 3));
    EXPECT_TRUE(XorCheck(bad, 0));
    EXPECT_TRUE(XorCheck(bad, -1));
    std::uint8_t out = 0x77;
    XorChecksum(bad, 0, out);
    EXPECT_EQ(out, 0);
    out = 0x77;
    XorChecksum(bad, -3, out);
    EXPECT_EQ(out, 0);
    // The checksum may land right after the bytes it covers.
    std::uint8_t frame[] = {0x3F, 0x2E, 0xFF, 0xFC, 0x00};
    XorChecksum(frame, 4, frame[4]);
    EXPECT_EQ(frame[4], 0x12);
}

TEST_F(ProtocolTest, WriteWorkedExample) {
    line = 5;
    Script({Ack(5), ResultFrame(0x123, kData)});
    EXPECT_EQ(Write(0x123, kData), kLinkOk);
    ASSERT_EQ(log.written.size(), 2u);
    EXPECT_EQ(Hex(log.written[0]), "05 6E 79 23 11 22 33 44 75");
    EXPECT_EQ(Hex(log.written[1]), "05 80 85");
    EXPECT_EQ(log.capacities, (std::vector<int>{3, 10}));
    EXPECT_EQ(pacer.waits, (std::vector<int>{70, 20, 70, 20}));
    EXPECT_EQ(log.events, (std::vector<std::string>{"W 05 6E 79 23 11 22 33 44 75", "R 3/3",
                                                    "purge abort", "W 05 80 85", "R 10/10"}));
    EXPECT_EQ(log.closes, 0);
}

TEST_F(ProtocolTest, ReadWorkedExample) {
    line = 63;
    Script({Ack(63), ResultFrame(2044, kData, 0x3F)});
    Bytes buffer = kUntouched;
    EXPECT_EQ(Read(2044, buffer), kLinkOk);
    EXPECT_EQ(buffer, kData);
    ASSERT_EQ(log.written.size(), 2u);
    EXPECT_EQ(Hex(log.written[0]), "3F 2E FF FC 12");
    EXPECT_EQ(Hex(log.written[1]), "3F 80 BF");
}

TEST_F(ProtocolTest, AddressBitsGoIntoByteTwo) {
    line = 0;
    Script({Ack(0), ResultFrame(0x004, kData, 0)});
    Bytes buffer = kUntouched;
    Read(0x004, buffer);
    EXPECT_EQ(Hex(log.written[0]), "00 2E F8 04 D2");
    log.written.clear();
    Script({Ack(0), ResultFrame(0x7FC, kData, 0)});
    Write(0x7FC, kData);
    EXPECT_EQ(Hex(log.written[0]).substr(0, 11), "00 6E 7F FC");
}

TEST_F(ProtocolTest, HandshakeWorkedExampleAtSecondRate) {
    unit = 3;
    // Nothing at 9600; at 19200 the echo comes back with bit 3 set, which is not compared.
    Script({{}, WithXor({0xDB, 0x42})});
    const HandshakeResult result = UnitHandshake(port, pacer, unit);
    EXPECT_EQ(result.code, kLinkOk);
    EXPECT_FALSE(result.rateRefused);
    EXPECT_EQ(result.rateIndex, 1);
    EXPECT_EQ(log.rates, (std::vector<int>{9600, 19200}));
    ASSERT_EQ(log.written.size(), 2u);
    EXPECT_EQ(Hex(log.written[0]), "C3 55");
    EXPECT_EQ(Hex(log.written[1]), "D3 55");
    EXPECT_EQ(log.capacities, (std::vector<int>{5, 5}));
    // No wait before a handshake frame, no purge between rates.
    EXPECT_EQ(pacer.waits, (std::vector<int>{20, 20}));
    EXPECT_TRUE(log.purges.empty());
}

TEST_F(ProtocolTest, HandshakeUsesLowThreeBitsOfUnitAddress) {
    unit = 0x0F;
    Repeat(4, {});
    UnitHandshake(port, pacer, unit);
    ASSERT_EQ(log.written.size(), 4u);
    EXPECT_EQ(Hex(log.written[0]), "C7 55");
    EXPECT_EQ(Hex(log.written[3]), "F7 55");
}

struct HandshakeCase {
    const char* name;
    std::vector<Bytes> answers; // per rate
    std::uint8_t code;
    int rates; // how many rates were tried
};

class HandshakeTable : public ::testing::TestWithParam<HandshakeCase> {};

TEST_P(HandshakeTable, Judges) {
    const HandshakeCase& c = GetParam();
    PortLog log;
    ScriptedPort port{log};
    CountingPacer pacer;
    for (const auto& a : c.answers)
        port.answers.push_back(a);
    const HandshakeResult result = UnitHandshake(port, pacer, 3);
    EXPECT_EQ(result.code, c.code);
    EXPECT_EQ(static_cast<int>(log.rates.size()), c.rates);
    EXPECT_FALSE(result.rateRefused);
}

// The echo of C3 (9600, unit 3) and the ones for the later rates.
INSTANTIATE_TEST_SUITE_P(
    Handshake, HandshakeTable,
    ::testing::Values(
        HandshakeCase{"AcceptedAtFirstRate", {WithXor({0xC3, 0x00})}, 0, 1},
        HandshakeCase{"AnyByteOne", {WithXor({0xC3, 0xFF})}, 0, 1},
        HandshakeCase{"Bit3Ignored", {WithXor({0xCB, 0x00})}, 0, 1},
        HandshakeCase{"AllSilentGivesNoAnswer", {{}, {}, {}, {}}, 1, 4},
        HandshakeCase{"Bit2DiffersIsBadEcho", {{}, {}, {}, WithXor({0xF7, 0x00})}, 2, 4},
        HandshakeCase{"LastRateDecides",
                      {WithXor({0xC7, 0x00}), {0xD3, 0x00, 0x00}, {}, {0xF3, 0x00, 0x00}},
                      3,
                      4},
        HandshakeCase{"TwoBytesIsNoAnswer", {{0xC3, 0x00}, {}, {}, {}}, 1, 4},
        HandshakeCase{"FourBytesIsNoAnswer", {{0xC3, 0x00, 0xC3, 0x00}, {}, {}, {}}, 1, 4},
        HandshakeCase{
            "BadXorAtThirdThenAnswer", {{}, {}, {0xE3, 0x01, 0xE3}, WithXor({0xF3, 0x10})}, 0, 4}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProtocolTest, HandshakeStopsAtRefusedRate) {
    port.refusedRates = {38400};
    Repeat(4, {});
    const HandshakeResult result = UnitHandshake(port, pacer, unit);
    EXPECT_TRUE(result.rateRefused);
    EXPECT_EQ(log.rates, (std::vector<int>{9600, 19200, 38400}));
    EXPECT_EQ(log.written.size(), 2u);
}

TEST_F(ProtocolTest, CommandNotAcceptedTenTimes) {
    Repeat(10, Ack(5, 0x00));
    Bytes buffer = kUntouched;
    EXPECT_EQ(Read(0, buffer), kLinkNotAccepted);
    EXPECT_EQ(log.written.size(), 10u);
    for (const auto& frame : log.written)
        EXPECT_EQ(frame, log.written[0]);
    EXPECT_EQ(log.Purges(PurgeKind::AbortAndClear), 1);
    EXPECT_EQ(log.events.back(), "purge abort");
    EXPECT_EQ(pacer.Count(70), 10);
    EXPECT_EQ(pacer.Count(20), 10);
    EXPECT_EQ(buffer, kUntouched);
}

TEST_F(ProtocolTest, CommandRetriedThenAccepted) {
    Script({{},
            Ack(5, 0x00),
            {0x04, 0x80, 0x84},
            {0x05, 0x80, 0x84},
            {0x05, 0x80},
            Ack(5, 0xFF),
            ResultFrame(8, kData)});
    Bytes buffer = kUntouched;
    EXPECT_EQ(Read(8, buffer), kLinkOk);
    EXPECT_EQ(log.FramesStartingWith(0x2E), 6);
    EXPECT_EQ(log.FramesStartingWith(0x80), 1);
    EXPECT_EQ(log.Purges(PurgeKind::AbortAndClear), 1);
    EXPECT_EQ(buffer, kData);
}

struct AckCase {
    const char* name;
    Bytes ack;
    std::uint8_t code;
};

class AckTable : public ::testing::TestWithParam<AckCase> {};

TEST_P(AckTable, LastAttemptDecides) {
    PortLog log;
    ScriptedPort port{log};
    CountingPacer pacer;
    for (int i = 0; i < 10; ++i)
        port.answers.push_back(GetParam().ack);
    Bytes buffer = kUntouched;
    EXPECT_EQ(TransferBlock(port, 0, buffer.data(), Direction::Read, pacer, 5), GetParam().code);
    EXPECT_EQ(log.written.size(), 10u);
    EXPECT_EQ(log.purges.size(), 1u);
    EXPECT_EQ(buffer, kUntouched);
}

INSTANTIATE_TEST_SUITE_P(Ack, AckTable,
                         ::testing::Values(AckCase{"Silent", {}, 1},
                                           AckCase{"TwoBytes", {0x05, 0x80}, 1},
                                           AckCase{"WrongLine", Ack(6), 2},
                                           AckCase{"BadXor", {0x05, 0x80, 0x84}, 3},
                                           AckCase{"NotAccepted", Ack(5, 0x7F), 4}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProtocolTest, FetchNotReadyTenTimes) {
    port.answers.push_back(Ack(5));
    Repeat(10, {0x05, 0x00, 0x12}); // the checksum of a short answer is not examined
    Bytes buffer = kUntouched;
    EXPECT_EQ(Read(0, buffer), kLinkNotReady);
    EXPECT_EQ(log.FramesStartingWith(0x2E), 1);
    EXPECT_EQ(log.FramesStartingWith(0x80), 10);
    EXPECT_EQ(log.events[2], "purge abort");
    EXPECT_EQ(log.purges.size(), 1u);
    EXPECT_EQ(pacer.Count(70), 11);
    EXPECT_EQ(pacer.Count(20), 11);
    EXPECT_EQ(buffer, kUntouched);
}

struct FetchCase {
    const char* name;
    std::vector<Bytes> answers; // to the fetch requests
    std::uint8_t code;
    int fetches;
};

class FetchTable : public ::testing::TestWithParam<FetchCase> {};

TEST_P(FetchTable, Judges) {
    const FetchCase& c = GetParam();
    PortLog log;
    ScriptedPort port{log};
    CountingPacer pacer;
    port.answers.push_back(Ack(5));
    for (const auto& a : c.answers)
        port.answers.push_back(a);
    Bytes buffer = kUntouched;
    EXPECT_EQ(TransferBlock(port, 0x004, buffer.data(), Direction::Read, pacer, 5), c.code);
    EXPECT_EQ(log.FramesStartingWith(0x80), c.fetches);
    EXPECT_EQ(log.FramesStartingWith(0x2E), 1);
    EXPECT_EQ(buffer, c.code == 0 ? kData : kUntouched);
}

Bytes BadSum() {
    Bytes r = ResultFrame(0x004, kData);
    r[2] ^= 0x10;
    r[9] ^= 0x10; // XOR still right
    return r;
}
Bytes BadXor() {
    Bytes r = ResultFrame(0x004, kData);
    r[9] ^= 0x01;
    return r;
}
const std::vector<Bytes> kTenSilent(10, Bytes{});

INSTANTIATE_TEST_SUITE_P(
    Fetch, FetchTable,
    ::testing::Values(
        FetchCase{"Ok", {ResultFrame(0x004, kData)}, 0, 1},
        FetchCase{"SumWrongEndsAtOnce", {BadSum(), ResultFrame(0x004, kData)}, 7, 1},
        FetchCase{"OtherAddressEndsAtOnce", {ResultFrame(0x104, kData)}, 8, 1},
        FetchCase{
            "HighBitsOfByteThreeIgnored", {ResultFrame(0x004, kData, 0xFF, 0x00, 0xF8)}, 0, 1},
        FetchCase{"BadXorRetried", {BadXor(), BadXor(), ResultFrame(0x004, kData)}, 0, 3},
        FetchCase{"BadXorTenTimes", std::vector<Bytes>(10, BadXor()), 3, 10},
        FetchCase{
            "SevenBytesRetried", {Bytes{1, 2, 3, 4, 5, 6, 7}, ResultFrame(0x004, kData)}, 0, 2},
        FetchCase{"SevenBytesTenTimes", std::vector<Bytes>(10, Bytes{1, 2, 3, 4, 5, 6, 7}), 6, 10},
        FetchCase{"SilentTenTimes", kTenSilent, 6, 10},
        FetchCase{"TooShortTenTimes", std::vector<Bytes>(10, Bytes{0x05, 0x80, 0x00}), 6, 10},
        FetchCase{"NotReadyThenReady",
                  {Bytes{0x05, 0x00, 0x05}, Bytes{0x05, 0x00, 0x05}, ResultFrame(0x004, kData)},
                  0,
                  3},
        FetchCase{"LastShortAnswerDecides",
                  {Bytes{0x05, 0x80, 0x85}, Bytes{0x05, 0x80, 0x85}, Bytes{0x05, 0x80, 0x85},
                   Bytes{0x05, 0x80, 0x85}, Bytes{0x05, 0x80, 0x85}, Bytes{0x05, 0x80, 0x85},
                   Bytes{0x05, 0x80, 0x85}, Bytes{0x05, 0x80, 0x85}, Bytes{0x05, 0x80, 0x85},
                   Bytes{0x05, 0x00, 0x85}},
                  5,
                  10}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProtocolTest, WriteVerifiedByResultFrame) {
    Script({Ack(5), ResultFrame(0x010, {0x11, 0x22, 0x33, 0x45})});
    EXPECT_EQ(Write(0x010, kData), kLinkVerifyFailed);
    log.written.clear();
    Script({Ack(5), ResultFrame(0x010, {0x10, 0x22, 0x33, 0x44})});
    EXPECT_EQ(Write(0x010, kData), kLinkVerifyFailed);
    Script({Ack(5), ResultFrame(0x010, kData)});
    EXPECT_EQ(Write(0x010, kData), kLinkOk);
}

TEST_F(ProtocolTest, WriteFailingCommandPhaseSendsNoFetch) {
    Repeat(10, {});
    EXPECT_EQ(Write(0x010, kData), kLinkNoAnswer);
    EXPECT_EQ(log.FramesStartingWith(0x6E), 10);
    EXPECT_EQ(log.FramesStartingWith(0x80), 0);
}

TEST_F(ProtocolTest, FetchFollowsCurrentLineAddress) {
    line = 0x2A;
    Script({Ack(0x2A), ResultFrame(0, kData)});
    Bytes buffer = kUntouched;
    EXPECT_EQ(Read(0, buffer), kLinkOk);
    EXPECT_EQ(Hex(log.written[1]), "2A 80 AA");
}

// Waits, frames, reads and purges in one log: a wait moved to the other side of its frame,
// or a purge moved past the fetch's wait, changes the sequence.
struct SequenceCase {
    const char* name;
    std::function<void(SerialPort&, Pacer&)> run;
    std::vector<Bytes> answers;
    std::vector<std::string> events;
};

class SequenceTable : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(SequenceTable, WaitsFramesReadsAndPurgesInOrder) {
    const SequenceCase& c = GetParam();
    PortLog log;
    ScriptedPort port{log};
    CountingPacer pacer;
    pacer.log = &log;
    for (const auto& a : c.answers)
        port.answers.push_back(a);
    c.run(port, pacer);
    EXPECT_EQ(log.events, c.events);
}

INSTANTIATE_TEST_SUITE_P(
    Sequence, SequenceTable,
    ::testing::Values(
        SequenceCase{"Handshake",
                     [](SerialPort& port, Pacer& pacer) { UnitHandshake(port, pacer, 3); },
                     {{}, WithXor({0xD3, 0x3C})},
                     {"rate 9600", "W C3 55", "wait 20", "R 0/5", "rate 19200", "W D3 55",
                      "wait 20", "R 3/5"}},
        SequenceCase{"ReadBlock",
                     [](SerialPort& port, Pacer& pacer) {
                         Bytes buffer = kUntouched;
                         TransferBlock(port, 0x123, buffer.data(), Direction::Read, pacer, 5);
                     },
                     {Ack(5), ResultFrame(0x123, kData)},
                     {"wait 70", "W 05 2E F9 23 F1", "wait 20", "R 3/3", "purge abort", "wait 70",
                      "W 05 80 85", "wait 20", "R 10/10"}},
        SequenceCase{"WriteBlockWithRetries",
                     [](SerialPort& port, Pacer& pacer) {
                         Bytes data = kData;
                         TransferBlock(port, 0x123, data.data(), Direction::Write, pacer, 5);
                     },
                     {{}, Ack(5), Bytes{0x05, 0x00, 0x05}, ResultFrame(0x123, kData)},
                     {"wait 70", "W 05 6E 79 23 11 22 33 44 75", "wait 20", "R 0/3", "wait 70",
                      "W 05 6E 79 23 11 22 33 44 75", "wait 20", "R 3/3", "purge abort", "wait 70",
                      "W 05 80 85", "wait 20", "R 3/10", "wait 70", "W 05 80 85", "wait 20",
                      "R 10/10"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LinkErrorTest, MessagesByCode) {
    const char* expected[] = {"",
                              "ГРЕМУС не отвечает !",
                              "Ошибка первого байта от ГРЕМУС !",
                              "Ошибка контрольной суммы !",
                              "Команда не принята ГРЕМУС !",
                              "Данные от ГРЕМУС не готовы !",
                              "Слишком малое количество данных !",
                              "Ошибка ответа ТОРВИК-7 с указанным адресом !",
                              "Различаются адреса памяти !",
                              "Считанные данные не соответствуют записанным !",
                              "В системе отсутствует ТОРВИК-7 с указанным адресом !",
                              ""};
    for (int code = 0; code <= 11; ++code) {
        RecordingView view;
        ShowLinkError(code, view);
        if (code == 0 || code == 11) {
            EXPECT_TRUE(view.messages.empty()) << code;
            continue;
        }
        ASSERT_EQ(view.messages.size(), 1u) << code;
        const Message& m = view.messages[0];
        EXPECT_EQ(m.text, expected[code]);
        EXPECT_EQ(m.owner, MessageOwner::None);
        EXPECT_EQ(m.caption, "Error");
        EXPECT_EQ(m.icon, MessageIcon::Error);
        EXPECT_EQ(m.buttons, MessageButtons::Ok);
    }
    RecordingView view;
    ShowLinkError(-1, view);
    ShowLinkError(255, view);
    EXPECT_TRUE(view.messages.empty());
}

} // namespace
