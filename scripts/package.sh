#!/usr/bin/env bash
# Builds the flashable module zip, dist/Drovenmarke-<version>.zip.
#   package.sh                          build both Android ABIs with the NDK (ANDROID_NDK_HOME)
#   package.sh --binaries DIR           pack DIR/arm64-v8a/Tessivar and DIR/armeabi-v7a/Tessivar
#   package.sh --out DIR                write the zip (and the update files) to DIR
#   package.sh --update-url BASE        the zip's module.prop names BASE/update.json, and
#                                       update.json and CHANGELOG.md are written beside the zip
# Every binary must pass scripts/elf_check.sh for its ABI; otherwise no zip is written.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
abis=(arm64-v8a armeabi-v7a)

binaries=
out=$root/dist
update_url=
while [ $# -gt 0 ]; do
  case $1 in
    --binaries) binaries=$(cd "${2:?--binaries needs a directory}" && pwd); shift 2 ;;
    --out) out=${2:?--out needs a directory}; shift 2 ;;
    --update-url) update_url=${2:?--update-url needs a base URL}; shift 2 ;;
    *) echo "usage: $0 [--binaries DIR] [--out DIR] [--update-url BASE]" >&2; exit 2 ;;
  esac
done
if [ -n "$update_url" ]; then
  update_url=${update_url%/}
  # It goes into module.prop and JSON as it is: one line, nothing to escape.
  [[ $update_url =~ ^https?://[A-Za-z0-9._~:/?#@!\$\&\'()*+,\;=%-]+$ ]] && [[ $update_url != *[\"\\]* ]] ||
    { echo "package.sh: --update-url must be an http(s) URL without spaces, quotes or backslashes" >&2; exit 2; }
fi

if [ -z "$binaries" ]; then
  if [ -z "${ANDROID_NDK_HOME:-}" ]; then
    echo "package.sh: set ANDROID_NDK_HOME to your Android NDK, or pass --binaries DIR." >&2
    exit 1
  fi
  binaries=$root/build/android-bin
  for abi in "${abis[@]}"; do
    (cd "$root" && cmake --preset "android-$abi" > /dev/null && cmake --build --preset "android-$abi" > /dev/null)
    mkdir -p "$binaries/$abi"
    cp "$root/build/android-$abi/Tessivar" "$binaries/$abi/Tessivar"
  done
fi
for abi in "${abis[@]}"; do
  [ -f "$binaries/$abi/Tessivar" ] || { echo "package.sh: missing $binaries/$abi/Tessivar" >&2; exit 1; }
  why=$("$root/scripts/elf_check.sh" "$binaries/$abi/Tessivar" "$abi") ||
    { echo "package.sh: refusing $why" >&2; exit 1; }
done

prop=$root/module/module.prop
version=$(sed -n 's/^version=//p' "$prop")
version_code=$(sed -n 's/^versionCode=//p' "$prop")
[ -n "$version" ] || { echo "package.sh: module.prop has no version" >&2; exit 1; }
[[ $version_code =~ ^[0-9]+$ ]] || { echo "package.sh: module.prop's versionCode is not a number" >&2; exit 1; }

# The page's bridge library, from npm (package.json pins it).
kernelsu=$root/node_modules/kernelsu/index.js
[ -f "$kernelsu" ] || { echo "package.sh: $kernelsu is missing; run npm ci first" >&2; exit 1; }

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp -R "$root/module/." "$stage/"
mkdir -p "$stage/webroot/kernelsu"
cp "$kernelsu" "$stage/webroot/kernelsu/index.js"
for abi in "${abis[@]}"; do
  mkdir -p "$stage/bin/$abi"
  cp "$binaries/$abi/Tessivar" "$stage/bin/$abi/Tessivar"
done
if [ -n "$update_url" ]; then
  [ -z "$(tail -c 1 "$stage/module.prop")" ] || echo >> "$stage/module.prop"
  echo "updateJson=$update_url/update.json" >> "$stage/module.prop"
fi

# Scripts and programs executable, everything else plain.
find "$stage" -type d -exec chmod 0755 {} +
find "$stage" -type f -exec chmod 0644 {} +
find "$stage" -type f \( -name '*.sh' -o -name update-binary -o -name Tessivar \) -exec chmod 0755 {} +

mkdir -p "$out"
out=$(cd "$out" && pwd)
zip_name=Drovenmarke-$version.zip
rm -f "$out/$zip_name"
(cd "$stage" && zip -q -X -D -r "$out/$zip_name.new" . && mv -f "$out/$zip_name.new" "$out/$zip_name")
if [ -n "$update_url" ]; then
  cp "$root/CHANGELOG.md" "$out/CHANGELOG.md"
  cat > "$out/update.json.new" <<JSON
{
  "version": "$version",
  "versionCode": $version_code,
  "zipUrl": "$update_url/$zip_name",
  "changelog": "$update_url/CHANGELOG.md"
}
JSON
  mv -f "$out/update.json.new" "$out/update.json"
fi
echo "$out/$zip_name"
