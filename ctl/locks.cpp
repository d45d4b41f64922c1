#include "locks.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

int take_lock(const char* path) {
    int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    // On a read-only mount the lock file that is there still takes a flock.
    if (fd < 0 && (errno == EROFS || errno == EACCES))
        fd = open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return -1;
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            const int saved = errno;
            close(fd);
            errno = saved;
            return -1;
        }
    }
    return fd;
}

int try_hold_lock(const char* path) {
    const int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) return -1;
    struct flock whole = {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    if (fcntl(fd, F_SETLK, &whole) != 0) {
        close(fd);
        errno = EAGAIN;
        return -1;
    }
    return fd;
}

pid_t lock_holder(const char* path) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return 0;
    struct flock whole = {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    const int ok = fcntl(fd, F_GETLK, &whole) == 0;
    close(fd);
    return ok && whole.l_type != F_UNLCK ? whole.l_pid : 0;
}
