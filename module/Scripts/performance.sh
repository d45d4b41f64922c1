#!/system/bin/sh
# Performance profile: Tessivar runs this when a listed game comes to the front. The CPU
# policies and the GPU go to the "performance" governor after a snapshot of the device's own
# settings; see tessivarctl.
moddir=${0%/*}/..
exec "$moddir/tessivarctl" profile performance
