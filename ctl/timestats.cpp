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

long long number(std::string_view text) {
    long long n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        n = n * 10 + (c - '0');
    }
    return n;
}

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
            if (i >= 0) buckets[i] += number(sub(item, ms + 3));
        }
        at = end + 1;
    }
}

std::string_view value_of(std::string_view line, std::string_view key) {
    return sub(line, 0, key.size()) == key ? sub(line, key.size()) : std::string_view();
}

}  // namespace

void parse_timestats(std::string_view dump, std::string_view package, frame_counts* out) {
    memset(out, 0, sizeof *out);
    int in_layer = 0;  // within a layer record (after its layerName)
    int ours = 0;      // ... of the game's package
    int histogram_next = 0;
    while (!dump.empty()) {
        size_t end = dump.find('\n');
        if (end == std::string_view::npos) end = dump.size();
        std::string_view line = sub(dump, 0, end);
        dump.remove_prefix(end < dump.size() ? end + 1 : end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (histogram_next) {
            histogram_next = 0;
            if (ours) add_histogram(line, out->present_ms);
            continue;
        }
        if (sub(line, 0, 12) == "layerName = ") {
            in_layer = 1;
            ours = 0;
            continue;
        }
        if (!in_layer) continue;  // the global (legacy) part counts every layer: not ours
        std::string_view v;
        if (!(v = value_of(line, "packageName = ")).empty() || line == "packageName = ") {
            ours = v == package;
            out->layers += ours;
        } else if (ours && !(v = value_of(line, "totalFrames = ")).empty()) {
            out->total += number(v);
        } else if (ours && !(v = value_of(line, "droppedFrames = ")).empty()) {
            out->dropped += number(v);
        } else if (line == "present2present histogram is as below:") {
            histogram_next = 1;
        }
    }
}

frame_counts frames_between(const frame_counts& start, const frame_counts& end) {
    frame_counts d = end;
    const auto minus = [](long long a, long long b) { return a >= b ? a - b : a; };
    d.total = minus(end.total, start.total);
    d.dropped = minus(end.dropped, start.dropped);
    for (int i = 0; i < FRAME_BUCKETS; ++i)
        d.present_ms[i] = minus(end.present_ms[i], start.present_ms[i]);
    return d;
}

double average_fps(const frame_counts& f) {
    long long count = 0;
    long long ms = 0;
    for (int i = 0; i < FRAME_BUCKETS; ++i) {
        count += f.present_ms[i];
        ms += f.present_ms[i] * FRAME_BUCKET_MS[i];
    }
    return ms > 0 ? 1000.0 * static_cast<double>(count) / static_cast<double>(ms) : 0;
}

double low_fps(const frame_counts& f) {
    long long count = 0;
    for (int i = 0; i < FRAME_BUCKETS; ++i)
        count += f.present_ms[i];
    if (!count) return 0;
    // The slowest twentieth: walk from the longest frame times down.
    const long long slowest = (count + 19) / 20;
    long long seen = 0;
    for (int i = FRAME_BUCKETS - 1; i >= 0; --i) {
        seen += f.present_ms[i];
        if (seen >= slowest) return FRAME_BUCKET_MS[i] > 0 ? 1000.0 / FRAME_BUCKET_MS[i] : 0;
    }
    return 0;
}
