// Which CPUs each frequency cluster drives, so the page can name a cluster's line by them
// ("0-3"). Read once per session, from the cpuN/cpufreq links alone.
#ifndef TESSIVARCTL_CLUSTER_CPUS_H
#define TESSIVARCTL_CLUSTER_CPUS_H

#include <stddef.h>

#include "nodes.h"

// Ascending CPU numbers as ranges ("0-3", "0,2-3"); "?" for none. 0 when it does not fit.
int format_cpu_ranges(const int* cpus, int count, char* out, size_t cap);

// The owner of cpuN/cpufreq as the kernel lays it out: the policy a link names
// ("../cpufreq/policy4" -> "policy4", 3.x's "../cpu4/cpufreq" -> "cpu4"), or `self` ("cpuN")
// for a real directory. Into `out` (empty when there is none).
void cpufreq_owner(const char* link_target, const char* self, char* out, size_t cap);

// "# clusters 0-3 4-7\n": the CPUs of each of `count` CPU policy nodes, in their order.
int cluster_cpus_line(const governor_node* const* clusters, int count, char* out, size_t cap);

#endif
