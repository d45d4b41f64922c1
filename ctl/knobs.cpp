#include "knobs.h"

#include <stdio.h>
#include <string.h>

#include "nodes.h"
#include "snapshot.h"
#include "text_view.h"

// Values start from the platform's own game tuning (the reference Power HAL): headroom, not
// pinned frequencies. Within a headroom group, the first knob the kernel has is the one set:
// uclamp (5.4+ with Android's cpuctl groups), else schedtune (4.9/4.14-era), else a floor.
const knob KNOBS[] = {
    {"top-app uclamp.min", PLACE_FIXED, "/dev/cpuctl/top-app/cpu.uclamp.min", RULE_AT_LEAST, 15,
     PRESET_SUSTAINED, 1, SHOWS_NUMBER},
    {"top-app schedtune.boost", PLACE_FIXED, "/dev/stune/top-app/schedtune.boost", RULE_AT_LEAST,
     20, PRESET_SUSTAINED, 1, SHOWS_NUMBER},
    {"big-cluster floor", PLACE_CPU_NODE, "scaling_min_freq", RULE_CLUSTER_FLOOR, 0,
     PRESET_SUSTAINED, 1, SHOWS_CPUFREQ_MIN},
    // Up-rate limits: how soon the governor may raise the frequency.
    {"up_rate_limit_us", PLACE_CPU_GOVERNOR, "up_rate_limit_us", RULE_AT_MOST, 500,
     PRESET_SUSTAINED, 0, SHOWS_NUMBER},
    {"rate_limit_us", PLACE_CPU_GOVERNOR, "rate_limit_us", RULE_AT_MOST, 500, PRESET_SUSTAINED, 0,
     SHOWS_NUMBER},
    {"interactive timer_rate", PLACE_CPU_GOVERNOR, "timer_rate", RULE_AT_MOST, 10000,
     PRESET_SUSTAINED, 0, SHOWS_JIFFIES},
    {"GPU floor", PLACE_GPU, "min_freq", RULE_GPU_FLOOR, 0, PRESET_SUSTAINED, 0, SHOWS_DEVFREQ_MIN},
    // Down-rate limits: how soon it may lower it again, shortened as the platform's GAME mode
    // does, so that power falls with the load.
    {"down_rate_limit_us", PLACE_CPU_GOVERNOR, "down_rate_limit_us", RULE_AT_MOST, 3000,
     PRESET_BATTERY, 0, SHOWS_NUMBER},
    {"interactive min_sample_time", PLACE_CPU_GOVERNOR, "min_sample_time", RULE_AT_MOST, 20000,
     PRESET_BATTERY, 0, SHOWS_NUMBER},
};
const int KNOB_COUNT = sizeof KNOBS / sizeof KNOBS[0];

unsigned preset_from_name(std::string_view name) {
    if (name == "sustained") return PRESET_SUSTAINED;
    if (name == "max") return PRESET_MAX;
    if (name == "battery") return PRESET_BATTERY;
    return 0;
}

const char* preset_name(unsigned preset) {
    return preset == PRESET_MAX ? "max" : preset == PRESET_BATTERY ? "battery" : "sustained";
}

namespace {

// A decimal number with at most two decimals, in hundredths ("15.00" -> 1500); 0 when the text
// is no such number.
int hundredths(std::string_view text, long long* out) {
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    if (text.empty() || text.size() > 15) return 0;  // in hundredths, never past a long long
    long long whole = 0;
    long long fraction = 0;
    int decimals = -1;
    for (char c : text) {
        if (c == '.' && decimals < 0) {
            decimals = 0;
        } else if (c >= '0' && c <= '9' && decimals < 2) {
            if (decimals < 0) {
                whole = whole * 10 + (c - '0');
            } else {
                fraction = fraction * 10 + (c - '0');
                ++decimals;
            }
        } else {
            return 0;
        }
    }
    if (decimals == 0) return 0;  // "15." is no number the kernel prints
    if (decimals == 1) fraction *= 10;
    *out = whole * 100 + fraction;
    return 1;
}

int whole_number(std::string_view text, long long* out) {
    long long h = 0;
    if (!hundredths(text, &h) || h % 100 != 0) return 0;
    *out = h / 100;
    return 1;
}

int print_number(long long value, char* out, size_t cap) {
    const int n = snprintf(out, cap, "%lld", value);
    return n > 0 && static_cast<size_t>(n) < cap;
}

// The smallest step >= `at_least` (or the middle step when `middle`), from a list of numbers
// separated by spaces; -1 when there is none.
long long pick_step(std::string_view steps, long long at_least, int middle) {
    long long values[64];
    int count = 0;
    size_t at = 0;
    while (at < steps.size() && count < 64) {
        while (at < steps.size() && steps[at] == ' ')
            ++at;
        size_t end = at;
        while (end < steps.size() && steps[end] != ' ')
            ++end;
        long long v = 0;
        if (end > at && whole_number(sub(steps, at, end - at), &v)) values[count++] = v;
        at = end;
    }
    for (int i = 1; i < count; ++i)
        for (int j = i; j > 0 && values[j - 1] > values[j]; --j) {
            const long long t = values[j];
            values[j] = values[j - 1];
            values[j - 1] = t;
        }
    if (count == 0) return -1;
    if (middle) return values[(count - 1) / 2];
    for (int i = 0; i < count; ++i)
        if (values[i] >= at_least) return values[i];
    return -1;
}

}  // namespace

int knob_value(const knob& k, const rule_input& in, char* out, size_t cap) {
    long long current = 0;
    switch (k.rule) {
        case RULE_AT_LEAST:
        case RULE_AT_MOST: {
            long long h = 0;
            if (!hundredths(in.current, &h)) return 0;
            const long long want = k.amount * 100;
            if (k.rule == RULE_AT_LEAST ? h >= want : h <= want) return 0;
            return print_number(k.amount, out, cap);
        }
        case RULE_CLUSTER_FLOOR:
        case RULE_GPU_FLOOR: {
            if (!whole_number(in.current, &current)) return 0;
            const long long step = k.rule == RULE_GPU_FLOOR
                                       ? pick_step(in.steps, 0, 1)
                                       : pick_step(in.steps, (in.max + 2) / 3, 0);
            // Only ever raised, and never past the maximum allowed now.
            if (step <= current || (in.ceiling > 0 && step > in.ceiling)) return 0;
            return print_number(step, out, cap);
        }
    }
    return 0;
}

int same_value(std::string_view a, std::string_view b) {
    if (a == b) return 1;
    long long x = 0;
    long long y = 0;
    return hundredths(a, &x) && hundredths(b, &y) && x == y;
}

namespace {

// The kernel's HZ is not readable from sysfs; these are the ticks Android kernels are built with.
constexpr long long TICK_RATES[] = {100, 250, 300, 1000};

// interactive's timer_rate: usecs_to_jiffies() rounds up, jiffies_to_usecs() shows it back.
int jiffies_rounding(long long asked, long long shown) {
    if (asked <= 0) return 0;
    for (long long hz : TICK_RATES) {
        const long long jiffies = (asked * hz + 999999) / 1000000;
        if (jiffies * 1000000 / hz == shown) return 1;
    }
    return 0;
}

}  // namespace

knob_reading read_knob(const knob& k, std::string_view asked, std::string_view shown,
                       long long max_in_force) {
    if (asked == shown) return READ_SAME;
    long long a = 0;
    long long s = 0;
    if (!hundredths(asked, &a) || !hundredths(shown, &s)) return READ_OTHER;
    if (a == s) return READ_SAME;
    switch (k.shows) {
        case SHOWS_NUMBER:
            break;
        case SHOWS_JIFFIES:
            if (a % 100 == 0 && s % 100 == 0 && jiffies_rounding(a / 100, s / 100))
                return READ_ROUNDED;
            break;
        case SHOWS_DEVFREQ_MIN:
            // The request is kept in kHz, rounded down.
            if (a % 100 == 0 && s < a && s == a / 100000 * 100000) return READ_ROUNDED;
            [[fallthrough]];
        case SHOWS_CPUFREQ_MIN:
            // A floor above the maximum in force is shown as that maximum; the request stays.
            if (max_in_force >= 0 && s < a && max_in_force * 100 <= s) return READ_CLAMPED;
            break;
    }
    const int raises = k.rule != RULE_AT_MOST;
    return (s < a) == raises ? READ_FELL_BACK : READ_FURTHER;
}

const char* knob_limit_leaf(const knob& k) {
    return k.shows == SHOWS_CPUFREQ_MIN   ? "scaling_max_freq"
           : k.shows == SHOWS_DEVFREQ_MIN ? "max_freq"
                                          : nullptr;
}

int knob_path_allowed(std::string_view path) {
    return knob_of_path(path) != nullptr;
}

const knob* knob_of_path(std::string_view path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return nullptr;
    const std::string_view leaf = sub(path, slash + 1);
    const std::string_view dir = sub(path, 0, slash);
    node_ref node;
    for (int i = 0; i < KNOB_COUNT; ++i) {
        const knob& k = KNOBS[i];
        switch (k.place) {
            case PLACE_FIXED:
                if (path == k.path) return &k;
                break;
            case PLACE_CPU_NODE:
                if (leaf == k.path && node_of_dir(dir, &node) && node.cpu_policy) return &k;
                break;
            case PLACE_GPU:
                if (leaf == k.path && node_of_dir(dir, &node) && !node.cpu_policy) return &k;
                break;
            case PLACE_CPU_GOVERNOR: {
                if (leaf != k.path) break;
                const size_t up = dir.rfind('/');
                if (up == std::string_view::npos) break;
                const std::string_view governor = sub(dir, up + 1);
                const std::string_view owner = sub(dir, 0, up);
                // A governor's directory, not a policy's own (policyN/rate_limit_us is no tunable).
                if (plain_governor_name(governor) && !node_of_dir(dir, &node) &&
                    (owner == CPUFREQ_DIR || (node_of_dir(owner, &node) && node.cpu_policy)))
                    return &k;
                break;
            }
        }
    }
    return nullptr;
}
