// Tessivar: runs the performance profile while a listed game is in front with the screen on,
// and the balanced profile otherwise.
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include "config.h"
#include "monitor.h"

namespace {

void on_broken_pipe(int) {}

}  // namespace

int main(int, char**) {
    // A reader of stdout that goes away must not kill the daemon: the write fails, and the
    // daemon goes on. A handler rather than SIG_IGN, since a handler is reset at exec and so
    // the scripts and dumpsys still start with SIGPIPE at its default.
    struct sigaction broken_pipe = {};
    broken_pipe.sa_handler = on_broken_pipe;
    sigaction(SIGPIPE, &broken_pipe, nullptr);
    // Inherited as ignored, SIGCHLD would let children be reaped behind system's back, which
    // then reports every launch as failed.
    struct sigaction child = {};
    child.sa_handler = SIG_DFL;
    sigaction(SIGCHLD, &child, nullptr);

    // Line-buffered, so every line is in the log the moment it is printed: the daemon only
    // ever stops by being killed, which would lose a block buffer's contents.
    static char stdout_buffer[LINE_SIZE];
    setvbuf(stdout, stdout_buffer, _IOLBF, sizeof stdout_buffer);

    print_startup();
    system_state state;
    int previous_mode = MODE_NONE;
    for (;;)
        sleep(static_cast<unsigned>(run_cycle(&state, &previous_mode)));
}
