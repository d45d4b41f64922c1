// Launching the profile scripts.
#ifndef TESSIVAR_SCRIPT_RUNNER_H
#define TESSIVAR_SCRIPT_RUNNER_H

// Launches SCRIPT_DIR followed by `script_name` through sh in the background; never waits for
// the script and never learns how it ended.
void execute_script(const char* script_name);

#endif
