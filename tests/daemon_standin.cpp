// Stands in for Tessivar under the supervisor in tests. The file standin-mode in the module
// directory (read at each start) says what it does:
//   (unset)   prints one line and waits to be killed
//   exit:N    prints one line and exits with status N
//   flood:N   prints N numbered lines of 100 bytes at once, then waits
//   change:P  reports a change to performance for the package P, then waits
//   say       prints the rest of the file (after its first line), then waits
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

int main() {
    char path[512];
    char mode_text[64] = "";
    char said[4096] = "";
    snprintf(path, sizeof path, "%s/standin-mode", getenv("TESSIVAR_MODULE_DIR"));
    if (FILE* file = fopen(path, "r")) {
        if (!fgets(mode_text, sizeof mode_text, file)) mode_text[0] = '\0';
        said[fread(said, 1, sizeof said - 1, file)] = '\0';
        fclose(file);
    }
    const char* mode = mode_text;
    printf("Tessivar stand-in running\n");
    fflush(stdout);
    if (strncmp(mode, "exit:", 5) == 0) return atoi(mode + 5);
    if (strncmp(mode, "flood:", 6) == 0) {
        const int lines = atoi(mode + 6);
        for (int i = 1; i <= lines; ++i)
            printf("flood %07d %085d\n", i, 0);  // 100 bytes with the line end
        fflush(stdout);
    }
    if (strncmp(mode, "change:", 7) == 0) {
        printf("State change detected: 2 -> 1. Screen: 1, Focus: '%s'\n", mode + 7);
        fflush(stdout);
    }
    if (strncmp(mode, "say", 3) == 0) {
        fputs(said, stdout);
        fflush(stdout);
    }
    for (;;)
        pause();
}
