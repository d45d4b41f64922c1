// Where the control program finds the module and the device, and its fixed settings.
#ifndef TESSIVARCTL_CTL_CONFIG_H
#define TESSIVARCTL_CTL_CONFIG_H

#include <stddef.h>

// The module directory (no final '/'). Test builds take it from TESSIVAR_MODULE_DIR.
const char* module_dir();
// Prefixed to every device path (sysfs, boot_id): empty on a phone. Test builds take it from
// PROFILE_ROOT, so that a test can stand in for the kernel.
const char* device_root();

// Fills `out` with the module directory joined with `name`; answers 0 when it does not fit.
int module_path(char* out, size_t size, const char* name);
// Whether the module directory holds `name` (the manager's disable and remove flags).
int module_file_exists(const char* name);
// Fills `out` with the device root joined with an absolute device path.
int device_path(char* out, size_t size, const char* path);

// One second of the supervisor's pauses, in milliseconds (test builds shorten it).
int second_ms();
// The log is rotated before it would pass this many bytes.
size_t log_limit();
// How long a command the program runs (dumpsys, cmd, pm) may take before it is killed: 10 s
// (test builds may shorten it).
int command_deadline_ms();
// The platform's API level (ro.build.version.sdk); 0 when it cannot be read.
int sdk_level();

constexpr size_t PATH_SIZE = 512;
constexpr int RESTART_FIRST_DELAY = 5;  // seconds before the first restart
constexpr int RESTART_MAX_DELAY = 300;  // the back-off's ceiling
constexpr int RESTART_QUICK_RUN = 60;   // a run shorter than this doubles the delay

#endif
