# Governor nodes and how to record, set and restore them; sourced by the module's scripts.
# Every device path is prefixed with PROFILE_ROOT (empty on a device), so the scripts can be
# run against a fake sysfs tree.

# Prints each governor node directory that exists: CPU frequency policies, then GPU devfreq
# (Adreno's kgsl, Mali's devfreq).
governor_nodes() {
  for node in "$PROFILE_ROOT"/sys/devices/system/cpu/cpufreq/policy* \
              "$PROFILE_ROOT"/sys/class/kgsl/kgsl-3d0/devfreq \
              "$PROFILE_ROOT"/sys/class/devfreq/*mali*; do
    [ -d "$node" ] && printf '%s\n' "$node"
  done
}

# The governor file and the list of available governors of a node directory.
governor_file() {
  case $1 in
    */cpufreq/policy*) printf '%s\n' "$1/scaling_governor" ;;
    *) printf '%s\n' "$1/governor" ;;
  esac
}
available_file() {
  case $1 in
    */cpufreq/policy*) printf '%s\n' "$1/scaling_available_governors" ;;
    *) printf '%s\n' "$1/available_governors" ;;
  esac
}

# A short name for a node in messages: policy0, kgsl-3d0, 13000000.mali.
node_name() {
  case $1 in
    */cpufreq/*) printf '%s\n' "${1##*/}" ;;
    */kgsl/*/devfreq) gpu_dir=${1%/devfreq}; printf '%s\n' "${gpu_dir##*/}" ;;
    *) printf '%s\n' "${1##*/}" ;;
  esac
}

# Writes a value to a node file; fails quietly when the file is missing or refuses it.
write_node() {
  [ -f "$1" ] || return 1
  { printf '%s\n' "$2" > "$1"; } 2>/dev/null || return 1
  [ "$(cat "$1" 2>/dev/null)" = "$2" ]
}

# Records "path governor" lines, paths without PROFILE_ROOT, for every readable governor.
record_governors() {
  record=$1
  : > "$record.new" || return 1
  governor_nodes | while read -r node; do
    file=$(governor_file "$node")
    value=$(cat "$file" 2>/dev/null) || continue
    [ -n "$value" ] && printf '%s %s\n' "${file#"$PROFILE_ROOT"}" "$value" >> "$record.new"
  done
  mv -f "$record.new" "$record"
}

# Puts back what record_governors recorded; prints how many nodes were restored.
restore_governors() {
  restored=0
  if [ -f "$1" ]; then
    while read -r file value; do
      [ -n "$file" ] && write_node "$PROFILE_ROOT$file" "$value" && restored=$((restored + 1))
    done < "$1"
  fi
  printf '%s\n' "$restored"
}

# Records which profile is on, for other tools to read.
set_current_profile() {
  printf '%s\n' "$2" > "$1/current_profile.new" && mv -f "$1/current_profile.new" "$1/current_profile"
}
