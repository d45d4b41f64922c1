// The supervisor with a stand-in daemon: one per boot, restarts with back-off and a restore
// each time, a bounded log that loses no line, and no daemon outliving it.
#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "ctl_sandbox.h"

namespace {

using ctl::eventually;
using ctl::exists;
using ctl::read_file;
using ctl::write_file;

class SupervisorTest : public CtlTest {
protected:
    pid_t start_supervisor(bool wait_for_daemon = true) {
        supervisor_ = start_ctl({"supervise"}, root_ + "/supervisor-output");
        if (wait_for_daemon)
            EXPECT_TRUE(eventually([&] { return daemon_pid() > 0; }))
                << read_file(mod("tessivar.log"));
        return supervisor_;
    }
    pid_t daemon_pid() const {
        const std::string pid = read_file(mod("tessivar.daemon.pid"));
        const pid_t daemon = pid.empty() ? 0 : std::stoi(pid);
        return daemon > 0 && !gone(daemon) ? daemon : 0;
    }
    static bool gone(pid_t pid) {
        // Gone, or a zombie nobody has reaped yet.
        const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
        const size_t paren = stat.rfind(')');
        return paren == std::string::npos || stat[paren + 2] == 'Z';
    }
    size_t count(const std::string& text, const std::string& what) const {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++n;
        return n;
    }
    pid_t supervisor_ = 0;
};

TEST_F(SupervisorTest, StartsTheDaemonOnceAndLogsItsOutput) {
    start_supervisor();
    EXPECT_TRUE(eventually([&] {
        return read_file(mod("tessivar.log")).find("Tessivar stand-in running\n") !=
               std::string::npos;
    }));
    EXPECT_EQ(read_file(mod("tessivar.pid")), std::to_string(supervisor_) + "\n");
    // A second start (service.sh run again) finds the first one.
    EXPECT_EQ(ctl({"supervise"}).out,
              "supervisor: already running (pid " + std::to_string(supervisor_) + ")\n");
    const std::string status = ctl({"status"}).out;
    EXPECT_EQ(status.rfind("Tessivar: running (pid " + std::to_string(daemon_pid()) +
                               ", supervisor " + std::to_string(supervisor_) + ")\n",
                           0),
              0u)
        << status;
}

TEST_F(SupervisorTest, RestoresAndRestartsWithBackOffWhenTheDaemonEnds) {
    ASSERT_EQ(ctl({"profile", "performance"}).status, 0);
    write_file(mod("standin-mode"), "exit:3");
    start_supervisor(false);
    const std::string log = mod("tessivar.log");
    ASSERT_TRUE(eventually([&] { return count(read_file(log), "restarting in") >= 3; }))
        << read_file(log);
    const std::string text = read_file(log);
    EXPECT_NE(text.find("supervisor: Tessivar exited with status 3; balanced profile restored; "
                        "restarting in 5 s\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("restarting in 10 s\n"), std::string::npos);
    EXPECT_NE(text.find("restarting in 20 s\n"), std::string::npos);
    EXPECT_EQ(governors(), kOriginalGovernors);  // restored when the daemon ended

    // Killed by a signal: said so.
    unlink(mod("standin-mode").c_str());
    ASSERT_TRUE(
        eventually([&] { return daemon_pid() > 0 && count(read_file(log), "stand-in") >= 4; }));
    const pid_t daemon = daemon_pid();
    kill(daemon, SIGKILL);
    EXPECT_TRUE(eventually([&] {
        return read_file(log).find("Tessivar was killed by signal 9;") != std::string::npos;
    }));
}

// SIGKILL of the supervisor takes the daemon with it; the documented stop still works and a
// new start is possible at once.
TEST_F(SupervisorTest, ADaemonNeverOutlivesItsSupervisor) {
    start_supervisor();
    const pid_t daemon = daemon_pid();
    kill(supervisor_, SIGKILL);
    waitpid(supervisor_, nullptr, 0);
    EXPECT_TRUE(eventually([&] { return gone(daemon); })) << "the daemon outlived its supervisor";
    EXPECT_EQ(ctl({"status"}).out.rfind("Tessivar: not running\n", 0), 0u);
    start_supervisor();
    EXPECT_NE(daemon_pid(), daemon);
}

TEST_F(SupervisorTest, StopAndRemoveStopEverythingAndRestore) {
    for (const char* how : {"stop", "remove", "SIGTERM"}) {
        SCOPED_TRACE(how);
        start_supervisor();
        const pid_t daemon = daemon_pid();
        ASSERT_EQ(ctl({"profile", "performance"}).status, 0);
        ASSERT_EQ(governors(), kBoostedGovernors);
        if (std::string(how) == "stop") {
            const auto out = ctl({"stop"});
            EXPECT_EQ(out.out, "stopped the supervisor (pid " + std::to_string(supervisor_) +
                                   ") and Tessivar; the balanced profile is back\n");
        } else if (std::string(how) == "remove") {
            write_file(mod("remove"), "");
        } else {
            kill(supervisor_, SIGTERM);
        }
        int status = -1;
        waitpid(supervisor_, &status, 0);
        EXPECT_EQ(status, 0);
        EXPECT_TRUE(eventually([&] { return gone(daemon); }));
        EXPECT_EQ(governors(), kOriginalGovernors);
        unlink(mod("remove").c_str());
    }
    const std::string log = read_file(mod("tessivar.log"));
    EXPECT_NE(log.find("supervisor: the module is to be removed; balanced profile restored, "
                       "supervisor stopped\n"),
              std::string::npos);
    EXPECT_NE(log.find("supervisor: stopped; balanced profile restored\n"), std::string::npos);
}

// A flood of output: the log never passes its bound, rotation is by rename, and the lines of
// the old and the new log together are the daemon's lines, none lost or cut.
TEST_F(SupervisorTest, AFloodedLogStaysBoundedAndLosesNoLine) {
    constexpr int kLines = 20000;  // 2 MB through a 64 KiB bound
    setenv("TESSIVAR_LOG_LIMIT", "65536", 1);
    write_file(mod("standin-mode"), "flood:" + std::to_string(kLines));
    start_supervisor();
    const std::string last = "flood " + std::to_string(kLines + 10000000).substr(1) + " ";
    ASSERT_TRUE(
        eventually([&] { return read_file(mod("tessivar.log")).find(last) != std::string::npos; }));
    const std::string old_log = read_file(mod("tessivar.log.old"));
    const std::string log = read_file(mod("tessivar.log"));
    EXPECT_LE(log.size(), 65536u);
    EXPECT_LE(old_log.size(), 65536u);
    // From the first flood line in the old log to the last in the new one, every number once.
    const std::string both = old_log + log;
    size_t at = both.find("flood ");
    ASSERT_NE(at, std::string::npos);
    int expected = std::stoi(both.substr(at + 6, 7));
    for (; at != std::string::npos; at = both.find("flood ", at + 1)) {
        ASSERT_EQ(both.compare(at + 6, 7, std::to_string(expected + 10000000).substr(1)), 0)
            << "line " << expected << " lost";
        ASSERT_EQ(both[at + 99], '\n') << "line " << expected << " cut";
        ++expected;
    }
    EXPECT_EQ(expected, kLines + 1);
}

// Something other than a regular file at tessivar.log: a link's target is never written, and
// a FIFO does not hold the start.
TEST_F(SupervisorTest, ALinkOrAFifoAtTheLogIsNeverWrittenThrough) {
    write_file(root_ + "/precious", "keep me\n");
    ASSERT_EQ(symlink((root_ + "/precious").c_str(), mod("tessivar.log").c_str()), 0);
    start_supervisor();
    ASSERT_TRUE(eventually([&] {
        return read_file(mod("tessivar.log")).find("stand-in running") != std::string::npos;
    }));
    EXPECT_EQ(read_file(root_ + "/precious"), "keep me\n");
    struct stat info;
    ASSERT_EQ(lstat(mod("tessivar.log").c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    ctl({"stop"});
    waitpid(supervisor_, nullptr, 0);

    unlink(mod("tessivar.log").c_str());
    ASSERT_EQ(mkfifo(mod("tessivar.log").c_str(), 0644), 0);
    start_supervisor();
    ASSERT_EQ(lstat(mod("tessivar.log").c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
}

// A non-empty directory at tessivar.log is set aside whole and a log started in its place.
TEST_F(SupervisorTest, ADirectoryAtTheLogIsSetAsideAndTheLogKept) {
    ASSERT_EQ(mkdir(mod("tessivar.log").c_str(), 0755), 0);
    write_file(mod("tessivar.log/kept"), "mine\n");
    start_supervisor();
    ASSERT_TRUE(eventually([&] {
        return read_file(mod("tessivar.log")).find("stand-in running") != std::string::npos;
    }));
    EXPECT_NE(read_file(mod("tessivar.log"))
                  .find("supervisor: tessivar.log was not a regular file; replaced it\n"),
              std::string::npos);
    EXPECT_EQ(read_file(mod("tessivar.log." + std::to_string(supervisor_) + ".aside/kept")),
              "mine\n");
}

// Descriptors of whoever starts the supervisor reach neither the daemon nor a profile run.
TEST_F(SupervisorTest, InheritedDescriptorsAreNotPassedOn) {
    int leak[2];
    ASSERT_EQ(pipe(leak), 0);  // without close-on-exec, as a careless starter leaves them
    start_supervisor();
    close(leak[0]);
    close(leak[1]);
    const pid_t daemon = daemon_pid();
    // Listed once it runs the daemon and has closed what it reads at start: between the fork and
    // the exec the child still holds the supervisor's own descriptors.
    ASSERT_TRUE(eventually([&] {
        return read_file(mod("tessivar.log")).find("Tessivar stand-in running") !=
               std::string::npos;
    }));
    const std::string dir = "/proc/" + std::to_string(daemon) + "/fd";
    std::string open_fds;
    DIR* d = opendir(dir.c_str());
    while (dirent* e = d ? readdir(d) : nullptr)
        if (e->d_name[0] != '.') open_fds += std::string(e->d_name) + " ";
    if (d) closedir(d);
    EXPECT_EQ(open_fds, "0 1 2 ");
}

// A restore the kernel refused (a cluster offline when the game ended) is retried with a
// back-off while it is pending, and put back once the node returns; then nothing wakes.
TEST_F(SupervisorTest, APendingRestoreIsRetriedUntilTheNodeReturns) {
    start_supervisor();
    const std::string policy4 = dev(std::string(kPolicy) + "/policy4");
    ASSERT_EQ(ctl({"profile", "performance"}).status, 0);
    ASSERT_EQ(rename(policy4.c_str(), (policy4 + ".offline").c_str()), 0);
    ASSERT_EQ(ctl({"profile", "balanced"}).status, 0);
    poll(nullptr, 0, 300);  // a few retries' worth (5 s is 100 ms here)
    EXPECT_EQ(read_file(mod("tessivar.log")).find("retried the restore"), std::string::npos);
    ASSERT_EQ(rename((policy4 + ".offline").c_str(), policy4.c_str()), 0);
    EXPECT_TRUE(eventually([&] {
        return read_file(mod("tessivar.log"))
                   .find(
                       "balanced: retried the restore: restored 3 setting(s) of the device's "
                       "own, 0 refused\n") != std::string::npos;
    })) << read_file(mod("tessivar.log"));
    EXPECT_EQ(governors(), kOriginalGovernors);
    EXPECT_EQ(tunables(), kOriginalTunables);
    // Nothing pending: the supervisor sleeps until something happens.
    const auto switches = [&] {
        const std::string status = read_file("/proc/" + std::to_string(supervisor_) + "/status");
        const size_t at = status.find("voluntary_ctxt_switches:");
        return status.substr(at, status.find('\n', at) - at);
    };
    poll(nullptr, 0, 200);  // the state file's own change event, handled once
    const std::string before = switches();
    poll(nullptr, 0, 1000);
    EXPECT_EQ(switches(), before);
}

// The manager's list shows the live state: module.prop's description (Magisk, APatch), or
// KernelSU's description override (never module.prop there).
TEST_F(SupervisorTest, TheManagersListShowsWhatTessivarDoes) {
    write_file(mod("module.prop"), "id=Drovenmarke\ndescription=Switches governors.\nversion=v1\n");
    write_file(mod("standin-mode"), "change:com.example.game");
    start_supervisor();
    EXPECT_TRUE(eventually([&] {
        return read_file(mod("module.prop")) ==
               "id=Drovenmarke\ndescription=Status: performance for com.example.game | Switches "
               "governors.\nversion=v1\n";
    })) << read_file(mod("module.prop"));
    ctl({"stop"});
    waitpid(supervisor_, nullptr, 0);
    EXPECT_EQ(read_file(mod("module.prop")),
              "id=Drovenmarke\ndescription=Status: stopped | Switches governors.\nversion=v1\n");

    // KernelSU: ksud's override, the module.prop left alone.
    const std::string bin = root_ + "/bin";
    mkdir(bin.c_str(), 0755);
    write_file(bin + "/ksud", "#!/bin/sh\nprintf '%s|' \"$@\" >> '" + root_ +
                                  "/ksud-calls'\necho >> '" + root_ + "/ksud-calls'\n");
    chmod((bin + "/ksud").c_str(), 0755);
    setenv("PATH", (bin + ":" + getenv("PATH")).c_str(), 1);
    setenv("KSU", "true", 1);
    setenv("KSU_MODULE", "Drovenmarke", 1);
    // Its description on the first line: still found, and kept after the status.
    write_file(mod("module.prop"), "description=Switches governors.\nid=Drovenmarke\n");
    start_supervisor();
    EXPECT_TRUE(eventually([&] {
        return read_file(root_ + "/ksud-calls")
                   .find(
                       "module|config|set|--temp|override.description|Status: performance for "
                       "com.example.game | Switches governors.|\n") != std::string::npos;
    })) << read_file(root_ + "/ksud-calls");
    EXPECT_EQ(read_file(mod("module.prop")), "description=Switches governors.\nid=Drovenmarke\n");
    unsetenv("KSU");
    unsetenv("KSU_MODULE");
}

}  // namespace
