// The pieces a line reader hands to the line logic: exactly what fgets with a LINE_SIZE buffer
// would return, taken straight out of a larger buffer instead of copied a line at a time.
#ifndef TESSIVAR_PIECES_H
#define TESSIVAR_PIECES_H

#include <stddef.h>
#include <string.h>

#include "window_state.h"

// The length of the next piece at `data`, of which `avail` bytes are buffered: up to and with
// the first '\n', at most LINE_SIZE - 1 bytes, or, at the end of the input (`at_end`), whatever
// is left. 0 when more input is needed first, or when nothing is left at the end.
inline size_t next_piece_length(const char* data, size_t avail, int at_end) {
    const size_t limit = avail < static_cast<size_t>(LINE_SIZE - 1) ? avail : LINE_SIZE - 1;
    if (const void* nl = memchr(data, '\n', limit))
        return static_cast<size_t>(static_cast<const char*>(nl) - data) + 1;
    if (limit == static_cast<size_t>(LINE_SIZE - 1)) return limit;
    return at_end ? avail : 0;
}

#endif
