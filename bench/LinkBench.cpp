// A full read and a full write against the device simulator with the product's real waits:
// how close a session comes to the floor the protocol's fixed waits set, how little
// processor time it spends getting there, and whether answers handed over in pieces (as
// UARTs and USB adapters do) cost any extra attempt.
//
//   bench_link [--rate 9600|19200|38400|57600] [--only read|write]
//              [--wire whole|bytes|fifo8|usb16] [--latency MS]
//   bench_link --table [--jobs N]   every wire × rate 9600/19200/38400 × latency 0/10 ms,
//                                   the cases side by side, each its own process
#include "ProtocolFloor.h"
#include "link/Pacer.h"
#include "link/Protocol.h"
#include "link/SerialPort.h"
#include "link/TransferSession.h"
#include "sim/DeviceSimulator.h"
#include "support/QuietView.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Where the time beyond the floor goes: late wake-ups from the waits, the port calls, and
// the answers themselves coming after the 20 ms wait.
struct Breakdown {
    double asked = 0; // ms of waits asked for
    double slept = 0; // ms actually spent in them
    double port = 0;  // ms spent in port calls
    long calls = 0;
    long frames = 0; // frames sent
    double late = 0; // ms spent in reads that got a whole answer: its lateness
    long lateAnswers = 0;
};
Breakdown g_breakdown;
// For telling why an attempt failed: when the last frame went out, how late the last wait
// woke up.
Clock::time_point g_lastWrite;
double g_lastWaitLate = 0;

class TimingPacer final : public Pacer {
public:
    void Sleep(int milliseconds) override {
        const auto t0 = Clock::now();
        real_.Sleep(milliseconds);
        g_breakdown.asked += milliseconds;
        g_breakdown.slept += Ms(Clock::now() - t0);
        g_lastWaitLate = Ms(Clock::now() - t0) - milliseconds;
    }

private:
    RealPacer real_;
};

template <typename F> auto Time(F f) {
    const auto t0 = Clock::now();
    auto r = f();
    g_breakdown.port += Ms(Clock::now() - t0);
    ++g_breakdown.calls;
    return r;
}

class TimingPort final : public SerialPort {
public:
    explicit TimingPort(std::unique_ptr<SerialPort> inner) : inner_(std::move(inner)) {}
    bool SetRate(int baud) override {
        return Time([&] { return inner_->SetRate(baud); });
    }
    void Write(const std::uint8_t* d, int n) override {
        ++g_breakdown.frames;
        Time([&] { return (inner_->Write(d, n), 0); });
        g_lastWrite = Clock::now();
    }
    int Read(std::uint8_t* b, int n) override {
        const auto t0 = Clock::now();
        const int got = Time([&] { return inner_->Read(b, n); });
        // A read that filled its capacity ended when the answer's last byte came: the time
        // it took is how late the answer was after the wait before it.
        if (got == n) {
            g_breakdown.late += Ms(Clock::now() - t0);
            ++g_breakdown.lateAnswers;
        } else if (n != 5 && got != 3) {
            // An attempt that will be made again: say what the read saw and when.
            std::fprintf(stderr,
                         "  attempt failed: %d of %d bytes, read from %.1f to %.1f ms after the "
                         "frame, the wait before it %.1f ms late\n",
                         got, n, Ms(t0 - g_lastWrite), Ms(Clock::now() - g_lastWrite),
                         g_lastWaitLate);
        }
        return got;
    }
    void Purge(PurgeKind k) override {
        Time([&] { return (inner_->Purge(k), 0); });
    }
    void Close() override { inner_->Close(); }

private:
    std::unique_ptr<SerialPort> inner_;
};

class TimingOpener final : public PortOpener {
public:
    PortOpening Open(const std::string& name, PortOpenMode mode) override {
        PortOpening opening = SystemPortOpener().Open(name, mode);
        if (opening.port) opening.port = std::make_unique<TimingPort>(std::move(opening.port));
        return opening;
    }
};

TimingPacer g_pacer;
TimingOpener g_opener;

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec / 1e6;
}

const std::pair<const char*, SimWire> kWires[] = {{"whole", SimWire::Whole},
                                                  {"bytes", SimWire::Bytes},
                                                  {"fifo8", SimWire::Fifo8},
                                                  {"usb16", SimWire::Usb16}};

// Runs one session and prints what it took. `exact` tells whether the session's result is
// byte for byte what it must be. With `line`, one machine-readable line for --table.
bool Run(const char* name, const std::string& caseName, int rateIndex, int transactions, bool line,
         const DeviceSimulator& sim, const std::function<int()>& session,
         const std::function<bool()>& exact) {
    g_breakdown = {};
    const long late0 = sim.Stats().lateDeliveries;
    const double cpu0 = CpuSeconds();
    const auto t0 = Clock::now();
    const int result = session();
    const double wall = Ms(Clock::now() - t0);
    const double cpu = (CpuSeconds() - cpu0) * 1000.0;
    const double floor = ProtocolFloorMs(rateIndex, transactions);
    const bool isExact = result == 0 && exact();
    // One frame per rate tried, then a command frame and a fetch request per transaction.
    const long extra = g_breakdown.frames - (rateIndex + 1) - 2L * transactions;
    const double bound = 1.02 * floor + g_breakdown.late;
    const bool ok = isExact && extra == 0 && wall <= bound;
    const long simLate = sim.Stats().lateDeliveries - late0;
    if (line) {
        std::printf("CASE %s %s %d %d %ld %.1f %.1f %.1f %.1f %d %ld\n", caseName.c_str(), name,
                    result, isExact ? 1 : 0, extra, wall, floor, g_breakdown.late,
                    g_breakdown.slept - g_breakdown.asked, ok ? 1 : 0, simLate);
    } else {
        std::printf("%-5s result %d %s  wall %9.1f ms  floor %9.1f ms  ratio %.4f  cpu %7.1f ms "
                    "(%.2f %% of wall)\n",
                    name, result, isExact ? "exact" : "NOT EXACT", wall, floor, wall / floor, cpu,
                    100.0 * cpu / wall);
        std::printf("      waits asked %.1f ms, spent %.1f ms (late by %.1f ms); %ld port calls "
                    "took %.1f ms\n",
                    g_breakdown.asked, g_breakdown.slept, g_breakdown.slept - g_breakdown.asked,
                    g_breakdown.calls, g_breakdown.port);
        std::printf("      extra attempts %ld; answers' lateness %.1f ms over %ld answers; bound "
                    "1.02 x floor + lateness = %.1f ms: %s; simulator late %ld times\n",
                    extra, g_breakdown.late, g_breakdown.lateAnswers, bound,
                    wall <= bound ? "met" : "MISSED", simLate);
    }
    std::fflush(stdout);
    return ok;
}

// One simulator, a read and then a write of a record unlike the device's.
int RunCase(int rate, SimWire wire, int latency, const std::string& only, bool line) {
    int rateIndex = 0;
    while (rateIndex < kRateCount && kRates[rateIndex] != rate)
        ++rateIndex;
    SimConfig config;
    config.lineAddress = 5;
    config.unitAddress = 3;
    config.rate = rate;
    config.wire = wire;
    config.latencyMs = latency;
    config.seed = static_cast<unsigned>(::getpid());
    DeviceSimulator sim(config);
    QuietView view;
    view.echo = true;
    view.port = sim.Start();
    if (view.port.empty()) {
        std::fprintf(stderr, "bench_link: %s\n", sim.LastError().c_str());
        return 1;
    }
    std::string wireName;
    for (const auto& [n, w] : kWires)
        if (w == wire) wireName = n;
    const std::string caseName =
        wireName + " " + std::to_string(rate) + " " + std::to_string(latency);
    if (!line)
        std::printf("bench_link: %d baud, answers %s, latency %d ms, on %s\n", rate,
                    wireName.c_str(), latency, view.port.c_str());
    const std::string dump = (std::filesystem::temp_directory_path() /
                              ("torvik7-bench-data-" + std::to_string(::getpid()) + ".txt"))
                                 .string();
    SessionOptions options;
    options.lineAddress = 5;
    options.unitAddress = 3;
    options.pacer = &g_pacer;
    options.opener = &g_opener;
    options.dumpPath = dump;

    bool ok = true;
    if (only.empty() || only == "read") {
        SettingsRecord record{};
        SettingsRecord expected{};
        DecodeImage(sim.Memory(), expected);
        ok = Run(
                 "read", caseName, rateIndex, 512, line, sim,
                 [&] { return ReadDevice(view, record, options); },
                 [&] { return std::memcmp(&record, &expected, sizeof record) == 0; }) &&
             ok;
    }
    if (only.empty() || only == "write") {
        SettingsRecord record{};
        FillDefaults(record);
        for (int k = 0; k < kLoopCount; ++k)
            record.loopTypes[k] = static_cast<std::int8_t>((k * 7) % 16 + 1);
        record.dialCycles = 6;
        DeviceImage expected{};
        EncodeImage(record, expected);
        const DeviceImage before = sim.Memory();
        expected[0] = before[0];
        expected[4] = before[4];
        ok = Run(
                 "write", caseName, rateIndex, 514, line, sim,
                 [&] { return WriteDevice(view, record, options); },
                 [&] { return sim.Memory() == expected; }) &&
             ok;
    }
    std::filesystem::remove(dump);
    sim.Stop();
    return ok ? 0 : 1;
}

// Every case in a process of its own (the link's globals are per process), all at once:
// the sessions only wait, so the table takes as long as its slowest case.
int RunTable(const char* self, int jobs) {
    struct Job {
        std::string wire;
        int rate;
        int latency;
    };
    std::vector<Job> all;
    for (const auto& [wire, mode] : kWires)
        for (int rate : {9600, 19200, 38400})
            for (int latency : {0, 10})
                all.push_back({wire, rate, latency});
    std::map<pid_t, std::FILE*> running;
    std::vector<std::string> lines;
    auto reap = [&] {
        int status = 0;
        const pid_t pid = ::wait(&status);
        auto it = running.find(pid);
        if (it == running.end()) return;
        // The child's writes moved the offset the two share.
        std::rewind(it->second);
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, it->second))
            if (!std::strncmp(buffer, "CASE ", 5)) lines.push_back(buffer + 5);
        std::fclose(it->second);
        running.erase(it);
    };
    double load[3] = {};
    getloadavg(load, 3);
    const double loadBefore = load[0];
    const auto t0 = Clock::now();
    for (const Job& job : all) {
        while (static_cast<int>(running.size()) >= jobs)
            reap();
        // Started one by one: two dozen processes starting at once can hold a simulator's
        // thread up long enough to miss a handshake, which is never tried again.
        if (!running.empty()) ::usleep(500000);
        char path[] = "/tmp/torvik7-bench-XXXXXX";
        const int fd = ::mkstemp(path);
        if (fd < 0) return 1;
        ::unlink(path);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fd, 1);
        const std::string rate = std::to_string(job.rate);
        const std::string latency = std::to_string(job.latency);
        const char* argv[] = {self,         "--line",        "--rate",
                              rate.c_str(), "--wire",        job.wire.c_str(),
                              "--latency",  latency.c_str(), nullptr};
        pid_t pid = 0;
        if (posix_spawn(&pid, self, &actions, nullptr, const_cast<char**>(argv), environ) != 0)
            return 1;
        posix_spawn_file_actions_destroy(&actions);
        ::lseek(fd, 0, SEEK_SET);
        running[pid] = ::fdopen(fd, "r");
    }
    while (!running.empty())
        reap();
    std::sort(lines.begin(), lines.end());
    std::printf("| wire | baud | latency | session | result | exact | extra attempts | simulator "
                "late | wall s | floor s | lateness s | wall / floor | bound met |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    bool ok = true;
    for (const std::string& l : lines) {
        char wire[16], session[16];
        int rate = 0, latency = 0, result = 0, exact = 0, met = 0;
        long extra = 0, simLate = 0;
        double wall = 0, floor = 0, late = 0, wake = 0;
        if (std::sscanf(l.c_str(), "%15s %d %d %15s %d %d %ld %lf %lf %lf %lf %d %ld", wire, &rate,
                        &latency, session, &result, &exact, &extra, &wall, &floor, &late, &wake,
                        &met, &simLate) != 13)
            continue;
        const bool bound = wall <= 1.02 * floor + late;
        ok = ok && met;
        std::printf("| %s | %d | %d ms | %s | %d | %s | %ld | %ld | %.1f | %.1f | %.2f | %.4f | %s "
                    "|\n",
                    wire, rate, latency, session, result, exact ? "yes" : "NO", extra, simLate,
                    wall / 1000, floor / 1000, late / 1000, wall / floor, bound ? "yes" : "NO");
    }
    getloadavg(load, 3);
    std::printf("%zu sessions of %zu cases in %.0f s; load average %.1f before, %.1f after\n",
                lines.size(), all.size(), Ms(Clock::now() - t0) / 1000, loadBefore, load[0]);
    return ok && lines.size() == 2 * all.size() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int rate = 9600;
    int latency = 0;
    int jobs = 24;
    SimWire wire = SimWire::Whole;
    std::string only;
    bool table = false;
    bool line = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : "";
        if (a == "--table") {
            table = true;
        } else if (a == "--line") {
            line = true;
        } else if (a == "--rate") {
            rate = std::atoi(value), ++i;
        } else if (a == "--latency") {
            latency = std::atoi(value), ++i;
        } else if (a == "--jobs") {
            jobs = std::max(1, std::atoi(value)), ++i;
        } else if (a == "--only") {
            only = value, ++i;
        } else if (a == "--wire") {
            bool known = false;
            for (const auto& [n, w] : kWires)
                if (n == std::string(value)) wire = w, known = true;
            if (!known) {
                std::fprintf(stderr, "bench_link: --wire whole|bytes|fifo8|usb16\n");
                return 64;
            }
            ++i;
        } else {
            std::fprintf(stderr, "bench_link: unknown option %s\n", a.c_str());
            return 64;
        }
    }
    if (table) return RunTable(argv[0], jobs);
    bool known = false;
    for (int r : kRates)
        known = known || r == rate;
    if (!known) {
        std::fprintf(stderr, "bench_link: rate must be 9600, 19200, 38400 or 57600\n");
        return 64;
    }
    return RunCase(rate, wire, latency, only, line);
}
