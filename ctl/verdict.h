// Which preset suits a game better, from the phone's own session summaries. No I/O here: the
// page shows it (through status --json) and the supervisor acts on it, both from this rule.
//
// Frames first: the preset whose median 5th-percentile frame rate is clearly higher wins. If
// that is too close, the one whose median energy per minute is clearly lower wins. Otherwise it
// is too close to call. A difference is clear when it is larger than the spread of either
// preset's own sessions (the larger interquartile range; lowest to highest under 5 sessions) and
// larger than a tenth of the smaller median: with three sessions a preset's spread can look tiny
// by chance, and a tenth is about what sessions of one game differ by scene alone.
#ifndef TESSIVARCTL_VERDICT_H
#define TESSIVARCTL_VERDICT_H

#include <string_view>

#include "session_record.h"

constexpr int VERDICT_MIN_SESSIONS = 3;   // usable sessions a preset needs to take part
constexpr long long VERDICT_MIN_S = 120;  // shorter sessions say little
constexpr int VERDICT_PRESETS = 4;        // at most this many presets of one game are weighed
constexpr double CLEAR_SHARE = 0.10;      // a clear difference is at least this share

enum verdict_kind {
    VERDICT_NOTHING,  // fewer than two presets have sessions of the game
    VERDICT_WAITING,  // fewer than two presets have enough usable sessions
    VERDICT_CLOSE,    // too close to call
    VERDICT_FRAMES,   // the winner has clearly more frames at the 5th percentile
    VERDICT_ENERGY,   // as many frames, clearly less energy per minute
};

struct preset_figures {
    char preset[16];
    int sessions;  // all of the game's sessions under it
    int usable;
    double low_fps;  // medians over the usable sessions, and their interquartile ranges
    double low_fps_spread;
    double energy_per_min;  // mWh per minute on the battery
    double energy_spread;
    double peak_temp_c;  // median of the peaks; -1000 unknown
    int takes_part;      // enough usable sessions
};

struct verdict {
    int kind;
    int presets;
    preset_figures preset[VERDICT_PRESETS];
    int winner;  // index into preset, -1 when none
    int other;   // the preset it is weighed against (the next best), -1 when none
    int each;    // the fewest usable sessions of a preset taking part
    int used;    // usable sessions of the presets taking part
    int left_short;
    int left_charging;  // on the charger (or without battery figures) for more than half
    int left_no_frames;
    int cooler;          // the preset that ran cooler at its peak (information only), -1 none
    double cooler_by_c;  // by how much, in degrees
};

// Whether a difference between two sets of figures is clear, by the rule above.
int clearly_apart(double median_a, double spread_a, double median_b, double spread_b);

// The verdict for `game` from the summaries of the sessions kept.
void decide_verdict(const session_line* lines, int count, std::string_view game, verdict* out);

// The winner's share of the other's 5th-percentile frame rate and of its energy per minute,
// in percent, rounded: "97 % of max's frame rate for 71 % of its power".
int frames_percent(const verdict& v);
int power_percent(const verdict& v);

#endif
