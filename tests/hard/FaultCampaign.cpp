// The fault campaign: whole read and write sessions against the simulated device on a
// pseudo-terminal, through the system's serial-port layer, with every link error code
// raised in every phase where it can arise, once so that the retries recover and once so
// that they give up; the line dropped and the operator stopping at the edge blocks; the
// port missing or held by another process. Every case checks what the operator sees, that
// the port is free again, and that nothing was lost: a failed read leaves the record as it
// was and "data.txt" holds exactly the blocks that arrived; a failed write leaves the new
// settings before the block where it ended and the old ones after it.
//
// Faults the simulator injects by itself are used as they are. Two answers it never gives
// (an acknowledgement with a wrong first byte, or refusing a command it accepted) and the
// garbled handshake answers are made by a port between the session and the line, which
// alters answers as line noise would.
#include "link/LinkFakes.h"
#include "link/Protocol.h"
#include "link/TransferSession.h"
#include "sim/DeviceSimulator.h"
#include "support/Lines.h"
#include "support/SessionSetup.h"
#include "support/SyncPacer.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;

enum class Phase { Handshake, Identity, Data };
enum class Kind { Code, Drop, Stop, PortMissing, PortHeld };

struct Case {
    std::string name;
    bool write = false;
    Kind kind = Kind::Code;
    Phase phase = Phase::Data;
    int code = 0;
    bool persistent = false;
    int block = 0; // data block, or identity read 0/1, where the fault strikes
};

// How the port between the session and the line alters answers.
struct Noise {
    int handshakeCode = 0; // 1, 2 or 3: the first `handshakes` handshake answers are spoiled
    int handshakes = 0;
    int ackCode = 0; // 2 or 4: acknowledgements after the first `ackAfter` are spoiled
    int ackAfter = 0;
    int ackCount = 0;
};

// Counts frames (so the pacer knows which answer to wait for), counts closes, and spoils
// answers as told.
class NoisyPort final : public SerialPort {
public:
    NoisyPort(std::unique_ptr<SerialPort> inner, const Noise& noise, long& frames, int& closes,
              int& spoiled)
        : spoiled(spoiled), inner_(std::move(inner)), noise_(noise), frames_(frames),
          closes_(closes) {}
    int& spoiled;
    bool SetRate(int baud) override { return inner_->SetRate(baud); }
    void Write(const std::uint8_t* data, int count) override {
        ++frames_;
        last_.assign(data, data + count);
        inner_->Write(data, count);
    }
    int Read(std::uint8_t* buffer, int capacity) override {
        int n = inner_->Read(buffer, capacity);
        if (last_.size() == 2) { // a handshake answer
            if (handshakes_++ >= noise_.handshakes) return n;
            ++spoiled;
            switch (noise_.handshakeCode) {
            case kLinkNoAnswer:
                return 0;
            case kLinkBadEcho: // the echo differs in bit 2, which is compared
                buffer[0] = static_cast<std::uint8_t>(last_[0] ^ 0x04);
                buffer[1] = 0x3C;
                buffer[2] = buffer[0] ^ buffer[1];
                return 3;
            case kLinkBadXor:
                buffer[0] = last_[0];
                buffer[1] = 0x3C;
                buffer[2] = static_cast<std::uint8_t>(buffer[0] ^ buffer[1] ^ 0x20);
                return 3;
            default:
                return n;
            }
        }
        if ((last_.size() == 5 || last_.size() == 9) && n == 3) { // an acknowledgement
            const int seen = acks_++;
            if (seen < noise_.ackAfter || seen >= noise_.ackAfter + noise_.ackCount) return n;
            ++spoiled;
            if (noise_.ackCode == kLinkBadEcho) buffer[0] ^= 0x01;
            if (noise_.ackCode == kLinkNotAccepted) {
                buffer[1] &= 0x7F;
                buffer[2] = buffer[0] ^ buffer[1];
            }
        }
        return n;
    }
    void Purge(PurgeKind kind) override { inner_->Purge(kind); }
    void Close() override {
        ++closes_;
        inner_->Close();
    }

private:
    std::unique_ptr<SerialPort> inner_;
    const Noise& noise_;
    long& frames_;
    int& closes_;
    Bytes last_;
    int handshakes_ = 0;
    int acks_ = 0;
};

class NoisyOpener final : public PortOpener {
public:
    PortOpening Open(const std::string& name, PortOpenMode mode) override {
        ++opens;
        PortOpening opening = SystemPortOpener().Open(name, mode);
        if (opening.port) {
            ++opened;
            opening.port = std::make_unique<NoisyPort>(std::move(opening.port), noise, frames,
                                                       closes, spoiled);
        }
        return opening;
    }
    Noise noise;
    long frames = 0;
    int opens = 0;
    int opened = 0;
    int closes = 0;
    int spoiled = 0; // answers the noise altered
};

// A second process that holds a port open until its input closes.
class PortHolder {
public:
    explicit PortHolder(const std::string& path) {
        int toChild[2], fromChild[2];
        if (::pipe(toChild) != 0 || ::pipe(fromChild) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
        posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
        posix_spawn_file_actions_addclose(&actions, toChild[1]);
        posix_spawn_file_actions_addclose(&actions, fromChild[0]);
        std::string self = fs::read_symlink("/proc/self/exe").string();
        std::string flag = "--hold-port";
        std::string target = path;
        char* argv[] = {self.data(), flag.data(), target.data(), nullptr};
        if (::posix_spawn(&pid_, self.c_str(), &actions, nullptr, argv, environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(toChild[0]);
        ::close(fromChild[1]);
        input_ = toChild[1];
        char answer[16] = {};
        const ssize_t n = ::read(fromChild[0], answer, sizeof answer - 1);
        ::close(fromChild[0]);
        holding_ = n > 0 && std::string(answer, static_cast<std::size_t>(n)) == "held\n";
    }
    ~PortHolder() { Release(); }
    bool holding() const { return holding_; }
    void Release() {
        if (input_ >= 0) ::close(input_);
        input_ = -1;
        if (pid_ > 0) {
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    int input_ = -1;
    bool holding_ = false;
};

int HoldPort(const char* path) {
    PortOpening opening = SystemPortOpener().Open(path, PortOpenMode::Read);
    if (!opening.port) return 1;
    std::fputs("held\n", stdout);
    std::fflush(stdout);
    char c;
    while (::read(0, &c, 1) > 0) {
    }
    opening.port->Close();
    return 0;
}

SettingsRecord RandomRecord(unsigned seed) {
    // A record the pages could have made: defaults with varied valid settings.
    std::mt19937 rng(seed);
    SettingsRecord r;
    std::memset(&r, 0, sizeof r);
    FillDefaults(r);
    for (int k = 0; k < kPhoneCount; ++k) {
        const int digits = static_cast<int>(rng() % 16);
        for (int i = 0; i < digits; ++i)
            r.phoneNumbers[k][i] = static_cast<char>('0' + rng() % 10);
    }
    for (auto& type : r.loopTypes)
        type = static_cast<std::int8_t>(1 + rng() % 16);
    for (auto& group : r.loopGroups)
        for (auto& member : group)
            member = static_cast<std::uint8_t>(rng());
    r.dialCycles = static_cast<std::int32_t>(4 + rng() % 5);
    return r;
}

// The bytes of the record where it lies in memory.
std::vector<std::uint8_t> Raw(const SettingsRecord& r) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&r);
    return {p, p + sizeof r};
}

// What the campaign saw of each case, for the closing table.
struct Outcome {
    std::string group;
    std::string name;
    int result = -1;
    bool passed = false;
    bool falseSuccess = false; // a failure reported as success
    bool dataLost = false;     // a record, a dump or device memory not as it must be
};
std::vector<Outcome>& Outcomes() {
    static std::vector<Outcome> outcomes;
    return outcomes;
}

std::string PhaseName(Phase p) {
    switch (p) {
    case Phase::Handshake:
        return "handshake";
    case Phase::Identity:
        return "identity";
    case Phase::Data:
        return "data";
    }
    return "?";
}

std::string GroupOf(const Case& c) {
    const std::string session = c.write ? "write" : "read";
    switch (c.kind) {
    case Kind::Code:
        return session + " " + PhaseName(c.phase) + (c.persistent ? " persistent" : " transient");
    case Kind::Drop:
        return session + " line dropped";
    case Kind::Stop:
        return session + " stopped";
    case Kind::PortMissing:
    case Kind::PortHeld:
        return session + " port";
    }
    return session;
}

constexpr int kSimRate = 19200; // the second rate: a handshake at 9600 goes unanswered first
constexpr int kHandshakeFrames = 2;

class FaultCampaign : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        dump = FreshDumpPath("torvik7-campaign");
        config.lineAddress = 12;
        config.unitAddress = 6;
        config.rate = kSimRate;
        options = TestSessionOptions(12, 6, pacer, opener, dump);
    }
    void TearDown() override {
        sim.Stop();
        fs::remove(dump);
        const Case& c = GetParam();
        Outcome o{GroupOf(c), c.name, result, !HasFailure()};
        o.falseSuccess = result == kSessionOk && expected != kSessionOk;
        o.dataLost = dataFrom < 0 || Parts() > dataFrom;
        Outcomes().push_back(o);
    }

    // Transactions that precede the one the fault strikes: in a write the two identity
    // reads come before the data blocks.
    int TransactionsBefore(const Case& c) const {
        if (c.phase == Phase::Identity) return c.block;
        return c.block + (c.write ? 2 : 0);
    }

    void Arrange(const Case& c) {
        if (c.kind == Kind::Drop)
            config.dropLineAfter = kHandshakeFrames + 2L * TransactionsBefore(c);
        if (c.kind == Kind::Stop) {
            hand.StopAfter(c.block);
            hand.Join(options);
        }
        if (c.kind != Kind::Code) return;
        if (c.phase == Phase::Handshake) {
            opener.noise.handshakeCode = c.code;
            opener.noise.handshakes = c.persistent ? kRateCount : 1;
            planned = opener.noise.handshakes;
            return;
        }
        const int before = TransactionsBefore(c);
        // Codes 1 to 6 are retried inside the transaction (10 attempts a phase); 7, 8 and 9
        // by the session, 10 transactions for an identity read and 5 for a data block.
        const int inside = c.persistent ? kAttemptsPerPhase : kAttemptsPerPhase - 1;
        const int transactions = c.phase == Phase::Identity ? 10 : 5;
        const int outside = c.persistent ? transactions : transactions - 1;
        planned = c.code >= kLinkBadSum ? outside : inside;
        switch (c.code) {
        case kLinkNoAnswer: // counts command frames and fetch requests
            config.fault(SimFault::NoAnswer) = {.count = inside, .after = 2 * before};
            break;
        case kLinkBadEcho:
        case kLinkNotAccepted:
            opener.noise.ackCode = c.code;
            opener.noise.ackAfter = before;
            opener.noise.ackCount = inside;
            break;
        case kLinkBadXor: // counts acknowledgements and result frames
            config.fault(SimFault::CorruptXor) = {.count = inside, .after = 2 * before};
            break;
        case kLinkNotReady:
            config.fault(SimFault::NotReady) = {.count = inside, .after = before};
            break;
        case kLinkTooShort:
            config.fault(SimFault::TooShort) = {.count = inside, .after = before};
            break;
        case kLinkBadSum:
            config.fault(SimFault::WrongSum) = {.count = outside, .after = before};
            break;
        case kLinkBadAddress:
            config.fault(SimFault::WrongAddress) = {.count = outside, .after = before};
            break;
        case kLinkVerifyFailed: // counts write commands only
            config.fault(SimFault::VerifyMismatch) = {.count = outside, .after = c.block};
            break;
        default:
            FAIL() << "no way to raise code " << c.code;
        }
    }

    // Expected session result, messages, and the number of data blocks that went through.
    struct Expect {
        int result = kSessionOk;
        std::vector<std::string> messages;
        int blocks = 512;
    };
    Expect Expected(const Case& c) const {
        Expect e;
        switch (c.kind) {
        case Kind::Code:
            if (!c.persistent) break;
            e.result = kSessionLinkFailed;
            e.messages = {LinkErrorText(c.code)};
            e.blocks = c.phase == Phase::Data ? c.block : 0;
            return e;
        case Kind::Drop:
            e.result = kSessionLinkFailed;
            e.messages = {LinkErrorText(kLinkNoAnswer)};
            e.blocks = c.block;
            return e;
        case Kind::Stop:
            e.result = kSessionStopped;
            e.blocks = c.block;
            return e;
        case Kind::PortMissing:
        case Kind::PortHeld:
            e.result = kSessionPortOpenFailed;
            e.messages = {"Не удаётся обнаружить " + view.portName +
                          " !\n Возможно, ресурс используется другой программой."};
            e.messages[0] += c.kind == Kind::PortHeld
                                 ? "\nПричина: порт уже занят (заблокирован другой программой)."
                                 : "\nПричина: порт не найден в системе.";
            e.blocks = 0;
            return e;
        }
        if (c.write) e.messages = {"Настройки загружены успешно!"};
        return e;
    }

    SimConfig config;
    DeviceSimulator sim;
    NoisyOpener opener;
    SyncPacer pacer{sim, opener.frames};
    RecordingView view;
    BetweenBlocks hand; // "Стоп" between blocks
    SessionOptions options;
    fs::path dump;
    static int Parts() {
        return ::testing::UnitTest::GetInstance()
            ->current_test_info()
            ->result()
            ->total_part_count();
    }

    int result = -1;
    int expected = -1;
    int dataFrom = -1; // failures recorded before the data checks began
    int planned = 0;   // faults the case means to strike, every one of them
};

TEST_P(FaultCampaign, NothingIsLostAndEveryOutcomeIsTold) {
    const Case& c = GetParam();
    Arrange(c);
    if (HasFatalFailure()) return;

    // The device holds settings of its own; the write brings others.
    const DeviceImage old = [] {
        DeviceImage image{};
        EncodeImage(RandomRecord(7), image);
        image[0] = 0x07;
        image[4] = 0x01;
        return image;
    }();
    sim.SetMemory(old);
    sim.SetConfig(config);
    std::unique_ptr<PortHolder> holder;
    if (c.kind == Kind::PortMissing) {
        view.portName = "/dev/torvik7-campaign-no-such-port";
    } else {
        view.portName = sim.Start();
        ASSERT_FALSE(view.portName.empty()) << sim.LastError();
    }
    if (c.kind == Kind::PortHeld) {
        holder = std::make_unique<PortHolder>(view.portName);
        ASSERT_TRUE(holder->holding());
    }

    const SettingsRecord settings = RandomRecord(11);
    SettingsRecord record = RandomRecord(23);
    const SettingsRecord before = record;
    result = c.write ? WriteDevice(view, settings, options) : ReadDevice(view, record, options);
    const Expect e = Expected(c);
    expected = e.result;

    EXPECT_EQ(result, e.result);
    // Each outcome told once, in its exact words; link errors as such.
    EXPECT_EQ(view.Texts(), e.messages);
    if (c.kind == Kind::Code || c.kind == Kind::Drop) {
        for (const Message& m : view.messages) {
            if (m.text == "Настройки загружены успешно!") continue;
            EXPECT_EQ(m.caption, "Error");
            EXPECT_EQ(m.owner, MessageOwner::None);
            EXPECT_EQ(m.icon, MessageIcon::Error);
        }
    }
    EXPECT_FALSE(view.progressVisible);
    EXPECT_FALSE(view.stopVisible);
    // The faults struck as planned: no case passes because its fault missed.
    EXPECT_EQ(sim.Stats().faultsInjected + opener.spoiled, planned);

    // Every port the session opened was closed once, and the port is free again at once.
    EXPECT_EQ(opener.opens, 1);
    EXPECT_EQ(opener.closes, opener.opened);
    if (holder) holder->Release();
    if (c.kind != Kind::PortMissing && c.kind != Kind::Drop) {
        PortOpening again = SystemPortOpener().Open(view.portName, PortOpenMode::Write);
        EXPECT_EQ(again.outcome, PortOpenOutcome::Opened);
        if (again.port) again.port->Close();
    }

    // From here on every failure means data lost or changed.
    dataFrom = Parts();
    const DeviceImage memory = sim.Memory();
    if (!c.write) {
        // The record changes only with a complete read, and then to what the device holds.
        if (e.result == kSessionOk) {
            SettingsRecord decoded = before;
            DecodeImage(old, decoded);
            EXPECT_EQ(Raw(record), Raw(decoded));
        } else {
            EXPECT_EQ(Raw(record), Raw(before)) << "a failed read changed the record";
        }
        // "data.txt" holds the lines of the blocks received, and only those.
        ASSERT_TRUE(fs::exists(dump));
        const auto lines = Lines(dump);
        ASSERT_EQ(lines.size(), 4u * e.blocks);
        for (std::size_t a = 0; a < lines.size(); ++a)
            ASSERT_EQ(lines[a], std::to_string(a) + " " + std::to_string(old[a]) + " ") << a;
        EXPECT_EQ(memory, old) << "a read changed the device";
    } else {
        EXPECT_FALSE(fs::exists(dump));
        DeviceImage fresh{};
        EncodeImage(settings, fresh);
        fresh[0] = old[0];
        fresh[4] = old[4];
        // New bytes before the block where the session ended, old ones after it; the block
        // where a write failed may hold either.
        const int end = e.blocks;
        for (int b = 0; b < 512; ++b) {
            if (b == end && e.result == kSessionLinkFailed && c.phase == Phase::Data) continue;
            const DeviceImage& want = b < end ? fresh : old;
            for (int i = 4 * b; i < 4 * b + 4; ++i)
                ASSERT_EQ(memory[i], want[i]) << "block " << b << " byte " << i;
        }
    }
}

std::vector<Case> Campaign() {
    std::vector<Case> cases;
    // Where each code strikes in the data blocks: the edges and a few inner blocks.
    const std::map<int, int> dataBlock = {{1, 0}, {2, 1},   {3, 255}, {4, 511}, {5, 256},
                                          {6, 2}, {7, 100}, {8, 510}, {9, 3}};
    for (const bool write : {false, true}) {
        const std::string session = write ? "Write" : "Read";
        for (const bool persistent : {false, true}) {
            const std::string how = persistent ? "Persistent" : "Transient";
            for (int code = 1; code <= 3; ++code)
                cases.push_back({session + "Handshake" + how + "Code" + std::to_string(code), write,
                                 Kind::Code, Phase::Handshake, code, persistent, 0});
            if (write)
                for (int code = 1; code <= 8; ++code)
                    cases.push_back({session + "Identity" + std::to_string(code % 2) + how +
                                         "Code" + std::to_string(code),
                                     write, Kind::Code, Phase::Identity, code, persistent,
                                     code % 2});
            for (int code = 1; code <= (write ? 9 : 8); ++code)
                cases.push_back({session + "Block" + std::to_string(dataBlock.at(code)) + how +
                                     "Code" + std::to_string(code),
                                 write, Kind::Code, Phase::Data, code, persistent,
                                 dataBlock.at(code)});
        }
        for (int block : {0, 1, 256, 511})
            cases.push_back({session + "LineDroppedAtBlock" + std::to_string(block), write,
                             Kind::Drop, Phase::Data, 0, true, block});
        for (int block : {0, 1, 255, 511})
            cases.push_back({session + "StoppedAtBlock" + std::to_string(block), write, Kind::Stop,
                             Phase::Data, 0, true, block});
        cases.push_back(
            {session + "PortMissing", write, Kind::PortMissing, Phase::Handshake, 0, true, 0});
        cases.push_back({session + "PortHeldByAnotherProcess", write, Kind::PortHeld,
                         Phase::Handshake, 0, true, 0});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Cases, FaultCampaign, ::testing::ValuesIn(Campaign()),
                         [](const auto& info) { return info.param.name; });

// The table at the end: cases and passes by group, then the totals.
class SummaryPrinter : public ::testing::EmptyTestEventListener {
    void OnTestProgramEnd(const ::testing::UnitTest&) override {
        struct Counts {
            int cases = 0, passed = 0, falseSuccess = 0, dataLost = 0;
            void Add(const Outcome& o) {
                ++cases;
                passed += o.passed;
                falseSuccess += o.falseSuccess;
                dataLost += o.dataLost;
            }
        };
        std::map<std::string, Counts> groups;
        Counts total;
        for (const Outcome& o : Outcomes()) {
            groups[o.group].Add(o);
            total.Add(o);
        }
        const auto row = [](const std::string& name, const Counts& n) {
            std::printf("%-28s %6d %6d %14d %10d\n", name.c_str(), n.cases, n.passed,
                        n.falseSuccess, n.dataLost);
        };
        std::printf("\nFault campaign summary\n%-28s %6s %6s %14s %10s\n", "group", "cases",
                    "passed", "false success", "data lost");
        for (const auto& [name, g] : groups)
            row(name, g);
        row("total", total);
        for (const Outcome& o : Outcomes())
            if (!o.passed)
                std::printf("FAILED: %s (session result %d)\n", o.name.c_str(), o.result);
        std::fflush(stdout);
    }
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--hold-port") == 0) return HoldPort(argv[2]);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new SummaryPrinter);
    return RUN_ALL_TESTS();
}
