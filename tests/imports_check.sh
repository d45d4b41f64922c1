#!/bin/sh
# The daemon must need nothing of the C++ runtime, so that on Android it links against libc.so
# and libdl.so alone. Lists any C++ runtime symbol the program imports and fails if there is one.
# usage: imports_check.sh NM PROGRAM
set -u
nm=$1
program=$2
imports=$("$nm" -D --undefined-only "$program" | awk '{ sub(/@.*/, "", $NF); print $NF }')
[ -n "$imports" ] || { echo "no imports read from $program"; exit 1; }
cxx=$(printf '%s\n' "$imports" | grep -E '^(_Z|__cxa_|__gxx_|_Unwind_)' | grep -v '^__cxa_finalize$')
if [ -n "$cxx" ]; then
  echo "C++ runtime symbols imported by $program:"
  printf '%s\n' "$cxx"
  exit 1
fi
printf 'imports of %s:\n%s\n' "$program" "$imports"
