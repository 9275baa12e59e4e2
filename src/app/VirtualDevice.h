// "Виртуальный прибор": the device simulator run inside the utility. On Linux it sits on a
// pseudo-terminal, so a session reaches it through the same serial code as a real port;
// Windows has no pseudo-terminals, so there the session gets a port joined to it in-process. It
// answers at unit address 0, line address 0 and 38400 baud. Its memory is kept between runs in a
// file, the factory image at first.
#pragma once

#include <memory>
#include <string>

class DeviceSimulator;
class PortOpener;

#ifdef _WIN32
inline constexpr bool kVirtualDeviceInProcess = true;
#else
inline constexpr bool kVirtualDeviceInProcess = false;
#endif

class VirtualDevice {
public:
    // `memoryPath`: where the memory is kept; empty for the user's data folder.
    explicit VirtualDevice(const std::string& memoryPath = {},
                           bool inProcess = kVirtualDeviceInProcess);
    ~VirtualDevice();
    VirtualDevice(const VirtualDevice&) = delete;
    VirtualDevice& operator=(const VirtualDevice&) = delete;

    // Whether this build and this platform can offer it.
    static bool Available();

    // The pseudo-terminal to open, starting the device on first use; empty when it could
    // not be started (the session then reports a port that cannot be opened). In-process:
    // the name the messages give the port.
    std::string PortPath();
    // In-process: the opener the session must use; nullptr when the port is a terminal.
    PortOpener* Opener();

    // Writes the memory to its file (after every session, so a crash loses nothing).
    bool Persist();

    const std::string& MemoryPath() const { return m_memoryPath; }
    // The simulator behind it; nullptr where there is none.
    DeviceSimulator* Simulator();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    std::string m_memoryPath;
    bool m_inProcess;
};
