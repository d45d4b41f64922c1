#!/usr/bin/env bash
# Checks that a program is what a phone of the given ABI can run: the right machine, a PIE
# (ET_DYN with an interpreter), Android's own linker, no library beyond libc and libdl (libm,
# which nothing here calls, would only cost every start a library to load), no text relocations,
# LOAD segments aligned for 16 KB pages on arm64-v8a, and a GNU build id.
#   elf_check.sh FILE ABI     ABI is arm64-v8a or armeabi-v7a
# Prints nothing and exits 0 when it is; otherwise prints one line, "FILE: what is wrong", and
# exits 1.
set -euo pipefail
file=${1:?usage: elf_check.sh FILE ABI}
abi=${2:?usage: elf_check.sh FILE ABI}

case $abi in
  arm64-v8a) machine=AArch64 linker=/system/bin/linker64 min_align=16384 ;;
  armeabi-v7a) machine=ARM linker=/system/bin/linker min_align=4096 ;;
  *) echo "$file: unknown ABI $abi (arm64-v8a or armeabi-v7a)"; exit 1 ;;
esac
bad() { echo "$file: $*"; exit 1; }

[ -f "$file" ] || bad "no such file"
readelf=$(command -v readelf || command -v llvm-readelf-14 || true)
[ -n "$readelf" ] || bad "cannot be checked: neither readelf nor llvm-readelf-14 is installed"
headers=$(LC_ALL=C "$readelf" -h -l -d -n -W "$file" 2>/dev/null) || bad "not an ELF file"
[ "$(head -c 4 "$file" | od -An -c | tr -d ' ')" = '177ELF' ] || bad "not an ELF file"

found=$(sed -n 's/^ *Machine: *//p' <<<"$headers")
[ "$found" = "$machine" ] || bad "machine is ${found:-unknown}, $abi needs $machine"
type=$(sed -n 's/^ *Type: *\([A-Z]*\).*/\1/p' <<<"$headers")
[ "$type" = DYN ] || bad "type is ${type:-unknown}, not a position-independent executable (DYN)"
interp=$(sed -n 's/.*\[Requesting program interpreter: \(.*\)\]$/\1/p' <<<"$headers")
[ -n "$interp" ] || bad "has no interpreter: a shared library, not a position-independent executable"
[ "$interp" = "$linker" ] || bad "interpreter is $interp, $abi needs $linker"
while read -r lib; do
  case $lib in
    libc.so | libdl.so) ;;
    libm.so) bad "needs libm.so, which nothing calls: every start would load it (link with --as-needed)" ;;
    *) bad "needs $lib; only libc.so and libdl.so are allowed" ;;
  esac
done < <(sed -n 's/.*(NEEDED).*Shared library: \[\(.*\)\]$/\1/p' <<<"$headers")

# Segment alignment, the last field of each LOAD line.
while read -r align; do
  [ $((align)) -ge "$min_align" ] ||
    bad "a LOAD segment is aligned at $align; $abi needs $min_align (link with -z max-page-size=$min_align)"
done < <(awk '$1 == "LOAD" { print $NF }' <<<"$headers")
grep -q '(TEXTREL)\|FLAGS.*TEXTREL' <<<"$headers" && bad "has text relocations; Android refuses them"
grep -q 'Build ID: [0-9a-f]' <<<"$headers" || bad "has no GNU build id; a crash report could not be matched to it"
exit 0
