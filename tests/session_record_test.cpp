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
#include "timestats.h"

namespace {

// A histogram line as TimeStatsHelper::Histogram::toString prints it: every bucket, "Nms=C ".
std::string histogram(const std::map<int, int>& counts) {
    std::string line;
    for (int i = 0; i < FRAME_BUCKETS; ++i) {
        const auto it = counts.find(FRAME_BUCKET_MS[i]);
        line += std::to_string(FRAME_BUCKET_MS[i]) +
                "ms=" + std::to_string(it == counts.end() ? 0 : it->second) + " ";
    }
    line.back() = '\n';
    return line;
}

struct Layer {
    std::string name;
    std::string package;
    int total;
    int dropped;
    std::map<int, int> present;
};

// Android 10: the global part, then per layer its name, package, frames, averageFPS and each
// histogram.
std::string android10(const std::vector<Layer>& layers) {
    std::string dump =
        "SurfaceFlinger TimeStats:\nstatsStart = 1600000000\nstatsEnd = 1600000600\n"
        "totalFrames = 99999\nmissedFrames = 12\nclientCompositionFrames = 3\n"
        "displayOnTime = 600000 ms\ndisplayConfigStats is as below:\n60fps=600000ms \n"
        "totalP2PTime = 600000 ms\npresentToPresent histogram is as below:\n" +
        histogram({{16, 99999}});
    for (const auto& l : layers) {
        dump += "\nlayerName = " + l.name + "\npackageName = " + l.package +
                "\ntotalFrames = " + std::to_string(l.total) +
                "\ndroppedFrames = " + std::to_string(l.dropped) + "\naverageFPS = 60.000\n";
        dump += "acquire2present histogram is as below:\n" + histogram({{4, l.total}});
        dump += "present2present histogram is as below:\n" + histogram(l.present);
    }
    return dump + "\n";
}

// A recent release: the legacy global part, then per layer and refresh-rate bucket its rates,
// uid, name, package, game mode, frame counts, jank payload, frame-rate vote and histograms.
std::string newest(const std::vector<Layer>& layers) {
    std::string dump =
        "SurfaceFlinger TimeStats:\nLegacy stats are as follows:\nstatsStart = 1700000000\n"
        "statsEnd = 1700000600\ntotalFrames = 88888\nmissedFrames = 4\n"
        "clientCompositionFrames = 0\nclientCompositionReusedFrames = 0\n"
        "refreshRateSwitches = 0\ncompositionStrategyChanges = 0\n"
        "displayOnTime = 600000 ms\ndisplayConfigStats is as below:\n120fps = 600000ms\n"
        "totalP2PTime = 600000 ms\npresentToPresent histogram is as below:\n" +
        histogram({{8, 88888}}) + "averageFrameDuration = 8.000 ms\n";
    for (const auto& l : layers) {
        dump += "\ndisplayRefreshRate = 120 fps\nrenderRate = 60 fps\nuid = 10123\nlayerName = " +
                l.name + "\npackageName = " + l.package +
                "\ngameMode = Standard\ntotalFrames = " + std::to_string(l.total) +
                "\ndroppedFrames = " + std::to_string(l.dropped) +
                "\nlateAcquireFrames = 0\nbadDesiredPresentFrames = 0\n"
                "Jank payload for this layer:\ntotalTimelineFrames = 0\njankyFrames = 0\n"
                "SetFrateRate vote for this layer:\nframeRate = 0.00\n"
                "frameRateCompatibility = Default\nseamlessness = Default\n"
                "averageFPS = 59.880\n";
        dump += "acquire2present histogram is as below:\n" + histogram({{2, l.total}});
        dump += "present2present histogram is as below:\n" + histogram(l.present);
        dump += "post2present histogram is as below:\n" + histogram({{30, l.total}});
    }
    return dump + "\n";
}

TEST(Timestats, TheGamesLayersInEitherLayout) {
    const std::vector<Layer> layers = {
        {"SurfaceView[com.example.game/.Main]#0",
         "com.example.game",
         1000,
         7,
         {{16, 900}, {33, 100}}},
        {"com.example.game/.Main#1", "com.example.game", 10, 1, {{16, 10}}},
        {"com.android.systemui/StatusBar#0", "com.android.systemui", 5000, 0, {{16, 5000}}},
    };
    for (const auto& [name, dump] : std::map<std::string, std::string>{
             {"Android 10", android10(layers)}, {"recent", newest(layers)}}) {
        frame_counts f;
        parse_timestats(dump, "com.example.game", &f);
        EXPECT_EQ(f.layers, 2) << name;
        EXPECT_EQ(f.total, 1010) << name;  // the global and the other app's frames not counted
        EXPECT_EQ(f.dropped, 8) << name;
        EXPECT_EQ(f.present_ms[16], 910) << name;
        EXPECT_EQ(f.present_ms[28], 0) << name;  // bucket 28 is 28 ms
        parse_timestats(dump, "com.not.running", &f);
        EXPECT_EQ(f.layers, 0) << name;
        EXPECT_EQ(f.total, 0) << name;
    }
    frame_counts none;
    parse_timestats("", "com.example.game", &none);  // timestats off: the dump prints nothing
    EXPECT_EQ(none.layers, 0);
}

TEST(Timestats, ASessionsFramesAndRates) {
    frame_counts start;
    frame_counts end;
    parse_timestats(android10({{"g#0", "com.g.x", 500, 2, {{16, 500}}}}), "com.g.x", &start);
    parse_timestats(android10({{"g#0", "com.g.x", 610, 5, {{16, 600}, {33, 10}}}}), "com.g.x",
                    &end);
    const frame_counts session = frames_between(start, end);
    EXPECT_EQ(session.total, 110);
    EXPECT_EQ(session.dropped, 3);
    // 100 frames of 16 ms and 10 of 33 ms: 110 frames in 1,930 ms.
    const int i16 = 16;
    int i33 = 0;
    for (int i = 0; i < FRAME_BUCKETS; ++i)
        if (FRAME_BUCKET_MS[i] == 33) i33 = i;
    EXPECT_EQ(session.present_ms[i16], 100);
    EXPECT_EQ(session.present_ms[i33], 10);
    EXPECT_NEAR(average_fps(session), 110 * 1000.0 / 1930, 1e-9);
    // The slowest twentieth (6 of 110 frames) took 33 ms each.
    EXPECT_NEAR(low_fps(session), 1000.0 / 33, 1e-9);
    // Cleared in between: counts from zero.
    frame_counts cleared;
    parse_timestats(android10({{"g#0", "com.g.x", 40, 0, {{16, 40}}}}), "com.g.x", &cleared);
    EXPECT_EQ(frames_between(end, cleared).total, 40);
    EXPECT_EQ(average_fps(frame_counts{}), 0);
    EXPECT_EQ(low_fps(frame_counts{}), 0);
}

TEST(SessionRecord, RowsBatteryUnitsAndTopShare) {
    sample s{
        5000, 0, 2350, 385, 71, 1, 0, 420, 585000, 2, {120, -1}, {1804800, 0}, {2841600, 2419200}};
    char row[512];
    ASSERT_GT(format_sample(s, row, sizeof row), 0);
    EXPECT_STREQ(
        row,
        "5000\t0\t2350\t385\t71\t1\t0\t420\t585000\t2\t120\t1804800\t2841600\t-1\t0\t2419200\n");
    sample back;
    ASSERT_TRUE(parse_sample(row, &back));
    EXPECT_EQ(back.power_mw, 2350);
    EXPECT_EQ(back.top[1], -1);
    EXPECT_EQ(back.max_khz[1], 2419200);
    std::string cut(row);
    cut.pop_back();  // a row a crash cut short
    EXPECT_FALSE(parse_sample(cut, &back));
    EXPECT_FALSE(parse_sample("1\t2\n", &back));

    const struct {
        long long current;
        long long voltage;
        long long mw;
    } battery[] = {
        {-500000, 4000000, 2000},  // µA, negative while discharging
        {500000, 4000000, 2000},   // µA, positive while discharging
        {-500, 4000, 2000},        // mA and mV
        {750000, 3850000, 2887},  {500000, 0, -1},
    };
    for (const auto& b : battery)
        EXPECT_EQ(battery_power_mw(b.current, b.voltage), b.mw) << b.current << " " << b.voltage;
    EXPECT_EQ(charging_status("Charging"), 1);
    EXPECT_EQ(charging_status("Full"), 1);
    EXPECT_EQ(charging_status("Discharging"), 0);
    EXPECT_EQ(charging_status("Not charging"), 0);
    EXPECT_EQ(charging_status("Unknown"), -1);

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
             {1804800, 2419200, 2841600}};
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
// charger, left out), the battery warming, MODERATE at 30 s, cluster 1's maximum lowered
// (throttled) twice, a reset and an offline cluster as unknown shares.
TEST(SessionRecord, ASummaryComputedByHand) {
    std::vector<sample> rows;
    const int levels[] = {0, 0, 1, 1, 1, 1, 2, 2, 3, 1, 1, 0};
    for (int i = 0; i < 12; ++i) {
        sample s{};
        s.t_ms = i * 5000;
        s.charging = i == 4 || i == 5 ? 1 : 0;
        s.power_mw = s.charging ? 1500 : 2000;
        s.temp_dc = 350 + i * 5;
        s.capacity = 80 - i;
        s.level = levels[i];
        s.gpu_busy = -1;
        s.gpu_khz = -1;
        s.clusters = 2;
        s.top[0] = i == 0 ? -1 : i == 7 ? -1 : 100 * (i % 3);  // 0, 100, 200 by turns
        s.top[1] = i >= 9 ? -1 : 500;                          // offline from sample 9
        s.cur_khz[0] = s.cur_khz[1] = 1000000;
        s.max_khz[0] = 1804800;
        s.max_khz[1] = i == 7 || i == 8 ? 1996800 : 2841600;
        rows.push_back(s);
    }
    session_summary sum;
    summarize(rows.data(), static_cast<int>(rows.size()), &sum);
    EXPECT_EQ(sum.duration_s, 55);
    // Eleven intervals of 5 s, two of them on the charger: 45 s at 2000 mW.
    EXPECT_EQ(sum.discharging_s, 45);
    EXPECT_EQ(sum.mean_mw, 2000);
    EXPECT_EQ(sum.energy_mwh_x10, 250);  // 2000 mW x 45 s = 25.0 mWh
    EXPECT_EQ(sum.peak_temp_dc, 405);
    EXPECT_EQ(sum.mean_temp_dc, 377);  // (350 + 405) / 2, rounded down
    const long long level_s[THERMAL_LEVELS] = {10, 30, 10, 5, 0, 0, 0};
    for (int l = 0; l < THERMAL_LEVELS; ++l)
        EXPECT_EQ(sum.level_s[l], level_s[l]) << l;
    EXPECT_EQ(sum.first_moderate_s, 30);
    // Cluster 0: samples 1..11 but 7: 100,200,0,100,200,0,(7),200,0,100,200 -> 1100 / 10.
    EXPECT_EQ(sum.top[0], 110);
    EXPECT_EQ(sum.top[1], 500);
    EXPECT_EQ(sum.throttled_samples, 2);
    EXPECT_EQ(sum.samples, 12);

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
    char text[1024];
    ASSERT_GT(format_session_line(line, text, sizeof text), 0);
    session_line back;
    ASSERT_TRUE(parse_session_line(text, &back)) << text;
    EXPECT_EQ(back.start, line.start);
    EXPECT_STREQ(back.game, "com.example.game");
    EXPECT_EQ(back.summary.energy_mwh_x10, 250);
    EXPECT_EQ(back.summary.level_s[3], 5);
    EXPECT_EQ(back.summary.top[0], 110);
    EXPECT_EQ(back.summary.clusters, 2);
    EXPECT_EQ(back.fps_x100, 5998);
    EXPECT_FALSE(parse_session_line("start=1 game=a.b\n", &back));  // no preset
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
