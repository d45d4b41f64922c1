#include "choose.h"

#include <stdio.h>
#include <string.h>

#include "choose_file.h"
#include "game_list_line.h"
#include "json_text.h"
#include "knobs.h"
#include "list_file.h"
#include "presets.h"
#include "presets_file.h"
#include "session_store.h"
#include "text_view.h"
#include "verdict.h"
#include "visible_text.h"

namespace {

char choose_buffer[64 * 1024];
list_file choose_list = {"choose.txt", "", choose_buffer, sizeof choose_buffer, -1};
game_list_text edited = {};
session_line lines[MAX_SESSIONS];
verdict weighed;

int collect_sessions() {
    std::string_view index = read_session_index();
    std::string_view line;
    int count = 0;
    while (count < MAX_SESSIONS && next_list_line(&index, &line))
        count += parse_session_line(line, &lines[count]);
    return count;
}

struct game_facts {
    choose_entry entry;
    int has_own;
    char own[16];  // the game's own line's preset
    int by_hand;
    int handed;
    int chosen;
};

void facts_of(std::string_view choose_text, std::string_view presets_text, std::string_view game,
              game_facts* f) {
    choose_entry_of(choose_text, game, &f->entry);
    const unsigned preset = preset_for(presets_text, game, &f->has_own);
    snprintf(f->own, sizeof f->own, "%s", f->has_own ? preset_name(preset) : "");
    f->by_hand = preset_by_hand(f->entry, f->has_own, f->own);
    f->handed = choose_handed(f->entry, choose_for_every_game(choose_text), f->by_hand);
    f->chosen = preset_chosen(f->entry, f->has_own, f->own);
}

int write_choose(std::string_view text, std::string_view who, const choose_entry* entry) {
    return !set_choose_line(text, who, entry, &edited) ||
           write_list_file(choose_list, edited, "choose");
}

// The rule's step for `game`, with presets.txt's and choose.txt's locks held.
int step_locked(const char* game, char* message, size_t cap) {
    std::string_view choose_text;
    std::string_view presets_text;
    const char* reason = "";
    if (!read_list_file(&choose_list, &choose_text, &reason) ||
        !load_presets(&presets_text, &reason))
        return 0;
    game_facts f;
    facts_of(choose_text, presets_text, game, &f);
    if (!f.handed) return 0;
    list_file* trials = trials_list();
    if (!lock_list(trials, "choose")) return 0;
    std::string_view trials_text;
    int said = 0;
    if (read_list_file(trials, &trials_text, &reason)) {
        decide_verdict(lines, collect_sessions(), game, &weighed);
        choose_entry next;
        const int action =
            choose_step(f.entry, 1, trial_left(trials_text, game) > 0, weighed, &next);
        if (action == CHOOSE_TRY) {
            // The run first, so that a choose line never waits on a run that was not started.
            if ((!set_trial_line(trials_text, game, TRIAL_SESSIONS, &edited) ||
                 write_list_file(*trials, edited, "choose")) &&
                write_choose(choose_text, game, &next)) {
                if (f.entry.since >= 0 && f.entry.kind == CHOOSE_HANDED) {
                    snprintf(message, cap,
                             "preset for %s: %d sessions since the last check; trying both again "
                             "for the next %d sessions",
                             game, CHOOSE_RECHECK, TRIAL_SESSIONS);
                } else {
                    snprintf(message, cap,
                             "preset for %s: nothing clear yet; trying both, max and sustained by "
                             "turns, for the next %d sessions",
                             game, TRIAL_SESSIONS);
                }
                said = 1;
            }
        } else if (action == CHOOSE_APPLY) {
            // The mark first: a line in presets.txt without it would read as the user's own.
            if (write_choose(choose_text, game, &next) &&
                (!set_preset_line(presets_text, game, next.preset, &edited) ||
                 write_list_file(*presets_list(), edited, "choose"))) {
                snprintf(message, cap, "preset for %s: %s, chosen from %d sessions", game,
                         next.preset, next.from);
                said = 1;
            }
        } else if (action == CHOOSE_KEEP) {
            if (write_choose(choose_text, game, &next)) {
                if (weighed.kind == VERDICT_CLOSE) {
                    snprintf(message, cap,
                             "preset for %s: too close to call after %d sessions each; keeping "
                             "%s, checking again after %d sessions",
                             game, weighed.each, f.has_own ? f.own : "the default", CHOOSE_RECHECK);
                } else {
                    snprintf(message, cap,
                             "preset for %s: not enough sessions of each preset yet; keeping %s, "
                             "checking again after %d sessions",
                             game, f.has_own ? f.own : "the default", CHOOSE_RECHECK);
                }
                said = 1;
            }
        } else if (action == CHOOSE_COUNT) {
            write_choose(choose_text, game, &next);
        }
    }
    unlock_list(trials);
    return said;
}

int lock_both() {
    if (!lock_list(presets_list(), "choose")) return 0;
    if (lock_list(&choose_list, "choose")) return 1;
    unlock_list(presets_list());
    return 0;
}

void unlock_both() {
    unlock_list(&choose_list);
    unlock_list(presets_list());
}

void print_number(const char* key, double value) {
    printf(",\"%s\":%.2f", key, value);
}

void print_preset_or_null(const verdict& v, int index) {
    if (index < 0) {
        printf("null");
    } else {
        write_json_string(stdout, v.preset[index].preset);
    }
}

const char* kind_name(int kind) {
    switch (kind) {
        case VERDICT_WAITING:
            return "waiting";
        case VERDICT_CLOSE:
            return "close";
        case VERDICT_FRAMES:
            return "frames";
        case VERDICT_ENERGY:
            return "energy";
        default:
            return "nothing";
    }
}

}  // namespace

int run_choose(const char* who, int on) {
    const int every = strcmp(who, "all") == 0;
    if (!every && !valid_package_name(who)) {
        fprintf(stderr, "preset: refusing '");
        print_visible(stderr, who);
        fprintf(stderr, "': not a valid Android package name; nothing changed\n");
        return 2;
    }
    if (!lock_both()) return 1;
    std::string_view choose_text;
    std::string_view presets_text;
    const char* reason = "";
    int status = 0;
    if (!read_list_file(&choose_list, &choose_text, &reason) ||
        !load_presets(&presets_text, &reason)) {
        fprintf(stderr, "preset: cannot read %s: %s; nothing changed\n", choose_list.path, reason);
        status = 1;
    } else if (every) {
        if (set_choose_every_game(choose_text, on, &edited) &&
            !write_list_file(choose_list, edited, "preset"))
            status = 1;
        else
            printf(on ? "Choose for me: on for every game without a preset set by hand\n"
                      : "Choose for me: off for every game not handed over on its own\n");
    } else {
        game_facts f;
        facts_of(choose_text, presets_text, who, &f);
        choose_entry entry = f.entry;
        if (!on) {
            entry.kind = CHOOSE_OFF;
        } else if (f.by_hand || entry.kind != CHOOSE_HANDED) {
            // Handed over: the preset in force (the user's own, if any) stays until the rule
            // finds a clear winner.
            entry = choose_entry{CHOOSE_HANDED, "-", 0, -1};
            if (f.has_own) snprintf(entry.preset, sizeof entry.preset, "%s", f.own);
        }
        char message[256] = "";
        if (!write_choose(choose_text, who, &entry)) {
            status = 1;
        } else if (on && step_locked(who, message, sizeof message)) {
            printf("%s\n", message);
        } else {
            printf("%s: Choose for me %s\n", who, on ? "on" : "off");
        }
    }
    fflush(stdout);
    unlock_both();
    return status;
}

int choice_by_hand(std::string_view package) {
    if (!lock_list(&choose_list, "preset")) return 0;
    std::string_view text;
    const char* reason = "";
    int ok = 1;
    if (!read_list_file(&choose_list, &text, &reason)) {
        fprintf(stderr, "preset: cannot read %s: %s; nothing changed\n", choose_list.path, reason);
        ok = 0;
    } else {
        choose_entry entry;
        choose_entry_of(text, package, &entry);
        if (entry.kind == CHOOSE_HANDED) {
            entry.kind = CHOOSE_OFF;
            ok = write_choose(text, package, &entry);
        }
    }
    unlock_list(&choose_list);
    return ok;
}

void choose_trial_started(const char* package) {
    if (!lock_list(&choose_list, "preset")) return;
    std::string_view text;
    const char* reason = "";
    choose_entry entry;
    if (read_list_file(&choose_list, &text, &reason)) {
        choose_entry_of(text, package, &entry);
        if (entry.kind == CHOOSE_HANDED && entry.since >= 0 && entry.since < CHOOSE_RECHECK) {
            entry.since = CHOOSE_RECHECK;
            write_choose(text, package, &entry);
        }
    }
    unlock_list(&choose_list);
}

int choose_after_session(const char* game, char* message, size_t cap) {
    std::string_view text;
    const char* reason = "";
    // Nothing handed over (no file, or an empty one): one failed open, nothing else.
    if (!game[0] || !read_list_file(&choose_list, &text, &reason) || text.empty()) return 0;
    if (!lock_both()) return 0;
    const int said = step_locked(game, message, cap);
    unlock_both();
    return said;
}

void print_verdicts_json() {
    std::string_view choose_text;
    std::string_view presets_text;
    const char* reason = "";
    if (!read_list_file(&choose_list, &choose_text, &reason)) choose_text = {};
    if (!load_presets(&presets_text, &reason)) presets_text = {};
    const int count = collect_sessions();
    printf("[");
    for (int i = count - 1, n = 0; i >= 0; --i) {  // newest game first
        int seen = 0;
        for (int j = i + 1; j < count && !seen; ++j)
            seen = strcmp(lines[j].game, lines[i].game) == 0;
        if (seen) continue;
        const verdict& v = weighed;
        decide_verdict(lines, count, lines[i].game, &weighed);
        game_facts f;
        facts_of(choose_text, presets_text, lines[i].game, &f);
        printf("%s{\"game\":", n++ ? "," : "");
        write_json_string(stdout, lines[i].game);
        printf(",\"kind\":\"%s\",\"presets\":[", kind_name(v.kind));
        for (int p = 0; p < v.presets; ++p) {
            const preset_figures& figures = v.preset[p];
            printf("%s{\"preset\":", p ? "," : "");
            write_json_string(stdout, figures.preset);
            printf(",\"sessions\":%d,\"usable\":%d,\"takesPart\":%s", figures.sessions,
                   figures.usable, figures.takes_part ? "true" : "false");
            print_number("lowFps", figures.low_fps);
            print_number("lowFpsSpread", figures.low_fps_spread);
            print_number("energyPerMin", figures.energy_per_min);
            print_number("energySpread", figures.energy_spread);
            print_number("peakTempC", figures.peak_temp_c);
            printf("}");
        }
        printf("],\"winner\":");
        print_preset_or_null(v, v.winner);
        printf(",\"other\":");
        print_preset_or_null(v, v.other);
        printf(
            ",\"framesPct\":%d,\"powerPct\":%d,\"each\":%d,\"used\":%d,"
            "\"leftOut\":{\"short\":%d,\"charging\":%d,\"noFrames\":%d},\"cooler\":",
            frames_percent(v), power_percent(v), v.each, v.used, v.left_short, v.left_charging,
            v.left_no_frames);
        print_preset_or_null(v, v.cooler);
        print_number("coolerByC", v.cooler_by_c);
        printf(",\"handed\":%s,\"byHand\":%s,\"chosen\":", f.handed ? "true" : "false",
               f.by_hand ? "true" : "false");
        if (f.chosen) {
            printf("{\"preset\":\"%s\",\"from\":%d}", f.own, f.entry.from);
        } else {
            printf("null");
        }
        printf("}");
    }
    printf("]");
}

void print_choose_json() {
    std::string_view choose_text;
    std::string_view presets_text;
    const char* reason = "";
    if (!read_list_file(&choose_list, &choose_text, &reason)) choose_text = {};
    if (!load_presets(&presets_text, &reason)) presets_text = {};
    printf("{\"all\":%s,\"games\":[", choose_for_every_game(choose_text) ? "true" : "false");
    std::string_view rest = choose_text;
    std::string_view line;
    for (int n = 0; next_list_line(&rest, &line);) {
        const size_t space = line.find(' ');
        if (space == std::string_view::npos || space == 0) continue;
        const std::string_view game = sub(line, 0, space);
        if (game == "*") continue;
        game_facts f;
        facts_of(choose_text, presets_text, game, &f);
        if (f.entry.kind == CHOOSE_NONE) continue;  // not a line of this list
        const char* state = f.entry.kind == CHOOSE_OFF ? "off"
                            : f.by_hand                ? "byHand"
                            : f.chosen                 ? "chosen"
                                                       : "handed";
        printf("%s{\"game\":", n++ ? "," : "");
        write_json_string(stdout, game);
        printf(",\"state\":\"%s\",\"preset\":", state);
        write_json_string(stdout, f.entry.preset);
        printf(",\"from\":%d,\"since\":%d}", f.entry.from, f.entry.since);
    }
    printf("]}");
}

void print_choose_plain() {
    std::string_view choose_text;
    std::string_view presets_text;
    const char* reason = "";
    if (!read_list_file(&choose_list, &choose_text, &reason) || choose_text.empty()) return;
    if (!load_presets(&presets_text, &reason)) presets_text = {};
    if (choose_for_every_game(choose_text))
        printf("Choose for me: on for every game without a preset set by hand\n");
    std::string_view rest = choose_text;
    std::string_view line;
    while (next_list_line(&rest, &line)) {
        const size_t space = line.find(' ');
        if (space == std::string_view::npos || space == 0) continue;
        const std::string_view game = sub(line, 0, space);
        game_facts f;
        facts_of(choose_text, presets_text, game, &f);
        if (game == "*" || !f.handed) continue;
        printf("Preset for ");
        print_visible(stdout, game);
        if (f.chosen) {
            printf(": %s (chosen from %d sessions)\n", f.own, f.entry.from);
        } else {
            printf(": %s until the sessions give a clear verdict (Choose for me)\n",
                   f.has_own ? f.own : "the default");
        }
    }
}
