#include "ctl_sandbox.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

const char kPolicy[] = "/sys/devices/system/cpu/cpufreq";
const char kOriginalGovernors[] = "schedutil walt schedutil walt msm-adreno-tz bw_hwmon";
const char kBoostedGovernors[] = "performance performance schedutil walt performance bw_hwmon";
const char kOriginalTunables[] =
    "policy0/schedutil/hispeed_freq=1804800 policy0/schedutil/rate_limit_us=500 "
    "policy0/stats/total_trans=12 policy4/walt/boost=0 policy4/walt/target_loads=80 1516800:90";

namespace {

const char kGpu[] = "/sys/class/kgsl/kgsl-3d0/devfreq";
const char kBus[] = "/sys/class/devfreq/soc:qcom,cpubw";

// The kernel's part of a write. A governor switch replaces the old governor's tunables with
// the new one's defaults. Markers in the device root make it misbehave on purpose:
// policy7 is offline: the kernel never lets its governor change.
//   refuse-once   holds a device path: that write is undone once (the kernel said EBUSY)
//   kill-at       holds N: the Nth write kills the writer with SIGKILL right after it
//   keeps-own     holds "<device path> <value>": the kernel takes no other value for that file
//   hz            holds HZ: interactive's timer_rate is kept in whole jiffies, rounded up, and
//                 shown back in microseconds (12000 for a written 10000 at HZ=250)
// Frequency floors as cpufreq (freq_qos) and devfreq (dev_pm_qos) keep them: devfreq keeps a
// min_freq request in kHz, rounded down, and shows at least its lowest frequency; under a thermal
// cap ("kernel-hook cap <node dir> <freq>",
// "... none" to lift it) the node's maximum shows the cap, its floor shows the user's request
// cut down to it, and the request is in force again once the cap lifts.
const char kKernelHook[] = R"HOOK(#!/bin/sh
if [ "$1" = cap ]; then
  dir=$2 keep="$PROFILE_ROOT/kernel$2"
  case $dir in */devfreq*) min=min_freq max=max_freq ;; *) min=scaling_min_freq max=scaling_max_freq ;; esac
  mkdir -p "$keep"
  [ -f "$keep/request" ] || cat "$dir/$min" > "$keep/request"
  [ -f "$keep/own-max" ] || cat "$dir/$max" > "$keep/own-max"
  if [ "$3" = none ]; then
    cat "$keep/own-max" > "$dir/$max"
    cat "$keep/request" > "$dir/$min"
    rm -rf "$keep"
  else
    echo "$3" > "$keep/cap"
    echo "$3" > "$dir/$max"
    r=$(cat "$keep/request")
    [ "$r" -gt "$3" ] && r=$3
    echo "$r" > "$dir/$min"
  fi
  exit 0
fi
n=$(( $(cat "$PROFILE_ROOT/writes" 2>/dev/null || echo 0) + 1 ))
echo "$n" > "$PROFILE_ROOT/writes"
case $1 in */policy7/scaling_governor) echo walt > "$1"; exit 0 ;; esac
if [ -f "$PROFILE_ROOT/keeps-own" ]; then
  read -r file own < "$PROFILE_ROOT/keeps-own"
  if [ "$PROFILE_ROOT$file" = "$1" ]; then echo "$own" > "$1"; exit 0; fi
fi
if [ -f "$PROFILE_ROOT/refuse-once" ] && [ "$PROFILE_ROOT$(cat "$PROFILE_ROOT/refuse-once")" = "$1" ]; then
  rm -f "$PROFILE_ROOT/refuse-once"
  echo performance > "$1"
  exit 0
fi
case $1 in
  */cpufreq/policy*/scaling_governor)
    policy=${1%/*}
    for d in "$policy"/*/; do [ "$d" = "$policy/stats/" ] || rm -rf "$d"; done
    [ -d "$PROFILE_ROOT/defaults/$2" ] && cp -pR "$PROFILE_ROOT/defaults/$2" "$policy/$2" ;;
esac
case $1 in
  */devfreq/min_freq|*/devfreq/*/min_freq) v=$(( $2 / 1000 * 1000 )) ;;
  */scaling_min_freq) v=$2 ;;
  *) v= ;;
esac
case $1 in */min_freq)
  lowest=
  for f in $(cat "${1%/*}/available_frequencies" 2>/dev/null); do
    [ -z "$lowest" ] || [ "$f" -lt "$lowest" ] && lowest=$f
  done
  [ -n "$lowest" ] && [ "$v" -lt "$lowest" ] && v=$lowest ;;
esac
if [ -n "$v" ]; then
  keep="$PROFILE_ROOT/kernel${1%/*}"
  if [ -f "$keep/cap" ]; then
    echo "$v" > "$keep/request"
    [ "$v" -gt "$(cat "$keep/cap")" ] && v=$(cat "$keep/cap")
  fi
  echo "$v" > "$1"
fi
case $1 in */interactive/timer_rate)
  if [ -f "$PROFILE_ROOT/hz" ]; then
    hz=$(cat "$PROFILE_ROOT/hz")
    echo $(( ($2 * hz + 999999) / 1000000 * 1000000 / hz )) > "$1"
  fi ;;
esac
if [ "$(cat "$PROFILE_ROOT/kill-at" 2>/dev/null)" = "$n" ]; then kill -KILL "$PPID"; fi
exit 0
)HOOK";

void node(const std::string& root, const std::string& dir, const char* file, const char* governor,
          const char* available_file, const char* available) {
    ASSERT_EQ(system(("mkdir -p '" + root + dir + "'").c_str()), 0);
    ctl::write_file(root + dir + "/" + file, std::string(governor) + "\n");
    ctl::write_file(root + dir + "/" + available_file, std::string(available) + "\n");
}

}  // namespace

namespace ctl {

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

bool exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

bool eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 1000; ++i) {
        if (done()) return true;
        poll(nullptr, 0, 10);
    }
    return done();
}

}  // namespace ctl

void CtlTest::SetUp() {
    char dir[] = "/tmp/tessivarctl-test-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    root_ = dir;
    chmod(dir, 0755);
    mod_ = root_ + "/Drovenmarke";
    dev_ = root_ + "/device";
    mkdir(mod_.c_str(), 0755);
    // The programs as the zip installs them, beside each other in the module directory.
    ASSERT_EQ(symlink(TESSIVARCTL, mod("tessivarctl").c_str()), 0);
    ASSERT_EQ(symlink(DAEMON_STANDIN, mod("Tessivar").c_str()), 0);

    const std::string p = kPolicy;
    node(dev_, p + "/policy0", "scaling_governor", "schedutil", "scaling_available_governors",
         "schedutil performance powersave");
    node(dev_, p + "/policy4", "scaling_governor", "walt", "scaling_available_governors",
         "walt performance");
    node(dev_, p + "/policy6", "scaling_governor", "schedutil", "scaling_available_governors",
         "schedutil powersave");
    node(dev_, p + "/policy7", "scaling_governor", "walt", "scaling_available_governors",
         "walt performance");
    node(dev_, kGpu, "governor", "msm-adreno-tz", "available_governors",
         "msm-adreno-tz performance powersave");
    node(dev_, kBus, "governor", "bw_hwmon", "available_governors", "bw_hwmon performance");
    ASSERT_EQ(
        system(("mkdir -p '" + dev_ + p + "/policy0/schedutil' '" + dev_ + p + "/policy4/walt' '" +
                dev_ + p + "/policy0/stats' '" + dev_ + "/proc/sys/kernel/random' '" + dev_ +
                "/defaults/schedutil' '" + dev_ + "/defaults/walt'")
                   .c_str()),
        0);
    ctl::write_file(dev_ + p + "/policy0/schedutil/rate_limit_us", "500\n");
    ctl::write_file(dev_ + p + "/policy0/schedutil/hispeed_freq", "1804800\n");
    ctl::write_file(dev_ + p + "/policy4/walt/target_loads", "80 1516800:90\n");
    ctl::write_file(dev_ + p + "/policy4/walt/boost", "0\n");
    ctl::write_file(dev_ + p + "/policy0/stats/total_trans", "12\n");
    ctl::write_file(dev_ + "/defaults/schedutil/rate_limit_us", "1000\n");
    ctl::write_file(dev_ + "/defaults/schedutil/hispeed_freq", "0\n");
    ctl::write_file(dev_ + "/defaults/walt/target_loads", "90\n");
    ctl::write_file(dev_ + "/defaults/walt/boost", "0\n");
    reboot("boot-1");
    // These tests are about recording and putting back whole governors: the max preset for
    // every game. The presets' own tests set theirs.
    ctl::write_file(mod("presets.txt"), "* max\n");
    ctl::write_file(root_ + "/kernel-hook", kKernelHook);
    chmod((root_ + "/kernel-hook").c_str(), 0755);

    setenv("TESSIVAR_MODULE_DIR", mod_.c_str(), 1);
    setenv("PROFILE_ROOT", dev_.c_str(), 1);
    setenv("TESSIVAR_KERNEL_HOOK", (root_ + "/kernel-hook").c_str(), 1);
    setenv("TESSIVAR_FAST_PAUSES", "1", 1);
    unsetenv("TESSIVAR_LOG_LIMIT");
}

void CtlTest::TearDown() {
    // A supervisor a test left running goes, with its stand-in daemon.
    ctl({"stop"});
    system(("rm -rf '" + root_ + "'").c_str());
}

namespace {

// In a child: tessivarctl with `args` and standard output and error on `out`; never returns.
[[noreturn]] void exec_ctl(const std::string& program, const std::vector<std::string>& args,
                           int out) {
    dup2(out, 1);
    dup2(out, 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

// Each launch in a clock tick of its own: launches are ordered by their start tick, and two in
// one tick resolve to balanced whatever their order, as on a phone.
void next_tick() {
    usleep(static_cast<useconds_t>(1000000 / sysconf(_SC_CLK_TCK) + 1000));
}

}  // namespace

pid_t CtlTest::start_ctl(const std::vector<std::string>& args, const std::string& log) const {
    next_tick();
    const pid_t pid = fork();
    if (pid == 0)
        exec_ctl(mod("tessivarctl"), args,
                 open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644));
    return pid;
}

ctl::Result CtlTest::ctl(const std::vector<std::string>& args) const {
    const std::string log = root_ + "/ctl-output";
    const pid_t pid = start_ctl(args, log);
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), ctl::read_file(log)};
}

std::string CtlTest::ctl_piped(const std::vector<std::string>& args) const {
    next_tick();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return "";
    const pid_t pid = fork();
    if (pid == 0) exec_ctl(mod("tessivarctl"), args, fds[1]);
    close(fds[1]);
    std::string out;
    char buffer[512];
    for (ssize_t got; (got = read(fds[0], buffer, sizeof buffer)) > 0;)
        out.append(buffer, static_cast<size_t>(got));
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    return out;
}

std::string CtlTest::governors() const {
    const std::string p = dev_ + kPolicy;
    std::string all;
    for (const std::string& file :
         {p + "/policy0/scaling_governor", p + "/policy4/scaling_governor",
          p + "/policy6/scaling_governor", p + "/policy7/scaling_governor",
          dev_ + kGpu + "/governor", dev_ + kBus + "/governor"}) {
        std::string value = ctl::read_file(file);
        if (!value.empty() && value.back() == '\n') value.pop_back();
        all += (all.empty() ? "" : " ") + value;
    }
    return all;
}

std::string CtlTest::tunables() const {
    std::vector<std::string> found;
    for (const char* policy : {"policy0", "policy4"}) {
        const std::string dir = dev_ + kPolicy + "/" + policy;
        DIR* d = opendir(dir.c_str());
        while (dirent* sub = d ? readdir(d) : nullptr) {
            if (sub->d_name[0] == '.') continue;
            const std::string subdir = dir + "/" + sub->d_name;
            DIR* files = opendir(subdir.c_str());
            while (dirent* f = files ? readdir(files) : nullptr) {
                if (f->d_name[0] == '.') continue;
                std::string value = ctl::read_file(subdir + "/" + f->d_name);
                if (!value.empty() && value.back() == '\n') value.pop_back();
                found.push_back(std::string(policy) + "/" + sub->d_name + "/" + f->d_name + "=" +
                                value);
            }
            if (files) closedir(files);
        }
        if (d) closedir(d);
    }
    std::sort(found.begin(), found.end());
    std::string all;
    for (const auto& t : found)
        all += (all.empty() ? "" : " ") + t;
    return all;
}

void CtlTest::reboot(const std::string& boot_id) const {
    ctl::write_file(dev_ + "/proc/sys/kernel/random/boot_id", boot_id + "\n");
}

std::string CtlTest::profile_in_force() const {
    const std::string text = ctl::read_file(mod("current_profile"));
    return text.substr(0, text.find('\n') + 1);
}
