// During a game, whether each knob the preset set still holds ours: the supervisor's 5 s check,
// in its own process (no process started), under the profile lock and only while the launch it
// read is in force and not backed off. A knob that fell back from ours is set to ours again and
// counted; one taken back too often is left to the system for the rest of the session. Never a
// knob the system moved further our way, nor a floor the kernel only clamps.
#ifndef TESSIVARCTL_KNOB_WATCH_H
#define TESSIVARCTL_KNOB_WATCH_H

#include <stddef.h>
#include <sys/stat.h>

#include <string_view>

// A new game session: nothing counted yet.
void knob_watch_reset();
// The state file as read (`info` from a stat made before the read): the K lines of the launch
// in force, and whether it is backed off. Counts of knobs still held stay.
void knob_watch_load(std::string_view held, const struct stat& info);
// One check at `now_ms`, counted in checks (5 s each) rather than read from a clock, so that
// "a few times a minute" means the same however late a busy phone runs them; each line worth
// logging goes to `say`.
// Answers whether anything was counted (then the record is to be published).
int knob_watch_check(long long now_ms, void (*say)(const char*));
// The record status reads (game_watch), for the launch at `ticks`; `front_note` says why the
// game in front cannot be told (empty: it can).
void knob_watch_publish(std::string_view boot, unsigned long long ticks, const char* front_note);
// What was taken back, for the session's summary: "top-app/cpu.uclamp.min:6:left,..." (the
// knob's node or group, '/', its file; times; "left" or "kept"); empty when nothing was.
void knob_watch_summary(char* out, size_t cap);

#endif
