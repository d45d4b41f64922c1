#include "snapshot.h"

#include "text_view.h"

int next_snapshot_line(std::string_view* text, snapshot_line* line) {
    if (text->empty()) return 0;
    size_t end = text->find('\n');
    const std::string_view whole = sub(*text, 0, end);
    text->remove_prefix(end == std::string_view::npos ? text->size() : end + 1);

    *line = snapshot_line{0, {}, {}};
    if (whole.size() < 3 || whole[1] != ' ') return 1;
    const std::string_view rest = sub(whole, 2);
    if (whole[0] == 'B') {
        *line = snapshot_line{'B', {}, rest};
    } else if (whole[0] == 'G' || whole[0] == 'T') {
        const size_t space = rest.find(' ');
        if (space == std::string_view::npos || space == 0) return 1;
        *line = snapshot_line{whole[0], sub(rest, 0, space), sub(rest, space + 1)};
    }
    return 1;
}

std::string_view snapshot_boot(std::string_view text) {
    snapshot_line line;
    if (next_snapshot_line(&text, &line) && line.kind == 'B') return line.value;
    return {};
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
    const size_t slash = policy_dir.rfind('/');
    if (slash == std::string_view::npos || slash == 0) return 0;
    return inside(path, policy_dir, governor) || inside(path, sub(policy_dir, 0, slash), governor);
}
