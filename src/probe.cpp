#include <stdio.h>

#include "window_state.h"

void get_system_state(system_state* state) {
    reset_system_state(state);

    FILE* dump = popen("dumpsys window", "r");
    if (!dump) {
        perror("Error running dumpsys window command");
        return;
    }
    // A dump runs to hundreds of KB; bionic's default stream buffer of 1 KiB would take ~300
    // reads a cycle. Static, not heap; the probe runs on the one thread.
    static char pipe_buffer[16384];
    setvbuf(dump, pipe_buffer, _IOFBF, sizeof pipe_buffer);

    // Read to the end even once both facts are known, so the child never blocks on a full pipe.
    dump_sections sections = {0, 0};
    char line[LINE_SIZE];
    while (fgets(line, sizeof line, dump))
        scan_dump_line(&sections, state, line);
    pclose(dump);

    if (state->screen_state == -1) {
        static const char warning[] =
            "Warning: Screen state (mScreenOn/mAwake) not found. Assuming ON.\n";
        fwrite(warning, 1, sizeof warning - 1, stderr);
        state->screen_state = 1;
    }
}
