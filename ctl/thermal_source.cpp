#include "thermal_source.h"

#include <dirent.h>
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>

#include "ctl_config.h"
#include "files.h"
#include "processes.h"
#include "thermal.h"

namespace {

constexpr int MAX_COOLING = 16;
constexpr long long DUMP_EVERY_MS = 30 * 1000;
constexpr char THERMAL_CLASS[] = "/sys/class/thermal";
constexpr char BATTERY_TEMP[] = "/sys/class/power_supply/battery/temp";

using acquire_fn = void* (*)();
using status_fn = int (*)(void*);

}  // namespace

struct thermal_source {
    void* manager;  // AThermalManager*, when the platform has the API
    status_fn get_status;
    int dump_works;  // -1 not tried, 0 no, 1 yes
    long long next_dump_ms;
    int dump_level;
    const char* name;
    char cooling[MAX_COOLING][PATH_SIZE];
    int cooling_count;
};

namespace {

thermal_source source;
char dump_text[64 * 1024];

void open_thermal_api() {
    static int tried = 0;
    if (tried) return;
    tried = 1;
    // libandroid's thermal API came with API 30; on older systems the symbols are missing.
    void* library = dlopen("libandroid.so", RTLD_NOW | RTLD_LOCAL);
    if (!library) return;
    const auto acquire = reinterpret_cast<acquire_fn>(dlsym(library, "AThermal_acquireManager"));
    const auto status =
        reinterpret_cast<status_fn>(dlsym(library, "AThermal_getCurrentThermalStatus"));
    if (!acquire || !status) return;
    source.manager = acquire();
    source.get_status = source.manager ? status : nullptr;
}

// The CPU cooling devices: a cur_state above 0 means the vendor already throttles the CPU.
void list_cooling_devices() {
    source.cooling_count = 0;
    char dir[PATH_SIZE];
    if (!device_path(dir, sizeof dir, THERMAL_CLASS)) return;
    DIR* d = opendir(dir);
    if (!d) return;
    while (dirent* entry = readdir(d)) {
        if (strncmp(entry->d_name, "cooling_device", 14) != 0 ||
            source.cooling_count == MAX_COOLING)
            continue;
        char path[PATH_SIZE];
        char type[128];
        if (snprintf(path, sizeof path, "%s/%s/type", dir, entry->d_name) >=
                static_cast<int>(sizeof path) ||
            !read_value(path, type, sizeof type))
            continue;
        if (!strstr(type, "cpufreq") && strncmp(type, "cpu", 3) != 0) continue;
        const int n = snprintf(source.cooling[source.cooling_count], PATH_SIZE, "%s/%s/cur_state",
                               dir, entry->d_name);
        if (n > 0 && n < static_cast<int>(PATH_SIZE)) ++source.cooling_count;
    }
    closedir(d);
}

int level_from_dump() {
    const char* argv[] = {"dumpsys", "thermalservice", nullptr};
    const int status = run_capture(argv, dump_text, sizeof dump_text);
    if (status < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return THERMAL_UNKNOWN;
    return parse_thermal_dump(dump_text);
}

}  // namespace

thermal_source* thermal_begin(long long now_ms) {
    open_thermal_api();
    source.next_dump_ms = now_ms;
    source.dump_works = -1;  // asked again each session: the service may have come up since
    list_cooling_devices();
    return &source;
}

namespace {

int cooling_active(const thermal_source* s) {
    for (int i = 0; i < s->cooling_count; ++i) {
        char state[32];
        if (read_value(s->cooling[i], state, sizeof state) && atoi(state) > 0) return 1;
    }
    return 0;
}

int level_from_api(thermal_source* s) {
    const int level = s->get_status ? s->get_status(s->manager) : THERMAL_UNKNOWN;
    if (level >= THERMAL_NONE) s->name = "thermal API";
    return level >= THERMAL_NONE ? level : THERMAL_UNKNOWN;
}

int level_from_battery_file(thermal_source* s) {
    char path[PATH_SIZE];
    char tenths[32];
    if (device_path(path, sizeof path, BATTERY_TEMP) && read_value(path, tenths, sizeof tenths)) {
        s->name = "battery temperature";
        return level_from_battery(atol(tenths));
    }
    s->name = "none";
    return THERMAL_UNKNOWN;
}

}  // namespace

int thermal_check(thermal_source* s, long long now_ms, int* cooling) {
    *cooling = cooling_active(s);
    const int api = level_from_api(s);
    if (api != THERMAL_UNKNOWN) return api;
    if (s->dump_works != 0 && now_ms >= s->next_dump_ms) {
        s->dump_level = level_from_dump();
        s->next_dump_ms = now_ms + DUMP_EVERY_MS * second_ms() / 1000;
        // A phone without the service (Android 5-9) is not asked again this session.
        if (s->dump_works < 0) s->dump_works = s->dump_level != THERMAL_UNKNOWN;
    }
    if (s->dump_works == 1) {
        s->name = "thermalservice";
        return s->dump_level;
    }
    return level_from_battery_file(s);
}

int thermal_check_cheap(thermal_source* s, int* cooling) {
    *cooling = cooling_active(s);
    const int api = level_from_api(s);
    return api != THERMAL_UNKNOWN ? api : level_from_battery_file(s);
}

const char* thermal_source_name(const thermal_source* s) {
    return s->name ? s->name : "none";
}
