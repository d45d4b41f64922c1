#include "timestats.h"

#include <string.h>

#include "text_view.h"

const int FRAME_BUCKET_MS[FRAME_BUCKETS] = {
    0,   1,   2,   3,   4,   5,   6,   7,   8,   9,   10,  11,  12,  13,  14,  15,  16,
    17,  18,  19,  20,  21,  22,  23,  24,  25,  26,  27,  28,  29,  30,  31,  32,  33,
    34,  36,  38,  40,  42,  44,  46,  48,  50,  54,  58,  62,  66,  70,  74,  78,  82,
    86,  90,  94,  98,  102, 106, 110, 114, 118, 122, 126, 130, 134, 138, 142, 146, 150,
    200, 250, 300, 350, 400, 450, 500, 550, 600, 650, 700, 750, 800, 850, 900, 950, 1000};

namespace {

// The dump prints 32-bit counts and 64-bit seconds: ten digits at most are read, so no sum
// of them can overflow.
long long number(std::string_view text) {
    long long n = 0;
    for (size_t i = 0; i < text.size() && i < 10 && text[i] >= '0' && text[i] <= '9'; ++i)
        n = n * 10 + (text[i] - '0');
    return n;
}

constexpr long long MOST = 1000000000000000LL;  // a bucket's count stops growing here

int bucket_index(long long ms) {
    for (int i = 0; i < FRAME_BUCKETS; ++i)
        if (FRAME_BUCKET_MS[i] == ms) return i;
    return -1;
}

// "0ms=0 1ms=2 ..." into the histogram.
void add_histogram(std::string_view line, long long* buckets) {
    size_t at = 0;
    while (at < line.size()) {
        size_t end = line.find(' ', at);
        if (end == std::string_view::npos) end = line.size();
        const std::string_view item = sub(line, at, end - at);
        const size_t ms = item.find("ms=");
        if (ms != std::string_view::npos) {
            const int i = bucket_index(number(item));
            if (i >= 0 && buckets[i] < MOST) buckets[i] += number(sub(item, ms + 3));
        }
        at = end + 1;
    }
}

int starts_with(std::string_view text, std::string_view prefix) {
    return sub(text, 0, prefix.size()) == prefix;
}

// The value after `key` ("key = "), or nothing when the line is another key's. `*is` says
// whether it was this key (its value may be empty).
std::string_view value_of(std::string_view line, std::string_view key, int* is) {
    *is = starts_with(line, key);
    return *is ? sub(line, key.size()) : std::string_view();
}

// Whether a layer's name is one the package's windows take.
int names_package(std::string_view name, std::string_view package) {
    if (package.empty()) return 0;
    for (std::string_view prefix : {"", "SurfaceView[", "SurfaceView - "}) {
        if (!starts_with(name, prefix)) continue;
        const std::string_view rest = sub(name, prefix.size());
        if (starts_with(rest, package) && sub(rest, package.size(), 1) == "/") return 1;
    }
    return 0;
}

unsigned mix(unsigned hash, std::string_view text) {
    for (char c : text)
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    return (hash ^ '\n') * 16777619u;
}

constexpr unsigned KEY_START = 2166136261u;

int same_record(const layer_record& a, const layer_record& b) {
    return a.key == b.key && a.uid == b.uid && strcmp(a.name, b.name) == 0;
}

long long present_time(const long long* present_ms) {
    long long ms = 0;
    for (int i = 0; i < FRAME_BUCKETS; ++i)
        ms += present_ms[i] * FRAME_BUCKET_MS[i];
    return ms;
}

// One layer's frames over the session, its records of every refresh rate summed.
struct layer_sum {
    const char* name;
    long long total;
    long long dropped;
    long long present_ms[FRAME_BUCKETS];
};
layer_sum sums[MAX_GAME_RECORDS];

}  // namespace

long long package_uid(std::string_view list, std::string_view package) {
    while (!list.empty() && !package.empty()) {
        size_t end = list.find('\n');
        if (end == std::string_view::npos) end = list.size();
        const std::string_view line = sub(list, 0, end);
        list.remove_prefix(end < list.size() ? end + 1 : end);
        if (starts_with(line, package) && sub(line, package.size(), 1) == " ") {
            const std::string_view uid = sub(line, package.size() + 1);
            if (uid.empty() || uid[0] < '0' || uid[0] > '9') return -1;
            return number(uid);
        }
    }
    return -1;
}

void parse_timestats(std::string_view dump, const game_identity& game, frame_counts* out) {
    memset(out, 0, sizeof *out);
    // Only an app's own uid names the game (shared system uids below 10000 name many).
    const long long app_id = game.app_id >= 10000 ? game.app_id % 100000 : -1;
    int in_layer = 0;    // within a layer record (after its layerName)
    int by_package = 0;  // ... whose package is the game's
    long long uid = -1;  // the record's uid, given before its name
    unsigned key = KEY_START;
    char name[LAYER_NAME_SIZE] = "";
    layer_record* into = nullptr;  // the game's record being read
    int histogram_next = 0;
    while (!dump.empty()) {
        size_t end = dump.find('\n');
        if (end == std::string_view::npos) end = dump.size();
        std::string_view line = sub(dump, 0, end);
        dump.remove_prefix(end < dump.size() ? end + 1 : end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (histogram_next) {
            histogram_next = 0;
            if (into) add_histogram(line, into->present_ms);
            continue;
        }
        if (line.empty()) {  // every record, global or layer, begins with an empty line
            in_layer = 0;
            into = nullptr;
            uid = -1;
            key = KEY_START;
            continue;
        }
        int is = 0;
        std::string_view v;
        if (!in_layer) {
            // The global part counts every layer: only its start time is wanted.
            if (!(v = value_of(line, "statsStart = ", &is)).empty() && !out->stats_start) {
                out->stats_start = number(v);
            } else if (starts_with(line, "displayRefreshRate = ") ||
                       starts_with(line, "renderRate = ")) {
                key = mix(key, line);
            } else if ((v = value_of(line, "uid = ", &is)), is) {
                uid = number(v);
            } else if ((v = value_of(line, "layerName = ", &is)), is) {
                in_layer = 1;
                by_package = 0;
                const size_t n = v.size() < sizeof name ? v.size() : sizeof name - 1;
                memcpy(name, v.data(), n);
                name[n] = '\0';
            }
            continue;
        }
        if ((v = value_of(line, "packageName = ", &is)), is) {
            by_package = !v.empty() && v == game.package;
        } else if (starts_with(line, "gameMode = ")) {
            key = mix(key, line);
        } else if (!(v = value_of(line, "totalFrames = ", &is)).empty() && !into) {
            const int ours = by_package || (app_id >= 0 && uid >= 0 && uid % 100000 == app_id) ||
                             names_package(name, game.package);
            if (!ours) continue;
            if (out->layers == MAX_GAME_RECORDS) {
                ++out->more;
                continue;
            }
            into = &out->record[out->layers++];
            memcpy(into->name, name, sizeof name);
            into->key = key;
            into->uid = uid;
            into->total = number(v);
        } else if (into && !(v = value_of(line, "droppedFrames = ", &is)).empty()) {
            into->dropped = number(v);
        } else if (line == "present2present histogram is as below:") {
            histogram_next = 1;
        }
    }
}

void frames_between(const frame_counts& start, const frame_counts& end, long long session_ms,
                    session_frames* out) {
    memset(out, 0, sizeof *out);
    memset(sums, 0, sizeof sums);
    // Cleared since the start: the statistics began again, or a record went down or away.
    out->reset = start.stats_start && end.stats_start && start.stats_start != end.stats_start;
    for (int s = 0; s < start.layers; ++s) {
        int found = 0;
        for (int e = 0; e < end.layers && !found; ++e)
            found = same_record(start.record[s], end.record[e]);
        out->reset |= !found && start.record[s].total > 0 && !end.more;
    }
    int layers = 0;
    for (int e = 0; e < end.layers; ++e) {
        const layer_record& now = end.record[e];
        const layer_record* before = nullptr;
        for (int s = 0; s < start.layers && !before; ++s)
            if (same_record(start.record[s], now)) before = &start.record[s];
        int cleared = before && (now.total < before->total || now.dropped < before->dropped);
        for (int i = 0; before && i < FRAME_BUCKETS; ++i)
            cleared |= now.present_ms[i] < before->present_ms[i];
        out->reset |= cleared;
        // A record that went down counts from its clearing: its frames now are all since.
        const layer_record* from = before && !cleared ? before : nullptr;
        int l = 0;
        while (l < layers && strcmp(sums[l].name, now.name) != 0)
            ++l;
        if (l == layers) sums[layers++].name = now.name;
        sums[l].total += now.total - (from ? from->total : 0);
        sums[l].dropped += now.dropped - (from ? from->dropped : 0);
        for (int i = 0; i < FRAME_BUCKETS; ++i)
            sums[l].present_ms[i] += now.present_ms[i] - (from ? from->present_ms[i] : 0);
    }
    // The layer with the most frames first; then each next one whose present time still fits
    // in the session (with a tenth to spare: the buckets round down).
    long long used_ms = 0;
    const long long budget_ms = session_ms + session_ms / 10 + 1000;
    for (int round = 0; round < layers; ++round) {
        int best = -1;
        for (int l = 0; l < layers; ++l)
            if (sums[l].name && (best < 0 || sums[l].total > sums[best].total)) best = l;
        if (best < 0 || sums[best].total <= 0) break;
        layer_sum& layer = sums[best];
        const long long ms = present_time(layer.present_ms);
        const int first = out->counted == 0;
        if (first || used_ms + ms <= budget_ms) {
            used_ms += ms;
            out->total += layer.total;
            out->dropped += layer.dropped;
            for (int i = 0; i < FRAME_BUCKETS; ++i)
                out->present_ms[i] += layer.present_ms[i];
            if (out->counted < MAX_COUNTED_LAYERS)
                memcpy(out->names[out->counted], layer.name, LAYER_NAME_SIZE);
            ++out->counted;
        }
        layer.name = nullptr;
    }
}

double average_fps(const long long* present_ms) {
    long long count = 0;
    for (int i = 0; i < FRAME_BUCKETS; ++i)
        count += present_ms[i];
    const long long ms = present_time(present_ms);
    return ms > 0 ? 1000.0 * static_cast<double>(count) / static_cast<double>(ms) : 0;
}

double low_fps(const long long* present_ms) {
    long long count = 0;
    for (int i = 0; i < FRAME_BUCKETS; ++i)
        count += present_ms[i];
    if (!count) return 0;
    // The slowest twentieth: walk from the longest frame times down.
    const long long slowest = (count + 19) / 20;
    long long seen = 0;
    for (int i = FRAME_BUCKETS - 1; i >= 0; --i) {
        seen += present_ms[i];
        if (seen >= slowest) return FRAME_BUCKET_MS[i] > 0 ? 1000.0 / FRAME_BUCKET_MS[i] : 0;
    }
    return 0;
}
