#include "link/LinkGlobals.h"

std::atomic<int> LineAddress{0};
std::atomic<int> UnitAddress{0};
std::atomic<int> TransferRunning{1};
