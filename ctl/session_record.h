// A game session's evidence, as rules: one sample every 5 s from sysfs, the row it is kept as,
// and the summary of a session. No I/O here.
#ifndef TESSIVARCTL_SESSION_RECORD_H
#define TESSIVARCTL_SESSION_RECORD_H

#include <stddef.h>

#include <string_view>

#include "timestats.h"

constexpr int MAX_CLUSTERS = 8;
constexpr int THERMAL_LEVELS = 7;

struct sample {
    long long t_ms;      // since the session started
    int charging;        // 1 charging or full (left out of energy), 0 not, -1 unknown
    long long power_mw;  // battery power drawn (V·I), -1 unknown
    int temp_dc;         // battery temperature in tenths of a degree, -10000 unknown
    int capacity;        // percent, -1 unknown
    int level;           // thermal level, -1 unknown
    int cooling;         // a CPU cooling device active
    int gpu_busy;        // per mille, -1 unknown
    long long gpu_khz;   // -1 unknown
    int clusters;
    int top[MAX_CLUSTERS];  // per mille of the interval in the top fifth of the steps, -1 unknown
    long long cur_khz[MAX_CLUSTERS];
    long long max_khz[MAX_CLUSTERS];  // the maximum allowed now: lower means throttled
};

// One sample as a line of its session's file (tab-separated, with its '\n'), and back.
int format_sample(const sample& s, char* out, size_t cap);
int parse_sample(std::string_view line, sample* s);

// The power the battery gives, in mW, from current_now and voltage_now as the vendor reports
// them (µA and µV by the kernel's ABI, but some report mA or mV, and the sign of a discharge
// differs): the magnitude, scaled to µA/µV where the value is too small to be in those units.
long long battery_power_mw(long long current, long long voltage);
// status: "Charging" or "Full" count as charging; "Discharging" and "Not charging" do not.
int charging_status(std::string_view status);

// The share (per mille) of the interval between two reads of a cluster's time_in_state
// ("<kHz> <10 ms units>" per line) spent in the top fifth of its steps; -1 when it cannot be
// told (no interval, a counter reset, a missing file).
int top_fifth_share(std::string_view before, std::string_view after);

// Whether a sample at `t_ms` is kept: every one for 2 hours, every other one for the next 2,
// and so on, so a long session stays small.
int keep_sample(long long t_ms, long long index);

struct session_summary {
    long long duration_s;
    long long energy_mwh_x10;  // tenths of a mWh, discharging only
    long long discharging_s;
    long long mean_mw;  // -1 unknown
    int peak_temp_dc;   // -10000 unknown
    int mean_temp_dc;
    long long level_s[THERMAL_LEVELS];
    long long first_moderate_s;  // -1: never
    int clusters;
    int top[MAX_CLUSTERS];  // mean per mille, -1 unknown
    int samples;
    int throttled_samples;  // with a maximum below the cluster's highest seen
};
void summarize(const sample* samples, int count, session_summary* out);

// One line of the sessions index (with its '\n'): the summary, the game, preset, start and
// frames. Frames with no layer found (or no timestats on the phone) are said to be unknown.
struct session_line {
    long long start;  // seconds since the epoch
    char game[128];
    char preset[16];
    session_summary summary;
    int frames_known;
    long long frames;
    long long dropped;
    int fps_x100;
    int low_fps_x100;
    // What the phone took back during the session: "top-app/cpu.uclamp.min:6:left,..." (the
    // knob with '/' for its space, the times, "left" to the system or "kept"); empty: nothing.
    char taken_back[256];
};
int format_session_line(const session_line& line, char* out, size_t cap);
int parse_session_line(std::string_view text, session_line* line);

#endif
