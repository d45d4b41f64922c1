#include "verdict.h"

#include <string.h>

namespace {

constexpr int MOST = 64;  // more sessions than the store keeps
constexpr int SPREAD_QUARTILES = 5;

void sort(double* v, int n) {
    for (int i = 1; i < n; ++i)
        for (int j = i; j > 0 && v[j] < v[j - 1]; --j) {
            const double t = v[j];
            v[j] = v[j - 1];
            v[j - 1] = t;
        }
}

double median_of_sorted(const double* v, int n) {
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The median and the spread: the interquartile range (Tukey's hinges: the medians of the lower
// and upper halves, each holding the median when the count is odd), or, for fewer sessions than
// make quarters worth the name, all of them: lowest to highest.
void median_and_spread(double* v, int n, double* median, double* spread) {
    sort(v, n);
    *median = median_of_sorted(v, n);
    const int half = (n + 1) / 2;
    *spread = n < SPREAD_QUARTILES
                  ? v[n - 1] - v[0]
                  : median_of_sorted(v + (n - half), half) - median_of_sorted(v, half);
}

double magnitude(double x) {
    return x < 0 ? -x : x;
}

// Why a session cannot be weighed, or 0 when it can: 1 short, 2 on the charger, 3 no frames.
int unusable(const session_line& l) {
    if (l.summary.duration_s < VERDICT_MIN_S) return 1;
    if (l.summary.discharging_s * 2 < l.summary.duration_s) return 2;
    if (!l.frames_known || l.low_fps_x100 <= 0) return 3;
    return 0;
}

int find_preset(verdict* out, std::string_view name) {
    for (int i = 0; i < out->presets; ++i)
        if (name == out->preset[i].preset) return i;
    if (out->presets == VERDICT_PRESETS || name.size() >= sizeof out->preset[0].preset) return -1;
    preset_figures& p = out->preset[out->presets];
    memset(&p, 0, sizeof p);
    memcpy(p.preset, name.data(), name.size());
    p.preset[name.size()] = '\0';
    return out->presets++;
}

int percent(double part, double whole) {
    return whole > 0 ? static_cast<int>(part * 100 / whole + 0.5) : -1;
}

}  // namespace

int clearly_apart(double median_a, double spread_a, double median_b, double spread_b) {
    const double gap = magnitude(median_a - median_b);
    const double spread = spread_a > spread_b ? spread_a : spread_b;
    const double smaller = median_a < median_b ? median_a : median_b;
    return gap > spread && gap > CLEAR_SHARE * smaller;
}

void decide_verdict(const session_line* lines, int count, std::string_view game, verdict* out) {
    memset(out, 0, sizeof *out);
    out->winner = out->other = out->cooler = -1;
    for (int i = 0; i < count; ++i) {
        const session_line& l = lines[i];
        if (game != l.game || strcmp(l.preset, "-") == 0) continue;  // "-": the preset is unknown
        const int p = find_preset(out, l.preset);
        if (p < 0) continue;
        ++out->preset[p].sessions;
        switch (unusable(l)) {
            case 0:
                ++out->preset[p].usable;
                break;
            case 1:
                ++out->left_short;
                break;
            case 2:
                ++out->left_charging;
                break;
            default:
                ++out->left_no_frames;
                break;
        }
    }
    int taking_part = 0;
    for (int p = 0; p < out->presets; ++p) {
        preset_figures& f = out->preset[p];
        double fps[MOST];
        double energy[MOST];
        double peak[MOST];
        int n = 0;
        int peaks = 0;
        for (int i = 0; i < count && n < MOST; ++i) {
            const session_line& l = lines[i];
            if (game != l.game || strcmp(l.preset, f.preset) != 0 || unusable(l)) continue;
            fps[n] = l.low_fps_x100 / 100.0;
            energy[n] = l.summary.energy_mwh_x10 / 10.0 * 60 / l.summary.discharging_s;
            ++n;
            if (l.summary.peak_temp_dc > -10000) peak[peaks++] = l.summary.peak_temp_dc / 10.0;
        }
        f.peak_temp_c = -1000;
        if (n) {
            median_and_spread(fps, n, &f.low_fps, &f.low_fps_spread);
            median_and_spread(energy, n, &f.energy_per_min, &f.energy_spread);
        }
        double unused = 0;
        if (peaks) median_and_spread(peak, peaks, &f.peak_temp_c, &unused);
        f.takes_part = f.usable >= VERDICT_MIN_SESSIONS;
        if (!f.takes_part) continue;
        ++taking_part;
        out->used += f.usable;
        if (!out->each || f.usable < out->each) out->each = f.usable;
    }
    if (out->presets < 2) {
        out->kind = VERDICT_NOTHING;
        return;
    }
    if (taking_part < 2) {
        out->kind = VERDICT_WAITING;
        return;
    }
    const preset_figures* f = out->preset;
    // Frames: the best must be clearly above every other preset taking part.
    int best = -1;
    for (int p = 0; p < out->presets; ++p)
        if (f[p].takes_part && (best < 0 || f[p].low_fps > f[best].low_fps)) best = p;
    int tied[VERDICT_PRESETS];  // not clearly below the best in frames
    int ties = 0;
    for (int p = 0; p < out->presets; ++p)
        if (f[p].takes_part && (p == best || !clearly_apart(f[best].low_fps, f[best].low_fps_spread,
                                                            f[p].low_fps, f[p].low_fps_spread)))
            tied[ties++] = p;
    if (ties == 1) {
        out->kind = VERDICT_FRAMES;
        out->winner = best;
        for (int p = 0; p < out->presets; ++p)
            if (f[p].takes_part && p != best &&
                (out->other < 0 || f[p].low_fps > f[out->other].low_fps))
                out->other = p;
    } else {
        // Energy among those as good in frames: the lowest must be clearly below the rest.
        int lowest = tied[0];
        for (int i = 1; i < ties; ++i)
            if (f[tied[i]].energy_per_min < f[lowest].energy_per_min) lowest = tied[i];
        int clear = 1;
        for (int i = 0; i < ties; ++i)
            if (tied[i] != lowest &&
                !clearly_apart(f[lowest].energy_per_min, f[lowest].energy_spread,
                               f[tied[i]].energy_per_min, f[tied[i]].energy_spread))
                clear = 0;
        out->kind = clear ? VERDICT_ENERGY : VERDICT_CLOSE;
        if (clear) {
            out->winner = lowest;
            for (int i = 0; i < ties; ++i)
                if (tied[i] != lowest &&
                    (out->other < 0 || f[tied[i]].low_fps > f[out->other].low_fps))
                    out->other = tied[i];
        }
    }
    // Which ran cooler at its peak, by a degree or more: said, never weighed.
    int coolest = -1;
    int next = -1;
    for (int p = 0; p < out->presets; ++p) {
        if (!f[p].takes_part || f[p].peak_temp_c <= -1000) continue;
        if (coolest < 0 || f[p].peak_temp_c < f[coolest].peak_temp_c) {
            next = coolest;
            coolest = p;
        } else if (next < 0 || f[p].peak_temp_c < f[next].peak_temp_c) {
            next = p;
        }
    }
    if (next >= 0 && f[next].peak_temp_c - f[coolest].peak_temp_c >= 1.0) {
        out->cooler = coolest;
        out->cooler_by_c = f[next].peak_temp_c - f[coolest].peak_temp_c;
    }
}

int frames_percent(const verdict& v) {
    if (v.winner < 0 || v.other < 0) return -1;
    return percent(v.preset[v.winner].low_fps, v.preset[v.other].low_fps);
}

int power_percent(const verdict& v) {
    if (v.winner < 0 || v.other < 0) return -1;
    return percent(v.preset[v.winner].energy_per_min, v.preset[v.other].energy_per_min);
}
