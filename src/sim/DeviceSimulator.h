// A virtual ТОРВИК-7 behind a virtual interface unit, on a pseudo-terminal: open the path
// that Start() returns as a serial port and talk to it exactly as to the real pair.
//
//   SimConfig config;
//   config.lineAddress = 5;
//   config.fault(SimFault::NotReady) = {.count = 3};
//   DeviceSimulator sim(config);
//   std::string port = sim.Start();   // "/dev/pts/7"; empty on failure (see LastError())
//   ... open `port` with any serial-port code ...
//   sim.SaveMemory("device.bin");
//   sim.Stop();                        // also done by the destructor
//
// One thread of the simulator's own reads the requests and answers them. By default an
// answer is readable as soon as its request is complete, long before the protocol's 20 ms
// wait ends; SimConfig's `wire` and `latencyMs` make it arrive later and in pieces, as
// through a UART or a USB adapter (see Wire). All members may be called from any thread.
#pragma once

#include "sim/DeviceModel.h"
#include "sim/Wire.h"

#include "link/SerialPort.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class DeviceSimulator {
public:
    explicit DeviceSimulator(const SimConfig& config = {});
    ~DeviceSimulator();
    DeviceSimulator(const DeviceSimulator&) = delete;
    DeviceSimulator& operator=(const DeviceSimulator&) = delete;

    // Creates the pseudo-terminal and starts answering. Returns the path to open as the
    // serial port, or "" when no pseudo-terminal could be made (always so on Windows, which
    // has none). Calling it while running returns the same path.
    std::string Start();
    // A port joined to this device inside the process, for systems without
    // pseudo-terminals: what it writes reaches the device at once, what the device answers
    // becomes readable as the configured wire delivers it. No thread of the simulator's
    // runs for it; the port does the work in its own calls. Needs no Start().
    std::unique_ptr<SerialPort> OpenInProcess();
    // An opener that gives OpenInProcess() ports, whatever name it is asked for.
    PortOpener& InProcessOpener();
    // Stops answering and removes the pseudo-terminal. Memory stays readable.
    void Stop();
    bool Running() const { return running_; }
    std::string PortPath() const;
    std::string LastError() const;

    // The device's 2048 bytes.
    DeviceImage Memory() const;
    void SetMemory(const DeviceImage& image);
    // A memory file is exactly 2048 bytes, read and written as settings files are (a save
    // never leaves half a file). Loading leaves the memory as it was on failure.
    bool LoadMemory(const std::string& path);
    bool SaveMemory(const std::string& path) const;

    SimConfig Config() const;
    // Takes effect with the next request; fault counters start again.
    void SetConfig(const SimConfig& config);
    SimStats Stats() const;

    // Drops the line now, as an unplugged cable would: the pseudo-terminal hangs up.
    void DropLine();
    bool LineDropped() const { return dropped_; }

    // For tests that drive the line without real waits: blocks until at least `frames`
    // complete frames have been received and answered (or ignored) and the whole of their
    // answers can be read on the port's side, or the line dropped, or `timeoutMs` passed. True
    // unless it timed out. The port's owner must not read meanwhile.
    bool WaitFrames(long frames, int timeoutMs) const;

private:
    friend class InProcessPort;
    void Run();
    void Hangup();
    void NewWire();
    double NowMs() const;
    // Writes to the terminal what the wire has made readable by now.
    void DeliverDue();

    mutable std::mutex mutex_;
    mutable std::condition_variable handled_;
    DeviceModel model_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> dropped_{false};
    long framesHandled_ = 0;
    Wire wire_;
    std::chrono::steady_clock::time_point epoch_;
    double lastInput_ = 0; // when the last request bytes came, on the NowMs() clock
    int master_ = -1;
    int slave_ = -1; // kept open so the master never reads EIO between the client's opens
    int wake_[2] = {-1, -1};
    std::string path_;
    std::string error_;
    std::unique_ptr<PortOpener> inProcessOpener_;
};
