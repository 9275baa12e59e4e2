#include "platform/Platform.h"

// Placeholder: the Qt implementation of the platform layer replaces this file.
namespace {
Platform* g_installed = nullptr;
}

Platform& ThePlatform() {
    return *g_installed;
}
void SetPlatform(Platform* platform) {
    g_installed = platform;
}
