// The dump read a buffer at a time: only the pieces that can change the record are handed to
// the line logic; the others are stepped over unseen.
#include <stddef.h>
#include <string.h>

#include "pieces.h"
#include "window_state.h"

namespace {

// Every piece that can change the record holds one of these texts: the screen keys, "Focus"
// (in both mCurrentFocus= and mFocusedApp=), and the section markers. A piece that holds none of
// them leaves the record and the section state as they were.
// Each is looked for by one of its bytes that is rare in a dump (memchr runs far faster than a
// substring search), and compared whole where that byte occurs.
enum needle_use { FOR_SCREEN, FOR_FOCUS, FOR_SECTIONS };
struct needle {
    const char* text;
    unsigned char length;
    unsigned char anchor;  // the index of the rare byte, or NO_RARE_BYTE
    unsigned char use;
};
constexpr unsigned char NO_RARE_BYTE = 0xff;
constexpr needle NEEDLES[] = {
    {"mScreenOn=", 10, 7, FOR_SCREEN},
    {"mAwake=", 7, 1, FOR_SCREEN},
    {"Focus", 5, 0, FOR_FOCUS},
    // Shares its letters with the "mDisplayId=" of every window line.
    {"Display: ", 9, NO_RARE_BYTE, FOR_SECTIONS},
    {"WINDOW MANAGER ", 15, 11, FOR_SECTIONS},
};
constexpr size_t NEEDLE_COUNT = sizeof NEEDLES / sizeof NEEDLES[0];

int settled(const system_state* state) {
    return state->screen_state != -1 && state->focus_found;
}

// The line logic on one piece, which is ended by a NUL in place for as long as it is read.
void examine(dump_sections* sections, system_state* state, char* piece, size_t length) {
    const char next = piece[length];
    piece[length] = '\0';
    scan_dump_line(sections, state, piece);
    piece[length] = next;
}

// Where the needle next occurs whole in [from, end), or `end`.
__attribute__((noinline)) size_t find(const char* data, size_t from, size_t end, const needle& n) {
    const char anchor = n.text[n.anchor];
    for (size_t at = from + n.anchor; at < end;) {
        const void* p = memchr(data + at, anchor, end - at);
        if (!p) break;
        const size_t byte = static_cast<size_t>(static_cast<const char*>(p) - data);
        const size_t candidate = byte - n.anchor;
        if (candidate + n.length <= end && memcmp(data + candidate, n.text, n.length) == 0)
            return candidate;
        at = byte + 1;
    }
    return end;
}

// The same for a needle whose every byte is common in a dump: sixteen places at a time, a place is
// a candidate only when both its first and its last byte match. Plain vector arithmetic that the
// compiler turns into SSE2 or NEON.
typedef signed char bytes16 __attribute__((vector_size(16)));
bytes16 load16(const char* p) {
    bytes16 v;
    memcpy(&v, p, sizeof v);
    return v;
}
__attribute__((noinline)) size_t find_by_ends(const char* data, size_t from, size_t end,
                                              const needle& n) {
    if (end - from < n.length) return end;
    const size_t last = n.length - 1;
    const bytes16 first_byte = bytes16{} + static_cast<signed char>(n.text[0]);
    const bytes16 last_byte = bytes16{} + static_cast<signed char>(n.text[last]);
    size_t at = from;
    for (; at + last + sizeof(bytes16) <= end; at += sizeof(bytes16)) {
        const bytes16 both =
            (load16(data + at) == first_byte) & (load16(data + at + last) == last_byte);
        unsigned long long halves[2];
        memcpy(halves, &both, sizeof halves);
        if (!(halves[0] | halves[1])) continue;
        for (size_t k = 0; k < sizeof(bytes16); ++k) {
            if (both[k] && memcmp(data + at + k, n.text, n.length) == 0) return at + k;
        }
    }
    for (; at + n.length <= end; ++at) {
        if (memcmp(data + at, n.text, n.length) == 0) return at;
    }
    return end;
}

}  // namespace

size_t scan_dump_chunk(dump_sections* sections, system_state* state, char* data, size_t avail,
                       int at_end) {
    if (settled(state)) return avail;  // nothing later can change them: drain unseen
    // Complete pieces: up to the last line end, or everything at the end of the output.
    size_t complete = avail;
    if (!at_end) {
        const void* last_nl = memrchr(data, '\n', avail);
        complete = last_nl ? static_cast<size_t>(static_cast<const char*>(last_nl) - data) + 1 : 0;
    }

    size_t next_hit[NEEDLE_COUNT];
    int searched[NEEDLE_COUNT] = {};

    size_t start = 0;  // always the start of a piece
    while (start < complete && !settled(state)) {
        size_t hit = complete;
        for (size_t i = 0; i < NEEDLE_COUNT; ++i) {
            const needle& n = NEEDLES[i];
            if (n.use == FOR_SCREEN && state->screen_state != -1) continue;
            if (n.use == FOR_FOCUS && state->focus_found) continue;
            if (!searched[i] || next_hit[i] < start) {
                next_hit[i] = n.anchor == NO_RARE_BYTE ? find_by_ends(data, start, complete, n)
                                                       : find(data, start, complete, n);
                searched[i] = 1;
            }
            if (next_hit[i] < hit) hit = next_hit[i];
        }
        if (hit == complete) {
            start = complete;  // nothing left in the complete pieces can matter
            break;
        }
        // The piece holding the hit: pieces run from each line's start in steps of
        // LINE_SIZE - 1, and `start` is itself a piece boundary.
        const void* nl = memrchr(data + start, '\n', hit - start);
        const size_t line =
            nl ? static_cast<size_t>(static_cast<const char*>(nl) - data) + 1 : start;
        const size_t piece = line + (hit - line) / (LINE_SIZE - 1) * (LINE_SIZE - 1);
        const size_t length = next_piece_length(data + piece, complete - piece, 1);
        examine(sections, state, data + piece, length);
        start = piece + length;
    }
    // What is left is one unfinished line; a long one may already hold complete pieces.
    while (!settled(state)) {
        const size_t length = next_piece_length(data + start, avail - start, at_end);
        if (length == 0) break;
        examine(sections, state, data + start, length);
        start += length;
    }
    return settled(state) ? avail : start;
}
