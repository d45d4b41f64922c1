// Which listed game is in front during a game, told without starting a process: Android puts
// the foreground app's process in the top-app cpuset (/dev/cpuset/top-app, Android 7.0 and
// later), and an app's /proc/<pid>/cmdline is its process name, the package for its main
// process. The daemon launches nothing while its mode stays performance, so the supervisor asks
// this at its 5 s check to follow a game that follows a game.
#ifndef TESSIVARCTL_GAME_IN_FRONT_H
#define TESSIVARCTL_GAME_IN_FRONT_H

#include <stddef.h>

#include <string_view>

enum front_answer {
    FRONT_SAME,     // the session's game is in front, or no other listed game is
    FRONT_OTHER,    // one other listed game is in front, and the session's is not
    FRONT_UNKNOWN,  // it cannot be told (no top-app cpuset, or several listed games in front)
};

// The rule, pure: `in_front` are the listed packages of the top-app processes (repeats
// allowed), `game` the session's (empty when its launch named none). FRONT_OTHER sets `other`.
front_answer front_rule(const std::string_view* in_front, int count, std::string_view game,
                        std::string_view* other);

// The I/O: one read of the cpuset's cgroup.procs per check; a process's name is read once while
// it stays there. `why` says what could not be told. Forget() drops the names (the game list
// changed).
front_answer game_in_front(std::string_view game, char* other, size_t cap, const char** why);
void game_in_front_forget();

#endif
