// The profiles against the fake device: what they change, what they put back, and that a
// reboot, a refusal, a full disk, a kill or a hand-edited snapshot never leaves the phone
// boosted or writes anything but governor settings.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "ctl_sandbox.h"

namespace {

using ctl::exists;
using ctl::read_file;
using ctl::write_file;

const char kBoostedLine[] =
    "performance: max, the default preset (game unknown: not launched by Tessivar): governor set "
    "to performance on: policy0 policy4 kgsl-3d0\n";

class ProfileTest : public CtlTest {
protected:
    // The device's own settings the state file holds below its first two lines.
    std::string held() const {
        const std::string text = read_file(mod("current_profile"));
        const size_t second = text.find('\n', text.find('\n') + 1);
        return second == std::string::npos ? "" : text.substr(second + 1);
    }
    std::string temporaries() const {
        std::string found;
        DIR* d = opendir(mod_.c_str());
        while (dirent* e = d ? readdir(d) : nullptr) {
            const std::string name = e->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0)
                found += name + " ";
        }
        if (d) closedir(d);
        return found;
    }
};

TEST_F(ProfileTest, RoundTripPutsBackGovernorsAndTheVendorsTunablesByteForByte) {
    EXPECT_EQ(ctl({"profile", "balanced"}).out, "balanced: nothing to restore; nothing changed\n");
    // A vendor script retunes after boot: the snapshot, taken right before boosting, has it.
    write_file(dev(std::string(kPolicy) + "/policy0/schedutil/rate_limit_us"), "2000\n");
    std::string own = kOriginalTunables;
    own.replace(own.find("rate_limit_us=500"), 17, "rate_limit_us=2000");

    EXPECT_EQ(ctl({"profile", "performance"}).out, kBoostedLine);
    EXPECT_EQ(governors(), kBoostedGovernors);
    EXPECT_EQ(profile_in_force(), "performance\n");
    const std::string snapshot = held();
    EXPECT_NE(snapshot, "");
    EXPECT_EQ(ctl({"profile", "performance"}).out, kBoostedLine);  // a second game in a row
    EXPECT_EQ(held(), snapshot) << "taken again while boosted";

    EXPECT_EQ(ctl({"profile", "balanced"}).out,
              "balanced: restored 8 setting(s) of the device's own, 0 refused\n");
    EXPECT_EQ(governors(), kOriginalGovernors);
    EXPECT_EQ(tunables(), own);
    EXPECT_EQ(profile_in_force(), "balanced\n");
    EXPECT_EQ(held(), "");
    EXPECT_EQ(temporaries(), "");
}

// The stamp of a launch in the last boot (ticks since boot: a phone that was up for days) must
// not make every launch of this boot look older.
TEST_F(ProfileTest, AfterARebootTheFirstLaunchIsApplied) {
    ASSERT_EQ(ctl({"profile", "performance"}).out, kBoostedLine);
    write_file(mod("current_profile"), "performance\nboot-1 99999999999 99999999999999\n");
    reboot("boot-2");
    // The old kernel's settings are gone with it: its snapshot is not restored.
    write_file(dev(std::string(kPolicy) + "/policy0/scaling_governor"), "schedutil\n");
    write_file(dev(std::string(kPolicy) + "/policy4/scaling_governor"), "walt\n");
    write_file(dev("/sys/class/kgsl/kgsl-3d0/devfreq/governor"), "msm-adreno-tz\n");
    EXPECT_EQ(ctl({"profile", "balanced"}).out, "balanced: nothing to restore; nothing changed\n");
    EXPECT_EQ(ctl({"profile", "performance"}).out, kBoostedLine);
    EXPECT_EQ(governors(), kBoostedGovernors);
}

// EBUSY on one governor during the restore: the snapshot stays, the next balanced finishes the
// job, and the next game's snapshot records the device's own governor, not "performance".
TEST_F(ProfileTest, ARefusedRestoreKeepsTheSnapshotAndIsRetried) {
    ASSERT_EQ(ctl({"profile", "performance"}).out, kBoostedLine);
    write_file(dev("/refuse-once"), std::string(kPolicy) + "/policy4/scaling_governor");
    const auto first = ctl({"profile", "balanced"});
    EXPECT_NE(
        first.out.find("3 refused (policy4 governor, policy4 boost, policy4 target_loads; kept"),
        std::string::npos)
        << first.out;
    EXPECT_NE(held(), "");
    EXPECT_NE(governors(), kOriginalGovernors);

    EXPECT_EQ(ctl({"profile", "performance"}).out, kBoostedLine);
    EXPECT_EQ(ctl({"profile", "balanced"}).out,
              "balanced: restored 8 setting(s) of the device's own, 0 refused\n");
    EXPECT_EQ(governors(), kOriginalGovernors);
    EXPECT_EQ(tunables(), kOriginalTunables);
    EXPECT_EQ(held(), "");
}

// Only a node's governor file and files directly inside its governor's directories are ever
// written back, whatever the snapshot says.
TEST_F(ProfileTest, AHandEditedSnapshotWritesNothingButGovernorSettings) {
    const std::string p = kPolicy;
    const std::string victims[] = {p + "/policy0/scaling_max_freq", p + "/policy0/scaling_min_freq",
                                   p + "/policy0/stats/reset", "/etc/passwd"};
    for (const auto& v : victims) {
        system(("mkdir -p \"$(dirname '" + dev(v) + "')\"").c_str());
        write_file(dev(v), "untouched\n");
    }
    write_file(mod("current_profile"),
               "performance\nboot-1 1\n"
               "G " +
                   p +
                   "/policy0/scaling_governor schedutil\n"
                   "T " +
                   p +
                   "/policy0/scaling_max_freq 300000\n"
                   "T " +
                   p +
                   "/policy0/scaling_min_freq 300000\n"
                   "T " +
                   p +
                   "/policy0/stats/reset 1\n"
                   "T /etc/passwd pwned\n"
                   "T " +
                   p +
                   "/policy0/schedutil/../../../../../../etc/passwd pwned\n"
                   "T " +
                   p +
                   "/policy0/schedutil/rate_limit_us 600\n"
                   "G " +
                   p + "/policy0/../../../../../etc/passwd pwned\n");
    const auto out = ctl({"profile", "balanced"});
    EXPECT_EQ(out.out,
              "balanced: restored 2 setting(s) of the device's own, 0 refused; ignored 6 line(s) "
              "that name no governor setting\n");
    for (const auto& v : victims)
        EXPECT_EQ(read_file(dev(v)), "untouched\n") << v;
    EXPECT_EQ(read_file(dev(p + "/policy0/schedutil/rate_limit_us")), "600\n");
}

// /data full while recording: nothing is boosted and no temporary file is left.
TEST_F(ProfileTest, AFullDiskBoostsNothing) {
    const std::string script =
        "mount -t tmpfs -o size=8k tmpfs '" + mod_ + "' && ln -s '" TESSIVARCTL "' '" + mod_ +
        "/tessivarctl' && { dd if=/dev/zero of='" + mod_ + "/fill' bs=1k count=64 2>/dev/null; '" +
        mod_ + "/tessivarctl' profile performance > '" + root_ + "/out' 2>&1; echo \\$? > '" +
        root_ + "/rc'; ls -A '" + mod_ + "' > '" + root_ + "/listing'; }";
    system(("unshare -m sh -c \"" + script + "\"").c_str());
    if (!exists(root_ + "/rc")) GTEST_SKIP() << "no private mount namespace here (needs root)";
    EXPECT_EQ(read_file(root_ + "/rc"), "1\n");
    const std::string out = read_file(root_ + "/out");
    EXPECT_NE(out.find("performance: could not record the device's settings; nothing changed\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(governors(), kOriginalGovernors);
    // No snapshot and no temporary file left in the full directory.
    EXPECT_EQ(read_file(root_ + "/listing"), ".profile.lock\nfill\ntessivarctl\n");
}

// An unwritable module directory fails at once with one line; nothing waits or spins.
TEST_F(ProfileTest, AnUnwritableModuleDirectoryFailsAtOnce) {
    const std::string script = "mount -o bind,ro '" + mod_ + "' '" + mod_ + "' && exec '" + mod_ +
                               "/tessivarctl' profile performance > '" + root_ + "/out' 2>&1";
    const int status = system(("timeout 10 unshare -m sh -c \"" + script + "\"").c_str());
    if (read_file(root_ + "/out").empty()) GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(read_file(root_ + "/out"), "performance: cannot write to " + mod_ +
                                             " (Read-only file system); nothing changed\n");
    EXPECT_EQ(governors(), kOriginalGovernors);
}

// The lock is the kernel's: a holder killed with SIGKILL holds nothing; a live one is waited for.
TEST_F(ProfileTest, AKilledLockHolderBlocksNothingAndALiveOneIsWaitedFor) {
    const pid_t holder = fork();
    if (holder == 0) {
        const int fd = open(mod(".profile.lock").c_str(), O_RDWR | O_CREAT, 0600);
        flock(fd, LOCK_EX);
        write_file(root_ + "/locked", "");
        pause();
        _exit(0);
    }
    ASSERT_TRUE(ctl::eventually([&] { return exists(root_ + "/locked"); }));
    const pid_t waiting = start_ctl({"profile", "performance"}, root_ + "/waiting");
    poll(nullptr, 0, 300);
    EXPECT_EQ(waitpid(waiting, nullptr, WNOHANG), 0) << "did not wait for the holder";
    EXPECT_EQ(governors(), kOriginalGovernors);
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    waitpid(waiting, nullptr, 0);
    EXPECT_EQ(read_file(root_ + "/waiting"), kBoostedLine);
    EXPECT_EQ(governors(), kBoostedGovernors);
}

// Launched while another holds the lock, the later launch wins whichever gets the lock first.
TEST_F(ProfileTest, TheLastLaunchedIsTheOneInForce) {
    for (const bool performance_last : {true, false}) {
        const int fd = open(mod(".profile.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_EQ(flock(fd, LOCK_EX), 0);
        const char* first = performance_last ? "balanced" : "performance";
        const char* last = performance_last ? "performance" : "balanced";
        const pid_t a = start_ctl({"profile", first}, root_ + "/a");
        poll(nullptr, 0, 50);  // a later tick of the clock
        const pid_t b = start_ctl({"profile", last}, root_ + "/b");
        poll(nullptr, 0, 100);
        close(fd);
        waitpid(a, nullptr, 0);
        waitpid(b, nullptr, 0);
        EXPECT_EQ(profile_in_force(), std::string(last) + "\n");
        EXPECT_EQ(governors(), performance_last ? kBoostedGovernors : kOriginalGovernors);
    }
}

// SIGKILL right after each device write of a profile run; the balanced that follows (as the
// supervisor runs one) puts the device's own values back byte for byte.
TEST_F(ProfileTest, AKillAtAnyWriteIsUndoneByTheNextBalanced) {
    for (const char* killed : {"performance", "balanced"}) {
        for (int write = 1;; ++write) {
            SCOPED_TRACE(std::string(killed) + " killed after write " + std::to_string(write));
            if (std::string(killed) == "balanced")
                ASSERT_EQ(ctl({"profile", "performance"}).status, 0);
            write_file(dev("/writes"), "0\n");
            write_file(dev("/kill-at"), std::to_string(write) + "\n");
            const auto run = ctl({"profile", killed});
            unlink(dev("/kill-at").c_str());
            const bool was_killed = run.status == 128 + SIGKILL;
            EXPECT_EQ(ctl({"profile", "balanced"}).status, 0);
            EXPECT_EQ(governors(), kOriginalGovernors);
            EXPECT_EQ(tunables(), kOriginalTunables);
            EXPECT_EQ(held(), "");
            if (!was_killed) break;  // past the run's last write
            ASSERT_LT(write, 40);
        }
    }
}

// The manager's switch: no boost while the module is switched off or to be removed.
TEST_F(ProfileTest, TheManagersSwitchIsHonoured) {
    for (const char* flag : {"disable", "remove"}) {
        ASSERT_EQ(ctl({"profile", "performance"}).out, kBoostedLine);
        write_file(mod(flag), "");
        EXPECT_EQ(ctl({"profile", "performance"}).out,
                  "performance: the module is switched off in the root manager; balanced profile "
                  "kept\n");
        EXPECT_EQ(governors(), kOriginalGovernors) << flag;
        unlink(mod(flag).c_str());
    }
}

// After a stop nothing boosts until a supervisor starts again in this boot: not a launch that
// was waiting for the lock when the stop came, not one that comes after it.
TEST_F(ProfileTest, AfterAStopNothingBoostsUntilASupervisorStarts) {
    for (const bool waiting_launch : {true, false}) {
        SCOPED_TRACE(waiting_launch ? "launched before the stop" : "launched after the stop");
        ASSERT_EQ(ctl({"profile", "balanced", "--start"}).status, 0);
        ASSERT_EQ(ctl({"profile", "performance"}).out, kBoostedLine);
        const int fd = open(mod(".profile.lock").c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_EQ(flock(fd, LOCK_EX), 0);
        pid_t early = 0;
        if (waiting_launch) early = start_ctl({"profile", "performance"}, root_ + "/early");
        const pid_t stop = start_ctl({"stop"}, root_ + "/stop");
        poll(nullptr, 0, 100);
        close(fd);
        waitpid(stop, nullptr, 0);
        if (early) waitpid(early, nullptr, 0);
        EXPECT_EQ(ctl({"profile", "performance"}).out,
                  "performance: Tessivar is stopped; balanced profile kept\n");
        EXPECT_EQ(governors(), kOriginalGovernors);
        EXPECT_EQ(tunables(), kOriginalTunables);
        EXPECT_EQ(profile_in_force(), "stopped\n");
        EXPECT_NE(ctl({"status"}).out.find("Profile in force: stopped\n"), std::string::npos);
    }
    // A supervisor's start ends it.
    EXPECT_EQ(ctl({"profile", "balanced", "--start"}).status, 0);
    EXPECT_EQ(ctl({"profile", "performance"}).out, kBoostedLine);
}

// A policy that is gone when the game ends (hotplug) keeps its recorded settings: it is
// pending, shown as such, the next game's snapshot keeps its own values, and a retry puts it
// back once it returns.
TEST_F(ProfileTest, ANodeGoneAtRestoreIsKeptAndPutBackWhenItReturns) {
    const std::string policy4 = dev(std::string(kPolicy) + "/policy4");
    ASSERT_EQ(ctl({"profile", "performance"}).out, kBoostedLine);
    ASSERT_EQ(rename(policy4.c_str(), (policy4 + ".offline").c_str()), 0);
    const auto out = ctl({"profile", "balanced"});
    EXPECT_EQ(
        out.out,
        "balanced: restored 5 setting(s) of the device's own, 3 refused (policy4 governor, "
        "policy4 boost, policy4 target_loads; kept to try again; restore pending: policy4)\n");
    EXPECT_NE(held().find("policy4/scaling_governor walt\n"), std::string::npos) << held();
    EXPECT_NE(ctl({"status"}).out.find("Profile in force: balanced; restore pending: policy4\n"),
              std::string::npos);
    EXPECT_NE(ctl({"status", "--json"}).out.find("\"restorePending\":[\"policy4\"]"),
              std::string::npos);
    // Nothing back yet: a retry says nothing and changes nothing.
    EXPECT_EQ(ctl({"profile", "retry"}).out, "");

    // The node comes back still boosted; a game in between keeps its own values on record.
    ASSERT_EQ(rename((policy4 + ".offline").c_str(), policy4.c_str()), 0);
    ASSERT_EQ(ctl({"profile", "performance"}).out, kBoostedLine);
    EXPECT_NE(held().find("policy4/scaling_governor walt\n"), std::string::npos) << held();
    ASSERT_EQ(rename(policy4.c_str(), (policy4 + ".offline").c_str()), 0);
    ctl({"profile", "balanced"});
    ASSERT_EQ(rename((policy4 + ".offline").c_str(), policy4.c_str()), 0);
    EXPECT_EQ(ctl({"profile", "retry"}).out,
              "balanced: retried the restore: restored 3 setting(s) of the device's own, 0 "
              "refused\n");
    EXPECT_EQ(governors(), kOriginalGovernors);
    EXPECT_EQ(tunables(), kOriginalTunables);
    EXPECT_EQ(held(), "");
    EXPECT_EQ(profile_in_force(), "balanced\n");
    // A retry is no launch: with a game in force it does nothing.
    ASSERT_EQ(ctl({"profile", "performance"}).out, kBoostedLine);
    EXPECT_EQ(ctl({"profile", "retry"}).out, "");
    EXPECT_EQ(governors(), kBoostedGovernors);
}

// A tunable up to a page long goes back byte for byte; one that cannot be recorded keeps its
// node from being boosted, and says so.
TEST_F(ProfileTest, LongValuesAreRecordedOrTheirNodeIsNotBoosted) {
    const std::string loads = dev(std::string(kPolicy) + "/policy4/walt/target_loads");
    std::string value = "80";
    for (int khz = 300000; value.size() < 4000; khz += 19200)
        value += " " + std::to_string(khz) + ":" + std::to_string(70 + khz % 29);
    for (const size_t size : {280, 4095}) {
        SCOPED_TRACE(size);
        write_file(loads, value.substr(0, size) + "\n");
        ASSERT_EQ(ctl({"profile", "performance"}).out, kBoostedLine);
        ASSERT_EQ(ctl({"profile", "balanced"}).status, 0);
        EXPECT_EQ(read_file(loads), value.substr(0, size) + "\n");
        EXPECT_EQ(governors(), kOriginalGovernors);
    }
    write_file(loads, value + value + "\n");  // more than a page: no sysfs file shows that
    EXPECT_EQ(ctl({"profile", "performance"}).out,
              "performance: max, the default preset (game unknown: not launched by Tessivar): "
              "governor set to performance on: policy0 kgsl-3d0\n"
              "performance: not boosted, since a setting could not be recorded: policy4 "
              "target_loads\n");
    EXPECT_EQ(governors(), "performance walt schedutil walt performance bw_hwmon");
    ASSERT_EQ(ctl({"profile", "balanced"}).status, 0);
    EXPECT_EQ(read_file(loads), value + value + "\n");
}

// walt's load_map and a governor's freq_hist are tables the kernel fills itself (and shows its
// own again when the governor is back): max passes them over and says so, instead of leaving
// the policy unboosted. A tunable the kernel will not take back once its governor is back is
// its own too: passed over at the restore, never pending (a retry would wake the phone all boot).
TEST_F(ProfileTest, TablesAndTunablesTheKernelKeepsItselfNeitherBlockTheBoostNorStayPending) {
    const std::string p = dev(kPolicy);
    const std::string hist = "300000 0 12\n1804800 9 0\n";
    const std::string map = "0 10 20 30\n40 50 60 70\n";
    write_file(p + "/policy0/schedutil/freq_hist", hist);
    write_file(dev("/defaults/schedutil/freq_hist"), hist);
    write_file(p + "/policy4/walt/load_map", map);
    write_file(dev("/defaults/walt/load_map"), map);
    write_file(p + "/policy4/walt/boost", "5\n");
    write_file(dev("/keeps-own"), std::string(kPolicy) + "/policy4/walt/boost 0\n");
    EXPECT_EQ(ctl({"profile", "performance"}).out,
              std::string(kBoostedLine) +
                  "performance: passed over, not recorded: policy0 freq_hist, policy4 load_map "
                  "(tables the kernel fills itself; the governor shows its own again when it is "
                  "back)\n");
    EXPECT_EQ(governors(), kBoostedGovernors);
    EXPECT_EQ(ctl({"profile", "balanced"}).out,
              "balanced: restored 7 setting(s) of the device's own, 0 refused; passed over "
              "policy4 boost: the kernel does not take it back, its governor keeps its own\n");
    EXPECT_EQ(governors(), kOriginalGovernors);
    EXPECT_EQ(read_file(p + "/policy0/schedutil/freq_hist"), hist);
    EXPECT_EQ(read_file(p + "/policy4/walt/load_map"), map);
    EXPECT_EQ(read_file(p + "/policy4/walt/boost"), "0\n");
    EXPECT_EQ(held(), "");
    EXPECT_EQ(ctl({"profile", "retry"}).out, "");
}

// /data remounted read-only: the restore needs no write there, and says what it could not drop.
TEST_F(ProfileTest, AReadOnlyModuleDirectoryStillRestores) {
    ASSERT_EQ(ctl({"profile", "performance"}).out, kBoostedLine);
    for (const char* command : {"profile balanced", "stop"}) {
        SCOPED_TRACE(command);
        const std::string script = "mount -o bind,ro '" + mod_ + "' '" + mod_ + "' && exec '" +
                                   mod_ + "/tessivarctl' " + command + " > '" + root_ +
                                   "/out' 2>&1";
        const int status = system(("timeout 10 unshare -m sh -c \"" + script + "\"").c_str());
        if (read_file(root_ + "/out").empty()) GTEST_SKIP() << "no private mount namespace here";
        EXPECT_EQ(WEXITSTATUS(status), 0);
        const std::string out = read_file(root_ + "/out");
        EXPECT_NE(out.find("restored 8 setting(s) of the device's own, 0 refused\n"),
                  std::string::npos)
            << out;
        EXPECT_NE(out.find("balanced: could not update " + mod_ +
                           "/current_profile (Read-only file system); the device's settings are "
                           "back, the record of them stays\n"),
                  std::string::npos)
            << out;
        EXPECT_EQ(governors(), kOriginalGovernors);
        EXPECT_EQ(tunables(), kOriginalTunables);
        ASSERT_EQ(ctl({"profile", "performance"}).out, kBoostedLine);
    }
}

}  // namespace
