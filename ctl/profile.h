// The two profiles. performance: record the device's own governors and their tunables (once,
// while none is held), then set every node that offers it to "performance". balanced: write
// back exactly what was recorded and drop the record once all of it took. One at a time, and
// the one launched last is the one in force.
#ifndef TESSIVARCTL_PROFILE_H
#define TESSIVARCTL_PROFILE_H

// "performance" or "balanced"; answers the exit status (0, or 1 when nothing could be done).
int run_profile(const char* which);

#endif
