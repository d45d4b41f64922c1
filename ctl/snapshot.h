// The snapshot of the device's own settings, as text: what performance records before it
// boosts and balanced writes back (the state file holds it below its first two lines). No I/O
// here. A node's lines stay together, its governor first:
//   G <governor file> <governor>
//   T <tunable file> <value>  a tunable of the governor named by the G line before it
//   K <file> <ours>\t<own>    a knob a preset set: the value written and the device's own
//   P <preset> <package>      the preset in force and the game it is for
//   X <back-off state>        the thermal back-off of the launch in force
#ifndef TESSIVARCTL_SNAPSHOT_H
#define TESSIVARCTL_SNAPSHOT_H

#include <string_view>

struct snapshot_line {
    char kind;               // 'G', 'T', 'K', 'P', 'X', or 0 for a line that is none of them
    std::string_view path;   // G and T
    std::string_view value;  // the rest of the line: the boot id, governor or value
};

// Takes the next line off `text`; 0 when none is left.
int next_snapshot_line(std::string_view* text, snapshot_line* line);

// The governor the snapshot records for `governor_file`, or empty when it records none.
std::string_view recorded_governor(std::string_view snapshot, std::string_view governor_file);

// A governor name as the kernel spells one: letters, digits, '_' and '-'.
int plain_governor_name(std::string_view name);

// Whether `path` is a file directly inside a directory of governor `governor` that tunes the
// CPU policy at `policy_dir`: <policy_dir>/<governor>/<file> or, system-wide,
// /sys/devices/system/cpu/cpufreq/<governor>/<file>. Nothing else, whatever a snapshot says.
int tunable_path_allowed(std::string_view path, std::string_view policy_dir,
                         std::string_view governor);

// The node a governor file belongs to, from its path alone, so that a node that is gone now is
// still known by its lines: a cpufreq policy (<cpufreq>/policyN/scaling_governor), Adreno's kgsl
// GPU or a devfreq node whose name says no bus (<dir>/governor; that it is a GPU is the device's
// to say, devfreq_gpu_at). 0 for any other path.
struct node_ref {
    std::string_view dir;
    std::string_view name;
    int cpu_policy;
};
int node_of_governor_file(std::string_view path, node_ref* node);
// The same for a node's directory: cpufreq/policyN, cpuN/cpufreq (3.x), or a GPU's.
int node_of_dir(std::string_view dir, node_ref* node);

// What is restored together: a node's G line and the T lines after it, or one K line; P and X
// lines come alone too.
struct snapshot_group {
    char kind;              // the first line's kind
    std::string_view text;  // the lines, each with its '\n'
    std::string_view governor_file;
};
// Takes the next group off `text`; stray lines before the first group come as a group of
// their own with an empty governor file. 0 when none is left.
int next_snapshot_group(std::string_view* text, snapshot_group* group);

// How a setting's file is named to a person: the node it belongs to ("policy4"; empty for a
// file of no node) and its leaf ("up_rate_limit_us").
void setting_name(std::string_view path, std::string_view* node, std::string_view* leaf);

// The group of `text` whose first line names `path` (a G line's governor file, a K line's
// file); empty when there is none.
std::string_view find_group(std::string_view text, std::string_view path);

// The preset and game of the launch in force, from the P line of `held` (the game empty when
// none was known); 0 when there is no P line.
int launch_preset(std::string_view held, std::string_view* preset, std::string_view* game);

// A K line's value: what a preset wrote and the device's own value; 0 when malformed.
int split_knob_value(std::string_view value, std::string_view* ours, std::string_view* own);

#endif
