// What the session tests set up alike: a "data.txt" dump of the test's own in the temporary
// folder, and the session's options around their pacer, opener and addresses.
#pragma once

#include "link/TransferSession.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <unistd.h>

// Named after the process and the running test, so tests run at once never share one; the
// file is not there yet.
inline std::filesystem::path FreshDumpPath(const std::string& stem) {
    std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(test.begin(), test.end(), '/', '-'); // a parameterised test's "Name/3"
    const auto path = std::filesystem::temp_directory_path() /
                      (stem + "-" + std::to_string(::getpid()) + "-" + test + ".txt");
    std::filesystem::remove(path);
    return path;
}

inline SessionOptions TestSessionOptions(int lineAddress, int unitAddress, Pacer& pacer,
                                         PortOpener& opener, const std::filesystem::path& dump) {
    SessionOptions options;
    options.lineAddress = lineAddress;
    options.unitAddress = unitAddress;
    options.pacer = &pacer;
    options.opener = &opener;
    options.dumpPath = dump.string();
    return options;
}
