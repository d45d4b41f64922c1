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

int next_list_piece(list_cursor* cursor, list_piece* piece) {
    if (cursor->rest.empty()) return 0;
    const size_t n = next_piece_length(cursor->rest.data(), cursor->rest.size(), 1);
    piece->text = sub(cursor->rest, 0, n);
    cursor->rest.remove_prefix(n);
    piece->tail = !cursor->at_line_start;
    if (cursor->at_line_start) ++cursor->line;
    piece->line = cursor->line;
    cursor->at_line_start = !piece->text.empty() && piece->text.back() == '\n';
    piece->entry = game_list_piece_entry(piece->text);
    return 1;
}

entry_diagnosis diagnose_piece(const list_piece& piece) {
    size_t end = 0;
    while (end < piece.text.size() && piece.text[end] != '\r' && piece.text[end] != '\n' &&
           piece.text[end] != '\0')
        ++end;
    return diagnose_entry(sub(piece.text, 0, end), piece.line == 1 && !piece.tail);
}

namespace {

// The piece cursor over one line (with its line end).
int hidden_in_line(std::string_view line) {
    list_cursor cursor{line};
    list_piece piece;
    while (next_list_piece(&cursor, &piece))
        if (piece.tail && !piece.entry.empty()) return 1;
    return 0;
}

}  // namespace

const char* list_line_end(std::string_view list) {
    std::string_view first;
    std::string_view rest = list;
    if (!next_list_line(&rest, &first)) return "\n";
    // A CRLF file, or one line whose CR waits for its LF: both end lines in CR LF.
    if (first.size() >= 2 && sub(first, first.size() - 2) == "\r\n") return "\r\n";
    if (rest.empty() && !first.empty() && first.back() == '\r') return "\r\n";
    return "\n";
}

namespace {

// Appends each piece of a long line as a line of its own, without those whose entry `drop`
// names; answers how many were dropped.
template <typename Drop>
int split_line(std::string_view line, const char* eol, game_list_text* out, Drop drop) {
    list_cursor cursor{line};
    list_piece piece;
    int dropped = 0;
    while (next_list_piece(&cursor, &piece)) {
        if (!piece.entry.empty() && drop(piece.entry)) {
            ++dropped;
            continue;
        }
        out->append(piece.text);
        if (piece.text.back() != '\n' && !cursor.rest.empty()) out->append(eol);
    }
    return dropped;
}

}  // namespace

int next_list_problem(list_cursor* cursor, list_problem* problem) {
    list_piece piece;
    while (next_list_piece(cursor, &piece)) {
        const entry_diagnosis d = diagnose_piece(piece);
        const unsigned hidden = piece.tail && !piece.entry.empty() ? PROBLEM_LONG_LINE : 0u;
        if (!d.problems && !hidden) continue;
        *problem = list_problem{piece.line, d.problems | hidden,
                                hidden && !d.problems ? piece.entry : d.clean};
        return 1;
    }
    return 0;
}

int game_listed(std::string_view list, std::string_view package) {
    list_cursor cursor{list};
    list_piece piece;
    while (next_list_piece(&cursor, &piece))
        if (piece.entry == package) return 1;
    return 0;
}

int append_games(std::string_view list, const char* const* packages, int count, game_list_text* out,
                 unsigned char* added) {
    const char* eol = list_line_end(list);
    out->clear();
    out->append(list);
    // A final CR is the first half of its line end.
    if (!list.empty() && list.back() == '\r') {
        out->append("\n");
    } else if (!list.empty() && list.back() != '\n') {
        out->append(eol);
    }
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
    const char* eol = list_line_end(list);
    out->clear();
    int removed = 0;
    std::string_view line;
    const auto named = [&](std::string_view entry) {
        for (int i = 0; i < count; ++i)
            if (entry == packages[i]) return true;
        return false;
    };
    while (next_list_line(&list, &line)) {
        list_cursor cursor{line};
        list_piece piece;
        int pieces = 0;
        int match = 0;
        while (next_list_piece(&cursor, &piece)) {
            ++pieces;
            match |= !piece.entry.empty() && named(piece.entry);
        }
        if (!match) {
            out->append(line);
        } else if (pieces == 1) {
            ++removed;
        } else {
            removed += split_line(line, eol, out, named);
        }
    }
    return removed;
}

namespace {
game_list_text fixed_lines = {};  // fix's second pass
}  // namespace

int fix_games(std::string_view list, game_list_text* out) {
    const char* eol = list_line_end(list);
    game_list_text& split = *out;
    // First every line with hidden entries goes into a line per piece, then each line's entry
    // is cleaned.
    split.clear();
    int changed = 0;
    std::string_view line;
    std::string_view rest = list;
    while (next_list_line(&rest, &line)) {
        if (hidden_in_line(line)) {
            split_line(line, eol, &split, [](std::string_view) { return false; });
            ++changed;
        } else {
            split.append(line);
        }
    }
    fixed_lines.clear();
    rest = split.view();
    for (int number = 1; next_list_line(&rest, &line); ++number) {
        list_cursor cursor{line};
        list_piece piece;
        next_list_piece(&cursor, &piece);
        piece.line = number;
        const entry_diagnosis d = diagnose_piece(piece);
        size_t end = 0;
        while (end < line.size() && line[end] != '\r' && line[end] != '\n' && line[end] != '\0')
            ++end;
        if (d.problems && !(d.problems & PROBLEM_INVALID) && end < LINE_SIZE) {
            fixed_lines.append(d.clean);
            fixed_lines.append(sub(line, end));
            ++changed;
        } else {
            fixed_lines.append(line);
        }
    }
    split.clear();
    split.append(fixed_lines.view());
    split.overflow |= fixed_lines.overflow;
    return changed;
}

const char* problem_text(unsigned problems, char* out, size_t cap) {
    out[0] = '\0';
    const struct {
        unsigned flag;
        const char* text;
    } names[] = {{PROBLEM_BOM, "a byte-order mark"},
                 {PROBLEM_WHITESPACE, "surrounding whitespace"},
                 {PROBLEM_INLINE_COMMENT, "an inline comment"},
                 {PROBLEM_INVALID, "not a valid Android package name"},
                 {PROBLEM_LONG_LINE, "past byte 1023 of a long line, read as an entry of its own"}};
    for (const auto& name : names) {
        if (!(problems & name.flag)) continue;
        const size_t len = strlen(out);
        snprintf(out + len, cap - len, "%s%s", len ? ", " : "", name.text);
    }
    return out;
}
