// Feeds a whole dump to the probe's line logic and checks what it may ever answer.
#include <string.h>

#include "line_pieces.h"
#include "window_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    system_state state;
    reset_system_state(&state);
    dump_sections sections = {0, 0};
    for_each_piece(data, size, [&](const char* piece) {
        scan_dump_line(&sections, &state, piece);

        const int screen = screen_state_from_line(piece);
        CHECK(screen >= -1 && screen <= 1);

        char package[PACKAGE_SIZE];
        memset(package, 0x55, sizeof package);
        const int found = focus_from_line(piece, package);
        const size_t len = strnlen(package, sizeof package);
        CHECK(len < sizeof package);
        CHECK(found == (len > 0));
        if (found) {
            // A dotted token from the line itself, never holding a token end or a line end.
            CHECK(len <= static_cast<size_t>(MAX_PACKAGE_LEN));
            CHECK(strchr(package, '.'));
            CHECK(!strpbrk(package, " /}\n"));
            CHECK(strstr(piece, package));
        }
    });
    CHECK(state.screen_state >= -1 && state.screen_state <= 1);
    CHECK(strnlen(state.focused_package, PACKAGE_SIZE) <= static_cast<size_t>(MAX_PACKAGE_LEN));
    CHECK(state.focus_found == (state.focused_package[0] != '\0'));
    return 0;
}
