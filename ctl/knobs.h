// The presets as data: a table of knobs, each naming where its file is found on each kernel and
// the rule for the value a preset gives it. One generic writer (the profile) walks the table,
// records what it changes and puts it back; adding a knob or a kernel is a row here.
#ifndef TESSIVARCTL_KNOBS_H
#define TESSIVARCTL_KNOBS_H

#include <stddef.h>

#include <string_view>

enum preset : unsigned {
    PRESET_SUSTAINED = 1u,  // headroom without pinning, no governor changed (the default)
    PRESET_MAX = 2u,        // the performance governor everywhere: hot, for short sessions
    PRESET_BATTERY = 4u,    // no floors; frequencies come down sooner
};
// "sustained", "max", "battery"; 0 for anything else.
unsigned preset_from_name(std::string_view name);
const char* preset_name(unsigned preset);

enum knob_place {
    PLACE_FIXED,         // one path on every kernel that has it
    PLACE_CPU_NODE,      // <cpu policy dir>/<leaf>, for the big clusters only
    PLACE_CPU_GOVERNOR,  // <cpu policy dir>/<governor>/<leaf>, or the system-wide governor dir
    PLACE_GPU,           // <gpu devfreq dir>/<leaf>
};

enum knob_rule {
    RULE_AT_LEAST,       // a number raised to `amount` when lower
    RULE_AT_MOST,        // a number lowered to `amount` when higher
    RULE_CLUSTER_FLOOR,  // the lowest frequency step at or above a third of the cluster's max
    RULE_GPU_FLOOR,      // the middle step of the GPU's available frequencies
};

// How the kernel shows a value written to the knob's file: what a read-back may differ by
// while the request is still the one written.
enum knob_shows {
    SHOWS_NUMBER,       // the number written ("15" may read "15.00", as uclamp prints it)
    SHOWS_JIFFIES,      // interactive's timer_rate: kept in whole jiffies, rounded up
    SHOWS_CPUFREQ_MIN,  // scaling_min_freq: the request, cut down to the maximum in force
    SHOWS_DEVFREQ_MIN,  // devfreq min_freq: the request in whole kHz (rounded down), cut down
                        // to the maximum in force
};

struct knob {
    const char* name;  // as status and the page show it
    knob_place place;
    const char* path;  // PLACE_FIXED: the path; otherwise the file's leaf name
    knob_rule rule;
    long amount;
    unsigned presets;  // which presets set it
    int headroom;      // one of a group of which only the first found is set
    knob_shows shows;
};

extern const knob KNOBS[];
extern const int KNOB_COUNT;

// The value `rule` gives a knob that holds `current`, written into `out`; 0 when it needs no
// change (already there, or a value that is no number). For the floors: `steps` is the list of
// available frequencies (any order), `max` the cluster's or GPU's own maximum, `ceiling` the
// highest value allowed now (scaling_max_freq, so that min never passes max).
struct rule_input {
    std::string_view current;
    std::string_view steps;
    long long max;
    long long ceiling;
};
int knob_value(const knob& k, const rule_input& in, char* out, size_t cap);

// Whether two values a node shows are the same: byte for byte, or the same number ("15" and
// "15.00", as uclamp reads back what was written).
int same_value(std::string_view a, std::string_view b);

// Whether `path` is a file some knob may write (so that a state line naming anything else is
// never written back).
int knob_path_allowed(std::string_view path);
// The knob whose file `path` is, or nullptr.
const knob* knob_of_path(std::string_view path);

// What a knob's file shows, set against a value we asked for (the one written, or recorded as
// ours), by the kernel's own rules. `max_in_force` is the maximum the node shows now beside a
// floor (scaling_max_freq, devfreq max_freq), -1 when unknown or for any other knob.
enum knob_reading {
    READ_SAME,       // what we asked for
    READ_ROUNDED,    // the kernel's own rounding of it: the request stands
    READ_CLAMPED,    // a floor cut down to the maximum in force: the request stands, and is in
                     // force again when the cap lifts
    READ_FELL_BACK,  // moved against the knob: lower for a floor or boost, higher for a limit
    READ_FURTHER,    // moved the knob's own way (a higher floor, a shorter limit): the system's
    READ_OTHER,      // no number, and not the bytes we asked for
};
knob_reading read_knob(const knob& k, std::string_view asked, std::string_view shown,
                       long long max_in_force);
// Whether a reading means the file still holds our request.
inline int still_ours(knob_reading r) {
    return r == READ_SAME || r == READ_ROUNDED || r == READ_CLAMPED;
}
// The file beside the knob's that shows the maximum in force (for read_knob), or nullptr.
const char* knob_limit_leaf(const knob& k);

#endif
