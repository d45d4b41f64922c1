#include "presets_file.h"

#include <stdio.h>

#include "knobs.h"
#include "text_view.h"

unsigned preset_for(std::string_view list, std::string_view package, int* own) {
    unsigned fallback = PRESET_SUSTAINED;
    std::string_view line;
    std::string_view who;
    std::string_view name;
    if (own) *own = 0;
    while (next_list_line(&list, &line)) {
        if (!parse_preset_line(line, &who, &name)) continue;
        if (!package.empty() && who == package) {
            if (own) *own = 1;
            return preset_from_name(name);
        }
        if (who == "*") fallback = preset_from_name(name);
    }
    return fallback;
}

namespace {

int preset_word(std::string_view word) {
    return preset_from_name(word) != 0;
}

int count_word(std::string_view word) {
    if (word.empty() || word.size() > 3) return 0;
    for (char c : word)
        if (c < '0' || c > '9') return 0;
    return 1;
}

int parse_line(std::string_view line, std::string_view* who, std::string_view* word,
               word_check check) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    if (line.empty() || line[0] == '#') return 0;
    const size_t space = line.find(' ');
    if (space == std::string_view::npos || space == 0) return 0;
    *who = sub(line, 0, space);
    *word = sub(line, space + 1);
    return check(*word);
}

// The list with `who`'s line set to "<who> <word>" in place, else appended in the file's own
// line ending, or removed when `word` is null. Every other byte stays.
int set_line(std::string_view list, std::string_view who, const char* word, game_list_text* out,
             word_check check) {
    const char* eol = list_line_end(list);
    out->clear();
    int changed = 0;
    int placed = 0;
    std::string_view line;
    std::string_view rest = list;
    std::string_view line_who;
    std::string_view line_word;
    while (next_list_line(&rest, &line)) {
        if (!parse_line(line, &line_who, &line_word, check) || line_who != who || placed) {
            out->append(line);
            continue;
        }
        placed = 1;
        if (!word) {  // cleared: the line goes
            changed = 1;
            continue;
        }
        changed |= line_word != word;
        out->append(who);
        out->append_char(' ');
        out->append(word);
        out->append(sub(line, who.size() + 1 + line_word.size()));  // its own line end
    }
    if (!placed && word) {
        if (!list.empty() && list.back() == '\r') {
            out->append("\n");
        } else if (!list.empty() && list.back() != '\n') {
            out->append(eol);
        }
        out->append(who);
        out->append_char(' ');
        out->append(word);
        out->append(eol);
        changed = 1;
    }
    return changed;
}

}  // namespace

int set_preset_line(std::string_view list, std::string_view who, const char* preset,
                    game_list_text* out) {
    return set_line(list, who, preset, out, preset_word);
}

int trial_left(std::string_view list, std::string_view package) {
    std::string_view line;
    std::string_view who;
    std::string_view count;
    while (next_list_line(&list, &line)) {
        if (!parse_line(line, &who, &count, count_word) || who != package) continue;
        int n = 0;
        for (char c : count)
            n = n * 10 + (c - '0');
        return n;
    }
    return 0;
}

int set_trial_line(std::string_view list, std::string_view package, int left, game_list_text* out) {
    char count[8];
    snprintf(count, sizeof count, "%d", left < 0 ? 0 : left > 999 ? 999 : left);
    return set_line(list, package, left > 0 ? count : nullptr, out, count_word);
}

unsigned trial_preset(int left) {
    return left % 2 == 0 ? PRESET_MAX : PRESET_SUSTAINED;
}

int parse_word_line(std::string_view line, std::string_view* who, std::string_view* words,
                    word_check check) {
    return parse_line(line, who, words, check);
}

int set_word_line(std::string_view list, std::string_view who, const char* words,
                  game_list_text* out, word_check check) {
    return set_line(list, who, words, out, check);
}

int parse_preset_line(std::string_view line, std::string_view* who, std::string_view* preset) {
    return parse_line(line, who, preset, preset_word);
}
