// `sessions [--json] | sessions show START`: the recorded game sessions, for a root shell and
// the page.
#ifndef TESSIVARCTL_SESSIONS_H
#define TESSIVARCTL_SESSIONS_H

int run_sessions(int argc, char** argv);

// The last `count` summaries as a JSON array (newest last), for status --json.
void print_sessions_json(int count);

#endif
