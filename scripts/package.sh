#!/usr/bin/env bash
# Builds the flashable module zip, dist/Drovenmarke-<version>.zip, and beside it
# Drovenmarke-<version>-symbols.zip: the unstripped programs, by ABI, whose build ids match the
# stripped ones in the zip.
#   package.sh                          build both Android ABIs with the NDK (ANDROID_NDK_HOME,
#                                       else ../shared/android-ndk-standin)
#   package.sh --binaries DIR           pack DIR/<abi>/<program> for both ABIs instead
#   package.sh --out DIR                write the zips (and the update files) to DIR
#   package.sh --update-url BASE        the zip's module.prop names BASE/update.json, and
#                                       update.json and CHANGELOG.md are written beside the zip
# Every program must pass scripts/elf_check.sh for its ABI; otherwise no zip is written. The
# same inputs give the same bytes: entries sorted, times from SOURCE_DATE_EPOCH (default: the
# last commit's time), fixed modes, no extra fields.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
abis=(arm64-v8a armeabi-v7a)
programs=(Tessivar tessivarctl)

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
  # It goes into module.prop as it is: one line, nothing a manager could misread.
  [[ $update_url =~ ^https?://[A-Za-z0-9._~:/?#@!\$\&\'()*+,\;=%-]+$ ]] && [[ $update_url != *[\"\\]* ]] ||
    { echo "package.sh: --update-url must be an http(s) URL without spaces, quotes or backslashes" >&2; exit 2; }
fi

prop=$root/module/module.prop
version=$(sed -n 's/^version=//p' "$prop")
version_code=$(sed -n 's/^versionCode=//p' "$prop")
[ -n "$version" ] || { echo "package.sh: module.prop has no version" >&2; exit 1; }
# The managers show the version as text and it names the zip: one plain word.
case $version in
  *[\"\'\\/]* | *[[:cntrl:]]* | *' '*)
    echo "package.sh: module.prop's version '$version' has a quote, a space, a slash or a control character; the managers show it as text and it names the zip" >&2
    exit 1 ;;
esac
[[ $version_code =~ ^[0-9]+$ ]] || { echo "package.sh: module.prop's versionCode is not a number" >&2; exit 1; }

ndk=$("$root/scripts/android_ndk.sh")
if [ -z "$binaries" ]; then
  if [ -z "$ndk" ]; then
    echo "package.sh: set ANDROID_NDK_HOME to your Android NDK, or pass --binaries DIR." >&2
    exit 1
  fi
  binaries=$root/build/android-bin
  for abi in "${abis[@]}"; do
    (cd "$root" && ANDROID_NDK_HOME=$ndk cmake --preset "android-$abi" > /dev/null &&
       ANDROID_NDK_HOME=$ndk cmake --build --preset "android-$abi" > /dev/null)
    mkdir -p "$binaries/$abi"
    for program in "${programs[@]}"; do
      cp "$root/build/android-$abi/$program" "$binaries/$abi/$program"
    done
  done
fi

# The NDK's strip, else Debian's LLVM one; it keeps the build id note.
strip_tool=
for candidate in "$ndk"/toolchains/llvm/prebuilt/*/bin/llvm-strip llvm-strip llvm-strip-14; do
  if command -v "$candidate" > /dev/null 2>&1; then strip_tool=$candidate; break; fi
done
[ -n "$strip_tool" ] || { echo "package.sh: no llvm-strip (install llvm-14, or set ANDROID_NDK_HOME)" >&2; exit 1; }

for abi in "${abis[@]}"; do
  for program in "${programs[@]}"; do
    [ -f "$binaries/$abi/$program" ] || { echo "package.sh: missing $binaries/$abi/$program" >&2; exit 1; }
    why=$("$root/scripts/elf_check.sh" "$binaries/$abi/$program" "$abi") ||
      { echo "package.sh: refusing $why" >&2; exit 1; }
  done
done

# The page's bridge library, from npm (package-lock.json pins it).
kernelsu=$root/node_modules/kernelsu/index.js
if [ ! -f "$kernelsu" ]; then
  (cd "$root" && npm ci --no-audit --no-fund > /dev/null) ||
    { echo "package.sh: npm ci failed; the page's bridge library is missing" >&2; exit 1; }
fi

epoch=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2> /dev/null || true)}
[[ $epoch =~ ^[0-9]+$ ]] || { echo "package.sh: set SOURCE_DATE_EPOCH (not a git checkout)" >&2; exit 1; }
# A zip's DOS times start in 1980.
[ "$epoch" -ge 315532800 ] || epoch=315532800

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
module=$stage/module
symbols=$stage/symbols
mkdir -p "$module" "$symbols"
cp -R "$root/module/." "$module/"
mkdir -p "$module/webroot/kernelsu"
cp "$kernelsu" "$module/webroot/kernelsu/index.js"
for abi in "${abis[@]}"; do
  mkdir -p "$module/bin/$abi" "$symbols/$abi"
  for program in "${programs[@]}"; do
    cp "$binaries/$abi/$program" "$symbols/$abi/$program"
    "$strip_tool" --strip-all --remove-section=.comment -o "$module/bin/$abi/$program" "$binaries/$abi/$program"
  done
done
if [ -n "$update_url" ]; then
  [ -z "$(tail -c 1 "$module/module.prop")" ] || echo >> "$module/module.prop"
  echo "updateJson=$update_url/update.json" >> "$module/module.prop"
fi

# Programs and scripts executable, everything else plain.
for tree in "$module" "$symbols"; do
  find "$tree" -type d -exec chmod 0755 {} +
  find "$tree" -type f -exec chmod 0644 {} +
done
find "$module" -type f \( -name '*.sh' -o -name update-binary -o -path '*/bin/*' \) -exec chmod 0755 {} +
find "$symbols" -type f -exec chmod 0755 {} +

# Writes the files under a directory into a zip whose bytes depend on their names, contents and
# modes alone.
reproducible_zip() {  # directory zip
  find "$1" -exec touch -h -d "@$epoch" {} +
  (cd "$1" && find . -type f | sed 's|^\./||' | LC_ALL=C sort |
    TZ=UTC zip -q -X -D -@ "$2.new") && mv -f "$2.new" "$2"
}

mkdir -p "$out"
out=$(cd "$out" && pwd)
zip_name=Drovenmarke-$version.zip
rm -f "$out/$zip_name" "$out/Drovenmarke-$version-symbols.zip"
reproducible_zip "$module" "$out/$zip_name"
reproducible_zip "$symbols" "$out/Drovenmarke-$version-symbols.zip"
if [ -n "$update_url" ]; then
  cp "$root/CHANGELOG.md" "$out/CHANGELOG.md"
  node -e '
    const [version, code, base, zip] = process.argv.slice(1);
    process.stdout.write(JSON.stringify({version, versionCode: Number(code),
      zipUrl: base + "/" + zip, changelog: base + "/CHANGELOG.md"}, null, 2) + "\n");' \
    "$version" "$version_code" "$update_url" "$zip_name" > "$out/update.json.new"
  mv -f "$out/update.json.new" "$out/update.json"
fi
echo "$out/$zip_name"
