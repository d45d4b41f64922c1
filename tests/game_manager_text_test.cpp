// The game manager's text as GameManagerShellCommand (newest) prints `cmd game list-modes`.
#include "game_manager_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ModesCase {
    const char* name;
    std::string text;
    int parsed;
    const char* current;
    int battery;
    int not_a_game;
    int not_found;
};

TEST(GameManagerText, ReadsListModesAsTheShellCommandPrintsIt) {
    const std::string pkg = "com.example.game";
    const ModesCase cases[] = {
        {"offers battery",
         pkg + " current mode: standard, available game modes: [standard,performance,battery]\n", 1,
         "standard", 1, 0, 0},
        {"custom in force",
         pkg + " current mode: custom, available game modes: [standard,custom]\r\n", 1, "custom", 0,
         0, 0},
        {"no modes", pkg + " current mode: unsupported, available game modes: []\n", 1,
         "unsupported", 0, 0, 0},
        {"not a game",
         "Package " + pkg +
             " is not of game type, to use the game mode commands, it must specify game category "
             "in the manifest as android:appCategory=\"game\"\n",
         1, "", 0, 1, 0},
        {"not installed", "Package " + pkg + " is not found for user 0\n", 1, "", 0, 0, 1},
        {"another package's line",
         "com.example.gamer current mode: standard, available game modes: [battery]\n", 0, "", 0, 0,
         0},
        {"batteryx is not battery",
         pkg + " current mode: standard, available game modes: [batteryx,standard]\n", 1,
         "standard", 0, 0, 0},
        {"cut before its end", pkg + " current mode: standard, available game modes: [battery", 0,
         "", 0, 0, 0},
        {"an error", "Error: java.lang.SecurityException\n", 0, "", 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        game_modes modes;
        EXPECT_EQ(parse_list_modes(c.text, pkg, &modes), c.parsed);
        EXPECT_EQ(modes.current, c.current);
        EXPECT_EQ(modes.offers_battery, c.battery);
        EXPECT_EQ(modes.not_a_game, c.not_a_game);
        EXPECT_EQ(modes.not_found, c.not_found);
    }
    EXPECT_TRUE(restorable_game_mode("performance"));
    EXPECT_FALSE(restorable_game_mode("battery"));
    EXPECT_FALSE(restorable_game_mode("unsupported"));
    EXPECT_FALSE(restorable_game_mode("standard;reboot"));
}

}  // namespace
