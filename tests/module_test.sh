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
  out=$(cd "$repo/module" && shellcheck -x -s sh customize.sh service.sh uninstall.sh Scripts/*.sh 2>&1) ||
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
# governor), an Adreno GPU, and a bus devfreq node that no profile may touch.
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
  node $sys/policy0 scaling_governor interactive scaling_available_governors "interactive performance powersave"
  node $sys/policy4 scaling_governor schedutil scaling_available_governors "schedutil performance"
  node $sys/policy6 scaling_governor schedutil scaling_available_governors "schedutil powersave"
  node $sys/policy7 scaling_governor walt scaling_available_governors "walt performance"
  node $gpu governor msm-adreno-tz available_governors "msm-adreno-tz performance powersave"
  node $bus governor bw_hwmon available_governors "bw_hwmon performance"
  chmod 0444 "$root$sys/policy7/scaling_governor"
}
governors() {  # the governor of each node, in a fixed order
  local root=$1
  printf '%s ' "$(cat "$root$sys/policy0/scaling_governor")" "$(cat "$root$sys/policy4/scaling_governor")" \
    "$(cat "$root$sys/policy6/scaling_governor")" "$(cat "$root$sys/policy7/scaling_governor")" \
    "$(cat "$root$gpu/governor")" "$(cat "$root$bus/governor")"
}
originals="interactive schedutil schedutil walt msm-adreno-tz bw_hwmon "
boosted="performance performance schedutil walt performance bw_hwmon "

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

stop_daemon() {
  local pid
  pid=$(cat "$1/tessivar.pid" 2>/dev/null) && [ -n "$pid" ] && kill "$pid" 2>/dev/null
  return 0
}

test_profiles() {
  local shell=$work/shells/$1
  local dev=$work/$1-dev moddir=$work/$1-module out
  make_device "$dev"
  make_module "$moddir"
  [ "$(id -u)" = 0 ] && chown -R 65534:65534 "$dev" "$moddir"
  export PROFILE_ROOT=$dev
  local path=$work/stubs:$PATH

  # Boot: the governors are recorded before anything changes them, then the daemon starts.
  as_user env PATH="$path" $shell "$moddir/service.sh"
  expect_eq "recorded governors" "$(cat "$moddir/governors.orig")" \
"$sys/policy0/scaling_governor interactive
$sys/policy4/scaling_governor schedutil
$sys/policy6/scaling_governor schedutil
$sys/policy7/scaling_governor walt
$gpu/governor msm-adreno-tz"
  local pid
  pid=$(cat "$moddir/tessivar.pid")
  kill -0 "$pid" 2>/dev/null || fail "daemon not running after service.sh"

  out=$(as_user $shell "$moddir/Scripts/performance.sh" 2>&1)
  expect_eq "performance output" "$out" "performance: governor set to performance on: policy0 policy4 kgsl-3d0"
  expect_eq "governors after performance" "$(governors "$dev")" "$boosted"
  expect_eq "current_profile" "$(cat "$moddir/current_profile")" performance

  # A second start while it runs changes nothing: same daemon, and the record still holds the
  # boot-time values, not the performance ones.
  as_user env PATH="$path" $shell "$moddir/service.sh"
  expect_eq "pid after second start" "$(cat "$moddir/tessivar.pid")" "$pid"
  grep -q "interactive" "$moddir/governors.orig" || fail "second start re-recorded the governors"

  out=$(as_user $shell "$moddir/Scripts/balanced.sh" 2>&1)
  expect_eq "balanced output" "$out" "balanced: restored the boot-time governor of 4 node(s)"
  expect_eq "governors after balanced" "$(governors "$dev")" "$originals"
  expect_eq "current_profile" "$(cat "$moddir/current_profile")" balanced

  # After a restart of the daemon the old log is kept beside the new one.
  stop_daemon "$moddir"
  timeout 10 sh -c "while kill -0 $pid 2>/dev/null; do :; done" || fail "daemon did not stop"
  as_user env PATH="$path" $shell "$moddir/service.sh"
  grep -q "stand-in running" "$moddir/tessivar.log.old" || fail "old log not kept"
  [ "$(cat "$moddir/tessivar.pid")" != "$pid" ] || fail "daemon not restarted"
  stop_daemon "$moddir"

  as_user $shell "$moddir/Scripts/performance.sh" > /dev/null
  as_user $shell "$moddir/uninstall.sh"
  expect_eq "governors after uninstall" "$(governors "$dev")" "$originals"

  # Without a record, balanced leaves everything as it is.
  rm -f "$moddir/governors.orig"
  as_user $shell "$moddir/Scripts/performance.sh" > /dev/null
  out=$(as_user $shell "$moddir/Scripts/balanced.sh" 2>&1)
  expect_eq "balanced without record" "$out" "balanced: no governors were recorded at boot; nothing changed"
  expect_eq "governors untouched" "$(governors "$dev")" "$boosted"
  unset PROFILE_ROOT
}

test_profiles_without_nodes() {
  local shell=$work/shells/$1 moddir=$work/$1-bare out
  make_module "$moddir"
  out=$(PROFILE_ROOT=$work/$1-empty $shell "$moddir/Scripts/performance.sh" 2>&1)
  expect_eq "performance on a bare tree" "$out" "performance: governor set to performance on: nothing"
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
    "META-INF/com/google/android/update-binary META-INF/com/google/android/updater-script Scripts/balanced.sh Scripts/governors.sh Scripts/performance.sh bin/arm64-v8a/Tessivar bin/armeabi-v7a/Tessivar customize.sh game.txt module.prop service.sh uninstall.sh "
  local modes
  modes=$(zipinfo "$zip" | awk '/^[-d]r/ {print $1, $NF}' | sort -k2 | tr '\n' ' ')
  expect_eq "zip modes" "$modes" \
    "-rwxr-xr-x META-INF/com/google/android/update-binary -rw-r--r-- META-INF/com/google/android/updater-script -rwxr-xr-x Scripts/balanced.sh -rwxr-xr-x Scripts/governors.sh -rwxr-xr-x Scripts/performance.sh -rwxr-xr-x bin/arm64-v8a/Tessivar -rwxr-xr-x bin/armeabi-v7a/Tessivar -rwxr-xr-x customize.sh -rw-r--r-- game.txt -rw-r--r-- module.prop -rwxr-xr-x service.sh -rwxr-xr-x uninstall.sh "
  expect_eq "updater-script" "$(unzip -p "$zip" META-INF/com/google/android/updater-script)" "#MAGISK"
  grep -q updateJson <(unzip -p "$zip" module.prop) && fail "updateJson without --update-url"
  stage=$work/unzipped
  mkdir -p "$stage" && unzip -q -o "$zip" -d "$stage"
  for abi in arm64-v8a armeabi-v7a; do
    out=$("$repo/scripts/elf_check.sh" "$stage/bin/$abi/Tessivar" "$abi") || fail "zip's $abi binary: $out"
  done
  cmp -s "$stage/bin/arm64-v8a/Tessivar" "$binaries/arm64-v8a/Tessivar" || fail "arm64 binary differs"
  out=$(env -u ANDROID_NDK_HOME "$repo/scripts/package.sh" --out "$work/none" 2>&1) && fail "package.sh without NDK succeeded"
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
  command -v "${shell%% *}" > /dev/null || { echo "skipping $shell: not installed"; continue; }
  name=${shell// /-}
  # The helpers take the shell as one word.
  mkdir -p "$work/shells"
  printf '#!/bin/sh\nexec %s "$@"\n' "$shell" > "$work/shells/$name"
  chmod 0755 "$work/shells/$name"
  run_test test_profiles "$name"
  run_test test_profiles_without_nodes "$name"
  run_test test_customize "$name"
done
run_test test_package_refuses_glibc
run_test test_demo
if [ -n "$binaries" ]; then
  run_test test_zip
  run_test test_update_metadata
else
  echo "skipping the zip tests: no Android binaries were given"
fi

echo "module tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
