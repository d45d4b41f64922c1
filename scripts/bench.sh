#!/usr/bin/env bash
# Measures the daemon: sizes (host and both Android builds), heap allocations and resident
# memory over 1000 cycles, then the per-cycle benchmarks on two ~440 KB dumps, one with the focus
# early and one with it last, and the CPU time of the daemon's process per cycle over the floor of
# merely running and draining the dump command (interleaved, with its spread); then the control
# program: each preset's round trip as whole processes over the floor of starting two programs.
# Needs cmake, g++ and libbenchmark-dev, and for the Android sizes an NDK or the stand-in (test.sh
# installs them).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/bench

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DTESSIVAR_BENCH=ON \
  -DTESSIVAR_SANDBOX_CTL=ON > /dev/null
cmake --build "$build" -j2 > /dev/null

strip -o "$build/Tessivar.stripped" "$build/Tessivar"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "stripped size of the host build: $(stat -c %s "$build/Tessivar.stripped") bytes"
ndk=$("$root/scripts/android_ndk.sh")
if [ -n "$ndk" ]; then
  for abi in arm64-v8a armeabi-v7a; do
    (cd "$root" && ANDROID_NDK_HOME=$ndk cmake --preset "android-$abi" > /dev/null &&
       ANDROID_NDK_HOME=$ndk cmake --build --preset "android-$abi" > /dev/null)
    for program in Tessivar tessivarctl; do
      llvm-strip-14 --strip-all --remove-section=.comment -o "$build/$program-$abi.stripped" \
        "$root/build/android-$abi/$program"
      echo "stripped size of the Android $abi $program: $(stat -c %s "$build/$program-$abi.stripped") bytes"
    done
  done
else
  echo "Android sizes: skipped (no ANDROID_NDK_HOME and no ../shared/android-ndk-standin)"
fi
"$build/bench/tessivar_bench" --cycles

# The long soak: thousands of cycles through the loop seam, with nothing piling up.
cmake -S "$root" -B "$root/build/host" > /dev/null
cmake --build "$root/build/host" -j2 --target daemon_tests > /dev/null
TESSIVAR_SOAK_CYCLES=${SOAK_CYCLES:-2000} "$root/build/host/tests/daemon_tests" \
  --gtest_filter='SoakTest.*' --gtest_brief=1 | tail -n 1
echo "soak: ${SOAK_CYCLES:-2000} cycles"

# The daemon itself, a second after its first cycle (the bench's stand-in dumpsys on PATH).
PATH=$build/bench-sandbox/bin:$PATH "$build/Tessivar" > /dev/null 2>&1 &
daemon=$!
sleep 1
rss=$(awk '/^Rss:/ {print $2}' "/proc/$daemon/smaps_rollup")
anon=$(awk '/^Anonymous:/ {print $2}' "/proc/$daemon/smaps_rollup")
kill "$daemon"
echo "resident memory of the daemon after its first cycle: $rss KiB ($anon KiB anonymous)"
"$build/bench/tessivar_bench" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
  "$@"
# The ratios that matter: the probe's CPU over the floor's, interleaved cycle by cycle, with their
# spread over RATIO_ROUNDS rounds of RATIO_CYCLES cycles each.
"$build/bench/tessivar_bench" --ratios "${RATIO_ROUNDS:-21}" "${RATIO_CYCLES:-30}"

# The control program: each preset's round trip as whole processes (sh, the entry scripts and
# tessivarctl, start and exit included) over the floor of two `sh -c 'exec /bin/true'`, the shell
# profiles it replaced (taken from the last commit that had them), and `games check` on 1,000
# entries.
echo
"$build/bench/ctl_bench" "$build/tessivarctl-sandboxed" "$build/ctl-bench" "$(
  old=$build/old-scripts
  rm -rf "$old" && mkdir -p "$old"
  last=$(git -C "$root" rev-list -1 HEAD -- module/Scripts/governors.sh 2> /dev/null)
  for f in governors.sh performance.sh balanced.sh; do
    git -C "$root" show "$last^:module/Scripts/$f" > "$old/$f" 2> /dev/null || exit 0
  done
  echo "$old")"

# The supervisor's own CPU time next to the daemon's whole tree (the daemon and every dumpsys
# it ran) over SUPERVISOR_SECONDS (default 600) of a real run: the daemon built for a sandbox
# module, polling the benchmark's 440 KB stand-in dump every 5 s with a listed game in front, so
# the whole run is one game session: a thermal check and a sample every 5 s, on the control
# program's fake device (three clusters, a battery, a GPU, cooling devices).
seconds=${SUPERVISOR_SECONDS:-600}
module=$build/supervised/Drovenmarke
device=$build/supervised/device
rm -rf "$build/supervised"
mkdir -p "$module" "$device/proc/sys/kernel/random"
boot_line=$(cat /proc/sys/kernel/random/boot_id)
cmake -S "$root" -B "$build/supervised-build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DTESSIVAR_SANDBOX_CTL=ON -DTESSIVAR_MODULE_DIR="$module" > /dev/null
cmake --build "$build/supervised-build" -j2 > /dev/null
cp -R "$root/module/Scripts" "$module/"
echo com.bench.game999 > "$module/game.txt"
mkdir -p "$device/proc/sys/kernel/random"
printf '%s' "$build/bench-sandbox/dump-game.txt" > "$build/bench-sandbox/dump"
cp -R /dev/shm/tessivar-ctl-bench-device/. "$device/" 2> /dev/null || true
echo "$boot_line" > "$device/proc/sys/kernel/random/boot_id"
cp "$build/supervised-build/Tessivar" "$module/Tessivar"
cp "$build/supervised-build/tessivarctl-sandboxed" "$module/tessivarctl"
export TESSIVAR_MODULE_DIR=$module PROFILE_ROOT=$device
PATH=$build/bench-sandbox/bin:$PATH "$module/tessivarctl" supervise > /dev/null 2>&1 &
supervisor=$!
echo "supervisor: running for $seconds s"
sleep "$seconds"
ticks() { awk -v from="$2" -v to="$3" '{ sub(/.*\) /, ""); s = 0; for (i = from; i <= to; i++) s += $(i - 2); print s }' "/proc/$1/stat"; }
daemon=$(cat "$module/tessivar.daemon.pid")
own=$(ticks "$supervisor" 14 15)
# With the programs it ran and reaped: the profile runs, and dumpsys thermalservice every 30 s.
with_children=$(ticks "$supervisor" 14 17)
tree=$(ticks "$daemon" 14 17)
"$module/tessivarctl" stop > /dev/null
hz=$(getconf CLK_TCK)
awk -v own="$own" -v all="$with_children" -v tree="$tree" -v hz="$hz" -v s="$seconds" 'BEGIN {
  printf "supervisor over %d s of a game session: %.2f s CPU of its own, %.2f s with what it ran; the daemon with its dumpsys: %.2f s; ratio %.2f %% (%.2f %% with what it ran)\n",
    s, own / hz, all / hz, tree / hz, tree ? 100 * own / tree : 0, tree ? 100 * all / tree : 0 }'
"$module/tessivarctl" sessions | head -n 1
