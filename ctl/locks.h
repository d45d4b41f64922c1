// Locks the kernel releases when their holder dies, however it dies: no stale locks, nothing
// to break by hand.
#ifndef TESSIVARCTL_LOCKS_H
#define TESSIVARCTL_LOCKS_H

#include <sys/types.h>

// Waits for the flock(2) on `path` (created when missing) and answers its descriptor; -1 with
// errno when the file cannot be opened. On a read-only mount an existing lock file is locked
// all the same. Closing the descriptor lets go.
int take_lock(const char* path);

// Takes the record lock (fcntl) on `path` without waiting, so that others can name its holder.
// Answers the descriptor, or -1 with errno EAGAIN when another process holds it.
int try_hold_lock(const char* path);

// The process holding the record lock on `path`, or 0 when none does.
pid_t lock_holder(const char* path);

#endif
