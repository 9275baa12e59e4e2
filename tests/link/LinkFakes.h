// Stand-ins for the link's surroundings: a port that plays back scripted answers, a port
// with the simulated device behind it in-process, a pacer that counts its waits, and a
// view that records everything a session shows.
#pragma once

#include "link/Pacer.h"
#include "link/SerialPort.h"
#include "link/TransferSession.h"
#include "link/TransferView.h"
#include "sim/DeviceModel.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// What happened on a port, in order: "W xx xx ..", "R n/cap", "rate n", "purge clear",
// "purge abort", "close" (and "wait N" from a CountingPacer given this log).
struct PortLog {
    std::vector<Bytes> written;
    std::vector<int> rates;
    std::vector<PurgeKind> purges;
    std::vector<int> capacities;
    std::vector<std::string> events;
    int closes = 0;

    int Purges(PurgeKind kind) const {
        return static_cast<int>(std::count(purges.begin(), purges.end(), kind));
    }
    int FramesStartingWith(std::uint8_t b1) const {
        return static_cast<int>(std::count_if(written.begin(), written.end(), [&](const Bytes& f) {
            return f.size() >= 2 && f[1] == b1;
        }));
    }
};

// Counts the waits instead of spending them. Given a port's log, it also puts each wait
// there as "wait N", so the order of waits, frames, reads and purges can be pinned.
class CountingPacer final : public Pacer {
public:
    void Sleep(int milliseconds) override {
        waits.push_back(milliseconds);
        if (log) log->events.push_back("wait " + std::to_string(milliseconds));
        if (onSleep) onSleep(milliseconds);
    }
    int Count(int milliseconds) const {
        return static_cast<int>(std::count(waits.begin(), waits.end(), milliseconds));
    }
    std::vector<int> waits;
    std::function<void(int)> onSleep;
    PortLog* log = nullptr;
};

std::string Hex(const Bytes& bytes);

// Every Read takes the next scripted answer (empty: nothing came), cut to the capacity.
class ScriptedPort final : public SerialPort {
public:
    explicit ScriptedPort(PortLog& log) : log_(log) {}
    std::deque<Bytes> answers;
    std::set<int> refusedRates;

    bool SetRate(int baud) override;
    void Write(const std::uint8_t* data, int count) override;
    int Read(std::uint8_t* buffer, int capacity) override;
    void Purge(PurgeKind kind) override;
    void Close() override;

private:
    PortLog& log_;
};

// The simulated interface unit and device behind a port, without a terminal: answers go
// into an input queue that reads take from.
class ModelPort final : public SerialPort {
public:
    ModelPort(DeviceModel& model, PortLog& log) : model_(model), log_(log) {}

    bool SetRate(int baud) override;
    void Write(const std::uint8_t* data, int count) override;
    int Read(std::uint8_t* buffer, int capacity) override;
    void Purge(PurgeKind kind) override;
    void Close() override;

private:
    DeviceModel& model_;
    PortLog& log_;
    std::deque<std::uint8_t> input_;
    int rate_ = 9600;
};

// Opens ModelPorts on one shared model, or fails as told.
class ModelOpener final : public PortOpener {
public:
    explicit ModelOpener(const SimConfig& config = {}) : model(config) {}
    PortOpening Open(const std::string& name, PortOpenMode mode) override;

    DeviceModel model;
    PortLog log;
    PortOpenOutcome outcome = PortOpenOutcome::Opened;
    std::string reason;
    std::vector<std::string> names;
    std::vector<PortOpenMode> modes;
};

// Records what a session shows. `statusShown` holds the status text at every Refresh().
class RecordingView final : public TransferView {
public:
    std::string portName = "/dev/ttyS2";
    std::string status;
    std::vector<std::string> statusShown;
    std::vector<int> progress;
    bool progressVisible = false;
    bool stopVisible = false;
    std::vector<Message> messages;
    std::function<void(const Message&)> onMessage;
    std::vector<std::string> events;

    std::string PortName() override { return portName; }
    void SetStatus(const std::string& text) override { status = text; }
    void SetProgress(int percent) override { progress.push_back(percent); }
    void ShowProgress(bool visible) override {
        progressVisible = visible;
        events.push_back(visible ? "progress+" : "progress-");
    }
    void ShowStop(bool visible) override {
        stopVisible = visible;
        events.push_back(visible ? "stop+" : "stop-");
    }
    void Refresh() override { statusShown.push_back(status); }
    void ShowMessage(const Message& message) override {
        messages.push_back(message);
        events.push_back("message");
        if (onMessage) onMessage(message);
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const auto& m : messages)
            texts.push_back(m.text);
        return texts;
    }
};

// Builds frames the way a well-behaved interface unit does.
Bytes Ack(std::uint8_t line, std::uint8_t second = 0x80);
Bytes ResultFrame(int address, const Bytes& data, std::uint8_t byte0 = 0x05,
                  std::uint8_t byte1 = 0x80, std::uint8_t highBits = 0x78);
Bytes WithXor(Bytes bytes);

// What happens between blocks, as the operator or the cable would do it: `onBlock(n)` runs
// after the n-th data block went through, and `stop` is the session's stop token ("Стоп").
struct BetweenBlocks final : SessionObserver {
    void BlockDone(int, const std::uint8_t*) override {
        ++done;
        if (onBlock) onBlock(done);
    }
    // "Стоп" once `blocks` blocks have gone through; 0: before the session starts.
    void StopAfter(int blocks) {
        stop = blocks <= 0;
        onBlock = [this, blocks](int n) {
            if (n == blocks) stop = true;
        };
    }
    // Joins `options`: its token and its observer.
    void Join(SessionOptions& options) {
        options.stop = &stop;
        options.observers.push_back(this);
    }
    std::function<void(int)> onBlock;
    int done = 0;
    std::atomic<bool> stop{false};
};
