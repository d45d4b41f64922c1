#!/system/bin/sh
# Run by the root manager when the module is removed: stops the supervisor and Tessivar and
# puts back the device's own settings if a snapshot of this boot is held.
MODDIR=${0%/*}
exec "$MODDIR/tessivarctl" stop
