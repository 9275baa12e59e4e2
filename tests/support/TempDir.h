// A folder of one test's own under the system's temporary folder, named after the tag, the
// process and the running test; empty at the start, removed with all it holds at the end
// (folders a test left read-only included).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

class TempDir {
public:
    explicit TempDir(const std::string& tag) {
        std::string name = "torvik7-" + tag + "-" + std::to_string(::getpid());
        if (const auto* test = ::testing::UnitTest::GetInstance()->current_test_info()) {
            std::string testName = test->name(); // "Case/Param" for parameterised tests
            for (char& c : testName)
                if (c == '/') c = '-';
            name += "-" + testName;
        }
        path_ = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
        for (auto it = fs::recursive_directory_iterator(path_, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
            if (it->is_directory(ec) && !it->is_symlink(ec))
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};
