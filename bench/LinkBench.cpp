// A full read and a full write against the device simulator with the product's real waits:
// how close a session comes to the floor the protocol's fixed waits set, and how little
// processor time it spends getting there.
//
//   bench_link [--rate 9600|19200|38400|57600] [--only read|write]
#include "link/LinkGlobals.h"
#include "link/Protocol.h"
#include "link/SerialPort.h"
#include "link/TransferSession.h"
#include "platform/Pacer.h"
#include "sim/DeviceSimulator.h"
#include "support/QuietView.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/resource.h>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Where the time beyond the floor goes: late wake-ups from the waits, or the port calls.
struct Breakdown {
    double asked = 0; // ms of waits asked for
    double slept = 0; // ms actually spent in them
    double port = 0;  // ms spent in port calls
    long calls = 0;
};
Breakdown g_breakdown;

class TimingPacer final : public Pacer {
public:
    void Sleep(int milliseconds) override {
        const auto t0 = Clock::now();
        real_.Sleep(milliseconds);
        g_breakdown.asked += milliseconds;
        g_breakdown.slept += Ms(Clock::now() - t0);
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
        Time([&] { return (inner_->Write(d, n), 0); });
    }
    int Read(std::uint8_t* b, int n) override {
        return Time([&] { return inner_->Read(b, n); });
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

// The time the fixed waits alone take: each rate tried before the right one costs its
// 20 ms wait and a read that runs its whole 15 ms time-out; the right one its 20 ms wait;
// every block transaction 2 x (70 + 20) ms.
double FloorMs(int rateIndex, int transactions) {
    return rateIndex * (kWaitBeforeRead + 10 + 5) + kWaitBeforeRead +
           transactions * 2.0 * (kWaitBeforeRequest + kWaitBeforeRead);
}

bool Run(const char* name, int rateIndex, int transactions, QuietView& view,
         int (*session)(QuietView&)) {
    g_breakdown = {};
    const double cpu0 = CpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    const int result = session(view);
    const double wall =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = (CpuSeconds() - cpu0) * 1000.0;
    const double floor = FloorMs(rateIndex, transactions);
    std::printf("%-5s result %d  wall %9.1f ms  floor %9.1f ms  ratio %.4f  cpu %7.1f ms "
                "(%.2f %% of wall)\n",
                name, result, wall, floor, wall / floor, cpu, 100.0 * cpu / wall);
    std::printf("      waits asked %.1f ms, spent %.1f ms (late by %.1f ms); %ld port calls took "
                "%.1f ms\n",
                g_breakdown.asked, g_breakdown.slept, g_breakdown.slept - g_breakdown.asked,
                g_breakdown.calls, g_breakdown.port);
    std::fflush(stdout);
    return result == 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int rate = 9600;
    std::string only;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--rate"))
            rate = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--only"))
            only = argv[i + 1];
    }
    int rateIndex = 0;
    while (rateIndex < kRateCount && kRates[rateIndex] != rate)
        ++rateIndex;
    if (rateIndex == kRateCount) {
        std::fprintf(stderr, "bench_link: rate must be 9600, 19200, 38400 or 57600\n");
        return 64;
    }
    SimConfig config;
    config.lineAddress = 5;
    config.unitAddress = 3;
    config.rate = rate;
    DeviceSimulator sim(config);
    QuietView view;
    view.echo = true;
    view.port = sim.Start();
    if (view.port.empty()) {
        std::fprintf(stderr, "bench_link: %s\n", sim.LastError().c_str());
        return 1;
    }
    LineAddress = 5;
    UnitAddress = 3;
    std::printf("bench_link: %d baud on %s\n", rate, view.port.c_str());
    static const std::string dump =
        (std::filesystem::temp_directory_path() / "torvik7-bench-data.txt").string();

    bool ok = true;
    if (only.empty() || only == "read") {
        ok = Run("read", rateIndex, 512, view,
                 [](QuietView& v) {
                     SettingsRecord record{};
                     SessionOptions options;
                     options.pacer = &g_pacer;
                     options.opener = &g_opener;
                     options.dumpPath = dump;
                     return ReadDevice(v, record, options);
                 }) &&
             ok;
    }
    if (only.empty() || only == "write") {
        ok = Run("write", rateIndex, 514, view,
                 [](QuietView& v) {
                     SettingsRecord record{};
                     FillDefaults(record);
                     SessionOptions options;
                     options.pacer = &g_pacer;
                     options.opener = &g_opener;
                     return WriteDevice(v, record, options);
                 }) &&
             ok;
    }
    std::filesystem::remove(dump);
    sim.Stop();
    return ok ? 0 : 1;
}
