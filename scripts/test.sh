#!/usr/bin/env bash
# Installs what is missing, then builds and tests the daemon for the host, 64-bit ARM and
# 32-bit ARM (the ARM builds run under qemu-user). Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

packages=(cmake make g++ clang clang-format googletest libgtest-dev g++-aarch64-linux-gnu
          g++-arm-linux-gnueabihf qemu-user shellcheck mksh busybox zip unzip libclang-rt-14-dev
          libbenchmark-dev clang-14 lld-14 llvm-14 binutils chromium)
# Node and npm: Debian's, unless a Node is already there (its own npm comes with it).
command -v node > /dev/null && command -v npm > /dev/null || packages+=(nodejs npm)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages and not root: install them with apt-get, then run this again." >&2
    exit 1
  fi
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

passed=0
failed=0
skipped=0
skip_reasons=()
note() { printf '\n== %s\n' "$*"; }
# Steps that could not run here: skip COUNT "REASON" ["DETAIL"]. Under CI nothing may be
# skipped: each counts as a failure.
skip() {
  echo "skipped: $1 step(s): $2${3:+ ($3)}"
  if [ "${CI:-}" = true ]; then
    echo "CI=true: a skipped step is a failure" >&2
    failed=$((failed + $1))
  else
    skipped=$((skipped + $1))
    skip_reasons+=("$2")
  fi
}

# Runs ctest in a build tree and adds its counts to the totals.
run_ctest() {
  local log
  log=$(mktemp)
  (cd "$1" && ctest --output-on-failure -j2) | tee "$log" || true
  local total bad
  total=$(sed -n 's/.* tests failed out of \([0-9]*\)$/\1/p' "$log" | tail -n 1)
  bad=$(sed -n 's/.*, \([0-9]*\) tests failed out of.*/\1/p' "$log" | tail -n 1)
  if [ -z "$total" ]; then
    echo "ctest in $1 did not finish" >&2
    failed=$((failed + 1))
  else
    passed=$((passed + total - bad))
    failed=$((failed + bad))
  fi
  rm -f "$log"
}

# Builds a tree with -Werror; a build failure counts as a failed test.
build() {
  local dir=$1
  shift
  note "build $dir"
  if cmake -S "$root" -B "$dir" -DTESSIVAR_WERROR=ON "$@" >/dev/null &&
     cmake --build "$dir" -j2 >"$dir.build.log" 2>&1; then
    return 0
  fi
  cat "$dir.build.log" >&2 || true
  failed=$((failed + 1))
  return 1
}

note "format"
if git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
fi

mkdir -p build
# The page's bridge library (packed into the zip) and the browser tests' driver, as pinned.
npm_ok=0
if npm ci --no-audit --no-fund > build/npm-ci.log 2>&1; then npm_ok=1; else cat build/npm-ci.log >&2; fi
# The daemon and the benchmarks with clang: warning-free, and configurable without GoogleTest.
if build build/clang -DBUILD_TESTING=OFF -DTESSIVAR_BENCH=ON -DCMAKE_CXX_COMPILER=clang++; then
  passed=$((passed + 1))
fi

build build/host && run_ctest build/host
build build/aarch64 --toolchain "$root/cmake/aarch64-linux-gnu.cmake" && run_ctest build/aarch64
build build/armhf --toolchain "$root/cmake/arm-linux-gnueabihf.cmake" && run_ctest build/armhf

# The host suite once more under AddressSanitizer and UndefinedBehaviorSanitizer.
build build/asan -DTESSIVAR_SANITIZE=ON && run_ctest build/asan

# Every seed replayed (each a past finding or a shape worth keeping); timed fuzzing is fuzz.sh's.
note "fuzz"
if ./scripts/fuzz.sh 0; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
fi

# Real Android programs, built with the NDK or with the stand-in beside the repository.
note "android"
ndk=$(./scripts/android_ndk.sh)
android_bins=
if [ -z "$ndk" ]; then
  skip 2 "android: no NDK" "ANDROID_NDK_HOME is not set and ../shared/android-ndk-standin is not there"
else
  android_bins=build/android-bin
  for abi in arm64-v8a armeabi-v7a; do
    if ANDROID_NDK_HOME=$ndk cmake --preset "android-$abi" -DTESSIVAR_WERROR=ON > /dev/null &&
       ANDROID_NDK_HOME=$ndk cmake --build --preset "android-$abi" > "build/android-$abi.build.log" 2>&1 &&
       ./scripts/elf_check.sh "build/android-$abi/Tessivar" "$abi" &&
       ./scripts/elf_check.sh "build/android-$abi/tessivarctl" "$abi"; then
      mkdir -p "$android_bins/$abi"
      for program in Tessivar tessivarctl; do
        cp "build/android-$abi/$program" "$android_bins/$abi/$program"
        llvm-strip-14 --strip-all --remove-section=.comment -o "build/android-$abi/$program.stripped" "build/android-$abi/$program"
        echo "android $abi: $program ok, $(stat -c %s "build/android-$abi/$program.stripped") bytes stripped"
      done
      passed=$((passed + 1))
    else
      cat "build/android-$abi.build.log" >&2 || true
      failed=$((failed + 1))
      android_bins=
    fi
  done
fi

# The same zip from a copy of the tree at another path.
if [ -n "$android_bins" ]; then
  if ./scripts/repro_check.sh 2> build/repro.log; then
    passed=$((passed + 1))
  else
    grep -v 'CMake Warning\|ANDROID_STL\|Manually-specified\|^ *$' build/repro.log >&2 || true
    failed=$((failed + 1))
  fi
fi

# The module's scripts and zip. The glibc ARM builds are there to be refused by the packager.
note "module"
glibc_bins=build/module-bins
mkdir -p "$glibc_bins/arm64-v8a" "$glibc_bins/armeabi-v7a"
if cp build/aarch64/Tessivar "$glibc_bins/arm64-v8a/" && cp build/armhf/Tessivar "$glibc_bins/armeabi-v7a/"; then
  log=$(mktemp)
  CTL_TEST_DIR=build/host/tests bash tests/module_test.sh "$glibc_bins" $android_bins | tee "$log" || true
  counts=$(sed -n 's/^module tests: \([0-9]*\) passed, \([0-9]*\) failed, \([0-9]*\) skipped$/\1 \2 \3/p' "$log")
  rm -f "$log"
  if [ -n "$counts" ]; then
    read -r p f k <<<"$counts"
    passed=$((passed + p))
    failed=$((failed + f))
    [ "$k" -eq 0 ] || skip "$k" "module: no Android programs or shells"
  else
    failed=$((failed + 1))
  fi
else
  failed=$((failed + 1))
fi

# The module page in headless chromium, driven by Node's test runner.
note "webui"
if [ "$npm_ok" = 1 ]; then
  log=$(mktemp)
  node --test tests/webui/ 2>&1 | tee "$log" || true
  ok=$(sed -n 's/^# pass \([0-9]*\)$/\1/p' "$log")
  bad=$(sed -n 's/^# fail \([0-9]*\)$/\1/p' "$log")
  rm -f "$log"
  if [ -n "$ok" ] && [ -n "$bad" ]; then
    passed=$((passed + ok))
    failed=$((failed + bad))
  else
    failed=$((failed + 1))
  fi
else
  failed=$((failed + 1))
fi

echo
if [ "$skipped" -gt 0 ]; then
  reasons=$(printf '%s; ' "${skip_reasons[@]}")
  echo "total: $passed passed, $failed failed, $skipped skipped (${reasons%; })"
else
  echo "total: $passed passed, $failed failed"
fi
[ "$failed" -eq 0 ]
