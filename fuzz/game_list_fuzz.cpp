// Feeds a whole game list to the entry logic and checks what an entry may ever be.
#include <string.h>

#include "game_list_line.h"
#include "line_pieces.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for_each_piece(data, size, [](const char* piece) {
        char line[LINE_SIZE];
        memcpy(line, piece, strlen(piece) + 1);
        const size_t cut = strcspn(piece, "\r\n");
        const char* entry = game_list_entry(line);
        if (entry) {
            CHECK(entry == line);
            CHECK(strlen(entry) == cut && cut > 0);
            CHECK(entry[0] != '#');
            CHECK(memcmp(entry, piece, cut) == 0);
        } else {
            CHECK(cut == 0 || piece[0] == '#');
        }
    });
    return 0;
}
