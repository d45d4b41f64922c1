#!/system/bin/sh
# Started by the root manager at boot: once the boot has completed, the supervisor starts
# Tessivar and keeps it running for the whole boot (a second start does nothing). Stop it all,
# restoring the device's own settings, with: /data/adb/modules/Drovenmarke/tessivarctl stop
MODDIR=${0%/*}
until [ "$(getprop sys.boot_completed)" = "1" ]; do
  sleep 5
done
cd / || exit 1
"$MODDIR/tessivarctl" supervise > /dev/null 2>&1 < /dev/null &
