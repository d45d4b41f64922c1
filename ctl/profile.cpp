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
#include "text_view.h"

namespace {

// A page per value at most, for every tunable of every node: far more than any phone has.
constexpr size_t STATE_SIZE = 512 * 1024;
char held_text[STATE_SIZE];
fixed_text<STATE_SIZE> next_state;  // the state file this run writes
fixed_text<STATE_SIZE> group_text;  // one node's lines while they are recorded
char value_buffer[VALUE_SIZE];

struct profile_run {
    char boot[BOOT_ID_SIZE];
    char state_path[PATH_SIZE];
    launch_stamp stamp;
    int has_state;  // a state of this boot was read
    profile_state state;
    node_list nodes;
};
profile_run run;

int switched_off() {
    return module_file_exists("disable") || module_file_exists("remove");
}

int device_directory_exists(std::string_view dir) {
    char device[PATH_SIZE];
    char path[PATH_SIZE];
    struct stat info;
    return snprintf(device, sizeof device, "%.*s", static_cast<int>(dir.size()), dir.data()) <
               static_cast<int>(sizeof device) &&
           device_path(path, sizeof path, device) && stat(path, &info) == 0 &&
           S_ISDIR(info.st_mode);
}

// The first two lines of the state file; the held lines follow them.
int begin_state(const char* profile, const launch_stamp& stamp) {
    char line[160];
    next_state.clear();
    next_state.append(profile);
    next_state.append_char('\n');
    if (!format_stamp(line, sizeof line, run.boot, stamp)) return 0;
    next_state.append(line);
    return 1;
}

int write_state() {
    if (next_state.overflow) {
        errno = EFBIG;
        return 0;
    }
    return replace_file(run.state_path, next_state.view(), 0644, 0);
}

// Appends every readable, writable one-line file of a tunables directory to `out`, in name
// order. Answers 0, with the file's name in `failed`, when one of them cannot be recorded: a
// value that is not kept could never be put back.
int record_tunables(const char* dir, fixed_text<STATE_SIZE>* out, fixed_text<256>* failed) {
    char path[PATH_SIZE];
    if (!device_path(path, sizeof path, dir)) return 1;
    DIR* d = opendir(path);
    if (!d) return 1;  // the governor has no directory of its own here
    constexpr int MAX_FILES = 96;
    char names[MAX_FILES][64];
    int count = 0;
    int too_many = 0;
    while (dirent* entry = readdir(d)) {
        const size_t len = strlen(entry->d_name);
        if (entry->d_name[0] == '.') continue;
        if (count == MAX_FILES || len >= 64) {
            too_many = 1;
            continue;
        }
        memcpy(names[count++], entry->d_name, len + 1);
    }
    closedir(d);
    if (too_many) {
        failed->append(dir);
        return 0;
    }
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
        struct stat info;
        const int n = snprintf(device, sizeof device, "%s/%s", dir, names[i]);
        if (n <= 0 || static_cast<size_t>(n) >= sizeof device) continue;
        // Mode bits, not access(): root may write anything, but the kernel refuses a file
        // that offers no write.
        if (!device_path(full, sizeof full, device) || stat(full, &info) != 0 ||
            !S_ISREG(info.st_mode) || !(info.st_mode & 0222) || !(info.st_mode & 0444))
            continue;
        if (!read_device_value(device, value_buffer, sizeof value_buffer)) {
            failed->append(names[i]);
            return 0;
        }
        out->append("T ");
        out->append(device);
        out->append_char(' ');
        out->append(value_buffer);
        out->append_char('\n');
    }
    return 1;
}

// Records one node: its governor and, for a CPU policy, its governor's tunables. 0 (naming
// what failed) when any of it cannot be recorded; then the node is not boosted at all.
int record_node(const governor_node& node, const char* file, char (*recorded_dirs)[PATH_SIZE],
                int* recorded_count, fixed_text<256>* failed) {
    group_text.clear();
    char governor[VALUE_SIZE];
    if (!read_device_value(file, governor, sizeof governor) || !governor[0]) {
        failed->append("governor");
        return 0;
    }
    group_text.append("G ");
    group_text.append(file);
    group_text.append_char(' ');
    group_text.append(governor);
    group_text.append_char('\n');
    if (!plain_governor_name(governor)) return 1;
    char dirs[2][PATH_SIZE];
    const int n = tunable_dirs(node, governor, dirs);
    int added = 0;
    for (int d = 0; d < n; ++d) {
        int seen = 0;  // the system-wide directory is shared by the policies
        for (int r = 0; r < *recorded_count; ++r)
            seen |= strcmp(recorded_dirs[r], dirs[d]) == 0;
        if (seen) continue;
        if (!record_tunables(dirs[d], &group_text, failed)) return 0;
        if (*recorded_count + added < MAX_NODES * 2)
            memcpy(recorded_dirs[*recorded_count + added++], dirs[d], PATH_SIZE);
    }
    *recorded_count += added;
    return !group_text.overflow;
}

// The held group for governor file `file`, or empty.
std::string_view held_group(std::string_view file) {
    if (!run.has_state) return {};
    std::string_view rest = run.state.held;
    snapshot_group group;
    while (next_snapshot_group(&rest, &group))
        if (group.governor_file == file) return group.text;
    return {};
}

struct restore_counts {
    int restored = 0;
    int refused = 0;
    int ignored = 0;
    fixed_text<1024> refused_names;
    fixed_text<512> pending_nodes;
};

void name_refusal(restore_counts* counts, std::string_view node, char kind, std::string_view path) {
    counts->refused_names.append(counts->refused_names.len ? ", " : "");
    counts->refused_names.append(node);
    counts->refused_names.append_char(' ');
    if (kind == 'G') {
        counts->refused_names.append("governor");
    } else {
        const size_t slash = path.rfind('/');
        counts->refused_names.append(slash == std::string_view::npos ? path : sub(path, slash + 1));
    }
}

// Writes back one node's lines. Only what a snapshot may name is written: the node's governor
// file and files directly inside a directory of the governor recorded for it, whatever else a
// line says. Answers whether any line was refused; then the node's lines are kept.
int restore_group(const snapshot_group& group, restore_counts* counts) {
    node_ref node;
    std::string_view rest = group.text;
    snapshot_line line;
    if (group.governor_file.empty() || !node_of_governor_file(group.governor_file, &node)) {
        while (next_snapshot_line(&rest, &line))
            ++counts->ignored;
        return 0;
    }
    // A node that is gone now (hotplug, a driver re-probe) takes nothing: all of it is kept
    // for when it comes back.
    const int present = device_directory_exists(node.dir);
    std::string_view governor;
    int refused = 0;
    while (next_snapshot_line(&rest, &line)) {
        const int allowed =
            line.kind == 'G' || (line.kind == 'T' && node.cpu_policy &&
                                 tunable_path_allowed(line.path, node.dir, governor));
        if (!allowed || line.value.size() >= VALUE_SIZE || line.path.size() >= PATH_SIZE) {
            ++counts->ignored;
            continue;
        }
        if (line.kind == 'G') governor = plain_governor_name(line.value) ? line.value : "";
        char path[PATH_SIZE];
        snprintf(path, sizeof path, "%.*s", static_cast<int>(line.path.size()), line.path.data());
        memcpy(value_buffer, line.value.data(), line.value.size());
        value_buffer[line.value.size()] = '\0';
        if (present && write_device_value(path, value_buffer)) {
            ++counts->restored;
        } else {
            ++counts->refused;
            refused = 1;
            name_refusal(counts, node.name, line.kind, line.path);
        }
    }
    if (refused) {
        counts->pending_nodes.append(counts->pending_nodes.len ? ", " : "");
        counts->pending_nodes.append(node.name);
    }
    return refused;
}

// Writes back every held group; the groups with a refusal go into the next state.
void restore_held(restore_counts* counts) {
    std::string_view rest = run.has_state ? run.state.held : std::string_view();
    snapshot_group group;
    while (next_snapshot_group(&rest, &group))
        if (restore_group(group, counts)) next_state.append(group.text);
}

// balanced, and the retries of what it could not put back. `profile` is what the state file
// says afterwards.
int apply_balanced(const char* profile, const launch_stamp& stamp, int quiet, int retry) {
    restore_counts counts;
    if (!begin_state(profile, stamp)) return 1;
    const int held = run.has_state && !run.state.held.empty();
    if (held) restore_held(&counts);
    if (retry && counts.restored == 0 && counts.ignored == 0) return 0;  // nothing came back yet
    const int same = run.has_state && run.state.profile == profile &&
                     run.state.stamp.start_ticks == stamp.start_ticks && !held;
    const int written = same || write_state();
    const int saved = errno;
    if (quiet) return 0;
    if (!held) {
        printf("balanced: nothing to restore; nothing changed\n");
    } else {
        printf("balanced: %s%d setting(s) of the device's own, %d refused",
               retry ? "retried the restore: restored " : "restored ", counts.restored,
               counts.refused);
        if (counts.refused)
            printf(" (%s; kept to try again; restore pending: %s)", counts.refused_names.c_str(),
                   counts.pending_nodes.c_str());
        if (counts.ignored)
            printf("; ignored %d line(s) that name no governor setting", counts.ignored);
        printf("\n");
    }
    if (!written)
        printf(
            "balanced: could not update %s (%s); the device's settings are back, the "
            "record of them stays\n",
            run.state_path, strerror(saved));
    return 0;
}

int apply_performance() {
    find_governor_nodes(&run.nodes);
    if (!begin_state("performance", run.stamp)) return 1;
    // Each node's lines: the held ones (a node still waiting to be put back keeps its own
    // values, never the boosted ones it has now), else recorded now, before anything changes.
    char recorded_dirs[MAX_NODES * 2][PATH_SIZE];
    int recorded_count = 0;
    int boost[MAX_NODES] = {};
    fixed_text<1024> not_recorded;
    for (int i = 0; i < run.nodes.count; ++i) {
        const governor_node& node = run.nodes.nodes[i];
        char file[PATH_SIZE];
        if (!offers_performance(node)) continue;
        governor_file(node, file, sizeof file);
        const std::string_view held = held_group(file);
        if (!held.empty()) {
            next_state.append(held);
            boost[i] = 1;
            continue;
        }
        fixed_text<256> failed;
        if (record_node(node, file, recorded_dirs, &recorded_count, &failed)) {
            next_state.append(group_text.view());
            boost[i] = 1;
        } else {
            not_recorded.append(not_recorded.len ? ", " : "");
            not_recorded.append(node.name);
            not_recorded.append_char(' ');
            not_recorded.append(failed.view());
        }
    }
    // Held lines of nodes that are gone stay held.
    std::string_view rest = run.has_state ? run.state.held : std::string_view();
    snapshot_group group;
    while (next_snapshot_group(&rest, &group)) {
        int present = 0;
        for (int i = 0; i < run.nodes.count && !present; ++i) {
            char file[PATH_SIZE];
            governor_file(run.nodes.nodes[i], file, sizeof file);
            present = boost[i] && group.governor_file == file;
        }
        if (!present) next_state.append(group.text);
    }
    if (!write_state()) {
        fprintf(stderr, "tessivarctl: %s: %s\n", run.state_path, strerror(errno));
        printf("performance: could not record the device's settings; nothing changed\n");
        return 1;
    }
    fixed_text<1024> changed;
    for (int i = 0; i < run.nodes.count; ++i) {
        char file[PATH_SIZE];
        governor_file(run.nodes.nodes[i], file, sizeof file);
        if (boost[i] && write_device_value(file, "performance")) {
            changed.append_char(' ');
            changed.append(run.nodes.nodes[i].name);
        }
    }
    printf("performance: governor set to performance on:%s\n",
           changed.len ? changed.c_str() : " nothing");
    if (not_recorded.len)
        printf("performance: not boosted, since a setting could not be recorded: %s\n",
               not_recorded.c_str());
    return 0;
}

}  // namespace

int run_profile(const char* which, const char* option) {
    const int performance = strcmp(which, "performance") == 0;
    const int retry = strcmp(which, "retry") == 0;
    const int balanced = strcmp(which, "balanced") == 0;
    const int stopping = balanced && option && strcmp(option, "--stop") == 0;
    const int starting = balanced && option && strcmp(option, "--start") == 0;
    if ((!performance && !retry && !balanced) || (option && !stopping && !starting) ||
        (option && !balanced)) {
        fprintf(stderr, "usage: tessivarctl profile performance|balanced\n");
        return 2;
    }
    const char* name = retry ? "balanced" : which;
    run.stamp = this_launch();
    // A restore writes nothing in the module directory until its very end: only a boost needs
    // it writable first, to record what it changes.
    if (performance && !directory_writable(module_dir())) {
        printf("%s: cannot write to %s (%s); nothing changed\n", name, module_dir(),
               strerror(errno));
        return 1;
    }
    if (!read_boot_id(run.boot, sizeof run.boot)) {
        printf("%s: cannot read the kernel's boot_id; nothing changed\n", name);
        return 1;
    }
    module_path(run.state_path, sizeof run.state_path, "current_profile");
    char lock_path[PATH_SIZE];
    module_path(lock_path, sizeof lock_path, ".profile.lock");
    const int lock = take_lock(lock_path);
    if (lock < 0) {
        printf("%s: cannot take %s (%s); nothing changed\n", name, lock_path, strerror(errno));
        return 1;
    }
    const ssize_t n = read_small_file(run.state_path, held_text, sizeof held_text);
    run.has_state =
        n > 0 && parse_profile_state(std::string_view(held_text, static_cast<size_t>(n)), run.boot,
                                     &run.state);
    const int stopped = run.has_state && run.state.profile == "stopped";

    int status = 0;
    if (retry) {
        // Never a launch of its own: it only finishes the restore of the balanced in force.
        if (run.has_state && run.state.profile != "performance" && !run.state.held.empty())
            apply_balanced(stopped ? "stopped" : "balanced", run.state.stamp, 0, 1);
    } else if (stopping || starting) {
        // The supervisor's own start and stop apply whatever came before them.
        apply_balanced(stopping ? "stopped" : "balanced", run.stamp, 0, 0);
    } else if (run.has_state &&
               !launch_supersedes(run.stamp, !performance, run.state.stamp, run.state.profile)) {
        printf("%s: a later launch has already been applied; nothing changed\n", name);
    } else if (performance && (stopped || switched_off())) {
        apply_balanced(stopped ? "stopped" : "balanced", run.stamp, 1, 0);
        printf(stopped ? "performance: Tessivar is stopped; balanced profile kept\n"
                       : "performance: the module is switched off in the root manager; balanced "
                         "profile kept\n");
    } else if (performance) {
        status = apply_performance();
    } else {
        status = apply_balanced(stopped ? "stopped" : "balanced", run.stamp, 0, 0);
    }
    fflush(stdout);
    close(lock);
    return status;
}
