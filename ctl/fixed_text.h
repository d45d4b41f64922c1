// Text built in a fixed buffer: appends past the end are dropped and remembered, so that a
// caller can refuse a result that did not fit instead of using a cut one. A global of it, or of
// a struct holding it, is defined with `= {}`: then it is zero from the start, not zeroed by code
// that every start of the program runs (and that touches its pages).
#ifndef TESSIVARCTL_FIXED_TEXT_H
#define TESSIVARCTL_FIXED_TEXT_H

#include <stddef.h>
#include <string.h>

#include <string_view>

template <size_t N>
struct fixed_text {
    char data[N];
    size_t len = 0;
    int overflow = 0;

    void clear() {
        len = 0;
        overflow = 0;
        data[0] = '\0';
    }
    void append(std::string_view text) {
        if (text.empty()) return;  // an empty view may have no data pointer at all
        if (text.size() > N - 1 - len) {
            overflow = 1;
            return;
        }
        memcpy(data + len, text.data(), text.size());
        len += text.size();
        data[len] = '\0';
    }
    void append_char(char c) { append(std::string_view(&c, 1)); }
    void append_number(long long value) {
        char digits[24];
        size_t n = 0;
        unsigned long long v = value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                                         : static_cast<unsigned long long>(value);
        do {
            digits[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v);
        if (value < 0) append_char('-');
        while (n)
            append_char(digits[--n]);
    }
    std::string_view view() const { return std::string_view(data, len); }
    const char* c_str() const { return data; }
};

#endif
