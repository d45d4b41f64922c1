// tessivarctl: the module's control program. The profiles, the supervisor, the game list and
// the status, for the root manager's scripts, the page, the Action button and a root shell.
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include "games.h"
#include "presets.h"
#include "profile.h"
#include "self_bench.h"
#include "sessions.h"
#include "status.h"
#include "supervisor.h"

namespace {

int usage() {
    fprintf(stderr,
            "usage: tessivarctl profile performance|balanced\n"
            "       tessivarctl supervise\n"
            "       tessivarctl stop\n"
            "       tessivarctl games list | add PKG... | remove PKG... | check | fix | suggest "
            "[--json]\n"
            "       tessivarctl preset list | set PKG|default sustained|max|battery | clear PKG\n"
            "       tessivarctl sessions [--json] | sessions show START\n"
            "       tessivarctl status [--json [--packages]]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    // A reader that goes away (a closed page) must not end a profile half-way.
    signal(SIGPIPE, SIG_IGN);
    if (argc < 2) return usage();
    const char* command = argv[1];
    if (strcmp(command, "profile") == 0 && argc >= 3 && argc <= 5)
        return run_profile(argv[2], argc >= 4 ? argv[3] : nullptr, argc == 5 ? argv[4] : nullptr);
    if (strcmp(command, "supervise") == 0 && argc == 2) return supervise();
    if (strcmp(command, "stop") == 0 && argc == 2) return stop_supervisor();
    if (strcmp(command, "games") == 0) return run_games(argc - 2, argv + 2);
    if (strcmp(command, "preset") == 0) return run_presets(argc - 2, argv + 2);
    if (strcmp(command, "sessions") == 0) return run_sessions(argc - 2, argv + 2);
#ifdef TESSIVARCTL_TEST_BUILD
    if (strcmp(command, "bench") == 0) return run_self_bench(argc - 2, argv + 2);
#endif
    if (strcmp(command, "status") == 0 && argc == 2) return run_status(0, 0);
    if (strcmp(command, "status") == 0 && argc >= 3 && argc <= 4 &&
        strcmp(argv[2], "--json") == 0 && (argc == 3 || strcmp(argv[3], "--packages") == 0))
        return run_status(1, argc == 4);
    return usage();
}
