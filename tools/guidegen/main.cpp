// guidegen GUIDE.md OUT.html: writes the installer's guide at build time. Pictures are
// looked up relative to the guide's own folder.
#include "GuidePage.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

std::optional<std::string> ReadWhole(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: guidegen GUIDE.md OUT.html\n");
        return 64;
    }
    const std::filesystem::path source(argv[1]);
    const auto markdown = ReadWhole(source);
    if (!markdown) {
        std::fprintf(stderr, "guidegen: %s: %s\n", argv[1], std::strerror(errno));
        return 66;
    }
    const GuideResult result = MarkdownToHtml(
        *markdown, [&](const std::string& path) { return ReadWhole(source.parent_path() / path); });
    if (!result.error.empty()) {
        std::fprintf(stderr, "%s:%s\n", argv[1], result.error.c_str() + 4);
        return 65;
    }
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    if (out) out << result.html;
    out.close();
    if (!out) {
        std::fprintf(stderr, "guidegen: %s: %s\n", argv[2], std::strerror(errno));
        std::remove(argv[2]); // never leave a truncated page behind
        return 74;
    }
    return 0;
}
