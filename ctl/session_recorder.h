// The supervisor's recording of a game session: from the launch of performance to the next
// launch or balanced, a sample every 5 s from sysfs alone (no process per sample), frames from
// SurfaceFlinger at the start and the end, and one summary line when it ends. Nothing between
// games.
#ifndef TESSIVARCTL_SESSION_RECORDER_H
#define TESSIVARCTL_SESSION_RECORDER_H

// Starts recording a session of `game` under `preset` (its frames counted from now).
void session_begin(const char* game, const char* preset, long long now_ms);
// One sample, with the thermal level and cooling the supervisor read in the same check.
void session_sample(long long now_ms, int level, int cooling);
// What the phone took back so far in the session in progress (see session_line.taken_back),
// for its summary.
void session_taken_back(const char* summary);
// Ends the session in progress, if any: frames, summary, and the bound on what is kept.
void session_end(long long now_ms);
// Whether a session is being recorded.
int session_active();
// Summarizes sessions a reboot or a kill cut short (their frames are unknown), at start.
void sessions_recover();

#endif
