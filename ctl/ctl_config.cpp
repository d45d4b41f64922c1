#include "ctl_config.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#ifdef __ANDROID__
#include <sys/system_properties.h>
#endif

#ifndef TESSIVAR_MODULE_DIR
#define TESSIVAR_MODULE_DIR "/data/adb/modules/Drovenmarke"
#endif

namespace {

// Only a test build reads the environment: on a phone nothing a caller sets moves the paths.
const char* test_setting(const char* name) {
#ifdef TESSIVARCTL_TEST_BUILD
    return getenv(name);
#else
    (void)name;
    return nullptr;
#endif
}

}  // namespace

const char* module_dir() {
    const char* dir = test_setting("TESSIVAR_MODULE_DIR");
    return dir && dir[0] ? dir : TESSIVAR_MODULE_DIR;
}

const char* device_root() {
    const char* root = test_setting("PROFILE_ROOT");
    return root ? root : "";
}

int module_path(char* out, size_t size, const char* name) {
    const int n = snprintf(out, size, "%s/%s", module_dir(), name);
    return n > 0 && static_cast<size_t>(n) < size;
}

int module_file_exists(const char* name) {
    char path[PATH_SIZE];
    return module_path(path, sizeof path, name) && access(path, F_OK) == 0;
}

int device_path(char* out, size_t size, const char* path) {
    const int n = snprintf(out, size, "%s%s", device_root(), path);
    return n > 0 && static_cast<size_t>(n) < size;
}

int second_ms() {
    const char* fast = test_setting("TESSIVAR_FAST_PAUSES");
    return fast && fast[0] ? 20 : 1000;
}

size_t log_limit() {
    const char* limit = test_setting("TESSIVAR_LOG_LIMIT");
    if (limit && limit[0]) return static_cast<size_t>(strtoul(limit, nullptr, 10));
    return 512 * 1024;
}

int command_deadline_ms() {
    const char* ms = test_setting("TESSIVAR_COMMAND_DEADLINE_MS");
    if (ms && ms[0]) return atoi(ms);
    return 10000;
}

int sdk_level() {
    // Tests say which Android they stand for; a phone's property area is read without a process.
    const char* sdk = test_setting("TESSIVAR_SDK");
    if (sdk) return atoi(sdk);
#ifdef __ANDROID__
    char value[PROP_VALUE_MAX] = "";
    if (__system_property_get("ro.build.version.sdk", value) > 0) return atoi(value);
#endif
    return 0;
}
