// `games list|add|remove|check|fix`: the one way the page, the Action button and a root shell
// change the game list. Edits are serialized by a lock and replace the file whole.
#ifndef TESSIVARCTL_GAMES_H
#define TESSIVARCTL_GAMES_H

#include <string_view>

int run_games(int argc, char** argv);

// For status: the list's text (empty when missing), or 0 with a reason when it cannot be read.
int load_game_list(std::string_view* text, const char** reason);

#endif
