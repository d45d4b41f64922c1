// Which devfreq device is a GPU, from what it is rather than what its devfreq entry is called:
// vendors name them "13000000.mali", "gpufreq", "fde60000.gpu" or after their parent device. Bus
// and memory devfreq (bandwidth monitors, DDR, LLCC, L3, memory latency) are never GPUs: a
// profile must not touch them. No I/O here.
#ifndef TESSIVARCTL_DEVFREQ_GPU_H
#define TESSIVARCTL_DEVFREQ_GPU_H

#include <string_view>

// Whether a devfreq entry's name (or its parent device's) says it is a bus or memory node.
int bus_devfreq_name(std::string_view name);

// What the kernel shows of one /sys/class/devfreq/<name> entry.
struct devfreq_facts {
    std::string_view name;        // the class entry
    std::string_view governor;    // <entry>/governor
    std::string_view device;      // the parent device's name (<entry>/device links to it)
    std::string_view driver;      // the parent's driver (<entry>/device/driver links to it)
    std::string_view compatible;  // the parent's device-tree compatible strings, any separator
};
// A GPU: nothing says bus or memory, and the name, the parent device, its driver or its
// compatible strings name a GPU.
int devfreq_is_gpu(const devfreq_facts& facts);

#endif
