#include "status.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "boot.h"
#include "choose.h"
#include "ctl_config.h"
#include "files.h"
#include "fixed_text.h"
#include "game_list_edit.h"
#include "games.h"
#include "json_text.h"
#include "knobs.h"
#include "locks.h"
#include "nodes.h"
#include "presets.h"
#include "presets_file.h"
#include "processes.h"
#include "sessions.h"
#include "snapshot.h"
#include "take_back.h"
#include "text_view.h"
#include "visible_text.h"

namespace {

constexpr int MAX_CHANGES = 3;
constexpr int STATUS_SESSIONS = 30;  // the page's list and comparison need them all
constexpr int TAIL_LINES = 20;
constexpr size_t LOG_READ = 600 * 1024;  // more than the log's bound
char log_text[LOG_READ];
char state_text[512 * 1024];
char value[VALUE_SIZE];
char packages_text[1024 * 1024];
char watch_text[4096];

struct status_facts {
    pid_t supervisor;
    pid_t daemon;
    char profile[32];
    int snapshot_held;
    std::string_view pending[MAX_NODES];  // nodes whose settings are still to be put back
    int pending_count;
    std::string_view preset;       // the preset in force and its game ("-": none known)
    std::string_view preset_game;  // empty when none was known
    std::string_view changed[64];  // the knobs it set: their files
    int changed_count;
    std::string_view backoff_level;  // empty: not backed off
    long long backoff_since;
    watch_line taken[16];  // knobs the system took back during this launch
    int taken_count;
    std::string_view front_note;  // why the game in front is not followed; empty when it is
    int switched_off;
    int to_remove;
    node_list nodes;
    int boosted[MAX_NODES];
    std::string_view games;  // the list's text
    const char* games_error;
    std::string_view changes[MAX_CHANGES];  // newest first
    int change_count;
    std::string_view tail[TAIL_LINES];  // oldest first
    int tail_count;
};
status_facts facts = {};

// Alive means: the process holding the supervisor's lock runs this program, and the pid the
// supervisor wrote for the daemon runs Tessivar as its child. A pid alone proves nothing.
void find_processes() {
    char path[PATH_SIZE];
    char program[PATH_SIZE];
    module_path(path, sizeof path, ".supervisor.lock");
    module_path(program, sizeof program, "tessivarctl");
    const pid_t holder = lock_holder(path);
    facts.supervisor = holder > 0 && process_runs(holder, program) ? holder : 0;
    char line[32];
    module_path(path, sizeof path, "tessivar.daemon.pid");
    module_path(program, sizeof program, "Tessivar");
    facts.daemon = 0;
    if (facts.supervisor && read_value(path, line, sizeof line)) {
        const pid_t daemon = static_cast<pid_t>(atoi(line));
        if (process_runs(daemon, program) && parent_of(daemon) == facts.supervisor)
            facts.daemon = daemon;
    }
}

// The supervisor's record of the game in progress, when it is of the launch in force.
void read_game_watch(std::string_view boot, unsigned long long ticks) {
    facts.taken_count = 0;
    facts.front_note = {};
    char path[PATH_SIZE];
    char first[BOOT_ID_SIZE + 32];
    module_path(path, sizeof path, "game_watch");
    const ssize_t n = read_small_file(path, watch_text, sizeof watch_text);
    snprintf(first, sizeof first, "%.*s %llu\n", static_cast<int>(boot.size()), boot.data(), ticks);
    std::string_view rest(watch_text, n > 0 ? static_cast<size_t>(n) : 0);
    std::string_view line;
    if (boot.empty() || !next_list_line(&rest, &line) || line != first) return;
    watch_line watch;
    while (next_list_line(&rest, &line) && parse_watch_line(line, &watch)) {
        if (watch.kind == 'F') facts.front_note = watch.text;
        if (watch.kind == 'B' && facts.taken_count < 16) facts.taken[facts.taken_count++] = watch;
    }
}

void read_profile_state() {
    char boot[BOOT_ID_SIZE] = "";
    char path[PATH_SIZE];
    read_boot_id(boot, sizeof boot);
    // The state counts only when it was written in this boot.
    profile_state state;
    module_path(path, sizeof path, "current_profile");
    const ssize_t n = read_small_file(path, state_text, sizeof state_text);
    const int ok =
        n > 0 && boot[0] &&
        parse_profile_state(std::string_view(state_text, static_cast<size_t>(n)), boot, &state);
    const std::string_view profile =
        ok && state.profile.size() < sizeof facts.profile ? state.profile : "none";
    memcpy(facts.profile, profile.data(), profile.size());
    facts.profile[profile.size()] = '\0';
    const std::string_view held = ok ? state.held : std::string_view();
    facts.snapshot_held = !held.empty();
    // While no boost is in force, what is held is what the kernel has refused so far.
    facts.pending_count = 0;
    std::string_view rest = held;
    snapshot_group group;
    node_ref node;
    while (profile != "performance" && next_snapshot_group(&rest, &group))
        if (node_of_governor_file(group.governor_file, &node) && facts.pending_count < MAX_NODES)
            facts.pending[facts.pending_count++] = node.name;
    facts.preset = {};
    facts.changed_count = 0;
    facts.backoff_level = {};
    rest = profile == "performance" ? held : std::string_view();
    if (!launch_preset(rest, &facts.preset, &facts.preset_game)) facts.preset = {};
    snapshot_line line;
    while (next_snapshot_line(&rest, &line)) {
        const size_t space = line.value.find(' ');
        if (line.kind == 'X' && space != std::string_view::npos) {
            facts.backoff_level = sub(line.value, 0, space);
            facts.backoff_since = atoll(sub(line.value, space + 1).data());
        } else if (line.kind == 'K' && facts.changed_count < 64) {
            facts.changed[facts.changed_count++] = line.path;
        }
    }
    if (profile == "performance") read_game_watch(boot, state.stamp.start_ticks);
    find_governor_nodes(&facts.nodes);
    for (int i = 0; i < facts.nodes.count; ++i) {
        char file[PATH_SIZE];
        governor_file(facts.nodes.nodes[i], file, sizeof file);
        const std::string_view recorded = recorded_governor(held, file);
        facts.boosted[i] = !recorded.empty() && recorded != "performance" &&
                           read_device_value(file, value, sizeof value) &&
                           strcmp(value, "performance") == 0;
    }
}

void read_log() {
    char path[PATH_SIZE];
    module_path(path, sizeof path, "tessivar.log");
    facts.change_count = 0;
    facts.tail_count = 0;
    const int fd = open_regular(path, O_RDONLY | O_NOFOLLOW);
    if (fd < 0) return;
    struct stat info;
    ssize_t n = 0;
    if (fstat(fd, &info) == 0) {
        const off_t start = info.st_size > static_cast<off_t>(LOG_READ)
                                ? info.st_size - static_cast<off_t>(LOG_READ)
                                : 0;
        n = pread(fd, log_text, sizeof log_text, start);
    }
    close(fd);
    if (n <= 0) return;
    std::string_view rest(log_text, static_cast<size_t>(n));
    std::string_view line;
    static const std::string_view change = "State change detected: ";
    while (next_list_line(&rest, &line)) {
        if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
        if (sub(line, 0, change.size()) == change) {
            for (int i = MAX_CHANGES - 1; i > 0; --i)
                facts.changes[i] = facts.changes[i - 1];
            facts.changes[0] = sub(line, change.size());
            if (facts.change_count < MAX_CHANGES) ++facts.change_count;
        }
        if (facts.tail_count == TAIL_LINES) {
            for (int i = 1; i < TAIL_LINES; ++i)
                facts.tail[i - 1] = facts.tail[i];
            --facts.tail_count;
        }
        facts.tail[facts.tail_count++] = line;
    }
}

int count_games() {
    int count = 0;
    list_cursor cursor{facts.games};
    list_piece piece;
    while (next_list_piece(&cursor, &piece))
        count += !piece.entry.empty();
    return count;
}

// A knob the preset in force changed, as a person reads it: "policy4 up_rate_limit_us".
void changed_label(int i, fixed_text<256>* name) {
    std::string_view node;
    std::string_view leaf;
    setting_name(facts.changed[i], &node, &leaf);
    name->append(node);
    name->append(node.empty() ? "" : " ");
    name->append(leaf);
}

void print_plain() {
    if (facts.supervisor && facts.daemon) {
        printf("Tessivar: running (pid %d, supervisor %d)\n", facts.daemon, facts.supervisor);
    } else if (facts.supervisor) {
        printf("Tessivar: restarting (supervisor %d)\n", facts.supervisor);
    } else {
        printf("Tessivar: not running\n");
    }
    printf("Profile in force: %s", facts.profile);
    for (int i = 0; i < facts.pending_count; ++i)
        printf("%s%.*s",
               i ? ", " : "; restore pending: ", static_cast<int>(facts.pending[i].size()),
               facts.pending[i].data());
    printf("\n");
    if (!facts.preset.empty()) {
        printf("Preset in force: %.*s", static_cast<int>(facts.preset.size()), facts.preset.data());
        if (!facts.preset_game.empty())
            printf(" for %.*s", static_cast<int>(facts.preset_game.size()),
                   facts.preset_game.data());
        if (facts.changed_count) {
            printf(" (changed:");
            for (int i = 0; i < facts.changed_count; ++i) {
                fixed_text<256> name;
                changed_label(i, &name);
                printf("%s %s", i ? "," : "", name.c_str());
            }
            printf(")");
        }
        printf("\n");
    }
    if (!facts.backoff_level.empty()) {
        char since[16] = "?";
        const time_t at = static_cast<time_t>(facts.backoff_since);
        tm local;
        if (localtime_r(&at, &local)) strftime(since, sizeof since, "%H:%M", &local);
        printf("Back-off: thermal %.*s since %s (the boost is taken back)\n",
               static_cast<int>(facts.backoff_level.size()), facts.backoff_level.data(), since);
    }
    for (int pass = 0; pass < 2; ++pass) {
        int shown = 0;
        for (int i = 0; i < facts.taken_count; ++i) {
            const watch_line& t = facts.taken[i];
            if (t.left != pass) continue;
            printf("%s%.*s (%d time%s)",
                   shown++ ? ", "
                   : pass  ? "Left to the system: "
                           : "Taken back by the system and set again: ",
                   static_cast<int>(t.text.size()), t.text.data(), t.times,
                   t.times == 1 ? "" : "s");
        }
        if (shown) printf("\n");
    }
    if (!facts.front_note.empty())
        printf("Game in front: not followed (%.*s); the launch's game keeps its preset\n",
               static_cast<int>(facts.front_note.size()), facts.front_note.data());
    printf("Boosted:");
    int any = 0;
    for (int i = 0; i < facts.nodes.count; ++i)
        if (facts.boosted[i]) printf(" %s", facts.nodes.nodes[i].name), any = 1;
    printf("%s\n", any ? "" : " nothing");
    printf("Device's own settings held for restore: %s\n", facts.snapshot_held ? "yes" : "no");

    printf("Module: %s\n", facts.to_remove      ? "to be removed at the next reboot"
                           : facts.switched_off ? "switched off in the root manager"
                                                : "on");
    if (facts.games_error) {
        printf("Game list: cannot be read (%s)\n", facts.games_error);
    } else {
        printf("Games listed: %d\n", count_games());
    }
    print_choose_plain();
    if (facts.change_count) {
        printf("Last mode changes (newest first):\n");
        for (int i = 0; i < facts.change_count; ++i) {
            printf("  ");
            print_visible(stdout, facts.changes[i]);
            putchar('\n');
        }
    } else {
        printf("Last mode changes: none yet\n");
    }
    int problems = 0;
    list_cursor cursor{facts.games};
    list_problem problem;
    while (next_list_problem(&cursor, &problem)) {
        if (!problems++) printf("Game list problems (fix with: tessivarctl games fix):\n");
        char reasons[200];
        printf("  line %d: %s: '", problem.line,
               problem_text(problem.problems, reasons, sizeof reasons));
        print_visible(stdout, problem.clean);
        printf("'\n");
    }
    if (!problems && !facts.games_error) printf("Game list: no problems\n");
}

void json_key(const char* key, int first = 0) {
    printf("%s\"%s\":", first ? "" : ",", key);
}

void print_json_strings(const std::string_view* items, int count) {
    printf("[");
    for (int i = 0; i < count; ++i) {
        if (i) printf(",");
        write_json_string(stdout, items[i]);
    }
    printf("]");
}

void print_json() {
    printf("{");
    json_key("supervisor", 1);
    printf("{\"running\":%s,\"pid\":%d}", facts.supervisor ? "true" : "false", facts.supervisor);
    json_key("daemon");
    printf("{\"running\":%s,\"pid\":%d}", facts.daemon ? "true" : "false", facts.daemon);
    json_key("profile");
    write_json_string(stdout, facts.profile);
    json_key("boosted");
    printf("[");
    for (int i = 0, n = 0; i < facts.nodes.count; ++i) {
        if (!facts.boosted[i]) continue;
        if (n++) printf(",");
        write_json_string(stdout, facts.nodes.nodes[i].name);
    }
    printf("]");
    json_key("snapshotHeld");
    printf(facts.snapshot_held ? "true" : "false");
    json_key("restorePending");
    print_json_strings(facts.pending, facts.pending_count);
    json_key("preset");
    if (facts.preset.empty()) {
        printf("null");
    } else {
        printf("{\"name\":");
        write_json_string(stdout, facts.preset);
        printf(",\"game\":");
        if (facts.preset_game.empty()) {
            printf("null");
        } else {
            write_json_string(stdout, facts.preset_game);
        }
        printf(",\"changed\":[");
        for (int i = 0; i < facts.changed_count; ++i) {
            fixed_text<256> name;
            changed_label(i, &name);
            printf("%s", i ? "," : "");
            write_json_string(stdout, name.view());
        }
        printf("]}");
    }
    json_key("backoff");
    if (facts.backoff_level.empty()) {
        printf("null");
    } else {
        printf("{\"level\":");
        write_json_string(stdout, facts.backoff_level);
        printf(",\"since\":%lld}", facts.backoff_since);
    }
    json_key("takenBack");
    printf("[");
    for (int i = 0; i < facts.taken_count; ++i) {
        printf("%s{\"knob\":", i ? "," : "");
        write_json_string(stdout, facts.taken[i].text);
        printf(",\"times\":%d,\"left\":%s}", facts.taken[i].times,
               facts.taken[i].left ? "true" : "false");
    }
    printf("]");
    json_key("frontNotFollowed");
    if (facts.front_note.empty()) {
        printf("null");
    } else {
        write_json_string(stdout, facts.front_note);
    }
    json_key("switchedOff");
    printf(facts.switched_off ? "true" : "false");
    json_key("toBeRemoved");
    printf(facts.to_remove ? "true" : "false");
    json_key("gameListError");
    if (facts.games_error) {
        write_json_string(stdout, facts.games_error);
    } else {
        printf("null");
    }
    json_key("games");
    printf("[");
    list_cursor cursor{facts.games};
    list_piece piece;
    for (int n = 0; next_list_piece(&cursor, &piece);) {
        if (piece.entry.empty()) continue;
        if (n++) printf(",");
        write_json_string(stdout, piece.entry);
    }
    printf("]");
    json_key("problems");
    printf("[");
    list_cursor problems{facts.games};
    list_problem problem;
    for (int n = 0; next_list_problem(&problems, &problem);) {
        char reasons[200];
        printf("%s{\"line\":%d,\"reasons\":", n++ ? "," : "", problem.line);
        write_json_string(stdout, problem_text(problem.problems, reasons, sizeof reasons));
        printf(",\"clean\":");
        write_json_string(stdout, problem.clean);
        printf(",\"fixable\":%s}", (problem.problems & PROBLEM_INVALID) ? "false" : "true");
    }
    printf("]");
    // The presets chosen: the default, and each game's own.
    json_key("presets");
    std::string_view presets;
    const char* presets_error = nullptr;
    if (!load_presets(&presets, &presets_error)) presets = {};
    printf("{\"default\":\"%s\",\"games\":[", preset_name(preset_for(presets, {})));
    std::string_view preset_line;
    std::string_view who;
    std::string_view name;
    for (int n = 0; next_list_line(&presets, &preset_line);) {
        if (!parse_preset_line(preset_line, &who, &name) || who == "*") continue;
        printf("%s[", n++ ? "," : "");
        write_json_string(stdout, who);
        printf(",");
        write_json_string(stdout, name);
        printf("]");
    }
    printf("]}");
    // Games trying both presets, with the sessions they have left.
    json_key("trials");
    std::string_view trials;
    const char* trials_error = nullptr;
    if (!load_trials(&trials, &trials_error)) trials = {};
    printf("[");
    std::string_view trial_line;
    for (int n = 0; next_list_line(&trials, &trial_line);) {
        const size_t space = trial_line.find(' ');
        if (space == std::string_view::npos || space == 0) continue;
        const std::string_view game = sub(trial_line, 0, space);
        const int left = trial_left(trial_line, game);
        if (left <= 0) continue;
        printf("%s[", n++ ? "," : "");
        write_json_string(stdout, game);
        printf(",%d]", left);
    }
    printf("]");
    json_key("sessions");
    print_sessions_json(STATUS_SESSIONS);
    json_key("verdicts");  // computed here, so the page and the supervisor follow one rule
    print_verdicts_json();
    json_key("choose");
    print_choose_json();
    json_key("changes");
    print_json_strings(facts.changes, facts.change_count);
    json_key("log");
    print_json_strings(facts.tail, facts.tail_count);
}

// The installed user apps from the package manager, for a page whose bridge cannot list them.
void print_json_packages() {
    const char* argv[] = {"pm", "list", "packages", "-3", nullptr};
    const int status = run_capture(argv, packages_text, sizeof packages_text);
    json_key("packages");
    printf("[");
    std::string_view rest(packages_text);
    std::string_view line;
    constexpr std::string_view prefix = "package:";
    for (int n = 0; next_list_line(&rest, &line);) {
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.remove_suffix(1);
        if (sub(line, 0, prefix.size()) != prefix) continue;
        if (n++) printf(",");
        write_json_string(stdout, sub(line, prefix.size()));
    }
    printf("]");
    json_key("packagesError");
    if (status < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        char reason[64];
        snprintf(reason, sizeof reason, "pm list packages failed (status %d)",
                 status < 0          ? -1
                 : WIFEXITED(status) ? WEXITSTATUS(status)
                                     : 128 + WTERMSIG(status));
        write_json_string(stdout, reason);
    } else {
        printf("null");
    }
}

}  // namespace

int run_status(int json, int packages) {
    find_processes();
    read_profile_state();
    facts.switched_off = module_file_exists("disable");
    facts.to_remove = module_file_exists("remove");
    facts.games_error = nullptr;
    if (!load_game_list(&facts.games, &facts.games_error)) facts.games = {};
    read_log();
    if (json) {
        print_json();
        if (packages) print_json_packages();
        printf("}\n");
    } else {
        print_plain();
    }
    return fflush(stdout) == 0 ? 0 : 1;
}
