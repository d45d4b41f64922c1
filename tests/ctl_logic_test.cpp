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

}  // namespace
