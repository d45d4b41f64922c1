#include "frame_rate.h"

#include <string.h>

#include "text_view.h"

namespace {

// "59.9" (one decimal, as both drivers print it) at the start of `text`, in tenths; -1 none.
int tenths(std::string_view text) {
    long long whole = 0;
    size_t i = 0;
    for (; i < text.size() && i < 6 && text[i] >= '0' && text[i] <= '9'; ++i)
        whole = whole * 10 + (text[i] - '0');
    if (i == 0) return -1;
    int decimal = 0;
    if (i + 1 < text.size() && text[i] == '.' && text[i + 1] >= '0' && text[i + 1] <= '9')
        decimal = text[i + 1] - '0';
    return static_cast<int>(whole * 10 + decimal);
}

std::string_view field(std::string_view* text, char sep) {
    const size_t at = text->find(sep);
    const std::string_view f = sub(*text, 0, at);
    text->remove_prefix(at == std::string_view::npos ? text->size() : at + 1);
    return f;
}

}  // namespace

const char* frame_rate_source(std::string_view node) {
    if (node.empty()) return nullptr;
    if (node == FPSGO_STATUS) return "fpsgo";
    if (node == FB_FPS) return "fb";
    return "drm";
}

int display_fps_x10(std::string_view text) {
    if (sub(text, 0, 5) == "fps: ") text.remove_prefix(5);
    return tenths(text);
}

int fpsgo_fps_x10(std::string_view text, std::string_view package) {
    int fastest = -1;
    while (!text.empty()) {
        std::string_view row = field(&text, '\n');
        // "<pid>\t0x<bufID>\t<name>\t<currentFPS>\t\t<targetFPS>..."; the header starts "tid".
        const std::string_view pid = field(&row, '\t');
        if (pid.empty() || pid[0] < '0' || pid[0] > '9') continue;
        field(&row, '\t');
        const std::string_view name = field(&row, '\t');
        const int fps = tenths(field(&row, '\t'));
        if (fps < 0) continue;
        if (name.size() >= 4 && package.find(name) != std::string_view::npos) return fps;
        if (fps > fastest) fastest = fps;
    }
    return fastest;
}
