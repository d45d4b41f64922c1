#!/system/bin/sh
# Balanced profile: the governors the device had at boot, as service.sh recorded them.
# Tessivar runs this whenever no listed game is in front or the screen is off.
scripts=${0%/*}
moddir=${scripts%/*}
# shellcheck source=Scripts/governors.sh
. "$scripts/governors.sh"

restored=$(restore_governors "$moddir/governors.orig")
set_current_profile "$moddir" balanced
if [ -f "$moddir/governors.orig" ]; then
  echo "balanced: restored the boot-time governor of $restored node(s)"
else
  echo "balanced: no governors were recorded at boot; nothing changed"
fi
