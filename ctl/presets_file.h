// presets.txt, beside game.txt: which preset each game gets. One "<package> <preset>" per line,
// "* <preset>" for every game without a line of its own; '#' starts a comment line. Without
// the file, or a line for the game and no "*", a game gets sustained. No I/O here.
#ifndef TESSIVARCTL_PRESETS_FILE_H
#define TESSIVARCTL_PRESETS_FILE_H

#include <string_view>

#include "game_list_edit.h"

// The preset for `package` (an empty package: the default's); `own` says whether the game has
// a line of its own.
unsigned preset_for(std::string_view list, std::string_view package, int* own = nullptr);

// The list with `who`'s line ("*" for the default) set to `preset` (replaced in place, else
// appended in the file's own line ending), or removed when `preset` is null. Every other byte
// stays. Answers whether anything changed.
int set_preset_line(std::string_view list, std::string_view who, const char* preset,
                    game_list_text* out);

// The line's two words, when it is a preset line.
int parse_preset_line(std::string_view line, std::string_view* who, std::string_view* preset);

#endif
