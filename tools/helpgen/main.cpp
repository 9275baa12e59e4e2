// helpgen OUT.html: writes the Contact ID help page at build time.
#include "HelpPage.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: helpgen OUT.html\n");
        return 64;
    }
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    if (out) WriteHelpPage(out);
    out.close();
    if (!out) {
        std::fprintf(stderr, "helpgen: %s: %s\n", argv[1], std::strerror(errno));
        std::remove(argv[1]); // never leave a truncated page behind
        return 74;
    }
    return 0;
}
