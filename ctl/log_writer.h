// tessivar.log, written by the supervisor alone: whole lines, rotated to tessivar.log.old by
// rename the moment the next line would pass the limit, so it never exceeds it and no line is
// lost. Only a regular file is ever written; a link or a FIFO in its place is replaced.
#ifndef TESSIVARCTL_LOG_WRITER_H
#define TESSIVARCTL_LOG_WRITER_H

#include <stddef.h>

#include <string_view>

#include "ctl_config.h"

struct log_writer {
    int fd;
    size_t size;
    size_t limit;
    char path[PATH_SIZE];
    char old_path[PATH_SIZE];
};

// Opens (or creates) the log for appending; answers 0 when no log can be written.
int open_log(log_writer* log, const char* path, const char* old_path, size_t limit);
// Appends one line (a final '\n' is added when missing; a line longer than the limit is cut).
void write_log_line(log_writer* log, std::string_view line);

// The length of the first whole line in `data` (with its '\n'), or `max` when that many bytes
// hold none (written as a line of its own); 0 when more input is needed.
size_t log_line_length(const char* data, size_t len, size_t max);

#endif
