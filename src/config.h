// Compiled-in settings: the daemon has no other configuration.
#ifndef TESSIVAR_CONFIG_H
#define TESSIVAR_CONFIG_H

// The build passes the module directory without its final '/'.
#ifndef TESSIVAR_MODULE_DIR
#define TESSIVAR_MODULE_DIR "/data/adb/modules/Drovenmarke"
#endif

#define GAME_LIST_PATH TESSIVAR_MODULE_DIR "/game.txt"
#define SCRIPT_DIR TESSIVAR_MODULE_DIR "/Scripts/"
#define PERFORMANCE_SCRIPT "performance.sh"
#define BALANCED_SCRIPT "balanced.sh"

constexpr int SCREEN_ON_DELAY = 5;    // seconds between cycles while the screen is not off
constexpr int SCREEN_OFF_DELAY = 10;  // seconds between cycles while the screen is off

// How long one "dumpsys window" may take to end its output before it is stopped. The tests'
// build makes it a variable: short where a test is about the deadline, and as on a phone
// elsewhere, so that a slow or emulated machine never trips it.
#ifdef TESSIVAR_TEST_DEADLINE
extern int dump_deadline_ms;
#define DUMP_DEADLINE_MS dump_deadline_ms
#else
constexpr int DUMP_DEADLINE_MS = 20000;
#endif

constexpr int MODE_NONE = 0;  // nothing applied yet
constexpr int MODE_PERFORMANCE = 1;
constexpr int MODE_BALANCED = 2;

#endif
