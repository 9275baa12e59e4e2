#include "LinkFakes.h"
#include "link/TracingPort.h"
#include "sim/DeviceModel.h"
#include "sim/DeviceSimulator.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

Bytes Feed(DeviceModel& model, const Bytes& bytes, int rate = 9600) {
    Bytes answers;
    model.Receive(bytes.data(), static_cast<int>(bytes.size()), rate, answers);
    return answers;
}

SimConfig Config() {
    SimConfig config;
    config.lineAddress = 5;
    config.unitAddress = 3;
    config.rate = 19200;
    return config;
}

TEST(DeviceModelTest, FactoryImageHasObjectSideIdentifier) {
    const DeviceImage image = FactoryImage();
    EXPECT_EQ(image[4], 0x01);
    EXPECT_EQ(image[4] & 0x80, 0);
    EXPECT_EQ(image[0], 0x07);
    SettingsRecord record{};
    FillDefaults(record);
    DeviceImage encoded{};
    EncodeImage(record, encoded);
    encoded[0] = 0x07;
    encoded[4] = 0x01;
    EXPECT_EQ(image, encoded);
}

TEST(DeviceModelTest, HandshakeOnlyAtItsRateAndUnit) {
    DeviceModel model(Config());
    EXPECT_EQ(Hex(Feed(model, {0xD3, 0x55}, 19200)), "D3 3C EF");
    EXPECT_TRUE(Feed(model, {0xD3, 0x55}, 9600).empty());  // line at another rate
    EXPECT_TRUE(Feed(model, {0xC3, 0x55}, 19200).empty()); // frame names another rate
    EXPECT_TRUE(Feed(model, {0xD4, 0x55}, 19200).empty()); // another unit
    EXPECT_EQ(model.stats().handshakes, 4);
    EXPECT_EQ(model.stats().handshakesAnswered, 1);
}

TEST(DeviceModelTest, CommandAndFetchAcrossSplitChunks) {
    DeviceModel model(Config());
    const Bytes command = WithXor({0x05, 0x6E, 0x79, 0x23, 0x11, 0x22, 0x33, 0x44});
    EXPECT_TRUE(Feed(model, Bytes(command.begin(), command.begin() + 4), 19200).empty());
    EXPECT_EQ(Hex(Feed(model, Bytes(command.begin() + 4, command.end()), 19200)), "05 80 85");
    EXPECT_EQ(Feed(model, {0x05, 0x80, 0x85}, 19200),
              ResultFrame(0x123, {0x11, 0x22, 0x33, 0x44}, 0x05, 0x86, 0xA8));
    EXPECT_EQ(model.memory()[0x123], 0x11);
    EXPECT_EQ(model.memory()[0x126], 0x44);
}

TEST(DeviceModelTest, NoiseIsSkippedAndBadFramesIgnored) {
    DeviceModel model(Config());
    // A stray byte before a read command; a command with a bad checksum gets nothing.
    EXPECT_EQ(Hex(Feed(model, {0x17, 0x05, 0x2E, 0xF8, 0x00, 0xD3}, 19200)), "05 80 85");
    EXPECT_TRUE(Feed(model, {0x05, 0x2E, 0xF8, 0x00, 0xD4}, 19200).empty());
    // A partial frame dropped after a pause does not swallow the next one.
    Feed(model, {0x05, 0x2E}, 19200);
    model.ResetPartial();
    EXPECT_EQ(Hex(Feed(model, {0x05, 0x80, 0x85}, 19200)).substr(0, 5), "05 86");
}

TEST(DeviceModelTest, OtherLineAddressIsDeclined) {
    DeviceModel model(Config());
    EXPECT_EQ(Hex(Feed(model, WithXor({0x06, 0x2E, 0xF8, 0x00}), 19200)), "06 00 06");
    EXPECT_TRUE(Feed(model, {0x06, 0x80, 0x86}, 19200).empty());
    EXPECT_EQ(model.stats().refusedCommands, 1);
}

TEST(DeviceModelTest, FetchBeforeAnyCommandIsNotReady) {
    DeviceModel model(Config());
    EXPECT_EQ(Hex(Feed(model, {0x05, 0x80, 0x85}, 19200)), "05 00 05");
}

TEST(DeviceModelTest, FaultRulesCountAfterAndProbability) {
    SimConfig config = Config();
    config.fault(SimFault::NotReady) = {.count = 2, .after = 1};
    DeviceModel model(config);
    Feed(model, WithXor({0x05, 0x2E, 0xF8, 0x00}), 19200);
    std::vector<int> lengths;
    for (int i = 0; i < 5; ++i)
        lengths.push_back(static_cast<int>(Feed(model, {0x05, 0x80, 0x85}, 19200).size()));
    EXPECT_EQ(lengths, (std::vector<int>{10, 3, 3, 10, 10}));

    auto pattern = [](unsigned seed) {
        SimConfig c = Config();
        c.seed = seed;
        c.fault(SimFault::NoAnswer) = {.probability = 0.5};
        DeviceModel m(c);
        std::string hits;
        for (int i = 0; i < 40; ++i)
            hits += Feed(m, {0x05, 0x80, 0x85}, 19200).empty() ? '1' : '0';
        return hits;
    };
    EXPECT_EQ(pattern(7), pattern(7));
    EXPECT_NE(pattern(7), pattern(8));
    EXPECT_NE(pattern(7).find('1'), std::string::npos);
    EXPECT_NE(pattern(7).find('0'), std::string::npos);
}

TEST(DeviceModelTest, ConsoleSideShowsInByteFourOnly) {
    SimConfig config = Config();
    config.consoleSide = true;
    DeviceModel model(config);
    Feed(model, WithXor({0x05, 0x2E, 0xF8, 0x04}), 19200);
    const Bytes r = Feed(model, {0x05, 0x80, 0x85}, 19200);
    ASSERT_EQ(r.size(), 10u);
    EXPECT_EQ(r[5], 0x81);
    EXPECT_EQ(model.memory()[4], 0x01);
}

TEST(DeviceModelTest, DropsTheLineAfterItsFrames) {
    SimConfig config = Config();
    config.dropLineAfter = 1;
    DeviceModel model(config);
    EXPECT_FALSE(Feed(model, {0xD3, 0x55}, 19200).empty());
    EXPECT_TRUE(Feed(model, {0xD3, 0x55}, 19200).empty());
    EXPECT_TRUE(model.LineDropped());
}

TEST(DeviceSimulatorTest, MemoryFiles) {
    const TempDir temp("sim");
    const fs::path& dir = temp.path();
    DeviceSimulator sim;
    DeviceImage image{};
    image[100] = 0x42;
    sim.SetMemory(image);
    ASSERT_TRUE(sim.SaveMemory((dir / "m.bin").string()));
    EXPECT_EQ(fs::file_size(dir / "m.bin"), 2048u);
    DeviceSimulator other;
    ASSERT_TRUE(other.LoadMemory((dir / "m.bin").string()));
    EXPECT_EQ(other.Memory(), image);
    std::ofstream(dir / "short.bin") << "abc";
    EXPECT_FALSE(other.LoadMemory((dir / "short.bin").string()));
    EXPECT_EQ(other.Memory(), image);
    EXPECT_FALSE(other.LoadMemory((dir / "none.bin").string()));
    // Memory is written as settings files are: a leftover beside it is no obstacle, and a
    // file with two names keeps both.
    fs::create_directory(dir / "m.bin.tmp");
    fs::create_hard_link(dir / "m.bin", dir / "also.bin");
    image[101] = 0x43;
    sim.SetMemory(image);
    EXPECT_TRUE(sim.SaveMemory((dir / "m.bin").string()));
    ASSERT_TRUE(other.LoadMemory((dir / "also.bin").string()));
    EXPECT_EQ(other.Memory(), image);
}

TEST(DeviceSimulatorTest, StartGivesATerminalAndStopRemovesIt) {
    DeviceSimulator sim;
    const std::string path = sim.Start();
    ASSERT_FALSE(path.empty()) << sim.LastError();
    EXPECT_EQ(sim.Start(), path);
    EXPECT_TRUE(fs::exists(path));
    EXPECT_TRUE(sim.Running());
    sim.Stop();
    EXPECT_FALSE(sim.Running());
    sim.Stop();
}

TEST(TracingPortTest, LogsFramesInHex) {
    PortLog log;
    auto scripted = std::make_unique<ScriptedPort>(log);
    scripted->answers.push_back({0x05, 0x80, 0x85});
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    {
        TracingPort port(std::move(scripted), file);
        const std::uint8_t frame[] = {0x05, 0x2E, 0xF8, 0x00, 0xD3};
        port.Write(frame, 5);
        std::uint8_t answer[3];
        EXPECT_EQ(port.Read(answer, 3), 3);
        EXPECT_EQ(port.Read(answer, 10), 0);
        port.Purge(PurgeKind::AbortAndClear);
        port.Close();
    }
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;)
        text += static_cast<char>(c);
    std::fclose(file);
    EXPECT_NE(text.find(">> 05 2E F8 00 D3\n"), std::string::npos) << text;
    EXPECT_NE(text.find("<< 05 80 85  (3 of 3)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("<< (0 of 10)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("purge abort+clear\n"), std::string::npos) << text;
    EXPECT_EQ(log.closes, 1);
    EXPECT_EQ(log.written.size(), 1u);
}

} // namespace
