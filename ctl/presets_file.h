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

// A "<who> <words>" line of one of these lists, `check` saying what its words may be; and the
// list with `who`'s line set to "<who> <words>" (or removed when `words` is null), every other
// byte kept. Shared with choose.txt.
using word_check = int (*)(std::string_view);
int parse_word_line(std::string_view line, std::string_view* who, std::string_view* words,
                    word_check check);
int set_word_line(std::string_view list, std::string_view who, const char* words,
                  game_list_text* out, word_check check);

// The line's two words, when it is a preset line.
int parse_preset_line(std::string_view line, std::string_view* who, std::string_view* preset);

// trials.txt, beside it: "<package> <sessions left>" for a game whose next sessions alternate
// max and sustained (try both), after which its own choice applies again.
constexpr int TRIAL_SESSIONS = 6;
int trial_left(std::string_view list, std::string_view package);
// The list with `package`'s count set to `left` (its line removed at 0).
int set_trial_line(std::string_view list, std::string_view package, int left, game_list_text* out);
// The preset a trial gives its next session: max and sustained by turns, max first.
unsigned trial_preset(int left);

#endif
