// torvik7ctl: settings files, device images and the device itself from a terminal.
#include "Commands.h"

int main(int argc, char** argv) {
    return RunCommandLine(kCommands, argc, argv);
}
