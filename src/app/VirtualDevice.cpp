#include "app/VirtualDevice.h"

struct VirtualDevice::Impl {};

VirtualDevice::VirtualDevice() = default;
VirtualDevice::~VirtualDevice() = default;

bool VirtualDevice::Available() {
    return false;
}

std::string VirtualDevice::PortPath() {
    return {};
}
