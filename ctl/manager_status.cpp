#include "manager_status.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "ctl_config.h"
#include "files.h"
#include "fixed_text.h"
#include "game_list_line.h"
#include "processes.h"
#include "text_view.h"

namespace {

constexpr std::string_view STATUS_PREFIX = "Status: ";
constexpr std::string_view STATUS_END = " | ";

}  // namespace

std::string_view base_description(std::string_view description) {
    if (sub(description, 0, STATUS_PREFIX.size()) != STATUS_PREFIX) return description;
    const size_t end = description.find(STATUS_END);
    return end == std::string_view::npos ? std::string_view() : sub(description, end + 3);
}

int status_description(char* out, size_t cap, std::string_view state, std::string_view base) {
    const int n = snprintf(out, cap, "%.*s%.*s%s%.*s", static_cast<int>(STATUS_PREFIX.size()),
                           STATUS_PREFIX.data(), static_cast<int>(state.size()), state.data(),
                           base.empty() ? "" : " | ", static_cast<int>(base.size()), base.data());
    return n > 0 && static_cast<size_t>(n) < cap;
}

int parse_change_line(std::string_view line, std::string_view* focus) {
    constexpr std::string_view change = "State change detected: ";
    if (sub(line, 0, change.size()) != change) return 0;
    const size_t arrow = line.find(" -> ");
    if (arrow == std::string_view::npos) return 0;
    const char mode = arrow + 4 < line.size() ? line[arrow + 4] : 0;
    constexpr std::string_view key = "Focus: '";
    const size_t at = line.find(key);
    *focus = {};
    if (at != std::string_view::npos) {
        std::string_view rest = sub(line, at + key.size());
        const size_t quote = rest.rfind('\'');
        *focus = sub(rest, 0, quote == std::string_view::npos ? 0 : quote);
    }
    return mode == '1' ? 1 : mode == '2' ? 2 : 0;
}

void describe_mode(char* out, size_t cap, int mode, std::string_view focus) {
    if (mode == 1 && valid_package_name(focus)) {
        snprintf(out, cap, "performance for %.*s", static_cast<int>(focus.size()), focus.data());
    } else {
        snprintf(out, cap, "%s", mode == 1 ? "performance" : "balanced");
    }
}

namespace {

char shown[128];
char prop_text[16 * 1024];
fixed_text<16 * 1024 + 512> new_prop = {};

// KernelSU keeps an override of the description (a temporary one: gone at the next boot).
int show_through_ksud(const char* description) {
    const char* ksu = getenv("KSU");
    const char* module = getenv("KSU_MODULE");
    if (!ksu || strcmp(ksu, "true") != 0 || !module || !module[0]) return 0;
    // On PATH in the manager's environment; where it is not, at its own place.
    for (const char* ksud : {"ksud", "/data/adb/ksud"}) {
        const char* argv[] = {ksud,        "module", "config",
                              "set",       "--temp", "override.description",
                              description, nullptr};
        const int status = run_program(argv, -1);
        if (status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) != 127)
            return WEXITSTATUS(status) == 0;
    }
    return 0;
}

// Where module.prop's description value sits (without its line end); npos when it has none.
size_t find_description(std::string_view prop, size_t* end) {
    constexpr std::string_view key = "description=";
    for (size_t at = 0; at < prop.size();) {
        const size_t nl = prop.find('\n', at);
        const size_t line_end = nl == std::string_view::npos ? prop.size() : nl;
        if (sub(prop, at, key.size()) == key) {
            *end = line_end;
            return at + key.size();
        }
        at = line_end + 1;
    }
    return std::string_view::npos;
}

}  // namespace

void show_in_manager(const char* state) {
    if (strcmp(shown, state) == 0) return;
    snprintf(shown, sizeof shown, "%s", state);
    char path[PATH_SIZE];
    module_path(path, sizeof path, "module.prop");
    const ssize_t n = read_small_file(path, prop_text, sizeof prop_text);
    const std::string_view prop(prop_text, n > 0 ? static_cast<size_t>(n) : 0);
    size_t end = 0;
    const size_t start = find_description(prop, &end);
    // Module.prop's own text stays after the status: the override replaces the whole of it.
    const std::string_view base = start == std::string_view::npos
                                      ? std::string_view()
                                      : base_description(sub(prop, start, end - start));
    char description[1200];
    if (!status_description(description, sizeof description, state, base)) return;
    if (show_through_ksud(description)) return;
    // Elsewhere the description line of module.prop is replaced; every other byte stays.
    struct stat info;
    new_prop.clear();
    new_prop.append(sub(prop, 0, start));
    new_prop.append(description);
    new_prop.append(sub(prop, end));
    if (start == std::string_view::npos || new_prop.overflow ||
        !replace_file(path, new_prop.view(), stat(path, &info) == 0 ? (info.st_mode & 0777) : 0644))
        fprintf(stderr, "tessivarctl: could not show the status in module.prop: %s\n",
                start == std::string_view::npos ? "it has no description" : strerror(errno));
}
