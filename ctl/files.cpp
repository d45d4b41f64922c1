#include "files.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ctl_config.h"

int open_regular(const char* path, int flags, mode_t mode) {
    const int fd = open(path, flags | O_CLOEXEC | O_NONBLOCK, mode);
    if (fd < 0) return -1;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

ssize_t read_small_file(const char* path, char* buf, size_t cap) {
    const int fd = open_regular(path, O_RDONLY);
    if (fd < 0) return -1;
    size_t len = 0;
    for (;;) {
        if (len == cap) {
            char extra;
            const ssize_t more = read(fd, &extra, 1);
            close(fd);
            if (more == 0) return static_cast<ssize_t>(len);
            errno = EFBIG;
            return -1;
        }
        const ssize_t got = read(fd, buf + len, cap - len);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            const int saved = errno;
            close(fd);
            errno = saved;
            return -1;
        }
        if (got == 0) break;
        len += static_cast<size_t>(got);
    }
    close(fd);
    return static_cast<ssize_t>(len);
}

int read_value_from(int fd, char* out, size_t cap) {
    if (fd < 0) return 0;
    if (cap == 0) {
        close(fd);
        return 0;
    }
    // sysfs files report a size of 4096 whatever they hold: read to the end. A read that
    // returns less than it was asked for has reached it (a sysfs or proc value comes whole from
    // one show, a regular file up to its end), which spares every value a second read.
    size_t len = 0;
    for (;;) {
        if (len == cap - 1) break;
        const ssize_t got = read(fd, out + len, cap - 1 - len);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            close(fd);
            return 0;
        }
        if (got == 0) break;
        len += static_cast<size_t>(got);
        if (len < cap - 1) break;
    }
    char extra;
    const int longer = len == cap - 1 && read(fd, &extra, 1) > 0;
    close(fd);
    if (longer) return 0;
    if (len > 0 && out[len - 1] == '\n') --len;
    out[len] = '\0';
    // One line only, and nothing a line-based file could not hold.
    return memchr(out, '\n', len) == nullptr && memchr(out, '\0', len) == nullptr;
}

int read_value(const char* path, char* out, size_t cap) {
    return read_value_from(open_regular(path, O_RDONLY), out, cap);
}

int write_all(int fd, std::string_view data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return 0;
        done += static_cast<size_t>(n);
    }
    return 1;
}

namespace {

// The directory part of a path, "." when it has none.
void directory_of(const char* path, char* out, size_t cap) {
    const char* slash = strrchr(path, '/');
    if (!slash) {
        snprintf(out, cap, ".");
    } else if (slash == path) {
        snprintf(out, cap, "/");
    } else {
        snprintf(out, cap, "%.*s", static_cast<int>(slash - path), path);
    }
}

int sync_directory(const char* path) {
    char dir[PATH_SIZE];
    directory_of(path, dir, sizeof dir);
    const int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return 0;
    const int ok = fsync(fd) == 0 || errno == EINVAL;  // some filesystems cannot sync a directory
    close(fd);
    return ok;
}

}  // namespace

int replace_file(const char* path, std::string_view data, mode_t mode, int durable) {
    char temporary[PATH_SIZE];
    const char* slash = strrchr(path, '/');
    const int dir_len = slash ? static_cast<int>(slash - path + 1) : 0;
    const int n = snprintf(temporary, sizeof temporary, "%.*s.%s.%d.tmp", dir_len, path,
                           path + dir_len, static_cast<int>(getpid()));
    if (n <= 0 || static_cast<size_t>(n) >= sizeof temporary) {
        errno = ENAMETOOLONG;
        return 0;
    }
    const int fd = open(temporary, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0) return 0;
    int ok = write_all(fd, data) && fchmod(fd, mode) == 0 && (!durable || fsync(fd) == 0);
    int saved = errno;
    if (close(fd) != 0 && ok) {
        ok = 0;
        saved = errno;
    }
    if (ok && rename(temporary, path) != 0) {
        ok = 0;
        saved = errno;
    }
    if (!ok) {
        unlink(temporary);
        errno = saved;
        return 0;
    }
    if (durable) sync_directory(path);
    return 1;
}

int remove_file(const char* path) {
    if (unlink(path) != 0 && errno != ENOENT) return 0;
    sync_directory(path);
    return 1;
}

int directory_writable(const char* dir) {
    return access(dir, W_OK) == 0;
}
