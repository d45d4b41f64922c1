#include "script_runner.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "config.h"

void execute_script(const char* script_name) {
    char path[256];
    snprintf(path, sizeof path, "%s%s", SCRIPT_DIR, script_name);

    // Existence only: the script runs through sh, so it needs no execute bit.
    if (access(path, F_OK) != 0) {
        fprintf(stderr, "Error: Script %s not found at %s.\n", script_name, path);
        return;
    }

    char command[276];
    snprintf(command, sizeof command, "sh %s &", path);
    printf("Executing: %s\n", command);

    // The trailing '&' makes the shell return at once; the script's own status never shows.
    const int status = system(command);
    if (status != 0) {
        fprintf(stderr,
                "Warning: Failed to execute command '%s' or command exited abnormally (system "
                "returned %d).\n",
                command, status);
        if (status == -1) perror("System call error");
    }
}
