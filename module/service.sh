#!/system/bin/sh
# Started by the root manager at boot: drops a snapshot left from an earlier boot and starts
# Tessivar under its supervisor, with their output in tessivar.log. Stop everything with
# kill "$(cat /data/adb/modules/Drovenmarke/tessivar.pid)": the supervisor takes the daemon with
# it and puts the balanced profile back.
MODDIR=${0%/*}
# shellcheck source=Scripts/governors.sh
. "$MODDIR/Scripts/governors.sh"
run_under_manager_busybox "$@"

until [ "$(getprop sys.boot_completed)" = "1" ]; do
  sleep 5
done

# One start at a time: a second service.sh, at once or later, finds the supervisor alive and
# does nothing.
take_lock "$MODDIR/.service.lock"
pidfile=$MODDIR/tessivar.pid
pid=$(cat "$pidfile" 2>/dev/null)
if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null &&
   grep -q supervisor "/proc/$pid/cmdline" 2>/dev/null; then
  drop_lock "$MODDIR/.service.lock"
  exit 0
fi

# A snapshot from before the reboot describes a kernel that no longer exists.
snapshot_held "$MODDIR/snapshot" || rm -f "$MODDIR/snapshot"
rm -f "$MODDIR/governors.orig"

[ -f "$MODDIR/tessivar.log" ] && mv -f "$MODDIR/tessivar.log" "$MODDIR/tessivar.log.old"
cd / || exit 1
sh "$MODDIR/Scripts/supervisor.sh" >> "$MODDIR/tessivar.log" 2>&1 < /dev/null &
say "$!" > "$pidfile.$$.new" && mv -f "$pidfile.$$.new" "$pidfile"
drop_lock "$MODDIR/.service.lock"
