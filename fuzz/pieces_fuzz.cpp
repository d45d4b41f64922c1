// Differential: the probe's buffered reading against fgets with a 1024-byte buffer, on the same
// bytes. The pieces must be the same, piece by piece, and so must the screen, the focus and the
// section state that the line logic draws from them.
#include <stdio.h>
#include <string.h>

#include "line_pieces.h"
#include "pieces.h"
#include "window_state.h"

namespace {

// The reference: fgets pieces, each handed to the line logic.
void by_fgets(const uint8_t* data, size_t size, dump_sections* sections, system_state* state,
              size_t* piece_ends, size_t* pieces) {
    *pieces = 0;
    if (size == 0) return;
    FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "r");
    CHECK(stream);
    char line[LINE_SIZE];
    long before = 0;
    while (fgets(line, sizeof line, stream)) {
        const long after = ftell(stream);
        CHECK(after > before);
        // The same bytes as the piece reader's, and the same length.
        const size_t n = next_piece_length(reinterpret_cast<const char*>(data) + before,
                                           size - static_cast<size_t>(before), 1);
        CHECK(n == static_cast<size_t>(after - before));
        CHECK(memcmp(line, data + before, n) == 0);
        piece_ends[(*pieces)++] = static_cast<size_t>(after);
        scan_dump_line(sections, state, line);
        before = after;
    }
    CHECK(static_cast<size_t>(before) == size);
    fclose(stream);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t input_size) {
    // The first bytes choose how the output arrives: the sizes of the reads.
    if (input_size < 4) return 0;
    const uint8_t* sizes = input;
    const uint8_t* data = input + 4;
    const size_t size = input_size - 4;

    static size_t piece_ends[1 << 16];
    size_t pieces = 0;
    dump_sections ref_sections = {0, 0};
    system_state ref;
    reset_system_state(&ref);
    by_fgets(data, size, &ref_sections, &ref, piece_ends, &pieces);

    // The probe's loop over a small buffer, so that reads often end inside a piece.
    static char buffer[2048 + 1];
    constexpr size_t capacity = sizeof buffer - 1;
    dump_sections sections = {0, 0};
    system_state state;
    reset_system_state(&state);
    size_t kept = 0;
    size_t offset = 0;  // bytes of the input read so far
    size_t consumed = 0;
    for (int round = 0;; ++round) {
        size_t want = 1 + sizes[round % 4] * 8u + static_cast<size_t>(round % 3);
        if (want > capacity - kept) want = capacity - kept;
        if (want > size - offset) want = size - offset;
        memcpy(buffer + kept, data + offset, want);
        offset += want;
        const int at_end = offset == size;
        const size_t avail = kept + want;
        const size_t used = scan_dump_chunk(&sections, &state, buffer, avail, at_end);
        CHECK(used <= avail);
        consumed += used;
        kept = avail - used;
        // An unfinished piece stays, and is always shorter than a whole one.
        CHECK(kept < static_cast<size_t>(LINE_SIZE - 1) || at_end);
        memmove(buffer, buffer + used, kept);
        if (state.screen_state != -1 && state.focus_found) break;
        // Whatever was consumed ends at a piece boundary of the reference.
        if (consumed > 0 && consumed < size) {
            size_t lo = 0, hi = pieces;
            while (lo < hi) {
                const size_t mid = (lo + hi) / 2;
                if (piece_ends[mid] < consumed)
                    lo = mid + 1;
                else
                    hi = mid;
            }
            CHECK(lo < pieces && piece_ends[lo] == consumed);
        }
        if (at_end) {
            CHECK(kept == 0);
            break;
        }
    }
    CHECK(state.screen_state == ref.screen_state);
    CHECK(state.focus_found == ref.focus_found);
    CHECK(strcmp(state.focused_package, ref.focused_package) == 0);
    if (ref.screen_state == -1 || !ref.focus_found) {
        CHECK(sections.in_last_anr == ref_sections.in_last_anr);
        CHECK(sections.in_other_display == ref_sections.in_other_display);
    }
    return 0;
}
