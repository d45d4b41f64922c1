// The built program itself, started as a module's service script would start it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
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
    // an argument it must ignore. `hostile` starts it as a careless parent might: SIGCHLD
    // ignored, stdout on a pipe nobody reads, and stderr kept in a file for the test.
    void start(const char* binary, bool hostile = false) {
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
        if (hostile) {
            close(fds[0]);  // no reader at all: every write to stdout fails with EPIPE
            fds[0] = -1;
        }
        const std::string err_path = sandbox::root() + "/daemon.err";
        pid_ = fork();
        ASSERT_GE(pid_, 0);
        if (pid_ == 0) {
            dup2(fds[1], 1);
            if (fds[0] >= 0) close(fds[0]);
            close(fds[1]);
            if (hostile) {
                signal(SIGCHLD, SIG_IGN);  // survives exec, unlike a handler
                const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                dup2(err, 2);
                close(err);
            }
            execvp(argv[0], argv.data());
            _exit(127);
        }
        close(fds[1]);
        out_ = fds[0];
    }

    // Waits until the program sleeps between cycles (the kernel names where it is blocked), so
    // that everything its first cycle prints has been printed. False after 30 s.
    bool wait_until_sleeping() {
        const std::string path = "/proc/" + std::to_string(pid_) + "/wchan";
        for (int i = 0; i < 3000; ++i) {
            if (sandbox::read_file(path).find("nanosleep") != std::string::npos) return true;
            poll(nullptr, 0, 10);
        }
        return false;
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

// A parent that left SIGCHLD ignored and a reader of stdout that is gone: the daemon neither
// dies of SIGPIPE nor reports a launch that worked as failed.
TEST_F(DaemonTest, SurvivesAClosedStdoutAndAnInheritedIgnoredSigchld) {
    sandbox::set_dump(
        "    mAwake=true\n"
        "  mCurrentFocus=Window{41b37570 u0 com.example.game/com.example.game.MainActivity}\n");
    start(SANDBOXED_DAEMON, true);
    EXPECT_EQ(next_launch(), "performance");
    ASSERT_TRUE(wait_until_sleeping());
    int status = 0;
    EXPECT_EQ(waitpid(pid_, &status, WNOHANG), 0) << "ended with status " << status;
    EXPECT_EQ(sandbox::read_file(sandbox::root() + "/daemon.err"), "");
}

}  // namespace
