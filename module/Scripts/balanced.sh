#!/system/bin/sh
# Balanced profile: Tessivar runs this whenever no listed game is in front or the screen is
# off. The device's own governors and tunables go back exactly as performance found them.
moddir=${0%/*}/..
exec "$moddir/tessivarctl" profile balanced
