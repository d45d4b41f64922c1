// Where the supervisor reads the thermal status during a game: the platform's thermal API
// (AThermal, API 30+, through dlopen since the program runs from API 21), else
// `dumpsys thermalservice` at most every 30 s, else the battery's temperature; and whether a
// CPU cooling device is active (the vendor already throttles). Only while a game is in front.
#ifndef TESSIVARCTL_THERMAL_SOURCE_H
#define TESSIVARCTL_THERMAL_SOURCE_H

struct thermal_source;

// Prepares the sources for a game session (the cooling devices are listed once per session).
thermal_source* thermal_begin(long long now_ms);
// The level now (THERMAL_*; UNKNOWN when no source answers) and whether a CPU cooling device is
// active. No process is started except the dump, at most every 30 s.
int thermal_check(thermal_source* source, long long now_ms, int* cooling);
// The same without the dump, for a launch that must not wait on a process: the thermal API, else
// the battery's temperature (a heuristic on Android 10, where the dump is the better source).
int thermal_check_cheap(thermal_source* source, int* cooling);
// What the level came from: "thermal API", "thermalservice", "battery temperature" or "none".
const char* thermal_source_name(const thermal_source* source);

#endif
