#include "list_file.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ctl_config.h"
#include "files.h"
#include "locks.h"

int lock_list(list_file* file, const char* who) {
    char lock_path[PATH_SIZE];
    char name[128];
    snprintf(name, sizeof name, ".%s.lock", file->name);
    module_path(lock_path, sizeof lock_path, name);
    file->lock = take_lock(lock_path);
    if (file->lock >= 0) return 1;
    fprintf(stderr, "%s: cannot take %s (%s); nothing changed\n", who, lock_path, strerror(errno));
    return 0;
}

void unlock_list(list_file* file) {
    if (file->lock >= 0) close(file->lock);
    file->lock = -1;
}

int read_list_file(list_file* file, std::string_view* text, const char** reason) {
    module_path(file->path, sizeof file->path, file->name);
    const ssize_t n = read_small_file(file->path, file->buffer, file->cap);
    if (n < 0 && errno == ENOENT) {
        *text = {};
        return 1;
    }
    if (n < 0) {
        *reason = errno == EINVAL  ? "not a regular file"
                  : errno == EFBIG ? "larger than 1 MiB"
                                   : strerror(errno);
        return 0;
    }
    *text = std::string_view(file->buffer, static_cast<size_t>(n));
    return 1;
}

int write_list_file(const list_file& file, const game_list_text& edited, const char* who) {
    struct stat info;
    const mode_t mode = stat(file.path, &info) == 0 ? (info.st_mode & 0777) : 0644;
    if (edited.overflow || !replace_file(file.path, edited.view(), mode)) {
        fprintf(stderr, "%s: could not write %s (%s); the list is unchanged\n", who, file.path,
                edited.overflow ? "it would pass 1 MiB" : strerror(errno));
        return 0;
    }
    return 1;
}
