// Frames from SurfaceFlinger's own statistics (`dumpsys SurfaceFlinger --timestats -dump`,
// Android 10+): per layer its package, total and dropped frames and a histogram of the time
// from one present to the next. Taken at a session's start and end; the difference is what the
// session delivered. No I/O here.
#ifndef TESSIVARCTL_TIMESTATS_H
#define TESSIVARCTL_TIMESTATS_H

#include <string_view>

constexpr int FRAME_BUCKETS = 85;
// The histogram's buckets, in milliseconds, as SurfaceFlinger prints them.
extern const int FRAME_BUCKET_MS[FRAME_BUCKETS];

struct frame_counts {
    int layers;  // the game's layers found (0: no layer of this package in the dump)
    long long total;
    long long dropped;
    long long present_ms[FRAME_BUCKETS];  // frames per present-to-present bucket
};

// The sums over every layer record of `package` in a text dump.
void parse_timestats(std::string_view dump, std::string_view package, frame_counts* out);

// `end` minus `start`, as a session's frames; a counter that went down (the statistics were
// cleared in between) counts from zero.
frame_counts frames_between(const frame_counts& start, const frame_counts& end);

// From a session's histogram: the average frame rate and the 5th-percentile one (the rate of
// the slowest twentieth of the frames). 0 when there were no frames.
double average_fps(const frame_counts& frames);
double low_fps(const frame_counts& frames);

#endif
