#!/system/bin/sh
# Keeps Tessivar running for the whole boot: if it exits, the balanced profile is put back, one
# line says how it ended, and it is started again after a pause that grows while it keeps
# failing quickly (5 s, doubling, up to 5 min). Keeps tessivar.log under 512 KiB. Stops,
# restoring first, when the module is to be removed, or when it is killed (the daemon with it).
scripts=${0%/*}
moddir=${scripts%/*}
# shellcheck source=Scripts/governors.sh
. "$scripts/governors.sh"
run_under_manager_busybox "$@"

log=$moddir/tessivar.log
log_limit=${TESSIVAR_LOG_LIMIT:-524288}
tick=5          # seconds between looks at the daemon, the log and the remove flag
quick=60        # a daemon that ends sooner than this has failed quickly
daemon=

note() { say "supervisor: $*" >> "$log"; }

restore() { sh "$scripts/balanced.sh" >> "$log" 2>&1; }

stop() {
  [ -n "$daemon" ] && kill "$daemon" 2>/dev/null && wait "$daemon" 2>/dev/null
  restore
  note "$1"
  exit 0
}
trap 'stop "stopped; balanced profile restored"' TERM INT HUP

# Copies the log aside and empties it in place: the daemon appends through O_APPEND, so its
# descriptor stays valid and its next line lands at the start.
bound_log() {
  size=$(wc -c < "$log" 2>/dev/null) || return 0
  [ -n "$size" ] && [ "$size" -gt "$log_limit" ] || return 0
  cp -f "$log" "$log.old.$$" && mv -f "$log.old.$$" "$log.old" && : > "$log"
}

stop_if_removed() {
  [ -e "$moddir/remove" ] && stop "the module is to be removed; balanced profile restored, supervisor stopped"
}

# One look at the flag and the log, then one tick's sleep, in the background so that a signal
# is taken at once.
tick() {
  stop_if_removed
  bound_log
  sleep "$(pause_length "$tick")" & wait $!
}
wait_ticks() {
  wt=0
  while [ "$wt" -lt "$1" ]; do
    tick
    wt=$((wt + tick))
  done
}

delay=5
while :; do
  stop_if_removed
  started=0
  "$moddir/Tessivar" >> "$log" 2>&1 < /dev/null &
  daemon=$!
  say "$daemon" > "$moddir/tessivar.daemon.pid.$$" && mv -f "$moddir/tessivar.daemon.pid.$$" "$moddir/tessivar.daemon.pid"
  while kill -0 "$daemon" 2>/dev/null; do
    tick
    started=$((started + tick))
  done
  wait "$daemon"
  status=$?
  daemon=
  restore
  if [ "$started" -ge "$quick" ]; then delay=5; fi
  if [ "$status" -gt 128 ]; then how="was killed by signal $((status - 128))"; else how="exited with status $status"; fi
  note "Tessivar $how; balanced profile restored; restarting in $delay s"
  wait_ticks "$delay"
  delay=$((delay * 2))
  [ "$delay" -gt 300 ] && delay=300
done
