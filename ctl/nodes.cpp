#include "nodes.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string_view>

#include "files.h"
#include "text_view.h"

namespace {

constexpr char CPUFREQ_DIR[] = "/sys/devices/system/cpu/cpufreq";
constexpr char KGSL_DIR[] = "/sys/class/kgsl/kgsl-3d0/devfreq";
constexpr char DEVFREQ_DIR[] = "/sys/class/devfreq";

int is_directory(const char* device) {
    char path[PATH_SIZE];
    struct stat info;
    return device_path(path, sizeof path, device) && stat(path, &info) == 0 &&
           S_ISDIR(info.st_mode);
}

void add_node(node_list* list, const char* dir, int cpu_policy, const char* name) {
    if (list->count >= MAX_NODES) return;
    governor_node* node = &list->nodes[list->count];
    if (snprintf(node->dir, sizeof node->dir, "%s", dir) >= static_cast<int>(sizeof node->dir))
        return;
    node->cpu_policy = cpu_policy;
    // A name too long for messages is shown cut; it is only ever printed.
    const size_t len = strlen(name);
    const size_t kept = len < sizeof node->name ? len : sizeof node->name - 1;
    memcpy(node->name, name, kept);
    node->name[kept] = '\0';
    ++list->count;
}

// "policy10" after "policy9".
int policy_number(const char* name) {
    return atoi(name + 6);
}

}  // namespace

void find_governor_nodes(node_list* list) {
    list->count = 0;
    char path[PATH_SIZE];
    char dir[PATH_SIZE];
    if (device_path(path, sizeof path, CPUFREQ_DIR)) {
        if (DIR* d = opendir(path)) {
            int numbers[MAX_NODES];
            int found = 0;
            while (dirent* entry = readdir(d)) {
                if (strncmp(entry->d_name, "policy", 6) != 0 || found == MAX_NODES) continue;
                const char* digits = entry->d_name + 6;
                if (!*digits || strspn(digits, "0123456789") != strlen(digits)) continue;
                numbers[found++] = policy_number(entry->d_name);
            }
            closedir(d);
            for (int i = 1; i < found; ++i)  // a few entries: insertion sort
                for (int j = i; j > 0 && numbers[j - 1] > numbers[j]; --j) {
                    const int t = numbers[j];
                    numbers[j] = numbers[j - 1];
                    numbers[j - 1] = t;
                }
            for (int i = 0; i < found; ++i) {
                char name[32];
                snprintf(name, sizeof name, "policy%d", numbers[i]);
                snprintf(dir, sizeof dir, "%s/%s", CPUFREQ_DIR, name);
                if (is_directory(dir)) add_node(list, dir, 1, name);
            }
        }
    }
    if (is_directory(KGSL_DIR)) add_node(list, KGSL_DIR, 0, "kgsl-3d0");
    if (device_path(path, sizeof path, DEVFREQ_DIR)) {
        if (DIR* d = opendir(path)) {
            while (dirent* entry = readdir(d)) {
                if (!strstr(entry->d_name, "mali")) continue;
                snprintf(dir, sizeof dir, "%s/%s", DEVFREQ_DIR, entry->d_name);
                if (is_directory(dir)) add_node(list, dir, 0, entry->d_name);
            }
            closedir(d);
        }
    }
}

void governor_file(const governor_node& node, char* out, size_t cap) {
    snprintf(out, cap, "%s/%s", node.dir, node.cpu_policy ? "scaling_governor" : "governor");
}

void available_file(const governor_node& node, char* out, size_t cap) {
    snprintf(out, cap, "%s/%s", node.dir,
             node.cpu_policy ? "scaling_available_governors" : "available_governors");
}

int tunable_dirs(const governor_node& node, const char* governor, char (*out)[PATH_SIZE]) {
    if (!node.cpu_policy) return 0;
    const int own = snprintf(out[0], PATH_SIZE, "%s/%s", node.dir, governor);
    const int shared = snprintf(out[1], PATH_SIZE, "%s/%s", CPUFREQ_DIR, governor);
    return own > 0 && own < static_cast<int>(PATH_SIZE) && shared > 0 &&
                   shared < static_cast<int>(PATH_SIZE)
               ? 2
               : 0;
}

int read_device_value(const char* device, char* out, size_t cap) {
    char path[PATH_SIZE];
    return device_path(path, sizeof path, device) && read_value(path, out, cap);
}

int offers_performance(const governor_node& node) {
    char file[PATH_SIZE];
    char list[VALUE_SIZE * 2];
    available_file(node, file, sizeof file);
    if (!read_device_value(file, list, sizeof list)) return 0;
    const std::string_view governors(list);
    size_t at = 0;
    while (at < governors.size()) {
        size_t end = governors.find(' ', at);
        if (end == std::string_view::npos) end = governors.size();
        if (sub(governors, at, end - at) == "performance") return 1;
        at = end + 1;
    }
    return 0;
}

namespace {

// Test builds let a program stand in for the kernel's reaction to a write (a governor switch
// replaces the old governor's tunables with the new one's defaults).
void kernel_hook(const char* path, const char* value) {
#ifdef TESSIVARCTL_TEST_BUILD
    const char* hook = getenv("TESSIVAR_KERNEL_HOOK");
    if (!hook || !hook[0]) return;
    const pid_t pid = fork();
    if (pid == 0) {
        execl(hook, hook, path, value, static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pid > 0)
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
#else
    (void)path;
    (void)value;
#endif
}

}  // namespace

int write_device_value(const char* device, const char* value) {
    char path[PATH_SIZE];
    if (!device_path(path, sizeof path, device)) return 0;
    // Never creates a file, and never follows a link put in a node file's place.
    const int fd = open_regular(path, O_WRONLY | O_TRUNC | O_NOFOLLOW);
    if (fd < 0) return 0;
    char line[VALUE_SIZE + 1];
    const int n = snprintf(line, sizeof line, "%s\n", value);
    int ok = n > 0 && static_cast<size_t>(n) < sizeof line &&
             write_all(fd, std::string_view(line, static_cast<size_t>(n)));
    ok = close(fd) == 0 && ok;  // sysfs may report a refusal only at close
    if (!ok) return 0;
    kernel_hook(path, value);
    char back[VALUE_SIZE];
    return read_value(path, back, sizeof back) && strcmp(back, value) == 0;
}
