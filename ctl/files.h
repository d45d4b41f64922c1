// Reading small files, and replacing a file so that a crash, a kill or a full disk leaves either
// the old one or the new one whole: a temporary file in the same directory, every write checked,
// fsync, rename, then the directory synced.
#ifndef TESSIVARCTL_FILES_H
#define TESSIVARCTL_FILES_H

#include <stddef.h>
#include <sys/types.h>

#include <string_view>

// Opens `path` with `flags` (and `mode` when creating) and answers the descriptor only when it
// is a regular file; otherwise -1, with errno EINVAL for anything else (a FIFO, a directory, a
// device). Always close-on-exec and non-blocking, so a FIFO put in a file's place cannot hold
// the caller.
int open_regular(const char* path, int flags, mode_t mode = 0);

// Reads a whole regular file into `buf`. Answers its length; -1 with errno on failure, with
// errno EFBIG when it is larger than `cap`, EINVAL when it is not a regular file. A missing
// file gives -1 and ENOENT.
ssize_t read_small_file(const char* path, char* buf, size_t cap);

// Reads a file of one line (a sysfs value, a state file) into `out` without its final '\n'.
// Answers 0 for a missing or unreadable file, or one of more than one line.
int read_value(const char* path, char* out, size_t cap);
// The same from an open descriptor, which it closes (-1 answers 0).
int read_value_from(int fd, char* out, size_t cap);

// Replaces `path` with `data` as described above; answers 1, or 0 with errno, leaving no
// temporary file behind. Without `durable` there is no fsync: for state that a new boot voids
// anyway (a power loss starts a new boot), where rename alone is atomic against a kill.
int replace_file(const char* path, std::string_view data, mode_t mode, int durable = 1);

// Removes `path` and syncs its directory; a file already gone counts as removed.
int remove_file(const char* path);

// Whether the directory can be written (a read-only mount, missing rights).
int directory_writable(const char* dir);

// Writes all of `data` to `fd`, through short writes and interrupts.
int write_all(int fd, std::string_view data);

#endif
