#include <errno.h>
#include <fcntl.h>
#include <paths.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "config.h"
#include "pieces.h"
#include "window_state.h"

namespace {

// A dump runs to hundreds of KB; one static buffer (not heap, the probe runs on the one thread)
// takes it in a few large reads. One byte more, to end a piece with a NUL in place.
constexpr size_t DUMP_BUFFER_SIZE = 16384;
char dump_buffer[DUMP_BUFFER_SIZE + 1];

long long now_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
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
        execl(_PATH_BSHELL, "sh", "-c", "dumpsys window", static_cast<char*>(nullptr));
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

// Waits up to `timeout_ms` for input. 1 when there is some (or the end), 0 when the time ran out.
int wait_readable(int fd, long long timeout_ms) {
    pollfd ready = {fd, POLLIN, 0};
    for (;;) {
        const int n = poll(&ready, 1, static_cast<int>(timeout_ms < 0 ? 0 : timeout_ms));
        if (n >= 0) return n > 0;
        if (errno != EINTR) return 1;  // let the read report it
    }
}

// Reads the dump to its end or to the deadline, handing each piece to the line logic until both
// facts are settled, and only draining after that. Answers 1 when the deadline ended it.
int read_dump(int fd, system_state* state, long long deadline) {
    dump_sections sections = {0, 0};
    size_t start = 0;
    size_t end = 0;
    int at_end = 0;
    int timed_out = 0;
    for (;;) {
        while (state->screen_state == -1 || !state->focus_found) {
            const size_t n = next_piece_length(dump_buffer + start, end - start, at_end);
            if (n == 0) break;
            char* piece = dump_buffer + start;
            const char next = piece[n];
            piece[n] = '\0';
            scan_dump_line(&sections, state, piece);
            piece[n] = next;
            start += n;
        }
        if (at_end) return timed_out;
        if (state->screen_state != -1 && state->focus_found) {
            start = end = 0;  // settled: nothing later can change them
        } else if (start > 0) {
            memmove(dump_buffer, dump_buffer + start, end - start);
            end -= start;
            start = 0;
        }
        if (!wait_readable(fd, deadline - now_ms())) {
            at_end = timed_out = 1;
            continue;
        }
        const ssize_t got = read(fd, dump_buffer + end, DUMP_BUFFER_SIZE - end);
        if (got > 0)
            end += static_cast<size_t>(got);
        else if (got == 0 || errno != EINTR)
            at_end = 1;  // a read error ends the output like its end
    }
}

}  // namespace

void get_system_state(system_state* state) {
    reset_system_state(state);

    const long long deadline = now_ms() + DUMP_DEADLINE_MS;
    int fd = -1;
    const pid_t pid = start_dump(&fd);
    if (pid < 0) {
        perror("Error running dumpsys window command");
        return;
    }
    // Read to the end even once both facts are known, so the child never blocks on a full pipe.
    const int timed_out = read_dump(fd, state, deadline);
    if (timed_out) kill(-pid, SIGKILL);  // the whole group: a background child may hold the pipe
    close(fd);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
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
