#include "self_bench.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>

#include "session_recorder.h"
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

}  // namespace

int run_self_bench(int argc, char** argv) {
    if (argc != 2 || (strcmp(argv[0], "thermal") != 0 && strcmp(argv[0], "sample") != 0)) {
        fprintf(stderr, "usage: tessivarctl bench thermal|sample N\n");
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
