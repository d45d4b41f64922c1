#!/system/bin/sh
# Started by the root manager at boot: records the device's own governors, then starts
# Tessivar with its output in tessivar.log.
MODDIR=${0%/*}

until [ "$(getprop sys.boot_completed)" = "1" ]; do
  sleep 5
done

# Already running (this script started a second time): leave it, and above all do not
# record governors that it may have changed.
pidfile=$MODDIR/tessivar.pid
pid=$(cat "$pidfile" 2>/dev/null)
if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null &&
   grep -q Tessivar "/proc/$pid/cmdline" 2>/dev/null; then
  exit 0
fi

# shellcheck source=Scripts/governors.sh
. "$MODDIR/Scripts/governors.sh"
record_governors "$MODDIR/governors.orig"

[ -f "$MODDIR/tessivar.log" ] && mv -f "$MODDIR/tessivar.log" "$MODDIR/tessivar.log.old"
cd / || exit 1
"$MODDIR/Tessivar" >> "$MODDIR/tessivar.log" 2>&1 < /dev/null &
echo $! > "$pidfile"
