#!/system/bin/sh
# Balanced profile: the device's own governors and their tunables, exactly as performance.sh
# found them. Tessivar runs this whenever no listed game is in front or the screen is off.
scripts=${0%/*}
moddir=${scripts%/*}
# shellcheck source=Scripts/governors.sh
. "$scripts/governors.sh"
run_under_manager_busybox "$@"
run_profile "$moddir" balanced
