#include "restore.h"

#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "knobs.h"
#include "nodes.h"
#include "profile_run.h"
#include "snapshot.h"
#include "text_view.h"

namespace {

char value_buffer[VALUE_SIZE];
char now_buffer[VALUE_SIZE];

int device_directory_exists(std::string_view dir) {
    char device[PATH_SIZE];
    char path[PATH_SIZE];
    struct stat info;
    return snprintf(device, sizeof device, "%.*s", static_cast<int>(dir.size()), dir.data()) <
               static_cast<int>(sizeof device) &&
           device_path(path, sizeof path, device) && stat(path, &info) == 0 &&
           S_ISDIR(info.st_mode);
}

// A devfreq node named by a state line that is there now but is no GPU (a bus, whatever the
// state says): nothing of it is written.
int not_a_gpu(const node_ref& node, int present) {
    if (node.cpu_policy || node.dir == KGSL_DIR || !present) return 0;
    char dir[PATH_SIZE];
    snprintf(dir, sizeof dir, "%.*s", static_cast<int>(node.dir.size()), node.dir.data());
    return !devfreq_gpu_at(dir, node.name);
}

// A state line's value written to its file, and read back.
int write_line(const snapshot_line& line) {
    char path[PATH_SIZE];
    snprintf(path, sizeof path, "%.*s", static_cast<int>(line.path.size()), line.path.data());
    memcpy(value_buffer, line.value.data(), line.value.size());
    value_buffer[line.value.size()] = '\0';
    return write_device_value(path, value_buffer);
}

int device_file_exists(std::string_view file) {
    char device[PATH_SIZE];
    char path[PATH_SIZE];
    struct stat info;
    return snprintf(device, sizeof device, "%.*s", static_cast<int>(file.size()), file.data()) <
               static_cast<int>(sizeof device) &&
           device_path(path, sizeof path, device) && lstat(path, &info) == 0 &&
           S_ISREG(info.st_mode);
}

void name_path(fixed_text<1024>* names, std::string_view node, std::string_view what) {
    names->append(names->len ? ", " : "");
    if (!node.empty()) {
        names->append(node);
        names->append_char(' ');
    }
    names->append(what);
}

std::string_view leaf_of(std::string_view path) {
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : sub(path, slash + 1);
}

void note_pending(restore_counts* counts, std::string_view node) {
    const std::string_view shown = counts->pending_nodes.view();
    // Each node once.
    for (size_t at = 0; at < shown.size();) {
        size_t end = shown.find(", ", at);
        if (end == std::string_view::npos) end = shown.size();
        if (sub(shown, at, end - at) == node) return;
        at = end + 2;
    }
    counts->pending_nodes.append(counts->pending_nodes.len ? ", " : "");
    counts->pending_nodes.append(node);
}

// A node's governor and tunables. Only what a snapshot may name is written: the node's governor
// file and files directly inside a directory of the governor recorded for it. Answers whether
// any line was refused; then the node's lines are kept.
int restore_governor_group(const snapshot_group& group, restore_counts* counts) {
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
    if (not_a_gpu(node, present)) {
        while (next_snapshot_line(&rest, &line))
            ++counts->ignored;
        return 0;
    }
    std::string_view governor;
    int refused = 0;
    int governor_took = 0;
    // Tunables refused although their governor is back and their file is there: tried once
    // more after the others (a tunable may depend on another), then passed over.
    constexpr int MAX_DEFERRED = 16;
    snapshot_line deferred[MAX_DEFERRED];
    int deferred_count = 0;
    while (next_snapshot_line(&rest, &line)) {
        const int allowed =
            line.kind == 'G' || (line.kind == 'T' && node.cpu_policy &&
                                 tunable_path_allowed(line.path, node.dir, governor));
        if (!allowed || line.value.size() >= VALUE_SIZE || line.path.size() >= PATH_SIZE) {
            ++counts->ignored;
            continue;
        }
        if (line.kind == 'G') governor = plain_governor_name(line.value) ? line.value : "";
        if (present && write_line(line)) {
            ++counts->restored;
            governor_took |= line.kind == 'G';
        } else if (present && governor_took && line.kind == 'T' && deferred_count < MAX_DEFERRED &&
                   device_file_exists(line.path)) {
            deferred[deferred_count++] = line;
        } else {
            ++counts->refused;
            refused = 1;
            name_path(&counts->refused_names, node.name,
                      line.kind == 'G' ? std::string_view("governor") : leaf_of(line.path));
        }
    }
    // What the kernel will not take back is its own: retrying it would wake the phone for
    // nothing, for the rest of the boot.
    for (int i = 0; i < deferred_count; ++i) {
        if (write_line(deferred[i])) {
            ++counts->restored;
        } else {
            ++counts->passed;
            name_path(&counts->passed_names, node.name, leaf_of(deferred[i].path));
        }
    }
    if (refused) note_pending(counts, node.name);
    return refused;
}

// A knob a preset set: put back only while it still holds our request, by the kernel's own
// rules (a floor cut down to a cap, a value kept in its own units, are still ours). Answers
// whether it was refused (then it is kept).
int restore_knob(const snapshot_group& group, restore_counts* counts) {
    std::string_view rest = group.text;
    snapshot_line line;
    std::string_view ours;
    std::string_view own;
    const knob* k = nullptr;
    if (!next_snapshot_line(&rest, &line) || !(k = knob_of_path(line.path)) ||
        !split_knob_value(line.value, &ours, &own) || own.size() >= VALUE_SIZE ||
        line.path.size() >= PATH_SIZE) {
        ++counts->ignored;
        return 0;
    }
    node_ref gpu;
    if (k->place == PLACE_GPU && node_of_dir(sub(line.path, 0, line.path.rfind('/')), &gpu) &&
        not_a_gpu(gpu, device_directory_exists(gpu.dir))) {
        ++counts->ignored;
        return 0;
    }
    char path[PATH_SIZE];
    snprintf(path, sizeof path, "%.*s", static_cast<int>(line.path.size()), line.path.data());
    memcpy(value_buffer, own.data(), own.size());
    value_buffer[own.size()] = '\0';
    std::string_view node;
    std::string_view what;
    setting_name(line.path, &node, &what);
    const int readable = read_device_value(path, now_buffer, sizeof now_buffer);
    const long long max = readable ? limit_in_force(*k, path) : -1;
    if (readable && same_value(now_buffer, own)) {
        ++counts->restored;  // already the device's own
        return 0;
    }
    if (readable && !still_ours(read_knob(*k, ours, now_buffer, max))) {
        // The Power HAL or a thermal engine has written it since: its value stands.
        ++counts->left;
        name_path(&counts->left_names, node, what);
        return 0;
    }
    if (readable && write_and_read_back(path, value_buffer, now_buffer, sizeof now_buffer) &&
        still_ours(read_knob(*k, value_buffer, now_buffer, limit_in_force(*k, path)))) {
        ++counts->restored;
        return 0;
    }
    ++counts->refused;
    name_path(&counts->refused_names, node, what);
    note_pending(counts, node.empty() ? what : node);
    return 1;
}

}  // namespace

void restore_held(restore_counts* counts) {
    std::string_view rest = run.has_state ? run.state.held : std::string_view();
    snapshot_group group;
    while (next_snapshot_group(&rest, &group)) {
        if (group.kind == 'P' || group.kind == 'X') continue;  // what was in force, not settings
        const int keep =
            group.kind == 'K' ? restore_knob(group, counts) : restore_governor_group(group, counts);
        if (keep) next_state.append(group.text);
    }
}
