// Which game a performance run is for. The daemon launches performance.sh with no argument,
// right after printing its change line ("State change detected: … Focus: 'PACKAGE'") to the
// supervisor's pipe, which is also the run's standard output. The supervisor records each
// change line it reads (last_change) under a lock it holds while reading and recording, so a
// run that finds the pipe drained under that lock finds the record of the change that
// launched it. Waiting is bounded; a run not started by the daemon has no game.
#ifndef TESSIVARCTL_GAME_FOCUS_H
#define TESSIVARCTL_GAME_FOCUS_H

#include <stddef.h>

#include <string_view>

// The supervisor's side: held around each read of the pipe and the records it makes.
int lock_focus();
void unlock_focus(int fd);
// Records a change line's mode and focus for boot `boot`; `hot` names the thermal state a launch
// of performance starts backed off at ("MODERATE", "COOLING"), empty when it is cool.
void record_change(std::string_view boot, int mode, std::string_view focus, std::string_view hot);

// The run's side: the package of the change that launched it, waiting at most `wait_ms` for the
// supervisor to read it; 0 when no game is known (the record is of another boot, names no
// game, or did not come in time: then `why` says which). `hot` gets the record's thermal
// state (empty when cool or unknown).
int launching_game(std::string_view boot, int wait_ms, char* out, size_t cap, const char** why,
                   char* hot, size_t hot_cap);

// The record's text: "<boot_id>\n<mode> <package>\n", then "hot <STATE>\n" when the phone was
// hot at the change. Pure.
int parse_change_record(std::string_view text, std::string_view boot, int* mode,
                        std::string_view* package, std::string_view* hot);

#endif
