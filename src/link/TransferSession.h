// Reading and writing a whole device: 512 blocks of the 2048-byte image, shown through a
// TransferView, stopped between blocks when TransferRunning drops to 0.
#pragma once

#include "link/TransferView.h"
#include "settings/SettingsRecord.h"

#include <cstdint>
#include <string>
#include <vector>

class Pacer;
class PortOpener;

// Session result codes.
inline constexpr int kSessionOk = 0;
inline constexpr int kSessionPortOpenFailed = 1;
inline constexpr int kSessionPortStateFailed = 2;
inline constexpr int kSessionPortConfigFailed = 3;
inline constexpr int kSessionLinkFailed = 4;
inline constexpr int kSessionStopped = 5;
inline constexpr int kSessionConsoleUnit = 10;

enum class SessionKind { Read, Write };

// How a session ended, for whoever keeps a trace of it.
struct SessionEnd {
    SessionKind kind = SessionKind::Read;
    int result = kSessionOk;
    int blocksDone = 0;                     // data blocks of 512 that went through
    bool blockLoop = false;                 // the session reached its block loop
    const SettingsRecord* record = nullptr; // read: the record read (result 0 only);
                                            // write: the record being written
};

// Told what a session does, on the session's own thread. Observers only watch: they cannot
// stop or fail a session.
class SessionObserver {
public:
    virtual ~SessionObserver() = default;
    virtual void SessionStarted(SessionKind) {}
    // A data block that went through: its address and its 4 bytes.
    virtual void BlockDone(int /*address*/, const std::uint8_t* /*data*/) {}
    virtual void SessionEnded(const SessionEnd&) {}
};

struct SessionOptions {
    Pacer* pacer = nullptr;                  // nullptr: the real waits
    PortOpener* opener = nullptr;            // nullptr: the system's serial ports
    std::string dumpPath = "data.txt";       // read sessions only; recreated by every read
    std::vector<SessionObserver*> observers; // told after the "data.txt" dump, in order
};

// Reads the device into `record`; the record changes only when the result is 0.
int ReadDevice(TransferView& view, SettingsRecord& record, const SessionOptions& options = {});
// Writes `record` into the device, keeping the device's own bytes 0 and 4.
int WriteDevice(TransferView& view, const SettingsRecord& record,
                const SessionOptions& options = {});
