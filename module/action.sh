#!/system/bin/sh
# The root manager's Action button: how Tessivar is doing, in a few lines.
MODDIR=${0%/*}
# shellcheck source=Scripts/governors.sh
. "$MODDIR/Scripts/governors.sh"
run_under_manager_busybox "$@"

alive() { [ -n "$1" ] && kill -0 "$1" 2>/dev/null; }
supervisor=$(cat "$MODDIR/tessivar.pid" 2>/dev/null)
daemon=$(cat "$MODDIR/tessivar.daemon.pid" 2>/dev/null)
if alive "$supervisor" && alive "$daemon"; then
  say "Tessivar: running (pid $daemon, supervisor $supervisor)"
elif alive "$supervisor"; then
  say "Tessivar: restarting (supervisor $supervisor)"
else
  say "Tessivar: not running"
fi
say "Profile in force: $(cat "$MODDIR/current_profile" 2>/dev/null || say unknown)"
if switched_off "$MODDIR"; then say "Module: switched off in the root manager"; else say "Module: on"; fi
games=$(sh "$MODDIR/Scripts/games.sh" list 2>/dev/null)
n=0
for _ in $games; do n=$((n + 1)); done
say "Games listed: $n"

# The last three mode changes, newest first.
a="" b="" c=""
if [ -f "$MODDIR/tessivar.log" ]; then
  while IFS= read -r line; do
    c=$b b=$a a=${line#State change detected: }
  done <<EOL
$(grep "^State change detected: " "$MODDIR/tessivar.log" 2>/dev/null)
EOL
fi
if [ -n "$a" ]; then
  say "Last mode changes (newest first):"
  for m in "$a" "$b" "$c"; do [ -n "$m" ] && say "  $m"; done
else
  say "Last mode changes: none yet"
fi

problems=$(sh "$MODDIR/Scripts/games.sh" check 2>&1)
if [ -n "$problems" ]; then
  say "Game list problems (fix with: sh $MODDIR/Scripts/games.sh fix):"
  say "$problems"
else
  say "Game list: no problems"
fi
exit 0
