// Putting back what the state holds: governors with their tunables, and knobs a preset set,
// each only while it still holds what was written (someone else's value is left alone).
#ifndef TESSIVARCTL_RESTORE_H
#define TESSIVARCTL_RESTORE_H

#include "fixed_text.h"

struct restore_counts {
    int restored = 0;
    int refused = 0;
    int ignored = 0;
    int left = 0;    // changed by the system since: left as it is
    int passed = 0;  // a tunable the kernel does not take back, its governor back: its own
    fixed_text<1024> refused_names;
    fixed_text<512> pending_nodes;
    fixed_text<1024> left_names;
    fixed_text<1024> passed_names;
};

// Writes back every group the state holds; the groups with a refusal are appended to the next
// state, to be tried again.
void restore_held(restore_counts* counts);

#endif
