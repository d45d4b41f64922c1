#include "knob_watch.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <unistd.h>

#include "ctl_config.h"
#include "files.h"
#include "fixed_text.h"
#include "knobs.h"
#include "nodes.h"
#include "snapshot.h"
#include "take_back.h"
#include "text_view.h"

namespace {

constexpr int MAX_WATCHED = 32;

struct watched {
    char path[PATH_SIZE];
    char ours[32];
    char label[96];         // "top-app cpu.uclamp.min", "policy4 scaling_min_freq"
    char limit[PATH_SIZE];  // the maximum in force beside a floor, or empty
    const knob* k;
    int held;  // a K line of the state in force names it
    take_back_record record;
};
watched list[MAX_WATCHED];
int count;
int backed_off;
struct stat loaded;  // the state file the list was read from
char value[VALUE_SIZE];

// How a person names a knob's file: its node ("policy4"), else the group it sits in
// ("top-app"), then the file.
void label_of(std::string_view path, char* out, size_t cap) {
    std::string_view node;
    std::string_view leaf;
    setting_name(path, &node, &leaf);
    if (node.empty()) {
        const std::string_view dir = sub(path, 0, path.size() - leaf.size() - 1);
        const size_t slash = dir.rfind('/');
        node = slash == std::string_view::npos ? dir : sub(dir, slash + 1);
    }
    snprintf(out, cap, "%.*s %.*s", static_cast<int>(node.size()), node.data(),
             static_cast<int>(leaf.size()), leaf.data());
}

int same_file(const struct stat& a, const struct stat& b) {
    return a.st_ino == b.st_ino && a.st_dev == b.st_dev && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

long long limit_in_force(const watched& w) {
    if (!w.limit[0] || !read_device_value(w.limit, value, sizeof value)) return -1;
    char* end = nullptr;
    const long long n = strtoll(value, &end, 10);
    return end != value && *end == '\0' ? n : -1;
}

int profile_lock() {
    // Opened once for the supervisor's life: a check costs two flock calls.
    static int fd = -1;
    if (fd < 0) {
        char path[PATH_SIZE];
        if (module_path(path, sizeof path, ".profile.lock"))
            fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    }
    return fd;
}

}  // namespace

void knob_watch_reset() {
    count = 0;
    backed_off = 0;
}

void knob_watch_load(std::string_view held, const struct stat& info) {
    // Every knob seen in the session keeps its count, through a back-off and its re-arm.
    for (int i = 0; i < count; ++i)
        list[i].held = 0;
    backed_off = 0;
    loaded = info;
    snapshot_line line;
    while (next_snapshot_line(&held, &line)) {
        backed_off |= line.kind == 'X';
        std::string_view ours;
        std::string_view own;
        if (line.kind != 'K' || line.path.size() >= PATH_SIZE ||
            !split_knob_value(line.value, &ours, &own) || ours.size() >= sizeof list[0].ours)
            continue;
        const knob* k = knob_of_path(line.path);
        if (!k) continue;
        int at = 0;
        while (at < count && line.path != list[at].path)
            ++at;
        if (at == MAX_WATCHED) continue;
        watched& w = list[at];
        if (at == count) {
            ++count;
            w = watched{};
            snprintf(w.path, sizeof w.path, "%.*s", static_cast<int>(line.path.size()),
                     line.path.data());
            label_of(line.path, w.label, sizeof w.label);
        }
        w.k = k;
        w.held = 1;
        snprintf(w.ours, sizeof w.ours, "%.*s", static_cast<int>(ours.size()), ours.data());
        w.limit[0] = '\0';
        if (const char* leaf = knob_limit_leaf(*k)) {
            const std::string_view dir = sub(line.path, 0, line.path.rfind('/'));
            const int n = snprintf(w.limit, sizeof w.limit, "%.*s/%s", static_cast<int>(dir.size()),
                                   dir.data(), leaf);
            if (n <= 0 || n >= static_cast<int>(sizeof w.limit)) w.limit[0] = '\0';
        }
    }
}

int knob_watch_check(long long now_ms, void (*say)(const char*)) {
    if (count == 0 || backed_off) return 0;
    const int lock = profile_lock();
    // A profile run that holds the lock is changing the state anyway: the next check will do.
    if (lock < 0 || flock(lock, LOCK_EX | LOCK_NB) != 0) return 0;
    char path[PATH_SIZE];
    struct stat now;
    // Only while the launch read is the one in force: any run since has renamed a new file.
    if (!module_path(path, sizeof path, "current_profile") || stat(path, &now) != 0 ||
        !same_file(now, loaded)) {
        flock(lock, LOCK_UN);
        return 0;
    }
    int counted = 0;
    for (int i = 0; i < count; ++i) {
        watched& w = list[i];
        if (!w.held || w.record.left || !read_device_value(w.path, value, sizeof value)) continue;
        // The common case costs one read: the maximum beside a floor only matters when it moved.
        if (same_value(value, w.ours) ||
            read_knob(*w.k, w.ours, value, limit_in_force(w)) != READ_FELL_BACK)
            continue;
        counted = 1;
        char line[256];
        if (note_take_back(&w.record, now_ms)) {
            const int ok = write_device_value(w.path, w.ours);
            snprintf(line, sizeof line, "%s %s back to %s (taken back %d time%s)",
                     ok ? "set" : "could not set", w.label, w.ours, w.record.times,
                     w.record.times == 1 ? "" : "s");
        } else {
            snprintf(line, sizeof line, "left to the system: %s, taken back %d times", w.label,
                     w.record.times);
        }
        say(line);
    }
    flock(lock, LOCK_UN);
    return counted;
}

void knob_watch_publish(std::string_view boot, unsigned long long ticks, const char* front_note) {
    fixed_text<4096> text;
    text.append(boot);
    text.append_char(' ');
    text.append_number(static_cast<long long>(ticks));
    text.append_char('\n');
    for (int i = 0; i < count; ++i) {
        if (!list[i].record.times) continue;
        text.append("B ");
        text.append_number(list[i].record.times);
        text.append(list[i].record.left ? " 1 " : " 0 ");
        text.append(list[i].label);
        text.append_char('\n');
    }
    if (front_note && front_note[0]) {
        text.append("F ");
        text.append(front_note);
        text.append_char('\n');
    }
    char path[PATH_SIZE];
    if (!text.overflow && module_path(path, sizeof path, "game_watch"))
        replace_file(path, text.view(), 0644, 0);  // a new boot voids it, as the profile state
}

void knob_watch_summary(char* out, size_t cap) {
    fixed_text<1024> text;
    for (int i = 0; i < count; ++i) {
        if (!list[i].record.times) continue;
        text.append(text.len ? "," : "");
        // One field of the sessions index: no space, nor its separators.
        for (const char* c = list[i].label; *c; ++c)
            text.append_char(*c == ' '                                         ? '/'
                             : *c == ',' || *c == ':' || *c == '=' || *c < '!' ? '_'
                                                                               : *c);
        text.append_char(':');
        text.append_number(list[i].record.times);
        text.append(list[i].record.left ? ":left" : ":kept");
    }
    snprintf(out, cap, "%s", text.overflow ? "" : text.c_str());
}
