// The profiles. performance: record the device's own governors and their tunables (kept while
// any of them is still to be put back), then set every node that offers it to "performance".
// balanced: write back exactly what was recorded, keeping what was refused for a retry. One at
// a time, and the one launched last is the one in force.
#ifndef TESSIVARCTL_PROFILE_H
#define TESSIVARCTL_PROFILE_H

// `which`: "performance", "balanced" or "retry" (finish the restore of the balanced in force;
// never a launch of its own). `option` (balanced only): "--stop" applies balanced whatever came
// before and lets nothing boost until "--start", the supervisor's own start. The supervisor's
// thermal back-off: "backoff TICKS LEVEL" takes the boost of the launch at TICKS back (and only
// while that launch is in force), "rearm TICKS" applies its preset again. The supervisor's
// game in front: "switch TICKS PACKAGE" puts back what the launch at TICKS set and applies the
// preset of PACKAGE in the same launch (only while it is in force). Answers the exit
// status (0; 1 when nothing could be done; 2 for a usage error).
int run_profile(const char* which, const char* option = nullptr, const char* extra = nullptr);

#endif
