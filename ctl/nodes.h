// The device's governor nodes: every CPU frequency policy, Adreno's kgsl GPU and any devfreq
// GPU; never a bus devfreq. Paths are device paths (without the test root).
#ifndef TESSIVARCTL_NODES_H
#define TESSIVARCTL_NODES_H

#include <stddef.h>

#include <string_view>

#include "ctl_config.h"

struct knob;

constexpr int MAX_NODES = 32;
// One sysfs value: a page at most (a sysfs file shows no more), with room for the final NUL.
constexpr size_t VALUE_SIZE = 4096 + 1;

constexpr char CPU_DIR[] = "/sys/devices/system/cpu";
constexpr char CPUFREQ_DIR[] = "/sys/devices/system/cpu/cpufreq";
constexpr char KGSL_DIR[] = "/sys/class/kgsl/kgsl-3d0/devfreq";
constexpr char DEVFREQ_DIR[] = "/sys/class/devfreq";

struct governor_node {
    char dir[PATH_SIZE];
    int cpu_policy;  // a cpufreq policy: its governor has tunables
    char name[64];   // policy0 (cpu0 on 3.x kernels), kgsl-3d0, 13000000.mali
};

struct node_list {
    governor_node nodes[MAX_NODES];
    int count;
};

// The nodes that exist now, CPU policies in number order: cpufreq/policyN (Linux 4.4+), else
// the real cpuN/cpufreq directories (3.x), then the GPU.
void find_governor_nodes(node_list* list);

// Whether the devfreq entry at `dir` (a device path, /sys/class/devfreq/<name>) is a GPU, from
// its governor, the device behind it, that device's driver and device-tree compatible strings.
int devfreq_gpu_at(const char* dir, std::string_view name);

// The node's governor file, its list of available governors, and (for a CPU policy) the
// directories that hold the tunables of governor `governor`: the policy's own and the
// system-wide one some kernels keep. Device paths.
void governor_file(const governor_node& node, char* out, size_t cap);
void available_file(const governor_node& node, char* out, size_t cap);
int tunable_dirs(const governor_node& node, const char* governor, char (*out)[PATH_SIZE]);

// Whether the kernel offers the "performance" governor for the node.
int offers_performance(const governor_node& node);

// The maximum in force beside a knob's file at `path` (knob_limit_leaf), for read_knob; -1 when
// the knob has none or it cannot be read.
long long limit_in_force(const knob& k, const char* path);

// Reads the one-line value of a device file.
int read_device_value(const char* path, char* out, size_t cap);
// Writes a value to an existing device file and reads it back: 1 when the file now holds it
// (the same number counts: uclamp shows "15" as "15.00").
int write_device_value(const char* path, const char* value);
// The same, leaving what the file shows after the write in `back` (the kernel may show its own
// rounding of the value, or a floor cut down to a cap); 0 when it cannot be read back.
int write_and_read_back(const char* path, const char* value, char* back, size_t cap);

#endif
