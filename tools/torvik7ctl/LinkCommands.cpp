#include "Commands.h"

// The device commands arrive with the link.
int CmdRead(const Args&) {
    PrintError("команда read ещё не готова");
    return kExitUsage;
}
int CmdWrite(const Args&) {
    PrintError("команда write ещё не готова");
    return kExitUsage;
}
int CmdSim(const Args&) {
    PrintError("команда sim ещё не готова");
    return kExitUsage;
}
