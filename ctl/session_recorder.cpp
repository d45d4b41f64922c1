#include "session_recorder.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "cluster_cpus.h"
#include "ctl_config.h"
#include "files.h"
#include "frame_rate.h"
#include "nodes.h"
#include "processes.h"
#include "session_record.h"
#include "session_store.h"
#include "text_view.h"
#include "timestats.h"

namespace {

constexpr char BATTERY[] = "/sys/class/power_supply/battery";
constexpr char KGSL[] = "/sys/class/kgsl/kgsl-3d0";

struct recording {
    int active;
    long long start;       // seconds since the epoch
    long long started_ms;  // on the supervisor's clock
    long long index;       // samples taken, kept or not
    char game[128];
    char preset[16];
    int fd;  // the session's file, appended to
    node_list nodes;
    int clusters;
    int cluster_node[MAX_CLUSTERS];
    char last_times[MAX_CLUSTERS][4096];  // each cluster's time_in_state at the last sample
    int have_times[MAX_CLUSTERS];
    frame_counts frames_start;
    game_identity game_id;
    battery_units units;  // decided once, at the first sample that tells them
    char fps_node[96];    // the frame-rate node read with each sample, "" none
    char taken_back[256];
};
recording r = {};
frame_counts frames_end;
session_frames frames_of;
char dump[512 * 1024];
char text[4096];
sample rows[8192];

long long read_number_at(const char* device, int* ok) {
    char path[PATH_SIZE];
    char value[64];
    *ok = device_path(path, sizeof path, device) && read_value(path, value, sizeof value);
    return *ok ? atoll(value) : 0;
}

long long number_or(const char* device, long long fallback) {
    int ok = 0;
    const long long v = read_number_at(device, &ok);
    return ok ? v : fallback;
}

// SurfaceFlinger's frame statistics now, for the game; enabled when they are off (never
// cleared: others may read them too). 0 when the phone has none.
int read_frames(frame_counts* out) {
    const char* argv[] = {"dumpsys", "SurfaceFlinger", "--timestats", "-dump", "-enable", nullptr};
    const int status = run_capture(argv, dump, sizeof dump);
    if (status < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return 0;
    parse_timestats(dump, r.game_id, out);
    return 1;
}

// The game's uid, from the package manager's own list (root reads it; no process started).
long long game_uid(const char* game) {
    static char list[512 * 1024];
    char path[PATH_SIZE];
    if (!device_path(path, sizeof path, "/data/system/packages.list")) return -1;
    const ssize_t n = read_small_file(path, list, sizeof list);
    return n > 0 ? package_uid(std::string_view(list, static_cast<size_t>(n)), game) : -1;
}

// The first frame-rate node that answers now: the display's (SDE, then MDSS), else FPSGO's
// status, only while it is already on (it prints nothing when off; it is never switched on).
void find_fps_node(char* out, size_t cap) {
    char device[64];  // the longest name above, with room for any crtc number
    char path[PATH_SIZE];
    out[0] = '\0';
    for (int i = 0; i <= MAX_CRTCS; ++i) {
        if (i < MAX_CRTCS)
            snprintf(device, sizeof device, DRM_FPS_FORMAT, i);
        else
            snprintf(device, sizeof device, "%s", FB_FPS);
        if (device_path(path, sizeof path, device) && read_value(path, text, sizeof text) &&
            display_fps_x10(text) >= 0) {
            snprintf(out, cap, "%s", device);
            return;
        }
    }
    if (device_path(path, sizeof path, FPSGO_STATUS) &&
        read_small_file(path, text, sizeof text - 1) > 0)  // FPSGO off prints nothing
        snprintf(out, cap, "%s", FPSGO_STATUS);
}

// The frame rate now, in tenths; -1 when the node has none.
int read_fps() {
    char path[PATH_SIZE];
    if (!r.fps_node[0] || !device_path(path, sizeof path, r.fps_node)) return -1;
    if (strcmp(r.fps_node, FPSGO_STATUS) == 0) {
        const ssize_t n = read_small_file(path, text, sizeof text - 1);
        return n > 0 ? fpsgo_fps_x10(std::string_view(text, static_cast<size_t>(n)), r.game) : -1;
    }
    return read_value(path, text, sizeof text) ? display_fps_x10(text) : -1;
}

// <dir>/<leaf> into a PATH_SIZE buffer; 0 (and an empty path) when it does not fit.
int join(char* out, const char* dir, const char* leaf) {
    const int n = snprintf(out, PATH_SIZE, "%s/%s", dir, leaf);
    if (n > 0 && n < static_cast<int>(PATH_SIZE)) return 1;
    out[0] = '\0';
    return 0;
}

void cluster_file(char* out, int cluster, const char* leaf) {
    join(out, r.nodes.nodes[r.cluster_node[cluster]].dir, leaf);
}

// The frames of the session that just ended: found, or why not.
int frames_of_session(long long session_ms, session_frames* frames) {
    if (!read_frames(&frames_end) || frames_end.layers == 0) return 0;
    frames_between(r.frames_start, frames_end, session_ms, frames);
    // Cleared and not drawn since: no frames to tell, rather than a rate of 0.
    return frames->counted > 0;
}

// Summarizes a session's file into an index line.
int summarize_file(const char* path, long long start, const char* game, const char* preset,
                   const session_frames* frames, const char* taken_back = "") {
    const int fd = open_regular(path, O_RDONLY);
    if (fd < 0) return 0;
    static char content[2 * 1024 * 1024];
    ssize_t len = 0;
    for (ssize_t got;
         len < static_cast<ssize_t>(sizeof content) &&
         (got = read(fd, content + len, sizeof content - static_cast<size_t>(len))) > 0;)
        len += got;
    close(fd);
    std::string_view rest(content, len > 0 ? static_cast<size_t>(len) : 0);
    int count = 0;
    session_line summary{};
    summary.format = 1;  // rows from before "Not charging" and the units were told apart
    while (!rest.empty() && count < static_cast<int>(sizeof rows / sizeof rows[0])) {
        const size_t nl = rest.find('\n');
        const std::string_view line =
            sub(rest, 0, nl == std::string_view::npos ? rest.size() : nl + 1);
        rest.remove_prefix(line.size());
        if (parse_sample(line, &rows[count])) {
            ++count;
        } else if (sub(line, 0, 8) == "# units ") {  // the last decision holds
            parse_units(sub(line, 8, line.size() - 9), &summary.units);
        } else if (sub(line, 0, 9) == "# format ") {
            summary.format = atoi(sub(line, 9).data());
        } else if (sub(line, 0, 10) == "# fps_node") {
            const std::string_view node = sub(line, 11, line.size() - 12);
            if (node.size() < sizeof summary.fps_node && node.find(' ') == std::string_view::npos)
                memcpy(summary.fps_node, node.data(), node.size());
        }
    }
    summary.start = start;
    snprintf(summary.game, sizeof summary.game, "%s", game);
    snprintf(summary.preset, sizeof summary.preset, "%s", preset);
    snprintf(summary.taken_back, sizeof summary.taken_back, "%s", taken_back);
    summarize(rows, count, &summary.summary);
    if (frames) {
        summary.frames_known = 1;
        summary.frames = frames->total;
        summary.dropped = frames->dropped;
        summary.fps_x100 = static_cast<int>(average_fps(frames->present_ms) * 100);
        summary.low_fps_x100 = static_cast<int>(low_fps(frames->present_ms) * 100);
        summary.frames_reset = frames->reset;
        encode_layers(*frames, summary.layers, sizeof summary.layers);
    }
    char line[1536];
    return format_session_line(summary, line, sizeof line) && add_session_summary(line);
}

}  // namespace

int session_active() {
    return r.active;
}

void session_begin(const char* game, const char* preset, long long now_ms) {
    if (r.active) session_end(now_ms);
    r = recording{};
    r.fd = -1;
    r.active = 1;
    r.start = static_cast<long long>(time(nullptr));
    r.started_ms = now_ms;
    snprintf(r.game, sizeof r.game, "%s", game && game[0] ? game : "-");
    snprintf(r.preset, sizeof r.preset, "%s", preset && preset[0] ? preset : "-");
    r.game_id = game_identity{r.game, game_uid(r.game)};
    find_fps_node(r.fps_node, sizeof r.fps_node);
    find_governor_nodes(&r.nodes);
    for (int i = 0; i < r.nodes.count && r.clusters < MAX_CLUSTERS; ++i)
        if (r.nodes.nodes[i].cpu_policy) r.cluster_node[r.clusters++] = i;
    char name[200];
    char path[PATH_SIZE];
    if (session_file_name(name, sizeof name, r.start, r.game) &&
        sessions_path(path, sizeof path, name)) {
        r.fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0644);
        char header[256];
        const int n = snprintf(header, sizeof header, "# session %lld %s %s\n# format %d\n",
                               r.start, r.game, r.preset, SESSION_FORMAT);
        if (r.fd >= 0 && n > 0) write_all(r.fd, std::string_view(header, static_cast<size_t>(n)));
        const int m =
            snprintf(header, sizeof header, "# fps_node %s\n", r.fps_node[0] ? r.fps_node : "-");
        if (r.fd >= 0 && m > 0 && r.fps_node[0])
            write_all(r.fd, std::string_view(header, static_cast<size_t>(m)));
        // Which CPUs each cluster drives, for the charts' legend.
        const governor_node* clusters[MAX_CLUSTERS];
        for (int c = 0; c < r.clusters; ++c)
            clusters[c] = &r.nodes.nodes[r.cluster_node[c]];
        char line[MAX_CLUSTERS * 168];
        const int len = cluster_cpus_line(clusters, r.clusters, line, sizeof line);
        if (r.fd >= 0 && len > 0) write_all(r.fd, std::string_view(line, static_cast<size_t>(len)));
    }
    if (!read_frames(&r.frames_start)) r.frames_start = frame_counts{};
    session_sample(now_ms, -1, 0);
}

void session_sample(long long now_ms, int level, int cooling) {
    if (!r.active) return;
    // A sample a long session does not keep is not read at all: the next kept one's shares
    // span both intervals.
    const long long t_ms = now_ms - r.started_ms;
    if (r.fd < 0 || !keep_sample(t_ms, r.index++)) return;
    sample s{};
    s.t_ms = t_ms;
    s.level = level;
    s.cooling = cooling;
    char device[PATH_SIZE];
    char status[32] = "";
    snprintf(device, sizeof device, "%s/status", BATTERY);
    char path[PATH_SIZE];
    s.charging = device_path(path, sizeof path, device) && read_value(path, status, sizeof status)
                     ? charging_status(status)
                     : -1;
    int ok_current = 0;
    int ok_voltage = 0;
    snprintf(device, sizeof device, "%s/current_now", BATTERY);
    const long long current = read_number_at(device, &ok_current);
    snprintf(device, sizeof device, "%s/voltage_now", BATTERY);
    const long long voltage = read_number_at(device, &ok_voltage);
    if (ok_current && ok_voltage &&
        decide_units(&r.units, current, voltage, s.charging)) {  // kept with the session
        char units[64] = "# units ";
        format_units(r.units, units + 8, sizeof units - 9);
        const size_t len = strlen(units);
        units[len] = '\n';
        write_all(r.fd, std::string_view(units, len + 1));
    }
    s.power_mw = ok_current && ok_voltage ? battery_power_mw(current, voltage, r.units) : -1;
    snprintf(device, sizeof device, "%s/temp", BATTERY);
    s.temp_dc = static_cast<int>(number_or(device, -10000));
    snprintf(device, sizeof device, "%s/capacity", BATTERY);
    s.capacity = static_cast<int>(number_or(device, -1));
    // The GPU: Adreno's busy counter ("busy total" of its last window), and its frequency.
    s.gpu_busy = -1;
    s.gpu_khz = -1;
    snprintf(device, sizeof device, "%s/gpubusy", KGSL);
    if (device_path(path, sizeof path, device) && read_value(path, text, sizeof text)) {
        const long long busy = atoll(text);
        const char* space = strrchr(text, ' ');
        const long long total = space ? atoll(space + 1) : 0;
        if (total > 0) s.gpu_busy = static_cast<int>(busy * 1000 / total);
    }
    for (int i = 0; i < r.nodes.count; ++i) {
        if (r.nodes.nodes[i].cpu_policy) continue;
        const long long hz =
            join(device, r.nodes.nodes[i].dir, "cur_freq") ? number_or(device, -1) : -1;
        if (hz > 0) s.gpu_khz = hz / 1000;
        break;
    }
    s.clusters = r.clusters;
    for (int c = 0; c < r.clusters; ++c) {
        cluster_file(device, c, "scaling_cur_freq");
        s.cur_khz[c] = number_or(device, -1);
        cluster_file(device, c, "scaling_max_freq");
        s.max_khz[c] = number_or(device, -1);
        s.top[c] = -1;
        cluster_file(device, c, "stats/time_in_state");
        // An offline cluster has no file: no share, and no spike when it returns.
        const ssize_t n = device_path(path, sizeof path, device)
                              ? read_small_file(path, text, sizeof text - 1)
                              : -1;
        if (n > 0) {
            const std::string_view now(text, static_cast<size_t>(n));
            if (r.have_times[c]) s.top[c] = top_fifth_share(r.last_times[c], now);
            memcpy(r.last_times[c], text, static_cast<size_t>(n));
            r.last_times[c][n] = '\0';
            r.have_times[c] = 1;
        } else {
            r.have_times[c] = 0;
        }
    }
    s.fps_x10 = read_fps();
    char row[512];
    const int len = format_sample(s, row, sizeof row);
    if (len > 0) write_all(r.fd, std::string_view(row, static_cast<size_t>(len)));
}

void session_taken_back(const char* summary) {
    if (r.active) snprintf(r.taken_back, sizeof r.taken_back, "%s", summary);
}

void session_end(long long now_ms) {
    if (!r.active) return;
    session_sample(now_ms, -1, 0);
    r.active = 0;
    if (r.fd >= 0) {
        fsync(r.fd);  // the rows outlive the boot
        close(r.fd);
        r.fd = -1;
    }
    const int known = frames_of_session(now_ms - r.started_ms, &frames_of);
    char name[200];
    char path[PATH_SIZE];
    if (session_file_name(name, sizeof name, r.start, r.game) &&
        sessions_path(path, sizeof path, name))
        summarize_file(path, r.start, r.game, r.preset, known ? &frames_of : nullptr, r.taken_back);
}

void sessions_recover() {
    const std::string_view index = read_session_index();
    char path[PATH_SIZE];
    if (!sessions_path(path, sizeof path, "index")) return;
    char* slash = strrchr(path, '/');
    *slash = '\0';
    DIR* d = opendir(path);
    if (!d) return;
    static char cut[MAX_SESSIONS * 4][160];
    int count = 0;
    while (dirent* e = readdir(d)) {
        const size_t len = strlen(e->d_name);
        if (len < 5 || strcmp(e->d_name + len - 4, ".tsv") != 0 || len >= sizeof cut[0] ||
            count == MAX_SESSIONS * 4)
            continue;
        char needle[64];
        snprintf(needle, sizeof needle, "start=%lld ", atoll(e->d_name));
        if (index.find(needle) != std::string_view::npos) continue;  // summarized already
        memcpy(cut[count++], e->d_name, len + 1);
    }
    closedir(d);
    for (int i = 0; i < count; ++i) {
        char file[PATH_SIZE];
        char header[256];
        if (!join(file, path, cut[i])) continue;
        const int fd = open_regular(file, O_RDONLY);
        if (fd < 0) continue;
        const ssize_t n = read(fd, header, sizeof header - 1);
        close(fd);
        header[n > 0 ? n : 0] = '\0';
        long long start = 0;
        char game[128] = "-";
        char preset[16] = "-";
        if (sscanf(header, "# session %lld %127s %15s", &start, game, preset) < 1) continue;
        summarize_file(file, start, game, preset, nullptr);
    }
    // Sessions an update carried over are held to this version's bound too.
    add_session_summary({});
}
