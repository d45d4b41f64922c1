#include "boot.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "ctl_config.h"
#include "files.h"
#include "text_view.h"

int read_boot_id(char* out, size_t cap) {
    char path[PATH_SIZE];
    return device_path(path, sizeof path, "/proc/sys/kernel/random/boot_id") &&
           read_value(path, out, cap) && out[0] != '\0' && !strchr(out, ' ');
}

launch_stamp this_launch() {
    launch_stamp stamp = {0, 0};
    timespec now = {};
    clock_gettime(CLOCK_BOOTTIME, &now);
    stamp.clock_ns = static_cast<unsigned long long>(now.tv_sec) * 1000000000ULL +
                     static_cast<unsigned long long>(now.tv_nsec);
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
    const int n = snprintf(out, cap, "%.*s %llu %llu\n", static_cast<int>(boot.size()), boot.data(),
                           stamp.start_ticks, stamp.clock_ns);
    return n > 0 && static_cast<size_t>(n) < cap;
}

int parse_stamp(std::string_view text, std::string_view boot, launch_stamp* stamp) {
    if (boot.empty() || text.size() <= boot.size() || sub(text, 0, boot.size()) != boot ||
        text[boot.size()] != ' ')
        return 0;
    char numbers[64];
    const std::string_view rest = sub(text, boot.size() + 1);
    if (rest.size() >= sizeof numbers) return 0;
    memcpy(numbers, rest.data(), rest.size());
    numbers[rest.size()] = '\0';
    char* end = nullptr;
    stamp->start_ticks = strtoull(numbers, &end, 10);
    if (end == numbers || *end != ' ') return 0;
    char* start = end + 1;
    stamp->clock_ns = strtoull(start, &end, 10);
    return end != start && (*end == '\0' || *end == '\n');
}

int parse_profile_state(std::string_view text, std::string_view boot, std::string_view* profile,
                        launch_stamp* stamp) {
    const size_t nl = text.find('\n');
    if (nl == std::string_view::npos || !parse_stamp(sub(text, nl + 1), boot, stamp)) return 0;
    *profile = sub(text, 0, nl);
    return 1;
}

int launched_after(const launch_stamp& b, const launch_stamp& a) {
    if (b.start_ticks != a.start_ticks) return b.start_ticks > a.start_ticks;
    return b.clock_ns > a.clock_ns;
}
