#include <string.h>

#include "window_state.h"

namespace {

int starts_with(const char* line, const char* prefix) {
    return strncmp(line, prefix, strlen(prefix)) == 0;
}

// A key's value in the text from its first occurrence on: 1 for true, 0 for false, else -1.
int screen_value(const char* from, const char* on, const char* off) {
    if (strstr(from, on)) return 1;
    if (strstr(from, off)) return 0;
    return -1;
}

// 1 when the text starts with an integer other than 0 ("2", "-1", "10"); 0 for "0", "00" or
// anything that is not a number.
int nonzero_number(const char* text) {
    if (*text == '-') ++text;
    int digits = 0;
    int nonzero = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        ++digits;
        if (*text != '0') nonzero = 1;
    }
    return digits > 0 && nonzero;
}

}  // namespace

int screen_state_from_line(const char* line) {
    // A line with mScreenOn= is judged by it alone, even when it also holds mAwake=.
    if (const char* p = strstr(line, "mScreenOn=")) {
        return screen_value(p, "mScreenOn=true", "mScreenOn=false");
    }
    if (const char* p = strstr(line, "mAwake=")) {
        return screen_value(p, "mAwake=true", "mAwake=false");
    }
    return -1;
}

int focus_from_line(const char* line, char* package) {
    package[0] = '\0';
    const char* key = strstr(line, "mCurrentFocus=");
    if (!key) key = strstr(line, "mFocusedApp=");
    if (!key) return 0;

    const char* delim = strchr(key, '{');
    if (!delim) delim = strchr(key, ' ');
    if (!delim) delim = strchr(key, '/');
    if (!delim) return 0;

    const char* start = delim + 1;
    if (*start == ' ') ++start;

    // Real values start with an object id ("Window{41b37570 u0 com.x/...}"), so a dropped
    // token hands over to the next one on the line until one holds a '.'.
    for (;;) {
        const char* end = strpbrk(start, " /}");
        size_t len = end ? static_cast<size_t>(end - start) : strlen(start);
        if (!end && len > 0 && start[len - 1] == '\n') --len;
        if (len > 0 && len <= static_cast<size_t>(MAX_PACKAGE_LEN) && memchr(start, '.', len)) {
            memcpy(package, start, len);
            package[len] = '\0';
            return 1;
        }
        if (!end) return 0;
        start = end + 1;
    }
}

int dump_line_is_live(dump_sections* sections, const char* line) {
    // A saved copy of the window state at the last "not responding" runs until the next live
    // section header; its own display-contents header is part of the copy.
    if (starts_with(line, "WINDOW MANAGER LAST ANR")) {
        sections->in_last_anr = 1;
        sections->in_other_display = 0;
    } else if (starts_with(line, "WINDOW MANAGER ")) {
        if (!starts_with(line, "WINDOW MANAGER DISPLAY CONTENTS")) sections->in_last_anr = 0;
        sections->in_other_display = 0;
    }
    // Each display's block begins with "Display: mDisplayId=N"; only display 0 is the screen.
    if (const char* p = strstr(line, "Display: mDisplayId=")) {
        sections->in_other_display = nonzero_number(p + strlen("Display: mDisplayId="));
    }
    return !sections->in_last_anr && !sections->in_other_display;
}

void reset_system_state(system_state* state) {
    state->screen_state = -1;
    state->focus_found = 0;
    state->focused_package[0] = '\0';
}

void scan_dump_line(dump_sections* sections, system_state* state, const char* line) {
    if (!dump_line_is_live(sections, line)) return;
    if (state->screen_state == -1) state->screen_state = screen_state_from_line(line);
    if (!state->focus_found) state->focus_found = focus_from_line(line, state->focused_package);
}
