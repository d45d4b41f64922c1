// The window-state snapshot: what one "dumpsys window" says about the screen and the focus.
#ifndef TESSIVAR_WINDOW_STATE_H
#define TESSIVAR_WINDOW_STATE_H

#include <stddef.h>

constexpr int PACKAGE_SIZE = 256;
constexpr int MAX_PACKAGE_LEN = 254;  // longest token ever stored
constexpr int LINE_SIZE = 1024;       // dump and game-list lines are read in pieces of 1023

struct system_state {
    int screen_state;  // -1 not determined, 0 off, 1 on
    char focused_package[PACKAGE_SIZE];
    int focus_found;  // 1 once a token has been accepted
};

// Where in the dump the reader is: saved copies of old state and the blocks of secondary
// displays are read past, not examined.
struct dump_sections {
    int in_last_anr;
    int in_other_display;
};

// Pure logic on one line (one fgets piece) of the dump; no I/O.

// -1 when the line settles nothing, else 0 (off) or 1 (on).
int screen_state_from_line(const char* line);

// Copies the first acceptable focus token of the line into `package` (PACKAGE_SIZE bytes) and
// answers 1; otherwise leaves `package` empty and answers 0.
int focus_from_line(const char* line, char* package);

// Updates the section state for this line and answers 1 when the line describes live state.
int dump_line_is_live(dump_sections* sections, const char* line);

// Resets the record, as at the start of a probe.
void reset_system_state(system_state* state);

// Applies one line to the record: screen state while undetermined, focus while not found.
void scan_dump_line(dump_sections* sections, system_state* state, const char* line);

// Applies the complete pieces of `avail` buffered bytes of the dump (all of them when `at_end`)
// to the record, with the same result as scan_dump_line on each piece in turn, and answers how
// many bytes it consumed: all of them once both facts are settled (then at once, unexamined), else
// up to the start of the
// unfinished piece, which the caller keeps. `data` needs one writable byte past `avail`.
size_t scan_dump_chunk(dump_sections* sections, system_state* state, char* data, size_t avail,
                       int at_end);

// Runs "dumpsys window", reads all of it and refills the record.
void get_system_state(system_state* state);

#endif
