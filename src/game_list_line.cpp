#include "game_list_line.h"

#include <string.h>

#include "text_view.h"
#include "window_state.h"

const char* game_list_entry(char* line) {
    line[strcspn(line, "\r\n")] = '\0';
    if (line[0] == '\0' || line[0] == '#') return nullptr;
    return line;
}

std::string_view game_list_piece_entry(std::string_view piece) {
    size_t end = 0;
    while (end < piece.size() && piece[end] != '\r' && piece[end] != '\n' && piece[end] != '\0')
        ++end;
    if (end == 0 || piece[0] == '#') return {};
    return sub(piece, 0, end);
}

namespace {

int is_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
int is_blank(char c) {
    return c == ' ' || c == '\t';
}
std::string_view trim(std::string_view text) {
    while (!text.empty() && is_blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back()))
        text.remove_suffix(1);
    return text;
}

}  // namespace

int valid_package_name(std::string_view name) {
    if (name.empty() || name.size() > static_cast<size_t>(MAX_PACKAGE_LEN)) return 0;
    int segments = 0;
    size_t at = 0;
    while (at <= name.size()) {
        size_t dot = name.find('.', at);
        if (dot == std::string_view::npos) dot = name.size();
        const std::string_view segment = sub(name, at, dot - at);
        if (segment.empty() || !is_letter(segment[0])) return 0;
        for (char c : segment)
            if (!is_letter(c) && !(c >= '0' && c <= '9') && c != '_') return 0;
        ++segments;
        at = dot + 1;
    }
    return segments >= 2;
}

entry_diagnosis diagnose_entry(std::string_view entry, int first_line) {
    entry_diagnosis d = {0, {}};
    static const char bom[] = "\xEF\xBB\xBF";
    if (first_line && sub(entry, 0, 3) == bom) {
        d.problems |= PROBLEM_BOM;
        entry.remove_prefix(3);
    }
    if (entry.empty() || entry[0] == '#') {
        d.problems = 0;  // with the mark gone it is a blank or a comment: nothing to match
        return d;
    }
    std::string_view clean = trim(entry);
    if (clean.size() != entry.size()) d.problems |= PROBLEM_WHITESPACE;
    for (size_t i = 1; i < clean.size(); ++i) {
        if (clean[i] == '#' && is_blank(clean[i - 1])) {
            clean = trim(sub(clean, 0, i));
            d.problems |= PROBLEM_INLINE_COMMENT;
            break;
        }
    }
    if (!clean.empty() && clean[0] != '#' && !valid_package_name(clean))
        d.problems |= PROBLEM_INVALID;
    d.clean = clean;
    return d;
}
