#include "sessions.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "files.h"
#include "frame_rate.h"
#include "json_text.h"
#include "session_record.h"
#include "session_store.h"
#include "text_view.h"
#include "visible_text.h"

namespace {

char rows_text[2 * 1024 * 1024];

void print_numbers(const long long* values, int count) {
    printf("[");
    for (int i = 0; i < count; ++i)
        printf("%s%lld", i ? "," : "", values[i]);
    printf("]");
}

// The part of `text` up to `sep` (all of it when there is none), taken off it.
std::string_view take_field(std::string_view* text, char sep) {
    const size_t at = text->find(sep);
    const std::string_view field = sub(*text, 0, at);
    *text = at == std::string_view::npos ? std::string_view() : sub(*text, at + 1);
    return field;
}

// The next knob the phone took back, from the index's "knob:times:left|kept,..." (the knob's
// space kept as '/'); 0 when none is left.
int next_taken_back(std::string_view* text, char* name, size_t cap, int* times, int* left) {
    while (!text->empty()) {
        std::string_view item = take_field(text, ',');
        const std::string_view knob = take_field(&item, ':');
        const std::string_view count = take_field(&item, ':');
        int n = 0;
        for (char c : count)
            n = c >= '0' && c <= '9' && n >= 0 && n < 100000 ? n * 10 + (c - '0') : -1;
        if (knob.empty() || count.empty() || n < 0 || knob.size() >= cap) continue;
        for (size_t i = 0; i < knob.size(); ++i)
            name[i] = knob[i] == '/' ? ' ' : knob[i];
        name[knob.size()] = '\0';
        *times = n;
        *left = item == "left";
        return 1;
    }
    return 0;
}

void print_taken_back_json(std::string_view text) {
    printf(",\"takenBack\":[");
    char name[128];
    int times = 0;
    int left = 0;
    for (int n = 0; next_taken_back(&text, name, sizeof name, &times, &left); ++n) {
        printf("%s{\"knob\":", n ? "," : "");
        write_json_string(stdout, name);
        printf(",\"times\":%d,\"left\":%s}", times, left ? "true" : "false");
    }
    printf("]");
}

void print_summary_json(const session_line& l) {
    const session_summary& s = l.summary;
    printf("{\"start\":%lld,\"game\":", l.start);
    write_json_string(stdout, l.game);
    printf(",\"preset\":");
    write_json_string(stdout, l.preset);
    printf(
        ",\"durationS\":%lld,\"energyMwh\":%.1f,\"dischargingS\":%lld,\"meanMw\":%lld,"
        "\"peakTempC\":%.1f,\"meanTempC\":%.1f,\"levelS\":",
        s.duration_s, s.energy_mwh_x10 / 10.0, s.discharging_s, s.mean_mw, s.peak_temp_dc / 10.0,
        s.mean_temp_dc / 10.0);
    print_numbers(s.level_s, THERMAL_LEVELS);
    long long top[MAX_CLUSTERS];
    for (int i = 0; i < s.clusters; ++i)
        top[i] = s.top[i];
    printf(",\"firstModerateS\":%lld,\"topPermille\":", s.first_moderate_s);
    print_numbers(top, s.clusters);
    printf(",\"samples\":%d,\"throttledSamples\":%d,\"frames\":", s.samples, s.throttled_samples);
    if (l.frames_known) {
        printf(
            "{\"total\":%lld,\"dropped\":%lld,\"fps\":%.2f,\"lowFps\":%.2f,\"reset\":%s,"
            "\"layers\":[",
            l.frames, l.dropped, l.fps_x100 / 100.0, l.low_fps_x100 / 100.0,
            l.frames_reset ? "true" : "false");
        std::string_view layers(l.layers);
        char name[LAYER_NAME_SIZE];
        for (int i = 0; decode_layer(&layers, name, sizeof name); ++i) {
            if (i) printf(",");
            write_json_string(stdout, name);
        }
        printf("]}");
    } else {
        printf("null");
    }
    printf(",\"notChargingS\":%lld,\"format\":%d,\"units\":", s.not_charging_s, l.format);
    if (l.units.current || l.units.voltage) {
        const auto unit = [](int scale, const char* micro, const char* milli) {
            return scale == UNITS_MICRO ? micro : scale == UNITS_MILLI ? milli : nullptr;
        };
        const char* current = unit(l.units.current, "\"uA\"", "\"mA\"");
        const char* voltage = unit(l.units.voltage, "\"uV\"", "\"mV\"");
        printf("{\"current\":%s,\"voltage\":%s}", current ? current : "null",
               voltage ? voltage : "null");
    } else {
        printf("null");
    }
    const char* source = frame_rate_source(l.fps_node);
    printf(",\"fpsSource\":");
    if (source) {
        printf("\"%s\",\"fpsNode\":", source);
        write_json_string(stdout, l.fps_node);
    } else {
        printf("null,\"fpsNode\":null");
    }
    if (s.fps_mean_x10 >= 0)
        printf(",\"fpsMean\":%.1f", s.fps_mean_x10 / 10.0);
    else
        printf(",\"fpsMean\":null");
    print_taken_back_json(l.taken_back);
    printf("}");
}

// A duration as the page shows it too: seconds under a minute, else minutes rounded to the
// nearest (90 s is "2 min").
void print_duration(long long s) {
    if (s < 60)
        printf("%lld s", s);
    else
        printf("%lld min", (s + 30) / 60);
}

int collect(session_line* lines, int cap) {
    std::string_view index = read_session_index();
    int count = 0;
    while (!index.empty() && count < cap) {
        const size_t nl = index.find('\n');
        const std::string_view one =
            sub(index, 0, nl == std::string_view::npos ? index.size() : nl + 1);
        index.remove_prefix(one.size());
        if (parse_session_line(one, &lines[count])) ++count;
    }
    return count;
}

session_line all[MAX_SESSIONS];

// The clusters' CPUs from the session's "# clusters 0-3 4-7" line, where it has one.
void print_clusters(std::string_view rows) {
    constexpr std::string_view key = "\n# clusters ";
    const size_t at = rows.find(key);
    if (at == std::string_view::npos) return;
    std::string_view line = sub(rows, at + key.size(), std::string_view::npos);
    line = sub(line, 0, line.find('\n'));
    printf(",\"clusters\":[");
    for (int i = 0; !line.empty(); ++i) {
        const size_t space = line.find(' ');
        printf("%s", i ? "," : "");
        write_json_string(stdout, sub(line, 0, space));
        line.remove_prefix(space == std::string_view::npos ? line.size() : space + 1);
    }
    printf("]");
}

// One session's rows as JSON arrays, for its charts.
int show(long long start) {
    const int count = collect(all, MAX_SESSIONS);
    for (int i = 0; i < count; ++i) {
        if (all[i].start != start) continue;
        char name[200];
        char path[512];
        if (!session_file_name(name, sizeof name, start, all[i].game) ||
            !sessions_path(path, sizeof path, name))
            break;
        const ssize_t n = read_small_file(path, rows_text, sizeof rows_text);
        printf("{\"summary\":");
        print_summary_json(all[i]);
        std::string_view rest(rows_text, n > 0 ? static_cast<size_t>(n) : 0);
        print_clusters(rest);
        printf(",\"rows\":[");
        sample s;
        for (int out = 0; !rest.empty();) {
            const size_t nl = rest.find('\n');
            const std::string_view line =
                sub(rest, 0, nl == std::string_view::npos ? rest.size() : nl + 1);
            rest.remove_prefix(line.size());
            if (!parse_sample(line, &s)) continue;
            // t, charging, mW, temp, level, throttled clusters' top shares
            printf("%s[%lld,%d,%lld,%.1f,%d,%d", out++ ? "," : "", s.t_ms / 1000, s.charging,
                   s.power_mw, s.temp_dc / 10.0, s.level, s.cooling);
            for (int c = 0; c < s.clusters; ++c)
                printf(",%d", s.top[c]);
            printf("]");
        }
        printf("],\"fps\":[");
        rest = std::string_view(rows_text, n > 0 ? static_cast<size_t>(n) : 0);
        for (int out = 0; !rest.empty();) {
            const size_t nl = rest.find('\n');
            const std::string_view line =
                sub(rest, 0, nl == std::string_view::npos ? rest.size() : nl + 1);
            rest.remove_prefix(line.size());
            if (!parse_sample(line, &s)) continue;
            if (s.fps_x10 >= 0)
                printf("%s%.1f", out++ ? "," : "", s.fps_x10 / 10.0);
            else
                printf("%snull", out++ ? "," : "");
        }
        printf("]}\n");
        return 0;
    }
    fprintf(stderr, "sessions: no session started at %lld\n", start);
    return 1;
}

}  // namespace

void print_sessions_json(int count) {
    const int found = collect(all, MAX_SESSIONS);
    printf("[");
    for (int i = found > count ? found - count : 0, n = 0; i < found; ++i, ++n) {
        if (n) printf(",");
        print_summary_json(all[i]);
    }
    printf("]");
}

int run_sessions(int argc, char** argv) {
    if (argc == 1 && strcmp(argv[0], "--json") == 0) {
        print_sessions_json(MAX_SESSIONS);
        printf("\n");
        return fflush(stdout) == 0 ? 0 : 1;
    }
    if (argc == 2 && strcmp(argv[0], "show") == 0) return show(atoll(argv[1]));
    if (argc != 0) {
        fprintf(stderr, "usage: tessivarctl sessions [--json] | sessions show START\n");
        return 2;
    }
    const int count = collect(all, MAX_SESSIONS);
    if (!count) printf("No game sessions recorded yet.\n");
    for (int i = count - 1; i >= 0; --i) {
        const session_line& l = all[i];
        const session_summary& s = l.summary;
        printf("%s (%s): ", l.game, l.preset);
        print_duration(s.duration_s);
        if (l.frames_known) {
            printf(", %.1f fps (5th percentile %.1f), %lld dropped", l.fps_x100 / 100.0,
                   l.low_fps_x100 / 100.0, l.dropped);
            if (l.frames_reset)
                printf(
                    " (the platform cleared its frame counters during the session: these "
                    "are the frames since)");
        } else {
            printf(", frames: not available");
        }
        if (s.mean_mw >= 0)
            printf(", %.1f mWh (%lld mW on average)", s.energy_mwh_x10 / 10.0, s.mean_mw);
        if (s.peak_temp_dc > -10000) printf(", battery up to %.1f C", s.peak_temp_dc / 10.0);
        if (s.first_moderate_s >= 0) {
            printf(", MODERATE after ");
            print_duration(s.first_moderate_s);
        }
        std::string_view taken = l.taken_back;
        char knob[128];
        int times = 0;
        int left = 0;
        for (int n = 0; next_taken_back(&taken, knob, sizeof knob, &times, &left); ++n)
            printf("%s%s %d time%s%s", n ? ", " : ", taken back by the phone: ", knob, times,
                   times == 1 ? "" : "s", left ? " (then left to it)" : "");
        if (s.not_charging_s > 0)
            printf(", %lld s plugged in but not charging (left out of energy)", s.not_charging_s);
        const char* source = frame_rate_source(l.fps_node);
        if (s.fps_mean_x10 >= 0)
            printf(", %s %.1f fps on average over time",
                   source && strcmp(source, "fpsgo") == 0 ? "the game's own frames (FPSGO):"
                                                          : "the display showed",
                   s.fps_mean_x10 / 10.0);
        else if (l.format >= SESSION_FORMAT && !source)
            printf(", frame rate over time: not reported by this phone");
        if (l.layers[0]) {
            std::string_view layers(l.layers);
            char name[LAYER_NAME_SIZE];
            printf("; frames from layer");
            for (int n = 0; decode_layer(&layers, name, sizeof name); ++n) {
                printf("%s ", n ? "," : "");
                print_visible(stdout, name);  // an app names its windows
            }
        }
        printf("\n");
    }
    return fflush(stdout) == 0 ? 0 : 1;
}
