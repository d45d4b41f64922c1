// The max preset: every CPU policy and GPU that offers it on the "performance" governor, after
// recording each node's governor and its governor's tunables (a governor switch frees them).
#ifndef TESSIVARCTL_GOVERNOR_BOOST_H
#define TESSIVARCTL_GOVERNOR_BOOST_H

#include "fixed_text.h"

// Appends each node's record to the next state (held lines kept as they are) and marks which
// nodes to boost; names the nodes that cannot be recorded in `not_recorded`, and the tables
// passed over (the kernel's own, never recorded) in `tables`.
void record_governors(int* boost, fixed_text<1024>* not_recorded, fixed_text<1024>* tables);
// Sets the marked nodes to performance; names them in `changed`.
void boost_governors(const int* boost, fixed_text<1024>* changed);

#endif
