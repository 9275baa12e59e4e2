// Reading and writing a whole device: 512 blocks of the 2048-byte image, shown through a
// TransferView, stopped between blocks when TransferRunning drops to 0.
#pragma once

#include "link/TransferView.h"
#include "settings/DeviceImage.h"
#include "settings/SettingsRecord.h"

#include <string>

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

struct SessionOptions {
    Pacer* pacer = nullptr;            // nullptr: the real waits
    PortOpener* opener = nullptr;      // nullptr: the system's serial ports
    std::string dumpPath = "data.txt"; // read sessions only; recreated by every read
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
