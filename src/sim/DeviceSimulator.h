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
// One thread of the simulator's own reads the requests and answers them as soon as they are
// complete, so answers are on the line long before the protocol's 20 ms wait ends; it never
// waits for anything but the next request. All members may be called from any thread.
#pragma once

#include "sim/DeviceModel.h"

#include <atomic>
#include <condition_variable>
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
    // serial port, or "" when no pseudo-terminal could be made. Calling it while running
    // returns the same path.
    std::string Start();
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
    // complete frames have been received and answered (or ignored) and the last answer can
    // be read on the port's side, or the line dropped, or `timeoutMs` passed. True unless it
    // timed out. The port's owner must not read meanwhile.
    bool WaitFrames(long frames, int timeoutMs) const;

private:
    void Run();
    void Hangup();

    mutable std::mutex mutex_;
    mutable std::condition_variable handled_;
    DeviceModel model_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> dropped_{false};
    long framesHandled_ = 0;
    int deliveryTarget_ = -1; // port-side queue length once the last answer is across
    int master_ = -1;
    int slave_ = -1; // kept open so the master never reads EIO between the client's opens
    int wake_[2] = {-1, -1};
    std::string path_;
    std::string error_;
};
