// "Виртуальный прибор": the device simulator run inside the utility on a pseudo-terminal,
// so a session reaches it through the same serial code as a real port. Its memory is kept
// between runs in the user's data folder, the factory image at first.
#pragma once

#include <memory>
#include <string>

class VirtualDevice {
public:
    VirtualDevice();
    ~VirtualDevice();
    VirtualDevice(const VirtualDevice&) = delete;
    VirtualDevice& operator=(const VirtualDevice&) = delete;

    // Whether this build and this platform can offer it.
    static bool Available();

    // The pseudo-terminal to open, starting the device on first use; empty when it could
    // not be started (the session then reports a port that cannot be opened).
    std::string PortPath();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
