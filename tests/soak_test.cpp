// Many cycles through the loop seam: nothing may pile up, neither descriptors, nor children,
// nor memory, and each change launches exactly one script.
#include <dirent.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "config.h"
#include "monitor.h"
#include "sandbox.h"

namespace {

int open_descriptors() {
    DIR* dir = opendir("/proc/self/fd");
    int n = 0;
    while (readdir(dir))
        ++n;
    closedir(dir);
    return n;
}

// Resident anonymous pages (heap, stack, data), from a walk of the page tables. File-backed
// pages come and go in 64 KiB steps as the kernel maps them around faults, and statm's
// counters are batched, so neither says whether the process grows.
long resident_pages() {
    FILE* f = fopen("/proc/self/smaps_rollup", "r");
    if (!f) return -1;
    long kib = -1;
    char line[256];
    while (fgets(line, sizeof line, f)) {
        if (sscanf(line, "Anonymous: %ld kB", &kib) == 1) break;
    }
    fclose(f);
    return kib < 0 ? -1 : kib * 1024 / sysconf(_SC_PAGESIZE);
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// The process's memory is its own only natively: under the sanitizers their bookkeeping grows,
// and under an emulator the emulator's translation cache does.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMemoryIsMeasurable = false;
#else
constexpr bool kMemoryIsMeasurable = sizeof(EMULATOR) == 1;
#endif

class SoakTest : public SandboxTest {};

// 200 cycles here (a leak of one descriptor, child or page per cycle shows long before that);
// bench.sh runs 2,000 and more through TESSIVAR_SOAK_CYCLES.
TEST_F(SoakTest, ManyCyclesAlternatingGameAndLauncher) {
    const std::string game =
        "    mAwake=true\n  mCurrentFocus=Window{41b37570 u0 com.example.game/.Main}\n";
    const std::string launcher =
        "    mAwake=true\n  mCurrentFocus=Window{41b37571 u0 com.android.launcher3/.Home}\n";
    const char* asked = getenv("TESSIVAR_SOAK_CYCLES");
    const int kCycles = asked && atoi(asked) >= 2 ? atoi(asked) : 200;

    system_state state{};
    int previous = MODE_NONE;
    int fds_after_first = 0, fds_after_last = 0;
    long pages_warm = 0, pages_last = 0;
    int wrong_launches = 0;
    const auto output = sandbox::capture([&] {
        for (int i = 1; i <= kCycles; ++i) {
            const bool is_game = i % 2;
            sandbox::set_dump(is_game ? game : launcher);
            run_cycle(&state, &previous);
            if (next_launch() != (is_game ? "performance" : "balanced")) ++wrong_launches;
            if (i == 1) fds_after_first = open_descriptors();
            // Early cycles still fault in libc's and the test's own working set.
            if (i == kCycles / 2) pages_warm = resident_pages();
        }
        fds_after_last = open_descriptors();
        pages_last = resident_pages();
    });

    EXPECT_EQ(fds_after_last, fds_after_first);
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);  // no child left, living or zombie
    EXPECT_EQ(errno, ECHILD);
    EXPECT_EQ(count(output.out, "State change detected: "), static_cast<size_t>(kCycles));
    EXPECT_EQ(count(output.out, "Executing: "), static_cast<size_t>(kCycles));
    EXPECT_EQ(wrong_launches, 0);
    pollfd extra{launches_fd_, POLLIN, 0};
    EXPECT_EQ(poll(&extra, 1, 0), 0) << "a launch no change asked for";
    EXPECT_EQ(output.err, "");
    if (kMemoryIsMeasurable) {
        EXPECT_LE(pages_last - pages_warm, 2) << pages_warm << " pages after " << kCycles / 2
                                              << " cycles, " << pages_last << " after " << kCycles;
    }
}

}  // namespace
