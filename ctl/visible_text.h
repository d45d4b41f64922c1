// Device text printed for a person: control bytes shown as \xNN, so that a name from a file
// cannot move the cursor, clear a line or pass for another.
#ifndef TESSIVARCTL_VISIBLE_TEXT_H
#define TESSIVARCTL_VISIBLE_TEXT_H

#include <stdio.h>

#include <string_view>

inline void print_visible(FILE* out, std::string_view text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f || c == '\\') {
            fprintf(out, "\\x%02x", c);
        } else {
            fputc(c, out);
        }
    }
}

#endif
