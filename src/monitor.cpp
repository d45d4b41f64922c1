#include "monitor.h"

#include <stdio.h>

#include "config.h"
#include "game_list.h"
#include "script_runner.h"

void print_startup() {
    puts("Tessivar Next Gen Monitor Started (Combined Dumpsys).");
    printf("Monitoring game list: %s\n", GAME_LIST_PATH);
    printf("Using script directory: %s\n", SCRIPT_DIR);
    printf("Performance script: %s, Balanced script: %s\n", PERFORMANCE_SCRIPT, BALANCED_SCRIPT);
    printf("Delays: Screen ON=%ds, Screen OFF=%ds\n", SCREEN_ON_DELAY, SCREEN_OFF_DELAY);
}

namespace {

// The mode a snapshot calls for; empties the package when the screen is off.
int classify(system_state* state) {
    // -1 (the dump could not be run) counts as on, like 1.
    if (state->screen_state == 0) {
        state->focused_package[0] = '\0';
        return MODE_BALANCED;
    }
    return is_game_package(state->focused_package) ? MODE_PERFORMANCE : MODE_BALANCED;
}

}  // namespace

int run_cycle(system_state* state, int* previous_mode) {
    get_system_state(state);
    const int mode = classify(state);
    const int delay = state->screen_state == 0 ? SCREEN_OFF_DELAY : SCREEN_ON_DELAY;

    if (mode != *previous_mode) {
        const char* focus = state->focused_package[0] ? state->focused_package : "<none>";
        printf("State change detected: %d -> %d. Screen: %d, Focus: '%s'\n", *previous_mode, mode,
               state->screen_state, focus);
        execute_script(mode == MODE_PERFORMANCE ? PERFORMANCE_SCRIPT : BALANCED_SCRIPT);
        // Applied whatever the script runner met with: a missing script is not retried.
        *previous_mode = mode;
    }
    return delay;
}
