// Edits of the game list as bytes in, bytes out: every byte of a line the edit does not touch
// stays as it was (CRLF, a missing final newline, NULs, a BOM). No I/O here.
#ifndef TESSIVARCTL_GAME_LIST_EDIT_H
#define TESSIVARCTL_GAME_LIST_EDIT_H

#include <stddef.h>

#include <string_view>

#include "fixed_text.h"
#include "game_list_line.h"

constexpr size_t GAME_LIST_MAX = 1024 * 1024;
using game_list_text = fixed_text<GAME_LIST_MAX + 4096>;

// Takes the next line (with its '\n', if it has one) off `text`; 0 when none is left.
int next_list_line(std::string_view* text, std::string_view* line);

// The entry a line holds as the daemon reads it (empty for a blank or comment line).
std::string_view line_entry(std::string_view line);

// What is wrong with line `number` (from 1): its whole entry, up to the line end, diagnosed.
entry_diagnosis diagnose_line(std::string_view line, int number);

// The problems of a diagnosis in words ("surrounding whitespace, an inline comment").
const char* problem_text(unsigned problems, char* out, size_t cap);

// Whether the daemon matches `package` against some entry of the list.
int game_listed(std::string_view list, std::string_view package);

// The list with each of `packages` that it does not list yet appended as a line, in the file's
// own line ending; `added[i]` says which were. Answers how many.
int append_games(std::string_view list, const char* const* packages, int count, game_list_text* out,
                 unsigned char* added);
// The list without the lines whose entry is one of `packages`; answers how many went.
int remove_games(std::string_view list, const char* const* packages, int count,
                 game_list_text* out);
// The list with each fixable entry replaced by its clean name; answers how many changed.
int fix_games(std::string_view list, game_list_text* out);

#endif
