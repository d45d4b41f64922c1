#include "game_mode.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>

#include "ctl_config.h"
#include "files.h"
#include "fixed_text.h"
#include "game_list_line.h"
#include "game_manager_text.h"
#include "processes.h"
#include "visible_text.h"

namespace {

constexpr int FIRST_SDK_WITH_LIST_MODES = 34;  // Android 14
char answer[4096];
char record_path[PATH_SIZE];

struct mode_record {
    char package[300];
    char mode[32];
};

// The record, when there is a valid one. One that is not (cut by hand, of another format) is
// dropped: nothing from it is ever passed on.
int read_record(mode_record* r) {
    char text[300];
    if (!read_value(record_path, text, sizeof text)) return 0;
    char* space = strchr(text, ' ');
    if (space) *space = '\0';
    if (!space || !valid_package_name(text) || !restorable_game_mode(space + 1) ||
        strlen(space + 1) >= sizeof r->mode) {
        remove_file(record_path);
        return 0;
    }
    snprintf(r->package, sizeof r->package, "%s", text);
    snprintf(r->mode, sizeof r->mode, "%s", space + 1);
    return 1;
}

// `cmd game ARGS...` to its end or its bound; 0 with `why` when it gave no answer to read.
int cmd_game(const char* a, const char* b, const char* c, int* exit_code, fixed_text<160>* why) {
    const char* argv[] = {"cmd", "game", a, b, c, nullptr};
    int timed_out = 0;
    const int status = run_capture(argv, answer, sizeof answer, &timed_out);
    char text[160];
    if (status < 0) {
        snprintf(text, sizeof text, "cmd could not be started");
    } else if (timed_out) {
        snprintf(text, sizeof text, "cmd game %s did not answer within %d s", a,
                 (command_deadline_ms() + 999) / 1000);
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) == 127) {
        snprintf(text, sizeof text, "cmd game %s failed (status %d)", a,
                 WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    } else {
        *exit_code = WEXITSTATUS(status);
        return 1;
    }
    why->append(text);
    return 0;
}

int read_modes(const char* package, game_modes* modes, fixed_text<160>* why) {
    int code = 0;
    if (!cmd_game("list-modes", package, nullptr, &code, why)) return 0;
    if (parse_list_modes(answer, package, modes)) return 1;
    why->append("cmd game list-modes gave no modes line");
    return 0;
}

// 1 when the platform said it set the mode, 0 when it refused, -1 when it did not answer.
int set_mode(const char* mode, const char* package, fixed_text<160>* why) {
    int code = 0;
    if (!cmd_game("mode", mode, package, &code, why)) return -1;
    if (code == 0 && strstr(answer, "Set game mode to `")) return 1;
    why->append("cmd game mode ");
    why->append(mode);
    why->append(" was refused");
    return 0;
}

// The recorded mode back, while battery (ours) is still in force; a mode someone chose since
// is theirs and stays.
void put_back(const char* who, const mode_record& r) {
    game_modes modes;
    fixed_text<160> why;
    if (!read_modes(r.package, &modes, &why)) {
        printf("%s: game mode of %s: %s; %s is put back later\n", who, r.package, why.c_str(),
               r.mode);
        return;
    }
    if (modes.not_found || modes.not_a_game) {
        remove_file(record_path);
        printf("%s: game mode of %s: %s; nothing to put back\n", who, r.package,
               modes.not_found ? "not installed for this user" : "no longer a game");
        return;
    }
    if (modes.current != "battery") {
        remove_file(record_path);
        printf("%s: left the game mode of %s at %.*s: changed since the game started\n", who,
               r.package, static_cast<int>(modes.current.size()), modes.current.data());
        return;
    }
    if (set_mode(r.mode, r.package, &why) != 1) {
        printf("%s: game mode of %s: %s; %s is put back later\n", who, r.package, why.c_str(),
               r.mode);
        return;
    }
    remove_file(record_path);
    printf("%s: game mode of %s: %s again\n", who, r.package, r.mode);
}

void set_battery(const char* who, const char* package) {
    const int sdk = sdk_level();
    if (sdk < FIRST_SDK_WITH_LIST_MODES) {
        // Without a way to read the mode back it could never be put back as it was.
        if (sdk > 0)
            printf(
                "%s: game mode: not set on Android 13 and older (API %d), where the mode in "
                "force cannot be read back\n",
                who, sdk);
        return;
    }
    game_modes modes;
    fixed_text<160> why;
    if (!read_modes(package, &modes, &why)) {
        printf("%s: game mode of %s: %s; left alone\n", who, package, why.c_str());
        return;
    }
    // A copy: the next command's answer takes the buffer the mode was read from.
    char mode_text[32] = "";
    if (!modes.current.empty() && modes.current.size() < sizeof mode_text)  // empty: maybe null
        memcpy(mode_text, modes.current.data(), modes.current.size());
    const std::string_view current(mode_text);
    const int width = static_cast<int>(current.size());
    if (modes.not_a_game || modes.not_found) {
        printf("%s: game mode of %s: left alone (%s)\n", who, package,
               modes.not_a_game ? "the platform does not count it as a game"
                                : "not installed for this user");
    } else if (current == "battery") {
        printf("%s: game mode of %s: already battery; left as it is\n", who, package);
    } else if (!modes.offers_battery || !restorable_game_mode(current)) {
        printf("%s: game mode of %s: %.*s, left alone (%s)\n", who, package, width, current.data(),
               modes.offers_battery ? "a mode that could not be put back"
                                    : "it offers no battery mode");
    } else {
        fixed_text<320> line;
        line.append(package);
        line.append(" ");
        line.append(current);
        line.append("\n");
        if (!replace_file(record_path, line.view(), 0644, 1)) {
            printf("%s: game mode of %s: could not record it (%s); left alone\n", who, package,
                   strerror(errno));
            return;
        }
        const int set = set_mode("battery", package, &why);
        if (set == 1) {
            printf("%s: game mode of %s: battery (was %.*s; put back when the game leaves)\n", who,
                   package, width, current.data());
            return;
        }
        // Refused: nothing changed. No answer: it may have changed, so the record stays and
        // the next balanced looks.
        if (set == 0) remove_file(record_path);
        printf("%s: game mode of %s: %s; left alone\n", who, package, why.c_str());
    }
}

}  // namespace

void follow_game_mode(const char* who, const char* package) {
    if (!module_path(record_path, sizeof record_path, "game_mode")) return;
    mode_record r;
    int held = read_record(&r);
    const int same = held && strcmp(r.package, package) == 0;
    if (held && !same) {
        put_back(who, r);
        held = read_record(&r);
    }
    if (!package[0] || same) return;
    if (held) {
        // One record at a time: the first game's own mode is never overwritten.
        printf("%s: game mode of %s: left alone while that of %s is still to be put back\n", who,
               package, r.package);
        return;
    }
    set_battery(who, package);
}
