#include "boot.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ctl_config.h"
#include "files.h"
#include "text_view.h"

int read_boot_id(char* out, size_t cap) {
    char path[PATH_SIZE];
    return device_path(path, sizeof path, "/proc/sys/kernel/random/boot_id") &&
           read_value(path, out, cap) && out[0] != '\0' && !strchr(out, ' ');
}

launch_stamp this_launch() {
    launch_stamp stamp = {0};
    char stat[1024];
    if (read_value("/proc/self/stat", stat, sizeof stat)) {
        // The command name may hold spaces and parentheses: count fields after the last ')'.
        const char* at = strrchr(stat, ')');
        for (int field = 2; at && field < 22; ++field)
            at = strchr(at + 1, ' ');
        if (at) stamp.start_ticks = strtoull(at + 1, nullptr, 10);
    }
    return stamp;
}

int format_stamp(char* out, size_t cap, std::string_view boot, const launch_stamp& stamp) {
    const int n = snprintf(out, cap, "%.*s %llu\n", static_cast<int>(boot.size()), boot.data(),
                           stamp.start_ticks);
    return n > 0 && static_cast<size_t>(n) < cap;
}

int parse_stamp(std::string_view text, std::string_view boot, launch_stamp* stamp) {
    const size_t nl = text.find('\n');
    if (nl != std::string_view::npos) text = sub(text, 0, nl);
    if (boot.empty() || text.size() <= boot.size() || sub(text, 0, boot.size()) != boot ||
        text[boot.size()] != ' ')
        return 0;
    const std::string_view digits = sub(text, boot.size() + 1);
    if (digits.empty() || digits.size() > 20) return 0;
    unsigned long long ticks = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return 0;
        ticks = ticks * 10 + static_cast<unsigned>(c - '0');
    }
    stamp->start_ticks = ticks;
    return 1;
}

int parse_profile_state(std::string_view text, std::string_view boot, profile_state* state) {
    const size_t first = text.find('\n');
    if (first == std::string_view::npos) return 0;
    const std::string_view rest = sub(text, first + 1);
    const size_t second = rest.find('\n');
    if (second == std::string_view::npos || !parse_stamp(sub(rest, 0, second), boot, &state->stamp))
        return 0;
    state->profile = sub(text, 0, first);
    state->held = sub(rest, second + 1);
    return 1;
}

int launch_supersedes(const launch_stamp& next, int next_balanced, const launch_stamp& last,
                      std::string_view last_profile) {
    if (next.start_ticks != last.start_ticks) return next.start_ticks > last.start_ticks;
    return next_balanced || last_profile == "performance";
}
