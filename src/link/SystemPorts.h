// The serial ports the system has now, with the names the system gives them. Windows only:
// elsewhere the port list comes from Qt.
#pragma once

#include <string>
#include <vector>

struct SystemPortInfo {
    std::string name;        // as the port is opened: "COM3"
    std::string description; // the device's friendly name, UTF-8; may be empty
};

#ifdef _WIN32
// The system's COM ports, in the order of their numbers; empty when none can be found.
std::vector<SystemPortInfo> ListSystemSerialPorts();
#endif
