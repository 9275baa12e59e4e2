// The entries of the main window's port list: "COM1".."COM6" first, then the serial
// ports the system reports that those six do not already name, then the virtual device
// when this build has one.
#pragma once

#include <QString>

#include <string>
#include <vector>

struct PortEntry {
    QString label;        // what the list shows
    std::string portName; // what the session is given ("COM1", "/dev/ttyUSB0"); empty for
                          // the virtual device, whose pseudo-terminal is made on first use
    bool virtualDevice = false;
    QString description; // what the system says the port is, shown as the entry's tooltip
};

struct SystemPort {
    QString name;        // as the system names it ("ttyUSB0", "COM7")
    QString location;    // the path the session opens ("/dev/ttyUSB0", "COM7")
    QString description; // "USB Serial Port (COM7)"; empty when the system says nothing
};

inline const QString kVirtualDeviceLabel = QStringLiteral("Виртуальный прибор");

std::vector<PortEntry> BuildPortList(const std::vector<SystemPort>& systemPorts,
                                     bool withVirtualDevice);

// The serial ports the system reports now.
std::vector<SystemPort> SystemSerialPorts();
