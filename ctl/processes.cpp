#include "processes.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "ctl_config.h"
#include "files.h"

pid_t start_program(const char* const* argv, int out_fd, int dies_with_parent, int own_group) {
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid > 0 && own_group) setpgid(pid, pid);  // both sides: a kill may come before either
    if (pid != 0) return pid;
    if (own_group) setpgid(0, 0);
    if (dies_with_parent) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(0);  // the parent died before the request took
    }
    // The child: default signal dispositions and mask, as a freshly started program expects.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    signal(SIGCHLD, SIG_DFL);
    const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null_fd >= 0) dup2(null_fd, STDIN_FILENO);
    if (out_fd >= 0) {
        dup2(out_fd, STDOUT_FILENO);
        dup2(out_fd, STDERR_FILENO);
    }
    execvp(argv[0], const_cast<char* const*>(argv));
    _exit(127);
}

int wait_for(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return status;
}

int run_program(const char* const* argv, int out_fd) {
    const pid_t pid = start_program(argv, out_fd);
    return pid < 0 ? -1 : wait_for(pid);
}

namespace {

long long monotonic_ms() {
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

int run_capture(const char* const* argv, char* out, size_t cap, int* timed_out, int* cut) {
    int late = 0;
    int dropped = 0;
    if (timed_out) *timed_out = 0;
    if (cut) *cut = 0;
    int fds[2];
    if (cap == 0 || pipe2(fds, O_CLOEXEC) != 0) return -1;
    const long long deadline = monotonic_ms() + command_deadline_ms();
    const pid_t pid = start_program(argv, fds[1], 0, 1);
    close(fds[1]);
    size_t len = 0;
    while (pid > 0) {
        const long long left = deadline - monotonic_ms();
        pollfd ready = {fds[0], POLLIN, 0};
        const int n = left > 0 ? poll(&ready, 1, static_cast<int>(left)) : 0;
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) {
            late = 1;
            break;
        }
        char scratch[512];
        char* into = len < cap - 1 ? out + len : scratch;
        const size_t room = len < cap - 1 ? cap - 1 - len : sizeof scratch;
        const ssize_t got = n < 0 ? 0 : read(fds[0], into, room);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        if (into != scratch) {
            len += static_cast<size_t>(got);
        } else {
            dropped = 1;  // the rest is read and dropped, so the program never blocks on it
        }
    }
    close(fds[0]);
    out[len] = '\0';
    if (cut) *cut = dropped;
    if (pid < 0) return -1;
    // The output's end is not the program's: one that closes it and lingers is bounded too.
    int status = 0;
    for (int pause_ms = 1; !late;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) return -1;
        const long long left = deadline - monotonic_ms();
        if (left <= 0) {
            late = 1;
            break;
        }
        poll(nullptr, 0, static_cast<int>(left < pause_ms ? left : pause_ms));
        if (pause_ms < 64) pause_ms *= 2;
    }
    if (late) {
        kill(-pid, SIGKILL);  // the whole group: a child of it may hold the pipe or linger
        kill(pid, SIGKILL);
        status = wait_for(pid);
        if (timed_out) *timed_out = 1;
    }
    return status;
}

int process_runs(pid_t pid, const char* exe) {
    if (pid <= 0) return 0;
    char link[64];
    char target[PATH_MAX];
    char wanted[PATH_MAX];
    snprintf(link, sizeof link, "/proc/%d/exe", static_cast<int>(pid));
    const ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0) return 0;
    target[n] = '\0';
    if (!realpath(exe, wanted)) return 0;
    return strcmp(target, wanted) == 0;
}

pid_t parent_of(pid_t pid) {
    char path[64];
    char stat[1024];
    snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    if (!read_value(path, stat, sizeof stat)) return 0;
    const char* at = strrchr(stat, ')');
    // ") S PPID": the state, then the parent.
    return at && at[1] == ' ' && at[2] && at[3] == ' ' ? atoi(at + 4) : 0;
}
