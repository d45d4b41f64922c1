#include "self_bench.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>

#include "boot.h"
#include "ctl_config.h"
#include "files.h"
#include "game_in_front.h"
#include "knob_watch.h"
#include "session_recorder.h"
#include "text_view.h"
#include "thermal_source.h"

namespace {

double cpu_us() {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6 + usage.ru_utime.tv_usec +
           usage.ru_stime.tv_usec;
}

long long now_ms() {
    timespec now = {};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int said;
void count_line(const char*) {
    ++said;
}

// The supervisor's in-game checks of the launch in force: the game in front and whether each
// knob its preset set is still ours. Nothing is taken back on the bench's device, so this is
// the cost of every check of a quiet game.
int bench_in_game(int rounds) {
    static char text[512 * 1024];
    char path[PATH_SIZE];
    char boot[BOOT_ID_SIZE];
    struct stat info;
    profile_state state;
    module_path(path, sizeof path, "current_profile");
    const ssize_t n = stat(path, &info) == 0 && read_boot_id(boot, sizeof boot)
                          ? read_small_file(path, text, sizeof text)
                          : -1;
    if (n <= 0 ||
        !parse_profile_state(std::string_view(text, static_cast<size_t>(n)), boot, &state) ||
        state.profile != "performance") {
        fprintf(stderr, "bench in-game: no launch of performance in force\n");
        return 1;
    }
    knob_watch_reset();
    knob_watch_load(state.held, info);
    char other[128];
    const char* why = "";
    int knobs = 0;
    for (std::string_view rest = state.held; !rest.empty();) {
        const size_t nl = rest.find('\n');
        knobs += rest[0] == 'K';
        rest = nl == std::string_view::npos ? std::string_view() : sub(rest, nl + 1);
    }
    front_answer answer = game_in_front("com.bench.game", other, sizeof other, &why);
    const double start = cpu_us();
    for (int i = 0; i < rounds; ++i) {
        answer = game_in_front("com.bench.game", other, sizeof other, &why);
        knob_watch_check(now_ms(), count_line);
    }
    const double each = (cpu_us() - start) / rounds;
    printf(
        "one in-game check (game in front and %d knob(s) still ours): %.1f us CPU each (mean "
        "of %d, %s, %d line(s) said)\n",
        knobs, each, rounds,
        answer == FRONT_SAME      ? "the game in front"
        : answer == FRONT_UNKNOWN ? why
                                  : "another game in front",
        said);
    return 0;
}

}  // namespace

int run_self_bench(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[0], "ingame") == 0)
        return bench_in_game(atoi(argv[1]) > 0 ? atoi(argv[1]) : 1);
    if (argc != 2 || (strcmp(argv[0], "thermal") != 0 && strcmp(argv[0], "sample") != 0)) {
        fprintf(stderr, "usage: tessivarctl bench thermal|sample|ingame N\n");
        return 2;
    }
    const int rounds = atoi(argv[1]) > 0 ? atoi(argv[1]) : 1;
    const int thermal = strcmp(argv[0], "thermal") == 0;
    // The dump of the thermal service is asked at most every 30 s: past the first check, a
    // check is sysfs alone.
    thermal_source* source = thermal_begin(now_ms());
    int cooling = 0;
    thermal_check(source, now_ms(), &cooling);
    if (!thermal) session_begin("com.bench.game", "sustained", now_ms());
    const double start = cpu_us();
    for (int i = 0; i < rounds; ++i) {
        if (thermal) {
            thermal_check(source, now_ms(), &cooling);
        } else {
            session_sample(now_ms() + i * 5000, 1, 0);
        }
    }
    const double each = (cpu_us() - start) / rounds;
    if (!thermal) session_end(now_ms());
    printf("%s: %.1f us CPU each (mean of %d, %s)\n",
           thermal ? "one thermal check" : "one session sample", each, rounds,
           thermal ? thermal_source_name(source) : "3 clusters, battery, GPU");
    return 0;
}
