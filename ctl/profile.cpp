#include "profile.h"

#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "boot.h"
#include "ctl_config.h"
#include "files.h"
#include "fixed_text.h"
#include "locks.h"
#include "nodes.h"
#include "snapshot.h"

namespace {

constexpr size_t SNAPSHOT_SIZE = 64 * 1024;
fixed_text<SNAPSHOT_SIZE> recording;
char held_snapshot[SNAPSHOT_SIZE];

struct profile_context {
    char boot[BOOT_ID_SIZE];
    char snapshot_path[PATH_SIZE];
    node_list nodes;
};
profile_context context;

int switched_off() {
    return module_file_exists("disable") || module_file_exists("remove");
}

// The snapshot of this boot, or empty: one of another boot describes a kernel that is gone.
std::string_view load_snapshot() {
    const ssize_t n = read_small_file(context.snapshot_path, held_snapshot, sizeof held_snapshot);
    if (n <= 0) return {};
    const std::string_view text(held_snapshot, static_cast<size_t>(n));
    return snapshot_boot(text) == context.boot ? text : std::string_view();
}

// Appends every readable, writable one-line file of a tunables directory, in name order.
void record_tunables(const char* dir) {
    char path[PATH_SIZE];
    if (!device_path(path, sizeof path, dir)) return;
    DIR* d = opendir(path);
    if (!d) return;
    constexpr int MAX_FILES = 64;
    char names[MAX_FILES][64];
    int count = 0;
    while (dirent* entry = readdir(d)) {
        const size_t len = strlen(entry->d_name);
        if (entry->d_name[0] == '.' || count == MAX_FILES || len >= 64) continue;
        memcpy(names[count++], entry->d_name, len + 1);
    }
    closedir(d);
    for (int i = 1; i < count; ++i)
        for (int j = i; j > 0 && strcmp(names[j - 1], names[j]) > 0; --j) {
            char t[64];
            memcpy(t, names[j], 64);
            memcpy(names[j], names[j - 1], 64);
            memcpy(names[j - 1], t, 64);
        }
    for (int i = 0; i < count; ++i) {
        char device[PATH_SIZE];
        char full[PATH_SIZE];
        char value[VALUE_SIZE];
        struct stat info;
        const int n = snprintf(device, sizeof device, "%s/%s", dir, names[i]);
        if (n <= 0 || static_cast<size_t>(n) >= sizeof device) continue;
        // Mode bits, not access(): root may write anything, but the kernel refuses a file
        // that offers no write.
        if (!device_path(full, sizeof full, device) || stat(full, &info) != 0 ||
            !S_ISREG(info.st_mode) || !(info.st_mode & 0222) || !(info.st_mode & 0444))
            continue;
        if (!read_device_value(device, value, sizeof value)) continue;
        recording.append("T ");
        recording.append(device);
        recording.append_char(' ');
        recording.append(value);
        recording.append_char('\n');
    }
}

// Records every node that offers "performance": its governor and, for a CPU policy, its
// governor's tunables. A node whose governor cannot be read is left out, and so never boosted.
int record_snapshot() {
    recording.clear();
    recording.append("B ");
    recording.append(context.boot);
    recording.append_char('\n');
    char recorded_dirs[MAX_NODES * 2][PATH_SIZE];
    int recorded_count = 0;
    for (int i = 0; i < context.nodes.count; ++i) {
        const governor_node& node = context.nodes.nodes[i];
        char file[PATH_SIZE];
        char governor[VALUE_SIZE];
        if (!offers_performance(node)) continue;
        governor_file(node, file, sizeof file);
        if (!read_device_value(file, governor, sizeof governor) || !governor[0]) continue;
        recording.append("G ");
        recording.append(file);
        recording.append_char(' ');
        recording.append(governor);
        recording.append_char('\n');
        if (!plain_governor_name(governor)) continue;
        char dirs[2][PATH_SIZE];
        const int n = tunable_dirs(node, governor, dirs);
        for (int d = 0; d < n; ++d) {
            int seen = 0;  // the system-wide directory is shared by the policies
            for (int r = 0; r < recorded_count; ++r)
                seen |= strcmp(recorded_dirs[r], dirs[d]) == 0;
            if (seen || recorded_count == MAX_NODES * 2) continue;
            memcpy(recorded_dirs[recorded_count++], dirs[d], PATH_SIZE);
            record_tunables(dirs[d]);
        }
    }
    if (recording.overflow) {
        errno = EFBIG;
        return 0;
    }
    return replace_file(context.snapshot_path, recording.view(), 0600);
}

// current_profile: the profile in force on its first line, and on its second the launch that
// applied it (with the boot it belongs to), so that an older launch never undoes a newer one.
// One file, one atomic replace per run.
char current_profile_path[PATH_SIZE];
launch_stamp this_run;

void set_current_profile(const char* profile) {
    char text[256];
    char stamp[160];
    const int ok =
        format_stamp(stamp, sizeof stamp, context.boot, this_run) &&
        snprintf(text, sizeof text, "%s\n%s", profile, stamp) < static_cast<int>(sizeof text);
    if (!ok || !replace_file(current_profile_path, text, 0644))
        fprintf(stderr, "tessivarctl: could not record the profile in force: %s\n",
                strerror(errno));
}

int apply_balanced(int quiet) {
    const std::string_view snapshot = load_snapshot();
    if (snapshot.empty()) {
        remove_file(context.snapshot_path);  // another boot's, if any
        set_current_profile("balanced");
        if (!quiet) printf("balanced: nothing to restore; nothing changed\n");
        return 0;
    }
    char recorded[MAX_NODES][64] = {};
    int restored = 0;
    int refused = 0;
    int ignored = 0;
    fixed_text<1024> refused_names;
    std::string_view rest = snapshot;
    snapshot_line line;
    while (next_snapshot_line(&rest, &line)) {
        if (line.kind != 'G' && line.kind != 'T') continue;
        // Only what a snapshot may name: a node's governor file, or a file directly inside a
        // directory of the governor recorded for that node. Nothing else, whatever it says.
        int node_index = -1;
        for (int i = 0; i < context.nodes.count && node_index < 0; ++i) {
            const governor_node& node = context.nodes.nodes[i];
            if (line.kind == 'G') {
                char file[PATH_SIZE];
                governor_file(node, file, sizeof file);
                if (line.path == file) node_index = i;
            } else if (node.cpu_policy && recorded[i][0] &&
                       tunable_path_allowed(line.path, node.dir, recorded[i])) {
                node_index = i;
            }
        }
        if (node_index < 0 || line.value.size() >= VALUE_SIZE || line.path.size() >= PATH_SIZE) {
            ++ignored;
            continue;
        }
        if (line.kind == 'G') {
            const int plain = plain_governor_name(line.value);
            snprintf(recorded[node_index], sizeof recorded[node_index], "%.*s",
                     plain ? static_cast<int>(line.value.size()) : 0, line.value.data());
        }
        char path[PATH_SIZE];
        char value[VALUE_SIZE];
        char now[VALUE_SIZE];
        snprintf(path, sizeof path, "%.*s", static_cast<int>(line.path.size()), line.path.data());
        snprintf(value, sizeof value, "%.*s", static_cast<int>(line.value.size()),
                 line.value.data());
        // Already so (a governor the kernel never let go of) counts as put back.
        if ((read_device_value(path, now, sizeof now) && strcmp(now, value) == 0) ||
            write_device_value(path, value)) {
            ++restored;
        } else {
            ++refused;
            const char* name = context.nodes.nodes[node_index].name;
            if (line.kind == 'G') {
                refused_names.append(refused_names.len ? ", " : "");
                refused_names.append(name);
                refused_names.append(" governor");
            } else {
                const char* leaf = strrchr(path, '/');
                refused_names.append(refused_names.len ? ", " : "");
                refused_names.append(name);
                refused_names.append_char(' ');
                refused_names.append(leaf ? leaf + 1 : path);
            }
        }
    }
    set_current_profile("balanced");
    if (refused == 0) {
        // All of it took: the record has served. Kept otherwise, so the next balanced tries
        // again and no later snapshot records a boosted node as the device's own.
        if (!remove_file(context.snapshot_path))
            fprintf(stderr, "tessivarctl: could not drop the snapshot: %s\n", strerror(errno));
    }
    if (!quiet) {
        printf("balanced: restored %d setting(s) of the device's own, %d refused", restored,
               refused);
        if (refused) printf(" (%s; kept to try again at the next balanced)", refused_names.c_str());
        if (ignored) printf("; ignored %d line(s) that name no governor setting", ignored);
        printf("\n");
    }
    return 0;
}

int apply_performance() {
    if (switched_off()) {
        apply_balanced(1);
        printf(
            "performance: the module is switched off in the root manager; balanced profile "
            "kept\n");
        return 0;
    }
    std::string_view snapshot = load_snapshot();
    if (snapshot.empty()) {
        if (!record_snapshot()) {
            fprintf(stderr, "tessivarctl: %s: %s\n", context.snapshot_path, strerror(errno));
            printf("performance: could not record the device's settings; nothing changed\n");
            return 1;
        }
        snapshot = recording.view();
    }
    // Only a node whose own state is in the snapshot is boosted: what is not recorded could
    // never be put back.
    fixed_text<1024> changed;
    for (int i = 0; i < context.nodes.count; ++i) {
        const governor_node& node = context.nodes.nodes[i];
        char file[PATH_SIZE];
        governor_file(node, file, sizeof file);
        if (recorded_governor(snapshot, file).empty() || !offers_performance(node)) continue;
        if (write_device_value(file, "performance")) {
            changed.append_char(' ');
            changed.append(node.name);
        }
    }
    set_current_profile("performance");
    printf("performance: governor set to performance on:%s\n",
           changed.len ? changed.c_str() : " nothing");
    return 0;
}

}  // namespace

int run_profile(const char* which) {
    const int performance = strcmp(which, "performance") == 0;
    if (!performance && strcmp(which, "balanced") != 0) {
        fprintf(stderr, "usage: tessivarctl profile performance|balanced\n");
        return 2;
    }
    this_run = this_launch();
    if (!directory_writable(module_dir())) {
        printf("%s: cannot write to %s (%s); nothing changed\n", which, module_dir(),
               strerror(errno));
        return 1;
    }
    if (!read_boot_id(context.boot, sizeof context.boot)) {
        printf("%s: cannot read the kernel's boot_id; nothing changed\n", which);
        return 1;
    }
    char lock_path[PATH_SIZE];
    module_path(lock_path, sizeof lock_path, ".profile.lock");
    module_path(current_profile_path, sizeof current_profile_path, "current_profile");
    module_path(context.snapshot_path, sizeof context.snapshot_path, "snapshot");
    const int lock = take_lock(lock_path);
    if (lock < 0) {
        printf("%s: cannot take %s (%s); nothing changed\n", which, lock_path, strerror(errno));
        return 1;
    }

    // The last launched is the one in force: a launch that waited here while a later one was
    // applied changes nothing. A launch of another boot counts as none.
    char state[256];
    launch_stamp last;
    std::string_view applied;
    const ssize_t n = read_small_file(current_profile_path, state, sizeof state);
    if (n > 0 &&
        parse_profile_state(std::string_view(state, static_cast<size_t>(n)), context.boot, &applied,
                            &last) &&
        !launched_after(this_run, last)) {
        printf("%s: a later launch has already been applied; nothing changed\n", which);
        close(lock);
        return 0;
    }
    find_governor_nodes(&context.nodes);
    const int status = performance ? apply_performance() : apply_balanced(0);
    fflush(stdout);
    close(lock);
    return status;
}
