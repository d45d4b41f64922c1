#include "game_suggestions.h"

#include <stdio.h>
#include <string.h>
#include <sys/wait.h>

#include "ctl_config.h"
#include "game_list_edit.h"
#include "game_manager_text.h"
#include "games.h"
#include "json_text.h"
#include "processes.h"
#include "visible_text.h"

namespace {

// An entry is about 50-300 bytes: room for a thousand games and more.
char dump[256 * 1024];
constexpr int MAX_SUGGESTIONS = 1024;
constexpr int FIRST_SDK_WITH_DUMP = 33;  // Android 13

struct suggestions {
    int known;
    char reason[160];
    int on_phone;  // games of the game category the dump named
    std::string_view games[MAX_SUGGESTIONS];
    int count;
    int cut;  // the dump passed its bound: the games after it are not named
};
suggestions found = {};

// Runs the dump once; 0 with the reason when the phone cannot tell.
int read_dump(std::string_view* text) {
    const int sdk = sdk_level();
    if (sdk > 0 && sdk < FIRST_SDK_WITH_DUMP) {
        snprintf(found.reason, sizeof found.reason,
                 "Android 12 and older do not say which apps are games (this is API %d)", sdk);
        return 0;
    }
    const char* argv[] = {"dumpsys", "game", nullptr};
    int timed_out = 0;
    const int status = run_capture(argv, dump, sizeof dump, &timed_out, &found.cut);
    *text = dump;
    if (timed_out) {
        snprintf(found.reason, sizeof found.reason,
                 "dumpsys game did not answer within %d s; it was stopped",
                 (command_deadline_ms() + 999) / 1000);
    } else if (status < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        snprintf(found.reason, sizeof found.reason, "dumpsys game failed (status %d)",
                 status < 0          ? -1
                 : WIFEXITED(status) ? WEXITSTATUS(status)
                                     : 128 + WTERMSIG(status));
    } else if (text->empty()) {
        snprintf(found.reason, sizeof found.reason, "dumpsys game printed nothing");
    } else if (!skip_game_dump_header(text)) {
        snprintf(found.reason, sizeof found.reason,
                 "dumpsys game did not answer as the game manager does");
    } else {
        return 1;
    }
    return 0;
}

int already_found(std::string_view package) {
    for (int i = 0; i < found.count; ++i)
        if (found.games[i] == package) return 1;
    return 0;
}

void print_plain() {
    constexpr char title[] = "Games on this phone that Tessivar does not boost yet";
    if (!found.known) {
        printf("%s: the phone cannot tell (", title);
        print_visible(stdout, found.reason);
        printf(")\n");
        return;
    }
    if (found.count == 0) {
        printf("%s: none (%d app(s) of the game category, all listed)\n", title, found.on_phone);
    } else {
        printf("%s: %d\n", title, found.count);
        for (int i = 0; i < found.count; ++i)
            printf("  %.*s\n", static_cast<int>(found.games[i].size()), found.games[i].data());
        printf("Add them on the page, or with: tessivarctl games add PACKAGE...\n");
    }
    if (found.cut) printf("(dumpsys game printed more than 256 KiB; the rest was not read)\n");
}

void print_json() {
    printf("{\"known\":%s,\"reason\":", found.known ? "true" : "false");
    if (found.known) {
        printf("null");
    } else {
        write_json_string(stdout, found.reason);
    }
    printf(",\"gamesOnPhone\":%d,\"cut\":%s,\"games\":[", found.on_phone,
           found.cut ? "true" : "false");
    for (int i = 0; i < found.count; ++i) {
        if (i) printf(",");
        write_json_string(stdout, found.games[i]);
    }
    printf("]}\n");
}

}  // namespace

int run_suggest(int argc, char** argv) {
    const int json = argc == 1 && strcmp(argv[0], "--json") == 0;
    if (argc > 1 || (argc == 1 && !json)) {
        fprintf(stderr, "usage: tessivarctl games suggest [--json]\n");
        return 2;
    }
    found = suggestions{};
    int status = 0;
    std::string_view list;
    const char* why = "";
    std::string_view rest;
    if (!load_game_list(&list, &why)) {
        snprintf(found.reason, sizeof found.reason, "the game list cannot be read: %s", why);
        status = 1;
    } else if (read_dump(&rest)) {
        found.known = 1;
        std::string_view package;
        while (next_dumped_game(&rest, &package)) {
            ++found.on_phone;
            if (game_listed(list, package) || already_found(package)) continue;
            if (found.count < MAX_SUGGESTIONS) found.games[found.count++] = package;
        }
    }
    if (json) {
        print_json();
    } else {
        print_plain();
    }
    return fflush(stdout) == 0 ? status : 1;
}
