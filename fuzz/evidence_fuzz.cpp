// Feeds the session recorder's readers what a phone or an older version may hand them: the
// timestats dump (its first and second half as a session's start and end), a summary line, a
// row, the frame-rate nodes and packages.list. Checks that what they answer stays in bounds and
// that a line or row read back is written again as it was read.
#include <stdint.h>
#include <string.h>

#include <string_view>

#include "frame_rate.h"
#include "line_pieces.h"
#include "session_record.h"
#include "timestats.h"

namespace {

frame_counts start;
frame_counts end;
session_frames frames;
session_line line;
session_line again;
char text[4096];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const std::string_view first = all.substr(0, size / 2);
    const std::string_view second = all.substr(size / 2);
    const game_identity game{"com.g.x", package_uid(all, "com.g.x")};
    parse_timestats(first, game, &start);
    parse_timestats(second, game, &end);
    CHECK(start.layers >= 0 && start.layers <= MAX_GAME_RECORDS);
    for (int i = 0; i < end.layers; ++i)
        CHECK(memchr(end.record[i].name, '\0', LAYER_NAME_SIZE) != nullptr);
    frames_between(start, end, static_cast<long long>(size) * 1000, &frames);
    CHECK(frames.counted >= 0 && frames.counted <= end.layers);
    char layers[512];
    encode_layers(frames, layers, sizeof layers);
    CHECK(strlen(layers) < sizeof layers && !strchr(layers, ' '));
    std::string_view names(layers);
    char name[LAYER_NAME_SIZE];
    for (int i = 0; decode_layer(&names, name, sizeof name); ++i)
        CHECK(i < MAX_COUNTED_LAYERS && strcmp(name, frames.names[i]) == 0);
    const double fps = average_fps(frames.present_ms);
    CHECK(fps >= 0 && low_fps(frames.present_ms) >= 0);

    display_fps_x10(all);
    fpsgo_fps_x10(all, "com.g.x");

    // Each line as a summary line and as a row: what is read is written back the same.
    for_each_piece(data, size, [](const char* piece) {
        if (parse_session_line(piece, &line)) {
            CHECK(format_session_line(line, text, sizeof text) > 0);
            CHECK(parse_session_line(text, &again));
            CHECK(again.start == line.start && strcmp(again.game, line.game) == 0 &&
                  strcmp(again.preset, line.preset) == 0 && again.format == line.format);
        }
        sample s;
        if (parse_sample(piece, &s)) {
            CHECK(s.clusters >= 0 && s.clusters <= MAX_CLUSTERS);
            sample back;
            CHECK(format_sample(s, text, sizeof text) > 0 && parse_sample(text, &back));
            CHECK(back.t_ms == s.t_ms && back.power_mw == s.power_mw && back.fps_x10 == s.fps_x10);
        }
    });
    return 0;
}
