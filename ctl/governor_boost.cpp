#include "governor_boost.h"

#include <dirent.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "files.h"
#include "nodes.h"
#include "profile_run.h"
#include "snapshot.h"
#include "text_view.h"

namespace {

state_text group_text = {};  // one node's lines while they are recorded
char value_buffer[VALUE_SIZE];

// Whether a device file shows a table (more than one line): walt's load_map, a freq_hist. The
// kernel fills it itself, and the governor shows its own again when it comes back.
int shows_table(const char* full) {
    const ssize_t n = read_small_file(full, value_buffer, sizeof value_buffer - 1);
    if (n <= 1) return 0;
    const size_t len = static_cast<size_t>(n) - (value_buffer[n - 1] == '\n');
    return memchr(value_buffer, '\n', len) != nullptr && memchr(value_buffer, '\0', len) == nullptr;
}

// Appends every readable, writable one-line file of a tunables directory to `out`, in name
// order; a table is passed over, named in `tables`. Answers 0, with the file's name in
// `failed`, when a one-line value cannot be recorded: a value that is not kept could never be
// put back.
int record_tunables(const char* dir, state_text* out, fixed_text<256>* failed,
                    fixed_text<256>* tables) {
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
            if (shows_table(full)) {
                tables->append(tables->len ? ", " : "");
                tables->append(names[i]);
                continue;
            }
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
                int* recorded_count, fixed_text<256>* failed, fixed_text<256>* tables) {
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
        if (!record_tunables(dirs[d], &group_text, failed, tables)) return 0;
        if (*recorded_count + added < MAX_NODES * 2)
            memcpy(recorded_dirs[*recorded_count + added++], dirs[d], PATH_SIZE);
    }
    *recorded_count += added;
    return !group_text.overflow;
}

}  // namespace

void record_governors(int* boost, fixed_text<1024>* not_recorded, fixed_text<1024>* tables) {
    // Each node's lines: the held ones (a node still waiting to be put back keeps its own
    // values, never the boosted ones it has now), else recorded now, before anything changes.
    static char recorded_dirs[MAX_NODES * 2][PATH_SIZE];
    int recorded_count = 0;
    for (int i = 0; i < run.nodes.count; ++i) {
        const governor_node& node = run.nodes.nodes[i];
        char file[PATH_SIZE];
        boost[i] = 0;
        if (!offers_performance(node)) continue;
        governor_file(node, file, sizeof file);
        const std::string_view held = held_group(file);
        if (!held.empty()) {
            next_state.append(held);
            boost[i] = 1;
            continue;
        }
        fixed_text<256> failed;
        fixed_text<256> passed;
        if (record_node(node, file, recorded_dirs, &recorded_count, &failed, &passed)) {
            next_state.append(group_text.view());
            boost[i] = 1;
            // Each of the node's tables, with the node's name.
            std::string_view rest = passed.view();
            while (!rest.empty()) {
                const size_t comma = rest.find(", ");
                tables->append(tables->len ? ", " : "");
                tables->append(node.name);
                tables->append_char(' ');
                tables->append(sub(rest, 0, comma));
                rest = comma == std::string_view::npos ? std::string_view() : sub(rest, comma + 2);
            }
        } else {
            not_recorded->append(not_recorded->len ? ", " : "");
            not_recorded->append(node.name);
            not_recorded->append_char(' ');
            not_recorded->append(failed.view());
        }
    }
}

void boost_governors(const int* boost, fixed_text<1024>* changed) {
    for (int i = 0; i < run.nodes.count; ++i) {
        char file[PATH_SIZE];
        governor_file(run.nodes.nodes[i], file, sizeof file);
        if (boost[i] && write_device_value(file, "performance")) {
            changed->append_char(' ');
            changed->append(run.nodes.nodes[i].name);
        }
    }
}
