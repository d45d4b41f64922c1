#!/usr/bin/env bash
# Tests of the module: its scripts against a fake sysfs tree under PROFILE_ROOT, run by each
# POSIX shell a device may have (dash, mksh, BusyBox ash); the installer script with stand-ins
# for the root manager's; and the zip that package.sh writes.
# usage: module_test.sh GLIBC_DIR [ANDROID_DIR]
#   each DIR holds arm64-v8a/Tessivar and armeabi-v7a/Tessivar: GLIBC_DIR Debian's cross builds,
#   which the packager must refuse, ANDROID_DIR the Android builds it packs (without it the zip
#   is not tested)
set -u
repo=$(cd "$(dirname "$0")/.." && pwd)
glibc_binaries=$(cd "${1:?usage: module_test.sh GLIBC_DIR [ANDROID_DIR]}" && pwd)
binaries=${2:+$(cd "$2" && pwd)}
work=$(mktemp -d)
chmod 0755 "$work"
# Whatever a failing test leaves running is stopped too.
trap 'for f in "$work"/*/tessivar.pid; do [ -f "$f" ] && kill "$(cat "$f")" 2>/dev/null; done; rm -rf "$work"' EXIT

passed=0
failed=0
skipped=0
current_ok=1
fail() { echo "  FAIL: $*"; current_ok=0; }
expect_eq() {  # what, actual, expected
  [ "$2" = "$3" ] || fail "$1: expected [$3], got [$2]"
}
run_test() {
  current_ok=1
  "$@"
  if [ "$current_ok" = 1 ]; then passed=$((passed + 1)); echo "ok: $*"; else failed=$((failed + 1)); echo "FAILED: $*"; fi
}

# As root the scripts run as nobody, so that a read-only file really refuses a write.
as_user() {
  if [ "$(id -u)" = 0 ]; then setpriv --reuid=65534 --regid=65534 --clear-groups -- "$@"; else "$@"; fi
}

test_shellcheck() {
  local out
  out=$(cd "$repo/module" && shellcheck -x -s sh customize.sh service.sh uninstall.sh action.sh Scripts/*.sh 2>&1) ||
    fail "shellcheck: $out"
}

test_module_prop() {
  local prop=$repo/module/module.prop
  grep -q $'\r' "$prop" && fail "module.prop has CR line ends"
  grep -Eq '^id=[a-zA-Z][a-zA-Z0-9._-]+$' "$prop" || fail "module.prop: bad id"
  expect_eq "module id" "$(sed -n 's/^id=//p' "$prop")" Drovenmarke
  grep -Eq '^versionCode=[0-9]+$' "$prop" || fail "module.prop: versionCode is not an integer"
  for key in name version author description; do
    grep -q "^$key=." "$prop" || fail "module.prop: no $key"
  done
}

# A fake device: four CPU policies (one offers no performance governor, one has a read-only
# governor), an Adreno GPU, and a bus devfreq node that no profile may touch. The two boosted
# policies have governor directories with tunables that the vendor set at boot.
sys=/sys/devices/system/cpu/cpufreq
gpu=/sys/class/kgsl/kgsl-3d0/devfreq
bus=/sys/class/devfreq/soc:qcom,cpubw
make_device() {
  local root=$1
  node() {  # dir governor-file governor available-file available
    mkdir -p "$root$1"
    printf '%s\n' "$3" > "$root$1/$2"
    printf '%s\n' "$5" > "$root$1/$4"
  }
  node $sys/policy0 scaling_governor schedutil scaling_available_governors "schedutil performance powersave"
  node $sys/policy4 scaling_governor walt scaling_available_governors "walt performance"
  node $sys/policy6 scaling_governor schedutil scaling_available_governors "schedutil powersave"
  node $sys/policy7 scaling_governor walt scaling_available_governors "walt performance"
  node $gpu governor msm-adreno-tz available_governors "msm-adreno-tz performance powersave"
  node $bus governor bw_hwmon available_governors "bw_hwmon performance"
  chmod 0444 "$root$sys/policy7/scaling_governor"
  mkdir -p "$root$sys/policy0/schedutil" "$root$sys/policy4/walt" "$root$sys/policy0/stats"
  echo 500 > "$root$sys/policy0/schedutil/rate_limit_us"
  echo 1804800 > "$root$sys/policy0/schedutil/hispeed_freq"
  echo "80 1516800:90" > "$root$sys/policy4/walt/target_loads"
  echo 7 > "$root$sys/policy4/walt/boost"
  echo 12 > "$root$sys/policy0/stats/total_trans"
  mkdir -p "$root/proc/sys/kernel/random" "$root/etc"
  echo "boot-1" > "$root/proc/sys/kernel/random/boot_id"
  echo "root:x:0:0::/:/bin/sh" > "$root/etc/passwd"
  # What the kernel brings back when a governor is selected again: its defaults. Its boost
  # comes back read-only, so restoring it is refused.
  mkdir -p "$root/defaults/schedutil" "$root/defaults/walt"
  echo 1000 > "$root/defaults/schedutil/rate_limit_us"
  echo 0 > "$root/defaults/schedutil/hispeed_freq"
  echo 90 > "$root/defaults/walt/target_loads"
  echo 0 > "$root/defaults/walt/boost"
  chmod 0444 "$root/defaults/walt/boost"
}
# The kernel's part on a governor switch: the old governor's directory goes, the new one's comes
# with defaults.
make_kernel_hook() {
  cat > "$work/kernel-hook" <<'HOOK'
#!/bin/sh
case $1 in
  */cpufreq/policy*/scaling_governor) ;;
  *) exit 0 ;;
esac
policy=${1%/*}
for d in "$policy"/*/; do
  [ "$d" = "$policy/stats/" ] || rm -rf "$d"
done
[ -d "$PROFILE_ROOT/defaults/$2" ] && cp -pR "$PROFILE_ROOT/defaults/$2" "$policy/$2"
exit 0
HOOK
  chmod 0755 "$work/kernel-hook"
}
governors() {  # the governor of each node, in a fixed order
  local root=$1
  printf '%s ' "$(cat "$root$sys/policy0/scaling_governor")" "$(cat "$root$sys/policy4/scaling_governor")" \
    "$(cat "$root$sys/policy6/scaling_governor")" "$(cat "$root$sys/policy7/scaling_governor")" \
    "$(cat "$root$gpu/governor")" "$(cat "$root$bus/governor")"
}
tunables() {  # every file under the two tuned policies, with its contents
  local root=$1 f
  for f in "$root$sys"/policy0/*/* "$root$sys"/policy4/*/*; do
    [ -f "$f" ] && printf '%s=%s ' "${f#"$root$sys"/}" "$(cat "$f")"
  done
}
originals="schedutil walt schedutil walt msm-adreno-tz bw_hwmon "
boosted="performance performance schedutil walt performance bw_hwmon "
own_tunables="policy0/schedutil/hispeed_freq=1804800 policy0/schedutil/rate_limit_us=500 policy0/stats/total_trans=12 policy4/walt/boost=0 policy4/walt/target_loads=80 1516800:90 "

# A module directory with a stand-in daemon, and a stand-in getprop saying boot has completed.
make_module() {
  local moddir=$1
  mkdir -p "$moddir" "$work/stubs"
  cp -R "$repo/module/." "$moddir/"
  printf '#!/bin/sh\necho "Tessivar stand-in running"\nwhile :; do sleep 1; done\n' > "$moddir/Tessivar"
  chmod 0755 "$moddir/Tessivar"
  printf '#!/bin/sh\n[ "$1" = sys.boot_completed ] && echo 1\n' > "$work/stubs/getprop"
  chmod 0755 "$work/stubs/getprop"
}

# Stops a sandbox's supervisor (which takes its daemon along) and waits for it.
stop_supervisor() {
  local pid
  pid=$(cat "$1/tessivar.pid" 2>/dev/null) || return 0
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  timeout 20 sh -c "while kill -0 $pid 2>/dev/null; do sleep 0.05; done"
  return 0
}
# Waits (20 s at most) until the file holds a line matching the pattern N times.
wait_for() {  # file pattern [count]
  local i
  for i in $(seq 400); do
    [ "$(grep -c -- "$2" "$1" 2>/dev/null)" -ge "${3:-1}" ] && return 0
    sleep 0.05
  done
  fail "no '$2' (x${3:-1}) in $1: $(cat "$1" 2>/dev/null)"
  return 1
}

# The command search path the scripts get: under mksh, an Android 5 one, with mksh as sh and no
# printf, seq or awk binaries; under the other shells, the machine's own.
shell_path() {
  if [ "$1" = mksh ]; then
    local dir=$work/android5-bin tool
    if [ ! -d "$dir" ]; then
      mkdir -p "$dir"
      for tool in cat mv rm mkdir sleep grep cp wc chmod ln ls id env mksh; do
        ln -s "$(command -v "$tool")" "$dir/$tool"
      done
      ln -s "$(command -v mksh)" "$dir/sh"
    fi
    echo "$dir"
  else
    echo "$PATH"
  fi
}

# A sandbox for one shell: device, module, and the environment the scripts run in.
setup_sandbox() {  # shell-name tag
  dev=$work/$1-$2-dev moddir=$work/$1-$2-module
  make_device "$dev"
  make_module "$moddir"
  make_kernel_hook
  [ "$(id -u)" = 0 ] && chown -R 65534:65534 "$dev" "$moddir"
  export PROFILE_ROOT=$dev PROFILE_KERNEL_HOOK=$work/kernel-hook TESSIVAR_FAST_PAUSES=1
  shell=$work/shells/$1
  spath=$work/stubs:$(shell_path "$1")
}
run_sh() { as_user env PATH="$spath" "$shell" "$@"; }

test_profiles() {
  local out dev moddir shell spath
  setup_sandbox "$1" profiles

  # Boot: nothing is recorded yet, and balanced (the first cycle) changes nothing.
  run_sh "$moddir/service.sh"
  [ -e "$moddir/snapshot" ] && fail "a snapshot at boot"
  out=$(run_sh "$moddir/Scripts/balanced.sh" 2>&1)
  expect_eq "balanced before any game" "$out" "balanced: nothing to restore; nothing changed"
  expect_eq "governors at boot" "$(governors "$dev")" "$originals"

  # A vendor script retunes after boot; the snapshot, taken right before boosting, has it.
  echo 2000 > "$dev$sys/policy0/schedutil/rate_limit_us"
  out=$(run_sh "$moddir/Scripts/performance.sh" 2>&1)
  expect_eq "performance output" "$out" "performance: governor set to performance on: policy0 policy4 kgsl-3d0"
  expect_eq "governors after performance" "$(governors "$dev")" "$boosted"
  expect_eq "current_profile" "$(cat "$moddir/current_profile")" performance
  local snapshot
  snapshot=$(cat "$moddir/snapshot")
  # A second game in a row: boosted again, nothing recorded again.
  run_sh "$moddir/Scripts/performance.sh" > /dev/null
  expect_eq "snapshot after a second game" "$(cat "$moddir/snapshot")" "$snapshot"

  out=$(run_sh "$moddir/Scripts/balanced.sh" 2>&1)
  expect_eq "balanced output" "$out" "balanced: restored 7 setting(s) of the device's own, 1 refused"
  expect_eq "governors after balanced" "$(governors "$dev")" "$originals"
  expect_eq "tunables after balanced" "$(tunables "$dev")" "${own_tunables/rate_limit_us=500/rate_limit_us=2000}"
  expect_eq "current_profile" "$(cat "$moddir/current_profile")" balanced
  [ -e "$moddir/snapshot" ] && fail "snapshot kept after restoring"
  out=$(run_sh "$moddir/Scripts/balanced.sh" 2>&1)
  expect_eq "balanced twice" "$out" "balanced: nothing to restore; nothing changed"

  # A reboot: the snapshot of the old kernel is dropped, not restored.
  run_sh "$moddir/Scripts/performance.sh" > /dev/null
  stop_supervisor "$moddir"
  echo "boot-2" > "$dev/proc/sys/kernel/random/boot_id"
  echo 333 > "$dev$sys/policy0/scaling_governor"
  run_sh "$moddir/service.sh"
  [ -e "$moddir/snapshot" ] && fail "snapshot of an earlier boot kept"
  out=$(run_sh "$moddir/Scripts/balanced.sh" 2>&1)
  expect_eq "balanced after reboot" "$out" "balanced: nothing to restore; nothing changed"
  expect_eq "nothing restored after reboot" "$(cat "$dev$sys/policy0/scaling_governor")" 333
  stop_supervisor "$moddir"
  unset PROFILE_ROOT PROFILE_KERNEL_HOOK TESSIVAR_FAST_PAUSES
}

# A hand-edited or corrupt snapshot: only files of the node directories are ever written.
test_hostile_snapshot() {
  local out dev moddir shell spath before
  setup_sandbox "$1" hostile
  before=$(cd "$dev" && find . -type f | sort | xargs cat | md5sum)
  printf '%s\n' "B boot-1" "T /etc/passwd pwned" "T $sys/policy0/../../../../../../etc/passwd pwned" \
    "G ../../../etc/passwd pwned" "T $sys/policy0/schedutil/../../../../../../../etc/passwd pwned" \
    "T /sys/devices/system/cpu/cpufreq/policy0/schedutil/rate_limit_us \$(touch $work/pwned)" \
    "garbage line" "T" > "$moddir/snapshot"
  out=$(run_sh "$moddir/Scripts/balanced.sh" 2>&1)
  expect_eq "hostile snapshot" "$out" "balanced: restored 1 setting(s) of the device's own, 4 refused"
  expect_eq "passwd untouched" "$(cat "$dev/etc/passwd")" "root:x:0:0::/:/bin/sh"
  [ -e "$work/pwned" ] && fail "a value was evaluated"
  expect_eq "rate limit written as data" "$(cat "$dev$sys/policy0/schedutil/rate_limit_us")" "\$(touch $work/pwned)"
  unset PROFILE_ROOT PROFILE_KERNEL_HOOK TESSIVAR_FAST_PAUSES
}

# The manager's switch: while "disable" exists, performance does not boost.
test_switched_off() {
  local out dev moddir shell spath
  setup_sandbox "$1" switch
  run_sh "$moddir/Scripts/performance.sh" > /dev/null
  touch "$moddir/disable"
  out=$(run_sh "$moddir/Scripts/performance.sh" 2>&1)
  expect_eq "switched off" "$out" "performance: the module is switched off in the root manager; balanced profile kept"
  expect_eq "restored when switched off" "$(governors "$dev")" "$originals"
  expect_eq "current_profile when off" "$(cat "$moddir/current_profile")" balanced
  rm -f "$moddir/disable"
  run_sh "$moddir/Scripts/performance.sh" > /dev/null
  expect_eq "boosts again" "$(governors "$dev")" "$boosted"
  unset PROFILE_ROOT PROFILE_KERNEL_HOOK TESSIVAR_FAST_PAUSES
}

# Boosts and restores launched together end as the last one launched. Each is started the way
# the daemon's shell starts them, straight from one parent in order (a function run in the
# background would fork again, in no fixed order).
test_overlap() {
  local dev moddir shell spath round last user=
  setup_sandbox "$1" overlap
  [ "$(id -u)" = 0 ] && user="setpriv --reuid=65534 --regid=65534 --clear-groups --"
  for round in 1 2 3 4 5 6; do
    for last in performance balanced performance balanced; do
      $user env PATH="$spath" "$shell" "$moddir/Scripts/$last.sh" > /dev/null 2>&1 &
    done
    if [ $((round % 2)) = 1 ]; then
      last=performance
      $user env PATH="$spath" "$shell" "$moddir/Scripts/$last.sh" > /dev/null 2>&1 &
    fi
    wait
    expect_eq "round $round: current_profile" "$(cat "$moddir/current_profile")" "$last"
    if [ "$last" = balanced ]; then
      expect_eq "round $round: governors" "$(governors "$dev")" "$originals"
      expect_eq "round $round: tunables" "$(tunables "$dev")" "$own_tunables"
    else
      expect_eq "round $round: governors" "$(governors "$dev")" "$boosted"
    fi
  done
  ls "$moddir" | grep -q '\.new$' && fail "temporary files left: $(ls "$moddir")"
  # A script killed while it held the lock does not hold it for ever.
  local dead
  sh -c 'exit 0' & dead=$!
  wait "$dead"
  mkdir "$moddir/.profile.lock" && echo "$dead" > "$moddir/.profile.lock/pid"
  [ "$(id -u)" = 0 ] && chown -R 65534:65534 "$moddir/.profile.lock"
  expect_eq "after a dead owner" "$(timeout 20 $user env PATH="$spath" "$shell" "$moddir/Scripts/performance.sh" 2>&1)" \
    "performance: governor set to performance on: policy0 policy4 kgsl-3d0"
  unset PROFILE_ROOT PROFILE_KERNEL_HOOK TESSIVAR_FAST_PAUSES
}

# The supervisor restarts a daemon that ends, restoring first, with a growing pause; a second
# service.sh starts nothing; "remove" stops it.
test_supervisor() {
  local dev moddir shell spath pid
  setup_sandbox "$1" supervisor
  printf '#!/bin/sh\necho started >> "%s"\nexit 3\n' "$moddir/starts" > "$moddir/Tessivar"
  run_sh "$moddir/service.sh" &
  run_sh "$moddir/service.sh"
  wait
  wait_for "$moddir/tessivar.log" "restarting in 20 s" || return
  pid=$(cat "$moddir/tessivar.pid")
  expect_eq "supervisors" "$(pgrep -f "$moddir/Scripts/supervisor.sh" | wc -l)" 1
  run_sh "$moddir/service.sh"
  expect_eq "pid after a second start" "$(cat "$moddir/tessivar.pid")" "$pid"
  local lines
  lines=$(grep -E '^(supervisor|balanced):' "$moddir/tessivar.log" | head -n 6)
  expect_eq "restore before each restart" "$lines" "balanced: nothing to restore; nothing changed
supervisor: Tessivar exited with status 3; balanced profile restored; restarting in 5 s
balanced: nothing to restore; nothing changed
supervisor: Tessivar exited with status 3; balanced profile restored; restarting in 10 s
balanced: nothing to restore; nothing changed
supervisor: Tessivar exited with status 3; balanced profile restored; restarting in 20 s"
  touch "$moddir/remove"
  timeout 20 sh -c "while kill -0 $pid 2>/dev/null; do sleep 0.05; done" || fail "remove did not stop the supervisor"
  grep -q "^supervisor: the module is to be removed" "$moddir/tessivar.log" || fail "no line for remove"
  rm -f "$moddir/remove"

  # A daemon that is killed mid-game: the profile comes back and the signal is named.
  printf '#!/bin/sh\necho $$ > "%s"\nexec sleep 600\n' "$moddir/daemon.pid" > "$moddir/Tessivar"
  run_sh "$moddir/service.sh"
  wait_for "$moddir/daemon.pid" . || return
  run_sh "$moddir/Scripts/performance.sh" > /dev/null
  kill -9 "$(cat "$moddir/daemon.pid")"
  wait_for "$moddir/tessivar.log" "Tessivar was killed by signal 9; balanced profile restored; restarting in 5 s" || return
  expect_eq "governors after the daemon died" "$(governors "$dev")" "$originals"
  # Uninstalling mid-game: supervisor and daemon stopped, then the device's own settings back.
  wait_for "$moddir/tessivar.log" "Tessivar was killed" 1 || return
  run_sh "$moddir/Scripts/performance.sh" > /dev/null
  pid=$(cat "$moddir/tessivar.pid")
  run_sh "$moddir/uninstall.sh"
  kill -0 "$pid" 2>/dev/null && fail "uninstall.sh left the supervisor running"
  expect_eq "governors after uninstall" "$(governors "$dev")" "$originals"
  expect_eq "tunables after uninstall" "$(tunables "$dev")" "$own_tunables"
  stop_supervisor "$moddir"
  unset PROFILE_ROOT PROFILE_KERNEL_HOOK TESSIVAR_FAST_PAUSES
}

# The log stays near its limit while the daemon floods it.
test_log_bound() {
  local dev moddir shell spath i size max=0
  setup_sandbox "$1" log
  printf '#!/bin/sh\nwhile :; do echo "flood flood flood flood flood flood flood flood flood flood"; sleep 0.002; done\n' > "$moddir/Tessivar"
  TESSIVAR_LOG_LIMIT=16384 run_sh "$moddir/service.sh"
  for i in $(seq 40); do
    size=$(wc -c < "$moddir/tessivar.log")
    [ "$size" -gt "$max" ] && max=$size
    sleep 0.05
  done
  stop_supervisor "$moddir"
  [ "$max" -le 32768 ] || fail "log grew to $max bytes"
  [ -s "$moddir/tessivar.log.old" ] || fail "no tessivar.log.old"
  unset PROFILE_ROOT PROFILE_KERNEL_HOOK TESSIVAR_FAST_PAUSES
}

# Where the root manager's busybox is there, the scripts run again under its ash, applets first.
test_manager_busybox() {
  local dev moddir shell spath
  setup_sandbox dash busybox
  command -v busybox > /dev/null || { fail "busybox is not installed"; return; }
  mkdir -p "$dev/data/adb/ksu/bin"
  ln -s "$(command -v busybox)" "$dev/data/adb/ksu/bin/busybox"
  printf '#!/bin/sh\necho "$TESSIVAR_ASH $ASH_STANDALONE" > "%s"\nexec "%s" "$@"\n' "$dev/shell-seen" "$work/kernel-hook" > "$work/seeing-hook"
  chmod 0755 "$work/seeing-hook"
  PROFILE_KERNEL_HOOK=$work/seeing-hook run_sh "$moddir/Scripts/performance.sh" > /dev/null
  expect_eq "shell the profile ran under" "$(cat "$dev/shell-seen" 2>/dev/null)" "$dev/data/adb/ksu/bin/busybox 1"
  expect_eq "boosted under busybox" "$(governors "$dev")" "$boosted"
  unset PROFILE_ROOT PROFILE_KERNEL_HOOK TESSIVAR_FAST_PAUSES
}

test_profiles_without_nodes() {
  local shell=$work/shells/$1 moddir=$work/$1-bare out
  make_module "$moddir"
  out=$(PROFILE_ROOT=$work/$1-empty env PATH="$(shell_path "$1")" $shell "$moddir/Scripts/performance.sh" 2>&1)
  expect_eq "performance on a bare tree" "$out" "performance: governor set to performance on: nothing"
}

# games.sh: a table of lists and operations, with the exact bytes after each. Lists are written
# with printf escapes; "-" stands for a missing file.
test_games() {
  local shell=$work/shells/$1 dir=$work/$1-games out status
  local spath
  spath=$(shell_path "$1")
  mkdir -p "$dir/Scripts"
  cp "$repo/module/Scripts/"*.sh "$dir/Scripts/"
  games() { env PATH="$spath" "$shell" "$dir/Scripts/games.sh" "$@"; }
  local cases=(
    # list | command | expected list after | expected output
    '# games\ncom.a.b\n|add com.c.d|# games\ncom.a.b\ncom.c.d\n|added com.c.d'
    '# games\r\ncom.a.b\r\n|add com.c.d com.e.f|# games\r\ncom.a.b\r\ncom.c.d\r\ncom.e.f\r\n|added com.c.d\nadded com.e.f'
    'com.a.b|add com.c.d|com.a.b\ncom.c.d\n|added com.c.d'
    '-|add com.c.d|com.c.d\n|added com.c.d'
    'com.a.b\ncom.a.b\n|add com.a.b|com.a.b\ncom.a.b\n|games.sh: already listed; nothing changed'
    '# x\ncom.a.b\n\ncom.c.d\r\ncom.a.b\n#end|remove com.a.b|# x\n\ncom.c.d\r\n#end|removed com.a.b'
    ' com.a.b \ncom.a.b\n|remove com.a.b| com.a.b \n|removed com.a.b'
    '\357\273\277com.a.b\r\n com.c.d\t\r\ncom.e.f # fav\r\n# ok\r\nbad..x\r\n|fix|com.a.b\r\ncom.c.d\r\ncom.e.f\r\n# ok\r\nbad..x\r\n|'
    'com.a.b\n|add com.x;touch|com.a.b\n|games.sh: refusing '"'"'com.x;touch'"'"': not a valid Android package name; nothing changed'
    'com.a.b\n|add com.ok.one $(id)|com.a.b\n|games.sh: refusing '"'"'$(id)'"'"': not a valid Android package name; nothing changed'
    'com.a.b\n|remove nodots|com.a.b\n|games.sh: refusing '"'"'nodots'"'"': not a valid Android package name; nothing changed'
  )
  local c list cmd after expected
  for c in "${cases[@]}"; do
    IFS='|' read -r list cmd after expected <<< "$c"
    rm -f "$dir/game.txt"
    [ "$list" = - ] || printf "$list" > "$dir/game.txt"
    # shellcheck disable=SC2086
    out=$(cd "$dir" && games $cmd 2>&1)
    expect_eq "[$list] $cmd: output" "$out" "$(printf "$expected")"
    expect_eq "[$list] $cmd: list" "$(od -An -c "$dir/game.txt")" "$(printf "$after" | od -An -c)"
  done
  [ -e "$dir/pwned" ] && fail "a refused name was run"
  ls "$dir" | grep -q '\.tmp$' && fail "temporary file left"

  printf '\357\273\277com.a.b\n com.c.d\t\ncom.e.f # fav\n#c\nbad..x\n\ncom.ok.fine\n' > "$dir/game.txt"
  expect_eq "check" "$(games check)" "line 1: a byte-order mark; fix makes it 'com.a.b'
line 2: surrounding whitespace; fix makes it 'com.c.d'
line 3: an inline comment; fix makes it 'com.e.f'
line 5: not a valid Android package name: 'bad..x'"
  expect_eq "list" "$(games list | od -An -c)" "$(printf '\357\273\277com.a.b\n com.c.d\t\ncom.e.f # fav\nbad..x\ncom.ok.fine\n' | od -An -c)"
  local long
  long=com.$(printf 'a%.0s' $(seq 250))
  games add "$long" > /dev/null || fail "a 254-character name was refused"
  games add "${long}b" > /dev/null 2>&1 && fail "a 255-character name was accepted"

  # A directory that refuses the temporary file leaves the old list as it was.
  if [ "$(id -u)" = 0 ]; then
    printf 'com.a.b\n' > "$dir/game.txt"
    chown -R 65534:65534 "$dir"
    chmod 0555 "$dir"
    out=$(as_user env PATH="$spath" "$shell" "$dir/Scripts/games.sh" add com.c.d 2>&1) && fail "add into a read-only directory succeeded"
    expect_eq "read-only directory" "$out" "games.sh: could not write $dir/game.txt; the list is unchanged"
    expect_eq "list after a failed write" "$(cat "$dir/game.txt")" com.a.b
    chmod 0755 "$dir"
  fi
  # A full filesystem: no byte of the temporary file can be written (as under a file-size
  # limit of 0), and the old list stays.
  printf 'com.a.b\ncom.c.d\n' > "$dir/game.txt"
  for cmd in "add com.e.f" "remove com.a.b" fix; do
    # shellcheck disable=SC2086
    out=$(env PATH="$spath" sh -c 'trap "" XFSZ; ulimit -f 0; exec "$@"' sh "$shell" "$dir/Scripts/games.sh" $cmd 2>&1) &&
      fail "$cmd on a full filesystem succeeded"
    expect_eq "$cmd on a full filesystem" "$(cat "$dir/game.txt")" "com.a.b
com.c.d"
  done
}

# Runs customize.sh as the installer would: unpacked zip in MODPATH, the old module beside it.
# The installer's MODPATH for one run of install_as.
modpath() { echo "$work/install-$1-$2-$3/data/adb/modules_update/Drovenmarke"; }
install_as() {  # shell-name arch api
  local inst=$work/install-$1-$2-$3 MODPATH
  MODPATH=$(modpath "$@")
  mkdir -p "$MODPATH" "$inst/data/adb/modules/Drovenmarke"
  cp -R "$repo/module/." "$MODPATH/"
  rm -rf "$MODPATH/META-INF"
  for abi in arm64-v8a armeabi-v7a; do
    mkdir -p "$MODPATH/bin/$abi"
    echo "binary for $abi" > "$MODPATH/bin/$abi/Tessivar"
  done
  echo "com.my.own.game" > "$inst/data/adb/modules/Drovenmarke/game.txt"
  MODPATH=$MODPATH ARCH=$2 API=$3 "$work/shells/$1" -c '
    ui_print() { echo "$1"; }
    abort() { echo "$1"; exit 1; }
    set_perm() { chmod "$4" "$1"; }
    . "$MODPATH/customize.sh"
    echo "installed"'
}

test_customize() {
  local shell=$1 out MODPATH
  for case in "arm64 arm64-v8a" "arm armeabi-v7a"; do
    set -- $case
    MODPATH=$(modpath "$shell" "$1" 30)
    out=$(install_as "$shell" "$1" 30)
    expect_eq "$1: last line" "$(printf '%s\n' "$out" | tail -n 1)" installed
    expect_eq "$1: binary" "$(cat "$MODPATH/Tessivar")" "binary for $2"
    expect_eq "$1: mode" "$(stat -c %a "$MODPATH/Tessivar")" 755
    [ -e "$MODPATH/bin" ] && fail "$1: bin/ left behind"
    expect_eq "$1: game list kept" "$(cat "$MODPATH/game.txt")" com.my.own.game
    expect_eq "$1: script mode" "$(stat -c %a "$MODPATH/Scripts/performance.sh")" 755
    set -- "$shell"
  done
  MODPATH=$(modpath "$shell" x86 30)
  out=$(install_as "$shell" x86 30) && fail "x86 was installed"
  printf '%s' "$out" | grep -q "arm64 and arm devices only; this one is x86" || fail "x86 abort message: $out"
  [ -e "$MODPATH/Tessivar" ] && fail "x86: a binary was installed"
  out=$(install_as "$shell" arm64 19) && fail "API 19 was installed"
  printf '%s' "$out" | grep -q "API 21" || fail "API abort message: $out"
}

test_zip() {
  local out zip version stage
  version=$(sed -n 's/^version=//p' "$repo/module/module.prop")
  out=$("$repo/scripts/package.sh" --binaries "$binaries" --out "$work/dist") || { fail "package.sh failed"; return; }
  zip=$work/dist/Drovenmarke-$version.zip
  expect_eq "zip path" "$out" "$zip"
  expect_eq "zip entries" "$(zipinfo -1 "$zip" | sort | tr '\n' ' ')" \
    "META-INF/com/google/android/update-binary META-INF/com/google/android/updater-script Scripts/balanced.sh Scripts/games.sh Scripts/governors.sh Scripts/performance.sh Scripts/supervisor.sh action.sh bin/arm64-v8a/Tessivar bin/armeabi-v7a/Tessivar customize.sh game.txt module.prop service.sh uninstall.sh webroot/app.js webroot/index.html webroot/kernelsu/index.js webroot/style.css "
  local modes
  modes=$(zipinfo "$zip" | awk '/^[-d]r/ {print $1, $NF}' | sort -k2 | tr '\n' ' ')
  expect_eq "zip modes" "$modes" \
    "-rwxr-xr-x META-INF/com/google/android/update-binary -rw-r--r-- META-INF/com/google/android/updater-script -rwxr-xr-x Scripts/balanced.sh -rwxr-xr-x Scripts/games.sh -rwxr-xr-x Scripts/governors.sh -rwxr-xr-x Scripts/performance.sh -rwxr-xr-x Scripts/supervisor.sh -rwxr-xr-x action.sh -rwxr-xr-x bin/arm64-v8a/Tessivar -rwxr-xr-x bin/armeabi-v7a/Tessivar -rwxr-xr-x customize.sh -rw-r--r-- game.txt -rw-r--r-- module.prop -rwxr-xr-x service.sh -rwxr-xr-x uninstall.sh -rw-r--r-- webroot/app.js -rw-r--r-- webroot/index.html -rw-r--r-- webroot/kernelsu/index.js -rw-r--r-- webroot/style.css "
  expect_eq "updater-script" "$(unzip -p "$zip" META-INF/com/google/android/updater-script)" "#MAGISK"
  grep -q updateJson <(unzip -p "$zip" module.prop) && fail "updateJson without --update-url"
  stage=$work/unzipped
  mkdir -p "$stage" && unzip -q -o "$zip" -d "$stage"
  for abi in arm64-v8a armeabi-v7a; do
    out=$("$repo/scripts/elf_check.sh" "$stage/bin/$abi/Tessivar" "$abi") || fail "zip's $abi binary: $out"
  done
  # The zip carries stripped copies; the symbols archive the programs as built, same build id.
  local symbols=$work/symbols
  mkdir -p "$symbols" && unzip -q -o "$work/dist/Drovenmarke-$version-symbols.zip" -d "$symbols"
  for abi in arm64-v8a armeabi-v7a; do
    cmp -s "$symbols/$abi/Tessivar" "$binaries/$abi/Tessivar" || fail "$abi symbols copy differs from the build"
    readelf -S "$stage/bin/$abi/Tessivar" | grep -q '\.debug_info\|\.symtab' && fail "$abi: zip's program is not stripped"
    expect_eq "$abi build id" "$(build_id "$stage/bin/$abi/Tessivar")" "$(build_id "$symbols/$abi/Tessivar")"
  done
  [ -n "$(build_id "$stage/bin/arm64-v8a/Tessivar")" ] || fail "no build id"
  # Packed again from the same inputs: the same bytes.
  "$repo/scripts/package.sh" --binaries "$binaries" --out "$work/dist2" > /dev/null || fail "second pack failed"
  expect_eq "zip sha256" "$(sha256sum < "$work/dist2/Drovenmarke-$version.zip")" "$(sha256sum < "$zip")"
  expect_eq "symbols sha256" "$(sha256sum < "$work/dist2/Drovenmarke-$version-symbols.zip")" \
    "$(sha256sum < "$work/dist/Drovenmarke-$version-symbols.zip")"
  zipinfo -v "$zip" | grep -q 'length of extra field: *[1-9]' && fail "zip entries carry extra fields"
  cmp -s "$stage/webroot/kernelsu/index.js" "$repo/node_modules/kernelsu/index.js" || fail "the page's bridge library differs"
}

build_id() { readelf -n "$1" | sed -n 's/.*Build ID: //p'; }

# A copy of the repository's packaging inputs, alone, with module.prop's version changed: a
# version the managers would show wrongly is refused with one line; without an NDK anywhere the
# packager says so.
test_package_refusals() {
  local copy=$work/lonely/repo out
  mkdir -p "$copy"
  cp -R "$repo/scripts" "$repo/module" "$repo/CHANGELOG.md" "$copy/"
  sed -i 's/^version=.*/version=v1.1 "beta"/' "$copy/module/module.prop"
  out=$(SOURCE_DATE_EPOCH=1700000000 "$copy/scripts/package.sh" --binaries "$binaries" --out "$work/lonely/dist" 2>&1) &&
    fail "a version with quotes was packed"
  expect_eq "bad version" "$out" \
    "package.sh: module.prop's version 'v1.1 \"beta\"' has a quote, a space, a slash or a control character; the managers show it as text and it names the zip"
  [ -e "$work/lonely/dist" ] && fail "a zip was written for a bad version"
  cp "$repo/module/module.prop" "$copy/module/module.prop"
  out=$(env -u ANDROID_NDK_HOME "$copy/scripts/package.sh" --out "$work/none" 2>&1) && fail "package.sh without NDK succeeded"
  expect_eq "no NDK message" "$out" "package.sh: set ANDROID_NDK_HOME to your Android NDK, or pass --binaries DIR."
}

# Update metadata: one updateJson line in the zip's module.prop, update.json and the changelog
# beside the zip, version and versionCode from module.prop.
test_update_metadata() {
  local dist=$work/update-dist version code
  version=$(sed -n 's/^version=//p' "$repo/module/module.prop")
  code=$(sed -n 's/^versionCode=//p' "$repo/module/module.prop")
  "$repo/scripts/package.sh" --binaries "$binaries" --out "$dist" --update-url https://example.org/tessivar/ > /dev/null ||
    { fail "package.sh --update-url failed"; return; }
  expect_eq "updateJson line" "$(unzip -p "$dist/Drovenmarke-$version.zip" module.prop | grep updateJson)" \
    "updateJson=https://example.org/tessivar/update.json"
  expect_eq "update.json" "$(command node -e 'const j = require(process.argv[1]); console.log(j.version, j.versionCode, j.zipUrl, j.changelog)' "$dist/update.json")" \
    "$version $code https://example.org/tessivar/Drovenmarke-$version.zip https://example.org/tessivar/CHANGELOG.md"
  cmp -s "$dist/CHANGELOG.md" "$repo/CHANGELOG.md" || fail "changelog not copied beside the zip"
  local out
  out=$("$repo/scripts/package.sh" --binaries "$binaries" --out "$work/bad-url" --update-url 'https://x/"a' 2>&1) &&
    fail "a URL with a quote was accepted"
  [ -e "$work/bad-url" ] && fail "a zip was written for a bad URL: $out"
}

# Debian's glibc builds run under qemu but never on a phone: refused with one line, no zip.
test_package_refuses_glibc() {
  local out
  out=$("$repo/scripts/package.sh" --binaries "$glibc_binaries" --out "$work/refused" 2>&1) &&
    fail "package.sh packed glibc binaries"
  expect_eq "refusal" "$out" \
    "package.sh: refusing $glibc_binaries/arm64-v8a/Tessivar: interpreter is /lib/ld-linux-aarch64.so.1, arm64-v8a needs /system/bin/linker64"
  [ -e "$work/refused" ] && fail "a zip was written for refused binaries"
  # The checker's other refusals, one line each.
  out=$("$repo/scripts/elf_check.sh" "$glibc_binaries/armeabi-v7a/Tessivar" arm64-v8a) && fail "ARM passed as AArch64"
  expect_eq "wrong machine" "$out" "$glibc_binaries/armeabi-v7a/Tessivar: machine is ARM, arm64-v8a needs AArch64"
  out=$("$repo/scripts/elf_check.sh" "$repo/module/service.sh" arm64-v8a) && fail "a script passed"
  expect_eq "not ELF" "$out" "$repo/module/service.sh: not an ELF file"
}

# Programs a phone would refuse, or that could not be matched to a crash report, built from a
# two-line C file with the NDK (or the stand-in): each refused with one line.
test_elf_check_refusals() {
  local ndk sysroot dir=$work/elf out
  ndk=$("$repo/scripts/android_ndk.sh")
  sysroot=$ndk/toolchains/llvm/prebuilt/linux-x86_64/sysroot
  mkdir -p "$dir"
  printf 'int x;\nint main(void) { return (int)(long)&x; }\n' > "$dir/t.c"
  link() {  # target output flags...
    local target=$1 output=$2
    shift 2
    clang-14 -fuse-ld=lld --sysroot="$sysroot" -L"$ndk/runtime-stubs" --target="$target" "$@" "$dir/t.c" -o "$dir/$output" ||
      fail "could not link $output"
  }
  link aarch64-linux-android21 page4k -fPIE -pie -Wl,-z,max-page-size=4096 -Wl,--build-id
  link aarch64-linux-android21 noid -fPIE -pie -Wl,-z,max-page-size=16384 -Wl,--build-id=none
  link armv7a-linux-androideabi21 textrel -fno-pic -pie -Wl,-z,notext -Wl,--build-id
  link armv7a-linux-androideabi21 good -fPIE -pie -Wl,--build-id
  out=$("$repo/scripts/elf_check.sh" "$dir/page4k" arm64-v8a) && fail "4 KB pages passed on arm64"
  expect_eq "4 KB pages" "$out" "$dir/page4k: a LOAD segment is aligned at 0x1000; arm64-v8a needs 16384 (link with -z max-page-size=16384)"
  out=$("$repo/scripts/elf_check.sh" "$dir/noid" arm64-v8a) && fail "no build id passed"
  expect_eq "no build id" "$out" "$dir/noid: has no GNU build id; a crash report could not be matched to it"
  out=$("$repo/scripts/elf_check.sh" "$dir/textrel" armeabi-v7a) && fail "text relocations passed"
  expect_eq "text relocations" "$out" "$dir/textrel: has text relocations; Android refuses them"
  out=$("$repo/scripts/elf_check.sh" "$dir/good" armeabi-v7a) || fail "a good armeabi-v7a program refused: $out"
}

# The demo plays its scenario and exits 0, or exits 130 on Ctrl-C; either way it stops the
# daemon and prints its closing line.
demo_daemons() { pgrep -f "$repo/build/demo/build/Tessivar" > /dev/null; }
test_demo() {
  local log=$work/demo.log status
  timeout 180 "$repo/scripts/demo.sh" > "$log" 2>&1
  status=$?
  expect_eq "demo status" "$status" 0
  grep -q '^\[demo\] scenario over' "$log" || fail "no closing scenario line"
  expect_eq "demo last line" "$(tail -n 1 "$log")" "demo: stopped"
  demo_daemons && fail "the daemon outlived the demo"

  # A shell's background job starts with SIGINT ignored; a terminal's Ctrl-C does not.
  env --default-signal=INT "$repo/scripts/demo.sh" > "$log" 2>&1 &
  local demo=$! i
  for i in $(seq 300); do grep -q "^State change detected" "$log" && break; sleep 0.1; done
  kill -INT "$demo"
  wait "$demo"
  status=$?
  expect_eq "demo status on Ctrl-C" "$status" 130
  expect_eq "demo last line on Ctrl-C" "$(tail -n 1 "$log")" "demo: stopped"
  demo_daemons && fail "the daemon outlived the interrupted demo"
}

run_test test_shellcheck
run_test test_module_prop
for shell in dash mksh "busybox ash"; do
  command -v "${shell%% *}" > /dev/null || { echo "skipped: $shell is not installed"; skipped=$((skipped + 1)); continue; }
  name=${shell// /-}
  # The helpers take the shell as one word.
  mkdir -p "$work/shells"
  printf '#!/bin/sh\nexec %s "$@"\n' "$shell" > "$work/shells/$name"
  chmod 0755 "$work/shells/$name"
  run_test test_profiles "$name"
  run_test test_hostile_snapshot "$name"
  run_test test_switched_off "$name"
  run_test test_overlap "$name"
  run_test test_supervisor "$name"
  run_test test_log_bound "$name"
  run_test test_profiles_without_nodes "$name"
  run_test test_games "$name"
  run_test test_customize "$name"
done
run_test test_manager_busybox
run_test test_package_refuses_glibc
[ -n "${SKIP_DEMO:-}" ] || run_test test_demo
if [ -n "$binaries" ]; then
  run_test test_zip
  run_test test_update_metadata
  run_test test_package_refusals
  run_test test_elf_check_refusals
else
  echo "skipped: the zip and ELF tests (4): no Android binaries were given"
  skipped=$((skipped + 4))
fi

echo "module tests: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
