// torvik7ctl read and write as a user runs them. They take the product's real waits, so only
// outcomes that need no answer in real time are tried here; whole sessions are in the
// end-to-end tests, with the same sessions and port.
#include "sim/DeviceSimulator.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct CtlRun {
    int status = -1;
    std::string err;
};

class CtlTest : public ::testing::Test {
protected:
    void TearDown() override { sim.Stop(); }

    // Runs torvik7ctl in `dir` with stderr captured.
    CtlRun Ctl(std::vector<std::string> args) {
        args.insert(args.begin(), TORVIK7CTL);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string errPath = (dir / "stderr.txt").string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        pid_t pid = 0;
        CtlRun run;
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
            int status = 0;
            ::waitpid(pid, &status, 0);
            run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        std::ifstream in(errPath);
        std::stringstream text;
        text << in.rdbuf();
        run.err = text.str();
        return run;
    }
    std::string StartSim(const SimConfig& config) {
        sim.SetConfig(config);
        const std::string path = sim.Start();
        EXPECT_FALSE(path.empty());
        return path;
    }

    TempDir temp{"ctl"};
    fs::path dir = temp.path();
    DeviceSimulator sim;
};

TEST_F(CtlTest, MissingPort) {
    const CtlRun run = Ctl({"read", "--port", "/dev/torvik7-none", "-o", "out.stg"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Ошибка: Не удаётся обнаружить /dev/torvik7-none !\n Возможно, ресурс "
                           "используется другой программой."),
              std::string::npos)
        << run.err;
    EXPECT_FALSE(fs::exists(dir / "out.stg"));
    ASSERT_TRUE(fs::exists(dir / "data.txt"));
    EXPECT_EQ(fs::file_size(dir / "data.txt"), 0u);
}

TEST_F(CtlTest, NoUnitAtThatAddress) {
    SimConfig config;
    config.unitAddress = 2;
    const std::string port = StartSim(config);
    const CtlRun run =
        Ctl({"read", "--port", port, "--unit", "3", "-o", "out.stg", "--trace", "trace.log"});
    EXPECT_EQ(run.status, 4);
    EXPECT_NE(run.err.find("Error: ГРЕМУС не отвечает !"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(dir / "out.stg"));
    std::ifstream in(dir / "trace.log");
    std::stringstream trace;
    trace << in.rdbuf();
    for (const char* frame : {">> C3 55\n", ">> D3 55\n", ">> E3 55\n", ">> F3 55\n"})
        EXPECT_NE(trace.str().find(frame), std::string::npos) << trace.str();
    EXPECT_EQ(sim.Stats().handshakes, 4);
}

TEST_F(CtlTest, BadArguments) {
    EXPECT_EQ(Ctl({"read", "-o", "x.stg"}).status, 64);
    EXPECT_EQ(Ctl({"read", "--port", "COM1"}).status, 64);
    EXPECT_EQ(Ctl({"read", "--port", "COM1", "--line", "64", "-o", "x.stg"}).status, 64);
    EXPECT_EQ(Ctl({"write", "--port", "COM1", "--unit", "8", "x.stg"}).status, 64);
    EXPECT_EQ(Ctl({"write", "--port", "COM1", "missing.stg"}).status, 74);
    EXPECT_EQ(Ctl({"sim", "--rate", "4800"}).status, 64);
    EXPECT_EQ(Ctl({"sim", "--not-ready", "p=2"}).status, 64);
    EXPECT_FALSE(fs::exists(dir / "data.txt"));
}

} // namespace
