#include "profile.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "boot.h"
#include "ctl_config.h"
#include "files.h"
#include "fixed_text.h"
#include "game_focus.h"
#include "game_list_line.h"
#include "game_mode.h"
#include "governor_boost.h"
#include "knobs.h"
#include "locks.h"
#include "nodes.h"
#include "preset_writer.h"
#include "presets.h"
#include "presets_file.h"
#include "profile_run.h"
#include "restore.h"
#include "snapshot.h"
#include "text_view.h"

profile_run run = {};
state_text next_state = {};

namespace {

char held_text[STATE_SIZE];
preset_plan plan = {};

int trial_left_now = -1;  // sessions left of a game trying both, -1 when it is not

// How long a performance run waits for the supervisor to read the change line that launched
// it: far more than reading a pipe takes, far less than a game's start.
constexpr int FOCUS_WAIT_MS = 2000;

int switched_off() {
    return module_file_exists("disable") || module_file_exists("remove");
}

// Whether the next state already holds a group that starts with `group`'s first line's path.
int next_state_has(const snapshot_group& group) {
    std::string_view first = group.text;
    snapshot_line line;
    return next_snapshot_line(&first, &line) && !line.path.empty() &&
           !find_group(next_state.view(), line.path).empty();
}

// Held lines this run did not take up (a node that is gone, a knob of another preset) stay
// held until they are put back.
void keep_other_held() {
    std::string_view rest = run.has_state ? run.state.held : std::string_view();
    snapshot_group group;
    while (next_snapshot_group(&rest, &group))
        if (group.kind != 'P' && group.kind != 'X' && !next_state_has(group))
            next_state.append(group.text);
}

// balanced, and the retries of what it could not put back. `profile` is what the state file
// says afterwards.
int apply_balanced(const char* profile, const launch_stamp& stamp, int quiet, int retry) {
    restore_counts counts;
    if (!begin_state(profile, stamp)) return 1;
    const int held = run.has_state && !run.state.held.empty();
    if (held) restore_held(&counts);
    if (retry && counts.restored == 0 && counts.ignored == 0 && counts.left == 0 &&
        counts.passed == 0)
        return 0;
    const int written = write_state();
    const int saved = errno;
    if (!retry) follow_game_mode("balanced", "");  // a game mode recorded in any boot goes back
    if (quiet) return 0;
    if (!held) {
        printf("balanced: nothing to restore; nothing changed\n");
    } else {
        printf("balanced: %s%d setting(s) of the device's own, %d refused",
               retry ? "retried the restore: restored " : "restored ", counts.restored,
               counts.refused);
        if (counts.refused)
            printf(" (%s; kept to try again; restore pending: %s)", counts.refused_names.c_str(),
                   counts.pending_nodes.c_str());
        if (counts.left) printf("; left %s: changed by the system", counts.left_names.c_str());
        if (counts.passed)
            printf("; passed over %s: the kernel does not take it back, its governor keeps its own",
                   counts.passed_names.c_str());
        if (counts.ignored)
            printf("; ignored %d line(s) that name no governor setting", counts.ignored);
        printf("\n");
    }
    if (!written)
        printf(
            "balanced: could not update %s (%s); the device's settings are back, the "
            "record of them stays\n",
            run.state_path, strerror(saved));
    return 0;
}

// A game's preset: a trial session of a game trying both, else the game's line of the presets.
unsigned preset_of_game(const char* package) {
    unsigned preset = 0;
    trial_left_now = take_trial_session(package, &preset);
    if (trial_left_now >= 0) return preset;
    std::string_view presets;
    const char* reason = "";
    if (!load_presets(&presets, &reason)) presets = {};
    return preset_for(presets, package);
}

// The game in front and its preset: from the supervisor's record of the change that launched
// this run, else the default preset, said so. `hot` gets the thermal state the record names.
unsigned choose_preset(char* package, size_t cap, const char** unknown, char* hot, size_t hot_cap) {
    package[0] = '\0';
    *unknown = nullptr;
    if (!launching_game(run.boot, FOCUS_WAIT_MS, package, cap, unknown, hot, hot_cap))
        package[0] = '\0';
    return preset_of_game(package);
}

// The P line of a launch.
void append_launch_line(std::string_view preset, std::string_view package) {
    next_state.append("P ");
    next_state.append(preset);
    next_state.append_char(' ');
    next_state.append(package.empty() ? std::string_view("-") : package);
    next_state.append_char('\n');
}

int apply_performance(unsigned preset, const char* package, const char* unknown) {
    find_governor_nodes(&run.nodes);
    if (!begin_state("performance", run.stamp)) return 1;
    append_launch_line(preset_name(preset), package);
    int boost[MAX_NODES] = {};
    fixed_text<1024> not_recorded;
    fixed_text<1024> tables;
    if (preset == PRESET_MAX) {
        record_governors(boost, &not_recorded, &tables);
    } else {
        plan_preset(preset, &plan);
    }
    keep_other_held();
    if (!write_state()) {
        fprintf(stderr, "tessivarctl: %s: %s\n", run.state_path, strerror(errno));
        printf("performance: could not record the device's settings; nothing changed\n");
        return 1;
    }
    char which[400];
    if (package[0] && trial_left_now >= 0) {
        snprintf(which, sizeof which, "%s for %s (trying both: %d more session(s))",
                 preset_name(preset), package, trial_left_now);
    } else if (package[0]) {
        snprintf(which, sizeof which, "%s for %s", preset_name(preset), package);
    } else {
        snprintf(which, sizeof which, "%s, the default preset (game unknown: %s)",
                 preset_name(preset), unknown);
    }
    if (preset == PRESET_MAX) {
        fixed_text<1024> changed;
        boost_governors(boost, &changed);
        printf("performance: %s: governor set to performance on:%s\n", which,
               changed.len ? changed.c_str() : " nothing");
        if (tables.len)
            printf(
                "performance: passed over, not recorded: %s (tables the kernel fills itself; "
                "the governor shows its own again when it is back)\n",
                tables.c_str());
        if (not_recorded.len)
            printf("performance: not boosted, since a setting could not be recorded: %s\n",
                   not_recorded.c_str());
        return 0;
    }
    const int took = apply_plan(&plan);
    // A value the kernel keeps its own way (timer_rate in whole jiffies) is ours as it shows
    // it; should this record fail, the restore still knows the rounding by its rule.
    if (record_read_backs(plan) && !write_state())
        fprintf(stderr, "tessivarctl: %s: %s\n", run.state_path, strerror(errno));
    printf("performance: %s: %s", which,
           plan.changed.len ? plan.changed.c_str() : "nothing to change");
    if (took < plan.count) printf(" (%d of %d writes refused)", plan.count - took, plan.count);
    if (plan.absent.len) printf("; not on this kernel: %s", plan.absent.c_str());
    printf("\n");
    return 0;
}

int usage_profile() {
    fprintf(stderr, "usage: tessivarctl profile performance|balanced\n");
    return 2;
}

// The preset and game of the launch in force, from its P line.
unsigned preset_in_force(char* package, size_t cap) {
    std::string_view preset;
    std::string_view game;
    package[0] = '\0';
    if (!launch_preset(run.state.held, &preset, &game)) return PRESET_SUSTAINED;
    if (!game.empty() && game.size() < cap) {  // an empty view may have no data at all
        memcpy(package, game.data(), game.size());
        package[game.size()] = '\0';
    }
    return preset_from_name(preset) ? preset_from_name(preset) : PRESET_SUSTAINED;
}

// The X line of a back-off: "X <state> <time>".
void append_backoff_line(const char* level) {
    char mark[96];
    snprintf(mark, sizeof mark, "X %s %lld\n", level, static_cast<long long>(time(nullptr)));
    next_state.append(mark);
}

// The boost of the launch in force taken back; the launch stays in force, marked backed off.
int back_off(const char* level) {
    restore_counts counts;
    if (!begin_state("performance", run.state.stamp)) return 1;
    std::string_view preset;
    std::string_view game;
    if (launch_preset(run.state.held, &preset, &game)) append_launch_line(preset, game);
    append_backoff_line(level);
    restore_held(&counts);
    if (!write_state()) {
        printf("performance: could not record the back-off (%s)\n", strerror(errno));
        return 1;
    }
    printf(
        "performance: backed off (thermal %s): restored %d setting(s) of the device's own, %d "
        "refused",
        level, counts.restored, counts.refused);
    if (counts.left) printf("; left %s: changed by the system", counts.left_names.c_str());
    if (counts.passed)
        printf("; passed over %s: the kernel does not take it back", counts.passed_names.c_str());
    printf("\n");
    return 0;
}

// The preset of the launch in force applied again, once it has cooled down.
int re_arm() {
    char package[256];
    const unsigned preset = preset_in_force(package, sizeof package);
    run.stamp = run.state.stamp;
    printf("performance: re-armed after the thermal back-off\n");
    return apply_performance(preset, package, "re-armed");
}

// A launch while the phone is already hot: in force, backed off from the start, so that it
// boosts nothing until the supervisor re-arms it once the phone has cooled.
int start_backed_off(unsigned preset, const char* package, const char* hot) {
    restore_counts counts;
    if (!begin_state("performance", run.stamp)) return 1;
    append_launch_line(preset_name(preset), package);
    append_backoff_line(hot);
    restore_held(&counts);  // anything a launch before left in force
    if (!write_state()) {
        printf("performance: could not record the launch (%s); nothing changed\n", strerror(errno));
        return 1;
    }
    printf(
        "performance: %s for %s: backed off from the start (thermal %s); applied once the "
        "phone has cooled\n",
        preset_name(preset), package, hot);
    return 0;
}

// Another listed game came to the front while the launch stays in force (the daemon launches
// nothing then): the first game's settings go back, and the new game's preset is applied in
// the same launch, so that the daemon's next launch still outranks it.
int switch_game(const char* package) {
    char old_game[256];
    const unsigned old_preset = preset_in_force(old_game, sizeof old_game);
    const unsigned preset = preset_of_game(package);
    const std::string_view backoff = [] {
        std::string_view rest = run.state.held;
        snapshot_group group;
        while (next_snapshot_group(&rest, &group))
            if (group.kind == 'X') return group.text;
        return std::string_view();
    }();
    restore_counts counts;
    if (!begin_state("performance", run.state.stamp)) return 1;
    append_launch_line(preset_name(preset), package);
    next_state.append(backoff);
    restore_held(&counts);
    printf("performance: %s is in front now: restored %d setting(s) of %s's %s, %d refused",
           package, counts.restored, old_game[0] ? old_game : "the game before",
           preset_name(old_preset), counts.refused);
    if (counts.left) printf("; left %s: changed by the system", counts.left_names.c_str());
    printf("\n");
    if (!backoff.empty() || next_state.overflow) {
        if (!write_state()) {
            printf("performance: could not record the switch (%s)\n", strerror(errno));
            return 1;
        }
        printf("performance: %s for %s: applied once the thermal back-off ends\n",
               preset_name(preset), package);
        return 0;
    }
    // On from the state as it stands now: what was refused stays held for the restore.
    memcpy(held_text, next_state.view().data(), next_state.len);
    if (!parse_profile_state(std::string_view(held_text, next_state.len), run.boot, &run.state))
        return 1;
    run.stamp = run.state.stamp;
    return apply_performance(preset, package, "switched");
}

// Battery for the launch's game when its preset is battery; otherwise any recorded mode back.
void follow_launch_game_mode() {
    profile_state state;
    std::string_view preset;
    std::string_view game;
    char package[256] = "";
    if (parse_profile_state(next_state.view(), run.boot, &state) &&
        launch_preset(state.held, &preset, &game) && preset == "battery" && !game.empty() &&
        game.size() < sizeof package) {
        memcpy(package, game.data(), game.size());
        package[game.size()] = '\0';
    }
    follow_game_mode("performance", package);
}

}  // namespace

int begin_state(const char* profile, const launch_stamp& stamp) {
    char line[160];
    next_state.clear();
    next_state.append(profile);
    next_state.append_char('\n');
    if (!format_stamp(line, sizeof line, run.boot, stamp)) return 0;
    next_state.append(line);
    return 1;
}

int write_state() {
    if (next_state.overflow) {
        errno = EFBIG;
        return 0;
    }
    return replace_file(run.state_path, next_state.view(), 0644, 0);
}

std::string_view held_group(std::string_view path) {
    return run.has_state ? find_group(run.state.held, path) : std::string_view();
}

int run_profile(const char* which, const char* option, const char* extra) {
    const int performance = strcmp(which, "performance") == 0;
    const int retry = strcmp(which, "retry") == 0;
    const int balanced = strcmp(which, "balanced") == 0;
    const int backoff = strcmp(which, "backoff") == 0;
    const int rearm = strcmp(which, "rearm") == 0;
    const int switching = strcmp(which, "switch") == 0;
    const int stopping = balanced && option && strcmp(option, "--stop") == 0;
    const int starting = balanced && option && strcmp(option, "--start") == 0;
    unsigned long long ticks = 0;
    const int thermal = (backoff && option && extra) || (rearm && option && !extra);
    if (thermal || (switching && option && extra)) {
        char* end = nullptr;
        ticks = strtoull(option, &end, 10);
        if (!end || *end || (backoff && strlen(extra) > 16) ||
            (switching && (!valid_package_name(extra) || strlen(extra) >= 256)))
            return usage_profile();
    } else if ((!performance && !retry && !balanced) || extra ||
               (option && !stopping && !starting) || (option && !balanced)) {
        return usage_profile();
    }
    const char* name = retry ? "balanced" : thermal || switching ? "performance" : which;
    run.stamp = this_launch();
    // A restore writes nothing in the module directory until its very end: only a boost needs
    // it writable first, to record what it changes.
    if (performance && !directory_writable(module_dir())) {
        printf("%s: cannot write to %s (%s); nothing changed\n", name, module_dir(),
               strerror(errno));
        return 1;
    }
    if (!read_boot_id(run.boot, sizeof run.boot)) {
        printf("%s: cannot read the kernel's boot_id; nothing changed\n", name);
        return 1;
    }
    module_path(run.state_path, sizeof run.state_path, "current_profile");
    // Which game, before the lock: the wait for the supervisor must hold up no other run.
    char package[256] = "";
    const char* unknown = nullptr;
    char hot[32] = "";
    const unsigned preset = performance && !switched_off()
                                ? choose_preset(package, sizeof package, &unknown, hot, sizeof hot)
                                : 0;

    char lock_path[PATH_SIZE];
    module_path(lock_path, sizeof lock_path, ".profile.lock");
    const int lock = take_lock(lock_path);
    if (lock < 0) {
        printf("%s: cannot take %s (%s); nothing changed\n", name, lock_path, strerror(errno));
        return 1;
    }
    const ssize_t n = read_small_file(run.state_path, held_text, sizeof held_text);
    run.has_state =
        n > 0 && parse_profile_state(std::string_view(held_text, static_cast<size_t>(n)), run.boot,
                                     &run.state);
    const int stopped = run.has_state && run.state.profile == "stopped";

    int status = 0;
    const int this_launch_in_force =
        run.has_state && run.state.profile == "performance" && run.state.stamp.start_ticks == ticks;
    if (thermal) {
        // Never outranks a launch: only the launch it was decided for, while it is in force.
        if (!this_launch_in_force) {
            printf("performance: thermal %s for a launch no longer in force; nothing changed\n",
                   backoff ? "back-off" : "re-arm");
        } else {
            status = backoff ? back_off(extra) : re_arm();
        }
    } else if (switching) {
        // Likewise: the game in front changes only within the launch it was seen for.
        if (!this_launch_in_force) {
            printf("performance: %s in front, for a launch no longer in force; nothing changed\n",
                   extra);
        } else {
            status = switch_game(extra);
        }
    } else if (retry) {
        // Never a launch of its own: it only finishes the restore of the balanced in force.
        if (run.has_state && run.state.profile != "performance" && !run.state.held.empty())
            apply_balanced(stopped ? "stopped" : "balanced", run.state.stamp, 0, 1);
    } else if (stopping || starting) {
        // The supervisor's own start and stop apply whatever came before them.
        apply_balanced(stopping ? "stopped" : "balanced", run.stamp, 0, 0);
    } else if (run.has_state &&
               !launch_supersedes(run.stamp, !performance, run.state.stamp, run.state.profile)) {
        printf("%s: a later launch has already been applied; nothing changed\n", name);
    } else if (performance && (stopped || switched_off())) {
        apply_balanced(stopped ? "stopped" : "balanced", run.stamp, 1, 0);
        printf(stopped ? "performance: Tessivar is stopped; balanced profile kept\n"
                       : "performance: the module is switched off in the root manager; balanced "
                         "profile kept\n");
    } else if (performance && hot[0]) {
        status = start_backed_off(preset, package, hot);
    } else if (performance) {
        status = apply_performance(preset, package, unknown);
    } else {
        status = apply_balanced(stopped ? "stopped" : "balanced", run.stamp, 0, 0);
    }
    // The platform's game mode follows the launch this run put in force (a launch, a game after
    // a game, a start while hot), after the knobs, so its commands never delay the boost.
    if (status == 0 && (performance || switching) &&
        sub(next_state.view(), 0, 12) == "performance\n")
        follow_launch_game_mode();
    fflush(stdout);
    close(lock);
    return status;
}
