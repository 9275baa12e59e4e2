#include "app/VirtualDevice.h"

#include "app/FileNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "app/PortList.h"
#include "sim/DeviceSimulator.h"

namespace {

SimConfig VirtualConfig() {
    SimConfig config;
    config.lineAddress = 0;
    config.unitAddress = 0;
    config.rate = 38400; // not the first rate tried, so the rate search really runs
    return config;
}

std::string DefaultMemoryPath() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    return ToFileName(QDir(folder).filePath(QStringLiteral("virtual-device.bin")));
}

} // namespace

struct VirtualDevice::Impl {
    DeviceSimulator sim{VirtualConfig()};
};

VirtualDevice::VirtualDevice(const std::string& memoryPath, bool inProcess)
    : m_impl(std::make_unique<Impl>()),
      m_memoryPath(memoryPath.empty() ? DefaultMemoryPath() : memoryPath), m_inProcess(inProcess) {
    if (!m_impl->sim.LoadMemory(m_memoryPath)) m_impl->sim.SetMemory(FactoryImage());
}

VirtualDevice::~VirtualDevice() {
    Persist();
    m_impl->sim.Stop();
}

bool VirtualDevice::Available() {
    return true;
}

std::string VirtualDevice::PortPath() {
    if (m_inProcess) return kVirtualDeviceLabel.toStdString();
    return m_impl->sim.Start();
}

PortOpener* VirtualDevice::Opener() {
    return m_inProcess ? &m_impl->sim.InProcessOpener() : nullptr;
}

DeviceSimulator* VirtualDevice::Simulator() {
    return &m_impl->sim;
}

bool VirtualDevice::Persist() {
    QDir().mkpath(QFileInfo(FromFileName(m_memoryPath)).absolutePath());
    return m_impl->sim.SaveMemory(m_memoryPath);
}
