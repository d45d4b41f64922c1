#!/usr/bin/env bash
# Prints the NDK that the Android presets build with: ANDROID_NDK_HOME when it is set, else the
# stand-in beside the repository (../shared/android-ndk-standin); nothing when neither is there.
root=$(cd "$(dirname "$0")/.." && pwd)
if [ -n "${ANDROID_NDK_HOME:-}" ]; then
  echo "$ANDROID_NDK_HOME"
elif [ -d "$root/../shared/android-ndk-standin" ]; then
  (cd "$root/../shared/android-ndk-standin" && pwd)
fi
