// Recording game sessions with the real supervisor against a fake device whose values move
// over a scripted session (a throttle, a charger, a counter reset, a cluster going offline),
// frames from a stand-in dumpsys, a kill in the middle of a session, and the bound on what is
// kept.
#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ctl_sandbox.h"

namespace {

using ctl::eventually;
using ctl::exists;
using ctl::read_file;
using ctl::write_file;

const std::string kCpufreq = "/sys/devices/system/cpu/cpufreq";
const std::string kBattery = "/sys/class/power_supply/battery";

// The dump of a recent release's timestats with one layer of the game.
std::string timestats(int total, int dropped, int at16, int at33) {
    auto histogram = [](int a, int b) {
        std::string line;
        const int buckets[] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,
                               17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33};
        for (int ms : buckets)
            line += std::to_string(ms) + "ms=" +
                    std::to_string(ms == 16   ? a
                                   : ms == 33 ? b
                                              : 0) +
                    " ";
        line.back() = '\n';
        return line;
    };
    return "SurfaceFlinger TimeStats:\nLegacy stats are as follows:\ntotalFrames = 99999\n"
           "\nlayerName = SurfaceView[com.example.game/.Main]#0\npackageName = "
           "com.example.game\ntotalFrames = " +
           std::to_string(total) + "\ndroppedFrames = " + std::to_string(dropped) +
           "\npresent2present histogram is as below:\n" + histogram(at16, at33);
}

class SessionTest : public CtlTest {
protected:
    void SetUp() override {
        CtlTest::SetUp();
        for (const char* policy : {"policy0", "policy4"}) {
            const std::string dir = dev(kCpufreq + "/" + policy);
            system(("mkdir -p '" + dir + "/stats'").c_str());
            write_file(dir + "/scaling_cur_freq", "1000000\n");
            write_file(dir + "/scaling_max_freq", "2000000\n");
        }
        cpu_ticks(0);
        system(("mkdir -p '" + dev(kBattery) + "'").c_str());
        write_file(dev(kBattery + "/current_now"), "-500000\n");  // 500 mA at 4 V: 2000 mW
        write_file(dev(kBattery + "/voltage_now"), "4000000\n");
        write_file(dev(kBattery + "/temp"), "350\n");
        write_file(dev(kBattery + "/capacity"), "80\n");
        write_file(dev(kBattery + "/status"), "Discharging\n");
        write_file(dev("/sys/class/kgsl/kgsl-3d0/gpubusy"), "   250    1000\n");
        write_file(dev("/sys/class/kgsl/kgsl-3d0/devfreq/cur_freq"), "585000000\n");
        // dumpsys: SurfaceFlinger's statistics from a file; no thermal service (Android 9).
        const std::string bin = root_ + "/bin";
        mkdir(bin.c_str(), 0755);
        write_file(bin + "/dumpsys", "#!/bin/sh\n[ \"$1\" = SurfaceFlinger ] || exit 1\ncat '" +
                                         root_ + "/timestats'\n");
        chmod((bin + "/dumpsys").c_str(), 0755);
        setenv("PATH", (bin + ":" + getenv("PATH")).c_str(), 1);
        write_file(root_ + "/timestats", timestats(1000, 10, 1000, 0));
    }
    // policy0's time_in_state with `top` ticks at its highest step; policy4's too, if present.
    void cpu_ticks(int top) {
        for (const char* policy : {"policy0", "policy4"}) {
            const std::string stats = dev(kCpufreq + "/" + policy + "/stats");
            if (exists(stats))
                write_file(
                    stats + "/time_in_state",
                    "300000 500\n1000000 500\n1500000 500\n2000000 " + std::to_string(top) + "\n");
        }
    }
    void start_supervisor() {
        supervisor_ = start_ctl({"supervise"}, root_ + "/supervisor-output");
        ASSERT_TRUE(eventually([&] { return exists(mod("tessivar.daemon.pid")); }));
    }
    // The session file's rows so far.
    std::vector<std::string> rows() const {
        std::vector<std::string> found;
        DIR* d = opendir(mod("sessions").c_str());
        std::string file;
        while (dirent* e = d ? readdir(d) : nullptr) {
            const std::string name = e->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tsv") == 0 && name > file)
                file = name;
        }
        if (d) closedir(d);
        if (file.empty()) return found;
        const std::string text = read_file(mod("sessions/" + file));
        size_t at = 0;
        for (size_t nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
            if (text[at] != '#') found.push_back(text.substr(at, nl - at));
        return found;
    }
    // Waits until the supervisor has taken `more` samples beyond those there now.
    void samples(size_t more) {
        const size_t now = rows().size();
        ASSERT_TRUE(eventually([&] { return rows().size() >= now + more; }));
    }
    void play(const std::string& game) {
        write_file(mod("last_change"), "boot-1\n1 " + game + "\n");
        ASSERT_EQ(ctl_piped({"profile", "performance"}).rfind("performance: max for " + game, 0),
                  0u);
    }
    pid_t supervisor_ = 0;
};

TEST_F(SessionTest, AScriptedSessionIsSummarizedAsComputedByHand) {
    start_supervisor();
    play("com.example.game");
    ASSERT_TRUE(eventually([&] { return rows().size() >= 1; }));
    int ticks = 0;
    for (int step = 0; step < 3; ++step) {  // the top step only, by 100 ticks each time
        cpu_ticks(ticks += 100);
        samples(1);
    }
    write_file(dev(kBattery + "/temp"), "412\n");
    write_file(dev(kCpufreq + "/policy4/scaling_max_freq"), "1500000\n");  // throttled
    samples(2);
    write_file(dev(kCpufreq + "/policy4/scaling_max_freq"), "2000000\n");
    write_file(dev(kBattery + "/status"), "Charging\n");  // plugged in: no energy counted
    write_file(dev(kBattery + "/current_now"), "900000\n");
    samples(2);
    // Off the charger: the current first, so no sample pairs a discharge with its current.
    write_file(dev(kBattery + "/current_now"), "-500000\n");
    write_file(dev(kBattery + "/status"), "Discharging\n");
    cpu_ticks(ticks = 50);  // the counter was reset: no share for that interval, no spike
    samples(2);
    system(("rm -rf '" + dev(kCpufreq + "/policy4/stats") + "'").c_str());  // policy4 goes offline
    cpu_ticks(ticks += 100);
    samples(2);
    write_file(root_ + "/timestats", timestats(4000, 13, 3900, 100));
    ASSERT_EQ(ctl({"profile", "balanced"}).status, 0);
    ASSERT_TRUE(eventually([&] { return exists(mod("sessions/index")); }));

    const std::string json = ctl({"sessions", "--json"}).out;
    const auto has = [&](const std::string& what) {
        EXPECT_NE(json.find(what), std::string::npos) << what << " in " << json;
    };
    has("\"game\":\"com.example.game\",\"preset\":\"max\"");
    has("\"meanMw\":2000,");  // the charger's samples left out
    has("\"peakTempC\":41.2,");
    // 3,000 frames, 3 dropped: 2,900 of 16 ms and 100 of 33 ms, 3,000 in 49,700 ms; the slowest
    // twentieth (150 frames) reaches down into the 16 ms ones.
    has("\"frames\":{\"total\":3000,\"dropped\":3,\"fps\":60.36,\"lowFps\":62.50}");
    const std::string summary = read_file(mod("sessions/index"));
    EXPECT_NE(summary.find(" top_permille=1000,"), std::string::npos) << summary;
    EXPECT_EQ(summary.find(" throttled_samples=0 "), std::string::npos) << summary;
    EXPECT_NE(summary.find(" discharging_s="), std::string::npos);
    // Every row of the session: the charger marked, the throttle seen, policy4 unknown once off.
    int charging = 0;
    int throttled = 0;
    for (const auto& row : rows()) {
        charging += row.find("\t1\t", row.find('\t')) == row.find('\t');
        throttled += row.find("\t1500000") != std::string::npos;
    }
    EXPECT_GE(charging, 2);
    EXPECT_GE(throttled, 2);
    EXPECT_NE(rows().back().rfind("\t-1\t1000000\t2000000"), std::string::npos) << rows().back();
    // Under a minute: in seconds, as the page shows it.
    const std::string printed = ctl({"sessions"}).out;
    EXPECT_EQ(printed.rfind("com.example.game (max): ", 0), 0u) << printed;
    EXPECT_NE(printed.find(" s, 60.4 fps (5th percentile 62.5), 3 dropped, "), std::string::npos)
        << printed;
}

// The clusters' CPUs come with a session's rows, from the cpuN/cpufreq links (policy0 drives
// 0-3, policy4 4-5, policy6 and policy7 one each; cpu8 has no cpufreq).
TEST_F(SessionTest, ASessionNamesTheCpusOfEachCluster) {
    const char* owner[] = {"policy0", "policy0", "policy0", "policy0",
                           "policy4", "policy4", "policy6", "policy7"};
    for (int cpu = 0; cpu < 9; ++cpu) {
        const std::string dir = dev("/sys/devices/system/cpu/cpu" + std::to_string(cpu));
        system(("mkdir -p '" + dir + "'").c_str());
        if (cpu < 8)
            ASSERT_EQ(symlink(("../cpufreq/" + std::string(owner[cpu])).c_str(),
                              (dir + "/cpufreq").c_str()),
                      0);
    }
    start_supervisor();
    play("com.example.game");
    samples(1);
    ASSERT_EQ(ctl({"profile", "balanced"}).status, 0);
    ASSERT_TRUE(eventually([&] { return exists(mod("sessions/index")); }));
    const std::string json = ctl({"sessions", "--json"}).out;
    const size_t at = json.find("\"start\":");
    ASSERT_NE(at, std::string::npos) << json;
    const std::string start = json.substr(at + 8, json.find(',', at) - at - 8);
    const std::string shown = ctl({"sessions", "show", start}).out;
    EXPECT_NE(shown.find(",\"clusters\":[\"0-3\",\"4-5\",\"6\",\"7\"],\"rows\":["),
              std::string::npos)
        << shown;
}

// SIGKILL of the supervisor mid-session: the next start summarizes what the session had (its
// frames unknown); nothing between games.
TEST_F(SessionTest, AKilledSupervisorLeavesAReadableSession) {
    start_supervisor();
    play("com.example.game");
    samples(3);
    kill(supervisor_, SIGKILL);
    waitpid(supervisor_, nullptr, 0);
    const size_t had = rows().size();
    start_supervisor();
    ASSERT_TRUE(eventually([&] { return exists(mod("sessions/index")); }));
    const std::string json = ctl({"sessions", "--json"}).out;
    EXPECT_NE(json.find("\"samples\":" + std::to_string(had)), std::string::npos) << json;
    EXPECT_NE(json.find("\"frames\":null"), std::string::npos) << json;
    EXPECT_NE(ctl({"sessions"}).out.find("frames: not available"), std::string::npos);
    // The profile restored at start ended the game: no sampling between games.
    const size_t after = rows().size();
    poll(nullptr, 0, 500);
    EXPECT_EQ(rows().size(), after);
}

// A hundred sessions on record: the last 30 stay, within 2 MiB with their summaries.
TEST_F(SessionTest, AHundredSessionsStayWithinTheBound) {
    mkdir(mod("sessions").c_str(), 0755);
    const std::string row =
        "5000\t0\t2000\t350\t80\t0\t0\t250\t585000\t2\t100\t1000000\t2000000\t"
        "100\t1000000\t2000000\n";
    std::string body;
    while (body.size() < 60 * 1024)
        body += row;
    for (int i = 0; i < 100; ++i) {
        const std::string start = std::to_string(1765000000 + i * 3600);
        write_file(
            mod("sessions/" + start + "-com.game.n" + std::to_string(i) + ".tsv"),
            "# session " + start + " com.game.n" + std::to_string(i) + " sustained\n" + body);
    }
    start_supervisor();
    ASSERT_TRUE(eventually([&] {
        return read_file(mod("sessions/index")).find("com.game.n99") != std::string::npos;
    }));
    long long bytes = 0;
    int files = 0;
    DIR* d = opendir(mod("sessions").c_str());
    while (dirent* e = d ? readdir(d) : nullptr) {
        if (e->d_name[0] == '.') continue;
        struct stat info;
        stat(mod(std::string("sessions/") + e->d_name).c_str(), &info);
        bytes += info.st_size;
        files += std::string(e->d_name).find(".tsv") != std::string::npos;
    }
    if (d) closedir(d);
    EXPECT_LE(files, 30);
    EXPECT_LE(bytes, 2 * 1024 * 1024);
    const std::string index = read_file(mod("sessions/index"));
    EXPECT_LE(std::count(index.begin(), index.end(), '\n'), 30);
    EXPECT_EQ(index.find("com.game.n0 "), std::string::npos) << "the oldest is gone";
}

}  // namespace
