// The monitor loop, cut into pieces that can be driven one cycle at a time.
#ifndef TESSIVAR_MONITOR_H
#define TESSIVAR_MONITOR_H

#include "window_state.h"

// The five lines that announce the fixed configuration.
void print_startup();

// One cycle: probe, classify, report and apply a changed mode. Answers the seconds to sleep
// before the next cycle.
int run_cycle(system_state* state, int* previous_mode);

#endif
