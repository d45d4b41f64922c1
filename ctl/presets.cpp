#include "presets.h"

#include <stdio.h>
#include <string.h>

#include "choose.h"
#include "game_list_line.h"
#include "knobs.h"
#include "list_file.h"
#include "presets_file.h"
#include "visible_text.h"

namespace {

constexpr size_t PRESETS_MAX = 256 * 1024;
char presets_buffer[PRESETS_MAX];
game_list_text edited = {};
list_file presets = {"presets.txt", "", presets_buffer, sizeof presets_buffer, -1};
char trials_buffer[64 * 1024];
list_file trials = {"trials.txt", "", trials_buffer, sizeof trials_buffer, -1};

int usage() {
    fprintf(stderr,
            "usage: tessivarctl preset list | set PKG|default sustained|max|battery | clear PKG\n"
            "       tessivarctl preset try PKG [off] | choose PKG|all [off]\n");
    return 2;
}

void print_list(std::string_view list) {
    printf("default: %s\n", preset_name(preset_for(list, {})));
    std::string_view line;
    std::string_view who;
    std::string_view name;
    while (next_list_line(&list, &line)) {
        if (!parse_preset_line(line, &who, &name) || who == "*") continue;
        print_visible(stdout, who);
        printf(": %.*s\n", static_cast<int>(name.size()), name.data());
    }
}

}  // namespace

int load_presets(std::string_view* text, const char** reason) {
    return read_list_file(&presets, text, reason);
}

int take_trial_session(const char* package, unsigned* preset) {
    std::string_view list;
    const char* reason = "";
    if (!package[0] || !lock_list(&trials, "preset")) return -1;
    int left = -1;
    if (read_list_file(&trials, &list, &reason) && (left = trial_left(list, package)) > 0) {
        *preset = trial_preset(left);
        if (!set_trial_line(list, package, left - 1, &edited) ||
            !write_list_file(trials, edited, "preset"))
            left = -1;  // not counted: the same preset comes again next time
        else
            --left;
    } else {
        left = -1;
    }
    unlock_list(&trials);
    return left;
}

namespace {

int run_try(const char* package, int on) {
    if (!valid_package_name(package)) {
        fprintf(stderr, "preset: refusing '");
        print_visible(stderr, package);
        fprintf(stderr, "': not a valid Android package name; nothing changed\n");
        return 2;
    }
    if (!lock_list(&trials, "preset")) return 1;
    std::string_view list;
    const char* reason = "";
    int status = 0;
    if (!read_list_file(&trials, &list, &reason)) {
        fprintf(stderr, "preset: cannot read %s: %s; nothing changed\n", trials.path, reason);
        status = 1;
    } else if (set_trial_line(list, package, on ? TRIAL_SESSIONS : 0, &edited) &&
               !write_list_file(trials, edited, "preset")) {
        status = 1;
    } else if (on) {
        printf("%s: trying both, max and sustained by turns, for the next %d sessions\n", package,
               TRIAL_SESSIONS);
    } else {
        printf("%s: no longer trying both\n", package);
    }
    fflush(stdout);
    unlock_list(&trials);
    if (on && status == 0) choose_trial_started(package);  // after the lock: choose.txt's first
    return status;
}

}  // namespace

int load_trials(std::string_view* text, const char** reason) {
    return read_list_file(&trials, text, reason);
}

list_file* presets_list() {
    return &presets;
}

list_file* trials_list() {
    return &trials;
}

int run_presets(int argc, char** argv) {
    if (argc < 1) return usage();
    const char* command = argv[0];
    if (strcmp(command, "try") == 0 && (argc == 2 || (argc == 3 && strcmp(argv[2], "off") == 0)))
        return run_try(argv[1], argc == 2);
    if (strcmp(command, "choose") == 0 && (argc == 2 || (argc == 3 && strcmp(argv[2], "off") == 0)))
        return run_choose(argv[1], argc == 2);
    const int set = strcmp(command, "set") == 0 && argc == 3;
    const int clear = strcmp(command, "clear") == 0 && argc == 2;
    if (!set && !clear && !(strcmp(command, "list") == 0 && argc == 1)) return usage();
    std::string_view list;
    const char* reason = "";
    if (!set && !clear) {
        if (!load_presets(&list, &reason)) {
            fprintf(stderr, "preset: cannot read %s: %s\n", presets.path, reason);
            return 1;
        }
        print_list(list);
        return fflush(stdout) == 0 ? 0 : 1;
    }
    const std::string_view target = argv[1];
    const int is_default = target == "default";
    if (!is_default && !valid_package_name(target)) {
        fprintf(stderr, "preset: refusing '");
        print_visible(stderr, target);
        fprintf(stderr, "': not a valid Android package name; nothing changed\n");
        return 2;
    }
    if (set && !preset_from_name(argv[2])) {
        fprintf(stderr, "preset: no preset '");
        print_visible(stderr, argv[2]);
        fprintf(stderr, "' (sustained, max or battery); nothing changed\n");
        return 2;
    }
    if (!lock_list(&presets, "preset")) return 1;
    int status = 0;
    if (!load_presets(&list, &reason)) {
        fprintf(stderr, "preset: cannot read %s: %s; nothing changed\n", presets.path, reason);
        status = 1;
    } else if (!is_default && !choice_by_hand(target)) {
        status = 1;  // said why; a hand choice first turns "Choose for me" off for the game
    } else if (set_preset_line(list, is_default ? "*" : target, set ? argv[2] : nullptr, &edited) &&
               !write_list_file(presets, edited, "preset")) {
        status = 1;
    } else if (set) {
        printf("%s: %s\n", argv[1], argv[2]);
    } else {
        printf("%s: %s (the default)\n", argv[1], preset_name(preset_for(edited.view(), {})));
    }
    fflush(stdout);
    unlock_list(&presets);
    return status;
}
