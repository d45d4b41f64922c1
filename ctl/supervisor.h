// The supervisor: one per boot, keeps Tessivar running with its output in tessivar.log, puts
// the balanced profile back whenever the daemon ends, and stops (restoring) on SIGTERM, on
// `stop`, or when the module is to be removed.
#ifndef TESSIVARCTL_SUPERVISOR_H
#define TESSIVARCTL_SUPERVISOR_H

int supervise();
// Stops the running supervisor (and so the daemon), then puts the balanced profile back.
int stop_supervisor();

#endif
