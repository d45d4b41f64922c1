#include <errno.h>
#include <fcntl.h>
#include <paths.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include "config.h"
#include "window_state.h"

// The shell that runs the dump command: the platform's. Android's mksh runs the command in its
// own place, as the tests' build does too, so that the command's own lifetime is what is seen.
#ifndef TESSIVAR_DUMP_SHELL
#define TESSIVAR_DUMP_SHELL _PATH_BSHELL
#endif
#define DUMP_SHELL TESSIVAR_DUMP_SHELL

#ifdef TESSIVAR_TEST_DEADLINE
int dump_deadline_ms = 20000;
#endif

namespace {

// A dump runs to hundreds of KB; one static buffer (not heap, the probe runs on the one thread)
// takes it in a few large reads. One byte more, to end a piece with a NUL in place.
constexpr size_t DUMP_BUFFER_SIZE = 65536;
char dump_buffer[DUMP_BUFFER_SIZE + 1];

// The deadline is a timer signal that interrupts the blocking read, so that a read costs one
// system call, as for any reader. After the deadline the timer repeats, in case its first
// signal came just before a read began.
volatile sig_atomic_t deadline_passed = 0;
void on_deadline(int) {
    deadline_passed = 1;
}
void set_deadline_timer(int ms, int repeat_ms) {
    itimerval timer = {};
    timer.it_value.tv_sec = ms / 1000;
    timer.it_value.tv_usec = ms % 1000 * 1000;
    timer.it_interval.tv_usec = repeat_ms * 1000;
    setitimer(ITIMER_REAL, &timer, nullptr);
}
void arm_deadline() {
    static int installed = 0;
    if (!installed) {
        struct sigaction action = {};
        action.sa_handler = on_deadline;  // no SA_RESTART: the read must return
        sigaction(SIGALRM, &action, nullptr);
        installed = 1;
    }
    deadline_passed = 0;
    set_deadline_timer(DUMP_DEADLINE_MS, 100);
}
void disarm_deadline() {
    set_deadline_timer(0, 0);
}

// Starts "dumpsys window" through the shell, as popen would, but in a process group of its own
// so that it can be ended with everything it started. Answers the child's pid and the read end
// of its standard output, or -1 with errno set.
pid_t start_dump(int* read_fd) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    const pid_t pid = vfork();
    if (pid == 0) {
        setpgid(0, 0);
        // The write end may already be 1 when the daemon's stdout was closed; dup2 then keeps
        // close-on-exec, so clear it by hand.
        if (fds[1] == STDOUT_FILENO)
            fcntl(STDOUT_FILENO, F_SETFD, 0);
        else
            dup2(fds[1], STDOUT_FILENO);
        execl(DUMP_SHELL, "sh", "-c", "dumpsys window", static_cast<char*>(nullptr));
        _exit(127);
    }
    const int saved_errno = errno;
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        errno = saved_errno;
        return -1;
    }
    *read_fd = fds[0];
    return pid;
}

// Reads the dump to its end or to the deadline, handing it to the line logic until both facts
// are settled, and only draining it after that. Answers 1 when the deadline ended it.
int read_dump(int fd, system_state* state) {
    dump_sections sections = {0, 0};
    size_t kept = 0;  // the start of an unfinished piece, at the front of the buffer
    for (;;) {
        int at_end = 0;
        int timed_out = 0;
        ssize_t got = 0;
        if (deadline_passed) {
            at_end = timed_out = 1;  // decided from what came, as if the output ended there
        } else {
            got = read(fd, dump_buffer + kept, DUMP_BUFFER_SIZE - kept);
            if (got < 0 && errno == EINTR) continue;
            at_end = got <= 0;  // a read error ends the output like its end
        }
        const size_t avail = kept + static_cast<size_t>(got > 0 ? got : 0);
        const size_t used = scan_dump_chunk(&sections, state, dump_buffer, avail, at_end);
        kept = avail - used;
        if (kept > 0) memmove(dump_buffer, dump_buffer + used, kept);
        if (at_end) return timed_out;
    }
}

}  // namespace

void get_system_state(system_state* state) {
    reset_system_state(state);

    arm_deadline();
    int fd = -1;
    const pid_t pid = start_dump(&fd);
    if (pid < 0) {
        const int start_errno = errno;
        disarm_deadline();
        errno = start_errno;
        perror("Error running dumpsys window command");
        return;
    }
    // Read to the end even once both facts are known, so the child never blocks on a full pipe.
    int timed_out = read_dump(fd, state);
    close(fd);
    // The deadline also covers the wait: a command that closes its output but never exits is
    // ended like one that never stops printing.
    int killed = 0;
    for (;;) {
        if (timed_out && !killed) {
            kill(-pid, SIGKILL);  // the whole group: a background child may hold the pipe
            killed = 1;
        }
        if (waitpid(pid, nullptr, 0) >= 0 || errno != EINTR) break;
        if (deadline_passed) timed_out = 1;
    }
    disarm_deadline();
    if (timed_out) {
        fprintf(stderr,
                "Warning: dumpsys window timed out after %d s; stopped it and used what it had "
                "printed.\n",
                DUMP_DEADLINE_MS / 1000);
    }

    if (state->screen_state == -1) {
        static const char warning[] =
            "Warning: Screen state (mScreenOn/mAwake) not found. Assuming ON.\n";
        fwrite(warning, 1, sizeof warning - 1, stderr);
        state->screen_state = 1;
    }
}
