#include "settings/DeviceImage.h"
void EncodeImage(const SettingsRecord&, DeviceImage&) {}
int DecodeImage(const DeviceImage&, SettingsRecord&) { return 0; }
