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
#include "timestats_dump.h"

namespace {

using ctl::eventually;
using ctl::exists;
using ctl::read_file;
using ctl::write_file;

const std::string kCpufreq = "/sys/devices/system/cpu/cpufreq";
const std::string kBattery = "/sys/class/power_supply/battery";

const std::string kGameLayer = "SurfaceView[com.example.game/com.example.game.Main](BLAST)#0";

// The newest release's timestats (packageName printed empty) with one layer of the game, uid
// 10123, as packages.list gives it.
std::string timestats(int total, int dropped, int at16, int at33,
                      long long stats_start = 1700000000, const std::string& layer = kGameLayer,
                      int uid = 10123) {
    return dump::newest({{layer, uid, "", total, dropped, {{16, at16}, {33, at33}}},
                         {"com.android.systemui/StatusBar#0", 10050, "", 9000, 0, {{16, 9000}}}},
                        stats_start);
}

// A layer's name as the JSON prints it ('#' escaped, as every character a bridge may eat).
std::string in_json(std::string text) {
    for (size_t at; (at = text.find('#')) != std::string::npos;)
        text.replace(at, 1, "\\u0023");
    return text;
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
        system(("mkdir -p '" + dev(kBattery) + "' '" + dev("/data/system") + "'").c_str());
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
        // Settings.writePackageList's line of each game.
        write_file(dev("/data/system/packages.list"),
                   "com.android.systemui 10050 0 /data/user_de/0/com.android.systemui "
                   "platform:privapp:targetSdkVersion=34 1065,3002 0 34 1 @system\n"
                   "com.example.game 10123 0 /data/user/0/com.example.game "
                   "default:targetSdkVersion=33 3003 0 1207 1 com.android.vending\n"
                   "com.example.other 10124 0 /data/user/0/com.example.other "
                   "default:targetSdkVersion=33 none 0 3 1 @null\n");
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
    // The processes of the top-app cpuset, each with its name ("pid name" per entry).
    void in_front(const std::vector<std::pair<int, std::string>>& processes) {
        std::string procs;
        for (const auto& [pid, name] : processes) {
            const std::string dir = dev("/proc/" + std::to_string(pid));
            mkdir(dir.c_str(), 0755);
            write_file(dir + "/cmdline", name + std::string(1, '\0'));
            procs += std::to_string(pid) + "\n";
        }
        system(("mkdir -p '" + dev("/dev/cpuset/top-app") + "'").c_str());
        write_file(dev("/dev/cpuset/top-app/cgroup.procs"), procs);
    }
    std::string log() const { return read_file(mod("tessivar.log")); }
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
    has("\"fpsSource\":null,\"fpsNode\":null,\"fpsMean\":null");  // this phone has no node
    // 3,000 frames, 3 dropped: 2,900 of 16 ms and 100 of 33 ms, 3,000 in 49,700 ms; the slowest
    // twentieth (150 frames) reaches down into the 16 ms ones.
    has("\"frames\":{\"total\":3000,\"dropped\":3,\"fps\":60.36,\"lowFps\":62.50,"
        "\"reset\":false,\"layers\":[\"" +
        in_json(kGameLayer) + "\"]}");
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
    EXPECT_NE(ctl({"sessions"}).out.find(", frame rate over time: not reported by this phone"),
              std::string::npos);
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

// The newest Android in each unit system: the game's layer known by its uid and name (the
// dump leaves packageName empty), bypass charging ("Not charging" at a few mA) marked, left out
// of energy and never read as amps, the platform clearing the frame counters mid-session, and
// the display's frame rate read with each sample from its sysfs node.
TEST_F(SessionTest, NewestAndroidBypassChargingAndTheFrameRateOverTime) {
    const struct {
        const char* game;
        const char* layer;
        int uid;
        const char* discharging;  // current_now, 500 mA
        const char* bypass;       // current_now, 3 mA into the battery
        const char* voltage;      // 4 V
        const char* units;
        const char* node;  // the frame-rate node and what it shows during and after the bypass
        const char* fps;
        const char* slower;
        const char* source;
    } phones[] = {
        {"com.example.game", kGameLayer.c_str(), 10123, "-500000", "3000", "4000000",
         "{\"current\":\"uA\",\"voltage\":\"uV\"}", "/sys/class/drm/sde-crtc-0/measured_fps",
         "fps: 59.9 duration:1000000 frame_count:60\n",
         "fps: 30.0 duration:1000000 frame_count:30\n", "drm"},
        {"com.example.other", "SurfaceView - com.example.other/com.example.other.Main#0", 10124,
         "-500", "3", "4000", "{\"current\":\"mA\",\"voltage\":\"mV\"}",
         "/sys/class/graphics/fb0/measured_fps", "59.9\n", "30.0\n", "fb"},
    };
    start_supervisor();
    for (const auto& phone : phones) {
        SCOPED_TRACE(phone.game);
        system(("rm -rf '" + dev("/sys/class/drm") + "' '" + dev("/sys/class/graphics") + "'")
                   .c_str());
        const std::string node = phone.node;
        system(("mkdir -p '" + dev(node.substr(0, node.rfind('/'))) + "'").c_str());
        write_file(dev(node), phone.fps);
        write_file(dev(kBattery + "/current_now"), std::string(phone.discharging) + "\n");
        write_file(dev(kBattery + "/voltage_now"), std::string(phone.voltage) + "\n");
        write_file(dev(kBattery + "/status"), "Discharging\n");
        write_file(root_ + "/timestats",
                   timestats(5000, 20, 5000, 0, 1700000000, phone.layer, phone.uid));
        play(phone.game);
        ASSERT_TRUE(eventually([&] { return rows().size() >= 1; }));
        samples(2);
        // Bypass charging: the charger feeds the phone, a few mA reach the battery.
        write_file(dev(kBattery + "/status"), "Not charging\n");
        write_file(dev(kBattery + "/current_now"), std::string(phone.bypass) + "\n");
        write_file(dev(node), phone.slower);
        samples(3);
        write_file(dev(kBattery + "/current_now"), std::string(phone.discharging) + "\n");
        write_file(dev(kBattery + "/status"), "Discharging\n");
        samples(2);
        // The platform's statistics pull cleared the layers: 1,200 frames since.
        write_file(root_ + "/timestats",
                   timestats(1200, 2, 1100, 100, 1700000000, phone.layer, phone.uid));
        const std::vector<std::string> kept = rows();
        ASSERT_EQ(ctl({"profile", "balanced"}).status, 0);
        ASSERT_TRUE(eventually([&] {
            return read_file(mod("sessions/index")).find(phone.game) != std::string::npos;
        }));

        const std::string all = ctl({"sessions", "--json"}).out;
        const size_t at = all.find("\"game\":\"" + std::string(phone.game) + "\"");
        ASSERT_NE(at, std::string::npos) << all;
        const size_t from = all.rfind("{\"start\":", at);
        const std::string json = all.substr(from, all.find("{\"start\":", at) - from);
        const auto has = [&](const std::string& what) {
            EXPECT_NE(json.find(what), std::string::npos) << what << " in " << json;
        };
        has("\"meanMw\":2000,");  // the discharging samples alone
        has("\"units\":" + std::string(phone.units));
        has("\"frames\":{\"total\":1200,\"dropped\":2,\"fps\":");
        has("\"reset\":true,\"layers\":[\"" + in_json(phone.layer) + "\"]}");
        has("\"fpsSource\":\"" + std::string(phone.source) + "\",\"fpsNode\":\"" + node + "\"");
        has("\"format\":2");
        // The bypass rows: marked "not charging" (2), 12 mW, never 12,000.
        int bypass = 0;
        for (const auto& row : kept) {
            if (row.find('\t') == std::string::npos) continue;
            const std::string charging = row.substr(row.find('\t') + 1, 2);
            if (charging != "2\t") continue;
            ++bypass;
            EXPECT_EQ(row.substr(row.find('\t') + 3, 3), "12\t") << row;
        }
        EXPECT_GE(bypass, 2);
        // The frame rate over time, with each row.
        const long long start = atoll(json.c_str() + 9);
        const std::string show = ctl({"sessions", "show", std::to_string(start)}).out;
        EXPECT_NE(show.find("\"fps\":[59.9,"), std::string::npos) << show;
        EXPECT_NE(show.find(",30.0,"), std::string::npos) << show;
        EXPECT_NE(ctl({"sessions"}).out.find("the platform cleared its frame counters"),
                  std::string::npos);
    }
}

// FPSGO switched off prints nothing: no frame-rate node, said so (and never read each sample).
TEST_F(SessionTest, FpsgoSwitchedOffIsNoFrameRateNode) {
    system(("mkdir -p '" + dev("/sys/kernel/fpsgo/fstb") + "'").c_str());
    write_file(dev("/sys/kernel/fpsgo/fstb/fpsgo_status"), "");
    start_supervisor();
    play("com.example.game");
    samples(1);
    ASSERT_EQ(ctl({"profile", "balanced"}).status, 0);
    ASSERT_TRUE(eventually([&] { return exists(mod("sessions/index")); }));
    EXPECT_NE(ctl({"sessions", "--json"}).out.find("\"fpsSource\":null"), std::string::npos);
    EXPECT_NE(ctl({"sessions"}).out.find(", frame rate over time: not reported by this phone"),
              std::string::npos);
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

// A hundred sessions on record, as a crash left them (not summarized yet) or as an update
// carried them over from a version that kept more (summarized): the last 30 stay, within 2 MiB
// with their summaries, once the supervisor has started.
class HundredSessions : public SessionTest, public ::testing::WithParamInterface<bool> {};

TEST_P(HundredSessions, StayWithinTheBound) {
    const bool summarized = GetParam();
    mkdir(mod("sessions").c_str(), 0755);
    const std::string row =
        "5000\t0\t2000\t350\t80\t0\t0\t250\t585000\t2\t100\t1000000\t2000000\t"
        "100\t1000000\t2000000\n";
    std::string body;
    while (body.size() < 60 * 1024)
        body += row;
    std::string index;
    for (int i = 0; i < 100; ++i) {
        const std::string start = std::to_string(1765000000 + i * 3600);
        const std::string game = "com.game.n" + std::to_string(i);
        write_file(mod("sessions/" + start + "-" + game + ".tsv"),
                   "# session " + start + " " + game + " sustained\n" + body);
        index += "start=" + start + " game=" + game +
                 " preset=sustained duration_s=5 energy_mwh_x10=27 samples=13\n";
    }
    if (summarized) write_file(mod("sessions/index"), index);
    start_supervisor();
    const auto files = [&] {
        int n = 0;
        DIR* d = opendir(mod("sessions").c_str());
        while (dirent* e = d ? readdir(d) : nullptr)
            n += std::string(e->d_name).find(".tsv") != std::string::npos;
        if (d) closedir(d);
        return n;
    };
    ASSERT_TRUE(eventually([&] {
        return read_file(mod("sessions/index")).find("com.game.n99") != std::string::npos &&
               files() <= 30;
    })) << files();
    long long bytes = 0;
    DIR* d = opendir(mod("sessions").c_str());
    while (dirent* e = d ? readdir(d) : nullptr) {
        if (e->d_name[0] == '.') continue;
        struct stat info;
        stat(mod(std::string("sessions/") + e->d_name).c_str(), &info);
        bytes += info.st_size;
    }
    if (d) closedir(d);
    EXPECT_LE(bytes, 2 * 1024 * 1024);
    const std::string kept = read_file(mod("sessions/index"));
    EXPECT_LE(std::count(kept.begin(), kept.end(), '\n'), 30);
    EXPECT_EQ(kept.find("com.game.n0 "), std::string::npos) << "the oldest is gone";
}

INSTANTIATE_TEST_SUITE_P(AfterACrashOrAnUpdate, HundredSessions, ::testing::Bool());

// A game straight after a game: the daemon launches nothing while its mode stays performance,
// so the supervisor follows the top-app cpuset; the first game's max goes, the second game's
// sustained comes, and each game has its own session. Two listed games in front at once cannot
// be told apart: nothing changes, and the log says so.
TEST_F(SessionTest, AGameAfterAGameGetsItsOwnPresetAndSession) {
    write_file(mod("game.txt"), "com.example.game\ncom.other.game\n");
    write_file(mod("presets.txt"), "com.example.game max\ncom.other.game sustained\n");
    const std::string uclamp = dev("/dev/cpuctl/top-app/cpu.uclamp.min");
    system(("mkdir -p '" + dev("/dev/cpuctl/top-app") + "'").c_str());
    write_file(uclamp, "0.00\n");
    in_front({{610, "/system/bin/surfaceflinger"}, {1234, "com.example.game"}});
    write_file(mod("module.prop"), "id=Drovenmarke\ndescription=Switches governors.\n");
    start_supervisor();
    play("com.example.game");
    samples(2);
    EXPECT_EQ(governors(), kBoostedGovernors);

    in_front({{1234, "com.example.game"}, {1300, "<pre-initialized>"}, {2345, "com.other.game"}});
    samples(2);  // the first game still there: its launch stays
    EXPECT_EQ(governors(), kBoostedGovernors);
    // The third game listed before it comes to the front: a check between the two must not
    // see com.other.game as the one listed game there.
    write_file(mod("game.txt"), "com.example.game\ncom.other.game\ncom.third.game\n");
    in_front({{2345, "com.other.game"}, {2400, "com.third.game"}});
    ASSERT_TRUE(eventually([&] {
        return log().find(
                   "supervisor: the game in front is not followed: more than one listed "
                   "game in front\n") != std::string::npos;
    })) << log();
    EXPECT_EQ(governors(), kBoostedGovernors);
    // The record status reads is written just after the log line.
    EXPECT_TRUE(eventually([&] {
        return ctl({"status"})
                   .out.find(
                       "Game in front: not followed (more than one listed game in front); the "
                       "launch's game keeps its preset\n") != std::string::npos;
    })) << ctl({"status"}).out;

    in_front({{610, "/system/bin/surfaceflinger"}, {2345, "com.other.game"}});
    ASSERT_TRUE(eventually([&] {
        return ctl({"status"}).out.find("Preset in force: sustained for com.other.game") !=
               std::string::npos;
    })) << log();
    EXPECT_EQ(governors(), kOriginalGovernors);
    EXPECT_NE(tunables().find(" policy4/walt/target_loads=80 1516800:90"), std::string::npos);
    EXPECT_TRUE(eventually([&] {
        return read_file(mod("module.prop")).find("Status: performance for com.other.game |") !=
               std::string::npos;
    })) << read_file(mod("module.prop"));
    EXPECT_EQ(read_file(uclamp), "15\n");
    EXPECT_TRUE(eventually([&] {
        return log().find("performance: com.other.game is in front now: restored ") !=
               std::string::npos;
    })) << log();
    ASSERT_TRUE(eventually([&] {
        return read_file(mod("sessions/index")).find(" game=com.example.game preset=max ") !=
               std::string::npos;
    })) << read_file(mod("sessions/index"));
    samples(1);  // the second game's session is being recorded
    ASSERT_EQ(ctl({"profile", "balanced"}).status, 0);
    EXPECT_EQ(read_file(uclamp), "0.00\n");
    ASSERT_TRUE(eventually([&] {
        return read_file(mod("sessions/index")).find(" game=com.other.game preset=sustained ") !=
               std::string::npos;
    })) << read_file(mod("sessions/index"));
}

// A launch while the phone is already hot (43 °C on a phone without a thermal service) starts
// backed off: the daemon's change line is checked by the supervisor before the launch reads
// it, the boost is never applied, and it comes once the phone has been cool for a minute.
TEST_F(SessionTest, ALaunchWhileHotStartsBackedOff) {
    write_file(dev(kBattery + "/temp"), "430\n");
    write_file(mod("standin-mode"), "change:com.example.game");
    start_supervisor();
    ASSERT_TRUE(eventually([&] {
        return read_file(mod("last_change")) == "boot-1\n1 com.example.game\nhot MODERATE\n";
    })) << read_file(mod("last_change"));
    EXPECT_EQ(ctl_piped({"profile", "performance"}),
              "performance: max for com.example.game: backed off from the start (thermal "
              "MODERATE); applied once the phone has cooled\n");
    EXPECT_EQ(governors(), kOriginalGovernors);
    EXPECT_NE(ctl({"status"}).out.find("Back-off: thermal MODERATE since "), std::string::npos);
    samples(2);
    EXPECT_EQ(governors(), kOriginalGovernors);
    write_file(dev(kBattery + "/temp"), "350\n");
    ASSERT_TRUE(eventually([&] {
        return log().find("performance: re-armed after the thermal back-off\n") !=
               std::string::npos;
    })) << log();
    EXPECT_EQ(governors(), kBoostedGovernors);
}

// A knob the platform takes back mid-game (a Power HAL writing its default to the top-app
// uclamp floor): set to ours again at the next check and counted; a knob the system moved
// further our way, or a floor the kernel only clamps under a cap, is left as it is; and a writer
// that keeps at it has the knob left to it for the rest of the session, said once.
TEST_F(SessionTest, AKnobTakenBackIsSetAgainUntilAWriterKeepsAtIt) {
    write_file(mod("presets.txt"), "* sustained\n");
    const std::string uclamp = dev("/dev/cpuctl/top-app/cpu.uclamp.min");
    const std::string up_rate = dev(kCpufreq + "/policy4/walt/up_rate_limit_us");
    const std::string gpu = dev("/sys/class/kgsl/kgsl-3d0/devfreq");
    system(("mkdir -p '" + dev("/dev/cpuctl/top-app") + "'").c_str());
    write_file(uclamp, "0.00\n");
    write_file(up_rate, "2000\n");
    write_file(gpu + "/available_frequencies",
               "600000000 510000000 450000000 320000000 200000000\n");
    write_file(gpu + "/min_freq", "200000000\n");
    write_file(gpu + "/max_freq", "600000000\n");
    start_supervisor();
    write_file(mod("last_change"), "boot-1\n1 com.example.game\n");
    ASSERT_EQ(ctl_piped({"profile", "performance"}),
              "performance: sustained for com.example.game: top-app uclamp.min, up_rate_limit_us "
              "(policy4), GPU floor (kgsl-3d0); not on this kernel: interactive timer_rate\n");
    samples(1);

    write_file(uclamp, "0.00\n");  // the HAL's launch boost ends with its default
    ASSERT_TRUE(eventually([&] {
        return log().find(
                   "supervisor: set top-app cpu.uclamp.min back to 15 (taken back 1 "
                   "time)\n") != std::string::npos;
    })) << log();
    EXPECT_EQ(read_file(uclamp), "15\n");
    // The record status reads is written just after the log line.
    EXPECT_TRUE(eventually([&] {
        return ctl({"status"})
                   .out.find(
                       "Taken back by the system and set again: top-app cpu.uclamp.min (1 "
                       "time)\n") != std::string::npos;
    })) << ctl({"status"}).out;

    write_file(up_rate, "100\n");  // shortened further by the system: its value stands
    write_file(gpu + "/max_freq", "320000000\n");  // a thermal cap: the floor shows cut down
    write_file(gpu + "/min_freq", "320000000\n");
    samples(3);
    EXPECT_EQ(read_file(up_rate), "100\n");
    EXPECT_EQ(read_file(gpu + "/min_freq"), "320000000\n");
    EXPECT_EQ(log().find("up_rate_limit_us back"), std::string::npos) << log();
    EXPECT_EQ(log().find("min_freq back"), std::string::npos) << log();

    // Something that writes the HAL's default every second of the supervisor's.
    const pid_t writer = fork();
    if (writer == 0) {
        for (;;) {
            write_file(uclamp, "0.00\n");
            poll(nullptr, 0, 20);
        }
    }
    const bool left = eventually([&] {
        return log().find("supervisor: left to the system: top-app cpu.uclamp.min, taken back ") !=
               std::string::npos;
    });
    kill(writer, SIGKILL);  // before any assertion: a failed one must leave no writer running
    waitpid(writer, nullptr, 0);
    ASSERT_TRUE(left) << log();
    write_file(uclamp, "0.00\n");
    const size_t lines = log().size();
    samples(3);
    EXPECT_EQ(read_file(uclamp), "0.00\n");
    EXPECT_EQ(log().find("cpu.uclamp.min", lines), std::string::npos) << "said once: " << log();
    const std::string json = ctl({"status", "--json"}).out;
    EXPECT_NE(json.find("\"takenBack\":[{\"knob\":\"top-app cpu.uclamp.min\",\"times\":"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find(",\"left\":true}]"), std::string::npos) << json;
    EXPECT_NE(ctl({"status"}).out.find("Left to the system: top-app cpu.uclamp.min ("),
              std::string::npos);
    ASSERT_EQ(ctl({"profile", "balanced"}).status, 0);
    EXPECT_EQ(read_file(uclamp), "0.00\n");
    EXPECT_EQ(read_file(up_rate), "100\n");
    // The session's record says what the phone took back.
    ASSERT_TRUE(eventually([&] { return exists(mod("sessions/index")); }));
    const std::string sessions = ctl({"sessions", "--json"}).out;
    EXPECT_NE(sessions.find("\"takenBack\":[{\"knob\":\"top-app cpu.uclamp.min\",\"times\":"),
              std::string::npos)
        << sessions;
    EXPECT_NE(sessions.find(",\"left\":true}]"), std::string::npos) << sessions;
    const std::string plain = ctl({"sessions"}).out;
    EXPECT_NE(plain.find(", taken back by the phone: top-app cpu.uclamp.min "), std::string::npos)
        << plain;
    EXPECT_NE(plain.find(" times (then left to it)"), std::string::npos) << plain;
}

}  // namespace
