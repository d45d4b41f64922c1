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

// The line end a list uses: CR LF when its first line ends so (or is one line whose CR waits
// for its LF), else LF.
const char* list_line_end(std::string_view list);

// Takes the next line (with its '\n', if it has one) off `text`; 0 when none is left.
int next_list_line(std::string_view* text, std::string_view* line);

// The list as the daemon reads it, for everything that shows or edits it: piece by piece, a
// line past 1,023 bytes going on as further pieces, each an entry of its own.
struct list_cursor {
    std::string_view rest;
    int line = 0;
    int at_line_start = 1;
};
struct list_piece {
    std::string_view text;   // the piece's bytes, with the line end when it has one
    std::string_view entry;  // what the daemon compares (empty for a blank or comment)
    int line;                // the line it is in, from 1
    int tail;                // a later piece of a line longer than 1,023 bytes
};
int next_list_piece(list_cursor* cursor, list_piece* piece);

// What is wrong with a piece's entry.
entry_diagnosis diagnose_piece(const list_piece& piece);

// A problem of the list: a piece's entry that can never match an app, or (PROBLEM_LONG_LINE)
// the later piece of a line past 1,023 bytes, which the daemon reads as an entry of its own.
constexpr unsigned PROBLEM_LONG_LINE = 16u;
struct list_problem {
    int line;
    unsigned problems;
    std::string_view clean;  // the name a fix leaves (the hidden entry itself for a long line)
};
int next_list_problem(list_cursor* cursor, list_problem* problem);

// The problems of a diagnosis in words ("surrounding whitespace, an inline comment").
const char* problem_text(unsigned problems, char* out, size_t cap);

// Whether the daemon matches `package` against some entry of the list.
int game_listed(std::string_view list, std::string_view package);

// The list with each of `packages` that it does not list yet appended as a line, in the file's
// own line ending; `added[i]` says which were. Answers how many.
int append_games(std::string_view list, const char* const* packages, int count, game_list_text* out,
                 unsigned char* added);
// The list without the entries that are one of `packages` (a line's; a piece's of a long line,
// whose other pieces stay as lines of their own); answers how many went.
int remove_games(std::string_view list, const char* const* packages, int count,
                 game_list_text* out);
// The list with each fixable entry replaced by its clean name, and each line whose later pieces
// hold entries split into a line per piece (so every name the daemon sees stays listed, and in
// sight); answers how many lines changed.
int fix_games(std::string_view list, game_list_text* out);

#endif
