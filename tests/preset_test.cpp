// The presets on three generations of kernel, as fake device trees: what each preset changes,
// that it puts every byte back, that it leaves what someone else changed since, and which game
// a run is for when the supervisor reads the change line late.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "ctl_sandbox.h"

namespace {

using ctl::read_file;
using ctl::write_file;

const std::string kCpu = "/sys/devices/system/cpu";
const std::string kKgsl = "/sys/class/kgsl/kgsl-3d0/devfreq";
const std::string kMali = "/sys/class/devfreq/13000000.mali";

struct Kernel {
    const char* name;
    // path -> contents ("->target" makes a link); directories are made as needed.
    std::map<std::string, std::string> files;
    // What each preset prints after "performance: <preset>, the default preset (…): ".
    const char* sustained;
    const char* battery;
    const char* max;
    // What each preset leaves in a few files while in force.
    std::map<std::string, std::string> sustained_values;
};

std::map<std::string, std::string> cpufreq_node(const std::string& dir, const char* governor,
                                                const char* governors, const char* steps,
                                                const char* min, const char* max) {
    return {{dir + "/scaling_governor", std::string(governor) + "\n"},
            {dir + "/scaling_available_governors", std::string(governors) + "\n"},
            {dir + "/scaling_available_frequencies", std::string(steps) + "\n"},
            {dir + "/scaling_min_freq", std::string(min) + "\n"},
            {dir + "/scaling_max_freq", std::string(max) + "\n"},
            {dir + "/cpuinfo_max_freq", std::string(max) + "\n"}};
}

std::map<std::string, std::string> merge(std::vector<std::map<std::string, std::string>> parts) {
    std::map<std::string, std::string> all;
    for (auto& p : parts)
        all.insert(p.begin(), p.end());
    return all;
}

std::map<std::string, std::string> gpu(const std::string& dir) {
    return {{dir + "/governor", "msm-adreno-tz\n"},
            {dir + "/available_governors", "msm-adreno-tz performance powersave\n"},
            // Descending, as kgsl lists them.
            {dir + "/available_frequencies", "600000000 510000000 450000000 320000000 200000000\n"},
            {dir + "/min_freq", "200000000\n"},
            {dir + "/max_freq", "600000000\n"}};
}

// A 3.18 phone: interactive with system-wide tunables, per-CPU cpufreq directories (the other
// CPUs of a cluster link to the first one's), the big cluster's last two CPUs offline.
Kernel kernel_3_18() {
    auto files = merge({
        cpufreq_node(kCpu + "/cpu0/cpufreq", "interactive", "interactive ondemand performance",
                     "400000 800000 1200000 1500000", "400000", "1500000"),
        cpufreq_node(kCpu + "/cpu4/cpufreq", "interactive", "interactive ondemand performance",
                     "600000 900000 1300000 1700000 2100000", "600000", "2100000"),
        gpu(kKgsl),
    });
    for (const char* cpu : {"cpu1", "cpu2", "cpu3"})
        files[kCpu + "/" + cpu + "/cpufreq"] = "->" + kCpu + "/cpu0/cpufreq";
    files[kCpu + "/cpu5/cpufreq"] = "->" + kCpu + "/cpu4/cpufreq";
    files[kCpu + "/cpu6/online"] = "0\n";
    files[kCpu + "/cpu7/online"] = "0\n";
    files[kCpu + "/cpufreq/interactive/timer_rate"] = "20000\n";
    files[kCpu + "/cpufreq/interactive/min_sample_time"] = "80000\n";
    files[kCpu + "/cpufreq/interactive/target_loads"] = "85 1300000:90 1700000:95\n";
    return {"3.18 interactive",
            files,
            "big-cluster floor (cpu4), interactive timer_rate (all), GPU floor (kgsl-3d0); not "
            "on this kernel: top-app uclamp.min, top-app schedtune.boost, up_rate_limit_us, "
            "rate_limit_us",
            "interactive min_sample_time (all); not on this kernel: down_rate_limit_us",
            "governor set to performance on: cpu0 cpu4 kgsl-3d0",
            {{kCpu + "/cpu4/cpufreq/scaling_min_freq", "900000\n"},
             {kCpu + "/cpu0/cpufreq/scaling_min_freq", "400000\n"},
             {kCpu + "/cpufreq/interactive/timer_rate", "10000\n"},
             {kKgsl + "/min_freq", "450000000\n"}}};
}

// A 4.14 phone: schedutil with up and down rate limits per policy, schedtune, a Mali GPU.
Kernel kernel_4_14() {
    const std::string p = kCpu + "/cpufreq";
    auto files = merge({
        cpufreq_node(p + "/policy0", "schedutil", "schedutil performance",
                     "300000 576000 1017600 1785600", "300000", "1785600"),
        cpufreq_node(p + "/policy4", "schedutil", "schedutil performance",
                     "825600 1209600 1804800 2803200", "825600", "2803200"),
        gpu(kMali),
    });
    for (const char* policy : {"policy0", "policy4"}) {
        files[p + "/" + policy + "/schedutil/up_rate_limit_us"] = "1000\n";
        files[p + "/" + policy + "/schedutil/down_rate_limit_us"] = "20000\n";
        files[p + "/" + policy + "/schedutil/hispeed_load"] = "90\n";
        // The kernel's defaults when schedutil is selected again after performance.
        files[std::string("/defaults/schedutil/up_rate_limit_us")] = "0\n";
        files[std::string("/defaults/schedutil/down_rate_limit_us")] = "0\n";
        files[std::string("/defaults/schedutil/hispeed_load")] = "80\n";
    }
    files["/dev/stune/top-app/schedtune.boost"] = "0\n";
    files["/dev/stune/top-app/schedtune.prefer_idle"] = "1\n";
    return {"4.14 schedtune",
            files,
            "top-app schedtune.boost, up_rate_limit_us (policy0, policy4), GPU floor "
            "(13000000.mali); not on this kernel: top-app uclamp.min, rate_limit_us, interactive "
            "timer_rate",
            "down_rate_limit_us (policy0, policy4); not on this kernel: interactive "
            "min_sample_time",
            "governor set to performance on: policy0 policy4 13000000.mali",
            {{"/dev/stune/top-app/schedtune.boost", "20\n"},
             {p + "/policy4/scaling_min_freq", "825600\n"},
             {p + "/policy0/schedutil/up_rate_limit_us", "500\n"},
             {p + "/policy0/schedutil/down_rate_limit_us", "20000\n"}}};
}

// A 5.10 phone: uclamp on Android's cpuctl groups, walt on two clusters and mainline
// schedutil's single rate limit on the third, an Adreno GPU.
Kernel kernel_5_10() {
    const std::string p = kCpu + "/cpufreq";
    auto files = merge({
        cpufreq_node(p + "/policy0", "walt", "walt schedutil performance", "300000 1017600 1785600",
                     "300000", "1785600"),
        cpufreq_node(p + "/policy4", "walt", "walt schedutil performance", "633600 1593600 2419200",
                     "633600", "2419200"),
        cpufreq_node(p + "/policy6", "schedutil", "walt schedutil performance",
                     "787200 1612800 2841600", "787200", "2841600"),
        gpu(kKgsl),
    });
    for (const char* policy : {"policy0", "policy4"}) {
        files[p + "/" + policy + "/walt/up_rate_limit_us"] = "0\n";  // already quick
        files[p + "/" + policy + "/walt/down_rate_limit_us"] = "500\n";
        files[p + "/" + policy + "/walt/target_loads"] = "80\n";
    }
    files[p + "/policy6/schedutil/rate_limit_us"] = "2000\n";
    files["/defaults/walt/up_rate_limit_us"] = "1000\n";
    files["/defaults/walt/down_rate_limit_us"] = "1000\n";
    files["/defaults/walt/target_loads"] = "90\n";
    files["/defaults/schedutil/rate_limit_us"] = "10000\n";
    files["/dev/cpuctl/top-app/cpu.uclamp.min"] = "0.00\n";
    files["/dev/cpuctl/top-app/cpu.uclamp.latency_sensitive"] = "0\n";
    // kgsl's devfreq is a class entry too: the same GPU, counted once.
    files["/sys/class/devfreq/3d00000.qcom,kgsl-3d0"] = "->" + kKgsl;
    return {"5.10 uclamp",
            files,
            "top-app uclamp.min, rate_limit_us (policy6), GPU floor (kgsl-3d0); not on this "
            "kernel: interactive timer_rate",
            "nothing to change; not on this kernel: interactive min_sample_time",
            "governor set to performance on: policy0 policy4 policy6 kgsl-3d0",
            {{"/dev/cpuctl/top-app/cpu.uclamp.min", "15\n"},
             {p + "/policy6/schedutil/rate_limit_us", "500\n"},
             {p + "/policy0/walt/up_rate_limit_us", "0\n"},
             {kKgsl + "/min_freq", "450000000\n"}}};
}

// A devfreq GPU as the driver model lays it out: the class entry links to the devfreq device
// under its parent, whose `device` link leads to the parent, which links to its driver and its
// device-tree node (compatible strings NUL-separated, as the device tree shows them).
std::map<std::string, std::string> devfreq_node(const std::string& name, const std::string& parent,
                                                const std::string& driver,
                                                const std::string& compatible, const char* governor,
                                                const char* governors, const char* steps,
                                                const char* min, const char* max) {
    const std::string device = "/sys/devices/platform/" + parent;
    const std::string dir = device + "/devfreq/" + name;
    const std::string of_node = "/sys/firmware/devicetree/base/" + parent;
    return {{"/sys/class/devfreq/" + name, "->" + dir},
            {dir + "/device", "->" + device},
            {device + "/driver", "->/sys/bus/platform/drivers/" + driver},
            {device + "/of_node", "->" + of_node},
            {of_node + "/compatible", compatible},
            {dir + "/governor", std::string(governor) + "\n"},
            {dir + "/available_governors", std::string(governors) + "\n"},
            {dir + "/available_frequencies", std::string(steps) + "\n"},
            {dir + "/min_freq", std::string(min) + "\n"},
            {dir + "/max_freq", std::string(max) + "\n"}};
}

// An RK3566 handheld: one cluster, uclamp, the Mali GPU's devfreq named after its device-tree
// node (fde60000.gpu), and the memory controller's devfreq (dmc) beside it, never touched.
Kernel kernel_rk3566() {
    const std::string p = kCpu + "/cpufreq";
    auto files = merge({
        cpufreq_node(p + "/policy0", "schedutil", "schedutil performance",
                     "408000 816000 1416000 1800000", "408000", "1800000"),
        devfreq_node("fde60000.gpu", "fde60000.gpu", "mali",
                     std::string("rockchip,rk3568-mali\0arm,mali-bifrost\0", 38), "simple_ondemand",
                     "userspace powersave performance simple_ondemand",
                     "200000000 300000000 400000000 600000000 700000000 800000000", "200000000",
                     "800000000"),
        devfreq_node("dmc", "dmc", "rockchip-dmc", std::string("rockchip,rk3568-dmc\0", 20),
                     "dmc_ondemand", "dmc_ondemand userspace powersave performance simple_ondemand",
                     "324000000 528000000 780000000 1056000000", "324000000", "1056000000"),
    });
    files[p + "/policy0/schedutil/rate_limit_us"] = "1000\n";
    files["/defaults/schedutil/rate_limit_us"] = "1000\n";
    files["/dev/cpuctl/top-app/cpu.uclamp.min"] = "0.00\n";
    return {"RK3566 fde60000.gpu",
            files,
            "top-app uclamp.min, rate_limit_us (policy0), GPU floor (fde60000.gpu); not on this "
            "kernel: up_rate_limit_us, interactive timer_rate",
            "nothing to change; not on this kernel: down_rate_limit_us, interactive "
            "min_sample_time",
            "governor set to performance on: policy0 fde60000.gpu",
            {{"/sys/class/devfreq/fde60000.gpu/min_freq", "400000000\n"},
             {"/sys/class/devfreq/dmc/min_freq", "324000000\n"}}};
}

// A Kirin 970 phone: the 4.14 layout, its Mali GPU's devfreq called gpufreq, known by the
// device behind it (e82c0000.mali, driver mali).
Kernel kernel_kirin970() {
    Kernel kernel = kernel_4_14();
    for (auto it = kernel.files.begin(); it != kernel.files.end();)
        it = it->first.rfind(kMali, 0) == 0 ? kernel.files.erase(it) : std::next(it);
    for (auto& [path, text] :
         devfreq_node("gpufreq", "e82c0000.mali", "mali", std::string("arm,mali-bifrost\0", 17),
                      "mali_ondemand", "mali_ondemand userspace powersave performance",
                      "178000000 416000000 554000000 767000000", "178000000", "767000000"))
        kernel.files[path] = text;
    kernel.name = "Kirin 970 gpufreq";
    kernel.sustained =
        "top-app schedtune.boost, up_rate_limit_us (policy0, policy4), GPU floor (gpufreq); not "
        "on this kernel: top-app uclamp.min, rate_limit_us, interactive timer_rate";
    kernel.max = "governor set to performance on: policy0 policy4 gpufreq";
    kernel.sustained_values = {{"/sys/class/devfreq/gpufreq/min_freq", "416000000\n"}};
    return kernel;
}

class PresetTest : public CtlTest {
protected:
    void use(const Kernel& kernel) {
        system(("rm -rf '" + dev_ + "/sys' '" + dev_ + "/dev' '" + dev_ + "/defaults'").c_str());
        for (const auto& [path, text] : kernel.files) {
            const std::string full = dev(path);
            system(("mkdir -p \"$(dirname '" + full + "')\"").c_str());
            if (text.rfind("->", 0) == 0) {
                ASSERT_EQ(symlink(dev(text.substr(2)).c_str(), full.c_str()), 0) << full;
            } else {
                write_file(full, text);
            }
        }
    }
    // Every file and link under the fake /sys and /dev, with its contents.
    std::string tree() const {
        std::string all;
        for (const char* top : {"/sys", "/dev"})
            walk(dev(top), &all);
        return all;
    }
    void walk(const std::string& dir, std::string* all) const {
        DIR* d = opendir(dir.c_str());
        std::vector<std::string> names;
        while (dirent* e = d ? readdir(d) : nullptr)
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        if (d) closedir(d);
        std::sort(names.begin(), names.end());
        for (const auto& n : names) {
            const std::string path = dir + "/" + n;
            struct stat info;
            lstat(path.c_str(), &info);
            if (S_ISLNK(info.st_mode)) {
                char target[512] = "";
                readlink(path.c_str(), target, sizeof target - 1);
                *all += path.substr(dev_.size()) + " -> " + target + "\n";
            } else if (S_ISDIR(info.st_mode)) {
                walk(path, all);
            } else {
                *all += path.substr(dev_.size()) + " = " + read_file(path);
            }
        }
    }
    std::string governors_of(const Kernel& kernel) const {
        std::string all;
        for (const auto& [path, text] : kernel.files)
            if (path.find("/sys/") == 0 &&
                (path.size() > 9 && (path.compare(path.size() - 9, 9, "/governor") == 0 ||
                                     path.find("scaling_governor") != std::string::npos)))
                all += path + "=" + read_file(dev(path));
        return all;
    }
    // A thermal cap on a node as the kernel stand-in keeps one ("none" lifts it).
    void cap(const std::string& dir, const char* freq) const {
        ASSERT_EQ(system(("'" + root_ + "/kernel-hook' cap '" + dev(dir) + "' " + freq).c_str()),
                  0);
    }
    // The start ticks of the launch in force, as the supervisor names it to a back-off.
    std::string launch_ticks() const {
        const std::string text = read_file(mod("current_profile"));
        const size_t line = text.find('\n') + 1;
        const std::string stamp = text.substr(line, text.find('\n', line) - line);
        return stamp.substr(stamp.rfind(' ') + 1);
    }
    std::string prefix(const char* preset) const {
        return std::string("performance: ") + preset +
               ", the default preset (game unknown: not launched by Tessivar): ";
    }
};

std::vector<Kernel> kernels() {
    return {kernel_3_18(), kernel_4_14(), kernel_5_10(), kernel_rk3566(), kernel_kirin970()};
}

// Each preset on each kernel: what it changes (and which knobs this kernel lacks), no governor
// switched but by max, and every byte put back.
TEST_F(PresetTest, EachPresetOnEachKernelChangesItsKnobsAndPutsEveryByteBack) {
    for (const auto& kernel : kernels()) {
        for (const char* preset : {"sustained", "battery", "max"}) {
            SCOPED_TRACE(std::string(kernel.name) + ", " + preset);
            use(kernel);
            write_file(mod("presets.txt"), std::string("* ") + preset + "\n");
            const std::string before = tree();
            const std::string governors = governors_of(kernel);
            const auto out = ctl({"profile", "performance"});
            const std::string said = preset == std::string("sustained") ? kernel.sustained
                                     : preset == std::string("battery") ? kernel.battery
                                                                        : kernel.max;
            EXPECT_EQ(out.out, prefix(preset) + said + "\n");
            if (preset != std::string("max")) {
                EXPECT_EQ(governors_of(kernel), governors) << "a governor was switched";
            }
            if (preset == std::string("sustained")) {
                for (const auto& [path, value] : kernel.sustained_values)
                    EXPECT_EQ(read_file(dev(path)), value) << path;
            }
            const auto back = ctl({"profile", "balanced"});
            EXPECT_NE(back.out.find(", 0 refused"), std::string::npos) << back.out;
            EXPECT_EQ(tree(), before);
        }
    }
}

// SIGKILL right after each device write of each preset; the balanced that follows puts the
// device back byte for byte.
TEST_F(PresetTest, AKillAtAnyWriteOfAPresetIsUndoneByTheNextBalanced) {
    for (const auto& kernel : kernels()) {
        for (const char* preset : {"sustained", "battery", "max"}) {
            use(kernel);
            write_file(mod("presets.txt"), std::string("* ") + preset + "\n");
            const std::string before = tree();
            for (int write = 1;; ++write) {
                SCOPED_TRACE(std::string(kernel.name) + ", " + preset + ", killed after write " +
                             std::to_string(write));
                write_file(dev("/writes"), "0\n");
                write_file(dev("/kill-at"), std::to_string(write) + "\n");
                const auto run = ctl({"profile", "performance"});
                unlink(dev("/kill-at").c_str());
                EXPECT_EQ(ctl({"profile", "balanced"}).status, 0);
                EXPECT_EQ(tree(), before);
                if (run.status != 128 + SIGKILL) break;  // past the run's last write
                ASSERT_LT(write, 40);
            }
        }
    }
}

// SIGKILL right after each device write of a game switched to within a launch (the first
// game's settings put back, the second game's preset applied); the balanced that follows puts
// the device back byte for byte.
TEST_F(PresetTest, AKillAtAnyWriteOfAGameSwitchIsUndoneByTheNextBalanced) {
    const Kernel kernel = kernel_3_18();  // a floor, a rounded timer, a GPU, max's tunables
    for (const char* pair : {"max sustained", "sustained max"}) {
        const std::string first(pair, strchr(pair, ' '));
        const std::string second(strchr(pair, ' ') + 1);
        use(kernel);
        write_file(mod("presets.txt"), "com.a.game " + first + "\ncom.b.game " + second + "\n");
        const std::string before = tree();
        for (int write = 1;; ++write) {
            SCOPED_TRACE(std::string(pair) + ", killed after write " + std::to_string(write));
            unlink(dev("/kill-at").c_str());
            write_file(mod("last_change"), "boot-1\n1 com.a.game\n");
            ASSERT_EQ(ctl_piped({"profile", "performance"}).rfind("performance: " + first, 0), 0u);
            write_file(dev("/writes"), "0\n");
            write_file(dev("/kill-at"), std::to_string(write) + "\n");
            const auto run = ctl({"profile", "switch", launch_ticks(), "com.b.game"});
            unlink(dev("/kill-at").c_str());
            EXPECT_EQ(ctl({"profile", "balanced"}).status, 0);
            EXPECT_EQ(tree(), before);
            if (run.status != 128 + SIGKILL) {  // past the run's last write
                EXPECT_NE(run.out.find("performance: " + second + " for com.b.game: "),
                          std::string::npos)
                    << run.out;
                break;
            }
            ASSERT_LT(write, 60);
        }
    }
}

// The Power HAL or a thermal engine writes a knob while the game runs: its value stands, and
// the restore says so; the rest goes back.
TEST_F(PresetTest, AKnobChangedBySomeoneElseIsLeftAlone) {
    const Kernel kernel = kernel_5_10();
    use(kernel);
    write_file(mod("presets.txt"), "* sustained\n");
    ASSERT_EQ(ctl({"profile", "performance"}).status, 0);
    write_file(dev("/dev/cpuctl/top-app/cpu.uclamp.min"), "50.00\n");
    const auto out = ctl({"profile", "balanced"});
    EXPECT_NE(out.out.find("; left cpu.uclamp.min: changed by the system"), std::string::npos)
        << out.out;
    EXPECT_EQ(read_file(dev("/dev/cpuctl/top-app/cpu.uclamp.min")), "50.00\n");
    EXPECT_EQ(read_file(dev(kKgsl + "/min_freq")), "200000000\n");
    EXPECT_EQ(read_file(dev(kCpu + "/cpufreq/policy6/schedutil/rate_limit_us")), "2000\n");
}

// A thermal cap while the game runs: cpufreq and devfreq show our floor cut down to the cap and
// keep the request, applied again once the cap lifts. The back-off and balanced, which run in
// exactly that moment, know the floor as still ours and put the device's own back, so the phone
// does not sit at the game's floors once it cools.
TEST_F(PresetTest, AFloorTheKernelCutsDownToACapIsStillOursAndIsPutBack) {
    const std::string cpu4 = kCpu + "/cpu4/cpufreq";
    for (const bool backoff : {false, true}) {
        SCOPED_TRACE(backoff ? "the thermal back-off" : "balanced");
        use(kernel_3_18());
        write_file(mod("presets.txt"), "* sustained\n");
        const std::string before = tree();
        ASSERT_EQ(ctl({"profile", "performance"}).status, 0);
        ASSERT_EQ(read_file(dev(cpu4 + "/scaling_min_freq")), "900000\n");
        ASSERT_EQ(read_file(dev(kKgsl + "/min_freq")), "450000000\n");
        cap(cpu4, "800000");
        cap(kKgsl, "320000000");
        ASSERT_EQ(read_file(dev(cpu4 + "/scaling_min_freq")), "800000\n");
        ASSERT_EQ(read_file(dev(kKgsl + "/min_freq")), "320000000\n");
        const auto out = backoff ? ctl({"profile", "backoff", launch_ticks(), "MODERATE"})
                                 : ctl({"profile", "balanced"});
        EXPECT_NE(out.out.find("restored 3 setting(s) of the device's own, 0 refused\n"),
                  std::string::npos)
            << out.out;
        cap(cpu4, "none");
        cap(kKgsl, "none");
        EXPECT_EQ(read_file(dev(cpu4 + "/scaling_min_freq")), "600000\n");
        EXPECT_EQ(read_file(dev(kKgsl + "/min_freq")), "200000000\n");
        if (backoff) {
            EXPECT_EQ(ctl({"profile", "balanced"}).status, 0);
        }
        EXPECT_EQ(tree(), before);
    }
}

// A value the kernel keeps its own way is a write that took, and ours as the kernel shows it:
// interactive keeps timer_rate in whole jiffies (at HZ=250 a written 10000 reads back 12000),
// devfreq keeps a GPU floor in whole kHz (Amlogic's Mali steps are no whole kHz). balanced puts
// the vendor's values back, also when the run was killed before it recorded the kernel's value.
TEST_F(PresetTest, AValueTheKernelRoundsIsOursAsItShowsIt) {
    Kernel amlogic = kernel_rk3566();
    for (auto it = amlogic.files.begin(); it != amlogic.files.end();)
        it = it->first.find("fde60000.gpu") != std::string::npos ? amlogic.files.erase(it)
                                                                 : std::next(it);
    for (auto& [path, text] :
         devfreq_node("ffe40000.gpu", "ffe40000.gpu", "mali",
                      std::string("amlogic,meson-g12a-mali\0arm,mali-bifrost\0", 41),
                      "simple_ondemand", "userspace powersave performance simple_ondemand",
                      "124999998 249999996 285714281 399999994 499999992 666666656 799999987",
                      "124999998", "799999987"))
        amlogic.files[path] = text;
    amlogic.sustained =
        "top-app uclamp.min, rate_limit_us (policy0), GPU floor (ffe40000.gpu); not on this "
        "kernel: up_rate_limit_us, interactive timer_rate";
    const std::string timer = kCpu + "/cpufreq/interactive/timer_rate";
    const std::string floor = "/sys/class/devfreq/ffe40000.gpu/min_freq";
    const struct {
        Kernel kernel;
        std::string file;
        const char* shown;
        const char* own;
    } cases[] = {
        {kernel_3_18(), timer, "12000", "20000"},
        {amlogic, floor, "399999000", "124999998"},
    };
    for (const auto& c : cases) {
        for (const bool killed : {false, true}) {
            SCOPED_TRACE(std::string(c.kernel.name) + (killed ? ", killed after the write" : ""));
            use(c.kernel);
            write_file(dev("/hz"), "250\n");
            write_file(mod("presets.txt"), "* sustained\n");
            const std::string before = tree();
            // Killed right after its last write, the run's record keeps the value written.
            write_file(dev("/writes"), "0\n");
            if (killed) write_file(dev("/kill-at"), "3\n");
            const auto run = ctl({"profile", "performance"});
            unlink(dev("/kill-at").c_str());
            EXPECT_EQ(run.status, killed ? 128 + SIGKILL : 0);
            EXPECT_EQ(read_file(dev(c.file)), std::string(c.shown) + "\n");
            if (!killed) {
                EXPECT_EQ(run.out, prefix("sustained") + c.kernel.sustained + "\n");
                EXPECT_NE(read_file(mod("current_profile"))
                              .find("\nK " + c.file + " " + c.shown + "\t" + c.own + "\n"),
                          std::string::npos)
                    << read_file(mod("current_profile"));
            }
            EXPECT_EQ(ctl({"profile", "balanced"}).out,
                      "balanced: restored 3 setting(s) of the device's own, 0 refused\n");
            EXPECT_EQ(tree(), before);
        }
    }
}

// The restore puts a devfreq GPU's floor and governor back whatever the GPU is called, and
// writes nothing on a devfreq node that is no GPU, whatever the state file says: not on a bus
// (named so), nor on a node whose device names no GPU (an NPU).
TEST_F(PresetTest, TheRestoreWritesADevfreqGpuAndNothingElse) {
    Kernel kernel = kernel_rk3566();
    for (auto& [path, text] : devfreq_node(
             "fdab0000.npu", "fdab0000.npu", "RKNPU", std::string("rockchip,rk3568-rknpu\0", 22),
             "userspace", "userspace performance", "200000000 600000000 1000000000", "200000000",
             "1000000000"))
        kernel.files[path] = text;
    use(kernel);
    const std::string before = tree();
    const std::string gpu = "/sys/class/devfreq/fde60000.gpu";
    write_file(dev(gpu + "/governor"), "performance\n");
    write_file(dev(gpu + "/min_freq"), "400000000\n");
    write_file(mod("current_profile"),
               "performance\nboot-1 1\n"
               "G " +
                   gpu +
                   "/governor simple_ondemand\n"
                   "K " +
                   gpu +
                   "/min_freq 400000000\t200000000\n"
                   "G /sys/class/devfreq/fdab0000.npu/governor performance\n"
                   "K /sys/class/devfreq/fdab0000.npu/min_freq 200000000\t1000000000\n"
                   "G /sys/class/devfreq/dmc/governor performance\n"
                   "K /sys/class/devfreq/dmc/min_freq 324000000\t1056000000\n");
    EXPECT_EQ(ctl({"profile", "balanced"}).out,
              "balanced: restored 2 setting(s) of the device's own, 0 refused; ignored 4 line(s) "
              "that name no governor setting\n");
    EXPECT_EQ(tree(), before);
}

// A knob whose file is gone at restore (a cgroup remounted, a GPU driver re-probed) is kept
// for a retry, like a governor.
TEST_F(PresetTest, AKnobGoneAtRestoreIsKeptForARetry) {
    use(kernel_4_14());
    write_file(mod("presets.txt"), "* sustained\n");
    ASSERT_EQ(ctl({"profile", "performance"}).status, 0);
    const std::string stune = dev("/dev/stune");
    ASSERT_EQ(rename(stune.c_str(), (stune + ".gone").c_str()), 0);
    const auto out = ctl({"profile", "balanced"});
    EXPECT_NE(out.out.find("1 refused (schedtune.boost; kept to try again; restore pending: "
                           "schedtune.boost)"),
              std::string::npos)
        << out.out;
    ASSERT_EQ(rename((stune + ".gone").c_str(), stune.c_str()), 0);
    EXPECT_EQ(ctl({"profile", "retry"}).out,
              "balanced: retried the restore: restored 1 setting(s) of the device's own, 0 "
              "refused\n");
    EXPECT_EQ(read_file(dev("/dev/stune/top-app/schedtune.boost")), "0\n");
}

// The preset file: one line per game, a default, edits that keep every other byte.
TEST_F(PresetTest, PresetsAreChosenPerGameAndEditedByteForByte) {
    write_file(mod("presets.txt"), "# mine\r\ncom.a.game max\r\n");
    const struct {
        std::vector<std::string> args;
        const char* out;
        const char* after;
        int status;
    } cases[] = {
        {{"set", "com.b.game", "battery"},
         "com.b.game: battery\n",
         "# mine\r\ncom.a.game max\r\ncom.b.game battery\r\n",
         0},
        {{"set", "com.a.game", "sustained"},
         "com.a.game: sustained\n",
         "# mine\r\ncom.a.game sustained\r\ncom.b.game battery\r\n",
         0},
        {{"set", "default", "max"},
         "default: max\n",
         "# mine\r\ncom.a.game sustained\r\ncom.b.game battery\r\n* max\r\n",
         0},
        {{"clear", "com.b.game"},
         "com.b.game: max (the default)\n",
         "# mine\r\ncom.a.game sustained\r\n* max\r\n",
         0},
        {{"set", "com.a.game", "turbo"},
         "preset: no preset 'turbo' (sustained, max or battery); "
         "nothing changed\n",
         "# mine\r\ncom.a.game sustained\r\n* max\r\n",
         2},
        {{"set", "../etc", "max"},
         "preset: refusing '../etc': not a valid Android package name; "
         "nothing changed\n",
         "# mine\r\ncom.a.game sustained\r\n* max\r\n",
         2},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"preset"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto result = ctl(args);
        EXPECT_EQ(result.out, c.out) << c.args[1];
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(read_file(mod("presets.txt")), c.after) << c.args[1];
    }
    EXPECT_EQ(ctl({"preset", "list"}).out, "default: max\ncom.a.game: sustained\n");
}

// The daemon's change line reaches the supervisor's pipe before the launch, but the supervisor
// may read it after the run has started: the run waits for the pipe to be read (under the
// focus lock the supervisor holds while reading and recording) and takes that game's preset,
// never the game recorded before it. A run that learns no game gets the default, said so.
TEST_F(PresetTest, ARunStartedBeforeTheSupervisorReadTheChangeLineGetsThatGamesPreset) {
    use(kernel_5_10());
    write_file(mod("presets.txt"), "com.new.game battery\ncom.old.game max\n* sustained\n");
    write_file(mod("last_change"), "boot-1\n1 com.old.game\n");  // the game before
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    const int lock = open(mod(".focus.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);  // the supervisor in the middle of a read
    const std::string change = "State change detected: 2 -> 1. Screen: 1, Focus: 'com.new.game'\n";
    ASSERT_EQ(write(pipe_fds[1], change.data(), change.size()),
              static_cast<ssize_t>(change.size()));
    const pid_t run = fork();
    if (run == 0) {
        dup2(pipe_fds[1], 1);
        dup2(pipe_fds[1], 2);
        close(pipe_fds[0]);
        const std::string program = mod("tessivarctl");
        execl(program.c_str(), program.c_str(), "profile", "performance", nullptr);
        _exit(127);
    }
    close(pipe_fds[1]);
    poll(nullptr, 0, 300);
    EXPECT_EQ(waitpid(run, nullptr, WNOHANG), 0) << "did not wait for the supervisor";
    // The supervisor reads the line and records it, then lets go.
    char line[256];
    ASSERT_EQ(read(pipe_fds[0], line, change.size()), static_cast<ssize_t>(change.size()));
    write_file(mod("last_change"), "boot-1\n1 com.new.game\n");
    close(lock);
    int status = 0;
    waitpid(run, &status, 0);
    const ssize_t n = read(pipe_fds[0], line, sizeof line - 1);
    close(pipe_fds[0]);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(line, static_cast<size_t>(n)),
              "performance: battery for com.new.game: nothing to change; not on this kernel: "
              "interactive min_sample_time\n");

    // The last change names no game (the balanced launch is on its way): the default, said so.
    write_file(mod("last_change"), "boot-1\n2 com.android.launcher3\n");
    const auto pipe_run = [&] { return ctl_piped({"profile", "performance"}); };
    EXPECT_EQ(pipe_run().rfind("performance: sustained, the default preset (game unknown: the "
                               "last change names no game): ",
                               0),
              0u);
    // A supervisor that holds its lock past the wait's bound delays the run, never holds it.
    write_file(mod("last_change"), "boot-1\n1 com.new.game\n");
    const int held = open(mod(".focus.lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    EXPECT_EQ(pipe_run().rfind("performance: sustained, the default preset (game unknown: the "
                               "change line was not read in time): ",
                               0),
              0u);
    close(held);
    write_file(mod("last_change"), "boot-0\n1 com.new.game\n");  // another boot's
    EXPECT_EQ(pipe_run().rfind("performance: sustained, the default preset (game unknown: no "
                               "change recorded): ",
                               0),
              0u);
}

// The thermal back-off with the real supervisor and a stand-in dumpsys: the boost goes within
// one poll at MODERATE while the launch stays in force, a balanced launched during the back-off
// is never undone, and a later game's boost comes back once it has been cool for a minute (a
// second is 20 ms in the test build).
TEST_F(PresetTest, TheSupervisorBacksOffAtModerateAndNeverUndoesALaterLaunch) {
    use(kernel_5_10());
    write_file(mod("presets.txt"), "* sustained\n");
    const std::string bin = root_ + "/bin";
    mkdir(bin.c_str(), 0755);
    write_file(bin + "/dumpsys",
               "#!/bin/sh\n[ \"$1\" = thermalservice ] && cat '" + root_ + "/thermal'\n");
    chmod((bin + "/dumpsys").c_str(), 0755);
    setenv("PATH", (bin + ":" + getenv("PATH")).c_str(), 1);
    write_file(root_ + "/thermal", "Thermal Status: 0\n");
    const std::string before = tree();
    const pid_t supervisor = start_ctl({"supervise"}, root_ + "/supervisor-output");
    ASSERT_TRUE(ctl::eventually([&] { return ctl::exists(mod("tessivar.daemon.pid")); }));
    const std::string uclamp = dev("/dev/cpuctl/top-app/cpu.uclamp.min");
    const auto state = [&] { return read_file(mod("current_profile")); };

    for (const bool later_balanced : {true, false}) {
        SCOPED_TRACE(later_balanced ? "balanced during the back-off" : "cool again");
        write_file(root_ + "/thermal", "Thermal Status: 0\n");
        const size_t log_from = read_file(mod("tessivar.log")).size();
        ASSERT_EQ(ctl({"profile", "performance"}).status, 0);
        ASSERT_EQ(read_file(uclamp), "15\n");
        write_file(root_ + "/thermal", "Thermal Status: 2\n");
        ASSERT_TRUE(ctl::eventually([&] {
            return read_file(mod("tessivar.log"))
                       .find("performance: backed off (thermal MODERATE): restored 3 setting(s)",
                             log_from) != std::string::npos;
        })) << read_file(mod("tessivar.log"));
        EXPECT_EQ(tree(), before);
        EXPECT_EQ(profile_in_force(), "performance\n");
        EXPECT_NE(state().find("\nX MODERATE "), std::string::npos) << state();
        EXPECT_NE(ctl({"status"}).out.find("Back-off: thermal MODERATE since "), std::string::npos);
        write_file(root_ + "/thermal", "Thermal Status: 0\n");
        if (later_balanced) {
            ASSERT_EQ(ctl({"profile", "balanced"}).status, 0);
            poll(nullptr, 0, 2500);  // two minutes in the supervisor's seconds
            EXPECT_EQ(tree(), before) << "the balanced launched later was undone";
            EXPECT_EQ(profile_in_force(), "balanced\n");
        } else {
            EXPECT_TRUE(ctl::eventually([&] {
                return read_file(mod("tessivar.log"))
                           .find("performance: re-armed after the thermal back-off\n", log_from) !=
                       std::string::npos;
            })) << read_file(mod("tessivar.log"));
            EXPECT_EQ(read_file(uclamp), "15\n");
            EXPECT_EQ(state().find("\nX "), std::string::npos);
        }
    }
    kill(supervisor, SIGTERM);
    waitpid(supervisor, nullptr, 0);
    EXPECT_EQ(tree(), before);
}

}  // namespace
