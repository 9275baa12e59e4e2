// Stands in for the device link until it is part of the build: the shared values and
// sessions that find no port.
#include "link/LinkGlobals.h"
#include "link/TransferSession.h"

int LineAddress = 0;
int UnitAddress = 0;
int TransferRunning = 1;

int ReadDevice(TransferView&, SettingsRecord&, const SessionOptions&) {
    return kSessionPortOpenFailed;
}
int WriteDevice(TransferView&, const SettingsRecord&, const SessionOptions&) {
    return kSessionPortOpenFailed;
}
