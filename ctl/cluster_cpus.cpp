#include "cluster_cpus.h"

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files.h"

namespace {

constexpr int MAX_CPUS = 64;

}  // namespace

int format_cpu_ranges(const int* cpus, int count, char* out, size_t cap) {
    if (cap < 2) return 0;
    if (count == 0) return snprintf(out, cap, "?") == 1;
    size_t n = 0;
    for (int i = 0; i < count;) {
        int j = i;
        while (j + 1 < count && cpus[j + 1] == cpus[j] + 1)
            ++j;
        const int w = j > i ? snprintf(out + n, cap - n, "%s%d-%d", i ? "," : "", cpus[i], cpus[j])
                            : snprintf(out + n, cap - n, "%s%d", i ? "," : "", cpus[i]);
        if (w < 0 || static_cast<size_t>(w) >= cap - n) return 0;
        n += static_cast<size_t>(w);
        i = j + 1;
    }
    return 1;
}

void cpufreq_owner(const char* link_target, const char* self, char* out, size_t cap) {
    if (!link_target) {
        snprintf(out, cap, "%s", self);
        return;
    }
    // The last component, or the one before a final "cpufreq".
    const char* end = link_target + strlen(link_target);
    while (end > link_target && end[-1] == '/')
        --end;
    const char* start = end;
    while (start > link_target && start[-1] != '/')
        --start;
    if (static_cast<size_t>(end - start) == 7 && strncmp(start, "cpufreq", 7) == 0 &&
        start > link_target) {
        end = start - 1;
        start = end;
        while (start > link_target && start[-1] != '/')
            --start;
    }
    snprintf(out, cap, "%.*s", static_cast<int>(end - start), start);
}

int cluster_cpus_line(const governor_node* const* clusters, int count, char* out, size_t cap) {
    // Each CPU's owner, from the cpuN entries of the CPU directory (one readlink each).
    static char owner[MAX_CPUS][64];
    int present[MAX_CPUS] = {};
    char path[PATH_SIZE];
    if (device_path(path, sizeof path, CPU_DIR)) {
        if (DIR* d = opendir(path)) {
            while (dirent* e = readdir(d)) {
                const char* digits = e->d_name + 3;
                if (strncmp(e->d_name, "cpu", 3) != 0 || !*digits || strlen(digits) > 2 ||
                    strspn(digits, "0123456789") != strlen(digits))
                    continue;
                const int cpu = atoi(digits);
                if (cpu >= MAX_CPUS) continue;
                char entry[PATH_SIZE];
                char target[PATH_SIZE];
                if (snprintf(entry, sizeof entry, "%s/%s/cpufreq", path, e->d_name) >=
                    static_cast<int>(sizeof entry))
                    continue;
                const ssize_t n = readlink(entry, target, sizeof target - 1);
                struct stat info;
                if (n > 0) {
                    target[n] = '\0';
                    cpufreq_owner(target, e->d_name, owner[cpu], sizeof owner[cpu]);
                } else if (lstat(entry, &info) == 0 && S_ISDIR(info.st_mode)) {
                    cpufreq_owner(nullptr, e->d_name, owner[cpu], sizeof owner[cpu]);
                } else {
                    continue;  // offline on 3.x: no cpufreq at all
                }
                present[cpu] = 1;
            }
            closedir(d);
        }
    }
    int n = snprintf(out, cap, "# clusters");
    for (int c = 0; c < count && n > 0 && static_cast<size_t>(n) < cap; ++c) {
        int cpus[MAX_CPUS];
        int found = 0;
        for (int cpu = 0; cpu < MAX_CPUS; ++cpu)
            if (present[cpu] && strcmp(owner[cpu], clusters[c]->name) == 0) cpus[found++] = cpu;
        char ranges[160];
        if (!format_cpu_ranges(cpus, found, ranges, sizeof ranges)) snprintf(ranges, 2, "?");
        n += snprintf(out + n, cap - static_cast<size_t>(n), " %s", ranges);
    }
    if (n <= 0 || static_cast<size_t>(n) + 1 >= cap) return 0;
    out[n] = '\n';
    out[n + 1] = '\0';
    return n + 1;
}
