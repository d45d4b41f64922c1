#include "game_in_front.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ctl_config.h"
#include "files.h"
#include "game_list_edit.h"
#include "game_list_line.h"
#include "games.h"
#include "text_view.h"

front_answer front_rule(const std::string_view* in_front, int count, std::string_view game,
                        std::string_view* other) {
    std::string_view found;
    for (int i = 0; i < count; ++i) {
        if (!game.empty() && in_front[i] == game) return FRONT_SAME;
        if (found.empty()) {
            found = in_front[i];
        } else if (in_front[i] != found) {
            return FRONT_UNKNOWN;  // split screen or a picture-in-picture: not ours to pick
        }
    }
    if (found.empty()) return FRONT_SAME;
    *other = found;
    return FRONT_OTHER;
}

namespace {

constexpr char TOP_APP_PROCS[] = "/dev/cpuset/top-app/cgroup.procs";
constexpr int MAX_PROCESSES = 64;

struct known_process {
    int pid;
    char listed[128];  // its package when listed, else empty
};
known_process known[MAX_PROCESSES];
int known_count;
int names_valid;  // known[] was read against the game list as it is
char procs[8192];
char cmdline[256];

// Whether a process name is final: a process just forked from the zygote shows the zygote's
// or a pool's name ("<pre-initialized>", "usap64") until it becomes the app.
int settled_name(std::string_view name) {
    return !name.empty() && name[0] != '<' && sub(name, 0, 6) != "zygote" &&
           sub(name, 0, 4) != "usap";
}

int listed(std::string_view games, std::string_view name) {
    std::string_view line;
    while (next_list_line(&games, &line))
        if (game_list_piece_entry(line) == name) return 1;
    return 0;
}

// The process's name, looked up in the game list (read once per check, only when a process is
// new); 0 when the process is gone. A name that is not final yet is asked again next time.
int look_up(int pid, std::string_view* games, int* games_read, known_process* out) {
    char device[64];
    char path[PATH_SIZE];
    out->pid = pid;
    out->listed[0] = '\0';
    snprintf(device, sizeof device, "/proc/%d/cmdline", pid);
    const ssize_t n = device_path(path, sizeof path, device)
                          ? read_small_file(path, cmdline, sizeof cmdline - 1)
                          : -1;
    if (n <= 0) return 0;
    cmdline[n] = '\0';
    const std::string_view name(cmdline, strlen(cmdline));
    if (!*games_read) {
        const char* reason = nullptr;
        if (!load_game_list(games, &reason)) *games = {};
        *games_read = 1;
    }
    if (valid_package_name(name) && name.size() < sizeof out->listed && listed(*games, name))
        memcpy(out->listed, name.data(), name.size() + 1);
    if (!settled_name(name)) out->pid = -1;
    return 1;
}

}  // namespace

void game_in_front_forget() {
    names_valid = 0;
}

front_answer game_in_front(std::string_view game, char* other, size_t cap, const char** why) {
    char path[PATH_SIZE];
    const ssize_t n = device_path(path, sizeof path, TOP_APP_PROCS)
                          ? read_small_file(path, procs, sizeof procs - 1)
                          : -1;
    if (n < 0) {
        *why = "no top-app cpuset";
        return FRONT_UNKNOWN;
    }
    procs[n] = '\0';
    static known_process now[MAX_PROCESSES];
    int now_count = 0;
    std::string_view games;
    int games_read = 0;
    for (char* at = procs; *at && now_count < MAX_PROCESSES;) {
        char* end = nullptr;
        const long pid = strtol(at, &end, 10);
        if (end == at) break;
        at = end + (*end == '\n');
        int found = -1;
        for (int i = 0; names_valid && i < known_count && found < 0; ++i)
            if (known[i].pid == pid) found = i;
        if (found >= 0) {
            now[now_count++] = known[found];
        } else if (pid > 0 &&
                   look_up(static_cast<int>(pid), &games, &games_read, &now[now_count])) {
            ++now_count;
        }
    }
    memcpy(known, now, sizeof known[0] * static_cast<size_t>(now_count));
    known_count = now_count;
    names_valid = 1;
    std::string_view listed_now[MAX_PROCESSES];
    int count = 0;
    for (int i = 0; i < now_count; ++i)
        if (known[i].listed[0]) listed_now[count++] = known[i].listed;
    std::string_view found;
    const front_answer answer = front_rule(listed_now, count, game, &found);
    if (answer == FRONT_UNKNOWN) *why = "more than one listed game in front";
    if (answer == FRONT_OTHER) {
        if (found.size() >= cap) return FRONT_SAME;
        memcpy(other, found.data(), found.size());
        other[found.size()] = '\0';
    }
    return answer;
}
