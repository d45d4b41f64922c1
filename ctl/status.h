// `status [--json [--packages]]`: in one call, everything the Action button and the page show;
// --packages adds the installed user apps from the package manager (for a page whose bridge
// cannot list them).
#ifndef TESSIVARCTL_STATUS_H
#define TESSIVARCTL_STATUS_H

int run_status(int json, int packages);

#endif
