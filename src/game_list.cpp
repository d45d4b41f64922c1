#include "game_list.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "config.h"
#include "window_state.h"

const char* game_list_entry(char* line) {
    line[strcspn(line, "\r\n")] = '\0';
    if (line[0] == '\0' || line[0] == '#') return nullptr;
    return line;
}

int is_game_package(const char* package) {
    if (!package || package[0] == '\0') return 0;

    FILE* list = fopen(GAME_LIST_PATH, "r");
    if (!list) {
        fprintf(stderr, "Error opening %s: %s\n", GAME_LIST_PATH, strerror(errno));
        return 0;
    }

    int found = 0;
    char line[LINE_SIZE];
    while (!found && fgets(line, sizeof line, list)) {
        const char* entry = game_list_entry(line);
        found = entry && strcmp(entry, package) == 0;
    }
    fclose(list);
    return found;
}
