#!/usr/bin/env bash
# Fuzzes the dump-line and game-list-line logic, the probe's buffered reading against fgets
# (a differential target) and the session recorder's readers, with libFuzzer (clang, with
# AddressSanitizer and UndefinedBehaviorSanitizer) for the given seconds per target (default 30). With 0 it only
# replays every seed, as CI does: timed fuzzing is for a developer's machine, not a shared one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
out=$root/build/fuzz
mkdir -p "$out"

flags=(-std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -I"$root/src")
clang++ "${flags[@]}" "$root/src/dump_line.cpp" "$root/fuzz/dump_fuzz.cpp" -o "$out/dump_fuzz"
clang++ "${flags[@]}" "$root/src/game_list_line.cpp" "$root/fuzz/game_list_fuzz.cpp" -o "$out/game_list_fuzz"
clang++ "${flags[@]}" "$root/src/dump_line.cpp" "$root/src/dump_scan.cpp" "$root/fuzz/pieces_fuzz.cpp" \
  -o "$out/pieces_fuzz"
clang++ "${flags[@]}" -I"$root/ctl" "$root/ctl/timestats.cpp" "$root/ctl/session_record.cpp" \
  "$root/ctl/frame_rate.cpp" "$root/fuzz/evidence_fuzz.cpp" -o "$out/evidence_fuzz"

status=0
for target in dump game_list pieces evidence; do
  corpus=$out/corpus-$target
  mkdir -p "$corpus"
  log=$out/$target.log
  # New inputs go to the build tree's corpus; the repository's seeds are only read. Every input
  # that ever crashed a target is a seed, replayed first as a regression test.
  seeds=$root/fuzz/corpus/$target
  if ! (cd "$out" && "./${target}_fuzz" -runs=0 -artifact_prefix="$out/$target-" "$seeds" > "$log" 2>&1); then
    echo "fuzz $target: a seed in $seeds fails again (see $log)"
    tail -n 30 "$log"
    status=1
    continue
  fi
  echo "fuzz $target: $(find "$seeds" -type f | wc -l) seeds replayed"
  [ "$seconds" -gt 0 ] || continue
  if (cd "$out" && "./${target}_fuzz" -max_total_time="$seconds" -max_len=8192 -print_final_stats=1 \
        -artifact_prefix="$out/$target-" "$corpus" "$seeds" > "$log" 2>&1); then
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz $target: ${execs:-?} execs in ${seconds} s, no finding"
  else
    echo "fuzz $target: FINDING (see $log and the $target-crash-* file in $out; add it to $seeds)"
    tail -n 30 "$log"
    status=1
  fi
done
exit $status
