#!/usr/bin/env bash
# Builds the flashable module zip, dist/Drovenmarke-<version>.zip.
#   package.sh                          build both Android ABIs with the NDK (ANDROID_NDK_HOME)
#   package.sh --binaries DIR --out DIR pack DIR/arm64-v8a/Tessivar and DIR/armeabi-v7a/Tessivar
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
abis=(arm64-v8a armeabi-v7a)

binaries=
out=$root/dist
while [ $# -gt 0 ]; do
  case $1 in
    --binaries) binaries=$(cd "${2:?--binaries needs a directory}" && pwd); shift 2 ;;
    --out) out=${2:?--out needs a directory}; shift 2 ;;
    *) echo "usage: $0 [--binaries DIR] [--out DIR]" >&2; exit 2 ;;
  esac
done

if [ -z "$binaries" ]; then
  if [ -z "${ANDROID_NDK_HOME:-}" ]; then
    echo "package.sh: set ANDROID_NDK_HOME to your Android NDK, or pass --binaries DIR." >&2
    exit 1
  fi
  binaries=$root/build/android-bin
  for abi in "${abis[@]}"; do
    (cd "$root" && cmake --preset "android-$abi" && cmake --build --preset "android-$abi")
    mkdir -p "$binaries/$abi"
    cp "$root/build/android-$abi/Tessivar" "$binaries/$abi/Tessivar"
  done
fi
for abi in "${abis[@]}"; do
  [ -f "$binaries/$abi/Tessivar" ] || { echo "package.sh: missing $binaries/$abi/Tessivar" >&2; exit 1; }
done

version=$(sed -n 's/^version=//p' "$root/module/module.prop")
[ -n "$version" ] || { echo "package.sh: module.prop has no version" >&2; exit 1; }

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp -R "$root/module/." "$stage/"
for abi in "${abis[@]}"; do
  mkdir -p "$stage/bin/$abi"
  cp "$binaries/$abi/Tessivar" "$stage/bin/$abi/Tessivar"
done

# Scripts and programs executable, everything else plain.
find "$stage" -type d -exec chmod 0755 {} +
find "$stage" -type f -exec chmod 0644 {} +
find "$stage" -type f \( -name '*.sh' -o -name update-binary -o -name Tessivar \) -exec chmod 0755 {} +

mkdir -p "$out"
zip_path=$(cd "$out" && pwd)/Drovenmarke-$version.zip
rm -f "$zip_path"
(cd "$stage" && zip -q -X -D -r "$zip_path" .)
echo "$zip_path"
