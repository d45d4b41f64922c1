# Governor nodes, the snapshot of the device's own settings, and the lock that keeps the profile
# scripts from overlapping; sourced by the module's scripts. Every device path is prefixed with
# PROFILE_ROOT (empty on a device), so the scripts can be run against a fake sysfs tree.

# The root managers run their own scripts under their busybox's ash with its applets first; do
# the same, so that the scripts behave alike from Android 5 (mksh, toolbox without printf) to
# 16. Without one, only what mksh and toolbox offer is used.
run_under_manager_busybox() {
  [ -n "${TESSIVAR_ASH:-}" ] && return 0
  for bb in "$PROFILE_ROOT"/data/adb/magisk/busybox "$PROFILE_ROOT"/data/adb/ksu/bin/busybox \
            "$PROFILE_ROOT"/data/adb/ap/bin/busybox; do
    if [ -x "$bb" ]; then
      TESSIVAR_ASH=$bb ASH_STANDALONE=1 exec "$bb" sh "$0" "$@"
    fi
  done
  TESSIVAR_ASH=none
  export TESSIVAR_ASH
}

# One line, as it is: printf where there is one (a builtin in ash and dash), else mksh's print.
if command -v printf > /dev/null 2>&1; then
  say() { printf '%s\n' "$*"; }
else
  say() { print -r -- "$*"; }
fi

# Prints each governor node directory that exists: CPU frequency policies, then GPU devfreq
# (Adreno's kgsl, Mali's devfreq).
governor_nodes() {
  for gn in "$PROFILE_ROOT"/sys/devices/system/cpu/cpufreq/policy* \
            "$PROFILE_ROOT"/sys/class/kgsl/kgsl-3d0/devfreq \
            "$PROFILE_ROOT"/sys/class/devfreq/*mali*; do
    [ -d "$gn" ] && say "$gn"
  done
}

# The governor file and the list of available governors of a node directory.
governor_file() {
  case $1 in
    */cpufreq/policy*) say "$1/scaling_governor" ;;
    *) say "$1/governor" ;;
  esac
}
available_file() {
  case $1 in
    */cpufreq/policy*) say "$1/scaling_available_governors" ;;
    *) say "$1/available_governors" ;;
  esac
}

# A short name for a node in messages: policy0, kgsl-3d0, 13000000.mali.
node_name() {
  case $1 in
    */kgsl/*/devfreq) gpu_dir=${1%/devfreq}; say "${gpu_dir##*/}" ;;
    *) say "${1##*/}" ;;
  esac
}

# The one line a node file holds; fails for a missing file or one of several lines.
read_value() {
  [ -f "$1" ] && [ -r "$1" ] || return 1
  rv=$(cat "$1" 2>/dev/null) || return 1
  case $rv in *'
'*) return 1 ;; esac
  say "$rv"
}

# Writes a value to a node file and reads it back; fails quietly when the file is missing or
# refuses it. PROFILE_KERNEL_HOOK stands in for the kernel in tests (a governor switch).
write_node() {
  [ -f "$1" ] || return 1
  { say "$2" > "$1"; } 2>/dev/null || return 1
  [ -n "${PROFILE_KERNEL_HOOK:-}" ] && "$PROFILE_KERNEL_HOOK" "$1" "$2"
  [ "$(cat "$1" 2>/dev/null)" = "$2" ]
}

# The directories whose files tune a cpufreq policy's governor: its own, and the system-wide
# one that some kernels keep.
tunable_dirs() {
  case $1 in
    */cpufreq/policy*) say "$1/$2"; say "${1%/*}/$2" ;;
  esac
}

# This boot, so that a snapshot from an earlier one is never taken for the device's own.
boot_id() {
  cat "$PROFILE_ROOT/proc/sys/kernel/random/boot_id" 2>/dev/null || cat /proc/sys/kernel/random/boot_id
}

# Records, for every node that offers "performance", its governor and the readable, writable
# one-line tunables of that governor; paths without PROFILE_ROOT. The snapshot is written whole
# or not at all.
record_snapshot() {
  snap=$1
  tmp=$snap.$$.new
  { say "B $(boot_id)"
    governor_nodes | {
    seen=
    while read -r rn; do
      offers_performance "$rn" || continue
      gfile=$(governor_file "$rn")
      gov=$(read_value "$gfile") || continue
      [ -n "$gov" ] || continue
      say "G ${gfile#"$PROFILE_ROOT"} $gov"
      for td in $(tunable_dirs "$rn" "$gov"); do
        # The system-wide directory is shared by the policies: recorded once.
        case " $seen " in *" $td "*) continue ;; esac
        seen="$seen $td"
        [ -d "$td" ] || continue
        for tf in "$td"/*; do
          [ -f "$tf" ] && [ -w "$tf" ] || continue
          tv=$(read_value "$tf") || continue
          say "T ${tf#"$PROFILE_ROOT"} $tv"
        done
      done
    done
    }
  } > "$tmp" && mv -f "$tmp" "$snap" && return 0
  rm -f "$tmp"
  return 1
}

# Whether the snapshot file describes this boot.
snapshot_held() {
  [ -f "$1" ] || return 1
  IFS= read -r first < "$1" || return 1
  [ "$first" = "B $(boot_id)" ]
}

offers_performance() {
  case " $(cat "$(available_file "$1")" 2>/dev/null) " in
    *" performance "*) return 0 ;;
  esac
  return 1
}

# Whether a path from the snapshot may be written: a governor file of one of the node
# directories in $2 (a line each), or a file directly inside a governor directory of a CPU
# policy; nothing else, whatever the file says.
allowed_path() {
  case $1 in
    *//* | */./* | */../* | */. | */.. | *[!A-Za-z0-9_./:,@-]*) return 1 ;;
  esac
  for an in $2; do
    an=${an#"$PROFILE_ROOT"}
    [ "$1" = "$(governor_file "$an")" ] && return 0
    case $an in */cpufreq/policy*) ;; *) continue ;; esac
    for ad in "$an" "${an%/*}"; do
      case ${1#"$ad"/} in
        "$1" | */*/* | .* | */.*) ;;
        */*) return 0 ;;
      esac
    done
  done
  return 1
}

# Writes back what the snapshot holds: each governor, then its tunables (their directory exists
# only once the governor is selected again). Prints "restored refused".
restore_snapshot() {
  restored=0
  refused=0
  nodes=$(governor_nodes)
  while IFS= read -r line; do
    kind=${line%% *}
    rest=${line#* }
    path=${rest%% *}
    value=${rest#* }
    case $kind in G | T) ;; *) continue ;; esac
    [ "$path" != "$rest" ] || continue
    if ! allowed_path "$path" "$nodes"; then
      refused=$((refused + 1))
      continue
    fi
    # Already so (a governor the kernel never let go of) counts as put back.
    if [ "$(cat "$PROFILE_ROOT$path" 2>/dev/null)" = "$value" ] || write_node "$PROFILE_ROOT$path" "$value"; then
      restored=$((restored + 1))
    else
      refused=$((refused + 1))
    fi
  done < "$1"
  say "$restored $refused"
}

# Sets every node that offers it to "performance"; prints the names of those that took it.
boost() {
  governor_nodes | {
    changed=
    while read -r bn; do
      offers_performance "$bn" || continue
      write_node "$(governor_file "$bn")" performance && changed="$changed $(node_name "$bn")"
    done
    say "${changed:- nothing}"
  }
}

# Records which profile is on, for other tools to read.
set_current_profile() {
  say "$2" > "$1/current_profile.$$.new" && mv -f "$1/current_profile.$$.new" "$1/current_profile"
}

# The module is switched off in the root manager (or about to be removed).
switched_off() {
  [ -e "$1/disable" ] || [ -e "$1/remove" ]
}

# How long a pause of N seconds really is: N on a device; TESSIVAR_FAST_PAUSES makes every
# pause a short one for the tests.
pause_length() {
  if [ -n "${TESSIVAR_FAST_PAUSES:-}" ]; then say 0.05; else say "$1"; fi
}

# The lock that serializes the profile scripts: a directory (mkdir is atomic) holding its
# owner's pid. An owner that died (killed mid-script) does not hold it for ever.
take_lock() {
  lock=$1
  tries=0
  while ! mkdir "$lock" 2>/dev/null; do
    owner=$(cat "$lock/pid" 2>/dev/null)
    tries=$((tries + 1))
    if { [ -n "$owner" ] && ! kill -0 "$owner" 2>/dev/null; } || { [ -z "$owner" ] && [ "$tries" -gt 200 ]; }; then
      # The owner may just have let go, and the next one not yet named itself; an owner that
      # was killed stays. Only one waiter gets to move the lock away, and one that finds it
      # moved a live owner's lock puts it back.
      sleep 1
      if [ "$(cat "$lock/pid" 2>/dev/null)" = "$owner" ] && mv "$lock" "$lock.stale.$$" 2>/dev/null; then
        if [ "$(cat "$lock.stale.$$/pid" 2>/dev/null)" = "$owner" ]; then
          rm -rf "$lock.stale.$$"
        else
          mv "$lock.stale.$$" "$lock" 2>/dev/null || rm -rf "$lock.stale.$$"
        fi
      fi
      tries=0
      continue
    fi
    sleep 0.05 2>/dev/null || sleep 1
  done
  say "$$" > "$lock/pid"
}
drop_lock() {
  rm -rf "$1"
}

# When this process was started (jiffies since boot) and its pid: the order of launches.
launch_order() {
  ls_stat=$(cat /proc/$$/stat)
  # shellcheck disable=SC2086
  set -- ${ls_stat##*) }
  shift 19
  say "$1 $$"
}

# Whether a launch stamped "$2" (start pid) came after the one stamped "$1".
later_than() {
  [ -z "$1" ] && return 0
  # shellcheck disable=SC2086
  set -- ${1% *} ${1#* } ${2% *} ${2#* }
  [ "$3" -gt "$1" ] || { [ "$3" -eq "$1" ] && [ "$4" -gt "$2" ]; }
}

# Runs a profile ("performance" or "balanced") under the lock, unless a profile launched later
# has already been applied: the last one launched is the one in force.
run_profile() {
  rp_dir=$1
  rp_profile=$2
  rp_me=$(launch_order)
  take_lock "$rp_dir/.profile.lock"
  rp_last=$(cat "$rp_dir/.profile.last" 2>/dev/null)
  if later_than "$rp_last" "$rp_me"; then
    say "$rp_me" > "$rp_dir/.profile.last.$$" && mv -f "$rp_dir/.profile.last.$$" "$rp_dir/.profile.last"
    "apply_$rp_profile" "$rp_dir"
  else
    say "$rp_profile: a later launch has already been applied; nothing changed"
  fi
  drop_lock "$rp_dir/.profile.lock"
}

# Puts the device's own settings back, if a snapshot of this boot is held, and drops it.
apply_balanced() {
  snap=$1/snapshot
  if snapshot_held "$snap"; then
    counts=$(restore_snapshot "$snap")
    rm -f "$snap"
    set_current_profile "$1" balanced
    say "balanced: restored ${counts% *} setting(s) of the device's own, ${counts#* } refused"
  else
    rm -f "$snap"
    set_current_profile "$1" balanced
    say "balanced: nothing to restore; nothing changed"
  fi
}

apply_performance() {
  if switched_off "$1"; then
    apply_balanced "$1" > /dev/null
    say "performance: the module is switched off in the root manager; balanced profile kept"
    return 0
  fi
  snapshot_held "$1/snapshot" || record_snapshot "$1/snapshot" ||
    { say "performance: could not record the device's settings; nothing changed"; return 0; }
  set_current_profile "$1" performance
  say "performance: governor set to performance on:$(boost)"
}
