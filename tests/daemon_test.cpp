// The built program itself, started as a module's service script would start it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "sandbox.h"

namespace {

class DaemonTest : public SandboxTest {
protected:
    // Starts the program (through the emulator in a cross build) with stdout on a pipe and
    // an argument it must ignore.
    void start(const char* binary) {
        std::vector<std::string> args;
        std::stringstream emulator(EMULATOR);
        for (std::string part; std::getline(emulator, part, '|');) {
            if (!part.empty()) args.push_back(part);
        }
        args.push_back(binary);
        args.push_back("--ignored");
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);

        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        pid_ = fork();
        ASSERT_GE(pid_, 0);
        if (pid_ == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            close(fds[1]);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        close(fds[1]);
        out_ = fds[0];
    }

    // The next line on the program's stdout, or what arrived of it before the time ran out.
    std::string next_line() {
        std::string line;
        return sandbox::read_line(out_, &line) ? line : line + "<no line end>";
    }

    void TearDown() override {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
        SandboxTest::TearDown();
    }

    void expect_startup(const std::string& module_dir) {
        EXPECT_EQ(next_line(), "Tessivar Next Gen Monitor Started (Combined Dumpsys).");
        EXPECT_EQ(next_line(), "Monitoring game list: " + module_dir + "/game.txt");
        EXPECT_EQ(next_line(), "Using script directory: " + module_dir + "/Scripts/");
        EXPECT_EQ(next_line(), "Performance script: performance.sh, Balanced script: balanced.sh");
        EXPECT_EQ(next_line(), "Delays: Screen ON=5s, Screen OFF=10s");
    }

    pid_t pid_ = -1;
    int out_ = -1;
};

// Every line reaches the pipe as it is printed, though a pipe is no terminal.
TEST_F(DaemonTest, PrintsItsConfigurationAndAppliesTheFirstMode) {
    sandbox::set_dump(
        "    mAwake=true mScreenOnEarly=true mScreenOnFully=true\n"
        "  mCurrentFocus=Window{41b37570 u0 com.example.game/com.example.game.MainActivity}\n");
    start(SANDBOXED_DAEMON);
    expect_startup(sandbox::module_dir());
    EXPECT_EQ(next_line(), "State change detected: 0 -> 1. Screen: 1, Focus: 'com.example.game'");
    EXPECT_EQ(next_line(), "Executing: sh " + script_path("performance") + " &");
    EXPECT_EQ(next_launch(), "performance");
}

TEST_F(DaemonTest, DefaultBuildUsesTheModuleOnTheDevice) {
    start(PRODUCTION_DAEMON);
    expect_startup("/data/adb/modules/Drovenmarke");
}

}  // namespace
