#include "game_focus.h"

#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ctl_config.h"
#include "files.h"
#include "fixed_text.h"
#include "game_list_line.h"
#include "text_view.h"

namespace {

int open_focus_lock() {
    char path[PATH_SIZE];
    if (!module_path(path, sizeof path, ".focus.lock")) return -1;
    return open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

}  // namespace

int lock_focus() {
    // Opened once for the supervisor's life: each drain of the pipe costs two flock calls.
    static int fd = -1;
    if (fd < 0) fd = open_focus_lock();
    if (fd >= 0) flock(fd, LOCK_EX);
    return fd;
}

void unlock_focus(int fd) {
    if (fd >= 0) flock(fd, LOCK_UN);
}

void record_change(std::string_view boot, int mode, std::string_view focus, std::string_view hot) {
    char path[PATH_SIZE];
    fixed_text<512> text;
    text.append(boot);
    text.append_char('\n');
    text.append_number(mode);
    text.append_char(' ');
    // Only a plain package name is kept: the record is read back as one.
    text.append(valid_package_name(focus) ? focus : std::string_view("-"));
    text.append_char('\n');
    if (!hot.empty()) {
        text.append("hot ");
        text.append(hot);
        text.append_char('\n');
    }
    if (module_path(path, sizeof path, "last_change") && !text.overflow)
        replace_file(path, text.view(), 0644, 0);
}

namespace {

// A thermal state as the back-off names one: capital letters.
int plain_state_name(std::string_view name) {
    if (name.empty() || name.size() > 16) return 0;
    for (char c : name)
        if (c < 'A' || c > 'Z') return 0;
    return 1;
}

}  // namespace

int parse_change_record(std::string_view text, std::string_view boot, int* mode,
                        std::string_view* package, std::string_view* hot) {
    const size_t nl = text.find('\n');
    if (nl == std::string_view::npos || sub(text, 0, nl) != boot || boot.empty()) return 0;
    std::string_view rest = sub(text, nl + 1);
    const size_t end = rest.find('\n');
    if (end == std::string_view::npos) return 0;
    const std::string_view line = sub(rest, 0, end);
    rest = sub(rest, end + 1);
    if (line.size() < 3 || (line[0] != '1' && line[0] != '2') || line[1] != ' ') return 0;
    *mode = line[0] - '0';
    *package = sub(line, 2);
    *hot = {};
    constexpr std::string_view HOT = "hot ";
    if (sub(rest, 0, HOT.size()) == HOT && rest.back() == '\n' &&
        plain_state_name(sub(rest, HOT.size(), rest.size() - HOT.size() - 1)))
        *hot = sub(rest, HOT.size(), rest.size() - HOT.size() - 1);
    return 1;
}

int launching_game(std::string_view boot, int wait_ms, char* out, size_t cap, const char** why,
                   char* hot, size_t hot_cap) {
    hot[0] = '\0';
    struct stat info;
    if (fstat(STDOUT_FILENO, &info) != 0 || !S_ISFIFO(info.st_mode)) {
        *why = "not launched by Tessivar";
        return 0;
    }
    char path[PATH_SIZE];
    char text[512];
    module_path(path, sizeof path, "last_change");
    const int lock = open_focus_lock();
    for (int waited = 0;; waited += 10) {
        // Never blocks: a supervisor that holds the lock for long only costs the wait's bound.
        const int locked = lock >= 0 && flock(lock, LOCK_EX | LOCK_NB) == 0;
        int unread = 0;
        const int drained = locked && ioctl(STDOUT_FILENO, FIONREAD, &unread) == 0 && unread == 0;
        ssize_t n = 0;
        if (drained) n = read_small_file(path, text, sizeof text);
        if (locked) flock(lock, LOCK_UN);
        if (drained || waited >= wait_ms) {
            if (lock >= 0) close(lock);
        }
        if (drained) {
            int mode = 0;
            std::string_view package;
            std::string_view state;
            if (n <= 0 || !parse_change_record(std::string_view(text, static_cast<size_t>(n)), boot,
                                               &mode, &package, &state)) {
                *why = "no change recorded";
                return 0;
            }
            if (mode != 1 || !valid_package_name(package) || package.size() >= cap) {
                *why = "the last change names no game";
                return 0;
            }
            memcpy(out, package.data(), package.size());
            out[package.size()] = '\0';
            if (!state.empty() && state.size() < hot_cap) {  // an empty view may have no data
                memcpy(hot, state.data(), state.size());
                hot[state.size()] = '\0';
            }
            return 1;
        }
        if (waited >= wait_ms) {
            *why = "the change line was not read in time";
            return 0;
        }
        poll(nullptr, 0, 10);
    }
}
