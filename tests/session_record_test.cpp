// The evidence's rules, driven directly: SurfaceFlinger's frame statistics in the layout of
// Android 10 and of a recent release (made from the platform's own source of the dump), the
// rows a session keeps, the battery's units, the clusters' top-frequency share, and a session's
// summary computed by hand.
#include "session_record.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "cluster_cpus.h"
#include "frame_rate.h"
#include "timestats.h"
#include "timestats_dump.h"

namespace {

using dump::Layer;

frame_counts parsed(const std::string& text, const char* package, long long uid = -1) {
    frame_counts f;
    parse_timestats(text, game_identity{package, uid}, &f);
    return f;
}

session_frames between(const frame_counts& start, const frame_counts& end, long long ms) {
    session_frames f;
    frames_between(start, end, ms, &f);
    return f;
}

int bucket(int ms) {
    for (int i = 0; i < FRAME_BUCKETS; ++i)
        if (FRAME_BUCKET_MS[i] == ms) return i;
    return -1;
}

// The game's layers by package (Android 10), by uid and by name (the newest, which leaves
// packageName empty); other apps' layers and the global part are never counted.
TEST(Timestats, TheGamesLayersInEitherLayout) {
    const std::vector<Layer> layers = {
        {"SurfaceView - com.example.game/com.example.game.Main#0",
         10123,
         "com.example.game",
         1000,
         7,
         {{16, 900}, {33, 100}}},
        {"com.android.systemui/StatusBar#0", 10050, "com.android.systemui", 5000, 0, {{16, 5000}}},
        {"com.example.gamepad/.Main#0", 10124, "com.example.gamepad", 300, 0, {{16, 300}}},
    };
    const struct {
        const char* what;
        std::string dump;
        long long uid;
        int layers;
    } cases[] = {
        {"Android 10, by package", dump::android10(layers), -1, 1},
        {"newest, by name", dump::newest(layers), -1, 1},
        {"newest, by uid", dump::newest(layers), 10123, 1},
    };
    for (const auto& c : cases) {
        const frame_counts f = parsed(c.dump, "com.example.game", c.uid);
        ASSERT_EQ(f.layers, c.layers) << c.what;
        EXPECT_EQ(f.record[0].total, 1000) << c.what;
        EXPECT_EQ(f.record[0].dropped, 7) << c.what;
        EXPECT_EQ(f.record[0].present_ms[bucket(16)], 900) << c.what;
        EXPECT_EQ(f.record[0].present_ms[bucket(33)], 100) << c.what;
        EXPECT_STREQ(f.record[0].name, "SurfaceView - com.example.game/com.example.game.Main#0");
        EXPECT_EQ(parsed(c.dump, "com.not.running", c.uid + 7).layers, 0) << c.what;
    }
    // Named by uid alone (a layer of the game's own name), in another user (uid 1010123); a
    // shared system uid names no game.
    const std::vector<Layer> by_uid = {
        {"Sprite#0", 1010123, "", 50, 0, {{16, 50}}},
        {"SurfaceView[com.g.x/com.g.x.A]#1", 1000, "", 70, 0, {{16, 70}}}};
    EXPECT_EQ(parsed(dump::newest(by_uid), "com.example.game", 10123).layers, 1);
    EXPECT_EQ(parsed(dump::newest(by_uid), "com.other", 1000).layers, 0);
    EXPECT_EQ(parsed(dump::newest(by_uid), "com.g.x", 1000).layers, 1);  // by its name
    // Every name a game's window takes, and names that only look alike.
    for (const auto& [name, ours] : std::map<std::string, int>{
             {"com.g.x/com.g.x.MainActivity#0", 1},
             {"SurfaceView[com.g.x/com.g.x.UnityPlayerActivity](BLAST)#1", 1},
             {"SurfaceView - com.g.x/com.g.x.MainActivity#0", 1},
             {"com.g.xy/com.g.xy.Main#0", 0},
             {"Splash Screen com.g.x#0", 0},
             {"com.g/com.g.Main#0", 0}}) {
        EXPECT_EQ(parsed(dump::newest({{name, 10999, "", 5, 0, {{16, 5}}}}), "com.g.x").layers,
                  ours)
            << name;
    }
    EXPECT_EQ(parsed("", "com.example.game").layers, 0);  // timestats off: the dump prints nothing
    EXPECT_EQ(parsed(dump::newest({}), "com.example.game").stats_start, 1700000000);
}

TEST(Timestats, PackagesListGivesTheUid) {
    // Settings.writePackageList: "name uid debuggable dataDir seinfo gids ..." per line.
    const std::string list =
        "com.example.gamepad 10124 0 /data/user/0/com.example.gamepad "
        "default:targetSdkVersion=33 3003 0 12 1 @system\n"
        "com.example.game 10123 0 /data/user/0/com.example.game "
        "default:privapp:targetSdkVersion=34 3003,3002 0 7 1 com.android.vending\n"
        "com.example.gam 10125 0 /data/user/0/com.example.gam default none 0 1 1 @null\n";
    EXPECT_EQ(package_uid(list, "com.example.game"), 10123);
    EXPECT_EQ(package_uid(list, "com.example.gamepad"), 10124);
    EXPECT_EQ(package_uid(list, "com.example"), -1);
    EXPECT_EQ(package_uid("", "com.example.game"), -1);
}

// A session's frames: end minus start per record; a clearing is said, never subtracted across;
// layers that drew at the same time are not added up.
TEST(Timestats, ASessionsFrames) {
    const char* game = "com.g.x";
    const std::string main = "SurfaceView[com.g.x/com.g.x.A]#0";
    const std::string window = "com.g.x/com.g.x.A#0";
    const frame_counts start = parsed(dump::newest({{main, 10123, "", 500, 2, {{16, 500}}}}), game);
    const struct {
        const char* what;
        std::vector<Layer> end;
        long long stats_start;
        long long total;
        long long dropped;
        int reset;
        int counted;
    } cases[] = {
        {"the same record grew",
         {{main, 10123, "", 610, 5, {{16, 600}, {33, 10}}}},
         1700000000,
         110,
         3,
         0,
         1},
        {"cleared, then drew less than before",
         {{main, 10123, "", 40, 0, {{16, 40}}}},
         1700000000,
         40,
         0,
         1,
         1},
        {"cleared (statsStart moved), then drew more",
         {{main, 10123, "", 7350, 2, {{16, 7350}}}},
         1700009000,
         6850,
         0,
         1,
         1},
        {"cleared, the layer not drawn since", {}, 1700000000, 0, 0, 1, 0},
        {"a new refresh-rate bucket of the same layer",
         {{main, 10123, "", 510, 2, {{16, 510}}}, {main, 10123, "", 90, 1, {{8, 90}}, 120, 120}},
         1700000000,
         100,
         1,
         0,
         1},
        {"the activity's window drew alongside: not added",
         {{main, 10123, "", 3500, 2, {{16, 3500}}}, {window, 10123, "", 20, 0, {{1000, 20}}}},
         1700000000,
         3000,
         0,
         0,
         1},
    };
    for (const auto& c : cases) {
        const session_frames f =
            between(start, parsed(dump::newest(c.end, c.stats_start), game), 50 * 1000);
        EXPECT_EQ(f.total, c.total) << c.what;
        EXPECT_EQ(f.dropped, c.dropped) << c.what;
        EXPECT_EQ(f.reset, c.reset) << c.what;
        EXPECT_EQ(f.counted, c.counted) << c.what;
        if (c.counted) {
            EXPECT_EQ(f.names[0], main) << c.what;
        }
    }
    // Layers that followed each other (a loading window, then the game's surface) add up.
    const session_frames seq =
        between(frame_counts{},
                parsed(dump::newest({{main, 10123, "", 3000, 0, {{16, 3000}}},
                                     {window, 10123, "", 600, 0, {{16, 600}}}}),
                       game),
                60 * 1000);
    EXPECT_EQ(seq.total, 3600);
    EXPECT_EQ(seq.counted, 2);
    EXPECT_EQ(seq.names[1], window);

    // 100 frames of 16 ms and 10 of 33 ms: 110 frames in 1,930 ms; the slowest twentieth (6 of
    // 110 frames) took 33 ms each.
    const session_frames rates = between(
        start, parsed(dump::newest({{main, 10123, "", 610, 5, {{16, 600}, {33, 10}}}}), game),
        50000);
    EXPECT_NEAR(average_fps(rates.present_ms), 110 * 1000.0 / 1930, 1e-9);
    EXPECT_NEAR(low_fps(rates.present_ms), 1000.0 / 33, 1e-9);
    const long long none[FRAME_BUCKETS] = {};
    EXPECT_EQ(average_fps(none), 0);
    EXPECT_EQ(low_fps(none), 0);
}

TEST(SessionRecord, RowsBatteryUnitsAndTopShare) {
    sample s{
        5000, 0, 2350, 385, 71, 1, 0, 420, 585000, 2, {120, -1}, {1804800, 0}, {2841600, 2419200},
        594};
    char row[512];
    ASSERT_GT(format_sample(s, row, sizeof row), 0);
    EXPECT_STREQ(row,
                 "5000\t0\t2350\t385\t71\t1\t0\t420\t585000\t2\t120\t1804800\t2841600\t-1\t0\t"
                 "2419200\t594\n");
    sample back;
    ASSERT_TRUE(parse_sample(row, &back));
    EXPECT_EQ(back.power_mw, 2350);
    EXPECT_EQ(back.top[1], -1);
    EXPECT_EQ(back.max_khz[1], 2419200);
    EXPECT_EQ(back.fps_x10, 594);
    std::string cut(row);
    cut.pop_back();  // a row a crash cut short
    EXPECT_FALSE(parse_sample(cut, &back));
    EXPECT_FALSE(parse_sample("1\t2\n", &back));
    // A row of the first format (no frame rate), and one of a later version with more fields.
    ASSERT_TRUE(parse_sample("5000\t0\t2350\t385\t71\t1\t0\t420\t585000\t1\t120\t1\t2\n", &back));
    EXPECT_EQ(back.fps_x10, -1);
    ASSERT_TRUE(parse_sample("5000\t0\t2350\t385\t71\t1\t0\t420\t585000\t1\t120\t1\t2\t601\t7\t8\n",
                             &back));
    EXPECT_EQ(back.fps_x10, 601);
    EXPECT_EQ(back.max_khz[0], 2);

    // The units, decided by the session's samples in turn and kept: power in mW per sample.
    const struct {
        const char* what;
        std::vector<std::vector<long long>> samples;  // current, voltage, status; mW expected
        const char* units;
    } sessions[] = {
        {"µA, discharging (either sign)",
         {{-500000, 4000000, DISCHARGING, 2000}, {500000, 4000000, DISCHARGING, 2000}},
         "uA,uV"},
        {"mA and mV", {{-500, 4000, DISCHARGING, 2000}, {750, 3850, DISCHARGING, 2887}}, "mA,mV"},
        {"µV with mA", {{-450, 3900000, DISCHARGING, 1755}}, "mA,uV"},
        {"bypass in µA: a few mA, never amps",
         {{-3000, 3900000, NOT_CHARGING, 11},
          {-2500, 3900000, NOT_CHARGING, 9},
          {-600000, 3900000, DISCHARGING, 2340},
          {-3000, 3900000, NOT_CHARGING, 11}},
         "uA,uV"},
        {"bypass in mA",
         {{-3, 3900, NOT_CHARGING, 11},
          {-600, 3900, DISCHARGING, 2340},
          {-3, 3900, NOT_CHARGING, 11}},
         "mA,mV"},
        {"a current too large for mA is µA", {{25000, 3900, CHARGING, 97}}, "uA,mV"},
        {"no voltage: no power", {{-500000, 0, DISCHARGING, -1}}, "uA,-"},
    };
    for (const auto& c : sessions) {
        battery_units units{};
        for (const auto& one : c.samples) {
            decide_units(&units, one[0], one[1], static_cast<int>(one[2]));
            EXPECT_EQ(battery_power_mw(one[0], one[1], units), one[3]) << c.what << " " << one[0];
        }
        char text[16];
        ASSERT_TRUE(format_units(units, text, sizeof text));
        EXPECT_STREQ(text, c.units) << c.what;
        battery_units back_units{};
        parse_units(text, &back_units);
        EXPECT_EQ(back_units.current, units.current) << c.what;
        EXPECT_EQ(back_units.voltage, units.voltage) << c.what;
    }
    // The kernel's status strings (power_supply_sysfs.c).
    for (const auto& [text, status] : std::map<std::string, int>{{"Charging", CHARGING},
                                                                 {"Full", CHARGING},
                                                                 {"Discharging", DISCHARGING},
                                                                 {"Not charging", NOT_CHARGING},
                                                                 {"Unknown", STATUS_UNKNOWN}})
        EXPECT_EQ(charging_status(text), status) << text;

    // Ten steps: the top fifth is the two highest.
    const std::string before =
        "300000 100\n400000 100\n500000 100\n600000 100\n700000 100\n800000 100\n900000 100\n"
        "1000000 100\n1100000 100\n1200000 100\n";
    const std::string after =
        "300000 160\n400000 100\n500000 100\n600000 100\n700000 100\n800000 100\n900000 100\n"
        "1000000 100\n1100000 110\n1200000 130\n";
    EXPECT_EQ(top_fifth_share(before, after), 400);  // 40 of 100 ticks
    EXPECT_EQ(top_fifth_share(after, before), -1);   // a counter reset is no spike
    EXPECT_EQ(top_fifth_share(before, "300000 100\n"), -1);
    EXPECT_EQ(top_fifth_share("", after), -1);       // the cluster was offline
    EXPECT_EQ(top_fifth_share(before, before), -1);  // no time passed
}

// Ten hours at one sample every 5 s: every sample for 2 hours, then fewer and fewer.
TEST(SessionRecord, ALongSessionStaysSmall) {
    long long kept = 0;
    long long bytes = 0;
    sample s{0,
             0,
             2500,
             400,
             50,
             1,
             0,
             500,
             585000,
             3,
             {100, 200, 300},
             {1804800, 2419200, 2841600},
             {1804800, 2419200, 2841600},
             600};
    char row[512];
    for (long long i = 0; i < 10 * 720; ++i) {
        s.t_ms = i * 5000;
        if (!keep_sample(s.t_ms, i)) continue;
        ++kept;
        bytes += format_sample(s, row, sizeof row);
    }
    EXPECT_EQ(kept, 1440 + 720 + 360 + 180 + 90);
    EXPECT_LT(bytes, 512 * 1024);  // about 100 bytes a row with three clusters
}

// A scripted session summarized by hand: power 2 W while discharging (two samples on the
// charger and two plugged in but not charging, left out), the battery warming, MODERATE at 30 s,
// cluster 1's maximum lowered (throttled) twice, a reset and an offline cluster as unknown shares.
TEST(SessionRecord, ASummaryComputedByHand) {
    std::vector<sample> rows;
    const int levels[] = {0, 0, 1, 1, 1, 1, 2, 2, 3, 1, 1, 0, 0, 0};
    for (int i = 0; i < 14; ++i) {
        sample s{};
        s.t_ms = i * 5000;
        s.charging = i == 4 || i == 5 ? CHARGING : i >= 12 ? NOT_CHARGING : DISCHARGING;
        s.power_mw = s.charging == CHARGING ? 1500 : s.charging == NOT_CHARGING ? 11 : 2000;
        s.fps_x10 = i < 10 ? 600 : i == 10 ? -1 : 300;
        s.temp_dc = 350 + i * 5;
        s.capacity = 80 - i;
        s.level = levels[i];
        s.gpu_busy = -1;
        s.gpu_khz = -1;
        s.clusters = 2;
        s.top[0] = i == 0 ? -1 : i == 7 ? -1 : 100 * (i % 3);  // 0, 100, 200 by turns
        s.top[1] = i >= 9 ? -1 : 500;                          // offline from sample 9
        if (i >= 12) s.clusters = 1;
        s.cur_khz[0] = s.cur_khz[1] = 1000000;
        s.max_khz[0] = 1804800;
        s.max_khz[1] = i == 7 || i == 8 ? 1996800 : 2841600;
        rows.push_back(s);
    }
    session_summary sum;
    summarize(rows.data(), static_cast<int>(rows.size()), &sum);
    EXPECT_EQ(sum.duration_s, 65);
    // Thirteen intervals of 5 s, two on the charger and two not charging: 45 s at 2000 mW.
    EXPECT_EQ(sum.discharging_s, 45);
    EXPECT_EQ(sum.not_charging_s, 10);
    EXPECT_EQ(sum.mean_mw, 2000);
    EXPECT_EQ(sum.energy_mwh_x10, 250);  // 2000 mW x 45 s = 25.0 mWh
    EXPECT_EQ(sum.peak_temp_dc, 415);
    EXPECT_EQ(sum.mean_temp_dc, 382);                        // (350 + 415) / 2, rounded down
    EXPECT_EQ(sum.fps_mean_x10, (10 * 600 + 3 * 300) / 13);  // the sample with none left out
    const long long level_s[THERMAL_LEVELS] = {20, 30, 10, 5, 0, 0, 0};
    for (int l = 0; l < THERMAL_LEVELS; ++l)
        EXPECT_EQ(sum.level_s[l], level_s[l]) << l;
    EXPECT_EQ(sum.first_moderate_s, 30);
    // Cluster 0: samples 1..13 but 7: 100,200,0,100,200,0,(7),200,0,100,200,0,100 -> 1200 / 12.
    EXPECT_EQ(sum.top[0], 100);
    EXPECT_EQ(sum.top[1], 500);
    EXPECT_EQ(sum.throttled_samples, 2);
    EXPECT_EQ(sum.samples, 14);

    session_line line{};
    line.start = 1765000000;
    snprintf(line.game, sizeof line.game, "com.example.game");
    snprintf(line.preset, sizeof line.preset, "sustained");
    line.summary = sum;
    line.frames_known = 1;
    line.frames = 3300;
    line.dropped = 4;
    line.fps_x100 = 5998;
    line.low_fps_x100 = 4545;
    line.format = SESSION_FORMAT;
    line.frames_reset = 1;
    line.units = battery_units{UNITS_MILLI, UNITS_MICRO};
    snprintf(line.fps_node, sizeof line.fps_node, "/sys/class/drm/sde-crtc-0/measured_fps");
    session_frames layers{};
    layers.counted = 2;
    snprintf(layers.names[0], LAYER_NAME_SIZE, "SurfaceView - com.example.game/.A#0");
    snprintf(layers.names[1], LAYER_NAME_SIZE, "a,b=c%%d\x1b[2J");
    encode_layers(layers, line.layers, sizeof line.layers);
    char text[1536];
    ASSERT_GT(format_session_line(line, text, sizeof text), 0);
    session_line back;
    ASSERT_TRUE(parse_session_line(text, &back)) << text;
    EXPECT_EQ(back.format, SESSION_FORMAT);
    EXPECT_EQ(back.summary.not_charging_s, 10);
    EXPECT_EQ(back.summary.fps_mean_x10, sum.fps_mean_x10);
    EXPECT_EQ(back.frames_reset, 1);
    EXPECT_EQ(back.units.current, UNITS_MILLI);
    EXPECT_EQ(back.units.voltage, UNITS_MICRO);
    EXPECT_STREQ(back.fps_node, "/sys/class/drm/sde-crtc-0/measured_fps");
    std::string_view names(back.layers);
    char name[LAYER_NAME_SIZE];
    ASSERT_TRUE(decode_layer(&names, name, sizeof name));
    EXPECT_STREQ(name, "SurfaceView - com.example.game/.A#0");
    ASSERT_TRUE(decode_layer(&names, name, sizeof name));
    EXPECT_STREQ(name, "a,b=c%d\x1b[2J");
    EXPECT_FALSE(decode_layer(&names, name, sizeof name));
    EXPECT_EQ(back.start, line.start);
    EXPECT_STREQ(back.game, "com.example.game");
    EXPECT_EQ(back.summary.energy_mwh_x10, 250);
    EXPECT_EQ(back.summary.level_s[3], 5);
    EXPECT_EQ(back.summary.top[0], 100);
    EXPECT_EQ(back.summary.clusters, 2);
    EXPECT_EQ(back.fps_x100, 5998);
    // A line of the first format: read, its new figures unknown; a later version's keys are
    // passed over; a known figure that is no number sets the line aside.
    ASSERT_TRUE(parse_session_line(
        "start=5 game=a.b preset=max duration_s=60 energy_mwh_x10=10 mean_mw=600 levels_s=60 "
        "top_permille=1 samples=12 frames_known=0\n",
        &back));
    EXPECT_EQ(back.format, 1);
    EXPECT_EQ(back.summary.fps_mean_x10, -1);
    EXPECT_EQ(back.units.voltage, UNITS_UNKNOWN);
    EXPECT_TRUE(parse_session_line("start=5 game=a.b preset=max format=9 gpu=hot,x\n", &back));
    EXPECT_FALSE(parse_session_line("start=5 game=a.b preset=max duration_s=long\n", &back));
    EXPECT_FALSE(parse_session_line("start=1 game=a.b\n", &back));  // no preset
    EXPECT_FALSE(parse_session_line("start=1 game=a.b game=c.d\n", &back));
    EXPECT_FALSE(parse_session_line("start=x game=a.b preset=max\n", &back));
}

// A cluster's CPUs as ranges, and whose cpuN/cpufreq is whose, in both kernels' layouts.
TEST(ClusterCpus, RangesAndOwners) {
    const struct {
        std::vector<int> cpus;
        const char* text;
    } ranges[] = {
        {{0, 1, 2, 3}, "0-3"}, {{7}, "7"}, {{0, 2, 3}, "0,2-3"}, {{}, "?"}, {{4, 6}, "4,6"}};
    for (const auto& r : ranges) {
        char out[64];
        ASSERT_TRUE(
            format_cpu_ranges(r.cpus.data(), static_cast<int>(r.cpus.size()), out, sizeof out));
        EXPECT_STREQ(out, r.text);
    }
    char small[4];
    const int many[] = {0, 2, 4, 6};
    EXPECT_FALSE(format_cpu_ranges(many, 4, small, sizeof small));
    const struct {
        const char* target;
        const char* owner;
    } owners[] = {{"../cpufreq/policy4", "policy4"},
                  {"../cpu4/cpufreq", "cpu4"},
                  {"/sys/devices/system/cpu/cpufreq/policy0/", "policy0"},
                  {nullptr, "cpu2"}};
    for (const auto& o : owners) {
        char out[64];
        cpufreq_owner(o.target, "cpu2", out, sizeof out);
        EXPECT_STREQ(out, o.owner) << (o.target ? o.target : "a real directory");
    }
}

}  // namespace

namespace {

// The frame-rate nodes as their drivers print them: SDE's measured_fps_show, MDSS's
// mdss_fb_get_fps_info ("%d.%d\n"), FPSGO's fpsgo_status_show (tab-separated, empty while off).
std::string fpsgo_row(int pid, const char* name, int fps) {
    char row[256];
    snprintf(row, sizeof row, "%d\t0x%llx\t%s\t%d\t\t%d\t\t%d\t\t%d\t\t%d\t%lld\t\t(%d,%d,%lu)\n",
             pid, 0x1234abcdULL, name, fps, 60, 3, 0, 0, 4500000LL, 0, 60, 1UL);
    return row;
}

TEST(FrameRate, EachNodeAsItsDriverPrintsIt) {
    EXPECT_EQ(display_fps_x10("fps: 59.9 duration:1000000 frame_count:60\n"), 599);
    EXPECT_EQ(display_fps_x10("fps: 120.0 duration:5000000 frame_count:600\n"), 1200);
    EXPECT_EQ(display_fps_x10("59.4"), 594);
    EXPECT_EQ(display_fps_x10("0.0"), 0);  // the panel is off
    EXPECT_EQ(display_fps_x10("fps information not available"), -1);
    EXPECT_EQ(display_fps_x10(""), -1);

    const std::string header =
        "tid\tbufID\t\tname\t\tcurrentFPS\ttargetFPS\tFPS_margin\tsbe_state\tHWUI\tt_gpu\t\t"
        "policy\n";
    const std::string status = header + fpsgo_row(1500, "surfaceflinger", 90) +
                               fpsgo_row(8123, "com.example.gam", 57) + "dfps_ceiling:120\n";
    EXPECT_EQ(fpsgo_fps_x10(status, "com.example.game"), 570);  // the game's, not the fastest
    EXPECT_EQ(fpsgo_fps_x10(status, "com.other"), 900);         // not named: the fastest
    EXPECT_EQ(fpsgo_fps_x10(header + "dfps_ceiling:60\n", "com.example.game"), -1);
    EXPECT_EQ(fpsgo_fps_x10("", "com.example.game"), -1);  // FPSGO is off: it prints nothing

    EXPECT_STREQ(frame_rate_source("/sys/class/drm/sde-crtc-1/measured_fps"), "drm");
    EXPECT_STREQ(frame_rate_source(FB_FPS), "fb");
    EXPECT_STREQ(frame_rate_source(FPSGO_STATUS), "fpsgo");
    EXPECT_EQ(frame_rate_source(""), nullptr);
}

}  // namespace
