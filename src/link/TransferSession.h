// Reading and writing a whole device: 512 blocks of the 2048-byte image, shown through a
// TransferView, stopped between blocks when the session's stop token is set.
#pragma once

#include "link/TransferView.h"
#include "settings/DeviceImage.h"
#include "settings/SettingsRecord.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

class Pacer;
class PortOpener;

// How a session ended.
enum SessionResult : int {
    kSessionOk = 0,
    kSessionPortOpenFailed = 1,
    kSessionPortStateFailed = 2,
    kSessionPortConfigFailed = 3, // event mask refused, or a rate refused in the rate search
    kSessionLinkFailed = 4,       // no rate answered, an identity read or a block failed
    kSessionStopped = 5,          // "Стоп" before a block
    kSessionConsoleUnit = 10,     // a console-side unit answers at the line address
};

enum class SessionKind { Read, Write };

// How a session ended, for whoever keeps a trace of it.
struct SessionEnd {
    SessionKind kind = SessionKind::Read;
    int result = kSessionOk;
    int blocksDone = 0;                     // data blocks of 512 that went through
    bool blockLoop = false;                 // the session reached its block loop
    const SettingsRecord* record = nullptr; // read: the record read (result 0 only);
                                            // write: the record being written; none for
                                            // the image sessions
    const DeviceImage* image = nullptr;     // read: the image read (result 0 only);
                                            // write: the encoded image being written
    std::string message; // the last message the session showed the operator; empty: none
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
    int lineAddress = 0; // the device's address on the line, 0..63; sent with every request
    int unitAddress = 0; // the interface unit's address, 0..7; sent in the handshake
    // Set by whoever may stop the session ("Стоп", Ctrl+C, a window closing): the session
    // ends before its next block, however early the stop came. nullptr: never stopped.
    const std::atomic<bool>* stop = nullptr;
    Pacer* pacer = nullptr;                  // nullptr: the real waits
    PortOpener* opener = nullptr;            // nullptr: the system's serial ports
    std::string dumpPath = "data.txt";       // read sessions only; recreated by every read
    std::vector<SessionObserver*> observers; // told after the "data.txt" dump, in order
};

// Reads the device into `record`; the record changes only when the result is 0.
SessionResult ReadDevice(TransferView& view, SettingsRecord& record,
                         const SessionOptions& options = {});
// Writes `record` into the device, keeping the device's own bytes 0 and 4.
SessionResult WriteDevice(TransferView& view, const SettingsRecord& record,
                          const SessionOptions& options = {});

// The same sessions on the image alone, for a caller that keeps the record on another
// thread: ReadImage fills `image` (whole only when the result is 0); WriteImage writes the
// encoded `image`, its bytes 0 and 4 replaced by the device's own.
SessionResult ReadImage(TransferView& view, DeviceImage& image, const SessionOptions& options = {});
SessionResult WriteImage(TransferView& view, const DeviceImage& image,
                         const SessionOptions& options = {});
