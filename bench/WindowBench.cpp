// The window during whole transfers against the virtual device with the product's real
// waits, on the offscreen platform:
// - the longest time between two turns of the window's event loop while a transfer runs
//   (a 1 ms timer notes each turn), and how much of it the thread spent waiting for a
//   processor (on a shared machine, other processes' doing);
// - how long a full write and a full read take against the floor the protocol's fixed
//   waits set;
// - "Стоп" pressed at random moments of reads: after the press the session may finish the
//   block it had begun, and never sends a frame of another block.
//
//   bench_window [--stops N] [--seed S]

// GCC 12 takes the scripted platform's queued optional<FileChoice> for uninitialized once
// inlined here; it is not.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "ProtocolFloor.h"
#include "app/SetupDlg.h"
#include "app/VirtualDevice.h"
#include "link/SerialPort.h"
#include "platform/PropertySheet.h"
#include "support/CountingPort.h"
#include "support/ScriptedPlatform.h"
#include "support/TransferWait.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Every frame a session sends, with the block it belongs to: a command frame names its
// block; a fetch frame belongs to the block of the command before it; handshake frames to
// none (-1).
class FrameLog {
public:
    void Note(const std::uint8_t* data, int count) {
        const auto now = Clock::now();
        const std::lock_guard lock(mutex_);
        if (count == 5 || count == 9)
            block_ = (((data[2] & 7) << 8) | data[3]) / 4;
        else if (!(count == 3 && data[1] == 0x80))
            block_ = -1;
        frames_.push_back({now, block_});
    }
    void Clear() {
        const std::lock_guard lock(mutex_);
        frames_.clear();
        block_ = -1;
    }
    // The block of the last frame sent so far.
    int LastBlock() const {
        const std::lock_guard lock(mutex_);
        return frames_.empty() ? -1 : frames_.back().block;
    }
    // The blocks of the frames sent after `t`, and when the last of them went out.
    std::set<int> BlocksAfter(Clock::time_point t, Clock::time_point& last) const {
        const std::lock_guard lock(mutex_);
        std::set<int> blocks;
        for (const auto& f : frames_)
            if (f.at > t) {
                blocks.insert(f.block);
                last = f.at;
            }
        return blocks;
    }

private:
    struct Frame {
        Clock::time_point at;
        int block;
    };
    mutable std::mutex mutex_;
    std::vector<Frame> frames_;
    int block_ = -1;
};

FrameLog g_frames;

// Nanoseconds this thread has spent runnable but waiting for a processor (the second field
// of its schedstat): on a shared machine, part of a gap is other processes' doing.
long long RunQueueWaitNs() {
    std::FILE* f = std::fopen("/proc/thread-self/schedstat", "r");
    if (!f) return 0;
    long long run = 0, wait = 0;
    if (std::fscanf(f, "%lld %lld", &run, &wait) != 2) wait = 0;
    std::fclose(f);
    return wait;
}

// Notes every turn of the window's event loop with a 1 ms timer and keeps, since Begin(),
// the longest time between two turns while a session ran (the turn that ends the gap sees
// it running), the longest over the whole command (with the sheet a read opens after its
// session), how many gaps while a session ran were over 20 ms, and the longest gap while a
// session ran less the time the thread waited for a processor in it.
class TurnMeter {
public:
    explicit TurnMeter(const CSetupDlg& window) : window_(window) {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(1);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Turn(); });
        timer_.start();
    }
    void Begin() {
        start_ = last_ = Clock::now();
        lastWait_ = RunQueueWaitNs();
        session_ = command_ = own_ = sessionQueued_ = 0;
        over20_ = 0;
    }
    void End() { Turn(); }
    double Session() const { return session_; }
    double Command() const { return command_; }
    int Over20() const { return over20_; }
    double SessionAt() const { return sessionAt_; }
    double SessionQueued() const { return sessionQueued_; }
    double Own() const { return own_; }

private:
    void Turn() {
        const auto now = Clock::now();
        const double gap = Ms(now - last_);
        const long long wait = RunQueueWaitNs();
        const double queued = static_cast<double>(wait - lastWait_) / 1e6;
        command_ = std::max(command_, gap);
        if (window_.SessionRunning()) {
            if (gap > session_) {
                session_ = gap;
                sessionAt_ = Ms(now - start_) / 1000.0;
                sessionQueued_ = queued;
            }
            own_ = std::max(own_, gap - queued);
            over20_ += gap > 20.0;
        }
        last_ = now;
        lastWait_ = wait;
    }
    const CSetupDlg& window_;
    QTimer timer_;
    Clock::time_point start_ = Clock::now(), last_ = Clock::now();
    long long lastWait_ = 0;
    double session_ = 0, command_ = 0, sessionAt_ = 0, sessionQueued_ = 0, own_ = 0;
    int over20_ = 0;
};

// The virtual device answers at 38400 baud, the third rate of the search.
constexpr int kVirtualRateIndex = 2;

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    int stops = 50;
    unsigned seed = 7;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--stops"))
            stops = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--seed"))
            seed = static_cast<unsigned>(std::atoi(argv[i + 1]));
    }

    QTemporaryDir dir;
    ScriptedPlatform platform; // every message answered at once
    CountingOpener opener;     // counts from the session's thread; only the log is read here
    opener.onFrame = [](const std::uint8_t* data, int count) { g_frames.Note(data, count); };
    SettingsRecord record{};
    FillDefaults(record);
    SettingsShown = 1;
    int sheets = 0;

    CSetupDlg dlg(nullptr, &record);
    dlg.Testing().virtualMemoryPath = (dir.path() + "/memory.bin").toStdString();
    dlg.Testing().sessionOptions.opener = &opener;
    dlg.Testing().sessionOptions.dumpPath = (dir.path() + "/data.txt").toStdString();
    dlg.Testing().onSheetShown = [&sheets](CPropertySheet& sheet) {
        ++sheets;
        sheet.reject();
    };
    dlg.show();
    dlg.PortList()->setCurrentIndex(dlg.PortList()->count() - 1);
    std::printf("bench_window: virtual device, real waits, %s platform\n",
                qPrintable(QGuiApplication::platformName()));

    TurnMeter meter(dlg);
    bool ok = true;
    auto transfer = [&](const char* name, int transactions, auto command) {
        platform.messages.clear();
        const int sheetsBefore = sheets;
        meter.Begin();
        const auto t0 = Clock::now();
        command();
        const double wall = Ms(Clock::now() - t0);
        meter.End();
        const double floor = ProtocolFloorMs(kVirtualRateIndex, transactions);
        std::printf("%-5s wall %9.1f ms  floor %9.1f ms  ratio %.4f\n"
                    "      longest event-loop gap: %.1f ms during the session (at %.1f s, %.1f ms "
                    "of it waiting for a processor; %d gaps over 20 ms), %.1f ms over the whole "
                    "command; longest less processor wait %.1f ms\n",
                    name, wall, floor, wall / floor, meter.Session(), meter.SessionAt(),
                    meter.SessionQueued(), meter.Over20(), meter.Command(), meter.Own());
        std::fflush(stdout);
        return sheets - sheetsBefore;
    };
    transfer("write", 514, [&] { RunTransfer(dlg, [&] { dlg.OnWriteDevice(); }); });
    auto failed = [&](const char* what) {
        std::fprintf(stderr, "bench_window: %s\n", what);
        for (const auto& text : platform.Texts())
            std::fprintf(stderr, "  message: %s\n", text.c_str());
        ok = false;
    };
    if (platform.Texts() != std::vector<std::string>{"Настройки загружены успешно!"})
        failed("the write did not complete");
    if (transfer("read", 512, [&] { RunTransfer(dlg, [&] { dlg.OnReadDevice(); }); }) != 1 ||
        !platform.messages.empty())
        failed("the read did not complete");

    // "Стоп" at a random moment within the first 3 s of a read's block loop.
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delay(0, 3000);
    int stopped = 0, strays = 0, lineEnded = 0;
    double longestLatency = 0, latencySum = 0;
    for (int trial = 0; trial < stops; ++trial) {
        g_frames.Clear();
        platform.messages.clear();
        const int sheetsBefore = sheets;
        const int wait = delay(random);
        Clock::time_point pressed{};
        int lastBlockAtPress = -1;
        bool armed = false;
        QTimer watch;
        watch.setInterval(1);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (armed || !dlg.m_stopButton->isVisible()) return;
            armed = true;
            QTimer::singleShot(wait, Qt::PreciseTimer, [&] {
                pressed = Clock::now();
                lastBlockAtPress = g_frames.LastBlock();
                dlg.m_stopButton->click();
            });
        });
        watch.start();
        dlg.OnReadDevice();
        WaitForTransfer(dlg);
        const auto ended = Clock::now();
        watch.stop();
        if (pressed == Clock::time_point{}) {
            // A read the line ended first (the simulator's real-time answers can miss
            // their window on a loaded machine) says nothing about "Стоп": not counted.
            std::fprintf(stderr, "trial %d: the read ended before the press:", trial);
            for (const auto& text : platform.Texts())
                std::fprintf(stderr, " %s", text.c_str());
            std::fprintf(stderr, "\n");
            ++lineEnded;
            continue;
        }
        Clock::time_point lastFrame = pressed;
        const std::set<int> after = g_frames.BlocksAfter(pressed, lastFrame);
        const bool endedByStop = sheets == sheetsBefore;
        const bool stray = after.size() > 1 || (after.size() == 1 && *after.begin() != -1 &&
                                                *after.begin() > lastBlockAtPress + 1);
        stopped += endedByStop;
        strays += stray;
        const double latency = Ms(ended - pressed);
        longestLatency = std::max(longestLatency, latency);
        latencySum += latency;
        if (stray || !endedByStop) {
            std::fprintf(stderr,
                         "trial %d: press after %d ms at block %d; frames after it of %zu "
                         "block(s); %s\n",
                         trial, wait, lastBlockAtPress, after.size(),
                         endedByStop ? "stopped" : "not stopped");
            ok = false;
        }
    }
    if (stops > 0)
        std::printf("stop  %d presses: %d ended by the stop, %d sent a frame of a block not "
                    "begun, %d reads ended by the line before the press (not counted); press to "
                    "end of session: longest %.1f ms, mean %.1f ms\n",
                    stops - lineEnded, stopped, strays, lineEnded, longestLatency,
                    latencySum / std::max(1, stops - lineEnded));
    return ok ? 0 : 1;
}
