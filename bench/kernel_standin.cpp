// Stands in for the kernel's side of a write, for ctl_bench: selecting a CPU governor replaces
// the old governor's tunables directory with the new one's defaults, as cpufreq does.
//   kernel_standin PATH VALUE     (tessivarctl's test build runs it after each write)
// The defaults of governor G are the files of $BENCH_KERNEL_DEFAULTS/G; without it, it does
// nothing (what its process alone costs).
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t PATH = 4096;

// DIR/NAME into `out`; 0 when it does not fit.
int join(char* out, const char* dir, const char* name) {
    const int n = snprintf(out, PATH, "%s/%s", dir, name);
    return n > 0 && static_cast<size_t>(n) < PATH;
}

void remove_tree(const char* dir) {
    if (DIR* d = opendir(dir)) {
        while (dirent* entry = readdir(d)) {
            if (entry->d_name[0] == '.') continue;
            char path[PATH];
            if (join(path, dir, entry->d_name)) unlink(path);
        }
        closedir(d);
    }
    rmdir(dir);
}

void copy_file(const char* from, const char* to) {
    char text[4096];
    const int in = open(from, O_RDONLY);
    if (in < 0) return;
    const ssize_t n = read(in, text, sizeof text);
    close(in);
    const int out = open(to, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0) return;
    if (n > 0 && write(out, text, static_cast<size_t>(n)) != n) perror(to);
    close(out);
}

void swap_tunables(const char* path, const char* governor) {
    const char* defaults = getenv("BENCH_KERNEL_DEFAULTS");
    if (!defaults) return;
    const char* slash = strrchr(path, '/');
    if (!slash || strcmp(slash, "/scaling_governor") != 0) return;
    char policy[PATH];
    const int n = snprintf(policy, sizeof policy, "%.*s", static_cast<int>(slash - path), path);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof policy) return;
    // The old governor's directory goes: every directory of the policy holds a governor's
    // tunables here.
    if (DIR* d = opendir(policy)) {
        while (dirent* entry = readdir(d)) {
            if (entry->d_name[0] == '.' || entry->d_type != DT_DIR ||
                !strcmp(entry->d_name, "stats"))
                continue;
            char dir[PATH];
            if (join(dir, policy, entry->d_name)) remove_tree(dir);
        }
        closedir(d);
    }
    char from_dir[PATH];
    char to_dir[PATH];
    if (!join(from_dir, defaults, governor) || !join(to_dir, policy, governor)) return;
    DIR* d = opendir(from_dir);
    if (!d) return;
    mkdir(to_dir, 0755);
    while (dirent* entry = readdir(d)) {
        if (entry->d_name[0] == '.') continue;
        char from[PATH], to[PATH];
        if (join(from, from_dir, entry->d_name) && join(to, to_dir, entry->d_name))
            copy_file(from, to);
    }
    closedir(d);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    swap_tunables(argv[1], argv[2]);
    return 0;
}
