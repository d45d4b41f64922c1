#include "supervisor.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "boot.h"
#include "choose.h"
#include "ctl_config.h"
#include "files.h"
#include "fixed_text.h"
#include "game_focus.h"
#include "game_in_front.h"
#include "knob_watch.h"
#include "locks.h"
#include "log_writer.h"
#include "manager_status.h"
#include "processes.h"
#include "profile.h"
#include "session_recorder.h"
#include "snapshot.h"
#include "text_view.h"
#include "thermal.h"
#include "thermal_source.h"

namespace {

struct supervisor_state {
    log_writer log;
    int pipe_read;   // the daemon's (and its scripts') output
    int pipe_write;  // kept open here, so the pipe never ends while children come and go
    pid_t daemon;
    long long daemon_started_ms;
    int delay;  // seconds before the next restart
    char assembled[4096];
    size_t assembled_len;
    long long retry_at;  // when to retry a restore the kernel refused; 0 when none is pending
    int retry_delay;     // seconds, 5 doubling to 300
    unsigned long long session_ticks;  // the launch of the game in front; 0 between games
    char session_game[128];            // its game ("" when the launch named none)
    char last_game[128];               // the game of the session before, for its re-arm limit
    long long thermal_at;              // the next check of the game session; 0 between games
    long long checks;                  // game-session checks made, ever: the take-back clock
    backoff_state backoff;
    thermal_source* thermal;
    int thermal_fresh;    // begun by a launch's own check, for the session that follows
    char front_note[64];  // why the game in front cannot be told; empty while it can
};
supervisor_state s;

long long now_ms() {
    timespec now = {};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void note(const char* text) {
    fixed_text<512> line;
    line.append("supervisor: ");
    line.append(text);
    write_log_line(&s.log, line.view());
}

char boot_id[BOOT_ID_SIZE];
constexpr int THERMAL_POLL_SECONDS = 5;

// The thermal state a launch of performance starts in, from the sources that start no process
// (the thermal API, else the battery's temperature) and the CPU cooling devices: the name the
// launch starts backed off at, or "" when the phone is cool enough to boost.
const char* launch_thermal() {
    s.thermal = thermal_begin(now_ms());
    s.thermal_fresh = 1;
    int cooling = 0;
    const int level = thermal_check_cheap(s.thermal, &cooling);
    if (level >= THERMAL_MODERATE) return thermal_level_name(level);
    return cooling ? "COOLING" : "";
}

// Moves whatever the children printed into the log, a whole line at a time. Held under the
// focus lock from read to record, so that a profile run that finds the pipe drained under it
// finds the record of every change line before it.
void drain_output(int final) {
    const int focus_lock = lock_focus();
    for (;;) {
        const ssize_t got =
            read(s.pipe_read, s.assembled + s.assembled_len, sizeof s.assembled - s.assembled_len);
        if (got > 0) s.assembled_len += static_cast<size_t>(got);
        size_t used = 0;
        while (size_t n = log_line_length(s.assembled + used, s.assembled_len - used,
                                          sizeof s.assembled)) {
            const std::string_view line(s.assembled + used, n);
            write_log_line(&s.log, line);
            used += n;
            // The daemon's change lines say what the manager's list should show.
            std::string_view focus;
            if (const int mode = parse_change_line(line, &focus)) {
                record_change(boot_id, mode, focus, mode == 1 ? launch_thermal() : "");
                char state[128];
                describe_mode(state, sizeof state, mode, focus);
                show_in_manager(state);
            }
        }
        s.assembled_len -= used;
        if (used) memmove(s.assembled, s.assembled + used, s.assembled_len);
        if (got <= 0 && !(got < 0 && errno == EINTR)) break;
    }
    if (final && s.assembled_len) {
        write_log_line(&s.log, std::string_view(s.assembled, s.assembled_len));
        s.assembled_len = 0;
    }
    unlock_focus(focus_lock);
}

// The profile program run as a program of its own, so that it is dated as a launch of now and
// its lines land in the log: "profile <which> [<a> [<b>]]".
void run_profile_program(const char* which, const char* a = nullptr, const char* b = nullptr) {
    char self[PATH_SIZE];
    if (!module_path(self, sizeof self, "tessivarctl")) return;
    const char* argv[] = {self, "profile", which, a, b, nullptr};
    run_program(argv, s.pipe_write);
    drain_output(0);
}

void restore(const char* option = nullptr) {
    run_profile_program("balanced", option);
}

// The profile state of this boot; 0 when there is none. `info`, when given, is the file's stat
// made before the read, so that a later stat that still matches it proves nothing changed.
int read_state(const char* boot, profile_state* state, struct stat* info = nullptr) {
    static char text[512 * 1024];
    char path[PATH_SIZE];
    if (!module_path(path, sizeof path, "current_profile")) return 0;
    if (info && stat(path, info) != 0) return 0;
    const ssize_t n = read_small_file(path, text, sizeof text);
    return n > 0 &&
           parse_profile_state(std::string_view(text, static_cast<size_t>(n)), boot, state);
}

// Settings still to be put back while no boost is in force: a retry is due while the kernel
// refuses them (a cluster offline, a busy node).
int restore_pending(const profile_state& state) {
    return state.profile != "performance" && !state.held.empty();
}

long long after_seconds(int seconds) {
    return now_ms() + static_cast<long long>(seconds) * second_ms();
}

// The session in progress ends: its summary is written, then "Choose for me" takes its step for
// the game (once per session, never between games).
void end_session() {
    if (!session_active()) return;
    session_end(now_ms());
    char line[400];
    if (choose_after_session(s.session_game, line, sizeof line)) note(line);
}

// What the state says now: the retry of a pending restore is armed or disarmed, and a game
// session (a launch of performance) starts or ends; its thermal checks run on a timer that
// exists only while it lasts.
void state_changed(const char* boot) {
    profile_state state;
    struct stat info;
    const int ok = read_state(boot, &state, &info);
    if (!ok || !restore_pending(state)) {
        s.retry_at = 0;
    } else if (!s.retry_at) {
        s.retry_delay = RESTART_FIRST_DELAY;
        s.retry_at = after_seconds(s.retry_delay);
    }
    if (!ok || state.profile != "performance") {
        if (s.session_ticks) memcpy(s.last_game, s.session_game, sizeof s.last_game);
        s.session_ticks = 0;
        s.thermal_at = 0;
        end_session();
        return;
    }
    // The preset and game the launch applied, from its P line.
    std::string_view preset_name = "-";
    std::string_view game_name = "";
    launch_preset(state.held, &preset_name, &game_name);
    char preset[16];
    char game[128];
    snprintf(preset, sizeof preset, "%.*s", static_cast<int>(preset_name.size()),
             preset_name.data());
    snprintf(game, sizeof game, "%.*s", static_cast<int>(game_name.size()), game_name.data());
    const int same_launch = state.stamp.start_ticks == s.session_ticks;
    const int same_session = same_launch && strcmp(game, s.session_game) == 0;
    if (!same_session) knob_watch_reset();
    knob_watch_load(state.held, info);
    if (same_session) return;  // backed off or re-armed
    end_session();             // a game straight after a game: the one before ends first
    if (s.session_ticks) memcpy(s.last_game, s.session_game, sizeof s.last_game);
    s.session_ticks = state.stamp.start_ticks;
    memcpy(s.session_game, game, sizeof s.session_game);
    s.front_note[0] = '\0';
    session_begin(game, preset, now_ms());
    // Another game in the same launch keeps the back-off (the heat is the phone's), and starts
    // with nothing taken back: the record status reads is of the launch, so it is cleared.
    if (same_launch) {
        knob_watch_publish(boot, s.session_ticks, s.front_note);
        return;
    }
    // A game brought back to the front keeps its re-arm limit; a launch while hot starts
    // backed off (its X line).
    int hot = THERMAL_UNKNOWN;
    std::string_view rest = state.held;
    snapshot_line line;
    while (next_snapshot_line(&rest, &line))
        if (line.kind == 'X')
            hot = backoff_level_from_name(sub(line.value, 0, line.value.find(' ')));
    s.backoff = backoff_for_launch(s.backoff, game[0] && strcmp(game, s.last_game) == 0, hot,
                                   now_ms() * 1000 / second_ms());
    if (!s.thermal_fresh) s.thermal = thermal_begin(now_ms());
    s.thermal_fresh = 0;
    s.thermal_at = after_seconds(THERMAL_POLL_SECONDS);
}

void retry_restore(const char* boot) {
    run_profile_program("retry");
    profile_state state;
    if (!read_state(boot, &state) || !restore_pending(state)) {
        s.retry_at = 0;
        return;
    }
    s.retry_delay = s.retry_delay * 2 > RESTART_MAX_DELAY ? RESTART_MAX_DELAY : s.retry_delay * 2;
    s.retry_at = after_seconds(s.retry_delay);
}

// Whether another listed game came to the front: then its preset and session, as a profile run
// under the profile lock and only for the launch in force. Where it cannot be told, the launch
// stays as it is, and the supervisor's note says why.
void front_check(const char* boot) {
    char other[128];
    const char* why = "";
    const front_answer answer = game_in_front(s.session_game, other, sizeof other, &why);
    if (answer == FRONT_UNKNOWN && strcmp(s.front_note, why) != 0) {
        snprintf(s.front_note, sizeof s.front_note, "%s", why);
        char line[160];
        snprintf(line, sizeof line, "the game in front is not followed: %s", why);
        note(line);
        knob_watch_publish(boot, s.session_ticks, s.front_note);
    }
    if (answer == FRONT_UNKNOWN) return;
    if (s.front_note[0]) {
        s.front_note[0] = '\0';
        knob_watch_publish(boot, s.session_ticks, s.front_note);
    }
    if (answer != FRONT_OTHER) return;
    char ticks[32];
    snprintf(ticks, sizeof ticks, "%llu", s.session_ticks);
    run_profile_program("switch", ticks, other);
    state_changed(boot);
    if (strcmp(s.session_game, other) != 0) return;  // not switched (a later launch came)
    char state[128];
    describe_mode(state, sizeof state, 1, other);
    show_in_manager(state);
}

// One check of the game session; the back-off and the re-arm are profile runs, under the
// profile lock and only for the launch they were decided for.
void thermal_tick(const char* boot) {
    front_check(boot);
    if (!s.session_ticks) return;
    int cooling = 0;
    const int level = thermal_check(s.thermal, now_ms(), &cooling);
    // The hysteresis in the supervisor's seconds (test builds shorten them).
    const long long seconds_ms = now_ms() * 1000 / second_ms();
    const backoff_action action = backoff_step(&s.backoff, seconds_ms, level, cooling);
    session_sample(now_ms(), level, cooling);
    const long long check_clock = ++s.checks * THERMAL_POLL_SECONDS * 1000LL;
    char ticks[32];
    snprintf(ticks, sizeof ticks, "%llu", s.session_ticks);
    if (action == BACKOFF_TAKE_BACK) {
        run_profile_program(
            "backoff", ticks,
            cooling && level < THERMAL_MODERATE ? "COOLING" : thermal_level_name(level));
    } else if (action == BACKOFF_REARM) {
        run_profile_program("rearm", ticks);
    } else if (knob_watch_check(check_clock, note)) {
        knob_watch_publish(boot, s.session_ticks, s.front_note);
        char taken[256];
        knob_watch_summary(taken, sizeof taken);
        session_taken_back(taken);
    }
    s.thermal_at = s.session_ticks ? after_seconds(THERMAL_POLL_SECONDS) : 0;
}

void start_daemon() {
    char program[PATH_SIZE];
    module_path(program, sizeof program, "Tessivar");
    const char* argv[] = {program, nullptr};
    // The daemon never outlives the supervisor, however the supervisor ends.
    const pid_t pid = start_program(argv, s.pipe_write, 1);
    s.daemon = pid > 0 ? pid : 0;
    s.daemon_started_ms = now_ms();
    char pid_path[PATH_SIZE];
    char line[32];
    snprintf(line, sizeof line, "%d\n", static_cast<int>(pid));
    if (pid > 0 && module_path(pid_path, sizeof pid_path, "tessivar.daemon.pid"))
        replace_file(pid_path, line, 0644, 0);
    if (pid < 0) note("could not start Tessivar");
}

[[noreturn]] void stop(const char* why) {
    session_end(now_ms());
    if (s.daemon > 0) {
        kill(s.daemon, SIGTERM);
        wait_for(s.daemon);
        s.daemon = 0;
    }
    drain_output(0);
    restore("--stop");
    drain_output(1);
    note(why);
    show_in_manager("stopped");
    _exit(0);
}

// Called once the daemon has ended: the profile goes back to balanced, one line says how it
// ended, and the next start waits the back-off.
long long daemon_ended(int status) {
    const long long ran_ms = now_ms() - s.daemon_started_ms;
    s.daemon = 0;
    drain_output(1);
    restore();
    if (ran_ms >= static_cast<long long>(RESTART_QUICK_RUN) * second_ms())
        s.delay = RESTART_FIRST_DELAY;
    char line[160];
    if (WIFSIGNALED(status)) {
        snprintf(line, sizeof line,
                 "Tessivar was killed by signal %d; balanced profile restored; restarting in %d s",
                 WTERMSIG(status), s.delay);
    } else {
        snprintf(line, sizeof line,
                 "Tessivar exited with status %d; balanced profile restored; restarting in %d s",
                 WEXITSTATUS(status), s.delay);
    }
    note(line);
    show_in_manager("restarting");
    const long long restart_at = now_ms() + static_cast<long long>(s.delay) * second_ms();
    s.delay = s.delay * 2 > RESTART_MAX_DELAY ? RESTART_MAX_DELAY : s.delay * 2;
    return restart_at;
}

// State of an earlier boot describes a kernel that is gone, and temporaries older than this
// boot were left by a process that died: both are dropped at start.
void drop_stale_state(const char* boot) {
    static char text[512 * 1024];
    char path[PATH_SIZE];
    profile_state state;
    if (module_path(path, sizeof path, "current_profile")) {
        const ssize_t n = read_small_file(path, text, sizeof text);
        if (n >= 0 &&
            !parse_profile_state(std::string_view(text, static_cast<size_t>(n)), boot, &state))
            remove_file(path);
    }
    timespec up = {};
    clock_gettime(CLOCK_BOOTTIME, &up);
    const time_t booted = time(nullptr) - up.tv_sec;
    if (DIR* d = opendir(module_dir())) {
        while (dirent* entry = readdir(d)) {
            const size_t len = strlen(entry->d_name);
            if (entry->d_name[0] != '.' || len < 5 || strcmp(entry->d_name + len - 4, ".tmp") != 0)
                continue;
            struct stat info;
            if (module_path(path, sizeof path, entry->d_name) && lstat(path, &info) == 0 &&
                S_ISREG(info.st_mode) && info.st_mtime < booted)
                unlink(path);
        }
        closedir(d);
    }
}

// Descriptors inherited from whoever started the supervisor would pass on to the daemon and
// every profile run for the whole boot: only the standard three are kept.
void close_inherited_descriptors() {
    DIR* d = opendir("/proc/self/fd");
    if (!d) return;
    int found[256];
    int count = 0;
    while (dirent* entry = readdir(d)) {
        const int fd = atoi(entry->d_name);
        if (fd > 2 && fd != dirfd(d) && count < 256) found[count++] = fd;
    }
    closedir(d);
    for (int i = 0; i < count; ++i)
        close(found[i]);
    if (count == 256)  // more than were listed: the rest by number
        for (int fd = 3; fd < 65536; ++fd)
            close(fd);
}

}  // namespace

int supervise() {
    close_inherited_descriptors();
    char lock_path[PATH_SIZE];
    module_path(lock_path, sizeof lock_path, ".supervisor.lock");
    if (!directory_writable(module_dir())) {
        fprintf(stderr, "supervisor: cannot write to %s: %s\n", module_dir(), strerror(errno));
        return 1;
    }
    const int lock = try_hold_lock(lock_path);
    if (lock < 0) {
        printf("supervisor: already running (pid %d)\n", static_cast<int>(lock_holder(lock_path)));
        return 0;
    }
    char* boot = boot_id;
    read_boot_id(boot, sizeof boot_id);

    // The lock file names the boot of the last start; read through the held descriptor, since
    // closing any other descriptor of the file would let go of the lock.
    char last_boot[BOOT_ID_SIZE] = "";
    const ssize_t n = pread(lock, last_boot, sizeof last_boot - 1, 0);
    last_boot[n > 0 ? n : 0] = '\0';
    last_boot[strcspn(last_boot, "\n")] = '\0';
    const int new_boot = strcmp(last_boot, boot) != 0;

    char log_path[PATH_SIZE];
    char old_path[PATH_SIZE];
    module_path(log_path, sizeof log_path, "tessivar.log");
    module_path(old_path, sizeof old_path, "tessivar.log.old");
    struct stat info;
    if (new_boot && lstat(log_path, &info) == 0 && S_ISREG(info.st_mode))
        rename(log_path, old_path);  // the last boot's log
    drop_stale_state(boot);
    if (ftruncate(lock, 0) == 0) {
        char line[BOOT_ID_SIZE + 2];
        const int len = snprintf(line, sizeof line, "%s\n", boot);
        if (pwrite(lock, line, static_cast<size_t>(len), 0) != len) {
            // Only costs the next start its "new boot" guess; nothing to do about it.
        }
    }

    open_log(&s.log, log_path, old_path, log_limit());
    char pid_path[PATH_SIZE];
    char pid_line[32];
    snprintf(pid_line, sizeof pid_line, "%d\n", static_cast<int>(getpid()));
    if (module_path(pid_path, sizeof pid_path, "tessivar.pid"))
        replace_file(pid_path, pid_line, 0644, 0);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        note("cannot make a pipe; not started");
        return 1;
    }
    s.pipe_read = fds[0];
    s.pipe_write = fds[1];
    fcntl(s.pipe_read, F_SETFL, O_NONBLOCK);

    sigset_t handled;
    sigemptyset(&handled);
    sigaddset(&handled, SIGCHLD);
    sigaddset(&handled, SIGTERM);
    sigaddset(&handled, SIGINT);
    sigaddset(&handled, SIGHUP);
    sigprocmask(SIG_BLOCK, &handled, nullptr);
    signal(SIGPIPE, SIG_IGN);
    const int signals = signalfd(-1, &handled, SFD_CLOEXEC | SFD_NONBLOCK);
    const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (watch >= 0) inotify_add_watch(watch, module_dir(), IN_CREATE | IN_MOVED_TO);

    if (chdir("/") != 0) note("cannot change to /");  // the daemon and profiles hold no directory
    note("started");
    s.delay = RESTART_FIRST_DELAY;
    if (module_file_exists("remove"))
        stop("the module is to be removed; balanced profile restored, supervisor stopped");
    // From a known state: a supervisor killed before may have left a game boosted, and an
    // earlier stop in this boot is over.
    sessions_recover();  // a session a kill or a reboot cut short keeps what it had
    restore("--start");
    state_changed(boot);
    show_in_manager(module_file_exists("disable") ? "switched off" : "balanced");
    long long restart_at = 0;
    for (;;) {
        if (!s.daemon && now_ms() >= restart_at) start_daemon();
        if (s.retry_at && now_ms() >= s.retry_at) retry_restore(boot);
        if (s.thermal_at && now_ms() >= s.thermal_at) thermal_tick(boot);
        // Timers only while something is due: between games the supervisor sleeps in poll.
        long long next = s.daemon ? 0 : restart_at;
        if (s.retry_at && (!next || s.retry_at < next)) next = s.retry_at;
        if (s.thermal_at && (!next || s.thermal_at < next)) next = s.thermal_at;
        int timeout = -1;
        if (next) {
            const long long wait = next - now_ms();
            timeout = wait < 0 ? 0 : static_cast<int>(wait);
        }
        pollfd fds_to_watch[3] = {
            {s.pipe_read, POLLIN, 0}, {signals, POLLIN, 0}, {watch, POLLIN, 0}};
        if (poll(fds_to_watch, watch >= 0 ? 3 : 2, timeout) < 0 && errno != EINTR) {
            note("poll failed; stopping");
            stop("stopped; balanced profile restored");
        }
        if (fds_to_watch[0].revents) drain_output(0);
        if (watch >= 0 && fds_to_watch[2].revents) {
            alignas(inotify_event) char events[4096];
            const ssize_t got = read(watch, events, sizeof events);
            int disabled = 0;
            int state_written = 0;
            for (ssize_t at = 0; at < got;) {
                const inotify_event* event = reinterpret_cast<const inotify_event*>(events + at);
                if (event->len && strcmp(event->name, "remove") == 0)
                    stop(
                        "the module is to be removed; balanced profile restored, supervisor "
                        "stopped");
                if (event->len && strcmp(event->name, "disable") == 0) disabled = 1;
                if (event->len && strcmp(event->name, "current_profile") == 0) state_written = 1;
                if (event->len && strcmp(event->name, "game.txt") == 0) game_in_front_forget();
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
            if (disabled) {
                restore();
                show_in_manager("switched off");
                note("the module was switched off in the root manager; balanced profile restored");
            }
            if (state_written || disabled) state_changed(boot);
        }
        if (fds_to_watch[1].revents) {
            signalfd_siginfo info;
            while (read(signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                if (info.ssi_signo != SIGCHLD) stop("stopped; balanced profile restored");
            }
            // One reaping loop that attributes every pid: the daemon's end is never reaped
            // unseen by a catch-all call.
            int status = 0;
            pid_t pid;
            while ((pid = waitpid(-1, &status, WNOHANG)) > 0)
                if (pid == s.daemon) restart_at = daemon_ended(status);
        }
    }
}

int stop_supervisor() {
    char lock_path[PATH_SIZE];
    module_path(lock_path, sizeof lock_path, ".supervisor.lock");
    const pid_t holder = lock_holder(lock_path);
    if (holder > 0 && process_runs(holder, "/proc/self/exe")) {
        kill(holder, SIGTERM);
        // It stops the daemon and restores on its way out; wait for that, 10 s at most.
        for (int i = 0; i < 500 && lock_holder(lock_path) == holder; ++i)
            usleep(20000);
        if (lock_holder(lock_path) != holder) {
            printf("stopped the supervisor (pid %d) and Tessivar; the balanced profile is back\n",
                   static_cast<int>(holder));
            return 0;
        }
        printf("the supervisor (pid %d) did not stop within 10 s\n", static_cast<int>(holder));
    } else {
        printf("no supervisor was running\n");
    }
    fflush(stdout);
    return run_profile("balanced", "--stop");
}
