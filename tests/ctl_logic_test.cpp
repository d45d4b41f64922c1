// The control program's pure rules, driven directly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "boot.h"
#include "devfreq_gpu.h"
#include "game_list_line.h"
#include "knobs.h"
#include "log_writer.h"
#include "manager_status.h"
#include "presets_file.h"
#include "snapshot.h"
#include "thermal.h"

namespace {

TEST(TunablePath, OnlyFilesDirectlyInsideTheRecordedGovernorsDirectories) {
    const char* policy = "/sys/devices/system/cpu/cpufreq/policy0";
    const struct {
        const char* path;
        const char* governor;
        bool allowed;
    } cases[] = {
        {"/sys/devices/system/cpu/cpufreq/policy0/schedutil/rate_limit_us", "schedutil", true},
        {"/sys/devices/system/cpu/cpufreq/schedutil/rate_limit_us", "schedutil", true},
        {"/sys/devices/system/cpu/cpufreq/policy0/schedutil/rate_limit_us", "walt", false},
        {"/sys/devices/system/cpu/cpufreq/policy0/scaling_max_freq", "schedutil", false},
        {"/sys/devices/system/cpu/cpufreq/policy0/stats/reset", "stats", true},  // if recorded so
        {"/sys/devices/system/cpu/cpufreq/policy0/schedutil/../../policy4/x", "schedutil", false},
        {"/sys/devices/system/cpu/cpufreq/policy0/schedutil/.hidden", "schedutil", false},
        {"/sys/devices/system/cpu/cpufreq/policy0/schedutil/", "schedutil", false},
        {"/sys/devices/system/cpu/cpufreq/policy0/../x/y", "..", false},
        {"/sys/devices/system/cpu/cpufreq/policy1/schedutil/rate_limit_us", "schedutil", false},
        {"/sys/devices/system/cpu/cpufreq/policy00/schedutil/x", "schedutil", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(tunable_path_allowed(c.path, policy, c.governor), c.allowed) << c.path;
}

TEST(Snapshot, LinesAndGroupsByNode) {
    std::string_view text =
        "T /orphan 1\nG /a/scaling_governor walt\nT /a/walt/x 80 1516800:90\nZ y\nG nospace\n"
        "G /b/governor simple_ondemand\n";
    const char kinds[] = {'T', 'G', 'T', 0, 0, 'G'};
    std::string_view lines = text;
    snapshot_line line;
    for (char kind : kinds) {
        ASSERT_TRUE(next_snapshot_line(&lines, &line));
        EXPECT_EQ(line.kind, kind);
    }
    EXPECT_FALSE(next_snapshot_line(&lines, &line));
    std::string_view tunable = "T /a/walt/x 80 1516800:90\n";
    next_snapshot_line(&tunable, &line);
    EXPECT_EQ(line.path, "/a/walt/x");
    EXPECT_EQ(line.value, "80 1516800:90");

    // A node's lines travel together: kept whole when any of them is refused.
    const struct {
        const char* governor_file;
        const char* text;
    } groups[] = {{"", "T /orphan 1\n"},
                  // A line that is no G line starts no node: it is ignored within this one.
                  {"/a/scaling_governor",
                   "G /a/scaling_governor walt\nT /a/walt/x 80 1516800:90\nZ y\nG nospace\n"},
                  {"/b/governor", "G /b/governor simple_ondemand\n"}};
    snapshot_group group;
    for (const auto& g : groups) {
        ASSERT_TRUE(next_snapshot_group(&text, &group));
        EXPECT_EQ(group.governor_file, g.governor_file);
        EXPECT_EQ(group.text, g.text);
    }
    EXPECT_FALSE(next_snapshot_group(&text, &group));
}

// A node is known by its governor file's path alone, so a node that is gone still has a name,
// and nothing but a governor node's path ever names one.
TEST(Snapshot, TheNodeOfAGovernorFile) {
    const struct {
        const char* path;
        const char* dir;  // nullptr: no node
        const char* name;
        int cpu_policy;
    } cases[] = {
        {"/sys/devices/system/cpu/cpufreq/policy4/scaling_governor",
         "/sys/devices/system/cpu/cpufreq/policy4", "policy4", 1},
        {"/sys/devices/system/cpu/cpufreq/policy10/scaling_governor",
         "/sys/devices/system/cpu/cpufreq/policy10", "policy10", 1},
        {"/sys/class/kgsl/kgsl-3d0/devfreq/governor", "/sys/class/kgsl/kgsl-3d0/devfreq",
         "kgsl-3d0", 0},
        {"/sys/class/devfreq/13000000.mali/governor", "/sys/class/devfreq/13000000.mali",
         "13000000.mali", 0},
        {"/sys/class/devfreq/fde60000.gpu/governor", "/sys/class/devfreq/fde60000.gpu",
         "fde60000.gpu", 0},
        {"/sys/class/devfreq/dmc/governor", nullptr, "", 0},
        {"/sys/devices/system/cpu/cpufreq/policy04/scaling_governor", nullptr, "", 0},
        {"/sys/devices/system/cpu/cpufreq/policy/scaling_governor", nullptr, "", 0},
        {"/sys/devices/system/cpu/cpufreq/policy0/../policy4/scaling_governor", nullptr, "", 0},
        {"/sys/devices/system/cpu/cpufreq/policy0/scaling_max_freq", nullptr, "", 0},
        {"/sys/class/devfreq/soc:qcom,cpu-llcc-ddr-bw/governor", nullptr, "", 0},
        {"/sys/class/devfreq/../../etc/mali/governor", nullptr, "", 0},
        {"/sys/class/devfreq/.mali/governor", nullptr, "", 0},
        {"/etc/passwd", nullptr, "", 0},
    };
    for (const auto& c : cases) {
        node_ref node{};
        ASSERT_EQ(node_of_governor_file(c.path, &node), c.dir != nullptr) << c.path;
        if (!c.dir) continue;
        EXPECT_EQ(node.dir, c.dir);
        EXPECT_EQ(node.name, c.name);
        EXPECT_EQ(node.cpu_policy, c.cpu_policy);
    }
}

TEST(ProfileState, ScopedToTheBootWithTheHeldLinesBelow) {
    profile_state state;
    ASSERT_TRUE(parse_profile_state("balanced\nboot-2 10\nG /a/governor x\n", "boot-2", &state));
    EXPECT_EQ(state.profile, "balanced");
    EXPECT_EQ(state.stamp.start_ticks, 10u);
    EXPECT_EQ(state.held, "G /a/governor x\n");
    for (const char* other :
         {"balanced\nboot-1 10\n", "balanced\nboot-2x 10\n", "balanced\nboot-2\n",
          "balanced\nboot-2 x\n", "balanced\nboot-2 10", "balanced", ""})
        EXPECT_FALSE(parse_profile_state(other, "boot-2", &state)) << other;
}

// Later ticks win; within one tick balanced wins, whichever process read the clock first.
TEST(LaunchStamp, OrderedByTickAndBalancedWinsATie) {
    const struct {
        unsigned long long next;
        bool next_balanced;
        unsigned long long last;
        const char* last_profile;
        bool applied;
    } cases[] = {
        {11, false, 10, "balanced", true},   {9, true, 10, "performance", false},
        {10, false, 10, "balanced", false},  {10, false, 10, "stopped", false},
        {10, true, 10, "performance", true}, {10, false, 10, "performance", true},
        {10, true, 10, "balanced", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(launch_supersedes({c.next}, c.next_balanced, {c.last}, c.last_profile), c.applied)
            << c.next << (c.next_balanced ? " balanced over " : " performance over ") << c.last
            << " " << c.last_profile;
}

TEST(PackageName, AndroidsRule) {
    const struct {
        std::string name;
        bool valid;
    } cases[] = {{"com.example.game", true},
                 {"a.b", true},
                 {"com.Game_2.x", true},
                 {"com", false},
                 {"com.", false},
                 {".com.a", false},
                 {"com..a", false},
                 {"com.1a", false},
                 {"1com.a", false},
                 {"com.a-b", false},
                 {"com.a b", false},
                 {"", false},
                 {"a." + std::string(252, 'b'), true},
                 {"a." + std::string(253, 'b'), false}};
    for (const auto& c : cases)
        EXPECT_EQ(valid_package_name(c.name), c.valid) << c.name;
}

TEST(EntryDiagnosis, ReasonsAndTheCleanName) {
    const struct {
        const char* entry;
        int first;
        unsigned problems;
        const char* clean;
    } cases[] = {
        {"com.a", 1, 0, "com.a"},
        {" com.a\t", 0, PROBLEM_WHITESPACE, "com.a"},
        {"com.a # mine", 0, PROBLEM_INLINE_COMMENT, "com.a"},
        {"com.a#b", 0, PROBLEM_INVALID, "com.a#b"},
        {"\xEF\xBB\xBF"
         "com.a",
         1, PROBLEM_BOM, "com.a"},
        {"\xEF\xBB\xBF"
         "com.a",
         0, PROBLEM_INVALID,
         "\xEF\xBB\xBF"
         "com.a"},
        {"\xEF\xBB\xBF#c", 1, 0, ""},
        {"not a name", 0, PROBLEM_INVALID, "not a name"},
    };
    for (const auto& c : cases) {
        const entry_diagnosis d = diagnose_entry(c.entry, c.first);
        EXPECT_EQ(d.problems, c.problems) << c.entry;
        if (c.problems) EXPECT_EQ(d.clean, c.clean) << c.entry;
    }
}

TEST(LogLine, WholeLinesOrAFullBuffer) {
    EXPECT_EQ(log_line_length("ab\ncd", 5, 8), 3u);
    EXPECT_EQ(log_line_length("abcd", 4, 8), 0u);  // wait for the rest
    EXPECT_EQ(log_line_length("abcdefgh", 8, 8), 8u);
}

TEST(ManagerStatus, FromTheDaemonsLineToOneLineOfModuleProp) {
    const struct {
        const char* line;
        const char* state;  // nullptr: not a change line
    } cases[] = {
        {"State change detected: 2 -> 1. Screen: 1, Focus: 'com.example.game'",
         "performance for com.example.game"},
        {"State change detected: 1 -> 2. Screen: 0, Focus: '<none>'", "balanced"},
        // A focus that is no package name never reaches module.prop.
        {"State change detected: 2 -> 1. Screen: 1, Focus: 'x\ndescription=pwned'", "performance"},
        {"State change detected: 0 -> 1. Screen: 1, Focus: 'it's'", "performance"},
        {"performance: governor set to performance on: policy0", nullptr},
    };
    for (const auto& c : cases) {
        std::string_view focus;
        const int mode = parse_change_line(c.line, &focus);
        EXPECT_EQ(mode != 0, c.state != nullptr) << c.line;
        if (!mode) continue;
        char state[128];
        describe_mode(state, sizeof state, mode, focus);
        EXPECT_STREQ(state, c.state) << c.line;
    }
    EXPECT_EQ(base_description("Status: balanced | Switches governors."), "Switches governors.");
    EXPECT_EQ(base_description("Switches governors."), "Switches governors.");
    char out[64];
    EXPECT_TRUE(status_description(out, sizeof out, "stopped", "Base."));
    EXPECT_STREQ(out, "Status: stopped | Base.");
    EXPECT_FALSE(status_description(out, 10, "stopped", "Base."));
}

// The status as dumpsys thermalservice prints it. Sample rows follow Temperature.toString() in
// the platform's own source (the later format) and the Android 10 row format quoted in the
// knobs reference; type 3 is the thermal HAL's SKIN.
TEST(Thermal, StatusFromEitherDumpFormat) {
    const struct {
        const char* dump;
        int level;
    } cases[] = {
        {"IsStatusOverride: false\nThermal Status: 2\nCached temperatures:\n", THERMAL_MODERATE},
        {"Thermal Status: 0\n\tTemperature{mValue=48.0, mType=3, mName=skin, mStatus=3}\n",
         THERMAL_NONE},
        {"Cached temperatures:\n\tTemperature{mValue=45.1, mType=0, mName=cpu0, mStatus=4}\n"
         "\tTemperature{mValue=41.0, mType=3, mName=skin-therm, mStatus=1}\n"
         "\tTemperature{mValue=44.0, mType=3, mName=virtual-skin, mStatus=2}\n",
         THERMAL_MODERATE},
        {"Current temperatures from HAL:\n\tName: skin, Type: 3, Status: 3, Value: 46.0\n"
         "\tName: cpu, Type: 0, Status: 5, Value: 90.0\n",
         THERMAL_SEVERE},
        {"Can't find service: thermalservice\n", THERMAL_UNKNOWN},
        {"", THERMAL_UNKNOWN},
        {"Thermal Status: 9\n", THERMAL_UNKNOWN},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parse_thermal_dump(c.dump), c.level) << c.dump;
    EXPECT_EQ(level_from_battery(380), THERMAL_NONE);
    EXPECT_EQ(level_from_battery(425), THERMAL_MODERATE);
    EXPECT_EQ(level_from_battery(460), THERMAL_SEVERE);
}

// Taken back at MODERATE or when the vendor throttles; re-armed only after a minute at LIGHT
// or better, at most once in five minutes; never again after SEVERE.
TEST(Thermal, BackOffAndItsHysteresis) {
    struct step {
        long long at_s;
        int level;
        int cooling;
        backoff_action action;
    };
    const struct {
        const char* name;
        std::vector<step> steps;
    } cases[] = {
        {"moderate, then cool for a minute",
         {{0, 1, 0, BACKOFF_NOTHING},
          {5, 2, 0, BACKOFF_TAKE_BACK},
          {10, 1, 0, BACKOFF_NOTHING},
          {65, 1, 0, BACKOFF_NOTHING},
          {70, 0, 0, BACKOFF_REARM}}},
        {"the vendor throttles at LIGHT",
         {{0, 1, 1, BACKOFF_TAKE_BACK}, {30, 1, 1, BACKOFF_NOTHING}, {35, 1, 0, BACKOFF_NOTHING}}},
        {"a second re-arm waits out five minutes",
         {{0, 2, 0, BACKOFF_TAKE_BACK},
          {5, 0, 0, BACKOFF_NOTHING},
          {65, 0, 0, BACKOFF_REARM},
          {70, 2, 0, BACKOFF_TAKE_BACK},
          {75, 0, 0, BACKOFF_NOTHING},
          {140, 0, 0, BACKOFF_NOTHING},
          {360, 0, 0, BACKOFF_NOTHING},
          {365, 0, 0, BACKOFF_REARM}}},
        {"severe keeps it off for the session",
         {{0, 3, 0, BACKOFF_TAKE_BACK}, {5, 0, 0, BACKOFF_NOTHING}, {600, 0, 0, BACKOFF_NOTHING}}},
        {"an unknown level neither backs off nor re-arms",
         {{0, -1, 0, BACKOFF_NOTHING},
          {5, 2, 0, BACKOFF_TAKE_BACK},
          {100, -1, 0, BACKOFF_NOTHING}}},
    };
    for (const auto& c : cases) {
        backoff_state state{};
        for (const auto& s : c.steps)
            EXPECT_EQ(backoff_step(&state, s.at_s * 1000, s.level, s.cooling), s.action)
                << c.name << " at " << s.at_s << " s";
    }
    // A feed that flaps between MODERATE and NONE every 5 s for 10 minutes: never more than
    // the hysteresis allows.
    backoff_state flapping{};
    int rearms = 0;
    for (long long t = 0; t <= 600; t += 5)
        rearms += backoff_step(&flapping, t * 1000, t / 5 % 2 ? THERMAL_NONE : THERMAL_MODERATE,
                               0) == BACKOFF_REARM;
    EXPECT_LE(rearms, 2);
}

// Each rule of the knob table, as a preset computes a value from what the node holds.
TEST(Knobs, ValueRules) {
    const auto find = [](const char* name) -> const knob& {
        for (int i = 0; i < KNOB_COUNT; ++i)
            if (std::string(KNOBS[i].name) == name) return KNOBS[i];
        return KNOBS[0];
    };
    const struct {
        const char* knob;
        rule_input in;
        const char* value;  // nullptr: no change
    } cases[] = {
        {"top-app uclamp.min", {"0.00", {}, 0, 0}, "15"},
        {"top-app uclamp.min", {"20.00", {}, 0, 0}, nullptr},  // the platform asks for more
        {"top-app uclamp.min", {"max", {}, 0, 0}, nullptr},
        {"top-app schedtune.boost", {"10", {}, 0, 0}, "20"},
        {"up_rate_limit_us", {"1000", {}, 0, 0}, "500"},
        {"up_rate_limit_us", {"0", {}, 0, 0}, nullptr},
        {"down_rate_limit_us", {"20000", {}, 0, 0}, "3000"},
        {"big-cluster floor",
         {"300000", "300000 576000 1017600 1785600", 1785600, 1785600},
         "1017600"},
        // Throttled: the maximum is below the floor, so min never passes max.
        {"big-cluster floor",
         {"300000", "300000 576000 1017600 1785600", 1785600, 576000},
         nullptr},
        {"big-cluster floor",
         {"1017600", "300000 576000 1017600 1785600", 1785600, 1785600},
         nullptr},
        {"GPU floor",
         {"200000000", "600000000 450000000 200000000", 600000000, 600000000},
         "450000000"},
        {"GPU floor",
         {"500000000", "600000000 450000000 200000000", 600000000, 600000000},
         nullptr},
    };
    for (const auto& c : cases) {
        char out[32] = "";
        const int changed = knob_value(find(c.knob), c.in, out, sizeof out);
        EXPECT_EQ(changed, c.value != nullptr) << c.knob << " " << c.in.current;
        if (c.value) EXPECT_STREQ(out, c.value) << c.knob;
    }
    EXPECT_TRUE(same_value("15", "15.00"));
    EXPECT_FALSE(same_value("15", "15.01"));
    EXPECT_FALSE(same_value("max", "100"));
}

// Whether a knob's file still holds our request, by the kernel's own rules: cpufreq and devfreq
// show a floor cut down to the maximum in force while they keep the request, devfreq keeps it
// in kHz, interactive keeps timer_rate in whole jiffies.
TEST(Knobs, WhatTheFileShowsAgainstOurRequest) {
    const auto find = [](const char* name) -> const knob& {
        for (int i = 0; i < KNOB_COUNT; ++i)
            if (std::string(KNOBS[i].name) == name) return KNOBS[i];
        return KNOBS[0];
    };
    const struct {
        const char* knob;
        const char* ours;
        const char* shown;
        long long max;
        knob_reading reading;
    } cases[] = {
        {"top-app uclamp.min", "15", "15.00", -1, READ_SAME},
        {"top-app uclamp.min", "15", "0.00", -1, READ_FELL_BACK},
        {"top-app uclamp.min", "15", "50.00", -1, READ_FURTHER},
        {"top-app schedtune.boost", "20", "10", -1, READ_FELL_BACK},
        {"up_rate_limit_us", "500", "1000", -1, READ_FELL_BACK},
        {"up_rate_limit_us", "500", "0", -1, READ_FURTHER},
        {"up_rate_limit_us", "500", "max", -1, READ_OTHER},
        // HZ=250: 10000 us is 2.5 jiffies, kept as 3 and shown as 12000; HZ=100 shows 20000.
        {"interactive timer_rate", "10000", "12000", -1, READ_ROUNDED},
        {"interactive timer_rate", "10000", "10000", -1, READ_SAME},
        {"interactive timer_rate", "12000", "12000", -1, READ_SAME},
        {"interactive timer_rate", "12000", "16000", -1, READ_FELL_BACK},  // no tick gives it
        {"interactive timer_rate", "10000", "20000", -1, READ_FELL_BACK},  // the vendor's again
        {"interactive timer_rate", "25000", "30000", -1, READ_ROUNDED},    // HZ=100
        {"interactive timer_rate", "10000", "9000", -1, READ_FURTHER},
        {"interactive min_sample_time", "20000", "24000", -1, READ_FELL_BACK},  // kept as written
        // Capped at 600000: our 800000 shown cut down, the request kept.
        {"big-cluster floor", "800000", "600000", 600000, READ_CLAMPED},
        {"big-cluster floor", "800000", "800000", 600000, READ_SAME},
        {"big-cluster floor", "800000", "300000", 600000, READ_FELL_BACK},  // lowered, not cut
        {"big-cluster floor", "800000", "600000", 1800000, READ_FELL_BACK},
        {"big-cluster floor", "800000", "600000", -1, READ_FELL_BACK},  // maximum unknown
        {"big-cluster floor", "800000", "1200000", 1800000, READ_FURTHER},
        {"big-cluster floor", "800000", "799000", -1, READ_FELL_BACK},  // cpufreq keeps kHz
        {"GPU floor", "455000000", "300000000", 300000000, READ_CLAMPED},
        {"GPU floor", "177777777", "177777000", 600000000, READ_ROUNDED},
        {"GPU floor", "177777777", "177000000", 600000000, READ_FELL_BACK},
        {"GPU floor", "455000000", "151000000", 600000000, READ_FELL_BACK},
        {"GPU floor", "455000000", "600000000", 600000000, READ_FURTHER},
    };
    for (const auto& c : cases)
        EXPECT_EQ(read_knob(find(c.knob), c.ours, c.shown, c.max), c.reading)
            << c.knob << " " << c.ours << " shown " << c.shown << " max " << c.max;
    EXPECT_STREQ(knob_limit_leaf(find("big-cluster floor")), "scaling_max_freq");
    EXPECT_STREQ(knob_limit_leaf(find("GPU floor")), "max_freq");
    EXPECT_EQ(knob_limit_leaf(find("top-app uclamp.min")), nullptr);
}

// A devfreq GPU by what the kernel shows of it; bus and memory nodes never, whatever else they say.
TEST(DevfreqGpu, KnownByWhatItIsNotByMaliInItsName) {
    using namespace std::string_view_literals;
    const struct {
        devfreq_facts facts;
        bool gpu;
    } cases[] = {
        {{"13000000.mali", "simple_ondemand", "13000000.mali", "mali", ""}, true},
        {{"gpufreq", "mali_ondemand", "e82c0000.mali", "mali", "arm,mali-bifrost\0"sv}, true},
        {{"fde60000.gpu", "simple_ondemand", "fde60000.gpu", "mali", ""}, true},
        {{"60000000.gpu", "", "", "", ""}, true},
        {{"5000000.qcom,kgsl-3d0", "msm-adreno-tz", "5000000.qcom,kgsl-3d0", "kgsl-3d", ""}, true},
        // Only the device behind it, its driver or its device-tree node says GPU.
        {{"ff9a0000", "simple_ondemand", "ff9a0000", "", "rockchip,rk3399-mali\0"sv}, true},
        {{"devfreq0", "simple_ondemand", "11800000.g3d", "panfrost", ""}, true},
        {{"devfreq1", "simple_ondemand", "", "", ""}, false},  // nothing says what it is
        {{"soc:qcom,cpubw", "bw_hwmon", "soc:qcom,cpubw", "", ""}, false},
        {{"soc:qcom,gpubw", "bw_vbif", "soc:qcom,gpubw", "", ""}, false},
        {{"soc:qcom,llccbw", "bw_hwmon", "", "", ""}, false},
        {{"soc:qcom,cpu0-cpu-l3-lat", "mem_latency", "", "", ""}, false},
        {{"soc:qcom,memlat-cpu0", "mem_latency", "", "", ""}, false},
        {{"dmc", "dmc_ondemand", "dmc", "rockchip-dmc", "rockchip,rk3568-dmc\0"sv}, false},
        {{"17000010.devfreq_mif", "interactive", "", "", ""}, false},
        {{"10012000.dvfsrc", "", "", "", ""}, false},
        {{"kgsl-busmon", "gpubw_mon", "", "", ""}, false},
        // A GPU's bandwidth voter follows the GPU but sets the bus.
        {{"devfreq2", "bw_vbif", "gpu-bw", "", ""}, false},
        {{"devfreq3", "passive", "", "mali", ""}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(devfreq_is_gpu(c.facts), c.gpu) << c.facts.name << " " << c.facts.governor;
}

// Only a file some knob may write is ever written back from a state line.
TEST(Knobs, PathsAKnobMayWrite) {
    const struct {
        const char* path;
        bool allowed;
    } cases[] = {
        {"/dev/cpuctl/top-app/cpu.uclamp.min", true},
        {"/dev/cpuctl/top-app/cpu.uclamp.max", false},
        {"/dev/stune/top-app/schedtune.boost", true},
        {"/sys/devices/system/cpu/cpufreq/policy4/scaling_min_freq", true},
        {"/sys/devices/system/cpu/cpu4/cpufreq/scaling_min_freq", true},
        {"/sys/devices/system/cpu/cpufreq/policy4/scaling_max_freq", false},
        {"/sys/devices/system/cpu/cpufreq/policy4/schedutil/up_rate_limit_us", true},
        {"/sys/devices/system/cpu/cpufreq/interactive/timer_rate", true},
        {"/sys/devices/system/cpu/cpufreq/policy4/rate_limit_us", false},
        {"/sys/devices/system/cpu/cpufreq/policy4/../../../../../etc/up_rate_limit_us", false},
        {"/sys/class/kgsl/kgsl-3d0/devfreq/min_freq", true},
        {"/sys/class/devfreq/13000000.mali/min_freq", true},
        {"/sys/class/devfreq/soc:qcom,cpubw/min_freq", false},
        {"/sys/class/devfreq/fde60000.gpu/min_freq", true},
        {"/sys/class/devfreq/gpufreq/min_freq", true},
        {"/sys/class/devfreq/dmc/min_freq", false},
        {"/sys/class/devfreq/dmc/../../../../etc/min_freq", false},
        {"/etc/passwd", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(knob_path_allowed(c.path), c.allowed) << c.path;
}

TEST(Presets, WhichPresetAGameGets) {
    const std::string_view list = "# mine\ncom.a.game max\r\n* battery\ncom.b.game turbo\n";
    int own = 0;
    EXPECT_EQ(preset_for(list, "com.a.game", &own), PRESET_MAX);
    EXPECT_EQ(own, 1);
    EXPECT_EQ(preset_for(list, "com.b.game", &own), PRESET_BATTERY);  // no such preset: default
    EXPECT_EQ(own, 0);
    EXPECT_EQ(preset_for(list, ""), PRESET_BATTERY);
    EXPECT_EQ(preset_for("", "com.a.game"), PRESET_SUSTAINED);
}

}  // namespace
