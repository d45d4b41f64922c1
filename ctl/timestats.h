// Frames from SurfaceFlinger's own statistics (`dumpsys SurfaceFlinger --timestats -dump`,
// Android 10+): per layer record its total and dropped frames and a histogram of the time from
// one present to the next. Taken at a session's start and end; the difference is what the
// session delivered. No I/O here.
//
// Which records are the game's: Android 10 names the package; later releases leave
// `packageName` empty and give the layer's `uid` and name instead, so a record counts when its
// package is the game, its uid is the game's, or its name is one the game's windows take
// (`<package>/<activity>#N`, `SurfaceView[<package>/...]`, `SurfaceView - <package>/...`).
#ifndef TESSIVARCTL_TIMESTATS_H
#define TESSIVARCTL_TIMESTATS_H

#include <stddef.h>

#include <string_view>

constexpr int FRAME_BUCKETS = 85;
// The histogram's buckets, in milliseconds, as SurfaceFlinger prints them.
extern const int FRAME_BUCKET_MS[FRAME_BUCKETS];
// Records of the game kept from one dump; a game has a few layers, each once per refresh rate.
constexpr int MAX_GAME_RECORDS = 12;
constexpr size_t LAYER_NAME_SIZE = 160;

struct layer_record {
    char name[LAYER_NAME_SIZE];  // cut to fit
    unsigned key;                // the record's other identity (refresh rate, render rate, mode)
    long long uid;               // -1 when the dump gives none (Android 10)
    long long total;
    long long dropped;
    long long present_ms[FRAME_BUCKETS];  // frames per present-to-present bucket
};

struct frame_counts {
    int layers;             // the game's records found (0: none of the game in the dump)
    int more;               // records of the game past MAX_GAME_RECORDS, not kept
    long long stats_start;  // the dump's statsStart (changes when the statistics are cleared)
    layer_record record[MAX_GAME_RECORDS];
};

// The game: its package and its app id (the uid in /data/system/packages.list; -1 unknown).
struct game_identity {
    std::string_view package;
    long long app_id;
};

// The game's records in a text dump.
void parse_timestats(std::string_view dump, const game_identity& game, frame_counts* out);

// The uid of `package` in the text of /data/system/packages.list ("<name> <uid> ..." per
// line); -1 when it is not there.
long long package_uid(std::string_view packages_list, std::string_view package);

// What a session delivered, from the records at its start and end.
constexpr int MAX_COUNTED_LAYERS = 4;
struct session_frames {
    long long total;
    long long dropped;
    long long present_ms[FRAME_BUCKETS];
    // The statistics were cleared during the session (the platform's statistics pull does):
    // the figures are the frames since, never an end minus a start across the clear.
    int reset;
    int counted;  // layers counted (their names below, the first MAX_COUNTED_LAYERS)
    char names[MAX_COUNTED_LAYERS][LAYER_NAME_SIZE];
};

// `end` minus `start` per record. Of layers that drew at the same time only the one with the
// most frames is counted (two layers' histograms together would halve the rate); layers that
// followed each other (their present times add up within the session's `session_ms`) are.
void frames_between(const frame_counts& start, const frame_counts& end, long long session_ms,
                    session_frames* out);

// From a session's histogram: the average frame rate and the 5th-percentile one (the rate of
// the slowest twentieth of the frames). 0 when there were no frames.
double average_fps(const long long* present_ms);
double low_fps(const long long* present_ms);

#endif
