#include "games.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ctl_config.h"
#include "files.h"
#include "game_list_edit.h"
#include "game_suggestions.h"
#include "list_file.h"
#include "locks.h"
#include "processes.h"
#include "visible_text.h"

namespace {

char list_buffer[GAME_LIST_MAX];
game_list_text edited = {};
list_file game_list = {"game.txt", "", list_buffer, sizeof list_buffer, -1};
constexpr int MAX_NAMES = 256;

void usage() {
    fprintf(stderr,
            "usage: tessivarctl games list | add PKG... | remove PKG... | check | fix | suggest "
            "[--json]\n");
}

int check(std::string_view list) {
    int found = 0;
    list_cursor cursor{list};
    list_problem problem;
    while (next_list_problem(&cursor, &problem)) {
        ++found;
        char reasons[200];
        problem_text(problem.problems, reasons, sizeof reasons);
        printf("line %d: %s", problem.line, reasons);
        printf((problem.problems & PROBLEM_INVALID) ? ": '" : "; fix makes it '");
        print_visible(stdout, problem.clean);
        printf("'\n");
    }
    return found;
}

// Whether the package manager knows the package; 1 also when it cannot be asked.
int installed(const char* package) {
    const char* argv[] = {"pm", "path", package, nullptr};
    char out[1024];
    const int status = run_capture(argv, out, sizeof out);
    if (status < 0 || (WIFEXITED(status) && WEXITSTATUS(status) == 127)) return 1;
    return strstr(out, "package:") != nullptr;
}

}  // namespace

int load_game_list(std::string_view* text, const char** reason) {
    return read_list_file(&game_list, text, reason);
}

int run_games(int argc, char** argv) {
    if (argc < 1) {
        usage();
        return 2;
    }
    const char* command = argv[0];
    if (strcmp(command, "suggest") == 0) return run_suggest(argc - 1, argv + 1);
    const int edits = strcmp(command, "add") == 0 || strcmp(command, "remove") == 0 ||
                      strcmp(command, "fix") == 0;
    if (!edits && strcmp(command, "list") != 0 && strcmp(command, "check") != 0) {
        usage();
        return 2;
    }
    const char* const* names = argv + 1;
    const int count = argc - 1;
    if ((strcmp(command, "add") == 0 || strcmp(command, "remove") == 0) && count == 0) {
        fprintf(stderr, "games: name at least one package\n");
        return 2;
    }
    if (count > MAX_NAMES) {
        fprintf(stderr, "games: at most %d packages at once; nothing changed\n", MAX_NAMES);
        return 2;
    }
    for (int i = 0; i < count; ++i) {
        if (!valid_package_name(names[i])) {
            fprintf(stderr, "games: refusing '");
            print_visible(stderr, names[i]);
            fprintf(stderr, "': not a valid Android package name; nothing changed\n");
            return 2;
        }
    }

    // Edits one at a time: two at once would each write the list without the other's change.
    if (edits && !lock_list(&game_list, "games")) return 1;
    std::string_view list;
    const char* reason = "";
    if (!read_list_file(&game_list, &list, &reason)) {
        fprintf(stderr, "games: cannot read %s: %s; nothing changed\n", game_list.path, reason);
        unlock_list(&game_list);
        return 1;
    }

    int status = 0;
    if (strcmp(command, "list") == 0) {
        list_cursor cursor{list};
        list_piece piece;
        while (next_list_piece(&cursor, &piece)) {
            if (piece.entry.empty()) continue;
            print_visible(stdout, piece.entry);
            putchar('\n');
        }
    } else if (strcmp(command, "check") == 0) {
        status = check(list) ? 1 : 0;
    } else if (strcmp(command, "add") == 0) {
        unsigned char is_new[MAX_NAMES] = {};
        const int added = append_games(list, names, count, &edited, is_new);
        if (added && !write_list_file(game_list, edited, "games")) {
            status = 1;
        } else {
            for (int i = 0; i < count; ++i) {
                if (!is_new[i]) {
                    printf("already listed: %s\n", names[i]);
                    continue;
                }
                printf("added %s\n", names[i]);
                if (!installed(names[i]))
                    printf("warning: %s is not installed; it is listed and counts once it is\n",
                           names[i]);
            }
        }
    } else if (strcmp(command, "remove") == 0) {
        const int removed = remove_games(list, names, count, &edited);
        if (removed && !write_list_file(game_list, edited, "games")) {
            status = 1;
        } else {
            for (int i = 0; i < count; ++i)
                printf(game_listed(list, names[i]) ? "removed %s\n" : "not listed: %s\n", names[i]);
        }
    } else {
        const int fixed = fix_games(list, &edited);
        if (fixed && !write_list_file(game_list, edited, "games")) {
            status = 1;
        } else {
            printf("fixed %d line(s)\n", fixed);
        }
    }
    fflush(stdout);
    unlock_list(&game_list);
    return status;
}
