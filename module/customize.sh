# Sourced by the root manager's installer after it has unpacked the zip into MODPATH; it gives
# ARCH, API, ui_print, abort and set_perm. Never exit here: abort stops the installation.

if [ "$API" -lt 21 ]; then
  abort "! Tessivar needs Android 5.0 (API 21) or later; this device has API $API."
fi

case $ARCH in
  arm64) abi=arm64-v8a ;;
  arm) abi=armeabi-v7a ;;
  *) abort "! Tessivar is built for arm64 and arm devices only; this one is $ARCH." ;;
esac

for program in Tessivar tessivarctl; do
  [ -f "$MODPATH/bin/$abi/$program" ] || abort "! The zip has no bin/$abi/$program."
done
ui_print "- Installing Tessivar for $abi"
mv -f "$MODPATH/bin/$abi/Tessivar" "$MODPATH/Tessivar"
mv -f "$MODPATH/bin/$abi/tessivarctl" "$MODPATH/tessivarctl"
rm -rf "${MODPATH:?}/bin"

# On an update the installed module still sits beside modules_update/: keep the user's game
# list and the presets chosen for games (new games still get sustained, the default).
installed=${MODPATH%/*/*}/modules/Drovenmarke
if [ -f "$installed/game.txt" ]; then
  cp -f "$installed/game.txt" "$MODPATH/game.txt"
  ui_print "- Kept your game list"
fi
if [ -f "$installed/presets.txt" ]; then
  cp -f "$installed/presets.txt" "$MODPATH/presets.txt"
  ui_print "- Kept your presets"
fi
# The game sessions and what is left of a "Try both": their own files only (never a link), which
# the recorder kept within its bounds; tessivarctl reads the older formats or sets a line aside.
# "Choose for me" (choose.txt) goes with them, or a preset it chose would read as set by hand.
for file in trials.txt choose.txt; do
  if [ -f "$installed/$file" ] && [ ! -L "$installed/$file" ]; then
    cp -f "$installed/$file" "$MODPATH/$file"
  fi
done
if [ -d "$installed/sessions" ] && [ ! -L "$installed/sessions" ]; then
  mkdir -p "$MODPATH/sessions"
  for file in "$installed/sessions/index" "$installed/sessions/"*.tsv; do
    if [ -f "$file" ] && [ ! -L "$file" ]; then cp -f "$file" "$MODPATH/sessions/"; fi
  done
  ui_print "- Kept your game sessions"
fi
# A game's own game mode, still to be put back after a game under the battery preset.
if [ -f "$installed/game_mode" ] && [ ! -L "$installed/game_mode" ]; then
  cp -f "$installed/game_mode" "$MODPATH/game_mode"
fi

set_perm "$MODPATH/Tessivar" 0 0 0755
set_perm "$MODPATH/tessivarctl" 0 0 0755
for script in service.sh uninstall.sh action.sh Scripts/performance.sh Scripts/balanced.sh Scripts/games.sh; do
  set_perm "$MODPATH/$script" 0 0 0755
done
