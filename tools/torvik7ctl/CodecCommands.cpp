#include "Commands.h"

int CmdDefaults(const Args&) {
    return kExitUsage;
}
int CmdEncode(const Args&) {
    return kExitUsage;
}
int CmdDecode(const Args&) {
    return kExitUsage;
}
int CmdShow(const Args&) {
    return kExitUsage;
}
int CmdDiff(const Args&) {
    return kExitUsage;
}
