#include "game_list_edit.h"

#include <stdio.h>
#include <string.h>

#include "pieces.h"
#include "text_view.h"

int next_list_line(std::string_view* text, std::string_view* line) {
    if (text->empty()) return 0;
    const size_t nl = text->find('\n');
    const size_t len = nl == std::string_view::npos ? text->size() : nl + 1;
    *line = sub(*text, 0, len);
    text->remove_prefix(len);
    return 1;
}

std::string_view line_entry(std::string_view line) {
    const size_t piece = next_piece_length(line.data(), line.size(), 1);
    return game_list_piece_entry(sub(line, 0, piece));
}

namespace {

size_t entry_end(std::string_view line) {
    size_t end = 0;
    while (end < line.size() && line[end] != '\r' && line[end] != '\n' && line[end] != '\0')
        ++end;
    return end;
}

}  // namespace

entry_diagnosis diagnose_line(std::string_view line, int number) {
    return diagnose_entry(sub(line, 0, entry_end(line)), number == 1);
}

int game_listed(std::string_view list, std::string_view package) {
    // Piece by piece, as the daemon reads it: a line past 1023 bytes goes on as another line.
    while (!list.empty()) {
        const size_t n = next_piece_length(list.data(), list.size(), 1);
        if (game_list_piece_entry(sub(list, 0, n)) == package) return 1;
        list.remove_prefix(n);
    }
    return 0;
}

int append_games(std::string_view list, const char* const* packages, int count, game_list_text* out,
                 unsigned char* added) {
    std::string_view first;
    std::string_view rest = list;
    const char* eol = "\n";
    if (next_list_line(&rest, &first) && first.size() >= 2 &&
        sub(first, first.size() - 2) == "\r\n")
        eol = "\r\n";
    out->clear();
    out->append(list);
    if (!list.empty() && list.back() != '\n') out->append(eol);
    int appended = 0;
    for (int i = 0; i < count; ++i) {
        added[i] = !game_listed(out->view(), packages[i]);
        if (!added[i]) continue;
        out->append(packages[i]);
        out->append(eol);
        ++appended;
    }
    return appended;
}

int remove_games(std::string_view list, const char* const* packages, int count,
                 game_list_text* out) {
    out->clear();
    int removed = 0;
    std::string_view line;
    while (next_list_line(&list, &line)) {
        const std::string_view entry = line_entry(line);
        int drop = 0;
        for (int i = 0; i < count && !drop && !entry.empty(); ++i)
            drop = entry == packages[i];
        if (drop) {
            ++removed;
        } else {
            out->append(line);
        }
    }
    return removed;
}

int fix_games(std::string_view list, game_list_text* out) {
    out->clear();
    int fixed = 0;
    int number = 0;
    std::string_view line;
    while (next_list_line(&list, &line)) {
        ++number;
        // The whole entry up to the line end, BOM included: what a fix replaces.
        size_t end = 0;
        while (end < line.size() && line[end] != '\r' && line[end] != '\n' && line[end] != '\0')
            ++end;
        const entry_diagnosis d = diagnose_line(line, number);
        if (d.problems && !(d.problems & PROBLEM_INVALID) && end < LINE_SIZE) {
            out->append(d.clean);
            out->append(sub(line, end));
            ++fixed;
        } else {
            out->append(line);
        }
    }
    return fixed;
}

const char* problem_text(unsigned problems, char* out, size_t cap) {
    out[0] = '\0';
    const struct {
        unsigned flag;
        const char* text;
    } names[] = {{PROBLEM_BOM, "a byte-order mark"},
                 {PROBLEM_WHITESPACE, "surrounding whitespace"},
                 {PROBLEM_INLINE_COMMENT, "an inline comment"},
                 {PROBLEM_INVALID, "not a valid Android package name"}};
    for (const auto& name : names) {
        if (!(problems & name.flag)) continue;
        const size_t len = strlen(out);
        snprintf(out + len, cap - len, "%s%s", len ? ", " : "", name.text);
    }
    return out;
}
