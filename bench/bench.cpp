// What one cycle costs: the floor of running and draining the dump command, the probe on the
// same dump, the game-list lookup, and a whole cycle; then heap allocations and resident memory.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "config.h"
#include "game_list.h"
#include "monitor.h"
#include "window_state.h"

// Counts every malloc-family call made while `g_counting` is set, except those the C library
// makes inside its own stream functions.
extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
extern "C" void __libc_free(void*);
static long g_allocations = 0;
static int g_counting = 0;
static int g_in_libc_stdio = 0;
static void count() {
    if (g_counting && !g_in_libc_stdio) ++g_allocations;
}
extern "C" void* malloc(size_t n) {
    count();
    return __libc_malloc(n);
}
extern "C" void* calloc(size_t n, size_t size) {
    count();
    return __libc_calloc(n, size);
}
extern "C" void* realloc(void* p, size_t n) {
    count();
    return __libc_realloc(p, n);
}
extern "C" void free(void* p) {
    __libc_free(p);
}

#define WRAP_STDIO(ret, name, params, args)                                          \
    extern "C" ret name params {                                                     \
        ++g_in_libc_stdio;                                                           \
        static auto real = reinterpret_cast<ret(*) params>(dlsym(RTLD_NEXT, #name)); \
        ret result = real args;                                                      \
        --g_in_libc_stdio;                                                           \
        return result;                                                               \
    }
WRAP_STDIO(FILE*, popen, (const char* c, const char* m), (c, m))
WRAP_STDIO(int, pclose, (FILE * f), (f))
WRAP_STDIO(FILE*, fopen, (const char* p, const char* m), (p, m))
WRAP_STDIO(FILE*, fdopen, (int fd, const char* m), (fd, m))
WRAP_STDIO(int, fclose, (FILE * f), (f))
WRAP_STDIO(char*, fgets, (char* s, int n, FILE* f), (s, n, f))

namespace {

const std::string kDir = BENCH_DIR;
const char kGame[] = "com.bench.game999";

void write_file(const std::string& path, const std::string& text, mode_t mode = 0644) {
    FILE* f = ::fopen(path.c_str(), "w");
    if (!f || fwrite(text.data(), 1, text.size(), f) != text.size() || ::fclose(f) != 0) {
        fprintf(stderr, "cannot write %s\n", path.c_str());
        exit(1);
    }
    chmod(path.c_str(), mode);
}

// A dump shaped like a phone's: policy, display contents, and 120 window blocks, about 300 KB.
// Android 10 and later print the focus in the display section, before the windows; Android 5-9
// print it only after the window list.
std::string make_dump(const char* focus, bool focus_last) {
    std::string d;
    char line[512];
    auto add = [&](const char* text) { d += text; };
    char focus_lines[512];
    snprintf(focus_lines, sizeof focus_lines,
             "  mCurrentFocus=Window{41b37570 u0 %s/%s.MainActivity}\n"
             "  mFocusedApp=ActivityRecord{8c1f0b3 u0 %s/.MainActivity t42}\n",
             focus, focus, focus);
    add("WINDOW MANAGER POLICY STATE (dumpsys window policy)\n");
    for (int i = 0; i < 20; ++i) {
        snprintf(line, sizeof line, "    mPolicySetting%d=%d mLastSystemUiFlags=0x%x\n", i, i,
                 i * 7);
        add(line);
    }
    add("    mAwake=true mScreenOnEarly=true mScreenOnFully=true\n");
    add("WINDOW MANAGER DISPLAY CONTENTS (dumpsys window displays)\n");
    add("  Display: mDisplayId=0 rootTasks=4\n    init=1080x2400 440dpi cur=1080x2400 "
        "app=1080x2274\n");
    if (!focus_last) add(focus_lines);
    add("WINDOW MANAGER WINDOWS (dumpsys window windows)\n");
    for (int w = 0; w < 120; ++w) {
        snprintf(line, sizeof line, "  Window #%d Window{%x u0 com.vendor.app%d/.Activity}:\n", w,
                 0x1a2b3c + w * 977, w);
        add(line);
        const int lines = 25 + w % 6;
        for (int l = 0; l < lines; ++l) {
            snprintf(line, sizeof line,
                     "    mDisplayId=0 rootTaskId=%d mSession=Session{%x %d:u0a%d} "
                     "mAttr%d={(0,0)(fillxfill) ty=BASE_APPLICATION fmt=TRANSLUCENT}\n",
                     w, 0x5f00 + l, 2000 + w, 10100 + l, l);
            add(line);
        }
    }
    if (focus_last) add(focus_lines);
    return d;
}

void setup() {
    mkdir(kDir.c_str(), 0755);
    mkdir((kDir + "/bin").c_str(), 0755);
    mkdir((kDir + "/Drovenmarke").c_str(), 0755);
    mkdir((kDir + "/Drovenmarke/Scripts").c_str(), 0755);
    write_file(kDir + "/dump-game.txt", make_dump(kGame, false));
    write_file(kDir + "/dump-launcher.txt", make_dump("com.android.launcher3", false));
    write_file(kDir + "/dump-early.txt", make_dump(kGame, false));
    write_file(kDir + "/dump-last.txt", make_dump(kGame, true));
    write_file(kDir + "/dump", kDir + "/dump-game.txt");
    // The stand-in prints the dump named in the file "dump".
    write_file(kDir + "/bin/dumpsys", "#!/bin/sh\nexec cat \"$(cat '" + kDir + "/dump')\"\n", 0755);
    std::string list = "# bench games\n";
    for (int i = 0; i < 1000; ++i)
        list += "com.bench.game" + std::to_string(i) + "\n";
    write_file(kDir + "/Drovenmarke/game.txt", list);
    write_file(kDir + "/Drovenmarke/Scripts/performance.sh", ":\n");
    write_file(kDir + "/Drovenmarke/Scripts/balanced.sh", ":\n");
    const std::string path = kDir + "/bin:" + getenv("PATH");
    setenv("PATH", path.c_str(), 1);
}

void use_dump(const char* which) {
    write_file(kDir + "/dump", kDir + "/dump-" + which + ".txt");
}

double cpu_seconds() {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

const char* const kPlacements[] = {"early", "last"};

// The CPU time of this process (user + system, from getrusage) per iteration, in us.
void report_cpu(benchmark::State& state, double cpu_start) {
    state.counters["cpu_us"] =
        benchmark::Counter((cpu_seconds() - cpu_start) * 1e6, benchmark::Counter::kAvgIterations);
}

// One cycle of what any reader pays: start the dump command and drain it with 64 KiB reads.
void floor_cycle() {
    static char buf[1 << 16];
    FILE* p = popen("dumpsys window", "r");
    size_t total = 0;
    ssize_t n;
    while ((n = read(fileno(p), buf, sizeof buf)) > 0)
        total += static_cast<size_t>(n);
    pclose(p);
    benchmark::DoNotOptimize(total);
}

// What any reader pays: start the dump command and drain its output with 64 KiB reads.
void BM_Floor(benchmark::State& state) {
    use_dump(kPlacements[state.range(0)]);
    const double cpu_start = cpu_seconds();
    for (auto _ : state)
        floor_cycle();
    report_cpu(state, cpu_start);
}

void BM_Probe(benchmark::State& state) {
    use_dump(kPlacements[state.range(0)]);
    system_state s;
    const double cpu_start = cpu_seconds();
    for (auto _ : state) {
        get_system_state(&s);
        benchmark::DoNotOptimize(s.focus_found);
    }
    report_cpu(state, cpu_start);
    if (strcmp(s.focused_package, kGame) != 0) state.SkipWithError("the probe missed the focus");
}

void BM_GameList(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(is_game_package(kGame));
}

void BM_Cycle(benchmark::State& state) {
    use_dump("early");
    system_state s;
    int previous = MODE_PERFORMANCE;  // unchanged mode: the steady cycle
    const double cpu_start = cpu_seconds();
    for (auto _ : state)
        benchmark::DoNotOptimize(run_cycle(&s, &previous));
    report_cpu(state, cpu_start);
}

BENCHMARK(BM_Floor)
    ->Name("floor: popen + drain")
    ->Arg(0)
    ->Arg(1)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(2);
BENCHMARK(BM_Probe)
    ->Name("probe: get_system_state")
    ->Arg(0)
    ->Arg(1)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(2);
BENCHMARK(BM_GameList)
    ->Name("is_game_package, 1000 entries")
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Cycle)
    ->Name("run_cycle, steady")
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(2);

double quantile(std::vector<double> v, double q) {
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(q * static_cast<double>(v.size() - 1) + 0.5)];
}

// The CPU time of this process (user + system) per cycle, the probe's over the floor's. One
// cycle of each in turn, the order flipping every cycle, so that whatever the machine does
// meanwhile (the other core running the dump command, other work) touches both alike; a ratio
// per round of `cycles` pairs, and the spread of the rounds.
int measure_ratios(int rounds, int cycles) {
    int status = 0;
    printf(
        "CPU of the daemon's process per cycle, floor and probe interleaved cycle by cycle, %d "
        "rounds of %d each; median [quartiles] (min-max) of the rounds:\n",
        rounds, cycles);
    for (const char* placement : kPlacements) {
        use_dump(placement);
        std::vector<double> floor_us, probe_us, ratio;
        system_state s;
        for (int r = 0; r < rounds; ++r) {
            double floor_cpu = 0, probe_cpu = 0;
            for (int i = 0; i < cycles; ++i) {
                for (int turn = 0; turn < 2; ++turn) {
                    const int probe = (turn + i) % 2;
                    const double start = cpu_seconds();
                    if (probe) {
                        get_system_state(&s);
                    } else {
                        floor_cycle();
                    }
                    (probe ? probe_cpu : floor_cpu) += cpu_seconds() - start;
                }
            }
            if (strcmp(s.focused_package, kGame) != 0 || floor_cpu <= 0) status = 1;
            floor_us.push_back(floor_cpu * 1e6 / cycles);
            probe_us.push_back(probe_cpu * 1e6 / cycles);
            ratio.push_back(probe_cpu / floor_cpu);
        }
        printf("  focus %-5s floor %.0f us [%.0f-%.0f], probe %.0f us [%.0f-%.0f]\n", placement,
               quantile(floor_us, 0.5), quantile(floor_us, 0.25), quantile(floor_us, 0.75),
               quantile(probe_us, 0.5), quantile(probe_us, 0.25), quantile(probe_us, 0.75));
        printf("cpu probe/floor, focus %s: %.2f [%.2f-%.2f] (%.2f-%.2f)\n", placement,
               quantile(ratio, 0.5), quantile(ratio, 0.25), quantile(ratio, 0.75),
               quantile(ratio, 0), quantile(ratio, 1));
    }
    return status;
}

// Keeps the median of each benchmark for the short table printed at the end.
class Recorder : public benchmark::BenchmarkReporter {
public:
    struct Times {
        double wall_us;
        double cpu_us;
    };
    bool ReportContext(const Context&) override { return true; }
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            if (run.aggregate_name.empty() || run.aggregate_name == "median") {
                auto cpu = run.counters.find("cpu_us");
                times[run.run_name.function_name + "/" + run.run_name.args] = {
                    run.GetAdjustedRealTime(),
                    cpu == run.counters.end() ? run.GetAdjustedCPUTime() : cpu->second.value};
            }
        }
    }
    std::map<std::string, Times> times;
};

// Resident memory from a walk of the page tables: all of it, and the anonymous part (heap,
// stack, data) that the process itself could grow.
struct Resident {
    long total_kib = -1;
    long anonymous_kib = -1;
};
Resident resident() {
    Resident r;
    FILE* f = ::fopen("/proc/self/smaps_rollup", "r");
    if (!f) return r;
    char line[256];
    while (::fgets(line, sizeof line, f)) {
        sscanf(line, "Rss: %ld kB", &r.total_kib);
        sscanf(line, "Anonymous: %ld kB", &r.anonymous_kib);
    }
    ::fclose(f);
    return r;
}

// 1000 cycles alternating a listed game and the launcher, as the daemon's main would run them
// (without the sleeps): every cycle is a change and launches a script.
void measure_cycles() {
    FILE* saved = fdopen(dup(1), "w");
    if (!freopen("/dev/null", "w", stdout)) return;
    static char out_buffer[1024];  // as the daemon's main sets it
    setvbuf(stdout, out_buffer, _IOLBF, sizeof out_buffer);
    system_state s;
    int previous = MODE_NONE;
    Resident after10, after100;
    g_counting = 1;
    for (int i = 1; i <= 1000; ++i) {
        g_counting = 0;
        use_dump(i % 2 ? "game" : "launcher");
        g_counting = 1;
        run_cycle(&s, &previous);
        if (i == 10 || i == 100) {
            g_counting = 0;
            (i == 10 ? after10 : after100) = resident();
            g_counting = 1;
        }
    }
    g_counting = 0;
    const Resident after1000 = resident();
    fprintf(saved, "heap allocations by the daemon's code in 1000 cycles: %ld\n", g_allocations);
    fprintf(saved, "resident memory (anonymous) after 10 cycles: %ld KiB (%ld KiB), ",
            after10.total_kib, after10.anonymous_kib);
    fprintf(saved, "after 100: %ld KiB (%ld KiB), after 1000: %ld KiB (%ld KiB)\n",
            after100.total_kib, after100.anonymous_kib, after1000.total_kib,
            after1000.anonymous_kib);
    fclose(saved);
}

}  // namespace

int main(int argc, char** argv) {
    setup();
    benchmark::Initialize(&argc, argv);
    if (argc > 1 && std::string(argv[1]) == "--cycles") {
        measure_cycles();
        return 0;
    }
    if (argc > 1 && std::string(argv[1]) == "--ratios")
        return measure_ratios(argc > 2 ? atoi(argv[2]) : 21, argc > 3 ? atoi(argv[3]) : 40);
    Recorder recorder;
    benchmark::RunSpecifiedBenchmarks(&recorder);
    printf("%-40s %12s %22s\n", "per cycle (median of 3)", "wall us", "cpu us (getrusage)");
    for (const auto& [name, t] : recorder.times) {
        std::string label = name;
        if (label.size() > 2 && label.compare(label.size() - 2, 2, "/0") == 0)
            label.replace(label.size() - 2, 2, ", focus early");
        else if (label.size() > 2 && label.compare(label.size() - 2, 2, "/1") == 0)
            label.replace(label.size() - 2, 2, ", focus last");
        else if (!label.empty() && label.back() == '/')
            label.pop_back();
        printf("%-40s %12.1f %22.1f\n", label.c_str(), t.wall_us, t.cpu_us);
    }
    int status = 0;
    for (const char* which : {"0", "1"}) {
        const auto floor = recorder.times["floor: popen + drain/" + std::string(which)];
        const auto probe = recorder.times["probe: get_system_state/" + std::string(which)];
        if (floor.cpu_us <= 0 || probe.cpu_us <= 0) status = 1;
        printf("wall probe/floor, focus %s: %.2f\n", which[0] == '0' ? "early" : "last",
               probe.wall_us / floor.wall_us);
    }
    return status;
}
