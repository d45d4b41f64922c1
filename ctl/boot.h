// This boot, when a launch happened in it, and the profile state file that names both: state
// from an earlier boot describes a kernel that is gone, so every state file names its boot.
#ifndef TESSIVARCTL_BOOT_H
#define TESSIVARCTL_BOOT_H

#include <stddef.h>

#include <string_view>

constexpr size_t BOOT_ID_SIZE = 64;

// The kernel's boot_id (under the device root); 0 when it cannot be read.
int read_boot_id(char* out, size_t cap);

// When this process was launched: the start time the kernel keeps for it, in clock ticks since
// boot, kept through exec, so a script that execs the program is dated by its own start.
struct launch_stamp {
    unsigned long long start_ticks;
};
launch_stamp this_launch();

// "<boot_id> <ticks>\n", as kept on the state file's second line.
int format_stamp(char* out, size_t cap, std::string_view boot, const launch_stamp& stamp);
// Reads a stamp line; 0 when it is malformed or of another boot (then it counts as absent).
int parse_stamp(std::string_view text, std::string_view boot, launch_stamp* stamp);

// current_profile, the one state file of the profiles:
//   line 1  the profile in force: performance, balanced, or stopped (balanced, and no boost
//           until a supervisor starts again in this boot)
//   line 2  the launch that applied it, with its boot
//   rest    the device's own settings held for restore (see snapshot.h): all of them while
//           performance is in force, the ones still to put back otherwise
// Answers 1 with the parts when the state belongs to boot `boot`; 0 otherwise (a file of
// another boot counts as absent).
struct profile_state {
    std::string_view profile;
    launch_stamp stamp;
    std::string_view held;
};
int parse_profile_state(std::string_view text, std::string_view boot, profile_state* state);

// Whether a launch of `next` (balanced or not) is to be applied over `last`, applied as
// `last_profile`. Launches are ordered by their start tick. Within one tick the kernel's clock
// cannot tell which came first, so the outcome must not depend on which process ran first:
// balanced wins, the side that leaves the phone as its own.
int launch_supersedes(const launch_stamp& next, int next_balanced, const launch_stamp& last,
                      std::string_view last_profile);

#endif
