#include "app/PortList.h"

#include "link/SerialPort.h"

#include <QSerialPortInfo>

std::vector<PortEntry> BuildPortList(const std::vector<SystemPort>& systemPorts,
                                     bool withVirtualDevice) {
    std::vector<PortEntry> list;
    for (int n = 1; n <= 6; ++n)
        list.push_back({QStringLiteral("COM%1").arg(n), "COM" + std::to_string(n), false});
    for (const auto& port : systemPorts) {
        const std::string location = port.location.toStdString();
        bool named = false;
        for (const auto& entry : list)
            if (SystemPortName(entry.portName) == location || entry.label == port.name)
                named = true;
        if (!named && !location.empty()) list.push_back({port.name, location, false});
    }
    if (withVirtualDevice) list.push_back({kVirtualDeviceLabel, {}, true});
    return list;
}

std::vector<SystemPort> SystemSerialPorts() {
    std::vector<SystemPort> ports;
    for (const auto& info : QSerialPortInfo::availablePorts())
        ports.push_back({info.portName(), info.systemLocation()});
    return ports;
}
