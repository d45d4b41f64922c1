#include "log_writer.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files.h"
#include "text_view.h"

namespace {

// A regular file, opened for appending without following a link; -1 otherwise.
int open_log_file(const char* path, int exclusive) {
    return open_regular(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | (exclusive ? O_EXCL : 0),
                        0644);
}

}  // namespace

int open_log(log_writer* log, const char* path, const char* old_path, size_t limit) {
    snprintf(log->path, sizeof log->path, "%s", path);
    snprintf(log->old_path, sizeof log->old_path, "%s", old_path);
    log->limit = limit < 2 ? 2 : limit;
    log->size = 0;
    log->fd = open_log_file(path, 0);
    int replaced = 0;
    if (log->fd < 0 && errno != ENOENT && errno != EACCES && errno != EROFS) {
        // A symlink (ELOOP), a FIFO without reader (ENXIO) or a directory or device: never
        // written through; the name gets a regular file of its own.
        // A directory with something in it is set aside whole: nothing in it is lost.
        char aside[sizeof log->path + 32];
        snprintf(aside, sizeof aside, "%s.%d.aside", path, static_cast<int>(getpid()));
        if (unlink(path) == 0 || rmdir(path) == 0 || rename(path, aside) == 0) {
            log->fd = open_log_file(path, 1);
            replaced = log->fd >= 0;
        }
    }
    if (log->fd < 0) return 0;
    struct stat info;
    if (fstat(log->fd, &info) == 0) log->size = static_cast<size_t>(info.st_size);
    if (replaced)
        write_log_line(log, "supervisor: tessivar.log was not a regular file; replaced it");
    return 1;
}

void write_log_line(log_writer* log, std::string_view line) {
    if (log->fd < 0) return;
    if (line.size() > log->limit - 1) line = sub(line, 0, log->limit - 1);
    const int ends = !line.empty() && line.back() == '\n';
    const size_t total = line.size() + (ends ? 0 : 1);
    if (log->size > 0 && log->size + total > log->limit) {
        // The old log goes aside whole and a new one starts: nothing is cut out of the middle.
        const int fd = rename(log->path, log->old_path) == 0 ? open_log_file(log->path, 1) : -1;
        if (fd >= 0) {
            close(log->fd);
            log->fd = fd;
            log->size = 0;
        } else {
            return;  // cannot rotate: dropping the line keeps the bound
        }
    }
    if (write_all(log->fd, line) && (ends || write_all(log->fd, "\n"))) log->size += total;
}

size_t log_line_length(const char* data, size_t len, size_t max) {
    const size_t limit = len < max ? len : max;
    if (const void* nl = memchr(data, '\n', limit))
        return static_cast<size_t>(static_cast<const char*>(nl) - data) + 1;
    return limit == max ? max : 0;
}
