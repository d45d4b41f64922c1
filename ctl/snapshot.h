// The snapshot of the device's own settings, as text: what performance records before it
// boosts and balanced writes back. No I/O here.
//   B <boot_id>              the boot it describes; any other boot's snapshot is void
//   G <governor file> <governor>
//   T <tunable file> <value>  a tunable of the governor named by the G line before it
#ifndef TESSIVARCTL_SNAPSHOT_H
#define TESSIVARCTL_SNAPSHOT_H

#include <string_view>

struct snapshot_line {
    char kind;               // 'B', 'G', 'T', or 0 for a line that is none of them
    std::string_view path;   // G and T
    std::string_view value;  // the rest of the line: the boot id, governor or value
};

// Takes the next line off `text`; 0 when none is left.
int next_snapshot_line(std::string_view* text, snapshot_line* line);

// The boot id the snapshot names on its first line, or empty.
std::string_view snapshot_boot(std::string_view text);

// The governor the snapshot records for `governor_file`, or empty when it records none.
std::string_view recorded_governor(std::string_view snapshot, std::string_view governor_file);

// A governor name as the kernel spells one: letters, digits, '_' and '-'.
int plain_governor_name(std::string_view name);

// Whether `path` is a file directly inside a directory of governor `governor` that tunes the
// CPU policy at `policy_dir`: <policy_dir>/<governor>/<file> or <cpufreq>/<governor>/<file>,
// where <cpufreq> is the policy's parent. Nothing else, whatever a snapshot line says.
int tunable_path_allowed(std::string_view path, std::string_view policy_dir,
                         std::string_view governor);

#endif
