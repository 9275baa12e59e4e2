// The lines of a text file (the sessions' data.txt dumps), without their line ends.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

inline std::vector<std::string> Lines(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}
