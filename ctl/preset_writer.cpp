#include "preset_writer.h"

#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "knobs.h"
#include "nodes.h"
#include "profile_run.h"
#include "snapshot.h"
#include "text_view.h"

namespace {

char current[VALUE_SIZE];
char steps[VALUE_SIZE];

// <dir>/<leaf> into a PATH_SIZE buffer; 0 when it does not fit.
int file_in(char* out, const char* dir, const char* leaf) {
    const int n = snprintf(out, PATH_SIZE, "%s/%s", dir, leaf);
    return n > 0 && n < static_cast<int>(PATH_SIZE);
}

long long read_number(const char* dir, const char* leaf) {
    char path[PATH_SIZE];
    char value[64];
    if (!file_in(path, dir, leaf) || !read_device_value(path, value, sizeof value)) return -1;
    long long n = 0;
    for (const char* c = value; *c; ++c) {
        if (*c < '0' || *c > '9') return -1;
        n = n * 10 + (*c - '0');
    }
    return n;
}

// Whether the device file exists and offers a write (the kernel refuses one that does not).
int writable_file(const char* device) {
    char path[PATH_SIZE];
    struct stat info;
    return device_path(path, sizeof path, device) && stat(path, &info) == 0 &&
           S_ISREG(info.st_mode) && (info.st_mode & 0222) && (info.st_mode & 0444);
}

struct walk {
    preset_plan* plan;
    const knob* k;
    int found;
    fixed_text<256> nodes;  // where this knob was changed
};

// One file of a knob: recorded with the device's own value, and planned.
void target(walk* w, const char* path, const char* node, const rule_input& facts) {
    if (!writable_file(path)) return;
    w->found = 1;
    if (w->plan->count == MAX_PLANNED) return;
    planned_write& write = w->plan->writes[w->plan->count];
    // Still held from before (a restore the kernel refused): the device's own value is the one
    // on record, whatever the file shows now.
    const std::string_view held = held_group(path);
    snapshot_line line;
    std::string_view ours;
    std::string_view own;
    std::string_view rest = held;
    if (!held.empty() && next_snapshot_line(&rest, &line) &&
        split_knob_value(line.value, &ours, &own) && ours.size() < sizeof write.value) {
        next_state.append(held);
        snprintf(write.value, sizeof write.value, "%.*s", static_cast<int>(ours.size()),
                 ours.data());
    } else {
        if (!read_device_value(path, current, sizeof current) || strchr(current, '\t')) return;
        rule_input in = facts;
        in.current = current;
        if (!knob_value(*w->k, in, write.value, sizeof write.value)) return;  // already so
        next_state.append("K ");
        next_state.append(path);
        next_state.append_char(' ');
        next_state.append(write.value);
        next_state.append_char('\t');
        next_state.append(current);
        next_state.append_char('\n');
    }
    snprintf(write.path, sizeof write.path, "%s", path);
    write.k = w->k;
    write.shown[0] = '\0';
    write.rounded = 0;
    ++w->plan->count;
    if (node[0]) {
        w->nodes.append(w->nodes.len ? ", " : "");
        w->nodes.append(node);
    }
}

// The CPU clusters whose maximum is above the smallest one's: the big ones (all of them on a
// phone whose clusters are alike).
void big_clusters(int* big) {
    long long smallest = -1;
    long long max[MAX_NODES];
    for (int i = 0; i < run.nodes.count; ++i) {
        max[i] = run.nodes.nodes[i].cpu_policy
                     ? read_number(run.nodes.nodes[i].dir, "cpuinfo_max_freq")
                     : -1;
        if (max[i] > 0 && (smallest < 0 || max[i] < smallest)) smallest = max[i];
    }
    int any = 0;
    for (int i = 0; i < run.nodes.count; ++i)
        any |= big[i] = max[i] > smallest;
    for (int i = 0; i < run.nodes.count && !any; ++i)
        big[i] = max[i] > 0;
}

void walk_knob(walk* w) {
    const knob& k = *w->k;
    char path[PATH_SIZE];
    switch (k.place) {
        case PLACE_FIXED:
            target(w, k.path, "", rule_input{});
            break;
        case PLACE_CPU_NODE: {
            int big[MAX_NODES];
            big_clusters(big);
            for (int i = 0; i < run.nodes.count; ++i) {
                const governor_node& node = run.nodes.nodes[i];
                if (!big[i]) continue;
                if (!file_in(path, node.dir, "scaling_available_frequencies") ||
                    !read_device_value(path, steps, sizeof steps))
                    steps[0] = '\0';
                if (!file_in(path, node.dir, k.path)) continue;
                target(w, path, node.name,
                       rule_input{{},
                                  steps,
                                  read_number(node.dir, "cpuinfo_max_freq"),
                                  read_number(node.dir, "scaling_max_freq")});
            }
            break;
        }
        case PLACE_CPU_GOVERNOR: {
            char seen[MAX_NODES * 2][PATH_SIZE];
            int seen_count = 0;
            for (int i = 0; i < run.nodes.count; ++i) {
                const governor_node& node = run.nodes.nodes[i];
                char file[PATH_SIZE];
                char governor[64];
                if (!node.cpu_policy) continue;
                governor_file(node, file, sizeof file);
                if (!read_device_value(file, governor, sizeof governor) ||
                    !plain_governor_name(governor))
                    continue;
                char dirs[2][PATH_SIZE];
                const int n = tunable_dirs(node, governor, dirs);
                for (int d = 0; d < n; ++d) {
                    int dup = 0;
                    for (int s = 0; s < seen_count; ++s)
                        dup |= strcmp(seen[s], dirs[d]) == 0;
                    if (dup || seen_count == MAX_NODES * 2) continue;
                    memcpy(seen[seen_count++], dirs[d], PATH_SIZE);
                    if (file_in(path, dirs[d], k.path))
                        target(w, path, d == 0 ? node.name : "all", rule_input{});
                }
            }
            break;
        }
        case PLACE_GPU:
            for (int i = 0; i < run.nodes.count; ++i) {
                const governor_node& node = run.nodes.nodes[i];
                if (node.cpu_policy) continue;
                if (!file_in(path, node.dir, "available_frequencies") ||
                    !read_device_value(path, steps, sizeof steps))
                    steps[0] = '\0';
                if (!file_in(path, node.dir, k.path)) continue;
                const long long max = read_number(node.dir, "max_freq");
                target(w, path, node.name, rule_input{{}, steps, max, max});
            }
            break;
    }
}

}  // namespace

void plan_preset(unsigned preset, preset_plan* plan) {
    plan->count = 0;
    plan->changed.clear();
    plan->absent.clear();
    int headroom_set = 0;
    for (int i = 0; i < KNOB_COUNT; ++i) {
        const knob& k = KNOBS[i];
        if (!(k.presets & preset) || (k.headroom && headroom_set)) continue;
        walk w{plan, &k, 0, {}};
        const int before = plan->count;
        walk_knob(&w);
        if (!w.found) {
            plan->absent.append(plan->absent.len ? ", " : "");
            plan->absent.append(k.name);
            continue;
        }
        headroom_set |= k.headroom;
        if (plan->count == before) continue;  // there, and already where the preset wants it
        plan->changed.append(plan->changed.len ? ", " : "");
        plan->changed.append(k.name);
        if (w.nodes.len) {
            plan->changed.append(" (");
            plan->changed.append(w.nodes.view());
            plan->changed.append(")");
        }
    }
}

int apply_plan(preset_plan* plan) {
    int took = 0;
    for (int i = 0; i < plan->count; ++i) {
        planned_write& w = plan->writes[i];
        if (!write_and_read_back(w.path, w.value, current, sizeof current)) continue;
        const knob_reading reading =
            read_knob(*w.k, w.value, current, limit_in_force(*w.k, w.path));
        took += still_ours(reading);
        w.rounded = reading == READ_ROUNDED && strlen(current) < sizeof w.shown;
        if (w.rounded) memcpy(w.shown, current, strlen(current) + 1);
    }
    return took;
}

int record_read_backs(const preset_plan& plan) {
    int any = 0;
    for (int i = 0; i < plan.count; ++i) {
        const planned_write& w = plan.writes[i];
        if (!w.rounded) continue;
        // The line this run recorded: "K <path> <value>\t<own>".
        char head[PATH_SIZE + 40];
        const int n = snprintf(head, sizeof head, "K %s %s\t", w.path, w.value);
        if (n <= 0 || n >= static_cast<int>(sizeof head)) continue;
        const std::string_view text = next_state.view();
        size_t at = text.find(head);
        while (at != std::string_view::npos && at > 0 && text[at - 1] != '\n')
            at = text.find(head, at + 1);
        const size_t old_len = strlen(w.value);
        const size_t new_len = strlen(w.shown);
        if (at == std::string_view::npos || next_state.len - old_len + new_len >= STATE_SIZE)
            continue;
        const size_t value_at = at + static_cast<size_t>(n) - 1 - old_len;
        memmove(next_state.data + value_at + new_len, next_state.data + value_at + old_len,
                next_state.len - value_at - old_len + 1);
        memcpy(next_state.data + value_at, w.shown, new_len);
        next_state.len = next_state.len - old_len + new_len;
        any = 1;
    }
    return any;
}
