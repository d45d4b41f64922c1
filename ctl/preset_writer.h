// The sustained and battery presets: the knob table walked on this device. What each knob will
// be given is recorded first (with the device's own value), then written.
#ifndef TESSIVARCTL_PRESET_WRITER_H
#define TESSIVARCTL_PRESET_WRITER_H

#include "fixed_text.h"

struct knob;

struct planned_write {
    char path[512];
    char value[32];
    const knob* k;
    char shown[32];  // after apply_plan: what the file showed after the write
    int rounded;     // the kernel's own rounding of the value: recorded as ours instead
};
constexpr int MAX_PLANNED = 64;
struct preset_plan {
    planned_write writes[MAX_PLANNED];
    int count;
    fixed_text<1024> changed;  // knob names (with their nodes) as the run reports them
    fixed_text<1024> absent;   // knobs of the preset this kernel does not have
};

// Appends the preset's K lines to the next state and fills the plan.
void plan_preset(unsigned preset, preset_plan* plan);
// Writes the plan; answers how many took (a read-back the kernel rounded or cut down to a cap
// counts as taken).
int apply_plan(preset_plan* plan);
// Puts what the kernel showed after each rounded write into its K line of the next state, as
// ours; answers whether there was any.
int record_read_backs(const preset_plan& plan);

#endif
