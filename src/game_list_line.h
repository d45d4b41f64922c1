// What one line of the game list means. The daemon and the control program share this, so that
// a line the control program calls a game is one the daemon matches, and the reverse.
#ifndef TESSIVAR_GAME_LIST_LINE_H
#define TESSIVAR_GAME_LIST_LINE_H

#include <stddef.h>

#include <string_view>

// Cuts the line at its first CR or LF, in place, and answers the entry it holds, or nullptr
// for a blank or comment line.
const char* game_list_entry(char* line);

// The same for a piece of the file as the daemon reads it (see next_piece_length): the entry
// ends at the first CR, LF or NUL (the daemon compares C strings); empty for a blank or comment.
std::string_view game_list_piece_entry(std::string_view piece);

// Android's rule for a package name: two or more dot-separated segments, each starting with a
// letter and made of letters, digits and '_'; at most MAX_PACKAGE_LEN bytes.
int valid_package_name(std::string_view name);

// Why an entry can never match an app, as flags, and the clean name a fix would write.
enum : unsigned {
    PROBLEM_BOM = 1u,             // a byte-order mark before the first entry
    PROBLEM_WHITESPACE = 2u,      // spaces or tabs around the name
    PROBLEM_INLINE_COMMENT = 4u,  // " # remark" after the name
    PROBLEM_INVALID = 8u,         // what is left is no package name: fix leaves it alone
};
struct entry_diagnosis {
    unsigned problems;
    std::string_view clean;  // a part of the entry given
};
// `first_line` says whether the entry is the file's first, where a BOM may sit.
entry_diagnosis diagnose_entry(std::string_view entry, int first_line);

#endif
