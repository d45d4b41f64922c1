#!/system/bin/sh
# Run by the root manager when the module is removed: stops the supervisor and the daemon, then
# puts back the device's own settings if a snapshot is held.
MODDIR=${0%/*}
# shellcheck source=Scripts/governors.sh
. "$MODDIR/Scripts/governors.sh"
run_under_manager_busybox "$@"

pid=$(cat "$MODDIR/tessivar.pid" 2>/dev/null)
if [ -n "$pid" ] && grep -q supervisor "/proc/$pid/cmdline" 2>/dev/null; then
  kill "$pid" 2>/dev/null
  # It restores on its way out; wait for that, a while at most.
  n=0
  while kill -0 "$pid" 2>/dev/null && [ "$n" -lt 100 ]; do sleep 0.1 2>/dev/null || sleep 1; n=$((n + 1)); done
fi
run_profile "$MODDIR" balanced > /dev/null
