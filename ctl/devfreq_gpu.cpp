#include "devfreq_gpu.h"

namespace {

// Lower-case ASCII substring search: device names mix cases ("GPU", "Mali").
int has(std::string_view text, std::string_view word) {
    if (word.size() > text.size()) return 0;
    for (size_t at = 0; at + word.size() <= text.size(); ++at) {
        size_t i = 0;
        for (; i < word.size(); ++i) {
            char c = text[at + i];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            if (c != word[i]) break;
        }
        if (i == word.size()) return 1;
    }
    return 0;
}

int has_any(std::string_view text, const std::string_view* words, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (has(text, words[i])) return 1;
    return 0;
}

// Qualcomm's bandwidth and latency voters (cpubw, gpubw, llccbw, l3, memlat), Rockchip's and
// Exynos' memory controllers (dmc, mif), MediaTek's DRAM scaling (dvfsrc), interconnects.
constexpr std::string_view BUS_WORDS[] = {"bw", "bus", "ddr", "dram", "dmc",    "llcc",
                                          "l3", "lat", "mem", "mif",  "dvfsrc", "cci"};
// The governors of those nodes: they follow bandwidth counters or the CPUs, never a GPU's load.
constexpr std::string_view BUS_GOVERNOR_WORDS[] = {"bw", "mem", "lat", "ddr", "llcc", "dmc"};
constexpr std::string_view BUS_GOVERNORS[] = {"passive", "cpufreq", "compute"};
// Arm's Mali and its open drivers, Adreno, PowerVR, Vivante, and the generic device-tree name.
constexpr std::string_view GPU_WORDS[] = {"gpu",  "mali",    "adreno",  "kgsl",   "panfrost",
                                          "lima", "powervr", "vivante", "galcore"};

}  // namespace

int bus_devfreq_name(std::string_view name) {
    return has_any(name, BUS_WORDS, sizeof BUS_WORDS / sizeof BUS_WORDS[0]);
}

int devfreq_is_gpu(const devfreq_facts& f) {
    if (bus_devfreq_name(f.name) || bus_devfreq_name(f.device) ||
        has_any(f.governor, BUS_GOVERNOR_WORDS,
                sizeof BUS_GOVERNOR_WORDS / sizeof BUS_GOVERNOR_WORDS[0]))
        return 0;
    for (std::string_view g : BUS_GOVERNORS)
        if (f.governor == g) return 0;
    constexpr size_t n = sizeof GPU_WORDS / sizeof GPU_WORDS[0];
    return has_any(f.name, GPU_WORDS, n) || has_any(f.device, GPU_WORDS, n) ||
           has_any(f.driver, GPU_WORDS, n) || has_any(f.compatible, GPU_WORDS, n);
}
