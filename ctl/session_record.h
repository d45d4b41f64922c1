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
    int charging;        // a battery_status: only DISCHARGING counts towards energy
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
    int fps_x10;  // the frame rate the phone reported at the sample, -1 none (rows before it)
};

// One sample as a line of its session's file (tab-separated, with its '\n'), and back.
int format_sample(const sample& s, char* out, size_t cap);
int parse_sample(std::string_view line, sample* s);

// The battery's status file: only "Discharging" is the battery alone feeding the phone. "Not
// charging" is a charger plugged in that does not charge (bypass, a charge limit, too hot).
enum battery_status { STATUS_UNKNOWN = -1, DISCHARGING = 0, CHARGING = 1, NOT_CHARGING = 2 };
int charging_status(std::string_view status);

// The units of current_now and voltage_now (µA and µV by the kernel's ABI; some vendors report
// mA or mV, and the sign of a discharge differs), decided once per session and kept: a sample of
// a few mA in µA (bypass charging) must not read as amps.
enum unit_scale { UNITS_UNKNOWN = 0, UNITS_MICRO = 1, UNITS_MILLI = 2 };
struct battery_units {
    int current;  // a unit_scale
    int voltage;
};
// Decides what one sample can tell and is not decided yet: the voltage from its magnitude (3-5
// V), the current from the largest seen (20,000 and more is µA: 20 A is no phone's), or, while
// discharging, a smaller one is mA (a game draws more than 20 mA). Returns 1 when it changed.
int decide_units(battery_units* units, long long current, long long voltage, int status);
// The power in mW (the magnitude), -1 when the voltage's units are not known. A current not
// decided yet is taken in the voltage's units.
long long battery_power_mw(long long current, long long voltage, const battery_units& units);
// "uA,uV" (a '-' for either not decided) and back.
int format_units(const battery_units& units, char* out, size_t cap);
int parse_units(std::string_view text, battery_units* units);

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
    long long not_charging_s;  // plugged in, not charging: left out like charging
    long long mean_mw;         // -1 unknown
    int peak_temp_dc;          // -10000 unknown
    int mean_temp_dc;
    long long level_s[THERMAL_LEVELS];
    long long first_moderate_s;  // -1: never
    int clusters;
    int top[MAX_CLUSTERS];  // mean per mille, -1 unknown
    int samples;
    int throttled_samples;  // with a maximum below the cluster's highest seen
    int fps_mean_x10;       // mean of the samples' frame rates, -1 none
};
void summarize(const sample* samples, int count, session_summary* out);

// One line of the sessions index (with its '\n'): the summary, the game, preset, start and
// frames. Frames with no layer found (or no timestats on the phone) are said to be unknown.
// Keys a version does not know are passed over, so a later version's line is still read.
constexpr int SESSION_FORMAT = 2;  // 1: before "Not charging" and the units were told apart
struct session_line {
    int format;
    long long start;  // seconds since the epoch
    char game[128];
    char preset[16];
    session_summary summary;
    int frames_known;
    long long frames;
    long long dropped;
    int fps_x100;
    int low_fps_x100;
    int frames_reset;  // the counters were cleared during the session
    char layers[512];  // the layers counted, encoded (no space, ',' between)
    battery_units units;
    char fps_node[96];  // the frame-rate node read with each sample, "" none
    // What the phone took back during the session: "top-app/cpu.uclamp.min:6:left,..." (the
    // knob with '/' for its space, the times, "left" to the system or "kept"); empty: nothing.
    char taken_back[256];
};
int format_session_line(const session_line& line, char* out, size_t cap);
// The counted layers' names for session_line.layers (each name's space, ',', '=', '%' and
// control bytes as %XX), as many as fit; and the next name back from that text.
int encode_layers(const session_frames& frames, char* out, size_t cap);
int decode_layer(std::string_view* layers, char* out, size_t cap);
int parse_session_line(std::string_view text, session_line* line);

#endif
