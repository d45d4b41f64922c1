#!/usr/bin/env bash
# Builds and packs the module twice, from this tree and from a copy of it at another path, and
# compares the zips and the symbols zips byte for byte: where a clone sits must not show in what
# it builds. Needs an NDK (ANDROID_NDK_HOME, else ../shared/android-ndk-standin).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
ndk=$("$root/scripts/android_ndk.sh")
[ -n "$ndk" ] || { echo "repro_check.sh: no NDK" >&2; exit 1; }
export ANDROID_NDK_HOME=$ndk
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
copy=$work/somewhere/else/entirely
mkdir -p "$copy"
# The tree as it is (tracked files and new ones not ignored), without its builds.
(cd "$root" && git ls-files -z --cached --others --exclude-standard |
  xargs -0 -I{} sh -c '[ -e "$1" ] && cp --parents -P "$1" "$0"' "$copy" {})
ln -s "$root/node_modules" "$copy/node_modules"

"$root/scripts/package.sh" --out "$work/here" > /dev/null
"$copy/scripts/package.sh" --out "$work/there" > /dev/null
status=0
for zip in "$work/here"/*.zip; do
  name=${zip##*/}
  if cmp -s "$zip" "$work/there/$name"; then
    echo "repro: $name $(sha256sum < "$zip" | cut -c1-16) from both paths"
  else
    echo "repro: $name differs between $root and $copy" >&2
    status=1
  fi
done
exit $status
