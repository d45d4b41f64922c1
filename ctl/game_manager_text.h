// The platform's game manager as its commands print it: `dumpsys game` (Android 13 and later:
// the header line "*Dump GameManagerService*", then for each installed app of the game category
// of the current user an empty line and either " No intervention found for package <package>"
// or "[Name:<package> Modes: {...}]"), and `cmd game list-modes <package>` (Android 14 and
// later: "<package> current mode: <mode>, available game modes: [<mode>,...]"). Pure.
#ifndef TESSIVARCTL_GAME_MANAGER_TEXT_H
#define TESSIVARCTL_GAME_MANAGER_TEXT_H

#include <string_view>

// Moves `dump` past the header line; 0 when the text has none (another service answered, a
// permission denial, nothing at all), and then it names no games.
int skip_game_dump_header(std::string_view* dump);
// The next package the dump names, taken off `rest`; 0 at the end. Only whole lines count (a
// dump cut at its bound may end inside one) and only valid package names.
int next_dumped_game(std::string_view* rest, std::string_view* package);

// What list-modes said of `package`.
struct game_modes {
    std::string_view current;  // "standard", "performance", "battery", "custom", "unsupported"
    int offers_battery;
    int not_a_game;  // the platform said the package is not of the game category
    int not_found;   // not installed for the current user
};
// 1 when the output holds the package's modes line, or says it is no game or not found.
int parse_list_modes(std::string_view text, std::string_view package, game_modes* modes);

// A mode that `cmd game mode` can put back (and that is not battery itself).
int restorable_game_mode(std::string_view mode);

#endif
