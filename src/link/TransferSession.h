// Reading and writing a whole device: 512 blocks of the 2048-byte image, shown through a
// TransferView, stopped between blocks when TransferRunning drops to 0.
#pragma once

#include "link/TransferView.h"
#include "settings/SettingsRecord.h"

#include <string>

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

struct SessionOptions {
    Pacer* pacer = nullptr;            // nullptr: the real waits
    PortOpener* opener = nullptr;      // nullptr: the system's serial ports
    std::string dumpPath = "data.txt"; // read sessions only; recreated by every read
};

// Reads the device into `record`; the record changes only when the result is 0.
int ReadDevice(TransferView& view, SettingsRecord& record, const SessionOptions& options = {});
// Writes `record` into the device, keeping the device's own bytes 0 and 4.
int WriteDevice(TransferView& view, const SettingsRecord& record,
                const SessionOptions& options = {});
