#include "app/PortList.h"

#include "link/SerialPort.h"

#ifdef _WIN32
#include "link/SystemPorts.h"
#else
#include <QSerialPortInfo>
#endif

std::vector<PortEntry> BuildPortList(const std::vector<SystemPort>& systemPorts,
                                     bool withVirtualDevice) {
    std::vector<PortEntry> list;
    for (int n = 1; n <= 6; ++n)
        list.push_back({QStringLiteral("COM%1").arg(n), "COM" + std::to_string(n), false, {}});
    for (const auto& port : systemPorts) {
        const std::string location = port.location.toStdString();
        bool named = false;
        for (auto& entry : list)
            if (SystemPortName(entry.portName) == location || entry.label == port.name) {
                named = true;
                // COM1..COM6 keep their names; what they are shows as a tooltip.
                entry.description = port.description;
            }
        if (named || location.empty()) continue;
        // A port beyond the six is named with what it is, unless that already names it.
        QString label = port.name;
        if (!port.description.isEmpty())
            label = port.description.contains(port.name)
                        ? port.description
                        : QStringLiteral("%1 (%2)").arg(port.name, port.description);
        list.push_back({label, location, false, port.description});
    }
    if (withVirtualDevice) list.push_back({kVirtualDeviceLabel, {}, true, {}});
    return list;
}

std::vector<SystemPort> SystemSerialPorts() {
    std::vector<SystemPort> ports;
#ifdef _WIN32
    for (const auto& info : ListSystemSerialPorts()) {
        const QString name = QString::fromStdString(info.name);
        ports.push_back({name, name, QString::fromStdString(info.description)});
    }
#else
    for (const auto& info : QSerialPortInfo::availablePorts())
        ports.push_back({info.portName(), info.systemLocation(), info.description()});
#endif
    return ports;
}
