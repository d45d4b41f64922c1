#include "session_record.h"

#include <stdio.h>
#include <string.h>

#include "text_view.h"

namespace {

// A whole number (with an optional '-') at the start of `text`; `*ok` says whether there was one.
long long to_number(std::string_view text, int* ok) {
    long long n = 0;
    int negative = 0;
    size_t i = 0;
    if (!text.empty() && text[0] == '-') {
        negative = 1;
        i = 1;
    }
    const size_t first = i;
    // 18 digits at most: no overflow (a longer number is no number here).
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && i - first < 18; ++i)
        n = n * 10 + (text[i] - '0');
    *ok = i > first && i == text.size();
    return negative ? -n : n;
}

// Splits `text` at `sep`, taking the next field.
std::string_view next_field(std::string_view* text, char sep) {
    const size_t at = text->find(sep);
    const std::string_view field = sub(*text, 0, at);
    text->remove_prefix(at == std::string_view::npos ? text->size() : at + 1);
    return field;
}

struct time_in_state {
    long long khz[64];
    long long ticks[64];
    int count;
};

void read_time_in_state(std::string_view text, time_in_state* t) {
    t->count = 0;
    while (!text.empty() && t->count < 64) {
        std::string_view line = next_field(&text, '\n');
        int ok_a = 0;
        int ok_b = 0;
        const long long khz = to_number(next_field(&line, ' '), &ok_a);
        const long long ticks = to_number(line, &ok_b);
        if (!ok_a || !ok_b) continue;
        t->khz[t->count] = khz;
        t->ticks[t->count++] = ticks;
    }
}

}  // namespace

int format_sample(const sample& s, char* out, size_t cap) {
    int n = snprintf(out, cap, "%lld\t%d\t%lld\t%d\t%d\t%d\t%d\t%d\t%lld\t%d", s.t_ms, s.charging,
                     s.power_mw, s.temp_dc, s.capacity, s.level, s.cooling, s.gpu_busy, s.gpu_khz,
                     s.clusters);
    for (int i = 0; i < s.clusters && n > 0 && static_cast<size_t>(n) < cap; ++i)
        n += snprintf(out + n, cap - static_cast<size_t>(n), "\t%d\t%lld\t%lld", s.top[i],
                      s.cur_khz[i], s.max_khz[i]);
    if (n > 0 && static_cast<size_t>(n) < cap)
        n += snprintf(out + n, cap - static_cast<size_t>(n), "\t%d", s.fps_x10);
    if (n <= 0 || static_cast<size_t>(n) + 1 >= cap) return 0;
    out[n] = '\n';
    out[n + 1] = '\0';
    return n + 1;
}

int parse_sample(std::string_view line, sample* s) {
    if (line.empty() || line.back() != '\n') return 0;  // a row cut by a crash is no row
    line.remove_suffix(1);
    // Rows of the first format end with the clusters; later ones add the frame rate, and a
    // field a later version adds after it is passed over.
    constexpr int MOST = 10 + 3 * MAX_CLUSTERS + 8;
    long long v[MOST];
    int count = 0;
    while (!line.empty() && count < MOST) {
        int ok = 0;
        v[count++] = to_number(next_field(&line, '\t'), &ok);
        if (!ok) return 0;
    }
    if (count < 10 || !line.empty() || v[9] < 0 || v[9] > MAX_CLUSTERS || count < 10 + 3 * v[9])
        return 0;
    *s = sample{v[0],
                static_cast<int>(v[1]),
                v[2],
                static_cast<int>(v[3]),
                static_cast<int>(v[4]),
                static_cast<int>(v[5]),
                static_cast<int>(v[6]),
                static_cast<int>(v[7]),
                v[8],
                static_cast<int>(v[9]),
                {},
                {},
                {},
                -1};
    for (int i = 0; i < s->clusters; ++i) {
        s->top[i] = static_cast<int>(v[10 + 3 * i]);
        s->cur_khz[i] = v[11 + 3 * i];
        s->max_khz[i] = v[12 + 3 * i];
    }
    if (count > 10 + 3 * s->clusters) s->fps_x10 = static_cast<int>(v[10 + 3 * s->clusters]);
    return 1;
}

int decide_units(battery_units* u, long long current, long long voltage, int status) {
    const battery_units before = *u;
    if (current < 0) current = -current;
    if (voltage < 0) voltage = -voltage;
    // 3-5 V: millions in µV, thousands in mV.
    if (!u->voltage && voltage > 0) u->voltage = voltage >= 100000 ? UNITS_MICRO : UNITS_MILLI;
    if (!u->current && current >= 20000) u->current = UNITS_MICRO;
    if (!u->current && status == DISCHARGING && current > 0) u->current = UNITS_MILLI;
    return u->current != before.current || u->voltage != before.voltage;
}

long long battery_power_mw(long long current, long long voltage, const battery_units& u) {
    if (current < 0) current = -current;
    if (voltage < 0) voltage = -voltage;
    if (!u.voltage || voltage == 0) return -1;
    if (current > 1000000000LL || voltage > 100000000LL) return -1;  // a driver's garbage
    const int current_units = u.current ? u.current : u.voltage;
    const long long ua = current_units == UNITS_MICRO ? current : current * 1000;
    const long long uv = u.voltage == UNITS_MICRO ? voltage : voltage * 1000;
    if (ua > 1000000000LL || uv > 100000000LL) return -1;
    return ua * uv / 1000000000LL;  // µA·µV is pW
}

int format_units(const battery_units& u, char* out, size_t cap) {
    const char* current = u.current == UNITS_MICRO ? "uA" : u.current == UNITS_MILLI ? "mA" : "-";
    const char* voltage = u.voltage == UNITS_MICRO ? "uV" : u.voltage == UNITS_MILLI ? "mV" : "-";
    const int n = snprintf(out, cap, "%s,%s", current, voltage);
    return n > 0 && static_cast<size_t>(n) < cap;
}

int parse_units(std::string_view text, battery_units* u) {
    const std::string_view current = next_field(&text, ',');
    *u = battery_units{current == "uA"   ? UNITS_MICRO
                       : current == "mA" ? UNITS_MILLI
                                         : 0,
                       text == "uV"   ? UNITS_MICRO
                       : text == "mV" ? UNITS_MILLI
                                      : 0};
    return u->current || u->voltage;
}

int charging_status(std::string_view status) {
    if (status == "Charging" || status == "Full") return CHARGING;
    if (status == "Discharging") return DISCHARGING;
    if (status == "Not charging") return NOT_CHARGING;
    return STATUS_UNKNOWN;
}

int top_fifth_share(std::string_view before, std::string_view after) {
    static time_in_state a;
    static time_in_state b;
    read_time_in_state(before, &a);
    read_time_in_state(after, &b);
    if (a.count == 0 || a.count != b.count) return -1;
    // The top fifth of the steps: the highest fifth of the frequencies listed, at least one.
    long long highest[64];
    int n = b.count;
    memcpy(highest, b.khz, sizeof(long long) * static_cast<size_t>(n));
    for (int i = 1; i < n; ++i)
        for (int j = i; j > 0 && highest[j - 1] < highest[j]; --j) {
            const long long t = highest[j];
            highest[j] = highest[j - 1];
            highest[j - 1] = t;
        }
    const int top_steps = (n + 4) / 5;
    const long long threshold = highest[top_steps - 1];
    long long total = 0;
    long long top = 0;
    for (int i = 0; i < n; ++i) {
        if (a.khz[i] != b.khz[i] || b.ticks[i] < a.ticks[i]) return -1;  // reset, or another table
        const long long d = b.ticks[i] - a.ticks[i];
        total += d;
        if (b.khz[i] >= threshold) top += d;
    }
    return total > 0 ? static_cast<int>(top * 1000 / total) : -1;
}

int keep_sample(long long t_ms, long long index) {
    constexpr long long TWO_HOURS_MS = 2 * 3600 * 1000LL;
    long long every = 1;
    for (long long past = TWO_HOURS_MS; t_ms >= past && every < 64; past += TWO_HOURS_MS)
        every *= 2;
    return index % every == 0;
}

void summarize(const sample* samples, int count, session_summary* out) {
    memset(out, 0, sizeof *out);
    out->mean_mw = -1;
    out->peak_temp_dc = -10000;
    out->mean_temp_dc = -10000;
    out->first_moderate_s = -1;
    out->fps_mean_x10 = -1;
    out->samples = count;
    long long fps_sum = 0;
    int fps_count = 0;
    long long not_charging_ms = 0;
    long long energy_mw_ms = 0;
    long long discharging_ms = 0;
    long long temp_sum = 0;
    int temp_count = 0;
    long long top_sum[MAX_CLUSTERS] = {};
    int top_count[MAX_CLUSTERS] = {};
    long long highest_max[MAX_CLUSTERS] = {};
    for (int i = 0; i < count; ++i)
        for (int c = 0; c < samples[i].clusters; ++c)
            if (samples[i].max_khz[c] > highest_max[c]) highest_max[c] = samples[i].max_khz[c];
    for (int i = 0; i < count; ++i) {
        const sample& s = samples[i];
        // Each sample stands for the interval since the one before it.
        const long long dt = i ? s.t_ms - samples[i - 1].t_ms : 0;
        if (s.charging == DISCHARGING && s.power_mw >= 0 && dt > 0) {
            energy_mw_ms += s.power_mw * dt;
            discharging_ms += dt;
        }
        if (s.charging == NOT_CHARGING) not_charging_ms += dt;
        if (s.fps_x10 >= 0) {
            fps_sum += s.fps_x10;
            ++fps_count;
        }
        if (s.temp_dc > -10000) {
            if (s.temp_dc > out->peak_temp_dc) out->peak_temp_dc = s.temp_dc;
            temp_sum += s.temp_dc;
            ++temp_count;
        }
        if (s.level >= 0 && s.level < THERMAL_LEVELS) out->level_s[s.level] += dt;
        if (s.level >= 2 && out->first_moderate_s < 0) out->first_moderate_s = s.t_ms / 1000;
        if (s.clusters > out->clusters) out->clusters = s.clusters;
        int throttled = 0;
        for (int c = 0; c < s.clusters; ++c) {
            if (s.top[c] >= 0) {
                top_sum[c] += s.top[c];
                ++top_count[c];
            }
            throttled |= s.max_khz[c] > 0 && s.max_khz[c] < highest_max[c];
        }
        out->throttled_samples += throttled;
    }
    for (int l = 0; l < THERMAL_LEVELS; ++l)
        out->level_s[l] /= 1000;
    out->duration_s = count ? samples[count - 1].t_ms / 1000 : 0;
    out->energy_mwh_x10 = energy_mw_ms / 360000;  // mW·ms to tenths of a mWh
    out->discharging_s = discharging_ms / 1000;
    out->not_charging_s = not_charging_ms / 1000;
    if (fps_count) out->fps_mean_x10 = static_cast<int>(fps_sum / fps_count);
    if (discharging_ms > 0) out->mean_mw = energy_mw_ms / discharging_ms;
    if (temp_count) out->mean_temp_dc = static_cast<int>(temp_sum / temp_count);
    for (int c = 0; c < out->clusters; ++c)
        out->top[c] = top_count[c] ? static_cast<int>(top_sum[c] / top_count[c]) : -1;
}

int encode_layers(const session_frames& frames, char* out, size_t cap) {
    size_t n = 0;
    out[0] = '\0';
    const int names = frames.counted < MAX_COUNTED_LAYERS ? frames.counted : MAX_COUNTED_LAYERS;
    for (int i = 0; i < names; ++i) {
        char one[3 * LAYER_NAME_SIZE + 2];
        size_t m = 0;
        if (i) one[m++] = ',';
        for (const char* c = frames.names[i]; *c; ++c) {
            const unsigned char b = static_cast<unsigned char>(*c);
            if (b <= ' ' || b >= 0x7f || b == '%' || b == ',' || b == '=') {
                snprintf(one + m, 4, "%%%02X", b);
                m += 3;
            } else {
                one[m++] = *c;
            }
        }
        if (n + m + 1 > cap) break;  // the names that fit; the count says how many more
        memcpy(out + n, one, m);
        n += m;
        out[n] = '\0';
    }
    return static_cast<int>(n);
}

int decode_layer(std::string_view* layers, char* out, size_t cap) {
    if (layers->empty() || cap == 0) return 0;
    const std::string_view one = next_field(layers, ',');
    size_t n = 0;
    for (size_t i = 0; i < one.size() && n + 1 < cap; ++i) {
        const auto hex = [](char c) {
            return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        };
        if (one[i] == '%' && i + 2 < one.size() && hex(one[i + 1]) >= 0 && hex(one[i + 2]) >= 0) {
            out[n++] = static_cast<char>(hex(one[i + 1]) * 16 + hex(one[i + 2]));
            i += 2;
        } else {
            out[n++] = one[i];
        }
    }
    out[n] = '\0';
    return 1;
}

int format_session_line(const session_line& l, char* out, size_t cap) {
    const session_summary& s = l.summary;
    int n = snprintf(out, cap,
                     "start=%lld game=%s preset=%s format=%d duration_s=%lld energy_mwh_x10=%lld "
                     "discharging_s=%lld not_charging_s=%lld mean_mw=%lld peak_temp_dc=%d "
                     "mean_temp_dc=%d levels_s=",
                     l.start, l.game, l.preset, l.format, s.duration_s, s.energy_mwh_x10,
                     s.discharging_s, s.not_charging_s, s.mean_mw, s.peak_temp_dc, s.mean_temp_dc);
    for (int i = 0; i < THERMAL_LEVELS && n > 0 && static_cast<size_t>(n) < cap; ++i)
        n += snprintf(out + n, cap - static_cast<size_t>(n), "%s%lld", i ? "," : "", s.level_s[i]);
    if (n > 0 && static_cast<size_t>(n) < cap)
        n += snprintf(out + n, cap - static_cast<size_t>(n),
                      " first_moderate_s=%lld top_permille=", s.first_moderate_s);
    for (int i = 0; i < s.clusters && n > 0 && static_cast<size_t>(n) < cap; ++i)
        n += snprintf(out + n, cap - static_cast<size_t>(n), "%s%d", i ? "," : "", s.top[i]);
    char units[16];
    format_units(l.units, units, sizeof units);
    if (n > 0 && static_cast<size_t>(n) < cap)
        n += snprintf(out + n, cap - static_cast<size_t>(n),
                      "%s samples=%d throttled_samples=%d frames_known=%d frames=%lld "
                      "dropped=%lld fps_x100=%d low_fps_x100=%d frames_reset=%d units=%s "
                      "fps_mean_x10=%d",
                      s.clusters ? "" : "-", s.samples, s.throttled_samples, l.frames_known,
                      l.frames, l.dropped, l.fps_x100, l.low_fps_x100, l.frames_reset, units,
                      s.fps_mean_x10);
    if (n > 0 && static_cast<size_t>(n) < cap && l.fps_node[0])
        n += snprintf(out + n, cap - static_cast<size_t>(n), " fps_node=%s", l.fps_node);
    if (n > 0 && static_cast<size_t>(n) < cap && l.layers[0])
        n += snprintf(out + n, cap - static_cast<size_t>(n), " layers=%s", l.layers);
    if (n > 0 && static_cast<size_t>(n) < cap && l.taken_back[0])
        n += snprintf(out + n, cap - static_cast<size_t>(n), " taken_back=%s", l.taken_back);
    if (n > 0 && static_cast<size_t>(n) < cap)
        n += snprintf(out + n, cap - static_cast<size_t>(n), "\n");
    return n > 0 && static_cast<size_t>(n) < cap ? n : 0;
}

int parse_session_line(std::string_view text, session_line* l) {
    memset(l, 0, sizeof *l);
    l->format = 1;  // a line without the key is the first format's
    l->summary.fps_mean_x10 = -1;
    if (text.empty() || text.back() != '\n') return 0;
    text.remove_suffix(1);
    int seen = 0;
    const auto copy = [](std::string_view from, char* into, size_t cap) {
        if (from.empty() || from.size() >= cap) return 0;
        memcpy(into, from.data(), from.size());
        into[from.size()] = '\0';
        return 1;
    };
    while (!text.empty()) {
        std::string_view item = next_field(&text, ' ');
        const std::string_view key = next_field(&item, '=');
        int ok = 0;
        const long long v = to_number(item, &ok);
        session_summary& s = l->summary;
        if (key == "game" || key == "preset") {
            if (!(key == "game" ? copy(item, l->game, sizeof l->game)
                                : copy(item, l->preset, sizeof l->preset)))
                return 0;
            seen |= key == "game" ? 2 : 4;
        } else if (key == "units") {
            parse_units(item, &l->units);
        } else if (key == "fps_node") {
            copy(item, l->fps_node, sizeof l->fps_node);
        } else if (key == "layers") {
            copy(item, l->layers, sizeof l->layers);
        } else if (key == "taken_back") {
            copy(item, l->taken_back, sizeof l->taken_back);
        } else if (key == "levels_s" || key == "top_permille") {
            int i = 0;
            while (!item.empty() && item != "-") {
                const long long part = to_number(next_field(&item, ','), &ok);
                if (!ok) return 0;
                if (key == "levels_s" && i < THERMAL_LEVELS) s.level_s[i] = part;
                if (key == "top_permille" && i < MAX_CLUSTERS) s.top[i] = static_cast<int>(part);
                ++i;
            }
            if (key == "top_permille") s.clusters = i < MAX_CLUSTERS ? i : MAX_CLUSTERS;
        } else if (key == "start") {
            if (!ok) return 0;
            l->start = v;
            seen |= 1;
        } else {
            struct numeric {
                const char* key;
                long long* into;
                int* small;
            };
            const numeric keys[] = {
                {"format", nullptr, &l->format},
                {"duration_s", &s.duration_s, nullptr},
                {"energy_mwh_x10", &s.energy_mwh_x10, nullptr},
                {"discharging_s", &s.discharging_s, nullptr},
                {"not_charging_s", &s.not_charging_s, nullptr},
                {"mean_mw", &s.mean_mw, nullptr},
                {"peak_temp_dc", nullptr, &s.peak_temp_dc},
                {"mean_temp_dc", nullptr, &s.mean_temp_dc},
                {"first_moderate_s", &s.first_moderate_s, nullptr},
                {"samples", nullptr, &s.samples},
                {"throttled_samples", nullptr, &s.throttled_samples},
                {"fps_mean_x10", nullptr, &s.fps_mean_x10},
                {"frames_known", nullptr, &l->frames_known},
                {"frames", &l->frames, nullptr},
                {"dropped", &l->dropped, nullptr},
                {"fps_x100", nullptr, &l->fps_x100},
                {"low_fps_x100", nullptr, &l->low_fps_x100},
                {"frames_reset", nullptr, &l->frames_reset},
            };
            for (const numeric& k : keys) {
                if (key != k.key) continue;
                if (!ok) return 0;  // a known figure that is no number: the line is set aside
                if (k.into) *k.into = v;
                if (k.small) *k.small = static_cast<int>(v);
            }
            // Any other key is a later version's: passed over.
        }
    }
    return seen == 7;  // a start, a game and a preset, whichever came twice
}
