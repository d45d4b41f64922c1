#include "snapshot.h"

#include "devfreq_gpu.h"
#include "nodes.h"
#include "text_view.h"

int next_snapshot_line(std::string_view* text, snapshot_line* line) {
    if (text->empty()) return 0;
    size_t end = text->find('\n');
    const std::string_view whole = sub(*text, 0, end);
    text->remove_prefix(end == std::string_view::npos ? text->size() : end + 1);

    *line = snapshot_line{0, {}, {}};
    if (whole.size() < 3 || whole[1] != ' ') return 1;
    const std::string_view rest = sub(whole, 2);
    if (whole[0] == 'P' || whole[0] == 'X') {
        *line = snapshot_line{whole[0], {}, rest};
    } else if (whole[0] == 'G' || whole[0] == 'T' || whole[0] == 'K') {
        const size_t space = rest.find(' ');
        if (space == std::string_view::npos || space == 0) return 1;
        *line = snapshot_line{whole[0], sub(rest, 0, space), sub(rest, space + 1)};
    }
    return 1;
}

std::string_view recorded_governor(std::string_view snapshot, std::string_view governor_file) {
    snapshot_line line;
    while (next_snapshot_line(&snapshot, &line))
        if (line.kind == 'G' && line.path == governor_file) return line.value;
    return {};
}

int plain_governor_name(std::string_view name) {
    if (name.empty() || name.size() > 63) return 0;
    for (char c : name) {
        const int ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '_' || c == '-';
        if (!ok) return 0;
    }
    return 1;
}

namespace {

// `path` is <dir>/<governor>/<leaf> with a leaf that is one plain name.
int inside(std::string_view path, std::string_view dir, std::string_view governor) {
    if (path.size() <= dir.size() + governor.size() + 2) return 0;
    if (sub(path, 0, dir.size()) != dir || path[dir.size()] != '/') return 0;
    path.remove_prefix(dir.size() + 1);
    if (sub(path, 0, governor.size()) != governor || path[governor.size()] != '/') return 0;
    const std::string_view leaf = sub(path, governor.size() + 1);
    return !leaf.empty() && leaf[0] != '.' && leaf.find('/') == std::string_view::npos;
}

}  // namespace

int tunable_path_allowed(std::string_view path, std::string_view policy_dir,
                         std::string_view governor) {
    if (!plain_governor_name(governor)) return 0;
    return inside(path, policy_dir, governor) || inside(path, CPUFREQ_DIR, governor);
}

namespace {

int plain_entry_name(std::string_view name) {
    if (name.empty() || name[0] == '.' || name.size() >= 64) return 0;
    for (char c : name)
        if (c == '/' || c == ' ' || static_cast<unsigned char>(c) < 0x20) return 0;
    return 1;
}

}  // namespace

namespace {

// Decimal digits as the kernel numbers its entries: no sign, no leading zero.
int entry_number(std::string_view digits) {
    if (digits.empty() || digits.size() > 4 || (digits[0] == '0' && digits.size() > 1)) return 0;
    for (char c : digits)
        if (c < '0' || c > '9') return 0;
    return 1;
}

}  // namespace

int node_of_dir(std::string_view dir, node_ref* node) {
    const std::string_view cpufreq = CPUFREQ_DIR;
    const std::string_view cpu = CPU_DIR;
    if (sub(dir, 0, cpufreq.size()) == cpufreq && sub(dir, cpufreq.size(), 7) == "/policy" &&
        entry_number(sub(dir, cpufreq.size() + 7))) {
        *node = node_ref{dir, sub(dir, cpufreq.size() + 1), 1};
        return 1;
    }
    const std::string_view per_cpu = "/cpufreq";
    if (sub(dir, 0, cpu.size()) == cpu && sub(dir, cpu.size(), 4) == "/cpu" &&
        dir.size() > cpu.size() + 4 + per_cpu.size() &&
        sub(dir, dir.size() - per_cpu.size()) == per_cpu &&
        entry_number(sub(dir, cpu.size() + 4, dir.size() - cpu.size() - 4 - per_cpu.size()))) {
        *node = node_ref{dir,
                         sub(dir, cpu.size() + 1, dir.size() - cpu.size() - 1 - per_cpu.size()), 1};
        return 1;
    }
    if (dir == KGSL_DIR) {
        *node = node_ref{dir, "kgsl-3d0", 0};
        return 1;
    }
    const std::string_view devfreq = DEVFREQ_DIR;
    if (sub(dir, 0, devfreq.size()) != devfreq || sub(dir, devfreq.size(), 1) != "/") return 0;
    const std::string_view name = sub(dir, devfreq.size() + 1);
    // A devfreq node a profile may name; whether it is a GPU is asked of the device itself
    // (devfreq_gpu_at) before anything is written.
    if (!plain_entry_name(name) || bus_devfreq_name(name)) return 0;
    *node = node_ref{dir, name, 0};
    return 1;
}

int node_of_governor_file(std::string_view path, node_ref* node) {
    const size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return 0;
    const std::string_view leaf = sub(path, slash + 1);
    return node_of_dir(sub(path, 0, slash), node) &&
           leaf == (node->cpu_policy ? "scaling_governor" : "governor");
}

namespace {

int starts_group(char kind) {
    return kind == 'G' || kind == 'K' || kind == 'P' || kind == 'X';
}

}  // namespace

int next_snapshot_group(std::string_view* text, snapshot_group* group) {
    if (text->empty()) return 0;
    std::string_view rest = *text;
    snapshot_line line;
    size_t used = 0;
    *group = snapshot_group{0, {}, {}};
    for (int first = 1;; first = 0) {
        const std::string_view before = rest;
        if (!next_snapshot_line(&rest, &line)) break;
        if (!first && starts_group(line.kind)) break;
        used += before.size() - rest.size();
        if (first) {
            group->kind = line.kind;
            if (line.kind == 'G') group->governor_file = line.path;
            if (line.kind == 'K' || line.kind == 'P' || line.kind == 'X') break;
        }
    }
    group->text = sub(*text, 0, used);
    text->remove_prefix(used);
    return 1;
}

int split_knob_value(std::string_view value, std::string_view* ours, std::string_view* own) {
    const size_t tab = value.find('\t');
    if (tab == std::string_view::npos || value.find('\t', tab + 1) != std::string_view::npos)
        return 0;
    *ours = sub(value, 0, tab);
    *own = sub(value, tab + 1);
    return 1;
}

void setting_name(std::string_view path, std::string_view* node, std::string_view* leaf) {
    const size_t slash = path.rfind('/');
    *leaf = slash == std::string_view::npos ? path : sub(path, slash + 1);
    *node = {};
    node_ref ref;
    std::string_view dir = path;
    for (int up = 0; up < 3; ++up) {
        const size_t at = dir.rfind('/');
        if (at == std::string_view::npos) return;
        dir = sub(dir, 0, at);
        if (node_of_dir(dir, &ref)) {
            *node = ref.name;
            return;
        }
    }
}

std::string_view find_group(std::string_view text, std::string_view path) {
    snapshot_group group;
    while (next_snapshot_group(&text, &group)) {
        std::string_view lines = group.text;
        snapshot_line line;
        if ((group.kind == 'G' || group.kind == 'K') && next_snapshot_line(&lines, &line) &&
            line.path == path)
            return group.text;
    }
    return {};
}

int launch_preset(std::string_view held, std::string_view* preset, std::string_view* game) {
    snapshot_line line;
    while (next_snapshot_line(&held, &line)) {
        const size_t space = line.value.find(' ');
        if (line.kind != 'P' || space == std::string_view::npos) continue;
        *preset = sub(line.value, 0, space);
        *game = sub(line.value, space + 1);
        if (*game == "-") *game = std::string_view("", 0);  // empty, and never a null pointer
        return 1;
    }
    return 0;
}
