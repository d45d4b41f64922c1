// "Choose for me" as rules: choose.txt's lines, who is handed over, and the step the rule takes
// when a game's session ends, over a game's whole course (a Try both run, a choice, the check
// 20 sessions later).
#include "choose_file.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>

namespace {

verdict clear_for(const char* winner, int used) {
    verdict v{};
    v.kind = VERDICT_ENERGY;
    v.presets = 2;
    snprintf(v.preset[0].preset, sizeof v.preset[0].preset, "max");
    snprintf(v.preset[1].preset, sizeof v.preset[1].preset, "%s", winner);
    v.winner = 1;
    v.other = 0;
    v.used = used;
    v.each = used / 2;
    return v;
}

verdict too_close() {
    verdict v = clear_for("sustained", 6);
    v.kind = VERDICT_CLOSE;
    v.winner = v.other = -1;
    return v;
}

std::string line_of(const choose_entry& e) {
    static game_list_text out;
    set_choose_line("", "g.a", &e, &out);
    return std::string(out.view());
}

TEST(ChooseFile, LinesReadAndWritten) {
    const std::string list =
        "# handed over\n* on\ng.a on\ng.b off\ng.c sustained 6 3\r\n"
        "g.d - 0 new\ng.e bogus 1 2\ng.f max 6\n";
    choose_entry e;
    EXPECT_TRUE(choose_for_every_game(list));
    EXPECT_FALSE(choose_for_every_game("g.a on\n"));
    struct Case {
        const char* game;
        int kind;
        const char* preset;
        int from, since;
    } cases[] = {
        {"g.a", CHOOSE_HANDED, "-", 0, -1},        {"g.b", CHOOSE_OFF, "-", 0, 0},
        {"g.c", CHOOSE_HANDED, "sustained", 6, 3}, {"g.d", CHOOSE_HANDED, "-", 0, -1},
        {"g.e", CHOOSE_NONE, "-", 0, 0},           {"g.f", CHOOSE_NONE, "-", 0, 0},
        {"g.z", CHOOSE_NONE, "-", 0, 0},
    };
    for (const Case& c : cases) {
        choose_entry_of(list, c.game, &e);
        EXPECT_EQ(e.kind, c.kind) << c.game;
        EXPECT_STREQ(e.preset, c.preset) << c.game;
        EXPECT_EQ(e.from, c.from) << c.game;
        EXPECT_EQ(e.since, c.since) << c.game;
    }
    EXPECT_EQ(line_of({CHOOSE_HANDED, "-", 0, -1}), "g.a on\n");
    EXPECT_EQ(line_of({CHOOSE_HANDED, "max", 0, -1}), "g.a max 0 new\n");
    EXPECT_EQ(line_of({CHOOSE_HANDED, "sustained", 6, 0}), "g.a sustained 6 0\n");
    EXPECT_EQ(line_of({CHOOSE_OFF, "-", 0, 0}), "g.a off\n");
    // Replaced in place, its own line end kept; every other byte stays.
    static game_list_text out;
    const choose_entry chosen{CHOOSE_HANDED, "max", 9, 0};
    ASSERT_TRUE(set_choose_line(list, "g.c", &chosen, &out));
    EXPECT_EQ(std::string(out.view()),
              "# handed over\n* on\ng.a on\ng.b off\ng.c max 9 0\r\n"
              "g.d - 0 new\ng.e bogus 1 2\ng.f max 6\n");
    ASSERT_TRUE(set_choose_every_game(list, 0, &out));
    EXPECT_EQ(std::string(out.view()).find("* on"), std::string::npos);
}

TEST(ChooseFile, AHandChoiceIsNeverTheRules) {
    const choose_entry none{CHOOSE_NONE, "-", 0, 0};
    const choose_entry on{CHOOSE_HANDED, "-", 0, -1};
    const choose_entry chose_sustained{CHOOSE_HANDED, "sustained", 6, 2};
    const choose_entry off{CHOOSE_OFF, "-", 0, 0};
    struct Case {
        const char* name;
        choose_entry entry;
        int every, has_own;
        const char* own;
        int by_hand, handed, chosen;
    } cases[] = {
        {"nothing", none, 0, 0, "", 0, 0, 0},
        {"every game, no own line", none, 1, 0, "", 0, 1, 0},
        {"every game, a line of the user's", none, 1, 1, "max", 1, 0, 0},
        {"this game", on, 0, 0, "", 0, 1, 0},
        {"the rule's own line", chose_sustained, 0, 1, "sustained", 0, 1, 1},
        {"a line changed by the user since", chose_sustained, 1, 1, "max", 1, 0, 0},
        {"the rule's choice, line cleared since", chose_sustained, 0, 0, "", 0, 1, 0},
        {"off beats every game", off, 1, 0, "", 0, 0, 0},
    };
    for (const Case& c : cases) {
        const int by_hand = preset_by_hand(c.entry, c.has_own, c.own);
        EXPECT_EQ(by_hand, c.by_hand) << c.name;
        EXPECT_EQ(choose_handed(c.entry, c.every, by_hand), c.handed) << c.name;
        EXPECT_EQ(preset_chosen(c.entry, c.has_own, c.own), c.chosen) << c.name;
    }
}

// A game's course, one session end at a time: handed over with nothing clear, a Try both run
// (the step waits while it lasts), a clear verdict applied, 20 sessions counted, a second run,
// then too close to call: what was chosen stays.
TEST(ChooseFile, AGamesCourse) {
    choose_entry e{CHOOSE_HANDED, "-", 0, -1};
    choose_entry next;
    verdict waiting{};
    waiting.kind = VERDICT_WAITING;
    EXPECT_EQ(choose_step(e, 0, 0, clear_for("sustained", 6), &next), CHOOSE_NOTHING);
    EXPECT_EQ(choose_step(e, 1, 0, waiting, &next), CHOOSE_TRY);
    e = next;
    EXPECT_EQ(e.since, CHOOSE_RECHECK);
    for (int left = 5; left > 0; --left)
        EXPECT_EQ(choose_step(e, 1, 1, waiting, &next), CHOOSE_NOTHING) << left;
    // The session that completes the run.
    EXPECT_EQ(choose_step(e, 1, 0, clear_for("sustained", 6), &next), CHOOSE_APPLY);
    e = next;
    EXPECT_STREQ(e.preset, "sustained");
    EXPECT_EQ(e.from, 6);
    EXPECT_EQ(e.since, 0);
    for (int n = 1; n < CHOOSE_RECHECK; ++n) {
        ASSERT_EQ(choose_step(e, 1, 0, clear_for("max", 8), &next), CHOOSE_COUNT) << n;
        e = next;
        EXPECT_EQ(e.since, n);
        EXPECT_STREQ(e.preset, "sustained") << "not weighed between checks";
    }
    EXPECT_EQ(choose_step(e, 1, 0, clear_for("max", 8), &next), CHOOSE_TRY);
    e = next;
    EXPECT_EQ(choose_step(e, 1, 1, clear_for("max", 8), &next), CHOOSE_NOTHING);
    EXPECT_EQ(choose_step(e, 1, 0, too_close(), &next), CHOOSE_KEEP);
    e = next;
    EXPECT_STREQ(e.preset, "sustained");
    EXPECT_EQ(e.from, 6);
    EXPECT_EQ(e.since, 0);
    // Handed over by "* on" with a clear verdict already there: applied at once.
    const choose_entry none{CHOOSE_NONE, "-", 0, 0};
    EXPECT_EQ(choose_step(none, 1, 0, clear_for("battery", 7), &next), CHOOSE_APPLY);
    EXPECT_STREQ(next.preset, "battery");
    EXPECT_EQ(next.kind, CHOOSE_HANDED);
}

}  // namespace
