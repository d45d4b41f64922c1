#include "presets_file.h"

#include "knobs.h"
#include "text_view.h"

int parse_preset_line(std::string_view line, std::string_view* who, std::string_view* preset) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    if (line.empty() || line[0] == '#') return 0;
    const size_t space = line.find(' ');
    if (space == std::string_view::npos || space == 0) return 0;
    *who = sub(line, 0, space);
    *preset = sub(line, space + 1);
    return preset_from_name(*preset) != 0;
}

unsigned preset_for(std::string_view list, std::string_view package, int* own) {
    unsigned fallback = PRESET_SUSTAINED;
    std::string_view line;
    std::string_view who;
    std::string_view name;
    if (own) *own = 0;
    while (next_list_line(&list, &line)) {
        if (!parse_preset_line(line, &who, &name)) continue;
        if (!package.empty() && who == package) {
            if (own) *own = 1;
            return preset_from_name(name);
        }
        if (who == "*") fallback = preset_from_name(name);
    }
    return fallback;
}

int set_preset_line(std::string_view list, std::string_view who, const char* preset,
                    game_list_text* out) {
    const char* eol = list_line_end(list);
    out->clear();
    int changed = 0;
    int placed = 0;
    std::string_view line;
    std::string_view rest = list;
    std::string_view line_who;
    std::string_view line_preset;
    while (next_list_line(&rest, &line)) {
        if (!parse_preset_line(line, &line_who, &line_preset) || line_who != who || placed) {
            out->append(line);
            continue;
        }
        placed = 1;
        if (!preset) {  // cleared: the line goes
            changed = 1;
            continue;
        }
        changed |= line_preset != preset;
        out->append(who);
        out->append_char(' ');
        out->append(preset);
        out->append(sub(line, who.size() + 1 + line_preset.size()));  // its own line end
    }
    if (!placed && preset) {
        if (!list.empty() && list.back() == '\r') {
            out->append("\n");
        } else if (!list.empty() && list.back() != '\n') {
            out->append(eol);
        }
        out->append(who);
        out->append_char(' ');
        out->append(preset);
        out->append(eol);
        changed = 1;
    }
    return changed;
}
