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

#include "devfreq_gpu.h"
#include "files.h"
#include "knobs.h"
#include "snapshot.h"
#include "text_view.h"

namespace {

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

// Sorts a few numbers in place (insertion sort).
void sort_numbers(int* numbers, int count) {
    for (int i = 1; i < count; ++i)
        for (int j = i; j > 0 && numbers[j - 1] > numbers[j]; --j) {
            const int t = numbers[j];
            numbers[j] = numbers[j - 1];
            numbers[j - 1] = t;
        }
}

// The numbers N of the entries "<prefix>N" of a directory, in order.
int numbered_entries(const char* device_dir, const char* prefix, int* numbers, int cap) {
    char path[PATH_SIZE];
    if (!device_path(path, sizeof path, device_dir)) return 0;
    DIR* d = opendir(path);
    if (!d) return 0;
    const size_t prefix_len = strlen(prefix);
    int found = 0;
    while (dirent* entry = readdir(d)) {
        if (strncmp(entry->d_name, prefix, prefix_len) != 0 || found == cap) continue;
        const char* digits = entry->d_name + prefix_len;
        if (!*digits || strspn(digits, "0123456789") != strlen(digits) || strlen(digits) > 4)
            continue;
        numbers[found++] = atoi(digits);
    }
    closedir(d);
    sort_numbers(numbers, found);
    return found;
}

// A real directory, not a link to one: on 3.x kernels each cluster's CPUs link to the
// directory of one of them.
int is_real_directory(const char* device) {
    char path[PATH_SIZE];
    struct stat info;
    return device_path(path, sizeof path, device) && lstat(path, &info) == 0 &&
           S_ISDIR(info.st_mode);
}

// The last component of a link's target (a device's name, a driver's), or empty.
std::string_view link_name(const char* device, char* out, size_t cap) {
    char path[PATH_SIZE];
    if (!device_path(path, sizeof path, device)) return {};
    const ssize_t n = readlink(path, out, cap - 1);
    if (n <= 0) return {};
    out[n] = '\0';
    const char* slash = strrchr(out, '/');
    return slash ? std::string_view(slash + 1) : std::string_view(out);
}

// Whether two device paths lead to one directory (kgsl's devfreq is also a class entry).
int same_directory(const char* a, const char* b) {
    char pa[PATH_SIZE];
    char pb[PATH_SIZE];
    struct stat sa;
    struct stat sb;
    return device_path(pa, sizeof pa, a) && device_path(pb, sizeof pb, b) && stat(pa, &sa) == 0 &&
           stat(pb, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

int devfreq_gpu_at(const char* dir, std::string_view name) {
    if (bus_devfreq_name(name)) return 0;  // most of a phone's devfreq: no file read
    char file[PATH_SIZE];
    char governor[64] = "";
    char device[PATH_SIZE];
    char driver[PATH_SIZE];
    static char compatible[VALUE_SIZE];
    devfreq_facts facts{name, {}, {}, {}, {}};
    if (snprintf(file, sizeof file, "%s/governor", dir) < static_cast<int>(sizeof file) &&
        read_device_value(file, governor, sizeof governor))
        facts.governor = governor;
    if (snprintf(file, sizeof file, "%s/device", dir) < static_cast<int>(sizeof file))
        facts.device = link_name(file, device, sizeof device);
    if (snprintf(file, sizeof file, "%s/device/driver", dir) < static_cast<int>(sizeof file))
        facts.driver = link_name(file, driver, sizeof driver);
    char path[PATH_SIZE];
    // The compatible strings are NUL-separated; read whole, they are one text to search.
    if (snprintf(file, sizeof file, "%s/device/of_node/compatible", dir) <
            static_cast<int>(sizeof file) &&
        device_path(path, sizeof path, file)) {
        const ssize_t n = read_small_file(path, compatible, sizeof compatible);
        if (n > 0) facts.compatible = std::string_view(compatible, static_cast<size_t>(n));
    }
    return devfreq_is_gpu(facts);
}

void find_governor_nodes(node_list* list) {
    list->count = 0;
    char dir[PATH_SIZE];
    int numbers[MAX_NODES];
    // Linux 4.4 and later: one policyN directory per cluster.
    int found = numbered_entries(CPUFREQ_DIR, "policy", numbers, MAX_NODES);
    for (int i = 0; i < found; ++i) {
        char name[32];
        snprintf(name, sizeof name, "policy%d", numbers[i]);
        snprintf(dir, sizeof dir, "%s/%s", CPUFREQ_DIR, name);
        if (is_directory(dir)) add_node(list, dir, 1, name);
    }
    // 3.x: cpuN/cpufreq, a real directory for one CPU of each cluster and links to it for the
    // others; an offline CPU has none.
    if (list->count == 0) {
        found = numbered_entries(CPU_DIR, "cpu", numbers, MAX_NODES);
        for (int i = 0; i < found; ++i) {
            char name[32];
            snprintf(name, sizeof name, "cpu%d", numbers[i]);
            snprintf(dir, sizeof dir, "%s/%s/cpufreq", CPU_DIR, name);
            if (is_real_directory(dir)) add_node(list, dir, 1, name);
        }
    }
    const int kgsl = is_directory(KGSL_DIR);
    if (kgsl) add_node(list, KGSL_DIR, 0, "kgsl-3d0");
    char path[PATH_SIZE];
    if (device_path(path, sizeof path, DEVFREQ_DIR)) {
        if (DIR* d = opendir(path)) {
            while (dirent* entry = readdir(d)) {
                node_ref ref;
                if (snprintf(dir, sizeof dir, "%s/%s", DEVFREQ_DIR, entry->d_name) >=
                        static_cast<int>(sizeof dir) ||
                    !node_of_dir(dir, &ref) || !is_directory(dir) ||
                    (kgsl && same_directory(dir, KGSL_DIR)) || !devfreq_gpu_at(dir, ref.name))
                    continue;
                add_node(list, dir, 0, entry->d_name);
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

namespace {

// A device file: sysfs holds regular files only, so no fstat of its own; non-blocking so that
// nothing put in a node file's place can hold the run, and never through a link.
int open_device_file(const char* path, int flags) {
    return open(path, flags | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
}

}  // namespace

int read_device_value(const char* device, char* out, size_t cap) {
    char path[PATH_SIZE];
    return device_path(path, sizeof path, device) &&
           read_value_from(open_device_file(path, O_RDONLY), out, cap);
}

long long limit_in_force(const knob& k, const char* path) {
    const char* leaf = knob_limit_leaf(k);
    const char* slash = strrchr(path, '/');
    char file[PATH_SIZE];
    char value[32];
    if (!leaf || !slash ||
        snprintf(file, sizeof file, "%.*s/%s", static_cast<int>(slash - path), path, leaf) >=
            static_cast<int>(sizeof file) ||
        !read_device_value(file, value, sizeof value) || !value[0] || strlen(value) > 18)
        return -1;
    long long n = 0;
    for (const char* c = value; *c; ++c) {
        if (*c < '0' || *c > '9') return -1;
        n = n * 10 + (*c - '0');
    }
    return n;
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

int write_and_read_back(const char* device, const char* value, char* back, size_t cap) {
    char path[PATH_SIZE];
    if (!device_path(path, sizeof path, device)) return 0;
    // Never creates a file. A refused write is no answer yet: the read-back is (a value the
    // kernel already held counts as written).
    const size_t len = strlen(value);
    const int fd = len < VALUE_SIZE ? open_device_file(path, O_WRONLY | O_TRUNC) : -1;
    if (fd >= 0) {
        static char line[VALUE_SIZE + 1];
        memcpy(line, value, len);
        line[len] = '\n';
        const int ok = write_all(fd, std::string_view(line, len + 1));
        if (close(fd) == 0 && ok) kernel_hook(path, value);  // sysfs may refuse only at close
    }
    return read_value_from(open_device_file(path, O_RDONLY), back, cap);
}

int write_device_value(const char* device, const char* value) {
    static char back[VALUE_SIZE];
    return write_and_read_back(device, value, back, sizeof back) && same_value(back, value);
}
