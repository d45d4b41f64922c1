#!/usr/bin/env bash
# Measures the daemon: sizes (host and both Android builds), heap allocations and resident
# memory over 1000 cycles, then the per-cycle benchmarks on two ~440 KB dumps, one with the focus
# early and one with it last. The last two lines are the CPU time of the daemon's process per
# cycle over the floor of merely running and draining the dump command. Needs cmake, g++ and
# libbenchmark-dev, and for the Android sizes an NDK or the stand-in (test.sh installs them).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/bench

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DTESSIVAR_BENCH=ON > /dev/null
cmake --build "$build" -j2 > /dev/null

strip -o "$build/Tessivar.stripped" "$build/Tessivar"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "stripped size of the host build: $(stat -c %s "$build/Tessivar.stripped") bytes"
ndk=$("$root/scripts/android_ndk.sh")
if [ -n "$ndk" ]; then
  for abi in arm64-v8a armeabi-v7a; do
    (cd "$root" && ANDROID_NDK_HOME=$ndk cmake --preset "android-$abi" > /dev/null &&
       ANDROID_NDK_HOME=$ndk cmake --build --preset "android-$abi" > /dev/null)
    echo "stripped size of the Android $abi build: $(stat -c %s "$root/build/android-$abi/Tessivar") bytes"
  done
else
  echo "Android sizes: skipped (no ANDROID_NDK_HOME and no ../shared/android-ndk-standin)"
fi
"$build/bench/tessivar_bench" --cycles

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
