// Tessivar: runs the performance profile while a listed game is in front with the screen on,
// and the balanced profile otherwise.
#include <stdio.h>
#include <unistd.h>

#include "config.h"
#include "monitor.h"

int main(int, char**) {
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
