// `dumpsys SurfaceFlinger --timestats -dump` as the platform prints it, field for field, in the
// layout of Android 10 (TimeStatsHelper.cpp of android-10.0.0_r47) and of the newest source
// (TimeStatsHelper.cpp of frameworks/native main, 2023-11: per layer and refresh-rate bucket its
// rates, uid, name, an empty packageName, game mode, counts, jank payload, frame-rate vote,
// averageFPS and its histograms; the statistics pull clears the layers).
#ifndef TESSIVAR_TESTS_TIMESTATS_DUMP_H
#define TESSIVAR_TESTS_TIMESTATS_DUMP_H

#include <stdio.h>

#include <map>
#include <string>
#include <vector>

namespace dump {

// TimeStatsHelper's histogramConfig.
constexpr int kBuckets[] = {
    0,   1,   2,   3,   4,   5,   6,   7,   8,   9,   10,  11,  12,  13,  14,  15,  16,
    17,  18,  19,  20,  21,  22,  23,  24,  25,  26,  27,  28,  29,  30,  31,  32,  33,
    34,  36,  38,  40,  42,  44,  46,  48,  50,  54,  58,  62,  66,  70,  74,  78,  82,
    86,  90,  94,  98,  102, 106, 110, 114, 118, 122, 126, 130, 134, 138, 142, 146, 150,
    200, 250, 300, 350, 400, 450, 500, 550, 600, 650, 700, 750, 800, 850, 900, 950, 1000};

// Histogram::toString: every bucket, "Nms=C " with the last space made '\n'.
inline std::string histogram(const std::map<int, int>& counts) {
    std::string line;
    for (int ms : kBuckets) {
        const auto it = counts.find(ms);
        line +=
            std::to_string(ms) + "ms=" + std::to_string(it == counts.end() ? 0 : it->second) + " ";
    }
    line.back() = '\n';
    return line;
}

inline double average_ms(const std::map<int, int>& counts) {
    long long n = 0;
    long long ms = 0;
    for (const auto& [bucket, count] : counts) {
        n += count;
        ms += static_cast<long long>(bucket) * count;
    }
    return n ? static_cast<double>(ms) / static_cast<double>(n) : 0;
}

inline std::string printed(const char* format, double value) {
    char text[64];
    snprintf(text, sizeof text, format, value);
    return text;
}

struct Layer {
    std::string name;
    int uid;              // newest layout
    std::string package;  // Android 10 layout (the newest prints it empty)
    int total;
    int dropped;
    std::map<int, int> present;  // present-to-present buckets
    int refresh = 60;            // displayRefreshRate / renderRate buckets (newest)
    int render = 60;
    std::string game_mode = "Standard";
};

// Android 10: TimeStatsGlobal::toString, then each TimeStatsLayer::toString.
inline std::string android10(const std::vector<Layer>& layers, long long stats_start = 1600000000) {
    std::string out = "SurfaceFlinger TimeStats:\nstatsStart = " + std::to_string(stats_start) +
                      "\nstatsEnd = 0\ntotalFrames = 99999\nmissedFrames = 12\n"
                      "clientCompositionFrames = 3\ndisplayOnTime = 600000 ms\n"
                      "displayConfigStats is as below:\n60fps=600000ms\n"
                      "totalP2PTime = 1599984 ms\npresentToPresent histogram is as below:\n" +
                      histogram({{16, 99999}});
    for (const auto& l : layers) {
        out += "\nlayerName = " + l.name + "\npackageName = " + l.package +
               "\ntotalFrames = " + std::to_string(l.total) +
               "\ndroppedFrames = " + std::to_string(l.dropped) + "\n";
        out += printed("averageFPS = %.3f\n", 1000.0 / average_ms(l.present));
        // The deltas map's order is the map's own: any order.
        out += "acquire2present histogram is as below:\n" + histogram({{4, l.total}});
        out += "present2present histogram is as below:\n" + histogram(l.present);
        out += "post2present histogram is as below:\n" + histogram({{20, l.total}});
    }
    return out;
}

inline std::string jank_payload(const char* total_key) {
    return std::string(total_key) +
           " = 0\njankyFrames = 0\nsfLongCpuJankyFrames = 0\nsfLongGpuJankyFrames = 0\n"
           "sfUnattributedJankyFrames = 0\nappUnattributedJankyFrames = 0\n"
           "sfSchedulingJankyFrames = 0\nsfPredictionErrorJankyFrames = 0\n"
           "appBufferStuffingJankyFrames = 0\n";
}

// The newest: the legacy global part, the timeline stats, then every layer record.
inline std::string newest(const std::vector<Layer>& layers, long long stats_start = 1700000000) {
    std::string out =
        "SurfaceFlinger TimeStats:\nLegacy stats are as follows:\nstatsStart = " +
        std::to_string(stats_start) +
        "\nstatsEnd = 0\ntotalFrames = 88888\nmissedFrames = 4\n"
        "clientCompositionFrames = 0\nclientCompositionReusedFrames = 0\n"
        "refreshRateSwitches = 2\ncompositionStrategyChanges = 0\n"
        "compositionStrategyPredicted = 0\ncompositionStrategyPredictionSucceeded = 0\n"
        "compositionStrategyPredictionFailed = 0\ndisplayOnTime = 600000 ms\n"
        "displayConfigStats is as below:\n120fps = 300000ms\n60fps = 300000ms\n"
        "totalP2PTime = 1066656 ms\npresentToPresent histogram is as below:\n" +
        histogram({{8, 44444}, {16, 44444}}) +
        "averageFrameDuration = 6.000 ms\nframeDuration histogram is as below:\n" +
        histogram({{6, 88888}}) +
        "averageRenderEngineTiming = 0.000 ms\nrenderEngineTiming histogram is as below:\n" +
        histogram({}) + "\nGlobal aggregated jank payload (Timeline stats):";
    for (int refresh : {60, 120}) {
        out += "\ndisplayRefreshRate = " + std::to_string(refresh) +
               " fps\nrenderRate = " + std::to_string(refresh) + " fps\n" +
               jank_payload("totalTimelineFrames") + "sfDeadlineMisses histogram is as below:\n" +
               histogram({}) + "sfPredictionErrors histogram is as below:\n" + histogram({});
    }
    for (const auto& l : layers) {
        out += "\ndisplayRefreshRate = " + std::to_string(l.refresh) +
               " fps\nrenderRate = " + std::to_string(l.render) +
               " fps\nuid = " + std::to_string(l.uid) + "\nlayerName = " + l.name +
               "\npackageName = \ngameMode = " + l.game_mode +
               "\ntotalFrames = " + std::to_string(l.total) +
               "\ndroppedFrames = " + std::to_string(l.dropped) +
               "\nlateAcquireFrames = 0\nbadDesiredPresentFrames = 0\n"
               "Jank payload for this layer:\n" +
               jank_payload("totalTimelineFrames") +
               "SetFrateRate vote for this layer:\nframeRate = 0.00\n"
               "frameRateCompatibility = Undefined\nseamlessness = Undefined\n";
        const double average = average_ms(l.present);
        out += printed("averageFPS = %.3f\n", average < 1.0 ? 0.0 : 1000.0 / average);
        out += "post2acquire histogram is as below:\n" + histogram({{0, l.total}});
        out += "present2present histogram is as below:\n" + histogram(l.present);
        out += "latch2present histogram is as below:\n" + histogram({{10, l.total}});
        out += "present2presentDelta histogram is as below:\n" + histogram({{0, l.total}});
    }
    return out;
}

}  // namespace dump

#endif
