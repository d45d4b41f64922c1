#!/usr/bin/env bash
# Tests of the module: its entry scripts, run by each POSIX shell a device may have (dash, mksh
# with an Android 5 command set, BusyBox ash), driving the test build of tessivarctl against a
# fake sysfs tree; the installer script with stand-ins for the root manager's; and the zip that
# package.sh writes. The control program's own behaviour is tested by its GoogleTest suites.
# usage: CTL_TEST_DIR=DIR module_test.sh GLIBC_DIR [ANDROID_DIR]
#   CTL_TEST_DIR holds tessivarctl-sandboxed and daemon-standin (the host build's tests/)
#   each DIR holds arm64-v8a/Tessivar and armeabi-v7a/Tessivar: GLIBC_DIR Debian's cross builds,
#   which the packager must refuse, ANDROID_DIR the Android builds it packs (without it the zip
#   is not tested)
set -u
repo=$(cd "$(dirname "$0")/.." && pwd)
glibc_binaries=$(cd "${1:?usage: module_test.sh GLIBC_DIR [ANDROID_DIR]}" && pwd)
binaries=${2:+$(cd "$2" && pwd)}
ctl_test_dir=$(cd "${CTL_TEST_DIR:?set CTL_TEST_DIR to the tests directory of the host build}" && pwd)
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

# A fake device: two CPU policies with vendor tunables, an Adreno GPU, and a bus devfreq node
# that no profile may touch.
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
  node $gpu governor msm-adreno-tz available_governors "msm-adreno-tz performance powersave"
  node $bus governor bw_hwmon available_governors "bw_hwmon performance"
  mkdir -p "$root$sys/policy0/schedutil" "$root/proc/sys/kernel/random"
  echo 500 > "$root$sys/policy0/schedutil/rate_limit_us"
  echo "boot-1" > "$root/proc/sys/kernel/random/boot_id"
}
governors() {  # the governor of each node, in a fixed order
  local root=$1
  printf '%s ' "$(cat "$root$sys/policy0/scaling_governor")" "$(cat "$root$sys/policy4/scaling_governor")" \
    "$(cat "$root$gpu/governor")" "$(cat "$root$bus/governor")"
}
originals="schedutil walt msm-adreno-tz bw_hwmon "
boosted="performance performance performance bw_hwmon "

# The command search path the scripts get: under mksh, an Android 5 one, with mksh as sh and no
# printf, seq or awk binaries; under the other shells, the machine's own.
shell_path() {
  if [ "$1" = mksh ]; then
    local dir=$work/android5-bin tool
    if [ ! -d "$dir" ]; then
      mkdir -p "$dir"
      for tool in cat mv rm mkdir sleep grep cp chmod ln ls id mksh; do
        ln -s "$(command -v "$tool")" "$dir/$tool"
      done
      ln -s "$(command -v mksh)" "$dir/sh"
    fi
    echo "$dir"
  else
    echo "$PATH"
  fi
}

# Whether a process is gone (or a zombie nobody has reaped yet).
gone() { ! grep -q '^State:[[:space:]]*[^Z]' "/proc/$1/status" 2> /dev/null; }
# Waits (10 s at most) until the command succeeds.
eventually() {
  local i
  for i in $(seq 200); do "$@" && return 0; sleep 0.05; done
  return 1
}

# The module as the zip installs it, with the host's test build of tessivarctl and a stand-in
# daemon, run through its entry scripts by one shell as the root manager and the daemon would.
test_entry_points() {
  local name=$1 shell=$work/shells/$1 dev=$work/$1-dev moddir=$work/$1-module out spath
  make_device "$dev"
  mkdir -p "$moddir" "$work/stubs"
  cp -R "$repo/module/." "$moddir/"
  ln -s "$ctl_test_dir/tessivarctl-sandboxed" "$moddir/tessivarctl"
  ln -s "$ctl_test_dir/daemon-standin" "$moddir/Tessivar"
  echo "* max" > "$moddir/presets.txt"  # whole governors, as these checks count them
  printf '#!/bin/sh\n[ "$1" = sys.boot_completed ] && echo 1\n' > "$work/stubs/getprop"
  printf '#!/bin/sh\necho "*Dump GameManagerService*"; echo; echo " No intervention found for package com.example.racing"\n' > "$work/stubs/dumpsys"
  chmod 0755 "$work/stubs/getprop" "$work/stubs/dumpsys"
  spath=$work/stubs:$(shell_path "$name")
  export TESSIVAR_MODULE_DIR=$moddir PROFILE_ROOT=$dev TESSIVAR_FAST_PAUSES=1
  run() { env PATH="$spath" "$shell" "$@"; }

  # Boot: the supervisor starts the daemon; a second service.sh starts nothing.
  run "$moddir/service.sh"
  eventually grep -q "stand-in running" "$moddir/tessivar.log" 2> /dev/null || fail "no daemon started: $(cat "$moddir/tessivar.log" 2>&1)"
  local supervisor daemon
  supervisor=$(cat "$moddir/tessivar.pid")
  daemon=$(cat "$moddir/tessivar.daemon.pid")
  run "$moddir/service.sh"
  sleep 0.3
  expect_eq "supervisors" "$(pgrep -fc "$moddir/tessivarctl supervise")" 1
  expect_eq "supervisor pid" "$(pgrep -f "$moddir/tessivarctl supervise")" "$supervisor"

  # The profiles as the daemon launches them: "sh PATH".
  out=$(run "$moddir/Scripts/performance.sh" 2>&1)
  expect_eq "performance.sh" "$out" "performance: max, the default preset (game unknown: no change recorded): governor set to performance on: policy0 policy4 kgsl-3d0"
  expect_eq "governors after performance" "$(governors "$dev")" "$boosted"
  echo 900 > "$dev$sys/policy0/schedutil/rate_limit_us"
  out=$(run "$moddir/Scripts/balanced.sh" 2>&1)
  expect_eq "balanced.sh" "$out" "balanced: restored 4 setting(s) of the device's own, 0 refused"
  expect_eq "governors after balanced" "$(governors "$dev")" "$originals"

  # The game list from a root shell, and the Action button.
  out=$(run "$moddir/Scripts/games.sh" add com.example.game 2>&1)
  expect_eq "games.sh add" "$out" "added com.example.game"
  expect_eq "games.sh list" "$(run "$moddir/Scripts/games.sh" list | tail -n 1)" com.example.game
  out=$(run "$moddir/action.sh")
  case $out in "Tessivar: running (pid "*", supervisor $supervisor)"*) ;; *) fail "action.sh: $out" ;; esac
  case $out in *"Games on this phone that Tessivar does not boost yet: 1
  com.example.racing
"*) ;; *) fail "action.sh names no suggestion: $out" ;; esac

  # Removal: uninstall.sh stops everything and restores.
  run "$moddir/Scripts/performance.sh" > /dev/null
  out=$(run "$moddir/uninstall.sh" 2>&1)
  expect_eq "uninstall.sh" "$out" "stopped the supervisor (pid $supervisor) and Tessivar; the balanced profile is back"
  expect_eq "governors after uninstall" "$(governors "$dev")" "$originals"
  eventually gone "$supervisor" || fail "the supervisor is left"
  eventually gone "$daemon" || fail "the daemon is left"
  unset TESSIVAR_MODULE_DIR PROFILE_ROOT TESSIVAR_FAST_PAUSES
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
    echo "control program for $abi" > "$MODPATH/bin/$abi/tessivarctl"
  done
  echo "com.my.own.game" > "$inst/data/adb/modules/Drovenmarke/game.txt"
  echo "com.my.own.game max" > "$inst/data/adb/modules/Drovenmarke/presets.txt"
  echo "com.my.own.game standard" > "$inst/data/adb/modules/Drovenmarke/game_mode"
  old_sessions "$inst/data/adb/modules/Drovenmarke"
  MODPATH=$MODPATH ARCH=$2 API=$3 "$work/shells/$1" -c '
    ui_print() { echo "$1"; }
    abort() { echo "$1"; exit 1; }
    set_perm() { chmod "$4" "$1"; }
    . "$MODPATH/customize.sh"
    echo "installed"'
}

# What the previous version recorded, as it wrote it: a session's rows (no frame rate yet) and
# its summary line, a line no version can read, the "Try both" counts, and a link that is not
# the recorder's.
old_sessions() {
  local dir=$1
  mkdir -p "$dir/sessions"
  printf '# session 1765000000 com.my.own.game max\n0\t0\t1800\t350\t80\t-1\t0\t250\t585000\t1\t-1\t1000000\t2000000\n5000\t0\t1800\t360\t80\t0\t0\t250\t585000\t1\t400\t1000000\t2000000\n' \
    > "$dir/sessions/1765000000-com.my.own.game.tsv"
  printf '%s\n' "start=1765000000 game=com.my.own.game preset=max duration_s=600 energy_mwh_x10=3000 discharging_s=600 mean_mw=1800 peak_temp_dc=412 mean_temp_dc=380 levels_s=500,100,0,0,0,0,0 first_moderate_s=-1 top_permille=400 samples=120 throttled_samples=0 frames_known=1 frames=36000 dropped=12 fps_x100=6000 low_fps_x100=5000" \
    "start=1765003600 game=com.my.own.game preset=sustained duration_s=a-while" > "$dir/sessions/index"
  echo "com.my.own.game 4" > "$dir/trials.txt"
  echo "com.my.own.game max 6 2" > "$dir/choose.txt"
  ln -sf /etc/passwd "$dir/sessions/1765007200-com.evil.tsv"
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
    expect_eq "$1: control program" "$(cat "$MODPATH/tessivarctl")" "control program for $2"
    expect_eq "$1: its mode" "$(stat -c %a "$MODPATH/tessivarctl")" 755
    [ -e "$MODPATH/bin" ] && fail "$1: bin/ left behind"
    expect_eq "$1: game list kept" "$(cat "$MODPATH/game.txt")" com.my.own.game
    expect_eq "$1: presets kept" "$(cat "$MODPATH/presets.txt")" "com.my.own.game max"
    expect_eq "$1: game mode record kept" "$(cat "$MODPATH/game_mode")" "com.my.own.game standard"
    expect_eq "$1: trials kept" "$(cat "$MODPATH/trials.txt")" "com.my.own.game 4"
    expect_eq "$1: choices kept" "$(cat "$MODPATH/choose.txt")" "com.my.own.game max 6 2"
    expect_eq "$1: sessions kept" "$(ls "$MODPATH/sessions" | tr '\n' ' ')" "1765000000-com.my.own.game.tsv index "
    # The new version reads the old session (its figures as recorded, the new ones unknown) and
    # sets the unreadable line aside.
    local json
    json=$(TESSIVAR_MODULE_DIR=$MODPATH "$ctl_test_dir/tessivarctl-sandboxed" sessions --json)
    case $json in
      '[{"start":1765000000,"game":"com.my.own.game","preset":"max","durationS":600,"energyMwh":300.0,'*'"frames":{"total":36000,'*'"format":1,"units":null,"fpsSource":null,'*'}]') ;;
      *) fail "$1: the kept sessions as read: $json" ;;
    esac
    json=$(TESSIVAR_MODULE_DIR=$MODPATH "$ctl_test_dir/tessivarctl-sandboxed" sessions show 1765000000)
    case $json in
      *'"rows":[[0,0,1800,35.0,-1,0,-1],[5,0,1800,36.0,0,0,400]],"fps":[null,null]}') ;;
      *) fail "$1: the kept session's rows: $json" ;;
    esac
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
    "META-INF/com/google/android/update-binary META-INF/com/google/android/updater-script Scripts/balanced.sh Scripts/games.sh Scripts/performance.sh action.sh bin/arm64-v8a/Tessivar bin/arm64-v8a/tessivarctl bin/armeabi-v7a/Tessivar bin/armeabi-v7a/tessivarctl customize.sh game.txt module.prop service.sh uninstall.sh webroot/app.js webroot/index.html webroot/kernelsu/index.js webroot/sessions.js webroot/style.css webroot/suggestions.js webroot/verdict.js "
  local modes
  modes=$(zipinfo "$zip" | awk '/^[-d]r/ {print $1, $NF}' | sort -k2 | tr '\n' ' ')
  expect_eq "zip modes" "$modes" \
    "-rwxr-xr-x META-INF/com/google/android/update-binary -rw-r--r-- META-INF/com/google/android/updater-script -rwxr-xr-x Scripts/balanced.sh -rwxr-xr-x Scripts/games.sh -rwxr-xr-x Scripts/performance.sh -rwxr-xr-x action.sh -rwxr-xr-x bin/arm64-v8a/Tessivar -rwxr-xr-x bin/arm64-v8a/tessivarctl -rwxr-xr-x bin/armeabi-v7a/Tessivar -rwxr-xr-x bin/armeabi-v7a/tessivarctl -rwxr-xr-x customize.sh -rw-r--r-- game.txt -rw-r--r-- module.prop -rwxr-xr-x service.sh -rwxr-xr-x uninstall.sh -rw-r--r-- webroot/app.js -rw-r--r-- webroot/index.html -rw-r--r-- webroot/kernelsu/index.js -rw-r--r-- webroot/sessions.js -rw-r--r-- webroot/style.css -rw-r--r-- webroot/suggestions.js -rw-r--r-- webroot/verdict.js "
  expect_eq "updater-script" "$(unzip -p "$zip" META-INF/com/google/android/updater-script)" "#MAGISK"
  grep -q updateJson <(unzip -p "$zip" module.prop) && fail "updateJson without --update-url"
  stage=$work/unzipped
  mkdir -p "$stage" && unzip -q -o "$zip" -d "$stage"
  for abi in arm64-v8a armeabi-v7a; do
    for program in Tessivar tessivarctl; do
      out=$("$repo/scripts/elf_check.sh" "$stage/bin/$abi/$program" "$abi") || fail "zip's $abi $program: $out"
    done
  done
  # The zip carries stripped copies; the symbols archive the programs as built, same build id.
  local symbols=$work/symbols
  mkdir -p "$symbols" && unzip -q -o "$work/dist/Drovenmarke-$version-symbols.zip" -d "$symbols"
  for abi in arm64-v8a armeabi-v7a; do
    for program in Tessivar tessivarctl; do
      cmp -s "$symbols/$abi/$program" "$binaries/$abi/$program" || fail "$abi $program: symbols copy differs from the build"
      readelf -S "$stage/bin/$abi/$program" | grep -q '\.debug_info\|\.symtab' && fail "$abi $program: zip's copy is not stripped"
      expect_eq "$abi $program build id" "$(build_id "$stage/bin/$abi/$program")" "$(build_id "$symbols/$abi/$program")"
    done
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
  link aarch64-linux-android21 libm -fPIE -pie -Wl,-z,max-page-size=16384 -Wl,--build-id -Wl,--no-as-needed -lm
  out=$("$repo/scripts/elf_check.sh" "$dir/page4k" arm64-v8a) && fail "4 KB pages passed on arm64"
  expect_eq "4 KB pages" "$out" "$dir/page4k: a LOAD segment is aligned at 0x1000; arm64-v8a needs 16384 (link with -z max-page-size=16384)"
  out=$("$repo/scripts/elf_check.sh" "$dir/noid" arm64-v8a) && fail "no build id passed"
  expect_eq "no build id" "$out" "$dir/noid: has no GNU build id; a crash report could not be matched to it"
  out=$("$repo/scripts/elf_check.sh" "$dir/textrel" armeabi-v7a) && fail "text relocations passed"
  expect_eq "text relocations" "$out" "$dir/textrel: has text relocations; Android refuses them"
  out=$("$repo/scripts/elf_check.sh" "$dir/libm" arm64-v8a) && fail "a needless libm passed"
  expect_eq "libm" "$out" "$dir/libm: needs libm.so, which nothing calls: every start would load it (link with --as-needed)"
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
  run_test test_entry_points "$name"
  run_test test_customize "$name"
done
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
