#include "link/LinkGlobals.h"

int LineAddress = 0;
int UnitAddress = 0;
int TransferRunning = 1;
