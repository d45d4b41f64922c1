#include "take_back.h"

#include "text_view.h"

int note_take_back(take_back_record* r, long long now_ms) {
    ++r->times;
    if (r->left) return 0;
    int kept = 0;
    for (int i = 0; i < r->recent_count; ++i)
        if (now_ms - r->recent[i] < TAKE_BACK_WINDOW_MS) r->recent[kept++] = r->recent[i];
    r->recent_count = kept;
    if (kept == TAKE_BACK_LIMIT) {
        r->left = 1;
        return 0;
    }
    r->recent[r->recent_count++] = now_ms;
    return 1;
}

namespace {

// A decimal number at the start of `text`, taken off it with the space after it; -1 when none.
int take_number(std::string_view* text) {
    int value = 0;
    size_t at = 0;
    while (at < text->size() && at < 9 && (*text)[at] >= '0' && (*text)[at] <= '9')
        value = value * 10 + ((*text)[at++] - '0');
    if (at == 0 || at >= text->size() || (*text)[at] != ' ') return -1;
    *text = sub(*text, at + 1);
    return value;
}

}  // namespace

int parse_watch_line(std::string_view line, watch_line* out) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (line.size() < 3 || line[1] != ' ') return 0;
    out->kind = line[0];
    out->times = 0;
    out->left = 0;
    std::string_view rest = sub(line, 2);
    if (out->kind == 'B') {
        out->times = take_number(&rest);
        out->left = take_number(&rest);
        if (out->times < 0 || (out->left != 0 && out->left != 1)) return 0;
    } else if (out->kind != 'F') {
        return 0;
    }
    out->text = rest;
    return !rest.empty();
}
