#!/system/bin/sh
# Performance profile: every CPU policy and the GPU to the "performance" governor, where the
# kernel offers it, after a snapshot of the device's own settings. Tessivar runs this when a
# listed game comes to the front.
scripts=${0%/*}
moddir=${scripts%/*}
# shellcheck source=Scripts/governors.sh
. "$scripts/governors.sh"
run_under_manager_busybox "$@"
run_profile "$moddir" performance
