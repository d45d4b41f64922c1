#include "json_text.h"

size_t next_utf8(std::string_view text, unsigned* code) {
    const unsigned char first = static_cast<unsigned char>(text[0]);
    *code = 0xFFFD;
    if (first < 0x80) {
        *code = first;
        return 1;
    }
    size_t len = 0;
    unsigned value = 0;
    unsigned minimum = 0;
    if ((first & 0xE0) == 0xC0) {
        len = 2;
        value = first & 0x1F;
        minimum = 0x80;
    } else if ((first & 0xF0) == 0xE0) {
        len = 3;
        value = first & 0x0F;
        minimum = 0x800;
    } else if ((first & 0xF8) == 0xF0) {
        len = 4;
        value = first & 0x07;
        minimum = 0x10000;
    } else {
        return 1;
    }
    if (text.size() < len) return 1;
    for (size_t i = 1; i < len; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if ((c & 0xC0) != 0x80) return 1;
        value = value << 6 | (c & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are not characters.
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 1;
    *code = value;
    return len;
}

void write_json_string(FILE* out, std::string_view text) {
    fputc('"', out);
    while (!text.empty()) {
        unsigned code = 0;
        const size_t len = next_utf8(text, &code);
        text.remove_prefix(len);
        const int plain = code >= 0x20 && code < 0x7F && code != '%' && code != '#' &&
                          code != '<' && code != '>' && code != '&' && code != '\'' &&
                          code != '"' && code != '\\';
        if (plain) {
            fputc(static_cast<int>(code), out);
        } else if (code > 0xFFFF) {
            const unsigned v = code - 0x10000;
            fprintf(out, "\\u%04x\\u%04x", 0xD800 + (v >> 10), 0xDC00 + (v & 0x3FF));
        } else {
            fprintf(out, "\\u%04x", code);
        }
    }
    fputc('"', out);
}
