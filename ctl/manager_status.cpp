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
fixed_text<16 * 1024 + 512> new_prop;

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

// Elsewhere the description line of module.prop is replaced; every other byte stays.
int show_in_module_prop(std::string_view state) {
    char path[PATH_SIZE];
    module_path(path, sizeof path, "module.prop");
    const ssize_t n = read_small_file(path, prop_text, sizeof prop_text);
    if (n <= 0) return 0;
    std::string_view rest(prop_text, static_cast<size_t>(n));
    new_prop.clear();
    int replaced = 0;
    while (!rest.empty()) {
        const size_t nl = rest.find('\n');
        const size_t len = nl == std::string_view::npos ? rest.size() : nl + 1;
        std::string_view line = sub(rest, 0, len);
        rest = sub(rest, len);
        constexpr std::string_view key = "description=";
        if (!replaced && sub(line, 0, key.size()) == key) {
            std::string_view value = sub(line, key.size());
            const int ends = !value.empty() && value.back() == '\n';
            if (ends) value = sub(value, 0, value.size() - 1);
            char description[1024];
            if (!status_description(description, sizeof description, state,
                                    base_description(value)))
                return 0;
            new_prop.append(key);
            new_prop.append(description);
            if (ends) new_prop.append("\n");
            replaced = 1;
        } else {
            new_prop.append(line);
        }
    }
    struct stat info;
    const mode_t mode = stat(path, &info) == 0 ? (info.st_mode & 0777) : 0644;
    return replaced && !new_prop.overflow && replace_file(path, new_prop.view(), mode);
}

}  // namespace

void show_in_manager(const char* state) {
    if (strcmp(shown, state) == 0) return;
    snprintf(shown, sizeof shown, "%s", state);
    char path[PATH_SIZE];
    char base[1024] = "";
    // The override replaces the whole description: keep module.prop's own text after it.
    module_path(path, sizeof path, "module.prop");
    const ssize_t n = read_small_file(path, prop_text, sizeof prop_text);
    if (n > 0) {
        const std::string_view text(prop_text, static_cast<size_t>(n));
        const size_t at = text.find("\ndescription=");
        if (at != std::string_view::npos) {
            std::string_view value = sub(text, at + 13);
            value = sub(value, 0, value.find('\n'));
            value = base_description(value);
            snprintf(base, sizeof base, "%.*s", static_cast<int>(value.size()), value.data());
        }
    }
    char description[1200];
    if (status_description(description, sizeof description, state, base) &&
        show_through_ksud(description))
        return;
    if (!show_in_module_prop(state))
        fprintf(stderr, "tessivarctl: could not show the status in module.prop: %s\n",
                strerror(errno));
}
