// The control program's pure rules, driven directly.
#include <gtest/gtest.h>

#include <string>

#include "boot.h"
#include "game_list_line.h"
#include "log_writer.h"
#include "manager_status.h"
#include "snapshot.h"

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

TEST(Snapshot, LinesAndTheirBoot) {
    std::string_view text =
        "B boot-1\nG /a/scaling_governor walt\nT /a/walt/x 80 1516800:90\nZ y\nG nospace";
    EXPECT_EQ(snapshot_boot(text), "boot-1");
    const char kinds[] = {'B', 'G', 'T', 0, 0};
    snapshot_line line;
    for (char kind : kinds) {
        ASSERT_TRUE(next_snapshot_line(&text, &line));
        EXPECT_EQ(line.kind, kind);
    }
    EXPECT_FALSE(next_snapshot_line(&text, &line));
    std::string_view tunable = "T /a/walt/x 80 1516800:90\n";
    next_snapshot_line(&tunable, &line);
    EXPECT_EQ(line.path, "/a/walt/x");
    EXPECT_EQ(line.value, "80 1516800:90");
}

TEST(LaunchStamp, ScopedToTheBootAndOrderedByStartThenClock) {
    launch_stamp stamp;
    EXPECT_TRUE(parse_stamp("boot-2 10 20\n", "boot-2", &stamp));
    EXPECT_EQ(stamp.start_ticks, 10u);
    EXPECT_EQ(stamp.clock_ns, 20u);
    for (const char* other : {"boot-1 10 20\n", "boot-2x 10 20", "boot-2 10", "boot-2 x 20", ""})
        EXPECT_FALSE(parse_stamp(other, "boot-2", &stamp)) << other;
    EXPECT_TRUE(launched_after({11, 0}, {10, 99}));
    EXPECT_TRUE(launched_after({10, 21}, {10, 20}));  // one tick: the later arrival
    EXPECT_FALSE(launched_after({10, 20}, {10, 20}));
    EXPECT_FALSE(launched_after({9, 99}, {10, 0}));
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

}  // namespace
