// What the supervisor decides during a game, as pure rules: which listed game is in front, the
// back-off a relaunch starts with, and the change record a launch reads its thermal state from.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "game_focus.h"
#include "game_in_front.h"
#include "take_back.h"
#include "thermal.h"

namespace {

TEST(GameInFront, OneOtherListedGameIsASwitchAndAnythingElseIsNot) {
    const struct {
        const char* name;
        std::vector<std::string_view> in_front;  // the listed packages of top-app's processes
        std::string_view game;                   // the session's
        front_answer answer;
        std::string_view other;
    } cases[] = {
        {"the session's game", {"com.a.game"}, "com.a.game", FRONT_SAME, ""},
        {"no listed game there (a dialog, the launcher)", {}, "com.a.game", FRONT_SAME, ""},
        {"another game", {"com.b.game"}, "com.a.game", FRONT_OTHER, "com.b.game"},
        {"another game with two processes",
         {"com.b.game", "com.b.game"},
         "com.a.game",
         FRONT_OTHER,
         "com.b.game"},
        {"both, while the first is still there",
         {"com.b.game", "com.a.game"},
         "com.a.game",
         FRONT_SAME,
         ""},
        {"two others: split screen", {"com.b.game", "com.c.game"}, "com.a.game", FRONT_UNKNOWN, ""},
        {"a launch that named no game", {"com.b.game"}, "", FRONT_OTHER, "com.b.game"},
    };
    for (const auto& c : cases) {
        std::string_view other;
        EXPECT_EQ(
            front_rule(c.in_front.data(), static_cast<int>(c.in_front.size()), c.game, &other),
            c.answer)
            << c.name;
        if (c.answer == FRONT_OTHER) EXPECT_EQ(other, c.other) << c.name;
    }
}

// A game brought back to the front (screen off and on) while hot starts backed off, and its
// re-arm limit goes on from the session before; another game's does not.
TEST(Thermal, ARelaunchStartsBackedOffAndKeepsTheReArmLimit) {
    const auto run = [](backoff_state* state, long long from_s, long long to_s, int level) {
        int rearms = 0;
        for (long long t = from_s; t <= to_s; t += 5)
            rearms += backoff_step(state, t * 1000, level, 0) == BACKOFF_REARM;
        return rearms;
    };
    backoff_state first{};
    ASSERT_EQ(backoff_step(&first, 0, THERMAL_MODERATE, 0), BACKOFF_TAKE_BACK);
    ASSERT_EQ(run(&first, 5, 65, THERMAL_NONE), 1);  // re-armed at 65 s
    ASSERT_EQ(backoff_step(&first, 70, THERMAL_MODERATE, 0), BACKOFF_TAKE_BACK);

    const struct {
        const char* name;
        int same_game;
        int hot;
        int backed_off;
        int rearms_by_200_s;  // cool from 100 s on
    } cases[] = {
        {"the same game, hot", 1, THERMAL_MODERATE, 1, 0},
        {"the same game, cool", 1, THERMAL_UNKNOWN, 0, 0},
        {"another game, hot", 0, THERMAL_MODERATE, 1, 1},
    };
    for (const auto& c : cases) {
        backoff_state next = backoff_for_launch(first, c.same_game, c.hot, 100 * 1000);
        EXPECT_EQ(next.backed_off, c.backed_off) << c.name;
        EXPECT_EQ(run(&next, 100, 200, THERMAL_NONE), c.rearms_by_200_s) << c.name;
        if (c.backed_off && c.same_game) {  // five minutes after the first re-arm, at last
            EXPECT_EQ(run(&next, 205, 360, THERMAL_NONE), 0) << c.name;
            EXPECT_EQ(run(&next, 365, 370, THERMAL_NONE), 1) << c.name;
        }
    }
    // A launch at SEVERE stays off for its session.
    backoff_state severe = backoff_for_launch({}, 0, THERMAL_SEVERE, 0);
    EXPECT_EQ(run(&severe, 5, 600, THERMAL_NONE), 0);
    EXPECT_EQ(backoff_level_from_name("COOLING"), THERMAL_MODERATE);
    EXPECT_EQ(backoff_level_from_name("CRITICAL"), THERMAL_CRITICAL);
}

TEST(ChangeRecord, TheThermalStateALaunchStartsIn) {
    const struct {
        const char* text;
        int ok;
        int mode;
        std::string_view package;
        std::string_view hot;
    } cases[] = {
        {"boot-1\n1 com.a.game\n", 1, 1, "com.a.game", ""},
        {"boot-1\n1 com.a.game\nhot MODERATE\n", 1, 1, "com.a.game", "MODERATE"},
        {"boot-1\n1 com.a.game\nhot COOLING\n", 1, 1, "com.a.game", "COOLING"},
        {"boot-1\n1 com.a.game\nhot moderate; rm -rf\n", 1, 1, "com.a.game", ""},
        {"boot-1\n1 com.a.game\nhot MODERATE", 1, 1, "com.a.game", ""},  // cut short
        {"boot-1\n2 com.android.launcher3\n", 1, 2, "com.android.launcher3", ""},
        {"boot-0\n1 com.a.game\nhot MODERATE\n", 0, 0, "", ""},
        {"boot-1\n1 com.a.game", 0, 0, "", ""},
    };
    for (const auto& c : cases) {
        int mode = 0;
        std::string_view package;
        std::string_view hot;
        EXPECT_EQ(parse_change_record(c.text, "boot-1", &mode, &package, &hot), c.ok) << c.text;
        if (!c.ok) continue;
        EXPECT_EQ(mode, c.mode) << c.text;
        EXPECT_EQ(package, c.package) << c.text;
        EXPECT_EQ(hot, c.hot) << c.text;
    }
}

// Set again each time, until something takes it back more than five times within a minute:
// then left to the system for good.
TEST(TakeBack, SetAgainUntilTakenBackTooOften) {
    const struct {
        const char* name;
        std::vector<long long> at_s;  // the checks that found it taken back
        int set_again;                // how many of them set it to ours again
        int left;
    } cases[] = {
        {"once", {10}, 1, 0},
        {"now and then", {0, 20, 40, 60, 80, 100, 120, 140}, 8, 0},
        {"at every check", {0, 5, 10, 15, 20, 25, 30, 35}, 5, 1},
        {"five in a minute, a pause, five more", {0, 5, 10, 15, 20, 80, 85, 90, 95, 100}, 10, 0},
        {"six within a minute, spread out", {0, 11, 22, 33, 44, 55}, 5, 1},
    };
    for (const auto& c : cases) {
        take_back_record record{};
        int set_again = 0;
        for (long long t : c.at_s)
            set_again += note_take_back(&record, t * 1000);
        EXPECT_EQ(set_again, c.set_again) << c.name;
        EXPECT_EQ(record.left, c.left) << c.name;
        EXPECT_EQ(record.times, static_cast<int>(c.at_s.size())) << c.name;
    }
}

TEST(TakeBack, TheRecordStatusReads) {
    const struct {
        const char* line;
        int ok;
        char kind;
        int times;
        int left;
        std::string_view text;
    } cases[] = {
        {"B 6 1 top-app cpu.uclamp.min\n", 1, 'B', 6, 1, "top-app cpu.uclamp.min"},
        {"B 1 0 policy4 up_rate_limit_us\n", 1, 'B', 1, 0, "policy4 up_rate_limit_us"},
        {"F no top-app cpuset\n", 1, 'F', 0, 0, "no top-app cpuset"},
        {"B 6 2 x\n", 0, 0, 0, 0, ""},
        {"B x 1 y\n", 0, 0, 0, 0, ""},
        {"B 6 1 \n", 0, 0, 0, 0, ""},
        {"Z 1 1 y\n", 0, 0, 0, 0, ""},
    };
    for (const auto& c : cases) {
        watch_line line{};
        EXPECT_EQ(parse_watch_line(c.line, &line), c.ok) << c.line;
        if (!c.ok) continue;
        EXPECT_EQ(line.kind, c.kind) << c.line;
        EXPECT_EQ(line.times, c.times) << c.line;
        EXPECT_EQ(line.left, c.left) << c.line;
        EXPECT_EQ(line.text, c.text) << c.line;
    }
}

}  // namespace
