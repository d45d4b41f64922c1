// This boot, and when a launch happened in it: state from an earlier boot describes a kernel
// that is gone, so every state file names the boot it belongs to.
#ifndef TESSIVARCTL_BOOT_H
#define TESSIVARCTL_BOOT_H

#include <stddef.h>

#include <string_view>

constexpr size_t BOOT_ID_SIZE = 64;

// The kernel's boot_id (under the device root); 0 when it cannot be read.
int read_boot_id(char* out, size_t cap);

// When this process was launched: the start time the kernel keeps for it (ticks since boot,
// kept through exec, so a script that execs the program is dated by its own start), then the
// boot clock read at start-up, which orders two launches within one tick by arrival.
struct launch_stamp {
    unsigned long long start_ticks;
    unsigned long long clock_ns;
};
launch_stamp this_launch();

// "<boot_id> <ticks> <ns>", as kept in the stamp file.
int format_stamp(char* out, size_t cap, std::string_view boot, const launch_stamp& stamp);
// Reads a stamp file's text; 0 when it is malformed or of another boot (then it counts as
// absent).
int parse_stamp(std::string_view text, std::string_view boot, launch_stamp* stamp);
// current_profile's text: the profile in force on its first line, the launch that applied it on
// the second. Answers 1 with both when the launch belongs to boot `boot`; 0 otherwise (a file of
// another boot counts as absent).
int parse_profile_state(std::string_view text, std::string_view boot, std::string_view* profile,
                        launch_stamp* stamp);

// Whether `b` was launched after `a`.
int launched_after(const launch_stamp& b, const launch_stamp& a);

#endif
