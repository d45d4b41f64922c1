// Child processes started without a shell (no text ever becomes a command), and checks of what
// a pid names now, since a pid read from a file may belong to another process after a reboot
// or a wrap.
#ifndef TESSIVARCTL_PROCESSES_H
#define TESSIVARCTL_PROCESSES_H

#include <stddef.h>
#include <sys/types.h>

// Starts `argv[0]` (searched on PATH when it has no '/') with standard output and error on
// `out_fd` (or inherited when -1) and standard input on /dev/null. With `dies_with_parent` the
// kernel kills it (SIGKILL) when this process ends, however it ends; with `own_group` it leads
// a process group of its own, so it can be ended with all it started. Answers the pid, or -1.
pid_t start_program(const char* const* argv, int out_fd, int dies_with_parent = 0,
                    int own_group = 0);

// Waits for a child; answers its wait status, or -1.
int wait_for(pid_t pid);

// Runs a program to its end; its wait status, or -1 when it could not be started.
int run_program(const char* const* argv, int out_fd);

// Runs a program with its standard output read into `out` (cut at `cap` - 1, the rest read and
// dropped, NUL terminated); its wait status, or -1 when it could not be started. Bounded: a
// program still running at command_deadline_ms() (printing or not, or holding its output open
// through a child) is killed with its whole process group, and `*timed_out` says so; `*cut`
// says the output did not fit.
int run_capture(const char* const* argv, char* out, size_t cap, int* timed_out = nullptr,
                int* cut = nullptr);

// Whether `pid` is alive and runs the program at `exe` (compared through /proc/PID/exe).
int process_runs(pid_t pid, const char* exe);

// The parent of `pid`, or 0.
pid_t parent_of(pid_t pid);

#endif
