// `status [--json]`: in one call, everything the Action button and the page show.
#ifndef TESSIVARCTL_STATUS_H
#define TESSIVARCTL_STATUS_H

int run_status(int json);

#endif
