#include "choose_file.h"

#include <stdio.h>
#include <string.h>

#include "knobs.h"
#include "presets_file.h"
#include "text_view.h"

namespace {

int number_word(std::string_view word, int* value) {
    if (word.empty() || word.size() > 4) return 0;
    int n = 0;
    for (char c : word) {
        if (c < '0' || c > '9') return 0;
        n = n * 10 + (c - '0');
    }
    *value = n;
    return 1;
}

// "on", "off" or "<preset|-> <from> <since|new>", into `out` when it is given.
int read_words(std::string_view words, choose_entry* out) {
    choose_entry e{};
    snprintf(e.preset, sizeof e.preset, "-");
    if (words == "on") {
        e.kind = CHOOSE_HANDED;
        e.since = -1;
    } else if (words == "off") {
        e.kind = CHOOSE_OFF;
    } else {
        const size_t a = words.find(' ');
        const size_t b = a == std::string_view::npos ? a : words.find(' ', a + 1);
        if (b == std::string_view::npos) return 0;
        const std::string_view preset = sub(words, 0, a);
        const std::string_view since = sub(words, b + 1);
        if ((preset != "-" && !preset_from_name(preset)) ||
            !number_word(sub(words, a + 1, b - a - 1), &e.from))
            return 0;
        if (since == "new") {
            e.since = -1;
        } else if (!number_word(since, &e.since)) {
            return 0;
        }
        e.kind = CHOOSE_HANDED;
        snprintf(e.preset, sizeof e.preset, "%.*s", static_cast<int>(preset.size()), preset.data());
    }
    if (out) *out = e;
    return 1;
}

int choose_words(std::string_view words) {
    return read_words(words, nullptr);
}

}  // namespace

int choose_for_every_game(std::string_view list) {
    choose_entry e;
    choose_entry_of(list, "*", &e);
    return e.kind == CHOOSE_HANDED;
}

void choose_entry_of(std::string_view list, std::string_view package, choose_entry* out) {
    *out = choose_entry{};
    snprintf(out->preset, sizeof out->preset, "-");
    std::string_view line;
    std::string_view who;
    std::string_view words;
    while (next_list_line(&list, &line)) {
        if (!parse_word_line(line, &who, &words, choose_words) || who != package) continue;
        read_words(words, out);
        return;
    }
}

int set_choose_line(std::string_view list, std::string_view who, const choose_entry* entry,
                    game_list_text* out) {
    char words[64] = "";
    if (entry && entry->kind == CHOOSE_OFF) {
        snprintf(words, sizeof words, "off");
    } else if (entry && entry->kind == CHOOSE_HANDED && entry->since < 0 &&
               strcmp(entry->preset, "-") == 0) {
        snprintf(words, sizeof words, "on");
    } else if (entry && entry->kind == CHOOSE_HANDED) {
        if (entry->since < 0) {
            snprintf(words, sizeof words, "%s %d new", entry->preset, entry->from);
        } else {
            snprintf(words, sizeof words, "%s %d %d", entry->preset, entry->from, entry->since);
        }
    }
    return set_word_line(list, who, words[0] ? words : nullptr, out, choose_words);
}

int set_choose_every_game(std::string_view list, int on, game_list_text* out) {
    return set_word_line(list, "*", on ? "on" : nullptr, out, choose_words);
}

int preset_by_hand(const choose_entry& entry, int has_own, std::string_view own) {
    return has_own && !(entry.kind == CHOOSE_HANDED && own == entry.preset);
}

int choose_handed(const choose_entry& entry, int every_game, int by_hand) {
    if (by_hand || entry.kind == CHOOSE_OFF) return 0;
    return entry.kind == CHOOSE_HANDED || every_game;
}

int preset_chosen(const choose_entry& entry, int has_own, std::string_view own) {
    return has_own && entry.kind == CHOOSE_HANDED && entry.from > 0 && own == entry.preset;
}

int choose_step(const choose_entry& entry, int handed, int in_trial, const verdict& v,
                choose_entry* next) {
    *next = entry;
    if (!handed || in_trial) return CHOOSE_NOTHING;
    next->kind = CHOOSE_HANDED;
    if (entry.kind != CHOOSE_HANDED) {  // handed over by "* on": new
        snprintf(next->preset, sizeof next->preset, "-");
        next->from = 0;
        next->since = -1;
    }
    const int is_new = next->since < 0;
    if (!is_new && next->since < CHOOSE_RECHECK) {
        ++next->since;
        return next->since == CHOOSE_RECHECK ? CHOOSE_TRY : CHOOSE_COUNT;
    }
    const int clear = v.kind == VERDICT_FRAMES || v.kind == VERDICT_ENERGY;
    if (clear && preset_from_name(v.preset[v.winner].preset)) {
        snprintf(next->preset, sizeof next->preset, "%s", v.preset[v.winner].preset);
        next->from = v.used;
        next->since = 0;
        return CHOOSE_APPLY;
    }
    if (is_new) {  // nothing clear yet: a Try both run gathers the sessions
        next->since = CHOOSE_RECHECK;
        return CHOOSE_TRY;
    }
    next->since = 0;  // what is in force stays, and so does what it was chosen from
    return CHOOSE_KEEP;
}
