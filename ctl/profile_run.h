// One profile run's state, shared by the parts of the profile: the state file as read, the one
// being written, and the device's nodes.
#ifndef TESSIVARCTL_PROFILE_RUN_H
#define TESSIVARCTL_PROFILE_RUN_H

#include <stddef.h>

#include <string_view>

#include "boot.h"
#include "ctl_config.h"
#include "fixed_text.h"
#include "nodes.h"

// A page per value at most, for every tunable of every node: far more than any phone has.
constexpr size_t STATE_SIZE = 512 * 1024;
using state_text = fixed_text<STATE_SIZE>;

struct profile_run {
    char boot[BOOT_ID_SIZE];
    char state_path[PATH_SIZE];
    launch_stamp stamp;
    int has_state;  // a state of this boot was read
    profile_state state;
    node_list nodes;
};
extern profile_run run;
extern state_text next_state;  // the state file this run writes

// Starts the next state with its first two lines.
int begin_state(const char* profile, const launch_stamp& stamp);
// Replaces the state file with the next state (no fsync: a new boot voids it anyway).
int write_state();
// The held group that starts with a line naming `path` (a G line's governor file, a K line's
// file), or empty.
std::string_view held_group(std::string_view path);

#endif
