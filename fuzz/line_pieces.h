// Splits fuzz input into the pieces the daemon's readers see: like fgets with a 1024-byte
// buffer, at most 1023 bytes, ending after the first '\n'.
#ifndef TESSIVAR_FUZZ_LINE_PIECES_H
#define TESSIVAR_FUZZ_LINE_PIECES_H

#include <stddef.h>
#include <stdint.h>

#include "window_state.h"

template <typename Fn>
void for_each_piece(const uint8_t* data, size_t size, Fn fn) {
    char piece[LINE_SIZE];
    size_t i = 0;
    while (i < size) {
        size_t n = 0;
        while (i < size && n < LINE_SIZE - 1) {
            const char c = static_cast<char>(data[i++]);
            piece[n++] = c;
            if (c == '\n') break;
        }
        piece[n] = '\0';
        fn(piece);
    }
}

#define CHECK(cond)                    \
    do {                               \
        if (!(cond)) __builtin_trap(); \
    } while (0)

#endif
