// A part of a string_view that never throws: std::string_view::substr checks its position and
// would pull in the C++ runtime's exception support; positions here are always in range or
// clamped.
#ifndef TESSIVAR_TEXT_VIEW_H
#define TESSIVAR_TEXT_VIEW_H

#include <stddef.h>

#include <string_view>

inline std::string_view sub(std::string_view text, size_t pos,
                            size_t count = std::string_view::npos) {
    if (pos > text.size()) pos = text.size();
    const size_t left = text.size() - pos;
    return std::string_view(text.data() + pos, count < left ? count : left);
}

#endif
