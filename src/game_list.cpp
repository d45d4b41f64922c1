#include "game_list.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "config.h"
#include "game_list_line.h"
#include "window_state.h"

namespace {

void report_open_error(const char* reason) {
    fprintf(stderr, "Error opening %s: %s\n", GAME_LIST_PATH, reason);
}

}  // namespace

int is_game_package(const char* package) {
    if (!package || package[0] == '\0') return 0;

    // Non-blocking, so that a FIFO cannot hold the cycle in open; then only a regular file is
    // read, since a device such as /dev/zero never ends and a directory has no lines.
    const int fd = open(GAME_LIST_PATH, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        report_open_error(strerror(errno));
        return 0;
    }
    struct stat info;
    const int stat_ok = fstat(fd, &info) == 0;
    if (!stat_ok || !S_ISREG(info.st_mode)) {
        report_open_error(stat_ok ? "not a regular file" : strerror(errno));
        close(fd);
        return 0;
    }
    FILE* list = fdopen(fd, "r");
    if (!list) {
        report_open_error(strerror(errno));
        close(fd);
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
