// Thermal back-off, as rules: the thermal status read from what the platform prints, and when
// a boost is taken back and re-armed. No I/O here.
#ifndef TESSIVARCTL_THERMAL_H
#define TESSIVARCTL_THERMAL_H

#include <string_view>

// The platform's levels (AThermalStatus, Temperature.THROTTLING_*).
enum thermal_level {
    THERMAL_UNKNOWN = -1,
    THERMAL_NONE = 0,
    THERMAL_LIGHT = 1,
    THERMAL_MODERATE = 2,
    THERMAL_SEVERE = 3,
    THERMAL_CRITICAL = 4,
    THERMAL_EMERGENCY = 5,
    THERMAL_SHUTDOWN = 6,
};
const char* thermal_level_name(int level);  // "NONE" .. "SHUTDOWN", "UNKNOWN"
// The level a back-off named (its X line): MODERATE for "COOLING" or any name below it.
int backoff_level_from_name(std::string_view name);

// The status in `dumpsys thermalservice` output: its "Thermal Status: N" line, else the worst
// status of its skin sensors' rows, in either row format ("Name: X, Type: 3, Status: 2, ..."
// on Android 10, "Temperature{mValue=…, mType=3, mName=…, mStatus=2}" later). UNKNOWN when it
// holds neither.
int parse_thermal_dump(std::string_view text);

// A level from the battery's temperature in tenths of a degree, where the platform offers no
// status (Android 5-9): a heuristic, said so in the README.
int level_from_battery(long tenths);

// The back-off of one game session (one launch of performance).
struct backoff_state {
    int backed_off;           // the boost is taken back
    int for_the_session;      // SEVERE or worse was seen: off until the game leaves
    int level;                // the level that backed it off
    long long since_ms;       // when it backed off
    long long cool_since_ms;  // since when it has been LIGHT or better (0: it is not)
    long long last_rearm_ms;  // the last re-arm (0: none yet)
    int rearms;
};
enum backoff_action { BACKOFF_NOTHING, BACKOFF_TAKE_BACK, BACKOFF_REARM };

constexpr long long REARM_AFTER_MS = 60 * 1000;  // LIGHT or better this long
constexpr long long REARM_AT_MOST_EVERY_MS = 300 * 1000;

// One check: at MODERATE or worse, or with a CPU cooling device active, the boost is taken
// back; it is re-armed only after LIGHT or better for a minute, at most once in five minutes,
// and never after SEVERE in this session.
backoff_action backoff_step(backoff_state* state, long long now_ms, int level, int cooling);

// The back-off a new launch starts with: a game brought back to the front (`same_game`) keeps
// the time of its last re-arm, so that the limit counts across such relaunches; a launch made
// at `hot` (MODERATE or worse; THERMAL_UNKNOWN when it was cool) starts backed off.
backoff_state backoff_for_launch(const backoff_state& before, int same_game, int hot,
                                 long long now_ms);

#endif
