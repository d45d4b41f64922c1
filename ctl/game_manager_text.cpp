#include "game_manager_text.h"

#include "game_list_line.h"
#include "text_view.h"

namespace {

// The next whole line of `rest` without its line end (CR LF too); 0 when none is whole.
int next_whole_line(std::string_view* rest, std::string_view* line) {
    const size_t end = rest->find('\n');
    if (end == std::string_view::npos) return 0;
    *line = sub(*rest, 0, end);
    if (!line->empty() && line->back() == '\r') line->remove_suffix(1);
    *rest = sub(*rest, end + 1);
    return 1;
}

int starts_with(std::string_view text, std::string_view prefix) {
    return sub(text, 0, prefix.size()) == prefix;
}

}  // namespace

int skip_game_dump_header(std::string_view* dump) {
    std::string_view line;
    while (next_whole_line(dump, &line))
        if (line == "*Dump GameManagerService*") return 1;
    return 0;
}

int next_dumped_game(std::string_view* rest, std::string_view* package) {
    constexpr std::string_view none = " No intervention found for package ";
    constexpr std::string_view named = "[Name:";
    std::string_view line;
    while (next_whole_line(rest, &line)) {
        std::string_view name;
        if (starts_with(line, none)) {
            name = sub(line, none.size());
        } else if (starts_with(line, named)) {
            const std::string_view after = sub(line, named.size());
            const size_t end = after.find(" Modes: ");
            if (end == std::string_view::npos) continue;
            name = sub(after, 0, end);
        } else {
            continue;
        }
        if (!valid_package_name(name)) continue;
        *package = name;
        return 1;
    }
    return 0;
}

int parse_list_modes(std::string_view text, std::string_view package, game_modes* modes) {
    *modes = game_modes{};
    constexpr std::string_view current = " current mode: ";
    constexpr std::string_view available = ", available game modes: [";
    std::string_view line;
    while (next_whole_line(&text, &line)) {
        if (starts_with(line, "Package ") && sub(line, 8, package.size()) == package) {
            const std::string_view said = sub(line, 8 + package.size());
            if (starts_with(said, " is not of game type")) return modes->not_a_game = 1;
            if (starts_with(said, " is not found for user")) return modes->not_found = 1;
            continue;
        }
        if (sub(line, 0, package.size()) != package ||
            !starts_with(sub(line, package.size()), current))
            continue;
        const std::string_view after = sub(line, package.size() + current.size());
        const size_t comma = after.find(available);
        if (comma == std::string_view::npos || after.back() != ']') continue;
        modes->current = sub(after, 0, comma);
        std::string_view list = sub(after, comma + available.size());
        list.remove_suffix(1);
        while (!list.empty()) {
            const size_t next = list.find(',');
            if (sub(list, 0, next) == "battery") modes->offers_battery = 1;
            list = next == std::string_view::npos ? std::string_view() : sub(list, next + 1);
        }
        return 1;
    }
    return 0;
}

int restorable_game_mode(std::string_view mode) {
    return mode == "standard" || mode == "performance" || mode == "custom";
}
