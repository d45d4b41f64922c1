#include "presets.h"

#include <stdio.h>
#include <string.h>

#include "game_list_line.h"
#include "knobs.h"
#include "list_file.h"
#include "presets_file.h"
#include "visible_text.h"

namespace {

constexpr size_t PRESETS_MAX = 256 * 1024;
char presets_buffer[PRESETS_MAX];
game_list_text edited;
list_file presets = {"presets.txt", "", presets_buffer, sizeof presets_buffer, -1};

int usage() {
    fprintf(stderr,
            "usage: tessivarctl preset list | set PKG|default sustained|max|battery | clear PKG\n");
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

int run_presets(int argc, char** argv) {
    if (argc < 1) return usage();
    const char* command = argv[0];
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
